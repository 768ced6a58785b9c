#include "live.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "files.h"
#include "output.h"
#include "token.h"
#include "tool.h"
#include "transport.h"

namespace ostrel::gdrive {

namespace {

constexpr std::string_view prefix = "drive:";

struct RequestFree {
    void operator()(ostrel_google_drive_request_t *r) const { ostrel_google_drive_request_free(r); }
};
using RequestPtr = std::unique_ptr<ostrel_google_drive_request_t, RequestFree>;

std::string client_path_of(const std::string &argument)
{
    std::string path = argument.substr(prefix.size());
    return path.starts_with("/") ? path : "/" + path;
}

// A Drive refusal as one line: the command, the client path, the FTP code,
// Drive's reason (else the error code) and Drive's message, escaped.
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

bool is_ftp(ostrel_result_t result, int code)
{
    return result != OSTREL_SUCCESS && ostrel_gfs_error_get_ftp_response_code(ostrel_error_peek(result)) == code;
}

// A progress line on standard error, only when it is a terminal.
class Progress {
public:
    Progress(const char *unit, uint64_t total)
        : on_(isatty(STDERR_FILENO) == 1), unit_(unit), total_(total), start_(std::chrono::steady_clock::now())
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
        int length = std::snprintf(line, sizeof line, "\r%llu %s", static_cast<unsigned long long>(done), unit_);
        if (total_ > 0) {
            length += std::snprintf(line + length, sizeof line - static_cast<size_t>(length), " of %llu",
                                    static_cast<unsigned long long>(total_));
        }
        length += std::snprintf(line + length, sizeof line - static_cast<size_t>(length), ", %.0f %s/s", rate, unit_);
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
    const char *unit_;
    uint64_t total_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
    bool shown_ = false;
};

class Md5 {
public:
    Md5() : context_(EVP_MD_CTX_new())
    {
        if (context_ == nullptr || EVP_DigestInit_ex(context_, EVP_md5(), nullptr) != 1) {
            throw Failure{exit_refused, "MD5 is not available"};
        }
    }
    ~Md5() { EVP_MD_CTX_free(context_); }
    Md5(const Md5 &) = delete;
    Md5 &operator=(const Md5 &) = delete;
    void update(const char *data, size_t length) { EVP_DigestUpdate(context_, data, length); }
    std::string hex()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(context_, digest, &length);
        std::string out;
        char two[3];
        for (unsigned i = 0; i < length; ++i) {
            std::snprintf(two, sizeof two, "%02x", digest[i]);
            out += two;
        }
        return out;
    }

private:
    EVP_MD_CTX *context_;
};

// One live command's connection to Drive: transport, token, base URL and
// the retry policy, and the loop that runs the library's machines.
class Session {
public:
    Session(const LiveOptions &options, std::string command)
        : options_(options),
          command_(std::move(command)),
          base_(checked_base(options)),
          token_(options.token_file, options.token_command),
          transport_(options.trace),
          random_(std::random_device{}())
    {
        transport_.set_token(token_.value());
    }

    [[nodiscard]] const char *base() const { return base_.c_str(); }
    [[nodiscard]] const std::string &token() const { return token_.value(); }
    [[nodiscard]] bool trace() const { return options_.trace; }
    [[nodiscard]] unsigned attempts() const { return options_.retries; }
    [[nodiscard]] const std::string &command() const { return command_; }
    Transport &transport() { return transport_; }

    unsigned random_ms() { return static_cast<unsigned>(random_() % 1000); }

    // Waits as Drive asks, capped by --max-wait; a wait of more than a few
    // seconds is said, with why.
    static void wait(unsigned long ms, unsigned long max_wait_s = default_max_wait_s)
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
    void pause(unsigned long ms) const { wait(ms, options_.max_wait); }

    // After a 530 (Drive's 401): a token command runs once more, and the
    // failed request is sent again, as long as the previous token got
    // requests through (a transfer may outlive several tokens).
    bool refreshed(ostrel_result_t result)
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

    // Runs a machine: next gives a request, its answer is fed, until next
    // gives none. after() runs after every answer fed.
    ostrel_result_t run(const std::function<ostrel_result_t(ostrel_google_drive_request_t **, unsigned long *)> &next,
                        const std::function<ostrel_result_t(const ostrel_google_drive_answer_t *)> &feed,
                        int content_fd = -1, const std::function<void()> &after = {})
    {
        for (;;) {
            ostrel_google_drive_request_t *raw = nullptr;
            unsigned long delay_ms = 0;
            ostrel_result_t result = next(&raw, &delay_ms);
            if (result != OSTREL_SUCCESS || raw == nullptr) {
                return result;
            }
            const RequestPtr request(raw);
            pause(delay_ms);
            const Reply reply = transport_.send(*request, content_fd);
            const ostrel_google_drive_answer_t answer = reply.answer(random_ms());
            result = feed(&answer);
            if (result != OSTREL_SUCCESS && !refreshed(result)) {
                return result;
            }
            if (after) {
                after();
            }
        }
    }

