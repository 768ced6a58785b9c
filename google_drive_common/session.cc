// The Drive session: each plug-in command is an operation written as a
// coroutine that awaits Drive's answers, so every command is the same kind
// of machine and its checks read in order. The caller's loop resumes it
// with each answer; nothing here sends, sleeps or reads a clock.
#include <cerrno>
#include <cinttypes>
#include <coroutine>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string_view>

#include <jansson.h>

#include "api.h"
#include "drive_answer.h"
#include "drive_request.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "grammar.h"
#include "lookup.h"
#include "memory.h"
#include "printable.h"
#include "stop.h"
#include "utf8.h"

namespace {

using namespace ostrel::gdc;
using Request = ostrel_google_drive_request_t;
using Metadata = ostrel_google_metadata_t;
using Op = ostrel_google_drive_op_t;
using Session = ostrel_google_drive_session_t;

constexpr std::string_view folder_type = "application/vnd.google-apps.folder";
constexpr uint64_t min_read_progress = 65536;
constexpr size_t id_batch = 10;
constexpr size_t max_page_body = 32u << 20;
constexpr int rebuild_status = -2;  // not an answer: the pending chunk is built again

// A malloc'ed array of plain C records; the owner destroys what they hold.
template <class T>
class Vec {
public:
    Vec() = default;
    Vec(const Vec &) = delete;
    Vec &operator=(const Vec &) = delete;
    ~Vec() { std::free(data_); }
    void swap(Vec &other) noexcept
    {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }
    [[nodiscard]] bool push(const T &item) noexcept
    {
        if (size_ == capacity_) {
            const size_t grown = capacity_ == 0 ? 8 : capacity_ * 2;
            auto *block = static_cast<T *>(mem_realloc(data_, grown * sizeof(T)));
            if (block == nullptr) {
                return false;
            }
            data_ = block;
            capacity_ = grown;
        }
        data_[size_++] = item;
        return true;
    }
    void erase(size_t index) noexcept
    {
        std::memmove(static_cast<void *>(data_ + index), data_ + index + 1, (size_ - index - 1) * sizeof(T));
        --size_;
    }
    void clear() noexcept { size_ = 0; }
    [[nodiscard]] T *data() const noexcept { return data_; }
    [[nodiscard]] size_t size() const noexcept { return size_; }
    T &operator[](size_t i) const noexcept { return data_[i]; }
    // The array, handed out; this one is empty after.
    [[nodiscard]] T *release() noexcept
    {
        T *out = data_;
        data_ = nullptr;
        size_ = capacity_ = 0;
        return out;
    }

private:
    T *data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Records owned together.
class Records {
public:
    Records() = default;
    Records(const Records &) = delete;
    Records &operator=(const Records &) = delete;
    ~Records() { clear(); }
    void clear() noexcept
    {
        for (size_t i = 0; i < items.size(); ++i) {
            ostrel_google_metadata_destroy(&items[i]);
        }
        items.clear();
        extras.clear();
    }
    // Takes record over (it is emptied), or leaves it to the caller.
    [[nodiscard]] bool take(Metadata *record, const Extra &extra) noexcept
    {
        if (!extras.push(extra)) {
            return false;
        }
        if (!items.push(*record)) {
            extras.erase(extras.size() - 1);
            return false;
        }
        *record = Metadata{};
        return true;
    }
    [[nodiscard]] bool copy(const Metadata &record, const Extra &extra) noexcept
    {
        Metadata copy{};
        if (ostrel_google_metadata_copy(&copy, &record) != OSTREL_SUCCESS) {
            ostrel_google_metadata_destroy(&copy);
            return false;
        }
        if (!take(&copy, extra)) {
            ostrel_google_metadata_destroy(&copy);
            return false;
        }
        return true;
    }
    Vec<Metadata> items;
    Vec<Extra> extras;  // beside each record: what facts need of its resource
};

// A result handle owned here: freed unless handed on.
class Failure {
public:
    Failure() = default;
    explicit Failure(ostrel_result_t result) noexcept : result_(result) {}
    Failure(const Failure &) = delete;
    Failure &operator=(const Failure &) = delete;
    ~Failure() { reset(); }
    void reset(ostrel_result_t result = OSTREL_SUCCESS) noexcept
    {
        if (result_ != OSTREL_SUCCESS) {
            ostrel_object_free(ostrel_error_get(result_));
        }
        result_ = result;
    }
    [[nodiscard]] ostrel_result_t take() noexcept
    {
        const ostrel_result_t out = result_;
        result_ = OSTREL_SUCCESS;
        return out;
    }
    [[nodiscard]] bool failed() const noexcept { return result_ != OSTREL_SUCCESS; }
    [[nodiscard]] ostrel_result_t peek() const noexcept { return result_; }

private:
    ostrel_result_t result_ = OSTREL_SUCCESS;
};

// An operation's coroutine, or one of its steps; awaiting it runs it.
class Task {
public:
    struct promise_type {
        ostrel_result_t result = OSTREL_SUCCESS;
        std::coroutine_handle<> continuation;

        static void *operator new(size_t size) noexcept { return mem_malloc(size); }
        static void operator delete(void *block, size_t) noexcept { std::free(block); }
        static Task get_return_object_on_allocation_failure() noexcept { return Task(); }
        Task get_return_object() noexcept
        {
            return Task(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        auto final_suspend() noexcept
        {
            struct Final {
                [[nodiscard]] bool await_ready() const noexcept { return false; }
                std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> done) noexcept
                {
                    const std::coroutine_handle<> next = done.promise().continuation;
                    return next ? next : std::noop_coroutine();
                }
                void await_resume() const noexcept {}
            };
            return Final{};
        }
        void return_value(ostrel_result_t value) noexcept { result = value; }
        void unhandled_exception() noexcept { std::abort(); }  // nothing here throws
    };

    Task() = default;
    explicit Task(std::coroutine_handle<promise_type> handle) noexcept : handle_(handle) {}
    Task(Task &&other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Task &operator=(Task &&other) noexcept
    {
        std::swap(handle_, other.handle_);
        return *this;
    }
    Task(const Task &) = delete;
    Task &operator=(const Task &) = delete;
    ~Task()
    {
        if (handle_) {
            handle_.destroy();
        }
    }

    [[nodiscard]] bool await_ready() const noexcept { return !handle_; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> caller) noexcept
    {
        handle_.promise().continuation = caller;
        return handle_;
    }
    [[nodiscard]] ostrel_result_t await_resume() const noexcept
    {
        return handle_ ? handle_.promise().result : system_error("malloc");
    }

    [[nodiscard]] std::coroutine_handle<promise_type> handle() const noexcept { return handle_; }

private:
    std::coroutine_handle<promise_type> handle_;
};

// A folder listed whole, with when it was.
struct Folder {
    char *id;
    Metadata *children;
    Extra *extras;
    size_t count;
    uint64_t fetched_ms;
    uint64_t used;
};

// The statuses one request takes.
struct Expect {
    int statuses[4];
    [[nodiscard]] bool takes(int status) const noexcept
    {
        for (const int s : statuses) {
            if (s != 0 && s == status) {
                return true;
            }
        }
        return false;
    }
};

[[nodiscard]] bool is_folder(const Metadata &record) noexcept
{
    return record.mime_type != nullptr && record.mime_type == folder_type;
}

[[nodiscard]] bool has_parent(const Metadata &record, const char *parent_id) noexcept
{
    for (size_t i = 0; i < record.parent_count; ++i) {
        if (std::strcmp(record.parents[i], parent_id) == 0) {
            return true;
        }
    }
    return false;
}

// scheme://host[:port] of an absolute URL, lower-cased scheme and host, the
// default port spelt out; empty when it is none.
[[nodiscard]] bool origin_of(std::string_view url, char (&out)[300]) noexcept
{
    size_t scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos) {
        return false;
    }
    const size_t host_start = scheme_end + 3;
    size_t host_end = url.find_first_of("/?#", host_start);
    if (host_end == std::string_view::npos) {
        host_end = url.size();
    }
    std::string_view authority = url.substr(host_start, host_end - host_start);
    if (authority.empty() || authority.find('@') != std::string_view::npos || authority.size() > 250) {
        return false;
    }
    size_t n = 0;
    for (size_t i = 0; i < scheme_end && n < 16; ++i) {
        const char c = url[i];
        out[n++] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    const std::string_view scheme(out, n);
    if (scheme != "http" && scheme != "https") {
        return false;
    }
    out[n++] = ':';
    out[n++] = '/';
    out[n++] = '/';
    const bool has_port = authority.back() != ']' && authority.rfind(':') != std::string_view::npos;
    for (const char c : authority) {
        out[n++] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    if (!has_port) {
        const char *const port = scheme == "https" ? ":443" : ":80";
        for (const char *p = port; *p != '\0'; ++p) {
            out[n++] = *p;
        }
    }
    out[n] = '\0';
    return true;
}

// The value of header name in a block of "Name: value" lines, or empty.
[[nodiscard]] bool header_value(const char *headers, std::string_view name, std::string_view *valuep) noexcept
{
    if (headers == nullptr) {
        return false;
    }
    std::string_view rest = headers;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const size_t colon = line.find(':');
        if (colon != name.size()) {
            continue;
        }
        bool same = true;
        for (size_t i = 0; i < colon && same; ++i) {
            const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
            same = lower(line[i]) == lower(name[i]);
        }
        if (same) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                value.remove_prefix(1);
            }
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
                value.remove_suffix(1);
            }
            *valuep = value;
            return true;
        }
    }
    return false;
}

// Decimal digits that fit in 64 bits.
[[nodiscard]] bool read_number(std::string_view text, uint64_t *valuep) noexcept
{
    if (text.empty() || text.size() > 20) {
        return false;
    }
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || value > (UINT64_MAX - 9) / 10) {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    *valuep = value;
    return true;
}

// Milliseconds since the epoch as whole seconds (rounded down) and the rest.
struct Instant {
    int64_t seconds;
    int milliseconds;
};

[[nodiscard]] Instant instant_of(int64_t milliseconds) noexcept
{
    const int64_t seconds = milliseconds >= 0 ? milliseconds / 1000 : -((-milliseconds + 999) / 1000);
    return {seconds, static_cast<int>(milliseconds - seconds * 1000)};
}

// Drive's text of a time: "YYYY-MM-DDThh:mm:ss.sssZ"; false outside the
// years 0000 to 9999.
[[nodiscard]] bool drive_time(int64_t milliseconds, char (&out)[32]) noexcept
{
    const auto [seconds, rest] = instant_of(milliseconds);
    const auto when = static_cast<time_t>(seconds);
    tm parts{};
    if (gmtime_r(&when, &parts) == nullptr || parts.tm_year + 1900 < 0 || parts.tm_year + 1900 > 9999) {
        return false;
    }
    const size_t n = std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(out + n, sizeof out - n, ".%03dZ", rest);
    return n != 0;
}

}  // namespace

struct ostrel_google_drive_session_s {
    Owned<char> base_url;
    char origin[300] = {};
    Owned<char> root_alias;
    unsigned attempts = OSTREL_GOOGLE_DRIVE_RETRY_ATTEMPTS;
    uint64_t cache_age_ms = OSTREL_GOOGLE_DRIVE_CACHE_AGE_MS;
    size_t cache_files = OSTREL_GOOGLE_DRIVE_CACHE_FILES;
    size_t page_limit = OSTREL_GOOGLE_DRIVE_PAGE_LIMIT;
    Metadata root{};
    Extra root_extra;
    bool root_known = false;
    Vec<Folder> folders;
    size_t cached_files = 0;
    uint64_t uses = 0;
    Vec<char *> ids;  // generated, not yet used
    uint64_t requests = 0;

