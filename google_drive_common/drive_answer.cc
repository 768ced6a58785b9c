// Drive's answers read: errors mapped to FTP replies, retry delays, files.list
// pages into records, and the listing of a folder across its pages.
#include <jansson.h>

#include <cerrno>
#include <cinttypes>
#include <new>
#include <utility>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "drive_answer.h"
#include "drive_request.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "memory.h"
#include "stop.h"

namespace {

using namespace ostrel::gdc;

struct Mapping {
    int ftp_code;
    const char *text;
    bool retry;
};

[[nodiscard]] bool is_one_of(const char *reason, std::initializer_list<std::string_view> reasons) noexcept
{
    if (reason == nullptr) {
        return false;
    }
    for (const std::string_view r : reasons) {
        if (r == reason) {
            return true;
        }
    }
    return false;
}

// The table of ostrel_google_drive_answer_error(), in the header's order.
[[nodiscard]] Mapping map_status(int status, const char *reason) noexcept
{
    switch (status) {
    case 400:
        return {501, "BAD_REQUEST", false};
    case 401:
        return {530, "NOT_AUTHORIZED", false};
    case 403:
        if (is_one_of(reason, {"userRateLimitExceeded", "rateLimitExceeded"})) {
            return {421, "RATE_LIMITED", true};
        }
        if (is_one_of(reason, {"dailyLimitExceeded"})) {
            return {421, "RATE_LIMITED", false};
        }
        if (is_one_of(reason, {"storageQuotaExceeded", "teamDriveFileLimitExceeded",
                               "numChildrenInNonRootLimitExceeded", "activeItemCreationLimitExceeded"})) {
            return {552, "QUOTA_EXCEEDED", false};
        }
        return {550, "PERMISSION_DENIED", false};
    case 429:
        return {421, "RATE_LIMITED", true};
    case 404:
        return {550, "PATH_NOT_FOUND", false};
    case 416:
        return {554, "INVALID_RESTART", false};
    case 0:
    case 500:
    case 502:
    case 503:
    case 504:
        return {451, "DRIVE_UNAVAILABLE", true};
    default:
        return {451, "DRIVE_ERROR", false};
    }
}

// Whether Jansson ran out of memory while loading (errno cleared before):
// not every failed allocation of its lexer is reported, and some only cut
// a character from a text it then returns, but malloc sets errno.
[[nodiscard]] bool ran_out_of_memory(const json_t *json, const json_error_t &failure) noexcept
{
    return errno == ENOMEM || (json == nullptr && json_error_code(&failure) == json_error_out_of_memory);
}

// Drive's error JSON: {"error": {"code", "message", "errors": [{"reason"}]}}.
struct DriveError {
    json_t *json = nullptr;
    const char *message = nullptr;
    const char *reason = nullptr;
    DriveError() = default;
    DriveError(const DriveError &) = delete;
    DriveError &operator=(const DriveError &) = delete;
    ~DriveError() { json_decref(json); }
};

// False also when Jansson ran out of memory, which *out_of_memory tells.
[[nodiscard]] bool read_drive_error(const char *body, size_t length, DriveError *error, bool *out_of_memory) noexcept
{
    *out_of_memory = false;
    if (length == 0) {
        return false;
    }
    json_error_t failure;
    errno = 0;
    error->json = json_loadb(body, length, 0, &failure);
    *out_of_memory = ran_out_of_memory(error->json, failure);
    if (*out_of_memory) {
        return false;
    }
    const json_t *inner = json_object_get(error->json, "error");
    error->message = json_string_value(json_object_get(inner, "message"));
    error->reason = json_string_value(json_object_get(json_array_get(json_object_get(inner, "errors"), 0), "reason"));
    return error->message != nullptr;
}

constexpr size_t excerpt_bytes = 120;

// A body that is no Drive error, shown safely: printable ASCII as it is, any
// other byte (and "\") as \xHH, cut after excerpt_bytes.
template <class Sink>
void write_excerpt(Sink &out, int status, const char *body, size_t length) noexcept
{
    if (status == 0) {
        out.put("No answer from Drive");
        return;
    }
    if (length == 0) {
        out.put("An empty answer");
        return;
    }
    static constexpr char hex[] = "0123456789abcdef";
    out.put("An answer that is not Drive's error: \"");
    const size_t shown = length < excerpt_bytes ? length : excerpt_bytes;
    for (size_t i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(body[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out.put(static_cast<char>(c));
            continue;
        }
        out.put("\\x");
        out.put(hex[c >> 4]);
        out.put(hex[c & 15]);
    }
    out.put(shown < length ? "\"..." : "\"");
}

// A text of decimal digits read with saturation; false for anything else.
[[nodiscard]] bool read_seconds(const char *text, unsigned long *seconds) noexcept
{
    std::string_view value = text;
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
        value.remove_suffix(1);
    }
    if (value.empty()) {
        return false;
    }
    unsigned long total = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') {
            return false;
        }
        total = total > 1000000 ? total : total * 10 + static_cast<unsigned long>(c - '0');
    }
    *seconds = total;
    return true;
}

}  // namespace