    // One request outside a machine, retried as the library says.
    ostrel_result_t send_one(const std::function<ostrel_result_t(RequestPtr *)> &build, const char *operation,
                             const std::string &client_path, Reply *reply, const Sink *sink = nullptr,
                             const std::function<uint64_t()> &skip = {})
    {
        for (unsigned attempt = 1;; ++attempt) {
            RequestPtr request;
            ostrel_result_t result = build(&request);
            if (result != OSTREL_SUCCESS) {
                return result;
            }
            if (request == nullptr) {
                // Nothing left to ask for: a read at a file's end.
                *reply = Reply{};
                reply->status = 200;
                return OSTREL_SUCCESS;
            }
            *reply = transport_.send(*request, -1, sink, skip ? skip() : 0);
            if (reply->status >= 200 && reply->status < 300) {
                return OSTREL_SUCCESS;
            }
            if (reply->delivered > 0) {
                attempt = 0;  // bytes came: the tries count again from here
            }
            bool retry = false;
            result = ostrel_google_drive_answer_error(reply->status, reply->body.data(), reply->body.size(), operation,
                                                      client_path.c_str(), &retry);
            if (refreshed(result)) {
                continue;
            }
            if (!retry || attempt >= attempts()) {
                return result;
            }
            ostrel_object_free(ostrel_error_get(result));
            pause(ostrel_google_drive_retry_delay_ms(attempt == 0 ? 1 : attempt, random_ms(),
                                                     reply->has_retry_after ? reply->retry_after.c_str() : nullptr));
        }
    }

    [[noreturn]] void fail(const std::string &path, ostrel_result_t result)
    {
        // "No answer from Drive" says what the library saw; the transport knows why.
        const char *code = ostrel_gfs_error_get_ftp_response_error_code(ostrel_error_peek(result));
        const bool unanswered = code != nullptr && std::strcmp(code, "DRIVE_UNAVAILABLE") == 0;
        std::string line = refusal_line(command_, path, result);
        if (unanswered && !transport_.last_failure().empty()) {
            line += " (" + safe(transport_.last_failure()) + ")";
        }
        throw Failure{exit_refused, line};
    }

private:
    // The base URL is judged before any token is read or request sent.
    static std::string checked_base(const LiveOptions &options)
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

    LiveOptions options_;
    std::string command_;
    std::string base_;
    Token token_;
    Transport transport_;
    unsigned refreshes_ = 0;
    uint64_t good_at_refresh_ = 0;
    std::mt19937 random_;
};

struct WalkFree {
    void operator()(ostrel_google_drive_walk_t *w) const { ostrel_google_drive_walk_free(w); }
};

// A walker from the root the command names.
class Walker {
public:
    Walker(Session &session, const std::string &root) : session_(session)
    {
        ostrel_google_drive_walk_t *walk = nullptr;
        const ostrel_result_t result = ostrel_google_drive_walk_create(session.base(), root.empty() ? "root" : root.c_str(),
                                                                       session.attempts(), &walk);
        if (result != OSTREL_SUCCESS) {
            throw Failure{exit_usage, session.command() + ": --root: " + refusal(result)};
        }
        walk_.reset(walk);
    }

    // The file a client path opens (with to_parent, the folder that holds
    // its last element), owned by the walker; the error when there is none.
    ostrel_result_t walk(const std::string &path, bool to_parent, const ostrel_google_metadata_t **filep)
    {
        *filep = nullptr;
        ostrel_result_t result = ostrel_google_drive_walk_start(walk_.get(), path.c_str(), to_parent);
        if (result == OSTREL_SUCCESS) {
            ostrel_google_drive_walk_t *w = walk_.get();
            result = session_.run([w](auto request, auto delay) { return ostrel_google_drive_walk_next(w, request, delay); },
                                  [w](auto answer) { return ostrel_google_drive_walk_feed(w, answer); });
        }
        if (result == OSTREL_SUCCESS) {
            *filep = ostrel_google_drive_walk_file(walk_.get());
        }
        return result;
    }

    const ostrel_google_metadata_t &file(const std::string &path, bool to_parent = false)
    {
        const ostrel_google_metadata_t *file = nullptr;
        const ostrel_result_t result = walk(path, to_parent, &file);
        if (result != OSTREL_SUCCESS) {
            session_.fail(path, result);
        }
        return *file;
    }