    ~ostrel_google_drive_session_s()
    {
        forget();
        ostrel_google_metadata_destroy(&root);
        for (size_t i = 0; i < ids.size(); ++i) {
            std::free(ids[i]);
        }
    }

    void drop(size_t index) noexcept
    {
        Folder &folder = folders[index];
        for (size_t k = 0; k < folder.count; ++k) {
            ostrel_google_metadata_destroy(&folder.children[k]);
        }
        std::free(folder.children);
        std::free(folder.extras);
        std::free(folder.id);
        cached_files -= folder.count;
        folders.erase(index);
    }

    void forget() noexcept
    {
        while (folders.size() != 0) {
            drop(folders.size() - 1);
        }
    }

    [[nodiscard]] Folder *find(const char *folder_id) noexcept
    {
        for (size_t i = 0; i < folders.size(); ++i) {
            if (std::strcmp(folders[i].id, folder_id) == 0) {
                return &folders[i];
            }
        }
        return nullptr;
    }

    // The folder's listing while it is believed.
    [[nodiscard]] Folder *fresh(const char *folder_id, uint64_t now_ms) noexcept
    {
        Folder *folder = find(folder_id);
        if (folder == nullptr) {
            return nullptr;
        }
        if (cache_age_ms != UINT64_MAX && (now_ms < folder->fetched_ms || now_ms - folder->fetched_ms > cache_age_ms)) {
            drop(static_cast<size_t>(folder - folders.data()));
            return nullptr;
        }
        folder->used = ++uses;
        return folder;
    }

    // Keeps records (taken over when kept) as the folder's listing; a folder
    // larger than the cache is not kept.
    void keep(const char *folder_id, Records *records, uint64_t now_ms) noexcept
    {
        if (Folder *old = find(folder_id)) {
            drop(static_cast<size_t>(old - folders.data()));
        }
        const size_t count = records->items.size();
        if (count > cache_files) {
            return;
        }
        while (folders.size() != 0 && (cached_files + count > cache_files
                                       || folders.size() >= OSTREL_GOOGLE_DRIVE_CACHE_FOLDERS)) {
            size_t oldest = 0;
            for (size_t i = 1; i < folders.size(); ++i) {
                oldest = folders[i].used < folders[oldest].used ? i : oldest;
            }
            drop(oldest);
        }
        char *id = mem_strdup(folder_id);
        Folder folder = {id, records->items.data(), records->extras.data(), count, now_ms, ++uses};
        if (id == nullptr || !folders.push(folder)) {
            std::free(id);
            return;
        }
        (void) records->items.release();
        (void) records->extras.release();
        cached_files += count;
    }

    // The session's own writes, seen at once by its next commands.
    void cache_remove(const char *folder_id, const char *file_id) noexcept
    {
        Folder *folder = folder_id != nullptr ? find(folder_id) : nullptr;
        if (folder == nullptr) {
            return;
        }
        for (size_t k = 0; k < folder->count; ++k) {
            if (folder->children[k].id != nullptr && std::strcmp(folder->children[k].id, file_id) == 0) {
                ostrel_google_metadata_destroy(&folder->children[k]);
                std::memmove(static_cast<void *>(folder->children + k), folder->children + k + 1,
                             (folder->count - k - 1) * sizeof(Metadata));
                std::memmove(folder->extras + k, folder->extras + k + 1, (folder->count - k - 1) * sizeof(Extra));
                --folder->count;
                --cached_files;
                return;
            }
        }
    }

    void cache_add(const char *folder_id, const Metadata &record, const Extra &extra) noexcept
    {
        Folder *folder = find(folder_id);
        if (folder == nullptr) {
            return;
        }
        cache_remove(folder_id, record.id);
        Metadata copy{};
        auto *grown = static_cast<Metadata *>(mem_realloc(folder->children, (folder->count + 1) * sizeof(Metadata)));
        if (grown != nullptr) {
            folder->children = grown;
        }
        auto *grown_extras = static_cast<Extra *>(mem_realloc(folder->extras, (folder->count + 1) * sizeof(Extra)));
        if (grown_extras != nullptr) {
            folder->extras = grown_extras;
        }
        if (grown == nullptr || grown_extras == nullptr
            || ostrel_google_metadata_copy(&copy, &record) != OSTREL_SUCCESS) {
            ostrel_google_metadata_destroy(&copy);
            drop(static_cast<size_t>(folder - folders.data()));  // better listed again than wrong
            return;
        }
        folder->extras[folder->count] = extra;
        folder->children[folder->count++] = copy;
        ++cached_files;
    }
};

namespace {

// What a path resolved to.
struct Resolved {
    Metadata file{};        // the file, or with to_parent the folder that holds the last element
    Extra file_extra;
    Extra existing_extra;
    Owned<char> parent_id;  // the folder the file was found in; NULL for the root
    Owned<char> last;            // with to_parent: the last element's client name; NULL for the root
    Metadata existing{};         // with to_parent: the file the last element names
    bool exists = false;
    ~Resolved()
    {
        ostrel_google_metadata_destroy(&file);
        ostrel_google_metadata_destroy(&existing);
    }
};

struct BodyEnd {
    Op *op;
    [[nodiscard]] bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) noexcept;
    void await_resume() const noexcept {}
};

struct Ask {
    Op *op;
    [[nodiscard]] bool await_ready() const noexcept;
    void await_suspend(std::coroutine_handle<> handle) noexcept;
    [[nodiscard]] ostrel_result_t await_resume() const noexcept;
};

}  // namespace

struct ostrel_google_drive_op_s {
    Session *session = nullptr;
    Owned<char> path;
    Owned<char> other_path;
    const char *operation = "";
    uint64_t now_ms = 0;
    Task task;
    std::coroutine_handle<> waiting;  // the step that waits for an answer
    enum class Wait { none, answer, body } wait = Wait::none;

    // The request in flight.
    Owned<Request> request;
    Expect expect{};
    bool streams = false;
    bool self_retry = false;  // the step handles retryable answers itself
    unsigned failures = 0;
    unsigned long delay_ms = 0;
    uint64_t requests = 0;
    uint64_t budget = 0;

    // The answer, for the step that waits.
    int status = 0;
    Owned<char> headers;
    GrowingBlock body;
    size_t body_length = 0;
    Failure answer_error;
    bool retryable = false;
    unsigned random_ms = 0;
    bool head_only = false;  // a streamed error answer waits for its body

    // A streamed body.
    bool deliver = false;
    uint64_t skip = 0;
    uint64_t count = 0;
    uint64_t received = 0;
    bool complete = false;
    bool discard = false;
    Owned<char> content;
    size_t content_length = 0;
    const char *content_view = nullptr;

    // Results.
    bool ended = false;
    bool told = false;
    Failure outcome;
    Metadata file{};
    Extra file_extra;
    Records entries;
    Vec<char *> names;
    Records steps;          // what each element of the path opened
    size_t left_out = 0;    // records of a listing's pages set aside
    bool incomplete = false;
    unsigned restarts = 0;
    uint64_t bytes = 0;
    char md5[33] = {};
    char given_md5[33] = {};

    // The operation's own inputs.
    uint64_t offset = 0;
    uint64_t length = 0;
    bool flag = false;
    int64_t modified_ms = OSTREL_GOOGLE_DRIVE_NO_TIME;
    bool writing = false;
    bool create_only = false;
    uint64_t chunk_size = OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_SIZE;

    ~ostrel_google_drive_op_s()
    {
        task = Task();
        ostrel_google_metadata_destroy(&file);
        for (size_t i = 0; i < names.size(); ++i) {
            std::free(names[i]);
        }
    }

    // Every error of an operation names its whole client path.
    [[nodiscard]] ostrel_result_t on_path(ostrel_result_t result) const noexcept
    {
        if (result == OSTREL_SUCCESS || path == nullptr) {
            return result;
        }
        ostrel_google_drive_error_info_entry_t entries_[] = {
            {const_cast<char *>("GD-Path"), path.get()},
            {const_cast<char *>("GD-Operation"), const_cast<char *>(operation)},
        };
        const ostrel_google_drive_error_info_t info = {2, entries_};
        ostrel_google_drive_error_add_info(ostrel_error_peek(result), &info);
        return result;
    }

    // An answer Drive should not have given.
    [[nodiscard]] ostrel_result_t odd(const char *details, int code = 451,
                                      const char *error_code = "DRIVE_ERROR") const noexcept
    {
        return drive_ftp_error(code, error_code, path.get(),
                               {{"GD-Operation", operation}, {"GD-Path", path.get()}, {"GD-Details", details}});
    }

    // Sets the request the step awaits with co_await Ask{this}.
    [[nodiscard]] ostrel_result_t ask(ostrel_result_t built, Request *made, Expect takes, bool stream = false,
                                      bool own_retries = false) noexcept
    {
        request.reset(made);
        if (built != OSTREL_SUCCESS) {
            return built;
        }
        expect = takes;
        streams = stream;
        self_retry = own_retries;
        failures = 0;
        delay_ms = 0;
        return OSTREL_SUCCESS;
    }

    [[nodiscard]] std::string_view answer_body() const noexcept { return {body.data(), body_length}; }
    [[nodiscard]] bool header(std::string_view name, std::string_view *valuep) const noexcept
    {
        return header_value(headers.get(), name, valuep);
    }

    void resume() noexcept
    {
        const std::coroutine_handle<> handle = waiting;
        waiting = nullptr;
        wait = Wait::none;
        handle.resume();
        settle();
    }

    // After the coroutine ran: ended, or waiting for an answer.
    void settle() noexcept
    {
        if (!ended && task.handle() && task.handle().done()) {
            ended = true;
            outcome.reset(on_path(task.handle().promise().result));
            request.reset();
        } else if (!ended && !task.handle()) {
            ended = true;
            outcome.reset(system_error("malloc"));
        }
    }

    [[nodiscard]] ostrel_result_t store_answer(int http_status, const char *header_text, unsigned random) noexcept
    {
        status = http_status;
        random_ms = random;
        headers.reset(header_text != nullptr ? mem_strdup(header_text) : nullptr);
        body_length = 0;
        if (header_text != nullptr && headers == nullptr) {
            return system_error("malloc");
        }
        return OSTREL_SUCCESS;
    }

    [[nodiscard]] ostrel_result_t store_body(const char *data, size_t size) noexcept
    {
        char *block = body.reserve(size + 1);
        if (block == nullptr) {
            return system_error("malloc");
        }
        if (size != 0) {
            std::memcpy(block, data, size);
        }
        block[size] = '\0';
        body_length = size;
        return OSTREL_SUCCESS;
    }

    // Decides what the status and body mean for the waiting step: resumed
    // with the answer, asked again, or a refused token handed back.
    [[nodiscard]] ostrel_result_t decide() noexcept
    {
        ++requests;
        ++session->requests;
        answer_error.reset();
        retryable = false;
        if (expect.takes(status)) {
            resume();
            return OSTREL_SUCCESS;
        }
        bool retry = false;
        ostrel_result_t error = OSTREL_SUCCESS;
        if (status >= 200 && status < 300) {
            char details[96];
            std::snprintf(details, sizeof details, "Drive answered HTTP %d, which this request does not take",
                          status);
            error = odd(details);
        } else if (std::string_view location; status >= 300 && status < 400 && header("Location", &location)) {
            // Drive's API never redirects: a proxy's or a login page's answer.
            const ExactText details = exact_text([this, location](auto &out) {
                char code[48];
                std::snprintf(code, sizeof code, "Drive answered HTTP %d, a redirect to \"", status);
                out.put(code);
                put_printable(out, location);
                out.put("\", which Drive's API never sends: the base URL may be a proxy's");
            });
            const Owned<char> owned(details.text);
            error = details.text == nullptr ? system_error("malloc") : odd(details.text);
        } else {
            error = ostrel_google_drive_answer_error(status, body.data(), body_length, operation, path.get(), &retry);
            if (error == OSTREL_SUCCESS) {  // 1xx, 3xx: nothing Drive documents here
                char details[96];
                std::snprintf(details, sizeof details, "Drive answered HTTP %d, which this request does not take",
                              status);
                error = odd(details);
            }
        }
        if (status == 401) {
            // The caller refreshes the token; the same request comes again.
            return on_path(error);
        }
        if (retry) {
            ++failures;
            std::string_view retry_after;
            Owned<char> after;
            if (header("Retry-After", &retry_after)) {
                after.reset(mem_strdup(retry_after));
            }
            delay_ms = ostrel_google_drive_retry_delay_ms(failures, random_ms, after.get());
            if (!self_retry && failures < session->attempts) {
                ostrel_object_free(ostrel_error_get(error));
                return OSTREL_SUCCESS;
            }
            retryable = failures < session->attempts;
        }
        answer_error.reset(error);
        resume();
        return OSTREL_SUCCESS;
    }