ostrel_result_t ostrel_google_drive_answer_error(int http_status, const char *body, size_t length,
                                                 const char *operation, const char *client_path,
                                                 bool *retryp) noexcept
{
    OSTREL_GDC_REQUIRE(body != NULL || length == 0);
    OSTREL_GDC_REQUIRE(retryp != NULL);
    *retryp = false;
    if ((http_status >= 200 && http_status < 300) || http_status == 308) {
        return OSTREL_SUCCESS;
    }
    DriveError drive;
    bool out_of_memory = false;
    const bool is_drive_error = read_drive_error(body, length, &drive, &out_of_memory);
    if (out_of_memory) {
        errno = ENOMEM;
        return system_error("malloc");
    }
    const Mapping mapping = map_status(http_status, drive.reason);
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "HTTP %d reason %s: FTP %d %s%s\n", http_status,
                                   or_null(drive.reason), mapping.ftp_code, mapping.text,
                                   mapping.retry ? " (may be retried)" : "");
    char status[24];
    std::snprintf(status, sizeof status, "%d", http_status);
    Owned<char> excerpt;
    if (!is_drive_error) {
        const ExactText text = exact_text([=](auto &out) { write_excerpt(out, http_status, body, length); });
        if (text.text == nullptr) {
            return system_error("malloc");
        }
        OSTREL_GDC_REQUIRE(text.written == text.counted);
        excerpt.reset(text.text);
    }
    *retryp = mapping.retry;
    return drive_ftp_error(mapping.ftp_code, mapping.text, client_path,
                           {{"GD-Operation", operation},
                            {"GD-Path", client_path},
                            {"GD-Details", is_drive_error ? drive.message : excerpt.get()},
                            {"GD-Reason", drive.reason},
                            {"GD-HTTP-Status", status}});
}

unsigned long ostrel_google_drive_retry_delay_ms(unsigned attempt, unsigned random_ms,
                                                 const char *retry_after) noexcept
{
    constexpr unsigned long cap_ms = 64000;
    constexpr unsigned long retry_after_cap_ms = 3600000;
    unsigned long seconds = 0;
    if (retry_after != nullptr && read_seconds(retry_after, &seconds)) {
        return seconds >= retry_after_cap_ms / 1000 ? retry_after_cap_ms : seconds * 1000;
    }
    // 2^6 s already passes the cap: larger exponents change nothing.
    const unsigned exponent = attempt <= 1 ? 0 : (attempt - 1 < 6 ? attempt - 1 : 6);
    const unsigned long delay = (1000UL << exponent) + (random_ms < 1000 ? random_ms : 999);
    return delay < cap_ms ? delay : cap_ms;
}

