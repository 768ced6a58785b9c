#include "live.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <thread>

#include "connection.h"
#include "files.h"
#include "local.h"
#include "output.h"
#include "token.h"
#include "tool.h"
#include "transport.h"

namespace ostrel::gdrive {

namespace {

constexpr std::string_view prefix = "drive:";

std::string client_path_of(const std::string &argument)
{
    std::string path = argument.substr(prefix.size());
    return path.starts_with("/") ? path : "/" + path;
}

// A transfer's progress line on standard error, only when it is a terminal.
class Progress {
public:
    explicit Progress(uint64_t total)
        : on_(isatty(STDERR_FILENO) == 1), total_(total), start_(std::chrono::steady_clock::now())
    {
    }
    ~Progress() { finish(); }
    void show(uint64_t done)
    {
        if (!on_) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(200) && done != total_) {
            return;
        }
        last_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
        char line[160];
        int length = std::snprintf(line, sizeof line, "\r%llu bytes", static_cast<unsigned long long>(done));
        if (total_ > 0) {
            length += std::snprintf(line + length, sizeof line - static_cast<size_t>(length), " of %llu",
                                    static_cast<unsigned long long>(total_));
        }
        length += std::snprintf(line + length, sizeof line - static_cast<size_t>(length), ", %.0f bytes/s", rate);
        if (total_ > 0 && rate > 0 && done < total_) {
            std::snprintf(line + length, sizeof line - static_cast<size_t>(length), ", %.0f s left   ",
                          static_cast<double>(total_ - done) / rate);
        } else {
            std::snprintf(line + length, sizeof line - static_cast<size_t>(length), "   ");
        }
        std::fputs(line, stderr);
        shown_ = true;
    }
    void finish()
    {
        if (shown_) {
            std::fputs("\n", stderr);
            shown_ = false;
        }
    }

private:
    bool on_;
    uint64_t total_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
    bool shown_ = false;
};

std::string utc(time_t time)
{
    tm broken_down = {};
    char text[32] = "-";
    if (gmtime_r(&time, &broken_down) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &broken_down);
    }
    return text;
}

void live_ls(const LsOptions &ls, const LiveOptions &options)
{
    if (ls.json && ls.long_format) {
        throw Failure{exit_usage, "ls: choose one of -l and --json"};
    }
    if (!ls.path.empty()) {
        throw Failure{exit_usage, "ls: --path lists a folder of a tree listing; a live path names its folder itself"};
    }
    // A cache of one record: the listing is the op's alone, moved to it rather than copied.
    Session session(options, "ls", ls.root, 1);
    const std::string path = client_path_of(ls.listings.front());
    ostrel_google_drive_op_t *raw = nullptr;
    const ostrel_result_t made = ls.trashed ? ostrel_google_drive_op_list_trashed(session.drive(), path.c_str(), now_ms(), &raw)
                                            : ostrel_google_drive_op_list(session.drive(), path.c_str(), now_ms(), &raw);
    const Op op = session.start(path, made, &raw);
    session.run(op, path);
    const ostrel_google_metadata_t *folder = ostrel_google_drive_op_file(op.get());
    if (folder == nullptr || ostrel_google_drive_kind(folder, nullptr) != OSTREL_GOOGLE_DRIVE_KIND_FOLDER) {
        throw Failure{exit_refused, "ls: \"" + shown(path) + "\": not a folder"};
    }
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    for (size_t i = 0; i < ostrel_google_drive_op_entry_count(op.get()); ++i) {
        print_listed(ls, *ostrel_google_drive_op_entry(op.get(), i), ostrel_google_drive_op_entry_name(op.get(), i));
    }
    bool incomplete = false;
    const size_t left_out = ostrel_google_drive_op_left_out(op.get(), &incomplete);
    if (incomplete) {
        say("ls: \"" + shown(path) + "\": warning: Drive did not search everything (incompleteSearch): files may be "
                                     "missing");
    }
    if (left_out > 0) {
        throw Failure{exit_refused, "ls: \"" + shown(path) + "\": " + std::to_string(left_out)
                                        + (left_out == 1 ? " file was" : " files were")
                                        + " left out: Drive gave no usable id or name, or another folder's file"};
    }
}

