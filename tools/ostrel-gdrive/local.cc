#include "local.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

namespace {

// The part file's name, for the signal handlers to remove: a fixed buffer,
// since a handler may not allocate.
char part_to_remove[4096];

extern "C" void remove_part_and_exit(int signal_number)
{
    if (part_to_remove[0] != '\0') {
        (void) ::unlink(part_to_remove);
    }
    ::_exit(128 + signal_number);
}

}  // namespace

void Md5::restart()
{
    ostrel_google_drive_checksum_free(sum_);
    sum_ = nullptr;
    const ostrel_result_t result = ostrel_google_drive_checksum_create("MD5", &sum_);
    if (result != OSTREL_SUCCESS) {
        throw Failure{exit_refused, "MD5: " + error_text(result)};
    }
}

std::string Md5::hex() const
{
    char *text = ostrel_google_drive_checksum_text(sum_);
    if (text == nullptr) {
        throw Failure{exit_refused, "MD5: out of memory"};
    }
    std::string out = text;
    std::free(text);
    return out;
}

bool write_all(int fd, const char *data, size_t length, off_t offset, int *errorp)
{
    while (length > 0) {
        const ssize_t done = offset < 0 ? ::write(fd, data, length) : ::pwrite(fd, data, length, offset);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            *errorp = errno != 0 ? errno : EIO;
            return false;
        }
        data += done;
        length -= static_cast<size_t>(done);
        offset = offset < 0 ? offset : offset + done;
    }
    return true;
}

bool written_in_place(const std::string &local)
{
    struct stat info = {};
    return local == "-" || (::stat(local.c_str(), &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)));
}

Target::Target(const std::string &local) : local_(local)
{
    if (local == "-") {
        fd_ = STDOUT_FILENO;
        return;
    }
    if (written_in_place(local)) {
        fd_ = ::open(local.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) {
            throw Failure{exit_refused, "get: \"" + shown(local) + "\": " + std::strerror(errno)};
        }
        in_place_ = true;
        return;
    }
    // O_EXCL under mkostemp: a name that exists, a link among them, is never opened.
    std::string name = local + ".part.XXXXXX";
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        throw Failure{exit_refused, "get: \"" + shown(local + ".part") + "\": " + std::strerror(errno)};
    }
    part_ = name;
    // The mode a new file gets: 0666 less the umask, not mkostemp's 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    (void) ::fchmod(fd_, 0666 & ~mask);
    if (part_.size() < sizeof part_to_remove) {
        std::memcpy(part_to_remove, part_.c_str(), part_.size() + 1);
        struct sigaction action = {};
        action.sa_handler = remove_part_and_exit;
        sigemptyset(&action.sa_mask);
        for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
            (void) ::sigaction(signal_number, &action, nullptr);
        }
    }
}

Target::~Target()
{
    if (!part_.empty()) {
        part_to_remove[0] = '\0';
        ::close(fd_);
        ::unlink(part_.c_str());
    } else if (in_place_) {
        ::close(fd_);
    }
}

void Target::check() const
{
    if (error_ != 0) {
        throw Failure{exit_refused, "get: \"" + shown(part_.empty() ? local_ : part_) + "\": " + std::strerror(error_)};
    }
}

void Target::restart()
{
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) {
        error_ = errno;
    }
}

std::string Target::md5() const
{
    Md5 sum;
    std::vector<char> block(1 << 20);
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(fd_, block.data(), block.size(), at);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        sum.update(block.data(), static_cast<size_t>(got));
        at += got;
    }
    return sum.hex();
}

void Target::commit()
{
    if (part_.empty()) {
        return;
    }
    if (::close(fd_) != 0 || ::rename(part_.c_str(), local_.c_str()) != 0) {
        throw Failure{exit_refused, "get: \"" + shown(local_) + "\": " + std::strerror(errno)};
    }
    part_to_remove[0] = '\0';
    part_.clear();
}

}  // namespace ostrel::gdrive