    [[nodiscard]] const char *last_name() const { return ostrel_google_drive_walk_last_name(walk_.get()); }
    [[nodiscard]] size_t step_count() const { return ostrel_google_drive_walk_step_count(walk_.get()); }
    [[nodiscard]] const ostrel_google_metadata_t &step(size_t i) const { return *ostrel_google_drive_walk_step(walk_.get(), i); }

private:
    Session &session_;
    std::unique_ptr<ostrel_google_drive_walk_t, WalkFree> walk_;
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

// A live command on one file: its connection to Drive, and the record the
// client path opens.
struct Opened {
    Session session;
    std::string path;
    Walker walker;
    const ostrel_google_metadata_t &file;
    const char *export_mime = nullptr;
    ostrel_google_drive_kind_t kind;

    Opened(const LiveOptions &options, const char *command, const std::string &argument, const std::string &root)
        : session(options, command),
          path(client_path_of(argument)),
          walker(session, root),
          file(walker.file(path)),
          kind(ostrel_google_drive_kind(&file, &export_mime))
    {
    }
};

void live_ls(const LsOptions &ls, const LiveOptions &options)
{
    if (ls.json && ls.long_format) {
        throw Failure{exit_usage, "ls: choose one of -l and --json"};
    }
    if (!ls.path.empty()) {
        throw Failure{exit_usage, "ls: --path lists a folder of a tree listing; a live path names its folder itself"};
    }
    Opened opened(options, "ls", ls.listings.front(), ls.root);
    auto &[session, path, walker, folder, export_mime, kind] = opened;
    if (kind != OSTREL_GOOGLE_DRIVE_KIND_FOLDER) {
        throw Failure{exit_refused, "ls: \"" + shown(path) + "\": not a folder"};
    }
    ostrel_google_drive_listing_t *raw = nullptr;
    ostrel_result_t result =
        ostrel_google_drive_listing_create(session.base(), folder.id, ls.trashed, session.attempts(), &raw);
    if (result != OSTREL_SUCCESS) {
        session.fail(path, result);
    }
    const std::unique_ptr<ostrel_google_drive_listing_t, void (*)(ostrel_google_drive_listing_t *)> listing(
        raw, ostrel_google_drive_listing_free);
    Progress progress("files", 0);
    result = session.run([&](auto request, auto delay) { return ostrel_google_drive_listing_next(raw, request, delay); },
                         [&](auto answer) { return ostrel_google_drive_listing_feed(raw, answer); }, -1, [&] {
                             size_t pages = 0;
                             const size_t count = ostrel_google_drive_listing_count(raw, &pages);
                             if (pages > 1) {
                                 progress.show(count);
                             }
                         });
    if (result != OSTREL_SUCCESS) {
        session.fail(path, result);
    }
    progress.finish();
    ostrel_google_metadata_t *children = nullptr;
    size_t count = 0;
    const ostrel_google_drive_refusal_t *refusals = nullptr;
    size_t refusal_count = 0;
    bool incomplete = false;
    result = ostrel_google_drive_listing_take(raw, &children, &count, &refusals, &refusal_count, &incomplete);
    if (result != OSTREL_SUCCESS) {
        session.fail(path, result);
    }
    const auto release = [&] {
        for (size_t i = 0; i < count; ++i) {
            ostrel_google_metadata_destroy(&children[i]);
        }
        std::free(children);
        children = nullptr;
    };
    try {
        static char buffer[1 << 16];
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
        for (size_t i = 0; i < count; ++i) {
            print_listed(ls, children[i], client_name_of(children[i]));
        }
    } catch (...) {
        release();
        throw;
    }
    release();
    if (incomplete) {
        say("ls: \"" + shown(path) + "\": warning: Drive did not search everything (incompleteSearch): files may be "
                                     "missing");
    }
    for (size_t i = 0; i < refusal_count; ++i) {
        say("ls: \"" + shown(path) + "\": file " + (refusals[i].id != nullptr ? shown(refusals[i].id) : "without id")
            + " left out: " + safe(refusals[i].reason));
    }
    if (refusal_count > 0) {
        throw Failure{exit_refused, "ls: \"" + shown(path) + "\": " + std::to_string(refusal_count)
                                        + (refusal_count == 1 ? " file was" : " files were") + " left out"};
    }
}

// resolve: one walk a path; the walker keeps what each element opened.
int live_resolve(const std::vector<std::string> &arguments, const std::string &root, bool json,
                 const LiveOptions &options)
{
    Session session(options, "resolve");
    Walker walker(session, root);
    int status = 0;
    for (const std::string &argument : arguments) {
        if (!is_live(argument)) {
            throw Failure{exit_usage, "resolve: \"" + shown(argument) + "\": mix no listing with live paths"};
        }
        const std::string path = client_path_of(argument);
        struct Step {
            std::string client_name, id, drive_name, mime_type;
        };
        std::vector<Step> steps;
        std::string root_id;
        try {
            const ostrel_google_metadata_t *top = nullptr;
            const ostrel_result_t reached = walker.walk("/", false, &top);
            if (reached != OSTREL_SUCCESS) {
                throw Failure{exit_refused, refusal_line("resolve", path, reached)};
            }
            root_id = top->id != nullptr ? top->id : "root";
            const ostrel_google_metadata_t *file = nullptr;
            const ostrel_result_t result = walker.walk(path, false, &file);
            if (result != OSTREL_SUCCESS) {
                throw Failure{exit_refused, refusal_line("resolve", path, result)};
            }
            for (size_t i = 0; i < walker.step_count(); ++i) {
                const ostrel_google_metadata_t &step = walker.step(i);
                steps.push_back({client_name_of(step), step.id != nullptr ? step.id : "",
                                 step.name != nullptr ? step.name : "", step.mime_type != nullptr ? step.mime_type : ""});
            }
        } catch (const Failure &failure) {
            say(failure.message);
            status = exit_refused;
            continue;
        }
        if (json) {
            std::vector<std::string> objects;
            for (const Step &step : steps) {
                objects.push_back(JsonLine()
                                      .text("clientName", step.client_name)
                                      .text("id", step.id)
                                      .text("driveName", step.drive_name)
                                      .text("mimeType", step.mime_type)
                                      .object());
            }
            JsonLine().text("path", path).text("root", root_id).raw("steps", json_array_of(objects)).write();
            continue;
        }
        std::vector<std::vector<std::string>> rows = {{"CLIENT NAME", "ID", "DRIVE NAME", "MIME TYPE"},
                                                      {"/", shown(root_id), "-", "(root)"}};
        for (const Step &step : steps) {
            rows.push_back({shown(step.client_name), shown(step.id), "\"" + shown(step.drive_name) + "\"",
                            shown(step.mime_type)});
        }
        write_out(shown(path) + "\n");
        print_table(rows);
    }
    return status;
}

// The caller's clock, for the library's session.
uint64_t now_ms()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// Drives one operation of the library's session to its end over transport:
// retries, resumes and checks are the library's.
ostrel_result_t run_op(Transport &transport, ostrel_google_drive_op_t *op, const Sink &sink, std::mt19937 &random,
                       int content_fd = -1, const std::function<bool(ostrel_result_t)> &refreshed = nullptr)
{
    for (;;) {
        const ostrel_google_drive_request_t *request = nullptr;
        unsigned long delay = 0;
        ostrel_result_t result = ostrel_google_drive_op_next(op, &request, &delay);
        if (result != OSTREL_SUCCESS || request == nullptr) {
            return result;
        }
        Session::wait(delay);
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
            const Reply reply = transport.send(*request, -1, &sink, 0, &head);
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
    }
}

// The library's session for one command, on the tool's transport and token.
class DriveSession {
public:
    DriveSession(Session &session, const std::string &root) : session_(session), random_(std::random_device{}())
    {
        const ostrel_result_t result =
            ostrel_google_drive_session_create(session.base(), root.empty() ? nullptr : root.c_str(), &drive_);
        if (result != OSTREL_SUCCESS) {
            session.fail(root, result);
        }
        ostrel_google_drive_session_set_limits(drive_, session.attempts(), 0, 0, 0);
    }
    ~DriveSession() { ostrel_google_drive_session_free(drive_); }
    DriveSession(const DriveSession &) = delete;
    DriveSession &operator=(const DriveSession &) = delete;
    [[nodiscard]] ostrel_google_drive_session_t *get() const { return drive_; }