    // The outcome the caller sees for a feed.
    [[nodiscard]] ostrel_result_t fed(ostrel_result_t result) noexcept
    {
        if (result != OSTREL_SUCCESS) {
            return result;
        }
        if (ended && outcome.failed()) {
            told = true;
            return outcome.take();
        }
        return OSTREL_SUCCESS;
    }
};

namespace {

bool Ask::await_ready() const noexcept
{
    return op->request == nullptr;
}

void Ask::await_suspend(std::coroutine_handle<> handle) noexcept
{
    op->waiting = handle;
    op->wait = Op::Wait::answer;
}

ostrel_result_t Ask::await_resume() const noexcept
{
    if (op->request == nullptr) {
        return system_error("malloc");
    }
    return op->answer_error.take();
}

void BodyEnd::await_suspend(std::coroutine_handle<> handle) noexcept
{
    op->waiting = handle;
    op->wait = Op::Wait::body;
}

// Asks for one request and waits for its answer, which op then holds.
Task send(Op *op, ostrel_result_t built, Request *made, Expect takes, bool stream = false, bool own_retries = false)
{
    ostrel_result_t result = op->ask(built, made, takes, stream, own_retries);
    if (result == OSTREL_SUCCESS) {
        result = co_await Ask{op};
    }
    co_return result;
}

// Looks a checked copy of a file resource out of the answer's body.
[[nodiscard]] ostrel_result_t parse_file(Op *op, Metadata *record, Extra *extra = nullptr) noexcept
{
    ostrel_google_metadata_destroy(record);
    const ostrel_result_t result = file_parse(op->body.data(), op->body_length, record, extra);
    if (result != OSTREL_SUCCESS) {
        return result;
    }
    if (record->id == nullptr || !is_id(record->id)) {
        ostrel_google_metadata_destroy(record);
        return op->odd("Drive's file resource has no usable \"id\"");
    }
    return OSTREL_SUCCESS;
}

// Every page of a query, checked, into records: each with an id, in the
// folder asked (when folder_id is given) and not trashed (unless
// with_trashed); others go to *strayp (counted) so the caller can judge the
// answer. An incompleteSearch is noted in the operation.
Task list_pages(Op *op, const char *query, const char *folder_id, Records *records, size_t *strayp,
                bool with_trashed = false)
{
    Session *const s = op->session;
    Vec<char *> tokens;  // seen, to refuse a repeat
    struct Tokens {
        Vec<char *> *list;
        ~Tokens()
        {
            for (size_t i = 0; i < list->size(); ++i) {
                std::free((*list)[i]);
            }
        }
    } owner{&tokens};
    const char *token = nullptr;
    size_t empty_run = 0;
    constexpr size_t page_size = OSTREL_GOOGLE_DRIVE_PAGE_SIZE;
    for (size_t pages = 0;; ++pages) {
        if (pages >= s->page_limit) {
            co_return op->odd("The folder's listing goes beyond its page bound");
        }
        Request *made = nullptr;
        const ostrel_result_t built = ostrel_google_drive_request_list(s->base_url.get(), query, token, &made);
        ostrel_result_t result = co_await send(op, built, made, {{200}});
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        // A page of 1000 files is about a megabyte: a far larger one is not
        // parsed into records only to be refused.
        if (op->body_length > max_page_body) {
            co_return op->odd("Drive sent a page far larger than a page of 1000 files");
        }
        ostrel_google_drive_page_t page{};
        Extra *page_extras = nullptr;
        result = page_parse(op->body.data(), op->body_length, &page, &page_extras);
        const Owned<Extra> owned_extras(page_extras);
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        struct PageOwner {
            ostrel_google_drive_page_t *page;
            ~PageOwner() { ostrel_google_drive_page_destroy(page); }
        } page_owner{&page};
        if (page.file_count + page.refusal_count > page_size) {
            char details[128];
            std::snprintf(details, sizeof details, "Drive sent %zu files in a page of at most %zu",
                          page.file_count + page.refusal_count, page_size);
            co_return op->odd(details);
        }
        for (size_t i = 0; i < page.file_count; ++i) {
            Metadata &record = page.files[i];
            const bool usable = record.id != nullptr && is_id(record.id) && record.name != nullptr;
            if (!usable || (record.trashed && !with_trashed) || (folder_id != nullptr && !has_parent(record, folder_id))) {
                ++*strayp;
                continue;
            }
            if (!records->take(&record, page_extras[i])) {
                co_return system_error("malloc");
            }
        }
        *strayp += page.refusal_count;
        op->incomplete = op->incomplete || page.incomplete_search;
        if (page.next_page_token == nullptr) {
            co_return OSTREL_SUCCESS;
        }
        const std::string_view next = page.next_page_token;
        if (next.empty()) {
            co_return op->odd("Drive gave an empty nextPageToken");
        }
        for (size_t i = 0; i < tokens.size(); ++i) {
            if (next == tokens[i]) {
                co_return op->odd("Drive gave a nextPageToken it gave before: the listing would not end");
            }
        }
        empty_run = page.file_count == 0 ? empty_run + 1 : 0;
        if (empty_run > OSTREL_GOOGLE_DRIVE_EMPTY_PAGES) {
            co_return op->odd("Drive sent empty pages without end");
        }
        char *copy = mem_strdup(next);
        if (copy == nullptr || !tokens.push(copy)) {
            std::free(copy);
            co_return system_error("malloc");
        }
        token = copy;
    }
}

// The folder's files: the session's listing while it is believed, else
// every page, kept for the next commands. *childrenp is the session's, or
// records' own when the folder is too large to keep (records is then not
// empty). Records Drive's pages held that were set aside count in *strayp.
Task folder_files(Op *op, const char *folder_id, Records *records, const Metadata **childrenp, const Extra **extrasp,
                  size_t *countp, size_t *strayp = nullptr)
{
    Session *const s = op->session;
    if (Folder *cached = s->fresh(folder_id, op->now_ms)) {
        *childrenp = cached->children;
        *extrasp = cached->extras;
        *countp = cached->count;
        co_return OSTREL_SUCCESS;
    }
    char *query = nullptr;
    ostrel_result_t result = ostrel_google_drive_folder_query(folder_id, false, &query);
    const Owned<char> owned(query);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    size_t strays = 0;
    result = co_await list_pages(op, query, folder_id, records, &strays);
    if (strayp != nullptr) {
        *strayp = strays;
    }
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    s->keep(folder_id, records, op->now_ms);
    if (Folder *kept = s->find(folder_id)) {
        *childrenp = kept->children;
        *extrasp = kept->extras;
        *countp = kept->count;
    } else {
        *childrenp = records->items.data();
        *extrasp = records->extras.data();
        *countp = records->items.size();
    }
    co_return OSTREL_SUCCESS;
}

[[nodiscard]] bool is_not_found(ostrel_result_t result) noexcept
{
    const char *code = ostrel_gfs_error_get_ftp_response_error_code(ostrel_error_peek(result));
    return code != nullptr && std::strcmp(code, "PATH_NOT_FOUND") == 0;
}

// The file client_name names in folder_id: *foundp true with a copy in
// *recordp, false when no file has the name; errors for names lookup
// refuses, several files, or Drive.
Task find_child(Op *op, const char *folder_id, const char *client_name, Metadata *recordp, Extra *extrap,
                bool *foundp)
{
    Session *const s = op->session;
    *foundp = false;
    const Metadata *children = nullptr;
    const Extra *extras = nullptr;
    size_t count = 0;
    Records whole;
    bool from_listing = s->fresh(folder_id, op->now_ms) != nullptr;
    Records narrow;
    if (!from_listing) {
        char *query = nullptr;
        bool untrusted = false;
        ostrel_result_t result = name_query(folder_id, client_name, true, &query, &untrusted);
        const Owned<char> owned(query);
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        size_t strays = 0;
        result = co_await list_pages(op, query, folder_id, &narrow, &strays);
        Failure failed(result);
        if (failed.failed() && op->status != 400) {
            co_return failed.take();
        }
        // Drive's comparison of quotes and non-ASCII names is undocumented, a
        // refused query says nothing, and an answer with files of another
        // folder or name is not to be believed: the folder decides.
        bool decided = !failed.failed() && strays == 0;
        if (decided) {
            size_t index = 0;
            Failure looked(ostrel_google_drive_lookup(client_name, narrow.items.data(), narrow.items.size(), &index));
            if (!looked.failed()) {
                *extrap = narrow.extras[index];
                co_return ostrel_google_metadata_copy(recordp, &narrow.items[index]) == OSTREL_SUCCESS
                    ? (*foundp = true, OSTREL_SUCCESS)
                    : system_error("malloc");
            }
            const bool miss = is_not_found(looked.peek());
            if (!miss) {
                co_return looked.take();  // several files, or a name refused
            }
            if (narrow.items.size() == 0 && !untrusted && is_ascii(client_name)) {
                co_return OSTREL_SUCCESS;
            }
        }
    }
    ostrel_result_t result = co_await folder_files(op, folder_id, &whole, &children, &extras, &count);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    size_t index = 0;
    Failure looked(ostrel_google_drive_lookup(client_name, children, count, &index));
    if (looked.failed()) {
        co_return is_not_found(looked.peek()) ? OSTREL_SUCCESS : looked.take();
    }
    if (ostrel_google_metadata_copy(recordp, &children[index]) != OSTREL_SUCCESS) {
        co_return system_error("malloc");
    }
    *extrap = extras[index];
    *foundp = true;
    co_return OSTREL_SUCCESS;
}

// The root's record, once a session.
Task root_record(Op *op)
{
    Session *const s = op->session;
    if (s->root_known) {
        co_return OSTREL_SUCCESS;
    }
    Request *made = nullptr;
    const ostrel_result_t built = ostrel_google_drive_request_get(s->base_url.get(), s->root_alias.get(), nullptr, &made);
    ostrel_result_t result = co_await send(op, built, made, {{200}});
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    Metadata root{};
    Extra extra;
    result = parse_file(op, &root, &extra);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    if (!is_folder(root)) {
        ostrel_google_metadata_destroy(&root);
        co_return op->odd("The root is not a folder", 550, "NOT_A_FOLDER");
    }
    ostrel_google_metadata_destroy(&s->root);
    s->root = root;
    s->root_extra = extra;
    s->root_known = true;
    co_return OSTREL_SUCCESS;
}

[[nodiscard]] ostrel_result_t not_a_folder(Op *op, std::string_view element) noexcept
{
    const ExactText details = exact_text([element](auto &out) {
        out.put('"');
        put_printable(out, element);
        out.put("\" is not a folder");
    });
    const Owned<char> owned(details.text);
    return details.text == nullptr ? system_error("malloc") : op->odd(details.text, 550, "NOT_A_FOLDER");
}

// A client path to its file (with to_parent: to the folder that holds the
// last element, and whether that element exists). Empty elements and "."
// are skipped, ".." goes up one and never above the root.
Task resolve(Op *op, const char *path, bool to_parent, Resolved *out)
{
    Session *const s = op->session;
    ostrel_result_t result = co_await root_record(op);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    // The elements, in place in a copy of the path.
    Owned<char> text(mem_strdup(path));
    Vec<const char *> elements;
    if (text == nullptr) {
        co_return system_error("malloc");
    }
    for (char *at = text.get(); *at != '\0';) {
        char *slash = std::strchr(at, '/');
        char *const next = slash != nullptr ? slash + 1 : at + std::strlen(at);
        if (slash != nullptr) {
            *slash = '\0';
        }
        const std::string_view element = at;
        if (element == "..") {
            if (elements.size() != 0) {
                elements.erase(elements.size() - 1);
            }
        } else if (!element.empty() && element != "." && !elements.push(at)) {
            co_return system_error("malloc");
        }
        at = next;
    }
    op->steps.clear();  // a rename resolves twice: its steps are its target's
    // The last element's name outlives the copy.
    Metadata current{};
    struct CurrentOwner {
        Metadata *m;
        ~CurrentOwner() { ostrel_google_metadata_destroy(m); }
    } current_owner{&current};
    if (ostrel_google_metadata_copy(&current, &s->root) != OSTREL_SUCCESS) {
        co_return system_error("malloc");
    }
    Extra current_extra = s->root_extra;
    const size_t walked = to_parent && elements.size() != 0 ? elements.size() - 1 : elements.size();
    Owned<char> parent;
    for (size_t i = 0; i < walked; ++i) {
        if (!is_folder(current)) {
            co_return not_a_folder(op, elements[i - 1]);
        }
        Metadata child{};
        bool found = false;
        result = co_await find_child(op, current.id, elements[i], &child, &current_extra, &found);
        if (result != OSTREL_SUCCESS) {
            ostrel_google_metadata_destroy(&child);
            co_return result;
        }
        if (!found) {
            co_return op->odd("No file in the folder has this name", 550, "PATH_NOT_FOUND");
        }
        if (!op->steps.copy(child, current_extra)) {
            ostrel_google_metadata_destroy(&child);
            co_return system_error("malloc");
        }
        parent.reset(mem_strdup(current.id));
        ostrel_google_metadata_destroy(&current);
        current = child;
        if (parent == nullptr) {
            co_return system_error("malloc");
        }
    }
    if (to_parent && elements.size() != 0) {
        if (!is_folder(current)) {
            co_return not_a_folder(op, walked != 0 ? elements[walked - 1] : "/");
        }
        out->last.reset(mem_strdup(elements[elements.size() - 1]));
        if (out->last == nullptr) {
            co_return system_error("malloc");
        }
        result = co_await find_child(op, current.id, out->last.get(), &out->existing, &out->existing_extra,
                                     &out->exists);
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
    }
    out->file = current;
    out->file_extra = current_extra;
    current = Metadata{};
    out->parent_id = std::move(parent);
    co_return OSTREL_SUCCESS;
}

// The client name a file of this Drive name and MIME type lists as, in *listedp.
[[nodiscard]] ostrel_result_t listed_name(char *name, const char *mime_type, Owned<char> *listedp) noexcept
{
    Metadata probe{};
    probe.name = name;
    probe.mime_type = const_cast<char *>(mime_type);
    char *listed = nullptr;
    const ostrel_result_t result = ostrel_google_drive_name_translate_out(&probe, &listed);
    listedp->reset(listed);
    return result;
}

// The Drive name a new file or folder gets: the one whose listed name is
// exactly the client name written.
[[nodiscard]] ostrel_result_t write_name(const char *client_name, bool folder, Owned<char> *namep) noexcept
{
    char *name = nullptr;
    char *id = nullptr;
    const char *mime_type = nullptr;
    if (std::strchr(client_name, '/') != nullptr) {
        return slash_in_element_error(client_name);
    }
    ostrel_result_t result = ostrel::gdc::ostrel_google_drive_name_translate_in(
        client_name, &name, &mime_type, &id, true, folder ? Reading::folder : Reading::ordinary_file);
    namep->reset(name);
    const Owned<char> owned_id(id);
    if (result != OSTREL_SUCCESS) {
        return result;
    }
    if (id != nullptr) {
        namep->reset();
        return invalid_path_error(client_name, "A new name carries no ID token: the token names a file that exists");
    }
    // The guard of the promise: listed, the new file shows the name written.
    Owned<char> owned_listed;
    result = listed_name(name, folder ? "application/vnd.google-apps.folder" : nullptr, &owned_listed);
    const char *const listed = owned_listed.get();
    if (result != OSTREL_SUCCESS) {
        namep->reset();
        return result;
    }
    if (std::strcmp(listed, client_name) != 0) {
        namep->reset();
        const ExactText details = exact_text([listed](auto &out) {
            out.put("This name cannot be written: the new file would list as \"");
            put_printable(out, listed);
            out.put('"');
        });
        const Owned<char> owned(details.text);
        return details.text == nullptr ? system_error("malloc") : invalid_path_error(client_name, details.text);
    }
    return OSTREL_SUCCESS;
}

// An id for a new file, from files.generateIds.
Task generate_id(Op *op, Owned<char> *idp)
{
    Session *const s = op->session;
    if (s->ids.size() == 0) {
        Request *made = nullptr;
        const ostrel_result_t built =
            request_api("GET", s->base_url.get(), "/drive/v3/files/generateIds", {}, {},
                        {{"count", "10"}, {"space", "drive"}, {"type", "files"}}, {}, &made);
        ostrel_result_t result = co_await send(op, built, made, {{200}});
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        json_error_t error;
        json_t *answer = json_loadb(op->body.data(), op->body_length, JSON_REJECT_DUPLICATES, &error);
        const json_t *ids = json_object_get(answer, "ids");
        const size_t n = json_array_size(ids);
        for (size_t i = 0; i < n && i < id_batch; ++i) {
            const char *id = json_string_value(json_array_get(ids, i));
            if (id != nullptr && is_id(id)) {
                char *copy = mem_strdup(id);
                if (copy == nullptr || !s->ids.push(copy)) {
                    std::free(copy);
                    break;
                }
            }
        }
        json_decref(answer);
        if (s->ids.size() == 0) {
            co_return op->odd("Drive's generateIds answer holds no usable id");
        }
    }
    idp->reset(s->ids[s->ids.size() - 1]);
    s->ids.erase(s->ids.size() - 1);
    co_return OSTREL_SUCCESS;
}

// {"id"?, "name", "mimeType"?, "parents"?[, "modifiedTime"?]} as JSON.
[[nodiscard]] ExactText metadata_json(const char *id, const char *name, const char *mime_type,
                                      const char *parent, const char *modified = nullptr) noexcept
{
    return exact_text([=](auto &out) {
        out.put('{');
        const char *sep = "";
        const auto field = [&](const char *key, const char *value) {
            if (value == nullptr) {
                return;
            }
            out.put(sep);
            out.put('"');
            out.put(key);
            out.put("\": \"");
            put_json_escaped(out, value);
            out.put('"');
            sep = ", ";
        };
        field("id", id);
        field("name", name);
        field("mimeType", mime_type);
        field("modifiedTime", modified);
        if (parent != nullptr) {
            out.put(sep);
            out.put("\"parents\": [\"");
            put_json_escaped(out, parent);
            out.put("\"]");
        }
        out.put('}');
    });
}

// files.get of id into *recordp: *foundp false for a 404.
Task get_file(Op *op, const char *id, Metadata *recordp, bool *foundp, Extra *extra = nullptr)
{
    *foundp = false;
    Request *made = nullptr;
    const ostrel_result_t built = ostrel_google_drive_request_get(op->session->base_url.get(), id, nullptr, &made);
    ostrel_result_t result = co_await send(op, built, made, {{200}});
    if (result != OSTREL_SUCCESS) {
        if (op->status == 404) {
            ostrel_object_free(ostrel_error_get(result));
            co_return OSTREL_SUCCESS;
        }
        co_return result;
    }
    result = parse_file(op, recordp, extra);
    if (result == OSTREL_SUCCESS && std::strcmp(id, "root") != 0 && std::strcmp(recordp->id, id) != 0) {
        ostrel_google_metadata_destroy(recordp);
        co_return op->odd("Drive answered with another file than the one asked for");
    }
    *foundp = result == OSTREL_SUCCESS;
    co_return result;
}

Task stat_op(Op *op)
{
    Resolved r;
    ostrel_result_t result = co_await resolve(op, op->path.get(), false, &r);
    if (result == OSTREL_SUCCESS) {
        op->file = r.file;
        op->file_extra = r.file_extra;
        r.file = Metadata{};
    }
    co_return result;
}

Task get_op(Op *op)
{
    bool found = false;
    ostrel_result_t result = co_await get_file(op, op->path.get(), &op->file, &found, &op->file_extra);
    if (result == OSTREL_SUCCESS && !found) {
        result = op->odd("No file has this id", 550, "PATH_NOT_FOUND");
    }
    co_return result;
}

Task list_op(Op *op)
{
    Resolved r;
    ostrel_result_t result = co_await resolve(op, op->path.get(), false, &r);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    if (!is_folder(r.file)) {
        if (!op->entries.copy(r.file, r.file_extra)) {
            co_return system_error("malloc");
        }
    } else if (op->flag) {
        // With the trash: never the session's listing, nor kept as one.
        char *query = nullptr;
        result = ostrel_google_drive_folder_query(r.file.id, true, &query);
        const Owned<char> owned(query);
        if (result == OSTREL_SUCCESS) {
            result = co_await list_pages(op, query, r.file.id, &op->entries, &op->left_out, true);
        }
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
    } else {
        Records whole;
        const Metadata *children = nullptr;
        const Extra *extras = nullptr;
        size_t count = 0;
        result = co_await folder_files(op, r.file.id, &whole, &children, &extras, &count, &op->left_out);
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        const bool own = whole.items.size() != 0 && children == whole.items.data();
        if (own) {
            op->entries.items.swap(whole.items);  // too large to keep: moved, not copied
            op->entries.extras.swap(whole.extras);
        }
        for (size_t i = 0; !own && i < count; ++i) {
            if (!op->entries.copy(children[i], extras[i])) {
                co_return system_error("malloc");
            }
        }
    }
    op->file = r.file;
    op->file_extra = r.file_extra;
    r.file = Metadata{};
    result = ostrel_google_drive_mark_collisions(op->entries.items.data(), op->entries.items.size());
    for (size_t i = 0; result == OSTREL_SUCCESS && i < op->entries.items.size(); ++i) {
        char *name = nullptr;
        result = ostrel_google_drive_name_translate_out(&op->entries.items[i], &name);
        if (result == OSTREL_SUCCESS && !op->names.push(name)) {
            std::free(name);
            result = system_error("malloc");
        }
    }
    co_return result;
}

// The Content-Range of bytes first to end (exclusive): "bytes A-B/T"
// exactly; of a file of unknown size, only where it starts.
[[nodiscard]] bool is_content_range(std::string_view text, uint64_t first, uint64_t end, bool size_known,
                                    uint64_t size) noexcept
{
    char expected[96];
    if (size_known && end != UINT64_MAX) {
        std::snprintf(expected, sizeof expected, "bytes %" PRIu64 "-%" PRIu64 "/%" PRIu64, first, end - 1, size);
        return text == expected;
    }
    std::snprintf(expected, sizeof expected, "bytes %" PRIu64 "-", first);
    return text.starts_with(expected);
}

Task read_op(Op *op)
{
    Session *const s = op->session;
    Resolved r;
    ostrel_result_t result = co_await resolve(op, op->path.get(), false, &r);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    op->file = r.file;
    op->file_extra = r.file_extra;
    r.file = Metadata{};
    const Metadata &file = op->file;
    const char *export_mime = nullptr;
    const ostrel_google_drive_kind_t kind = ostrel_google_drive_kind(&file, &export_mime);
    if (kind == OSTREL_GOOGLE_DRIVE_KIND_FOLDER) {
        co_return op->odd("A folder has no content to read", 550, "NOT_A_FILE");
    }
    if (kind == OSTREL_GOOGLE_DRIVE_KIND_NO_CONTENT) {
        co_return op->odd("This kind of Google-Apps file has no content to read", 550, "NO_CONTENT");
    }
    if (kind == OSTREL_GOOGLE_DRIVE_KIND_STUB) {
        char *content = nullptr;
        size_t size = 0;
        result = ostrel_google_drive_stub_content(&file, &content, &size);
        op->content.reset(content);
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        if (op->offset > size) {
            co_return op->odd("The restart offset is beyond the file's size", 554, "INVALID_RESTART");
        }
        const uint64_t rest = size - op->offset;
        op->content_view = content + op->offset;
        op->content_length = static_cast<size_t>(op->length != 0 && op->length < rest ? op->length : rest);
        op->bytes = op->content_length;
        co_return OSTREL_SUCCESS;
    }
    if (kind == OSTREL_GOOGLE_DRIVE_KIND_EXPORT) {
        for (unsigned restarts = 0;; ++restarts) {
            Request *made = nullptr;
            uint64_t skip = 0;
            const ostrel_result_t built = ostrel_google_drive_request_read(s->base_url.get(), &file, 0, 0, &made, &skip);
            result = co_await send(op, built, made, {{200}}, true);
            if (result != OSTREL_SUCCESS) {
                co_return result;
            }
            op->deliver = true;
            op->skip = op->offset;
            op->count = op->length != 0 ? op->length : UINT64_MAX;
            co_await BodyEnd{op};
            const uint64_t got = op->received > op->skip ? op->received - op->skip : 0;
            if (op->complete) {
                op->bytes = got < op->count ? got : op->count;
                co_return OSTREL_SUCCESS;
            }
            if (!op->flag || restarts + 1 >= s->attempts) {
                co_return op->odd("The export was cut; an export cannot be resumed, since Drive may export the "
                                  "document differently next time",
                                  426, "TRANSFER_ABORTED");
            }
            op->discard = true;
            ++op->restarts;
            op->bytes = 0;
        }
    }
    // An ordinary file, by ranges.
    const bool size_known = file.size_set;
    const uint64_t size = file.size;
    if (size_known && op->offset > size) {
        co_return op->odd("The restart offset is beyond the file's size", 554, "INVALID_RESTART");
    }
    const uint64_t end = !size_known ? (op->length != 0 ? op->offset + op->length : UINT64_MAX)
                         : op->length != 0 && op->length < size - op->offset ? op->offset + op->length
                                                                              : size;
    if (size_known && op->offset == 0 && end == size && file.md5_checksum[0] != '\0') {
        std::memcpy(op->md5, file.md5_checksum, sizeof op->md5);
    }
    op->budget += s->attempts * (2 + (size_known ? (end - op->offset) / min_read_progress : 0));
    uint64_t pos = op->offset;
    unsigned cuts = 0;
    while (pos < end) {
        Request *made = nullptr;
        uint64_t ignored = 0;
        const uint64_t want = end == UINT64_MAX ? 0 : end - pos;
        const ostrel_result_t built = ostrel_google_drive_request_read(s->base_url.get(), &file, pos, want, &made, &ignored);
        const bool ranged = made != nullptr && made->header_count != 0;
        if (built == OSTREL_SUCCESS && made == nullptr) {
            break;  // nothing left to read
        }
        result = co_await send(op, built, made, {{200, 206}}, true);
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        const uint64_t count = end == UINT64_MAX ? UINT64_MAX : end - pos;
        // The most a body may hold: the range, or the whole file for a 200.
        uint64_t most = count;
        if (op->status == 206) {
            std::string_view range;
            if (!ranged || !op->header("Content-Range", &range) || !is_content_range(range, pos, end, size_known, size)) {
                co_return op->odd("Drive's 206 does not carry the Content-Range asked for");
            }
            op->skip = 0;
        } else {
            op->skip = ranged ? pos : 0;  // a 200 to a Range is the whole file
            most = ranged ? (size_known ? size - pos : UINT64_MAX) : count;
        }
        op->deliver = true;
        op->count = count;
        co_await BodyEnd{op};
        const uint64_t past = op->received > op->skip ? op->received - op->skip : 0;
        if (past > most) {
            co_return op->odd("Drive sent more bytes than the file holds");
        }
        const uint64_t got = past < count ? past : count;
        pos += got;
        op->bytes += got;
        if (end == UINT64_MAX && op->complete) {
            break;
        }
        // A cut reads on from where it stopped; one that brought little is a failed try.
        if (pos < end && got < min_read_progress && ++cuts >= s->attempts) {
            co_return op->odd("The file's content was cut again and again", 426, "TRANSFER_ABORTED");
        }
    }
    co_return OSTREL_SUCCESS;
}

[[nodiscard]] bool same_origin(const Session *s, const char *uri) noexcept
{
    char origin[300];
    return origin_of(uri, origin) && std::strcmp(origin, s->origin) == 0;
}

// "bytes=0-N" of a 308: Drive holds N + 1 bytes; none without the header.
[[nodiscard]] bool stored_of(const Op *op, uint64_t *storedp) noexcept
{
    std::string_view range;
    if (!op->header("Range", &range)) {
        *storedp = 0;
        return true;
    }
    uint64_t last = 0;
    if (!range.starts_with("bytes=0-") || !read_number(range.substr(8), &last) || last == UINT64_MAX) {
        return false;
    }
    *storedp = last + 1;
    return true;
}

// Whether Drive's record shows the time it was given, to the millisecond.
[[nodiscard]] bool same_time(const Metadata &record, const Extra &extra, int64_t milliseconds) noexcept
{
    const auto [seconds, rest] = instant_of(milliseconds);
    return record.modified_time_set && static_cast<int64_t>(record.modified_time) == seconds
           && (extra.modified_ms == rest || (extra.modified_ms == -1 && rest == 0));
}

Task write_op(Op *op)
{
    Session *const s = op->session;
    const uint64_t &total = op->length;  // OSTREL_GOOGLE_DRIVE_SIZE_UNKNOWN until write_end
    Resolved r;
    ostrel_result_t result = co_await resolve(op, op->path.get(), true, &r);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    if (r.last == nullptr) {
        co_return op->odd("The root folder cannot be written", 553, "INVALID_PATH_NAME");
    }
    Owned<char> name;
    Owned<char> new_id;
    if (r.exists && op->create_only) {
        co_return op->odd("A file of this name exists", 550, "FILE_EXISTS");
    }
    if (r.exists) {
        if (ostrel_google_drive_kind(&r.existing, nullptr) != OSTREL_GOOGLE_DRIVE_KIND_FILE) {
            co_return is_folder(r.existing)
                ? op->odd("A folder cannot be written", 550, "IS_A_FOLDER")
                : op->odd("A Google-Apps document cannot be written: its name is its export or stub", 553,
                          "INVALID_PATH_NAME");
        }
    } else {
        result = write_name(r.last.get(), false, &name);
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        result = co_await generate_id(op, &new_id);
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
    }
    op->budget += s->attempts * (3 + (total == OSTREL_GOOGLE_DRIVE_SIZE_UNKNOWN ? 0 : total) / OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT);
    const char *const parent = r.file.id;
    char modified[32] = {};
    const bool timed = op->modified_ms != OSTREL_GOOGLE_DRIVE_NO_TIME;
    if (timed && !drive_time(op->modified_ms, modified)) {
        co_return op->odd("The modification time is outside the years 0000 to 9999", 501, "BAD_TIME");
    }
    for (unsigned restarts = 0;; ++restarts) {
        // The session.
        Request *made = nullptr;
        ostrel_result_t built = OSTREL_SUCCESS;
        if (r.exists) {
            const ExactText body = metadata_json(nullptr, nullptr, nullptr, nullptr, timed ? modified : nullptr);
            const Owned<char> owned(body.text);
            built = body.text == nullptr ? system_error("malloc")
                                         : request_api("PATCH", s->base_url.get(), "/upload/drive/v3/files/",
                                                       r.existing.id, {},
                                                       {{"uploadType", "resumable"},
                                                        {"fields", OSTREL_GOOGLE_DRIVE_FILE_FIELDS},
                                                        {"supportsAllDrives", "true"}},
                                                       body.text, &made);
        } else {
            const ExactText body = metadata_json(new_id.get(), name.get(), nullptr, parent, timed ? modified : nullptr);
            const Owned<char> owned(body.text);
            built = body.text == nullptr ? system_error("malloc")
                                         : request_api("POST", s->base_url.get(), "/upload/drive/v3/files", {}, {},
                                                       {{"uploadType", "resumable"},
                                                        {"fields", OSTREL_GOOGLE_DRIVE_FILE_FIELDS},
                                                        {"supportsAllDrives", "true"}},
                                                       body.text, &made);
        }
        result = co_await send(op, built, made, {{200}});
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        std::string_view location;
        if (!op->header("Location", &location) || location.empty()) {
            co_return op->odd("Drive opened no upload session (no Location)");
        }
        const Owned<char> uri(mem_strdup(location));
        if (uri == nullptr) {
            co_return system_error("malloc");
        }
        if (!same_origin(s, uri.get())) {
            co_return op->odd("The upload session's URI is not at the API's origin: no byte or token goes there");
        }
        // The chunks.
        uint64_t stored = 0;
        bool asking = false;  // where the session stands, after a lost answer
        unsigned tries = 0;
        bool expired = false;
        for (;;) {
            const uint64_t chunk = op->chunk_size;
            const bool known = total != OSTREL_GOOGLE_DRIVE_SIZE_UNKNOWN;
            const uint64_t length = asking ? 0 : (known && total - stored < chunk ? total - stored : chunk);
            if (!known) {
                op->budget += s->attempts;  // the caller's bytes bound the chunks
            }
            made = nullptr;
            built = asking ? request_upload_status(uri.get(), total, &made)
                           : request_upload_chunk(uri.get(), stored, length, total, &made);
            const uint64_t delay = op->delay_ms;
            result = op->ask(built, made, {{200, 201, 308}}, false, true);
            op->delay_ms = static_cast<unsigned long>(delay);
            op->failures = tries;
            if (result == OSTREL_SUCCESS) {
                result = co_await Ask{op};
            }
            if (result == OSTREL_SUCCESS && op->status == rebuild_status) {
                continue;  // the end became known: the chunk is built again
            }
            if (result != OSTREL_SUCCESS) {
                Failure failed(result);
                if (op->status == 404 || op->status == 410) {
                    expired = true;
                    break;
                }
                if (!op->retryable || ++tries >= s->attempts) {
                    co_return failed.take();
                }
                asking = true;  // Drive may have kept part of what it failed to answer
                continue;
            }
            op->delay_ms = 0;
            if (op->status == 308) {
                uint64_t held = 0;
                if (!stored_of(op, &held) || (total != OSTREL_GOOGLE_DRIVE_SIZE_UNKNOWN && held > total)) {
                    co_return op->odd("Drive's Range header is not \"bytes=0-N\" within the file");
                }
                if (held < stored) {
                    co_return op->odd("Drive's Range went back below what it had confirmed");
                }
                const bool progress = held - stored >= OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT || held == total;
                if (!asking && !progress && ++tries >= s->attempts) {
                    co_return op->odd("Drive took less than a chunk unit, again and again");
                }
                if (progress) {
                    tries = 0;
                }
                stored = held;
                op->bytes = stored;
                asking = false;
                continue;
            }
            // The file.
            result = parse_file(op, &op->file, &op->file_extra);
            if (result != OSTREL_SUCCESS) {
                co_return result;
            }
            break;
        }
        if (expired) {
            // A lost last answer may have stored the file before its session went.
            if (!r.exists) {
                Metadata found{};
                bool there = false;
                result = co_await get_file(op, new_id.get(), &found, &there);
                if (result != OSTREL_SUCCESS) {
                    co_return result;
                }
                if (there) {
                    ostrel_google_metadata_destroy(&op->file);
                    op->file = found;
                    break;
                }
            }
            if (restarts + 1 >= s->attempts) {
                co_return op->odd("The upload session expired again and again");
            }
            ++op->restarts;
            op->bytes = 0;
            continue;
        }
        break;
    }
    // The end: what Drive stored is what was sent.
    const Metadata &stored = op->file;
    if (total == OSTREL_GOOGLE_DRIVE_SIZE_UNKNOWN) {
        co_return op->odd("Drive ended the upload before its end was given");
    }
    if (new_id != nullptr && std::strcmp(stored.id, new_id.get()) != 0) {
        co_return op->odd("Drive stored the file under another id than the one it was given");
    }
    if (r.exists && std::strcmp(stored.id, r.existing.id) != 0) {
        co_return op->odd("Drive answered the replacement with another file");
    }
    if (!stored.size_set || stored.size != total) {
        char details[160];
        std::snprintf(details, sizeof details, "Drive holds %ju bytes of the %" PRIu64 " sent",
                      stored.size_set ? stored.size : uintmax_t{0}, total);
        co_return op->odd(details);
    }
    if (op->given_md5[0] != '\0' && stored.md5_checksum[0] != '\0' && std::strcmp(op->given_md5, stored.md5_checksum) != 0) {
        const ExactText details = exact_text([op, &stored](auto &out) {
            out.put("Drive's MD5 ");
            out.put(stored.md5_checksum);
            out.put(" is not the content's ");
            out.put(op->given_md5);
        });
        const Owned<char> owned(details.text);
        co_return details.text == nullptr ? system_error("malloc") : op->odd(details.text);
    }
    if (timed && !same_time(stored, op->file_extra, op->modified_ms)) {
        co_return op->odd("Drive did not keep the modification time it was given");
    }
    op->bytes = total;
    s->cache_add(parent, stored, op->file_extra);
    co_return OSTREL_SUCCESS;
}

// MFMT: the file's modifiedTime, checked as Drive keeps it.
Task time_op(Op *op)
{
    Session *const s = op->session;
    Resolved r;
    ostrel_result_t result = co_await resolve(op, op->path.get(), false, &r);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    char modified[32] = {};
    if (!drive_time(op->modified_ms, modified)) {
        co_return op->odd("The modification time is outside the years 0000 to 9999", 501, "BAD_TIME");
    }
    const ExactText body = metadata_json(nullptr, nullptr, nullptr, nullptr, modified);
    const Owned<char> owned(body.text);
    Request *made = nullptr;
    const ostrel_result_t built =
        body.text == nullptr ? system_error("malloc")
                             : request_api("PATCH", s->base_url.get(), "/drive/v3/files/", r.file.id, {},
                                           {{"fields", OSTREL_GOOGLE_DRIVE_FILE_FIELDS}, {"supportsAllDrives", "true"}},
                                           body.text, &made);
    result = co_await send(op, built, made, {{200}});
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    result = parse_file(op, &op->file, &op->file_extra);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    if (std::strcmp(op->file.id, r.file.id) != 0 || !same_time(op->file, op->file_extra, op->modified_ms)) {
        co_return op->odd("Drive did not keep the modification time it was given");
    }
    if (r.parent_id != nullptr) {
        s->cache_add(r.parent_id.get(), op->file, op->file_extra);
    }
    co_return OSTREL_SUCCESS;
}

Task mkdir_op(Op *op)
{
    Session *const s = op->session;
    Resolved r;
    ostrel_result_t result = co_await resolve(op, op->path.get(), true, &r);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    if (r.last == nullptr) {
        co_return op->odd("The root folder exists", 550, "FILE_EXISTS");
    }
    if (r.exists) {
        co_return op->odd("A file of this name exists", 550, "FILE_EXISTS");
    }
    Owned<char> name;
    result = write_name(r.last.get(), true, &name);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    Owned<char> id;
    result = co_await generate_id(op, &id);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    const ExactText body = metadata_json(id.get(), name.get(), "application/vnd.google-apps.folder", r.file.id);
    const Owned<char> owned(body.text);
    Request *made = nullptr;
    const ostrel_result_t built =
        body.text == nullptr ? system_error("malloc")
                             : request_api("POST", s->base_url.get(), "/drive/v3/files", {}, {},
                                           {{"fields", OSTREL_GOOGLE_DRIVE_FILE_FIELDS}, {"supportsAllDrives", "true"}},
                                           body.text, &made);
    result = co_await send(op, built, made, {{200}});
    if (result != OSTREL_SUCCESS) {
        // A retry after a lost answer finds the id taken: the first attempt
        // made the folder when the id's file is it.
        Failure refused(result);
        if (op->status != 409) {
            co_return refused.take();
        }
        bool found = false;
        result = co_await get_file(op, id.get(), &op->file, &found);
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        if (!found || !is_folder(op->file) || op->file.name == nullptr || std::strcmp(op->file.name, name.get()) != 0
            || !has_parent(op->file, r.file.id)) {
            co_return refused.take();
        }
    } else {
        result = parse_file(op, &op->file, &op->file_extra);
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        if (std::strcmp(op->file.id, id.get()) != 0 || !is_folder(op->file)) {
            co_return op->odd("Drive's answer is not the folder that was made");
        }
    }
    s->cache_add(r.file.id, op->file, op->file_extra);
    co_return OSTREL_SUCCESS;
}

// The Drive name a file gets when renamed to client_name: it must list as
// exactly that name.
[[nodiscard]] ostrel_result_t rename_name(const Metadata &file, const char *client_name, Owned<char> *namep) noexcept
{
    const ostrel_google_drive_kind_t kind = ostrel_google_drive_kind(&file, nullptr);
    if (kind == OSTREL_GOOGLE_DRIVE_KIND_FILE || kind == OSTREL_GOOGLE_DRIVE_KIND_FOLDER) {
        return write_name(client_name, kind == OSTREL_GOOGLE_DRIVE_KIND_FOLDER, namep);
    }
    char *name = nullptr;
    char *id = nullptr;
    const char *mime_type = nullptr;
    if (std::strchr(client_name, '/') != nullptr) {
        return slash_in_element_error(client_name);
    }
    ostrel_result_t result = ostrel_google_drive_name_translate_in(client_name, &name, &mime_type, &id, false);
    namep->reset(name);
    const Owned<char> owned_id(id);
    if (result != OSTREL_SUCCESS) {
        return result;
    }
    Owned<char> listed;
    result = listed_name(name, file.mime_type, &listed);
    if (result != OSTREL_SUCCESS || id != nullptr || std::strcmp(listed.get(), client_name) != 0) {
        namep->reset();
        return result != OSTREL_SUCCESS ? result
                                        : invalid_path_error(client_name, "A document's new name must show it as "
                                                                          "its current name does, without ID token");
    }
    return OSTREL_SUCCESS;
}

Task rename_op(Op *op)
{
    Session *const s = op->session;
    Resolved from;
    ostrel_result_t result = co_await resolve(op, op->path.get(), false, &from);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    if (from.parent_id == nullptr) {
        co_return op->odd("The root folder cannot be renamed", 553, "INVALID_PATH_NAME");
    }
    Resolved to;
    result = co_await resolve(op, op->other_path.get(), true, &to);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    if (to.last == nullptr) {
        co_return op->odd("Nothing can be renamed to the root folder", 553, "INVALID_PATH_NAME");
    }
    if (to.exists) {
        if (std::strcmp(to.existing.id, from.file.id) == 0) {
            op->file = from.file;
            from.file = Metadata{};
            co_return OSTREL_SUCCESS;  // already so named
        }
        co_return op->odd("A file of the new name exists", 550, "FILE_EXISTS");
    }
    Owned<char> name;
    result = rename_name(from.file, to.last.get(), &name);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    const bool move = std::strcmp(from.parent_id.get(), to.file.id) != 0;
    const ExactText body = metadata_json(nullptr, name.get(), nullptr, nullptr);
    const Owned<char> owned(body.text);
    Request *made = nullptr;
    ostrel_result_t built = OSTREL_SUCCESS;
    if (body.text == nullptr) {
        built = system_error("malloc");
    } else if (move) {
        built = request_api("PATCH", s->base_url.get(), "/drive/v3/files/", from.file.id, {},
                            {{"fields", OSTREL_GOOGLE_DRIVE_FILE_FIELDS},
                             {"supportsAllDrives", "true"},
                             {"addParents", to.file.id},
                             {"removeParents", from.parent_id.get()}},
                            body.text, &made);
    } else {
        built = request_api("PATCH", s->base_url.get(), "/drive/v3/files/", from.file.id, {},
                            {{"fields", OSTREL_GOOGLE_DRIVE_FILE_FIELDS}, {"supportsAllDrives", "true"}}, body.text,
                            &made);
    }
    result = co_await send(op, built, made, {{200}});
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    result = parse_file(op, &op->file, &op->file_extra);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    if (std::strcmp(op->file.id, from.file.id) != 0 || op->file.name == nullptr
        || std::strcmp(op->file.name, name.get()) != 0 || (op->file.parent_count != 0 && !has_parent(op->file, to.file.id))) {
        co_return op->odd("Drive's answer is not the file as renamed");
    }
    s->cache_remove(from.parent_id.get(), from.file.id);
    s->cache_add(to.file.id, op->file, op->file_extra);
    co_return OSTREL_SUCCESS;
}

// Trash or delete of what was resolved; a retried delete that finds the
// file gone is the first attempt's success.
Task remove_file(Op *op, Resolved *r)
{
    Session *const s = op->session;
    Request *made = nullptr;
    const bool permanent = op->flag;
    const ostrel_result_t built =
        permanent ? ostrel_google_drive_request_delete(s->base_url.get(), r->file.id, &made)
                  : request_api("PATCH", s->base_url.get(), "/drive/v3/files/", r->file.id, {},
                                {{"fields", "id,trashed"}, {"supportsAllDrives", "true"}}, "{\"trashed\": true}", &made);
    ostrel_result_t result = co_await send(op, built, made, permanent ? Expect{{200, 204}} : Expect{{200}});
    if (result != OSTREL_SUCCESS) {
        if (op->status == 404 && op->failures != 0) {
            ostrel_object_free(ostrel_error_get(result));
            result = OSTREL_SUCCESS;
        } else {
            co_return result;
        }
    } else if (!permanent) {
        Metadata trashed{};
        result = parse_file(op, &trashed);
        const bool is_trashed = trashed.trashed_set && trashed.trashed;
        const bool same = result == OSTREL_SUCCESS && std::strcmp(trashed.id, r->file.id) == 0;
        ostrel_google_metadata_destroy(&trashed);
        if (result != OSTREL_SUCCESS) {
            co_return result;
        }
        if (!same || !is_trashed) {
            co_return op->odd("Drive's answer does not show the file trashed");
        }
    }
    s->cache_remove(r->parent_id.get(), r->file.id);
    if (Folder *own = s->find(r->file.id)) {
        s->drop(static_cast<size_t>(own - s->folders.data()));
    }
    op->file = r->file;
    op->file_extra = r->file_extra;
    r->file = Metadata{};
    co_return OSTREL_SUCCESS;
}

Task delete_op(Op *op)
{
    Resolved r;
    ostrel_result_t result = co_await resolve(op, op->path.get(), false, &r);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    if (r.parent_id == nullptr || is_folder(r.file)) {
        co_return op->odd("DELE removes files; a folder is removed with RMD, and only when empty", 550,
                          "IS_A_FOLDER");
    }
    co_return co_await remove_file(op, &r);
}

Task rmdir_op(Op *op)
{
    Session *const s = op->session;
    Resolved r;
    ostrel_result_t result = co_await resolve(op, op->path.get(), false, &r);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    if (r.parent_id == nullptr) {
        co_return op->odd("The root folder cannot be removed", 550, "PERMISSION_DENIED");
    }
    if (!is_folder(r.file)) {
        co_return op->odd("RMD removes folders; a file is removed with DELE", 550, "NOT_A_FOLDER");
    }
    // One request says whether it holds anything.
    char *query = nullptr;
    result = ostrel_google_drive_folder_query(r.file.id, false, &query);
    const Owned<char> owned(query);
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    Request *made = nullptr;
    const ostrel_result_t built = request_api("GET", s->base_url.get(), "/drive/v3/files", {}, {},
                                              {{"q", query},
                                               {"fields", "files(id)"},
                                               {"pageSize", "1"},
                                               {"includeItemsFromAllDrives", "true"},
                                               {"supportsAllDrives", "true"}},
                                              {}, &made);
    result = co_await send(op, built, made, {{200}});
    if (result != OSTREL_SUCCESS) {
        co_return result;
    }
    json_error_t error;
    json_t *answer = json_loadb(op->body.data(), op->body_length, 0, &error);
    const json_t *files = json_object_get(answer, "files");
    const bool readable = json_is_array(files);
    const size_t children = json_array_size(files);
    json_decref(answer);
    if (!readable) {
        co_return op->odd("Drive's answer to a folder's children holds no \"files\" array");
    }
    if (children > 1) {
        co_return op->odd("Drive sent more files than the page asked for");
    }
    if (children != 0) {
        co_return op->odd("The folder is not empty", 550, "FOLDER_NOT_EMPTY");
    }
    co_return co_await remove_file(op, &r);
}

// A new operation running body(op).
// What an operation is asked besides its paths.
struct Inputs {
    uint64_t offset = 0;
    uint64_t length = 0;
    bool flag = false;
    int64_t modified_ms = OSTREL_GOOGLE_DRIVE_NO_TIME;
    bool writing = false;  // a write, whose end ostrel_google_drive_op_write_end() may give
};

[[nodiscard]] ostrel_result_t start(Session *session, const char *path, const char *other_path,
                                    const char *operation, uint64_t now_ms, Task (*body)(Op *), Op **opp,
                                    Inputs inputs = {}) noexcept
{
    OSTREL_GDC_REQUIRE(session != NULL);
    OSTREL_GDC_REQUIRE(path != NULL);
    OSTREL_GDC_REQUIRE(opp != NULL);
    *opp = nullptr;
    void *block = mem_malloc(sizeof(Op));
    if (block == nullptr) {
        return system_error("malloc");
    }
    Op *op = new (block) Op;
    op->session = session;
    op->operation = operation;
    op->now_ms = now_ms;
    op->path.reset(mem_strdup(path));
    if (other_path != nullptr) {
        op->other_path.reset(mem_strdup(other_path));
    }
    if (op->path == nullptr || (other_path != nullptr && op->other_path == nullptr)) {
        ostrel_google_drive_op_free(op);
        return system_error("malloc");
    }
    op->offset = inputs.offset;
    op->length = inputs.length;
    op->flag = inputs.flag;
    op->modified_ms = inputs.modified_ms;
    op->writing = inputs.writing;
    size_t depth = 1;
    for (const char *c = path; *c != '\0'; ++c) {
        depth += *c == '/' ? 1 : 0;
    }
    if (other_path != nullptr) {
        for (const char *c = other_path; *c != '\0'; ++c) {
            depth += *c == '/' ? 1 : 0;
        }
    }
    op->budget = session->attempts * (2 + (depth + 2) * (2 * session->page_limit + 1)) + 3 * session->attempts;
    op->task = body(op);
    if (op->task.handle()) {
        op->task.handle().resume();
    }
    op->settle();
    *opp = op;
    return OSTREL_SUCCESS;
}



}  // namespace