// resolve: each path by a stat, which keeps what each element opened.
int live_resolve(const std::vector<std::string> &arguments, const std::string &root, bool json,
                 const LiveOptions &options)
{
    for (const std::string &argument : arguments) {
        if (!is_live(argument)) {
            throw Failure{exit_usage, "resolve: \"" + shown(argument) + "\": mix no listing with live paths"};
        }
    }
    Session session(options, "resolve", root);
    ostrel_google_drive_op_t *raw = nullptr;
    const Op top = session.start("/", ostrel_google_drive_op_stat(session.drive(), "/", now_ms(), &raw), &raw);
    session.run(top, client_path_of(arguments.front()));
    const std::string root_id = ostrel_google_drive_op_file(top.get())->id;
    int status = 0;
    for (const std::string &argument : arguments) {
        const std::string path = client_path_of(argument);
        const Op op = session.start(path, ostrel_google_drive_op_stat(session.drive(), path.c_str(), now_ms(), &raw), &raw);
        if (const ostrel_result_t result = session.try_run(op); result != OSTREL_SUCCESS) {
            say(refusal_line("resolve", path, result));
            status = exit_refused;
            continue;
        }
        const auto text = [](const char *value) { return std::string(value != nullptr ? value : ""); };
        std::vector<std::vector<std::string>> rows = {{"CLIENT NAME", "ID", "DRIVE NAME", "MIME TYPE"},
                                                      {"/", shown(root_id), "-", "(root)"}};
        std::vector<std::string> objects;
        for (size_t i = 0; i < ostrel_google_drive_op_step_count(op.get()); ++i) {
            const ostrel_google_metadata_t &step = *ostrel_google_drive_op_step(op.get(), i);
            const std::string client = client_name_of(step);
            objects.push_back(JsonLine()
                                  .text("clientName", client)
                                  .text("id", text(step.id))
                                  .text("driveName", text(step.name))
                                  .text("mimeType", text(step.mime_type))
                                  .object());
            rows.push_back({shown(client), shown(text(step.id)), "\"" + shown(text(step.name)) + "\"",
                            shown(text(step.mime_type))});
        }
        if (json) {
            JsonLine().text("path", path).text("root", root_id).raw("steps", json_array_of(objects)).write();
        } else {
            write_out(shown(path) + "\n");
            print_table(rows);
        }
    }
    return status;
}

