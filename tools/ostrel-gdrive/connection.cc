#include "connection.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

namespace {

bool is_ftp(ostrel_result_t result, int code)
{
    return result != OSTREL_SUCCESS && ostrel_gfs_error_get_ftp_response_code(ostrel_error_peek(result)) == code;
}

// Waits as Drive asks, capped by --max-wait; a wait of more than a few
// seconds is said, with why.
void wait_ms(unsigned long ms, unsigned long max_wait_s)
{
    const unsigned long cap = max_wait_s * 1000;
    if (ms > cap) {
        ms = cap;
    }
    if (ms >= 3000) {
        say("waiting " + std::to_string((ms + 500) / 1000) + " s before asking Drive again, as it asked (rate "
            "limit, server error or a dropped answer); --max-wait caps it");
    }
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

// The base URL is judged before any token is read or request sent.
std::string checked_base(const LiveOptions &options)
{
    std::string base = options.api_url;
    const char *source = "--api-url";
    if (base.empty()) {
        const char *variable = std::getenv("OSTREL_GDRIVE_API_URL");
        base = variable != nullptr && *variable != '\0' ? variable : OSTREL_GOOGLE_DRIVE_API_URL;
        source = "OSTREL_GDRIVE_API_URL";
    }
    if (const std::string why = refused_api_url(base); !why.empty()) {
        throw Failure{exit_usage, std::string(source) + ": \"" + shown(base) + "\": " + why};
    }
    return base;
}

}  // namespace

std::string refusal_line(const std::string &command, const std::string &path, ostrel_result_t result)
{
    ostrel_object_t *error = ostrel_error_peek(result);
    const int code = ostrel_gfs_error_get_ftp_response_code(error);
    std::string text = command + ": \"" + shown(path) + "\": ";
    if (code == 0) {
        return text + error_text(result);
    }
    const char *reason = ostrel_google_drive_error_get_info(error, "GD-Reason");
    const char *error_code = ostrel_gfs_error_get_ftp_response_error_code(error);
    const char *details = ostrel_google_drive_error_get_info(error, "GD-Details");
    text += std::to_string(code) + " " + safe(reason != nullptr ? reason : error_code != nullptr ? error_code : "");
    if (details != nullptr) {
        std::string one_line = details;
        for (char &c : one_line) {
            c = c == '\n' || c == '\r' ? ' ' : c;
        }
        text += ": " + safe(one_line);
    }
    const std::string_view why = reason != nullptr ? reason : "";
    if (why == "insufficientPermissions") {
        text += " (the token lacks a Drive scope: with gcloud, log in with 'gcloud auth login "
                "--enable-gdrive-access')";
    } else if (why == "exportSizeLimitExceeded") {
        text += " (Drive exports documents of at most 10 MB)";
    }
    ostrel_object_free(ostrel_error_get(result));
    return text;
}

// The caller's clock, for the library's session.
uint64_t now_ms()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

ostrel_result_t run_op(Transport &transport, ostrel_google_drive_op_t *op, std::mt19937 &random,
                       unsigned long max_wait_s, const Hooks &hooks, int content_fd,
                       const std::function<bool(ostrel_result_t)> &refreshed)
{
    for (;;) {
        const ostrel_google_drive_request_t *request = nullptr;
        unsigned long delay = 0;
        ostrel_result_t result = ostrel_google_drive_op_next(op, &request, &delay);
        if (result != OSTREL_SUCCESS || request == nullptr) {
            return result;
        }
        wait_ms(delay, max_wait_s);
        if (hooks.before) {
            hooks.before(op);
        }
        const auto pick = static_cast<unsigned>(random() % 1000);
        if (!ostrel_google_drive_op_streams(op)) {
            const Reply reply = transport.send(*request, content_fd);
            result = ostrel_google_drive_op_feed(op, reply.status, reply.headers.c_str(), reply.body.data(),
                                                 reply.body.size(), pick, now_ms());
        } else {
            ostrel_result_t head_result = OSTREL_SUCCESS;
            bool fed = false;
            bool deliver = false;
            const Head head = [&](int status, const std::string &headers, uint64_t *skip, uint64_t *count) {
                fed = true;
                head_result = ostrel_google_drive_op_feed_head(op, status, headers.c_str(), pick, now_ms(), &deliver,
                                                               skip, count);
                return head_result == OSTREL_SUCCESS && deliver;
            };
            const Reply reply = transport.send(*request, -1, &hooks.sink, &head);
            if (!fed) {  // no answer came
                uint64_t skip = 0;
                uint64_t count = 0;
                head_result = ostrel_google_drive_op_feed_head(op, 0, "", pick, now_ms(), &deliver, &skip, &count);
                deliver = false;
            }
            result = head_result;
            if (result == OSTREL_SUCCESS) {
                result = deliver ? ostrel_google_drive_op_feed_end(op, reply.received, reply.failure.empty())
                                 : ostrel_google_drive_op_feed_body(op, reply.body.data(), reply.body.size());
            }
        }
        if (result != OSTREL_SUCCESS && refreshed && refreshed(result)) {
            continue;  // a fresh token; the same request comes again
        }
        if (result != OSTREL_SUCCESS) {
            return result;
        }
        if (hooks.after) {
            hooks.after(op);
        }
    }
}


Session::Session(const LiveOptions &options, std::string command, const std::string &root, size_t cache_files)
    : options_(options),
      command_(std::move(command)),
      base_(checked_base(options)),
      token_(options.token_file, options.token_command),
      transport_(options.trace),
      random_(std::random_device{}())
{
    transport_.set_token(token_.value());
    const ostrel_result_t result =
        ostrel_google_drive_session_create(base_.c_str(), root.empty() ? nullptr : root.c_str(), &drive_);
    if (result != OSTREL_SUCCESS) {
        throw Failure{exit_usage, command_ + ": --root: " + refusal(result)};
    }
    ostrel_google_drive_session_set_limits(drive_, options.retries, 0, cache_files, 0);
}

Session::~Session()
{
    ostrel_google_drive_session_free(drive_);
}

Op Session::start(const std::string &path, ostrel_result_t made, ostrel_google_drive_op_t *const *opp)
{
    if (made != OSTREL_SUCCESS) {
        fail(path, made);
    }
    return Op(*opp);
}

ostrel_result_t Session::try_run(const Op &op, const Hooks &hooks, int content_fd)
{
    return run_op(transport_, op.get(), random_, options_.max_wait, hooks, content_fd,
                  [this](ostrel_result_t r) { return refreshed(r); });
}

void Session::run(const Op &op, const std::string &path, const Hooks &hooks, int content_fd)
{
    const ostrel_result_t result = try_run(op, hooks, content_fd);
    if (result != OSTREL_SUCCESS) {
        fail(path, result);
    }
}

void Session::fail(const std::string &path, ostrel_result_t result, const std::string &hint)
{
    // "No answer from Drive" says what the library saw; the transport knows why.
    const char *code = ostrel_gfs_error_get_ftp_response_error_code(ostrel_error_peek(result));
    const bool unanswered = code != nullptr && std::strcmp(code, "DRIVE_UNAVAILABLE") == 0;
    std::string line = refusal_line(command_, path, result);
    if (unanswered && !transport_.last_failure().empty()) {
        line += " (" + safe(transport_.last_failure()) + ")";
    }
    throw Failure{exit_refused, line + hint};
}

// After a 530 (Drive's 401): a token command runs once more, and the
// failed request is sent again, as long as the previous token got
// requests through (a transfer may outlive several tokens).
bool Session::refreshed(ostrel_result_t result)
{
    if (!is_ftp(result, 530) || !token_.refreshable()
        || (refreshes_ != 0 && transport_.good_answers() == good_at_refresh_)) {
        return false;
    }
    ++refreshes_;
    good_at_refresh_ = transport_.good_answers();
    ostrel_object_free(ostrel_error_get(result));
    token_.refresh();
    transport_.set_token(token_.value());
    return true;
}

}  // namespace ostrel::gdrive