ostrel_result_t ostrel_google_drive_session_create(const char *base_url, const char *root_id,
                                                   ostrel_google_drive_session_t **sessionp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(sessionp != NULL);
    *sessionp = nullptr;
    const char *const root = root_id != nullptr ? root_id : "root";
    const char *const base = base_url != nullptr ? base_url : OSTREL_GOOGLE_DRIVE_API_URL;
    ostrel_result_t result = is_id(root) ? OSTREL_SUCCESS : invalid_id_error(root, "root", root);
    char origin[300];
    if (result == OSTREL_SUCCESS && !origin_of(base, origin)) {
        errno = EINVAL;
        result = system_error("ostrel_google_drive_session_create");
    }
    void *block = result == OSTREL_SUCCESS ? mem_malloc(sizeof(Session)) : nullptr;
    if (result == OSTREL_SUCCESS && block == nullptr) {
        result = system_error("malloc");
    }
    if (result == OSTREL_SUCCESS) {
        Session *session = new (block) Session;
        std::memcpy(session->origin, origin, sizeof origin);
        session->base_url.reset(mem_strdup(base));
        session->root_alias.reset(mem_strdup(root));
        if (session->base_url == nullptr || session->root_alias == nullptr) {
            ostrel_google_drive_session_free(session);
            result = system_error("malloc");
        } else {
            *sessionp = session;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

void ostrel_google_drive_session_set_limits(ostrel_google_drive_session_t *session, unsigned attempts,
                                            uint64_t cache_age_ms, size_t cache_files, size_t page_limit) noexcept
{
    OSTREL_GDC_REQUIRE(session != NULL);
    session->attempts = attempts != 0 ? attempts : OSTREL_GOOGLE_DRIVE_RETRY_ATTEMPTS;
    session->cache_age_ms = cache_age_ms != 0 ? cache_age_ms : OSTREL_GOOGLE_DRIVE_CACHE_AGE_MS;
    session->cache_files = cache_files != 0 ? cache_files : OSTREL_GOOGLE_DRIVE_CACHE_FILES;
    session->page_limit = page_limit != 0 ? page_limit : OSTREL_GOOGLE_DRIVE_PAGE_LIMIT;
    while (session->cached_files > session->cache_files) {
        session->drop(0);
    }
}

void ostrel_google_drive_session_forget(ostrel_google_drive_session_t *session) noexcept
{
    OSTREL_GDC_REQUIRE(session != NULL);
    session->forget();
}

uint64_t ostrel_google_drive_session_request_count(const ostrel_google_drive_session_t *session) noexcept
{
    OSTREL_GDC_REQUIRE(session != NULL);
    return session->requests;
}

void ostrel_google_drive_session_free(ostrel_google_drive_session_t *session) noexcept
{
    if (session != nullptr) {
        session->~ostrel_google_drive_session_s();
        std::free(session);
    }
}

ostrel_result_t ostrel_google_drive_op_stat(ostrel_google_drive_session_t *session, const char *path,
                                            uint64_t now_ms, ostrel_google_drive_op_t **opp) noexcept
{
    return start(session, path, nullptr, "Stat of a GridFTP path", now_ms, stat_op, opp);
}

ostrel_result_t ostrel_google_drive_op_list(ostrel_google_drive_session_t *session, const char *path,
                                            uint64_t now_ms, ostrel_google_drive_op_t **opp) noexcept
{
    return start(session, path, nullptr, "Listing a GridFTP folder", now_ms, list_op, opp);
}

ostrel_result_t ostrel_google_drive_op_list_trashed(ostrel_google_drive_session_t *session, const char *path,
                                                    uint64_t now_ms, ostrel_google_drive_op_t **opp) noexcept
{
    return start(session, path, nullptr, "Listing a GridFTP folder with its trash", now_ms, list_op, opp,
                 {0, 0, true});
}

ostrel_result_t ostrel_google_drive_op_read(ostrel_google_drive_session_t *session, const char *path,
                                            uint64_t offset, uint64_t length, bool can_restart, uint64_t now_ms,
                                            ostrel_google_drive_op_t **opp) noexcept
{
    return start(session, path, nullptr, "Reading a file", now_ms, read_op, opp, {offset, length, can_restart});
}

ostrel_result_t ostrel_google_drive_op_write(ostrel_google_drive_session_t *session, const char *path,
                                             uint64_t size, int64_t modified_ms, uint64_t now_ms,
                                             ostrel_google_drive_op_t **opp) noexcept
{
    return start(session, path, nullptr, "Uploading a file", now_ms, write_op, opp,
                 {0, size, false, modified_ms, true});
}

ostrel_result_t ostrel_google_drive_op_set_time(ostrel_google_drive_session_t *session, const char *path,
                                                int64_t modified_ms, uint64_t now_ms,
                                                ostrel_google_drive_op_t **opp) noexcept
{
    return start(session, path, nullptr, "Setting a file's modification time", now_ms, time_op, opp,
                 {0, 0, false, modified_ms});
}

void ostrel_google_drive_op_write_end(ostrel_google_drive_op_t *op, uint64_t total) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    OSTREL_GDC_REQUIRE(op->writing);
    OSTREL_GDC_REQUIRE(total != OSTREL_GOOGLE_DRIVE_SIZE_UNKNOWN && total >= op->bytes);
    if (op->length != OSTREL_GOOGLE_DRIVE_SIZE_UNKNOWN) {
        OSTREL_GDC_REQUIRE(op->length == total);
        return;
    }
    op->length = total;
    if (!op->ended && op->wait == Op::Wait::answer && op->request != nullptr && op->request->data_length != 0) {
        op->status = rebuild_status;
        op->answer_error.reset();
        op->resume();
    }
}

void ostrel_google_drive_op_set_md5(ostrel_google_drive_op_t *op, const char *md5) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    OSTREL_GDC_REQUIRE(md5 != NULL);
    std::snprintf(op->given_md5, sizeof op->given_md5, "%s", md5);
    for (char &c : op->given_md5) {
        c = c >= 'A' && c <= 'F' ? static_cast<char>(c + 32) : c;
    }
}

void ostrel_google_drive_op_set_create_only(ostrel_google_drive_op_t *op) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    OSTREL_GDC_REQUIRE(op->writing);
    op->create_only = true;
}

