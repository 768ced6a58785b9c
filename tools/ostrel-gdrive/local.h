// The local side of the live commands: a download's target, which loses
// nothing that was there, and MD5s of local bytes.
#ifndef OSTREL_GDRIVE_LOCAL_H
#define OSTREL_GDRIVE_LOCAL_H

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "ostrel_google_drive_common.h"

namespace ostrel::gdrive {

// An MD5 of local bytes, by the library's checksum.
class Md5 {
public:
    Md5() { restart(); }
    ~Md5() { ostrel_google_drive_checksum_free(sum_); }
    Md5(const Md5 &) = delete;
    Md5 &operator=(const Md5 &) = delete;
    void restart();
    void update(const char *data, size_t length) { ostrel_google_drive_checksum_update(sum_, data, length); }
    [[nodiscard]] std::string hex() const;

private:
    ostrel_google_drive_checksum_t *sum_ = nullptr;
};

// Writes all of data to fd, at offset unless it is -1 (pwrite, so that
// stripes write at once); false with *errorp set when it cannot.
bool write_all(int fd, const char *data, size_t length, off_t offset, int *errorp);

// Whether LOCAL is written in place: standard output ("-"), a FIFO or a device.
[[nodiscard]] bool written_in_place(const std::string &local);

// The local file of a download: a part file of a unique name beside LOCAL,
// renamed to LOCAL when complete, so that nothing at LOCAL is touched before
// and no link planted anywhere is followed; standard output for "-", and a
// FIFO or a device written in place. SIGINT, SIGTERM and SIGHUP remove the
// part file and exit 128 + the signal.
class Target {
public:
    explicit Target(const std::string &local);
    ~Target();
    Target(const Target &) = delete;
    Target &operator=(const Target &) = delete;

    bool write(const char *data, size_t length) { return write_all(fd_, data, length, -1, &error_); }
    [[nodiscard]] int fd() const { return fd_; }
    // Striped writes, and a read begun again, go to a part file only.
    [[nodiscard]] bool seekable() const { return !part_.empty(); }
    // A local failure ends the command.
    void check() const;
    // Drops what was written: the read begins again from byte 0.
    void restart();
    // The MD5 of what the part file holds, read back.
    [[nodiscard]] std::string md5() const;
    // The part file renamed to LOCAL.
    void commit();

private:
    std::string local_;
    std::string part_;
    int fd_ = -1;
    int error_ = 0;
    bool in_place_ = false;
};

}  // namespace ostrel::gdrive

#endif
