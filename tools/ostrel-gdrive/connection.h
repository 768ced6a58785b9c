// A live command's connection to Drive: the library's session on the tool's
// transport and token, and the loop that drives its operations. Retries,
// resumes and every check of an answer are the library's.
#ifndef OSTREL_GDRIVE_CONNECTION_H
#define OSTREL_GDRIVE_CONNECTION_H

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "live.h"
#include "token.h"
#include "transport.h"

namespace ostrel::gdrive {

// A Drive refusal as one line: the command, the client path, the FTP code,
// Drive's reason (else the error code) and Drive's message, escaped; takes
// the error.
[[nodiscard]] std::string refusal_line(const std::string &command, const std::string &path, ostrel_result_t result);

// The caller's clock, for the library's session.
[[nodiscard]] uint64_t now_ms();

// What a command does around its operation's requests.
struct Hooks {
    Sink sink = [](const char *, size_t) { return true; };   // a streamed body's bytes
    std::function<void(ostrel_google_drive_op_t *)> before;  // before each request is sent
    std::function<void(ostrel_google_drive_op_t *)> after;   // after each answer is fed
};

// Drives one operation to its end over transport, waiting as it asks (at
// most max_wait_s a wait). refreshed(result) says whether a fresh token came
// after a 530, for the same request again.
[[nodiscard]] ostrel_result_t run_op(Transport &transport, ostrel_google_drive_op_t *op, std::mt19937 &random,
                                     unsigned long max_wait_s, const Hooks &hooks, int content_fd = -1,
                                     const std::function<bool(ostrel_result_t)> &refreshed = nullptr);

struct OpFree {
    void operator()(ostrel_google_drive_op_t *op) const { ostrel_google_drive_op_free(op); }
};
using Op = std::unique_ptr<ostrel_google_drive_op_t, OpFree>;

class Session {
public:
    // The base URL is judged, then the token read; root is --root's id.
    // cache_files: records the session keeps (0: the library's default).
    Session(const LiveOptions &options, std::string command, const std::string &root, size_t cache_files = 0);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    [[nodiscard]] ostrel_google_drive_session_t *drive() const { return drive_; }
    [[nodiscard]] const LiveOptions &options() const { return options_; }
    [[nodiscard]] const char *base() const { return base_.c_str(); }
    [[nodiscard]] const std::string &token() const { return token_.value(); }

    // The operation a creating call made in *opp (read after the call: an
    // argument's order of evaluation is the compiler's); only a want of
    // memory fails there.
    Op start(const std::string &path, ostrel_result_t made, ostrel_google_drive_op_t *const *opp);
    // Runs op to its end: its outcome, the error left to the caller.
    [[nodiscard]] ostrel_result_t try_run(const Op &op, const Hooks &hooks = {}, int content_fd = -1);
    // Runs op to its end; an error ends the command with its line.
    void run(const Op &op, const std::string &path, const Hooks &hooks = {}, int content_fd = -1);
    // Ends the command with result's line (and hint after it).
    [[noreturn]] void fail(const std::string &path, ostrel_result_t result, const std::string &hint = "");

private:
    bool refreshed(ostrel_result_t result);

    LiveOptions options_;
    std::string command_;
    std::string base_;
    Token token_;
    Transport transport_;
    std::mt19937 random_;
    ostrel_google_drive_session_t *drive_ = nullptr;
    unsigned refreshes_ = 0;
    uint64_t good_at_refresh_ = 0;
};

}  // namespace ostrel::gdrive

#endif