void ostrel_google_drive_op_set_chunk_size(ostrel_google_drive_op_t *op, uint64_t bytes) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    OSTREL_GDC_REQUIRE(op->writing);
    constexpr uint64_t unit = OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT;
    op->chunk_size = bytes < unit ? unit : bytes - bytes % unit;
}

ostrel_result_t ostrel_google_drive_op_mkdir(ostrel_google_drive_session_t *session, const char *path,
                                             uint64_t now_ms, ostrel_google_drive_op_t **opp) noexcept
{
    return start(session, path, nullptr, "Making a folder", now_ms, mkdir_op, opp);
}

ostrel_result_t ostrel_google_drive_op_rename(ostrel_google_drive_session_t *session, const char *from,
                                              const char *to, uint64_t now_ms, ostrel_google_drive_op_t **opp) noexcept
{
    OSTREL_GDC_REQUIRE(to != NULL);
    return start(session, from, to, "Renaming a file", now_ms, rename_op, opp);
}

ostrel_result_t ostrel_google_drive_op_delete(ostrel_google_drive_session_t *session, const char *path,
                                              bool permanent, uint64_t now_ms, ostrel_google_drive_op_t **opp) noexcept
{
    return start(session, path, nullptr, "Deleting a file", now_ms, delete_op, opp, {0, 0, permanent});
}