int live_stat(const Live &live)
{
    // The record, and its listing facts (Drive's capabilities among them).
    Session session(live.options, "stat", live.root);
    const std::string path = client_path_of(live.path);
    ostrel_google_drive_op_t *raw = nullptr;
    const Op op = session.start(path, ostrel_google_drive_op_stat(session.drive(), path.c_str(), now_ms(), &raw), &raw);
    session.run(op, path);
    char *text = ostrel_google_drive_op_facts(op.get(), SIZE_MAX);
    const std::string facts = text != nullptr ? text : "";
    std::free(text);
    const ostrel_google_metadata_t &file = *ostrel_google_drive_op_file(op.get());
    const char *export_mime = nullptr;
    (void) ostrel_google_drive_kind(&file, &export_mime);
    const std::optional<uintmax_t> size = client_size(file);
    const std::string client = path == "/" ? "/" : client_name_of(file);
    const char *md5 = file.md5_checksum[0] != '\0' ? file.md5_checksum : nullptr;
    if (live.json) {
        JsonLine()
            .text("path", path)
            .text("clientName", client)
            .text_or_null("driveName", file.name)
            .text("type", kind_of(file, nullptr))
            .text_or_null("mimeType", file.mime_type)
            .text_or_null("exportMimeType", export_mime)
            .text_or_null("id", file.id)
            .text_or_null("size", size ? std::to_string(*size).c_str() : nullptr)
            .text_or_null("modifiedTime", file.modified_time_set ? utc(file.modified_time).c_str() : nullptr)
            .text_or_null("md5Checksum", md5)
            .boolean("trashed", file.trashed_set && file.trashed)
            .text("facts", facts)
            .write();
        return 0;
    }
    const auto or_dash = [](const char *value) { return value != nullptr ? shown(value) : std::string("-"); };
    print_table({{"path:", shown(path)},
                 {"client name:", shown(client)},
                 {"drive name:", file.name != nullptr ? "\"" + shown(file.name) + "\"" : "-"},
                 {"type:", std::string(kind_of(file, nullptr)) + (export_mime != nullptr ? " [" + std::string(export_mime) + "]" : "")},
                 {"mime type:", or_dash(file.mime_type)},
                 {"id:", or_dash(file.id)},
                 {"size:", size ? std::to_string(*size) : "-"},
                 {"modified:", file.modified_time_set ? utc(file.modified_time) : "-"},
                 {"md5:", or_dash(md5)},
                 {"facts:", facts.empty() ? "-" : shown(facts)}});
    return 0;
}

int live_mkdir(const Live &live)
{
    Session session(live.options, "mkdir", live.root);
    const std::string path = client_path_of(live.path);
    ostrel_google_drive_op_t *raw = nullptr;
    session.run(session.start(path, ostrel_google_drive_op_mkdir(session.drive(), path.c_str(), now_ms(), &raw), &raw), path);
    return 0;
}

int live_rm(const Live &live)
{
    Session session(live.options, "rm", live.root);
    for (const std::string &argument : live.paths) {
        const std::string path = client_path_of(argument);
        ostrel_google_drive_op_t *raw = nullptr;
        const ostrel_result_t made = ostrel_google_drive_op_delete(session.drive(), path.c_str(), live.permanent, now_ms(), &raw);
        session.run(session.start(path, made, &raw), path);
    }
    return 0;
}

int live_rmdir(const Live &live)
{
    Session session(live.options, "rmdir", live.root);
    const std::string path = client_path_of(live.path);
    ostrel_google_drive_op_t *raw = nullptr;
    const ostrel_result_t made = ostrel_google_drive_op_rmdir(session.drive(), path.c_str(), false, now_ms(), &raw);
    session.run(session.start(path, made, &raw), path);
    return 0;
}

int live_mv(const Live &live)
{
    if (!is_live(live.target)) {
        throw Failure{exit_usage, "mv: \"" + shown(live.target) + "\" is not a live path (drive:/PATH)"};
    }
    Session session(live.options, "mv", live.root);
    const std::string from = client_path_of(live.path);
    std::string to = client_path_of(live.target);
    // Into a folder, as mv does, when the target is one.
    ostrel_google_drive_op_t *raw = nullptr;
    const Op stat = session.start(to, ostrel_google_drive_op_stat(session.drive(), to.c_str(), now_ms(), &raw), &raw);
    const ostrel_result_t result = session.try_run(stat);
    const ostrel_google_metadata_t *target = ostrel_google_drive_op_file(stat.get());
    if (result == OSTREL_SUCCESS && target != nullptr && ostrel_google_drive_kind(target, nullptr) == OSTREL_GOOGLE_DRIVE_KIND_FOLDER) {
        to += (to.ends_with("/") ? "" : "/") + from.substr(from.find_last_of('/') + 1);
    }
    ostrel_object_free(ostrel_error_get(result));
    const ostrel_result_t made = ostrel_google_drive_op_rename(session.drive(), from.c_str(), to.c_str(), now_ms(), &raw);
    session.run(session.start(from, made, &raw), from);
    return 0;
}