namespace {

using Metadata = ostrel_google_metadata_t;
using Refusal = ostrel_google_drive_refusal_t;
using Page = ostrel_google_drive_page_t;

// v3 keeps canEdit inside "capabilities"; a top-level one, if ever sent, wins.
void take_capabilities(const json_t *resource, Metadata *file) noexcept
{
    if (file->can_edit_set) {
        return;
    }
    const json_t *can_edit = json_object_get(json_object_get(resource, "capabilities"), "canEdit");
    if (json_is_boolean(can_edit)) {
        file->can_edit = json_is_true(can_edit);
        file->can_edit_set = true;
    }
}

[[nodiscard]] ostrel::gdc::Extra extra_of(const json_t *resource) noexcept
{
    ostrel::gdc::Extra extra;
    extra.capabilities = ostrel_google_drive_capabilities(resource);
    ostrel_google_drive_resource_times(resource, &extra.modified_ms, &extra.created_ms);
    return extra;
}

// The answer's body as JSON; on failure a 451 saying where it breaks.
[[nodiscard]] ostrel_result_t load_answer(const char *body, size_t length, const char *what, json_t **jsonp) noexcept
{
    json_error_t error;
    errno = 0;
    *jsonp = json_loadb(length != 0 ? body : "", length, 0, &error);
    char details[256];
    if (ran_out_of_memory(*jsonp, error)) {
        json_decref(*jsonp);
        *jsonp = nullptr;
        errno = ENOMEM;
        return system_error("malloc");
    }
    if (*jsonp == nullptr) {
        // Jansson names its own flag here; say what the body holds.
        constexpr std::string_view nul = "\\u0000 is not allowed without JSON_ALLOW_NUL";
        const std::string_view said = error.text;
        const bool is_nul = said.starts_with(nul);
        std::snprintf(details, sizeof details, "%s is not JSON: %s%s (line %d, column %d)", what,
                      is_nul ? "a NUL character (\\u0000) in a JSON string" : "",
                      error.text + (is_nul ? nul.size() : 0), error.line, error.column);
    } else if (!json_is_object(*jsonp)) {
        std::snprintf(details, sizeof details, "%s is not a JSON object", what);
    } else {
        return OSTREL_SUCCESS;
    }
    json_decref(*jsonp);
    *jsonp = nullptr;
    return bad_answer_error(details);
}

// The one-line text of an error, which is freed.
[[nodiscard]] char *taken_error_text(ostrel_result_t result) noexcept
{
    ostrel_object_t *error = ostrel_error_get(result);
    char *text = ostrel_error_print_chain(error);
    ostrel_object_free(error);
    for (char *c = text; c != nullptr && *c != '\0'; ++c) {
        if (*c == '\n' || *c == '\r') {
            *c = ' ';
        }
    }
    return text;
}

[[nodiscard]] ostrel_result_t refuse(Page *page, size_t index, const json_t *resource, const char *why,
                                     ostrel_result_t parse_result) noexcept
{
    Refusal &refusal = page->refusals[page->refusal_count];
    const char *id = json_string_value(json_object_get(resource, "id"));
    refusal.index = index;
    refusal.id = id != nullptr ? mem_strdup(id) : nullptr;
    refusal.reason = why != nullptr ? mem_strdup(why) : taken_error_text(parse_result);
    if ((id != nullptr && refusal.id == nullptr) || refusal.reason == nullptr) {
        std::free(refusal.id);
        std::free(refusal.reason);
        refusal = Refusal{};
        return system_error("malloc");
    }
    ++page->refusal_count;
    return OSTREL_SUCCESS;
}

// Each resource's JSON is released once read, so its memory serves the
// next records: a page costs about the larger of the two, not their sum.
[[nodiscard]] ostrel_result_t read_files(json_t *files, Page *page, ostrel::gdc::Extra *extras) noexcept
{
    const size_t count = json_array_size(files);
    if (count == 0) {
        return OSTREL_SUCCESS;
    }
    page->files = static_cast<Metadata *>(mem_calloc(count, sizeof(Metadata)));
    page->refusals = static_cast<Refusal *>(mem_calloc(count, sizeof(Refusal)));
    if (page->files == nullptr || page->refusals == nullptr) {
        return system_error("malloc");
    }
    for (size_t i = 0; i < count; ++i) {
        json_t *resource = json_array_get(files, i);
        ostrel_result_t result = OSTREL_SUCCESS;
        if (!json_is_object(resource)) {
            result = refuse(page, i, resource, "not a JSON object", OSTREL_SUCCESS);
        } else if ((result = ostrel_google_metadata_parse(resource, &page->files[page->file_count]))
                   == OSTREL_SUCCESS) {
            if (extras != nullptr) {
                extras[page->file_count] = extra_of(resource);
            }
            take_capabilities(resource, &page->files[page->file_count++]);
        } else if (errno != ENOMEM) {
            result = refuse(page, i, resource, nullptr, result);
        }
        if (result != OSTREL_SUCCESS) {
            return result;
        }
        json_array_set_new(files, i, json_null());
    }
    return OSTREL_SUCCESS;
}

}  // namespace

