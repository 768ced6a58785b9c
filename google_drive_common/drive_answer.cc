// Drive's answers read: errors mapped to FTP replies, retry delays, files.list
// pages into records, and the listing of a folder across its pages.
#include <jansson.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>

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

[[nodiscard]] bool read_drive_error(const char *body, size_t length, DriveError *error) noexcept
{
    if (length == 0) {
        return false;
    }
    error->json = json_loadb(body, length, 0, nullptr);
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
    const bool is_drive_error = read_drive_error(body, length, &drive);
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