    // Runs op (taken over); the first error ends the command with its line.
    void run(ostrel_google_drive_op_t *op, const std::string &path, int content_fd = -1,
             const std::function<void(ostrel_google_drive_op_t *)> &done = nullptr)
    {
        const std::unique_ptr<ostrel_google_drive_op_t, void (*)(ostrel_google_drive_op_t *)> owned(
            op, ostrel_google_drive_op_free);
        const Sink none = [](const char *, size_t) { return true; };
        const ostrel_result_t result = run_op(session_.transport(), op, none, random_, content_fd,
                                              [this](ostrel_result_t r) { return session_.refreshed(r); });
        if (result != OSTREL_SUCCESS) {
            session_.fail(path, result);
        }
        if (done) {
            done(op);
        }
    }

private:
    Session &session_;
    std::mt19937 random_;
    ostrel_google_drive_session_t *drive_ = nullptr;
};

// The op a creating call made; "malloc" ends the command.
ostrel_google_drive_op_t *made(Session &session, const std::string &path, ostrel_result_t result,
                               ostrel_google_drive_op_t *op)
{
    if (result != OSTREL_SUCCESS) {
        session.fail(path, result);
    }
    return op;
}

int live_stat(const Live &live)
{
    // On the library's session: the record, and its listing facts (Drive's
    // capabilities among them).
    Session session(live.options, "stat");
    const std::string path = client_path_of(live.path);
    DriveSession drive(session, live.root);
    std::string facts;
    ostrel_google_metadata_t record{};
    const std::unique_ptr<ostrel_google_metadata_t, void (*)(ostrel_google_metadata_t *)> owned(
        &record, ostrel_google_metadata_destroy);
    ostrel_google_drive_op_t *op = nullptr;
    const ostrel_result_t made_op = ostrel_google_drive_op_stat(drive.get(), path.c_str(), now_ms(), &op);
    drive.run(made(session, path, made_op, op), path, -1, [&](ostrel_google_drive_op_t *done) {
        char *text = ostrel_google_drive_op_facts(done, SIZE_MAX);
        facts = text != nullptr ? text : "";
        std::free(text);
        if (ostrel_google_metadata_copy(&record, ostrel_google_drive_op_file(done)) != OSTREL_SUCCESS) {
            throw Failure{exit_refused, "stat: out of memory"};
        }
    });
    const ostrel_google_metadata_t &file = record;
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
    const auto or_dash = [](const char *text) { return text != nullptr ? shown(text) : std::string("-"); };
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
    Session session(live.options, "mkdir");
    const std::string path = client_path_of(live.path);
    Walker walker(session, live.root);
    // Drive keeps two folders of one name side by side: never make a second.
    const ostrel_google_metadata_t *existing = nullptr;
    ostrel_result_t result = walker.walk(path, false, &existing);
    if (result == OSTREL_SUCCESS) {
        throw Failure{exit_refused, "mkdir: \"" + shown(path) + "\": exists"};
    }
    if (!is_ftp(result, 550)) {
        session.fail(path, result);
    }
    ostrel_object_free(ostrel_error_get(result));
    const ostrel_google_metadata_t &parent = walker.file(path, true);
    const char *name = walker.last_name();
    if (name == nullptr) {
        throw Failure{exit_usage, "mkdir: \"" + shown(path) + "\": no folder name at the end"};
    }
    Reply reply;
    result = session.send_one(
        [&](RequestPtr *request) {
            ostrel_google_drive_request_t *raw = nullptr;
            const ostrel_result_t r = ostrel_google_drive_request_create_folder(session.base(), parent.id, name, &raw);
            request->reset(raw);
            return r;
        },
        "Creating a folder", path, &reply);
    if (result != OSTREL_SUCCESS) {
        session.fail(path, result);
    }
    return 0;
}

// Writes all of data to fd, at offset unless it is -1 (pwrite, so that
// stripes write at once); false with *errorp set when it cannot.
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

// The local file of a download: a part file of a unique name beside LOCAL,
// renamed to LOCAL when complete, so that nothing at LOCAL is touched before
// and no link planted anywhere is followed; standard output for "-", and a
// FIFO or a device written in place.
class Target {
public:
    explicit Target(const std::string &local) : local_(local)
    {
        if (local == "-") {
            fd_ = STDOUT_FILENO;
            return;
        }
        struct stat info = {};
        if (::stat(local.c_str(), &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) {
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
    ~Target()
    {
        if (!part_.empty()) {
            part_to_remove[0] = '\0';
            ::close(fd_);
            ::unlink(part_.c_str());
        } else if (in_place_) {
            ::close(fd_);
        }
    }
    Target(const Target &) = delete;
    Target &operator=(const Target &) = delete;

    bool write(const char *data, size_t length) { return write_all(fd_, data, length, -1, &error_); }
    [[nodiscard]] int error() const { return error_; }
    [[nodiscard]] const std::string &name() const { return part_.empty() ? local_ : part_; }
    [[nodiscard]] int fd() const { return fd_; }

    // The MD5 of what the part file holds, read back.
    [[nodiscard]] std::string md5() const
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

    void commit()
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
    // Striped writes go to a seekable part file only.
    [[nodiscard]] bool seekable() const { return !part_.empty(); }

private:
    std::string local_;
    std::string part_;
    int fd_ = -1;
    int error_ = 0;
    bool in_place_ = false;
};

int live_rm(const Live &live)
{
    Session session(live.options, "rm");
    DriveSession drive(session, live.root);
    for (const std::string &argument : live.paths) {
        const std::string path = client_path_of(argument);
        ostrel_google_drive_op_t *op = nullptr;
        const ostrel_result_t result = ostrel_google_drive_op_delete(drive.get(), path.c_str(), live.permanent, now_ms(), &op);
        drive.run(made(session, path, result, op), path);
    }
    return 0;
}

int live_rmdir(const Live &live)
{
    Session session(live.options, "rmdir");
    DriveSession drive(session, live.root);
    const std::string path = client_path_of(live.path);
    ostrel_google_drive_op_t *op = nullptr;
    const ostrel_result_t result = ostrel_google_drive_op_rmdir(drive.get(), path.c_str(), false, now_ms(), &op);
    drive.run(made(session, path, result, op), path);
    return 0;
}

int live_mv(const Live &live)
{
    if (!is_live(live.target)) {
        throw Failure{exit_usage, "mv: \"" + shown(live.target) + "\" is not a live path (drive:/PATH)"};
    }
    Session session(live.options, "mv");
    DriveSession drive(session, live.root);
    const std::string from = client_path_of(live.path);
    std::string to = client_path_of(live.target);
    // Into a folder, as mv does, when the target is one.
    ostrel_google_drive_op_t *op = nullptr;
    ostrel_result_t result = ostrel_google_drive_op_stat(drive.get(), to.c_str(), now_ms(), &op);
    const std::unique_ptr<ostrel_google_drive_op_t, void (*)(ostrel_google_drive_op_t *)> stat(
        made(session, to, result, op), ostrel_google_drive_op_free);
    std::mt19937 random(1);
    result = run_op(session.transport(), op, [](const char *, size_t) { return true; }, random, -1,
                    [&session](ostrel_result_t r) { return session.refreshed(r); });
    const ostrel_google_metadata_t *target = ostrel_google_drive_op_file(op);
    if (result == OSTREL_SUCCESS && target != nullptr && ostrel_google_drive_kind(target, nullptr) == OSTREL_GOOGLE_DRIVE_KIND_FOLDER) {
        to += (to.ends_with("/") ? "" : "/") + from.substr(from.find_last_of('/') + 1);
    }
    ostrel_object_free(ostrel_error_get(result));
    result = ostrel_google_drive_op_rename(drive.get(), from.c_str(), to.c_str(), now_ms(), &op);
    drive.run(made(session, from, result, op), from);
    return 0;
}

int live_md5(const Live &live)
{
    Session session(live.options, "md5");
    DriveSession drive(session, live.root);
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
        ostrel_google_drive_op_t *op = nullptr;
        const ostrel_result_t result = ostrel_google_drive_op_stat(drive.get(), path.c_str(), now_ms(), &op);
        std::string md5;
        drive.run(made(session, path, result, op), path, -1, [&](ostrel_google_drive_op_t *done) {
            const char *sum = nullptr;
            const ostrel_result_t none = ostrel_google_drive_drive_md5(ostrel_google_drive_op_file(done), 0, UINT64_MAX, &sum);
            if (none != OSTREL_SUCCESS) {
                session.fail(path, none);
            }
            md5 = sum;
        });
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
// written in place with pwrite; the MD5 is checked over the whole file.
void get_striped(Session &session, const std::string &path, const std::string &root,
                 const ostrel_google_metadata_t &file, unsigned streams, int fd)
{
    uint64_t offsets[64];
    uint64_t lengths[64];
    const size_t count = ostrel_google_drive_stripes(file.size, streams, 0, offsets, lengths, std::size(offsets));
    std::vector<std::thread> threads;
    std::vector<ostrel_result_t> results(count, OSTREL_SUCCESS);
    std::vector<int> write_errors(count, 0);
    // One stripe: its own connection, session and read operation.
    const auto read_stripe = [&](size_t k) {
        Transport transport(session.trace());
        transport.set_token(session.token());
        std::mt19937 random(static_cast<unsigned>(k) + 1);
        ostrel_google_drive_session_t *drive = nullptr;
        results[k] = ostrel_google_drive_session_create(session.base(), root.empty() ? nullptr : root.c_str(),
                                                        &drive);
        if (results[k] != OSTREL_SUCCESS) {
            return;
        }
        ostrel_google_drive_session_set_limits(drive, session.attempts(), 0, 0, 0);
        ostrel_google_drive_op_t *op = nullptr;
        results[k] = ostrel_google_drive_op_read(drive, path.c_str(), offsets[k], lengths[k], false, now_ms(), &op);
        uint64_t at = offsets[k];
        const Sink sink = [&](const char *data, size_t length) {
            const bool written = write_all(fd, data, length, static_cast<off_t>(at), &write_errors[k]);
            at += length;
            return written;
        };
        if (results[k] == OSTREL_SUCCESS) {
            results[k] = run_op(transport, op, sink, random);
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

int live_get(const Live &live)
{
    Opened opened(live.options, "get", live.path, live.root);
    auto &[session, path, walker, file, export_mime, kind] = opened;
    std::string local = live.local;
    struct stat info = {};
    if (local.empty()) {
        local = client_name_of(file);
    } else if (local != "-" && ::stat(local.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        // Into a folder, as cp does: under the client name.
        local += (local.ends_with("/") ? "" : "/") + client_name_of(file);
    }
    if (kind == OSTREL_GOOGLE_DRIVE_KIND_FOLDER || kind == OSTREL_GOOGLE_DRIVE_KIND_NO_CONTENT) {
        ostrel_google_drive_request_t *none = nullptr;
        uint64_t skip = 0;
        const ostrel_result_t result = ostrel_google_drive_request_read(session.base(), &file, live.offset, 0, &none, &skip);
        ostrel_google_drive_request_free(none);
        session.fail(path, result);
    }
    Target target(local);
    Md5 md5;
    const bool whole = live.offset == 0;
    if (live.streams > 1 && kind == OSTREL_GOOGLE_DRIVE_KIND_FILE && file.size_set && whole && target.seekable()) {
        get_striped(session, path, live.root, file, live.streams, target.fd());
        if (file.md5_checksum[0] != '\0') {
            const std::string local_md5 = target.md5();
            if (local_md5 != file.md5_checksum) {
                throw Failure{exit_refused, "get: \"" + shown(path) + "\": the bytes read have MD5 " + local_md5
                                                + ", Drive says " + shown(file.md5_checksum) + "; nothing was kept"};
            }
        }
        target.commit();
        return 0;
    }
    if (kind == OSTREL_GOOGLE_DRIVE_KIND_STUB) {
        char *content = nullptr;
        size_t length = 0;
        const ostrel_result_t result = ostrel_google_drive_stub_content(&file, &content, &length);
        if (result != OSTREL_SUCCESS) {
            session.fail(path, result);
        }
        const bool written = live.offset >= length || target.write(content + live.offset, length - live.offset);
        std::free(content);
        if (!written) {
            throw Failure{exit_refused, "get: \"" + shown(target.name()) + "\": " + std::strerror(target.error())};
        }
        target.commit();
        return 0;
    }
    uint64_t got = 0;
    Progress progress("bytes", file.size_set && kind == OSTREL_GOOGLE_DRIVE_KIND_FILE ? file.size - std::min<uint64_t>(file.size, live.offset) : 0);
    const Sink sink = [&](const char *data, size_t length) {
        if (!target.write(data, length)) {
            return false;
        }
        if (whole) {
            md5.update(data, length);
        }
        got += length;
        progress.show(got);
        return true;
    };
    Reply reply;
    // A try cut short goes on from the bytes written: a file by its range,
    // an export (which has none) by dropping what was written already. The
    // library says how many leading bytes of an answer to drop.
    uint64_t skip = 0;
    const ostrel_result_t result = session.send_one(
        [&](RequestPtr *request) {
            if (target.error() != 0) {
                throw Failure{exit_refused, "get: \"" + shown(target.name()) + "\": " + std::strerror(target.error())};
            }
            ostrel_google_drive_request_t *raw = nullptr;
            const ostrel_result_t r =
                ostrel_google_drive_request_read(session.base(), &file, live.offset + got, 0, &raw, &skip);
            request->reset(raw);
            return r;
        },
        "Reading a file", path, &reply, &sink, [&] { return skip; });
    if (target.error() != 0) {
        throw Failure{exit_refused, "get: \"" + shown(target.name()) + "\": " + std::strerror(target.error())};
    }
    if (result != OSTREL_SUCCESS) {
        session.fail(path, result);
    }
    progress.finish();
    if (whole && kind == OSTREL_GOOGLE_DRIVE_KIND_FILE && file.md5_checksum[0] != '\0') {
        const std::string local_md5 = md5.hex();
        if (local_md5 != file.md5_checksum) {
            throw Failure{exit_refused, "get: \"" + shown(path) + "\": the bytes read have MD5 " + local_md5
                                            + ", Drive says " + shown(file.md5_checksum) + "; nothing was kept"};
        }
    }
    target.commit();
    return 0;
}

int live_put(const Live &live)
{
    const std::string path = client_path_of(live.path);
    if (live.chunk_size % OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT != 0) {
        throw Failure{exit_usage, "put: --chunk-size: " + std::to_string(live.chunk_size)
                                      + " is not a multiple of 256 KiB (262144 bytes)"};
    }
    // The name is judged before anything is sent: the library refuses an
    // export suffix in a name to be written.
    const std::string last = path.substr(path.find_last_of('/') + 1);
    if (last.empty() || last == "." || last == "..") {
        throw Failure{exit_usage, "put: \"" + shown(path) + "\": no file name at the end"};
    }
    {
        ostrel_google_drive_upload_t *trial = nullptr;
        const ostrel_result_t result =
            ostrel_google_drive_upload_create(nullptr, "root", last.c_str(), 0, live.chunk_size, 1, &trial);
        ostrel_google_drive_upload_free(trial);
        if (result != OSTREL_SUCCESS) {
            throw Failure{exit_refused, refusal_line("put", path, result)};
        }
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
    const std::string local_md5 = md5.hex();

    Session session(live.options, "put");
    // The local modification time, kept on Drive unless --no-mtime.
    const int64_t mtime_ms = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
    if (live.replace) {
        // The library's write: the content of the one plain file of that name replaced, its id kept.
        DriveSession drive(session, live.root);
        ostrel_google_drive_op_t *op = nullptr;
        const ostrel_result_t made_op = ostrel_google_drive_op_write(
            drive.get(), path.c_str(), total, live.no_mtime ? OSTREL_GOOGLE_DRIVE_NO_TIME : mtime_ms, now_ms(), &op);
        if (made_op == OSTREL_SUCCESS) {
            ostrel_google_drive_op_set_md5(op, local_md5.c_str());
        }
        drive.run(made(session, path, made_op, op), path, fd);
        return 0;
    }
    Walker walker(session, live.root);
    const ostrel_google_metadata_t *existing = nullptr;
    ostrel_result_t result = walker.walk(path, false, &existing);
    if (result == OSTREL_SUCCESS) {
        throw Failure{exit_refused, "put: \"" + shown(path)
                                        + "\": exists; --replace replaces its content (Drive would keep both otherwise)"};
    }
    if (!is_ftp(result, 550)) {
        session.fail(path, result);
    }
    ostrel_object_free(ostrel_error_get(result));
    const ostrel_google_metadata_t &parent = walker.file(path, true);
    ostrel_google_drive_upload_t *raw = nullptr;
    result = ostrel_google_drive_upload_create(session.base(), parent.id, walker.last_name(), total, live.chunk_size,
                                               session.attempts(), &raw);
    if (result != OSTREL_SUCCESS) {
        session.fail(path, result);
    }
    const std::unique_ptr<ostrel_google_drive_upload_t, void (*)(ostrel_google_drive_upload_t *)> upload(
        raw, ostrel_google_drive_upload_free);
    Progress progress("bytes", total);
    unsigned restarts = 0;
    result = session.run([&](auto request, auto delay) { return ostrel_google_drive_upload_next(raw, request, delay); },
                         [&](auto answer) { return ostrel_google_drive_upload_feed(raw, answer); }, fd, [&] {
                             if (ostrel_google_drive_upload_restarts(raw) != restarts) {
                                 restarts = ostrel_google_drive_upload_restarts(raw);
                                 progress.finish();
                                 say("put: \"" + shown(path)
                                     + "\": the upload session expired; starting again from byte 0");
                             }
                             progress.show(ostrel_google_drive_upload_stored(raw));
                         });
    if (result != OSTREL_SUCCESS) {
        session.fail(path, result);
    }
    progress.finish();
    const ostrel_google_metadata_t *stored = ostrel_google_drive_upload_file(raw);
    if (stored == nullptr || stored->md5_checksum[0] == '\0') {
        throw Failure{exit_refused, "put: \"" + shown(path) + "\": Drive gave no MD5 of the stored file to check"};
    }
    if (local_md5 != stored->md5_checksum) {
        throw Failure{exit_refused, "put: \"" + shown(path) + "\": Drive stored bytes with MD5 "
                                        + shown(stored->md5_checksum) + ", the local file has " + local_md5};
    }
    if (!live.no_mtime) {
        DriveSession drive(session, live.root);
        ostrel_google_drive_op_t *op = nullptr;
        const ostrel_result_t made_op = ostrel_google_drive_op_set_time(drive.get(), path.c_str(), mtime_ms, now_ms(), &op);
        drive.run(made(session, path, made_op, op), path);
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