int live_md5(const Live &live)
{
    Session session(live.options, "md5", live.root);
    // HASH, two blanks, NAME: as md5sum prints and reads.
    std::vector<std::pair<std::string, std::string>> wanted;  // (path, expected)
    if (!live.check.empty()) {
        if (live.paths.size() != 1) {
            throw Failure{exit_usage, "md5: --check FILE takes one drive:/FOLDER the names of FILE are in"};
        }
        std::ifstream in(live.check);
        if (!in) {
            throw Failure{exit_refused, "md5: \"" + shown(live.check) + "\": " + std::strerror(errno)};
        }
        const std::string folder = client_path_of(live.paths[0]);
        for (std::string line; std::getline(in, line);) {
            const size_t gap = line.find("  ");
            if (gap != 32) {
                throw Failure{exit_refused, "md5: \"" + shown(live.check) + "\": not an md5sum line: " + shown(line)};
            }
            wanted.emplace_back(folder + (folder.ends_with("/") ? "" : "/") + line.substr(34), line.substr(0, 32));
        }
    } else {
        for (const std::string &argument : live.paths) {
            wanted.emplace_back(client_path_of(argument), "");
        }
    }
    int failed = 0;
    for (const auto &[path, expected] : wanted) {
        ostrel_google_drive_op_t *raw = nullptr;
        const Op op = session.start(path, ostrel_google_drive_op_stat(session.drive(), path.c_str(), now_ms(), &raw), &raw);
        session.run(op, path);
        const char *sum = nullptr;
        const ostrel_result_t none = ostrel_google_drive_drive_md5(ostrel_google_drive_op_file(op.get()), 0, UINT64_MAX, &sum);
        if (none != OSTREL_SUCCESS) {
            session.fail(path, none);
        }
        const std::string md5 = sum;
        if (live.check.empty()) {
            write_out(md5 + "  drive:" + shown(path) + "\n");
        } else {
            const bool same = md5 == expected;
            failed += same ? 0 : 1;
            write_out(shown(path.substr(path.find_last_of('/') + 1)) + (same ? ": OK\n" : ": FAILED\n"));
        }
    }
    if (failed != 0) {
        say("md5: " + std::to_string(failed) + " of " + std::to_string(wanted.size()) + " computed checksums did NOT match");
    }
    return failed != 0 ? exit_refused : 0;
}