namespace ostrel::gdc {

ostrel_result_t page_parse(const char *body, size_t length, ostrel_google_drive_page_t *page, Extra **extrasp) noexcept
{
    OSTREL_GDC_REQUIRE(body != NULL || length == 0);
    OSTREL_GDC_REQUIRE(page != NULL);
    *page = Page{};
    if (extrasp != nullptr) {
        *extrasp = nullptr;
    }
    json_t *json = nullptr;
    ostrel_result_t result = load_answer(body, length, "The files.list page", &json);
    json_t *files = json_object_get(json, "files");
    const json_t *token = json_object_get(json, "nextPageToken");
    Owned<Extra> extras;
    if (result != OSTREL_SUCCESS) {
    } else if (files != nullptr && !json_is_array(files)) {
        result = bad_answer_error("The files.list page's \"files\" is not an array");
    } else if (token != nullptr && !json_is_string(token)) {
        result = bad_answer_error("The files.list page's \"nextPageToken\" is not a text");
    } else if (token != nullptr && (page->next_page_token = mem_strdup(json_string_value(token))) == nullptr) {
        result = system_error("malloc");
    } else if (extrasp != nullptr && json_array_size(files) != 0
               && (extras.reset(static_cast<Extra *>(mem_calloc(json_array_size(files), sizeof(Extra)))),
                   extras == nullptr)) {
        result = system_error("malloc");
    } else {
        page->incomplete_search = json_is_true(json_object_get(json, "incompleteSearch"));
        result = read_files(files, page, extras.get());
    }
    json_decref(json);
    if (result != OSTREL_SUCCESS) {
        ostrel_google_drive_page_destroy(page);
    } else {
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "%zu files, %zu refused, %s\n",
                                       page->file_count, page->refusal_count,
                                       page->next_page_token != nullptr ? "more pages" : "the last page");
        if (extrasp != nullptr) {
            *extrasp = extras.release();
        }
    }
    return result;
}

ostrel_result_t file_parse(const char *body, size_t length, ostrel_google_metadata_t *file, Extra *extra) noexcept
{
    OSTREL_GDC_REQUIRE(body != NULL || length == 0);
    OSTREL_GDC_REQUIRE(file != NULL);
    *file = Metadata{};
    json_t *json = nullptr;
    ostrel_result_t result = load_answer(body, length, "The file resource", &json);
    if (result == OSTREL_SUCCESS) {
        result = ostrel_google_metadata_parse(json, file);
    }
    if (result == OSTREL_SUCCESS) {
        take_capabilities(json, file);
        if (extra != nullptr) {
            *extra = extra_of(json);
        }
    }
    json_decref(json);
    return result;
}

}  // namespace ostrel::gdc

ostrel_result_t ostrel_google_drive_page_parse(const char *body, size_t length, ostrel_google_drive_page_t *page) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    const ostrel_result_t result = ostrel::gdc::page_parse(body, length, page, nullptr);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

void ostrel_google_drive_page_destroy(ostrel_google_drive_page_t *page) noexcept
{
    if (page == nullptr) {
        return;
    }
    for (size_t i = 0; page->files != nullptr && i < page->file_count; ++i) {
        ostrel_google_metadata_destroy(&page->files[i]);
    }
    for (size_t i = 0; page->refusals != nullptr && i < page->refusal_count; ++i) {
        std::free(page->refusals[i].id);
        std::free(page->refusals[i].reason);
    }
    std::free(page->files);
    std::free(page->refusals);
    std::free(page->next_page_token);
    *page = Page{};
}

ostrel_result_t ostrel_google_drive_file_parse(const char *body, size_t length, ostrel_google_metadata_t *file) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    const ostrel_result_t result = ostrel::gdc::file_parse(body, length, file, nullptr);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

struct ostrel_google_drive_listing_s {
    Owned<char> base_url;  // NULL for the default
    Owned<char> folder_id;
    Owned<char> query;
    Owned<char> page_token;  // NULL for the first page
    bool include_trashed = false;
    unsigned attempts = 0;
    unsigned failed = 0;          // failed tries of the current request
    unsigned long delay_ms = 0;   // to wait before it
    bool restarted = false;       // after a refused page token
    bool complete = false;
    bool taken = false;
    bool incomplete_search = false;
    size_t pages = 0;
    size_t seen = 0;  // resources of all pages read, kept or not
    Metadata *records = nullptr;
    size_t record_count = 0;
    size_t record_capacity = 0;
    Refusal *refusals = nullptr;
    size_t refusal_count = 0;
    size_t refusal_capacity = 0;

    ostrel_google_drive_listing_s() = default;
    ostrel_google_drive_listing_s(const ostrel_google_drive_listing_s &) = delete;
    ostrel_google_drive_listing_s &operator=(const ostrel_google_drive_listing_s &) = delete;
    ~ostrel_google_drive_listing_s() { drop(); }