ostrel_result_t ostrel_google_drive_op_rmdir(ostrel_google_drive_session_t *session, const char *path,
                                             bool permanent, uint64_t now_ms, ostrel_google_drive_op_t **opp) noexcept
{
    return start(session, path, nullptr, "Removing a folder", now_ms, rmdir_op, opp, {0, 0, permanent});
}

ostrel_result_t ostrel_google_drive_op_get(ostrel_google_drive_session_t *session, const char *file_id,
                                           uint64_t now_ms, ostrel_google_drive_op_t **opp) noexcept
{
    return start(session, file_id, nullptr, "Getting a file by id", now_ms, get_op, opp);
}

ostrel_result_t ostrel_google_drive_op_next(ostrel_google_drive_op_t *op,
                                            const ostrel_google_drive_request_t **requestp,
                                            unsigned long *delay_msp) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    OSTREL_GDC_REQUIRE(delay_msp != NULL);
    *requestp = nullptr;
    *delay_msp = 0;
    if (op->ended) {
        if (op->told) {
            return op->odd("The operation has ended and told its outcome");
        }
        op->told = true;
        return op->outcome.take();
    }
    if (op->requests >= op->budget) {
        op->task = Task();
        op->waiting = nullptr;
        op->ended = true;
        op->told = true;
        op->request.reset();
        return op->odd("The operation reached its bound of requests");
    }
    OSTREL_GDC_REQUIRE(op->wait == Op::Wait::answer);
    *requestp = op->request.get();
    *delay_msp = op->delay_ms;
    return OSTREL_SUCCESS;
}