// get --streams N: the file's stripes read at once, each by its own read
// operation (its own range, retries and resume) on its own connection,
// written in place with pwrite.
void get_striped(Session &session, const std::string &path, const std::string &root,
                 const ostrel_google_metadata_t &file, unsigned streams, int fd)
{
    uint64_t offsets[64];
    uint64_t lengths[64];
    const size_t count = ostrel_google_drive_stripes(file.size, streams, 0, offsets, lengths, std::size(offsets));
    std::vector<std::thread> threads;
    std::vector<ostrel_result_t> results(count, OSTREL_SUCCESS);
    std::vector<int> write_errors(count, 0);
    const LiveOptions &options = session.options();
    // One stripe: its own connection, session and read operation.
    const auto read_stripe = [&](size_t k) {
        Transport transport(options.trace);
        transport.set_token(session.token());
        std::mt19937 random(static_cast<unsigned>(k) + 1);
        ostrel_google_drive_session_t *drive = nullptr;
        results[k] = ostrel_google_drive_session_create(session.base(), root.empty() ? nullptr : root.c_str(),
                                                        &drive);
        if (results[k] != OSTREL_SUCCESS) {
            return;
        }
        ostrel_google_drive_session_set_limits(drive, options.retries, 0, 0, 0);
        ostrel_google_drive_op_t *op = nullptr;
        results[k] = ostrel_google_drive_op_read(drive, path.c_str(), offsets[k], lengths[k], false, now_ms(), &op);
        uint64_t at = offsets[k];
        Hooks hooks;
        hooks.sink = [&](const char *data, size_t length) {
            const bool written = write_all(fd, data, length, static_cast<off_t>(at), &write_errors[k]);
            at += length;
            return written;
        };
        if (results[k] == OSTREL_SUCCESS) {
            results[k] = run_op(transport, op, random, options.max_wait, hooks);
        }
        ostrel_google_drive_op_free(op);
        ostrel_google_drive_session_free(drive);
    };
    for (size_t k = 0; k < count; ++k) {
        threads.emplace_back([&, k] {
            try {
                read_stripe(k);
            } catch (...) {
                write_errors[k] = ENOMEM;  // libcurl could not start: nothing was read
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    ostrel_result_t failed = OSTREL_SUCCESS;
    for (size_t k = 0; k < count; ++k) {
        if (write_errors[k] != 0) {
            for (ostrel_result_t r : results) {
                ostrel_object_free(ostrel_error_get(r));
            }
            throw Failure{exit_refused, "get: " + std::string(std::strerror(write_errors[k]))};
        }
        if (results[k] != OSTREL_SUCCESS && failed == OSTREL_SUCCESS) {
            failed = results[k];
        } else {
            ostrel_object_free(ostrel_error_get(results[k]));
        }
    }
    if (failed != OSTREL_SUCCESS) {
        session.fail(path, failed);
    }
}

// The bytes read have the MD5 Drive gave, or nothing is kept.
void check_md5(const std::string &path, const std::string &got, const char *drive_md5)
{
    if (drive_md5 != nullptr && got != drive_md5) {
        throw Failure{exit_refused, "get: \"" + shown(path) + "\": the bytes read have MD5 " + got + ", Drive says "
                                        + shown(drive_md5) + "; nothing was kept"};
    }
}

int live_get(const Live &live)
{
    Session session(live.options, "get", live.root);
    const std::string path = client_path_of(live.path);
    // Where the bytes go is known once Drive named the file: LOCAL, else
    // its client name (in LOCAL when that is a folder, as cp does).
    const bool in_place = written_in_place(live.local);
    std::optional<Target> target;
    const auto open_target = [&](const ostrel_google_metadata_t &file) {
        if (target) {
            return;
        }
        std::string local = live.local;
        struct stat info = {};
        if (local.empty()) {
            local = client_name_of(file);
        } else if (!in_place && ::stat(local.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            local += (local.ends_with("/") ? "" : "/") + client_name_of(file);
        }
        target.emplace(local);
    };
    ostrel_google_drive_op_t *raw = nullptr;
    if (live.streams > 1 && live.offset == 0 && !in_place) {
        const Op stat = session.start(path, ostrel_google_drive_op_stat(session.drive(), path.c_str(), now_ms(), &raw), &raw);
        session.run(stat, path);
        const ostrel_google_metadata_t &file = *ostrel_google_drive_op_file(stat.get());
        if (ostrel_google_drive_kind(&file, nullptr) == OSTREL_GOOGLE_DRIVE_KIND_FILE && file.size_set) {
            open_target(file);
            get_striped(session, path, live.root, file, live.streams, target->fd());
            check_md5(path, target->md5(), file.md5_checksum[0] != '\0' ? file.md5_checksum : nullptr);
            target->commit();
            return 0;
        }
    }
    const Op op = session.start(
        path, ostrel_google_drive_op_read(session.drive(), path.c_str(), live.offset, 0, !in_place, now_ms(), &raw), &raw);
    Md5 md5;
    uint64_t got = 0;
    std::optional<Progress> progress;
    Hooks hooks;
    hooks.before = [&](ostrel_google_drive_op_t *o) {
        if (const ostrel_google_metadata_t *file = ostrel_google_drive_op_file(o); file != nullptr) {
            open_target(*file);
            target->check();
            const std::optional<uintmax_t> size = client_size(*file);
            if (!progress) {
                progress.emplace(size ? *size - std::min<uint64_t>(*size, live.offset) : 0);
            }
        }
    };
    hooks.sink = [&](const char *data, size_t length) {
        if (!target->write(data, length)) {
            return false;
        }
        md5.update(data, length);
        got += length;
        progress->show(got);
        return true;
    };
    hooks.after = [&](ostrel_google_drive_op_t *o) {
        if (target) {
            target->check();
        }
        if (ostrel_google_drive_op_discard(o)) {  // a cut export, read again from byte 0
            target->restart();
            md5.restart();
            got = 0;
        }
    };
    session.run(op, path, hooks);
    open_target(*ostrel_google_drive_op_file(op.get()));
    size_t length = 0;
    const char *content = ostrel_google_drive_op_content(op.get(), &length);  // a stub's
    if (content != nullptr && !target->write(content, length)) {
        target->check();
    }
    if (progress) {
        progress->finish();
    }
    check_md5(path, md5.hex(), ostrel_google_drive_op_md5(op.get()));
    target->commit();
    return 0;
}

int live_put(const Live &live)
{
    const std::string path = client_path_of(live.path);
    if (live.chunk_size % OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT != 0) {
        throw Failure{exit_usage, "put: --chunk-size: " + std::to_string(live.chunk_size)
                                      + " is not a multiple of 256 KiB (262144 bytes)"};
    }
    const std::string last = path.substr(path.find_last_of('/') + 1);
    if (last.empty() || last == "." || last == "..") {
        throw Failure{exit_usage, "put: \"" + shown(path) + "\": no file name at the end"};
    }
    const int fd = ::open(live.local.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info = {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = fd < 0 ? errno : EINVAL;
        if (fd >= 0) {
            ::close(fd);
        }
        throw Failure{exit_refused, "put: \"" + shown(live.local) + "\": "
                                        + (error == EINVAL ? "not a regular file" : std::strerror(error))};
    }
    const std::unique_ptr<int, void (*)(int *)> closer(new int(fd), [](int *f) {
        ::close(*f);
        delete f;
    });
    const uint64_t total = static_cast<uint64_t>(info.st_size);
    Md5 md5;
    {
        std::vector<char> buffer(1 << 20);
        for (uint64_t at = 0; at < total;) {
            const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(at));
            if (got <= 0) {
                throw Failure{exit_refused, "put: \"" + shown(live.local) + "\": "
                                                + (got < 0 ? std::strerror(errno) : "shrank while read")};
            }
            md5.update(buffer.data(), static_cast<size_t>(got));
            at += static_cast<uint64_t>(got);
        }
    }

    Session session(live.options, "put", live.root);
    // The local modification time, kept on Drive unless --no-mtime.
    const int64_t mtime_ms = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
    ostrel_google_drive_op_t *raw = nullptr;
    const Op op = session.start(path,
                                ostrel_google_drive_op_write(session.drive(), path.c_str(), total,
                                                             live.no_mtime ? OSTREL_GOOGLE_DRIVE_NO_TIME : mtime_ms,
                                                             now_ms(), &raw),
                                &raw);
    ostrel_google_drive_op_set_md5(op.get(), md5.hex().c_str());
    if (live.chunk_size != 0) {
        ostrel_google_drive_op_set_chunk_size(op.get(), live.chunk_size);
    }
    if (!live.replace) {
        ostrel_google_drive_op_set_create_only(op.get());  // Drive would keep both
    }
    Progress progress(total);
    unsigned restarts = 0;
    Hooks hooks;
    hooks.after = [&](ostrel_google_drive_op_t *o) {
        if (ostrel_google_drive_op_restarts(o) != restarts) {
            restarts = ostrel_google_drive_op_restarts(o);
            progress.finish();
            say("put: \"" + shown(path) + "\": the upload session expired; starting again from byte 0");
        }
        progress.show(ostrel_google_drive_op_bytes(o));
    };
    const ostrel_result_t result = session.try_run(op, hooks, fd);
    if (result != OSTREL_SUCCESS) {
        const char *code = ostrel_gfs_error_get_ftp_response_error_code(ostrel_error_peek(result));
        const bool exists = code != nullptr && std::strcmp(code, "FILE_EXISTS") == 0;
        session.fail(path, result, exists ? " (--replace replaces its content; Drive would keep both otherwise)" : "");
    }
    return 0;
}

}  // namespace

bool is_live(const std::string &argument)
{
    return argument.starts_with(prefix);
}

void add_live_commands(CLI::App &app, CLI::App *ls, CLI::App *resolve, Live &live)
{
    const auto options = [&live](CLI::App *command) {
        command->add_option("--token-file", live.options.token_file,
                            "Live paths: read the access token from the first line of FILE (OSTREL_GDRIVE_TOKEN "
                            "wins)")
            ->type_name("FILE");
        command->add_option("--token-command", live.options.token_command,
                            "Live paths: run CMD for the access token (its first line), and once more after a 401, "
                            "e.g. 'gcloud auth print-access-token'")
            ->type_name("CMD");
        command->add_option("--api-url", live.options.api_url,
                            "Live paths: Drive's API base URL (default OSTREL_GDRIVE_API_URL, else "
                            "https://www.googleapis.com); http:// only to loopback hosts")
            ->type_name("URL");
        command->add_option("--max-wait", live.options.max_wait,
                            "Live paths: the longest single wait before asking Drive again, in seconds (default "
                            "300); longer Retry-After answers are cut to it")
            ->type_name("SECONDS")
            ->check(CLI::Range(0ul, 86400ul));
        command->add_option("--retries", live.options.retries,
                            "Live paths: tries of each request, the first included (default 5), waiting as Drive asks "
                            "(exponential backoff, Retry-After)")
            ->type_name("N")
            ->check(CLI::Range(1u, 100u));
    };
    options(ls);
    options(resolve);
    const auto root = [&live](CLI::App *command) {
        command->add_option("--root", live.root, "Start from this folder or shared drive id instead of My Drive")
            ->type_name("ID");
    };
    live.stat = app.add_subcommand("stat", "Live: one Drive file, with its kind, size and MD5");
    live.stat->add_option("PATH", live.path, "drive:/PATH")->required();
    live.stat->add_flag("--json", live.json,
                        "One JSON object: path, clientName, driveName, type, mimeType, exportMimeType, id, size, "
                        "modifiedTime, md5Checksum, trashed");
    root(live.stat);
    options(live.stat);
    live.get = app.add_subcommand(
        "get", "Live: download a file (or export a document) to LOCAL (default: its client name) or - for standard "
               "output; written to LOCAL.part and renamed when complete, its MD5 checked when whole");
    live.get->add_option("PATH", live.path, "drive:/PATH")->required();
    live.get->add_option("LOCAL", live.local, "The local file, or - for standard output");
    live.get->add_option("--offset", live.offset, "Start at this byte")->type_name("N");
    live.get->add_option("--streams", live.streams,
                         "Read the file in N stripes at once, each on its own connection (ordinary files read whole)")
        ->type_name("N")
        ->check(CLI::Range(1, 64));
    root(live.get);
    options(live.get);
    live.put = app.add_subcommand(
        "put", "Live: upload LOCAL as a new file (resumable: a dropped connection goes on where Drive stands), its "
               "MD5 checked");
    live.put->add_option("LOCAL", live.local, "The local file")->required();
    live.put->add_option("PATH", live.path, "drive:/PATH")->required();
    live.put->add_option("--chunk-size", live.chunk_size,
                         "Bytes a request, a multiple of 256 KiB (default 8 MiB)")
        ->type_name("BYTES");
    root(live.put);
    options(live.put);
    live.put->add_flag("--replace", live.replace,
                       "Replace the content of the file of that name, keeping its id (refused without it)");
    live.put->add_flag("--no-mtime", live.no_mtime, "Leave Drive's own modification time (default: the local file's)");
    live.mkdir = app.add_subcommand("mkdir", "Live: create a folder (refused when the name exists)");
    live.mkdir->add_option("PATH", live.path, "drive:/PATH")->required();
    root(live.mkdir);
    options(live.mkdir);
    live.rm = app.add_subcommand("rm", "Live: move files to Drive's trash, or delete them for good (never a folder: "
                                       "see rmdir)");
    live.rm->add_option("PATH", live.paths, "drive:/PATH...")->required();
    live.rm->add_flag("--permanent", live.permanent, "Delete for good, skipping the trash (the owner only)");
    root(live.rm);
    options(live.rm);
    live.rmdir = app.add_subcommand("rmdir", "Live: move an empty folder to Drive's trash");
    live.rmdir->add_option("PATH", live.path, "drive:/PATH")->required();
    root(live.rmdir);
    options(live.rmdir);
    live.mv = app.add_subcommand("mv", "Live: rename or move a file or folder (into B when B is a folder)");
    live.mv->add_option("PATH", live.path, "drive:/A")->required();
    live.mv->add_option("TARGET", live.target, "drive:/B")->required();
    root(live.mv);
    options(live.mv);
    live.md5 = app.add_subcommand("md5", "Live: Drive's MD5 of files, as md5sum prints it (no download)");
    live.md5->add_option("PATH", live.paths, "drive:/PATH... (with --check, the drive:/FOLDER the names are in)")
        ->required();
    live.md5->add_option("--check", live.check, "Compare an md5sum FILE's sums with Drive's, as md5sum -c does")
        ->type_name("FILE");
    root(live.md5);
    options(live.md5);
}

bool run_live(Live &live, const CLI::App *ls_command, const LsOptions &ls, const CLI::App *resolve_command,
              const std::string &resolve_listing, const std::vector<std::string> &resolve_paths,
              const std::string &resolve_paths_from, const std::string &resolve_root, bool resolve_json, int *status)
{
    live.options.trace = ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.stream != nullptr;
    *status = 0;
    if (*ls_command && std::any_of(ls.listings.begin(), ls.listings.end(), is_live)) {
        if (ls.listings.size() != 1) {
            throw Failure{exit_usage, "ls: give one live path, and no listing beside it"};
        }
        live_ls(ls, live.options);
        return true;
    }
    if (*resolve_command && is_live(resolve_listing)) {
        if (!resolve_paths_from.empty()) {
            throw Failure{exit_usage, "resolve: --paths-from is for a tree listing; give live paths as arguments"};
        }
        std::vector<std::string> paths = {resolve_listing};
        paths.insert(paths.end(), resolve_paths.begin(), resolve_paths.end());
        *status = live_resolve(paths, resolve_root, resolve_json, live.options);
        return true;
    }
    const struct {
        CLI::App *command;
        int (*run)(const Live &);
    } commands[] = {{live.stat, live_stat}, {live.get, live_get},     {live.put, live_put}, {live.mkdir, live_mkdir},
                    {live.rm, live_rm},     {live.rmdir, live_rmdir}, {live.mv, live_mv},   {live.md5, live_md5}};
    for (const auto &c : commands) {
        if (*c.command && (c.command == live.rm || c.command == live.md5)) {
            for (const std::string &path : live.paths) {
                if (!is_live(path)) {
                    throw Failure{exit_usage, std::string(c.command->get_name()) + ": \"" + shown(path)
                                                  + "\" is not a live path (drive:/PATH)"};
                }
            }
            *status = c.run(live);
            return true;
        }
        if (*c.command) {
            if (!is_live(live.path)) {
                throw Failure{exit_usage, std::string(c.command->get_name()) + ": \"" + shown(live.path)
                                              + "\" is not a live path (drive:/PATH)"};
            }
            *status = c.run(live);
            return true;
        }
    }
    return false;
}

}  // namespace ostrel::gdrive