    // Forgets every page read.
    void drop() noexcept
    {
        for (size_t i = 0; i < record_count; ++i) {
            ostrel_google_metadata_destroy(&records[i]);
        }
        for (size_t i = 0; i < refusal_count; ++i) {
            std::free(refusals[i].id);
            std::free(refusals[i].reason);
        }
        std::free(records);
        std::free(refusals);
        records = nullptr;
        refusals = nullptr;
        record_count = record_capacity = refusal_count = refusal_capacity = 0;
        pages = seen = 0;
        incomplete_search = false;
    }
};

namespace {

using Listing = ostrel_google_drive_listing_t;

// Room for more entries in a growing array, doubling.
template <class T>
[[nodiscard]] bool grow(T **array, size_t *capacity, size_t needed) noexcept
{
    if (needed <= *capacity) {
        return true;
    }
    size_t wanted = *capacity < 16 ? 16 : *capacity * 2;
    wanted = wanted < needed ? needed : wanted;
    auto *grown = static_cast<T *>(mem_realloc(*array, wanted * sizeof(T)));
    if (grown == nullptr) {
        return false;
    }
    *array = grown;
    *capacity = wanted;
    return true;
}

// Moves a page's records and refusals into the listing; the page keeps nothing.
[[nodiscard]] ostrel_result_t take_page(Listing *listing, Page *page) noexcept
{
    if (!grow(&listing->records, &listing->record_capacity, listing->record_count + page->file_count)
        || !grow(&listing->refusals, &listing->refusal_capacity, listing->refusal_count + page->refusal_count)) {
        return system_error("malloc");
    }
    for (size_t i = 0; i < page->file_count; ++i) {
        Metadata &file = page->files[i];
        if (file.trashed_set && file.trashed && !listing->include_trashed) {
            ostrel_google_metadata_destroy(&file);
        } else {
            listing->records[listing->record_count++] = file;
        }
    }
    for (size_t i = 0; i < page->refusal_count; ++i) {
        Refusal &refusal = listing->refusals[listing->refusal_count++];
        refusal = page->refusals[i];
        refusal.index += listing->seen;
    }
    listing->seen += page->file_count + page->refusal_count;
    listing->incomplete_search = listing->incomplete_search || page->incomplete_search;
    ++listing->pages;
    page->file_count = 0;
    page->refusal_count = 0;
    return OSTREL_SUCCESS;
}

}  // namespace