bool ostrel_google_drive_op_streams(const ostrel_google_drive_op_t *op) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    return !op->ended && op->streams;
}

ostrel_result_t ostrel_google_drive_op_feed(ostrel_google_drive_op_t *op, int status, const char *headers,
                                            const char *body, size_t length, unsigned random_ms,
                                            uint64_t now_ms) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    OSTREL_GDC_REQUIRE(body != NULL || length == 0);
    if (op->streams) {
        bool deliver = false;
        uint64_t skip = 0;
        uint64_t count = 0;
        ostrel_result_t result = ostrel_google_drive_op_feed_head(op, status, headers, random_ms, now_ms, &deliver,
                                                                  &skip, &count);
        if (result == OSTREL_SUCCESS && op->head_only) {
            return ostrel_google_drive_op_feed_body(op, body, length);
        }
        if (result != OSTREL_SUCCESS || op->wait != Op::Wait::body) {
            return result;
        }
        // The content to pass on, kept for ostrel_google_drive_op_content().
        const size_t from = skip < length ? static_cast<size_t>(skip) : length;
        const size_t n = count < length - from ? static_cast<size_t>(count) : length - from;
        op->content.reset(static_cast<char *>(mem_malloc(n + 1)));
        if (op->content == nullptr) {
            return system_error("malloc");
        }
        std::memcpy(op->content.get(), body + from, n);
        op->content_view = op->content.get();
        op->content_length = n;
        return ostrel_google_drive_op_feed_end(op, length, true);
    }
    OSTREL_GDC_REQUIRE(op->wait == Op::Wait::answer);
    op->now_ms = now_ms;
    ostrel_result_t result = op->store_answer(status, headers, random_ms);
    if (result == OSTREL_SUCCESS) {
        result = op->store_body(body, length);
    }
    if (result != OSTREL_SUCCESS) {
        return result;
    }
    return op->fed(op->decide());
}

ostrel_result_t ostrel_google_drive_op_feed_head(ostrel_google_drive_op_t *op, int status, const char *headers,
                                                 unsigned random_ms, uint64_t now_ms, bool *deliverp, uint64_t *skipp,
                                                 uint64_t *countp) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    OSTREL_GDC_REQUIRE(deliverp != NULL && skipp != NULL && countp != NULL);
    OSTREL_GDC_REQUIRE(op->wait == Op::Wait::answer && op->streams);
    *deliverp = false;
    *skipp = 0;
    *countp = 0;
    op->now_ms = now_ms;
    ostrel_result_t result = op->store_answer(status, headers, random_ms);
    if (result != OSTREL_SUCCESS) {
        return result;
    }
    op->content_view = nullptr;
    op->content_length = 0;
    if (!op->expect.takes(status)) {
        op->head_only = true;  // its body, an error's, comes with feed_body
        return OSTREL_SUCCESS;
    }
    op->deliver = false;
    result = op->fed(op->decide());
    if (result == OSTREL_SUCCESS && op->wait == Op::Wait::body) {
        *deliverp = op->deliver;
        *skipp = op->skip;
        *countp = op->count;
    }
    return result;
}

ostrel_result_t ostrel_google_drive_op_feed_body(ostrel_google_drive_op_t *op, const char *body, size_t length) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    OSTREL_GDC_REQUIRE(body != NULL || length == 0);
    OSTREL_GDC_REQUIRE(op->head_only);
    op->head_only = false;
    const ostrel_result_t result = op->store_body(body, length);
    if (result != OSTREL_SUCCESS) {
        return result;
    }
    return op->fed(op->decide());
}

ostrel_result_t ostrel_google_drive_op_feed_end(ostrel_google_drive_op_t *op, uint64_t received, bool complete) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    OSTREL_GDC_REQUIRE(op->wait == Op::Wait::body);
    op->received = received;
    op->complete = complete;
    op->resume();
    return op->fed(OSTREL_SUCCESS);
}

bool ostrel_google_drive_op_discard(ostrel_google_drive_op_t *op) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    const bool discard = op->discard;
    op->discard = false;
    return discard;
}

const char *ostrel_google_drive_op_content(const ostrel_google_drive_op_t *op, size_t *lengthp) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    OSTREL_GDC_REQUIRE(lengthp != NULL);
    *lengthp = op->content_view != nullptr ? op->content_length : 0;
    return op->content_view;
}

uint64_t ostrel_google_drive_op_bytes(const ostrel_google_drive_op_t *op) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    return op->bytes;
}

const char *ostrel_google_drive_op_md5(const ostrel_google_drive_op_t *op) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    return op->md5[0] != '\0' ? op->md5 : nullptr;
}

const ostrel_google_metadata_t *ostrel_google_drive_op_file(const ostrel_google_drive_op_t *op) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    return op->file.id != nullptr ? &op->file : nullptr;
}

size_t ostrel_google_drive_op_entry_count(const ostrel_google_drive_op_t *op) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    return op->ended && !op->outcome.failed() ? op->names.size() : 0;
}

const ostrel_google_metadata_t *ostrel_google_drive_op_entry(const ostrel_google_drive_op_t *op, size_t index) noexcept
{
    return index < ostrel_google_drive_op_entry_count(op) ? &op->entries.items[index] : nullptr;
}

const char *ostrel_google_drive_op_entry_name(const ostrel_google_drive_op_t *op, size_t index) noexcept
{
    return index < ostrel_google_drive_op_entry_count(op) ? op->names[index] : nullptr;
}

char *ostrel_google_drive_op_facts(const ostrel_google_drive_op_t *op, size_t index) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    const bool own = index == SIZE_MAX;
    const Metadata *file = own ? ostrel_google_drive_op_file(op) : ostrel_google_drive_op_entry(op, index);
    if (file == nullptr) {
        return nullptr;
    }
    const Extra &extra = own ? op->file_extra : op->entries.extras[index];
    char *facts = nullptr;
    const ostrel_result_t result =
        ostrel_google_drive_facts(file, extra.capabilities, extra.modified_ms, extra.created_ms, &facts);
    ostrel_object_free(ostrel_error_get(result));
    return facts;
}

size_t ostrel_google_drive_op_step_count(const ostrel_google_drive_op_t *op) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    return op->steps.items.size();
}

const ostrel_google_metadata_t *ostrel_google_drive_op_step(const ostrel_google_drive_op_t *op, size_t index) noexcept
{
    return index < ostrel_google_drive_op_step_count(op) ? &op->steps.items[index] : nullptr;
}

size_t ostrel_google_drive_op_left_out(const ostrel_google_drive_op_t *op, bool *incompletep) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    if (incompletep != nullptr) {
        *incompletep = op->incomplete;
    }
    return op->left_out;
}

unsigned ostrel_google_drive_op_restarts(const ostrel_google_drive_op_t *op) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    return op->restarts;
}

uint64_t ostrel_google_drive_op_request_count(const ostrel_google_drive_op_t *op) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    return op->requests;
}

void ostrel_google_drive_op_free(ostrel_google_drive_op_t *op) noexcept
{
    if (op != nullptr) {
        op->~ostrel_google_drive_op_s();
        std::free(op);
    }
}

ostrel_result_t ostrel_google_drive_op_run(ostrel_google_drive_op_t *op, ostrel_google_drive_send_fn send,
                                           void *user) noexcept
{
    OSTREL_GDC_REQUIRE(op != NULL);
    OSTREL_GDC_REQUIRE(send != NULL);
    for (;;) {
        const ostrel_google_drive_request_t *request = nullptr;
        unsigned long delay_ms = 0;
        ostrel_result_t result = ostrel_google_drive_op_next(op, &request, &delay_ms);
        if (result != OSTREL_SUCCESS || request == nullptr) {
            return result;
        }
        result = send(user, op, request, delay_ms);
        if (result != OSTREL_SUCCESS) {
            return result;
        }
    }
}

char *ostrel_google_drive_reply(ostrel_result_t result, int *codep, bool details) noexcept
{
    OSTREL_GDC_REQUIRE(codep != NULL);
    ostrel_object_t *const error = ostrel_error_peek(result);
    const int code = ostrel_gfs_error_get_ftp_response_code(error);
    *codep = code > 0 ? code : 451;
    const char *const error_code = ostrel_gfs_error_get_ftp_response_error_code(error);
    const char *const message = ostrel_gfs_error_get_ftp_response_message(error);
    char *const friendly = code > 0 ? nullptr : ostrel_error_print_friendly(error);
    const Owned<char> owned_friendly(friendly);
    const char *const gd_details = ostrel_google_drive_error_get_info(error, "GD-Details");
    const char *const gd_path = ostrel_google_drive_error_get_info(error, "GD-Path");
    const size_t count = details ? ostrel_google_drive_error_get_info_count(error) : 0;
    const ExactText text = exact_text([&](auto &out) {
        const char *sep = "";
        for (const char *part : {error_code, gd_path != nullptr ? nullptr : message, static_cast<const char *>(friendly)}) {
            if (part != nullptr && part[0] != '\0') {
                out.put(sep);
                put_printable(out, part);
                sep = ": ";
            }
        }
        if (gd_path != nullptr) {  // the whole client path, not the element a lookup named
            out.put(sep);
            out.put("GridFTP-Path: ");
            put_printable(out, gd_path);
            sep = ": ";
        }
        if (!details && gd_details != nullptr) {
            out.put(sep);
            put_printable(out, gd_details);
        }
        for (size_t i = 0; i < count; ++i) {
            const char *key = nullptr;
            const char *value = nullptr;
            if (ostrel_google_drive_error_get_info_entry(error, i, &key, &value)) {
                out.put('\n');
                put_printable(out, key);
                out.put(": ");
                put_printable(out, value);
            }
        }
    });
    if (text.text != nullptr) {
        OSTREL_GDC_REQUIRE(text.written == text.counted);
    }
    return text.text;
}