ostrel_result_t ostrel_google_drive_listing_create(const char *base_url, const char *folder_id, bool include_trashed,
                                                   unsigned attempts, ostrel_google_drive_listing_t **listingp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(folder_id != NULL);
    OSTREL_GDC_REQUIRE(listingp != NULL);
    *listingp = nullptr;
    char *query = nullptr;
    ostrel_result_t result = ostrel_google_drive_folder_query(folder_id, include_trashed, &query);
    Owned<char> owned_query(query);
    void *memory = result == OSTREL_SUCCESS ? mem_malloc(sizeof(Listing)) : nullptr;
    if (result == OSTREL_SUCCESS && memory == nullptr) {
        result = system_error("malloc");
    }
    if (result == OSTREL_SUCCESS) {
        auto *listing = new (memory) Listing();
        listing->query = std::move(owned_query);
        listing->include_trashed = include_trashed;
        listing->attempts = attempts != 0 ? attempts : OSTREL_GOOGLE_DRIVE_RETRY_ATTEMPTS;
        listing->folder_id.reset(mem_strdup(folder_id));
        if (base_url != nullptr) {
            listing->base_url.reset(mem_strdup(base_url));
        }
        if (listing->folder_id == nullptr || (base_url != nullptr && listing->base_url == nullptr)) {
            ostrel_google_drive_listing_free(listing);
            result = system_error("malloc");
        } else {
            *listingp = listing;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_listing_next(ostrel_google_drive_listing_t *listing,
                                                 ostrel_google_drive_request_t **requestp,
                                                 unsigned long *delay_msp) noexcept
{
    OSTREL_GDC_REQUIRE(listing != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    OSTREL_GDC_REQUIRE(delay_msp != NULL);
    *requestp = nullptr;
    *delay_msp = 0;
    if (listing->complete) {
        return OSTREL_SUCCESS;
    }
    const ostrel_result_t result = ostrel_google_drive_request_list(listing->base_url.get(), listing->query.get(),
                                                                    listing->page_token.get(), requestp);
    if (result == OSTREL_SUCCESS) {
        *delay_msp = listing->delay_ms;
    }
    return result;
}

ostrel_result_t ostrel_google_drive_listing_feed(ostrel_google_drive_listing_t *listing,
                                                 const ostrel_google_drive_answer_t *answer) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(listing != NULL);
    OSTREL_GDC_REQUIRE(answer != NULL);
    OSTREL_GDC_REQUIRE(!listing->complete);
    bool retry = false;
    ostrel_result_t result = ostrel_google_drive_answer_error(answer->status, answer->body, answer->length,
                                                              "Listing a folder", nullptr, &retry);
    if (result != OSTREL_SUCCESS) {
        if (answer->status == 400 && listing->page_token != nullptr && !listing->restarted) {
            // A page token Drive no longer takes: from the first page, once.
            OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_INFO,
                                           "Page token refused; listing %s again from the first page\n",
                                           listing->folder_id.get());
            ostrel_object_free(ostrel_error_get(result));
            listing->restarted = true;
            listing->page_token.reset();
            listing->drop();
            listing->failed = 0;
            listing->delay_ms = 0;
            result = OSTREL_SUCCESS;
        } else if (retry && listing->failed + 1 < listing->attempts) {
            ++listing->failed;
            listing->delay_ms = ostrel_google_drive_retry_delay_ms(listing->failed, answer->random_ms,
                                                                   answer->retry_after);
            OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_INFO,
                                           "HTTP %d, attempt %u of %u: again in %lu ms\n", answer->status,
                                           listing->failed, listing->attempts, listing->delay_ms);
            ostrel_object_free(ostrel_error_get(result));
            result = OSTREL_SUCCESS;
        } else {
            // Spent: a caller that goes on gets fresh attempts.
            listing->failed = 0;
            listing->delay_ms = 0;
        }
        OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
        return result;
    }
    Page page;
    result = ostrel_google_drive_page_parse(answer->body, answer->length, &page);
    if (result == OSTREL_SUCCESS) {
        result = take_page(listing, &page);
    }
    if (result == OSTREL_SUCCESS) {
        listing->failed = 0;
        listing->delay_ms = 0;
        // Only a missing token ends: short and empty pages do not.
        if (page.next_page_token == nullptr || page.next_page_token[0] == '\0') {
            listing->complete = true;
            listing->page_token.reset();
        } else {
            listing->page_token.reset(page.next_page_token);
            page.next_page_token = nullptr;
        }
    }
    ostrel_google_drive_page_destroy(&page);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

size_t ostrel_google_drive_listing_count(const ostrel_google_drive_listing_t *listing, size_t *pagesp) noexcept
{
    OSTREL_GDC_REQUIRE(listing != NULL);
    if (pagesp != nullptr) {
        *pagesp = listing->pages;
    }
    return listing->record_count;
}

ostrel_result_t ostrel_google_drive_listing_take(ostrel_google_drive_listing_t *listing,
                                                 ostrel_google_metadata_t **childrenp, size_t *countp,
                                                 const ostrel_google_drive_refusal_t **refusalsp,
                                                 size_t *refusal_countp, bool *incompletep) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(listing != NULL);
    OSTREL_GDC_REQUIRE(childrenp != NULL);
    OSTREL_GDC_REQUIRE(countp != NULL);
    OSTREL_GDC_REQUIRE(listing->complete && !listing->taken);
    *childrenp = nullptr;
    *countp = 0;
    const ostrel_result_t result = ostrel_google_drive_mark_collisions(listing->records, listing->record_count);
    if (result == OSTREL_SUCCESS) {
        *childrenp = listing->records;
        *countp = listing->record_count;
        listing->records = nullptr;
        listing->record_count = listing->record_capacity = 0;
        listing->taken = true;
        if (refusalsp != nullptr) {
            *refusalsp = listing->refusals;
        }
        if (refusal_countp != nullptr) {
            *refusal_countp = listing->refusal_count;
        }
        if (incompletep != nullptr) {
            *incompletep = listing->incomplete_search;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

void ostrel_google_drive_listing_free(ostrel_google_drive_listing_t *listing) noexcept
{
    if (listing != nullptr) {
        listing->~ostrel_google_drive_listing_s();
        std::free(listing);
    }
}
