// Metadata records of Drive files: parsing from a Drive file resource,
// copy, release, and conversion back to a JSON object.
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <string_view>

#include "api.h"
#include "error_shapes.h"
#include "memory.h"
#include "stop.h"
#include "utf8.h"

namespace {

using Metadata = ostrel_google_metadata_t;
using ostrel::gdc::mem_calloc;
using ostrel::gdc::mem_strdup;
using ostrel::gdc::system_error;

// The text of key when the resource is an object holding a JSON string there.
[[nodiscard]] const char *string_member(const json_t *json, const char *key) noexcept
{
    return json_string_value(json_object_get(json, key));
}

// A text member duplicated into *dest; absent stays NULL.
[[nodiscard]] ostrel_result_t parse_text(const json_t *json, const char *key, char **dest) noexcept
{
    const char *text = string_member(json, key);
    if (text != nullptr && (*dest = mem_strdup(text)) == nullptr) {
        return system_error("malloc");
    }
    return OSTREL_SUCCESS;
}

// Days from 1970-01-01 to a civil date of the proleptic Gregorian calendar.
[[nodiscard]] constexpr int64_t days_from_civil(int64_t year, int64_t month, int64_t day) noexcept
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

[[nodiscard]] constexpr int days_in_month(int year, int month) noexcept
{
    if (month == 2) {
        return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0) ? 29 : 28;
    }
    return month == 4 || month == 6 || month == 9 || month == 11 ? 30 : 31;
}

// The times convert writes, and so the ones parse takes: years 0000 to 9999.
constexpr time_t first_time = -62167219200;  // 0000-01-01T00:00:00Z
constexpr time_t last_time = 253402300799;   // 9999-12-31T23:59:59Z

[[nodiscard]] constexpr bool is_digit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

// The count digits of text from at as a number, each field of a Drive time
// being of fixed width; false when one of them is not a digit.
[[nodiscard]] bool read_digits(std::string_view text, size_t at, size_t count, int *value) noexcept
{
    if (text.size() < at + count) {
        return false;
    }
    int number = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (!is_digit(text[i])) {
            return false;
        }
        number = number * 10 + (text[i] - '0');
    }
    *value = number;
    return true;
}

// A time as RFC 3339 writes it, "2021-03-04T05:06:07", then an optional
// fraction (dropped), then "Z" or an offset "+hh:mm" or "-hh:mm" (applied).
// Gives 0, or EINVAL for any other text or a date that does not exist, or
// EOVERFLOW for a time convert could not write back. Second 60 (a leap
// second) is the first second of the next minute, as POSIX time counts.
[[nodiscard]] int read_drive_time(std::string_view text, time_t *time) noexcept
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':'
        || text[16] != ':' || !read_digits(text, 0, 4, &year) || !read_digits(text, 5, 2, &month)
        || !read_digits(text, 8, 2, &day) || !read_digits(text, 11, 2, &hour) || !read_digits(text, 14, 2, &minute)
        || !read_digits(text, 17, 2, &second)) {
        return EINVAL;
    }
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour > 23 || minute > 59
        || second > 60) {
        return EINVAL;
    }
    size_t at = 19;
    if (text[at] == '.') {
        do {
            ++at;
        } while (at < text.size() && is_digit(text[at]));
        if (at == 20) {
            return EINVAL;
        }
    }
    int64_t offset = 0;
    if (at + 1 != text.size() || text[at] != 'Z') {
        int offset_hour = 0;
        int offset_minute = 0;
        if (at + 6 != text.size() || (text[at] != '+' && text[at] != '-') || text[at + 3] != ':'
            || !read_digits(text, at + 1, 2, &offset_hour) || !read_digits(text, at + 4, 2, &offset_minute)
            || offset_hour > 23 || offset_minute > 59) {
            return EINVAL;
        }
        offset = (text[at] == '-' ? -1 : 1) * (offset_hour * 3600 + offset_minute * 60);
    }
    const int64_t value = days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
    if (value < first_time || value > last_time) {
        return EOVERFLOW;
    }
    *time = static_cast<time_t>(value);
    return 0;
}

// A time member read as UTC; a text that is no Drive time fails.
[[nodiscard]] ostrel_result_t parse_time(const json_t *json, const char *key, time_t *dest, bool *is_set) noexcept
{
    const json_t *value = json_object_get(json, key);
    if (!json_is_string(value)) {
        return OSTREL_SUCCESS;
    }
    // A NUL inside the text is part of it, and refused with the rest.
    if (const int failure = read_drive_time({json_string_value(value), json_string_length(value)}, dest)) {
        errno = failure;
        return system_error("strptime");
    }
    *is_set = true;
    return OSTREL_SUCCESS;
}

void parse_bool(const json_t *json, const char *key, bool *dest, bool *is_set) noexcept
{
    const json_t *value = json_object_get(json, key);
    if (json_is_boolean(value)) {
        *dest = json_is_true(value);
        *is_set = true;
    }
}

// A list of texts: the element count, a zero-filled array, and the text
// text_of gives for each element. An element without one leaves its entry
// NULL, unless every element must have one.
template <class TextOf>
[[nodiscard]] ostrel_result_t parse_list(const json_t *list, size_t *count, char ***array, bool required,
                                         TextOf &&text_of) noexcept
{
    *count = json_array_size(list);
    if (*count == 0) {
        return OSTREL_SUCCESS;
    }
    *array = static_cast<char **>(mem_calloc(*count, sizeof(char *)));
    if (*array == nullptr) {
        return system_error("malloc");
    }
    for (size_t i = 0; i < *count; ++i) {
        const char *text = text_of(json_array_get(list, i));
        if (text == nullptr && required) {
            errno = EINVAL;  // not a text; reported as the allocation failure callers expect
            return system_error("malloc");
        }
        if (text != nullptr && ((*array)[i] = mem_strdup(text)) == nullptr) {
            return system_error("malloc");
        }
    }
    return OSTREL_SUCCESS;
}

[[nodiscard]] ostrel_result_t parse_fields(const json_t *json, Metadata *metadata) noexcept
{
    ostrel_result_t result = OSTREL_SUCCESS;
    char **const texts[] = {&metadata->id, &metadata->name, &metadata->drive_id, &metadata->mime_type};
    const char *const text_keys[] = {"id", "name", "driveId", "mimeType"};
    for (size_t i = 0; i < 4 && result == OSTREL_SUCCESS; ++i) {
        result = parse_text(json, text_keys[i], texts[i]);
    }
    const struct {
        const char *key;
        time_t *value;
        bool *is_set;
    } times[] = {
        {"createdTime", &metadata->created_time, &metadata->created_time_set},
        {"viewedByMeTime", &metadata->viewed_by_me_time, &metadata->viewed_by_me_time_set},
        {"modifiedTime", &metadata->modified_time, &metadata->modified_time_set},
    };
    for (const auto &time : times) {
        if (result == OSTREL_SUCCESS) {
            result = parse_time(json, time.key, time.value, time.is_set);
        }
    }
    if (result != OSTREL_SUCCESS) {
        return result;
    }
    parse_bool(json, "ownedByMe", &metadata->owned_by_me, &metadata->owned_by_me_set);
    // An owner without an e-mail address is a NULL entry.
    if (const json_t *owners = json_object_get(json, "owners")) {
        result = parse_list(owners, &metadata->owner_count, &metadata->owners, false,
                            [](const json_t *owner) { return string_member(owner, "emailAddress"); });
        if (result != OSTREL_SUCCESS) {
            return result;
        }
    }
    parse_bool(json, "canEdit", &metadata->can_edit, &metadata->can_edit_set);
    parse_bool(json, "starred", &metadata->starred, &metadata->starred_set);
    parse_bool(json, "trashed", &metadata->trashed, &metadata->trashed_set);
    parse_bool(json, "explicitlyTrashed", &metadata->explicitly_trashed, &metadata->explicitly_trashed_set);
    // A longer text is not a checksum: the field stays empty.
    const char *md5 = string_member(json, "md5Checksum");
    if (md5 != nullptr && std::strlen(md5) < sizeof metadata->md5_checksum) {
        std::strcpy(metadata->md5_checksum, md5);
    }
    // Only decimal digits that fit are a size; anything else leaves it unset.
    if (const char *size = string_member(json, "size")) {
        const char *const end = size + std::strlen(size);
        uintmax_t value = 0;
        const auto [stop, error] = std::from_chars(size, end, value);
        if (size != end && stop == end && error == std::errc()) {
            metadata->size = value;
            metadata->size_set = true;
        }
    }
    if (const json_t *parents = json_object_get(json, "parents")) {
        result = parse_list(parents, &metadata->parent_count, &metadata->parents, true, json_string_value);
    }
    return result;
}

// Copies of a list of texts; NULL entries stay NULL.
[[nodiscard]] ostrel_result_t copy_list(char *const *src, size_t src_count, char ***dst, size_t *dst_count) noexcept
{
    if (src_count == 0 || src == nullptr) {
        return OSTREL_SUCCESS;
    }
    *dst = static_cast<char **>(mem_calloc(src_count, sizeof(char *)));
    if (*dst == nullptr) {
        return system_error("malloc");
    }
    for (size_t i = 0; i < src_count; ++i) {
        if (src[i] != nullptr && ((*dst)[i] = mem_strdup(src[i])) == nullptr) {
            return system_error("malloc");
        }
        ++*dst_count;
    }
    return OSTREL_SUCCESS;
}

// Every value of src, then copies of what it owns; the plug-in's flag and
// append_id start false, as in a parsed record.
[[nodiscard]] ostrel_result_t copy_fields(Metadata *dst, const Metadata *src) noexcept
{
    *dst = *src;
    dst->id = dst->name = dst->drive_id = dst->mime_type = nullptr;
    dst->owners = dst->parents = nullptr;
    dst->owner_count = dst->parent_count = 0;
    dst->plugin_flag = dst->append_id = false;
    char **const dst_texts[] = {&dst->id, &dst->name, &dst->drive_id, &dst->mime_type};
    const char *const src_texts[] = {src->id, src->name, src->drive_id, src->mime_type};
    for (size_t i = 0; i < 4; ++i) {
        if (src_texts[i] != nullptr && (*dst_texts[i] = mem_strdup(src_texts[i])) == nullptr) {
            return system_error("malloc");
        }
    }
    if (const ostrel_result_t result = copy_list(src->owners, src->owner_count, &dst->owners, &dst->owner_count)) {
        return result;
    }
    return copy_list(src->parents, src->parent_count, &dst->parents, &dst->parent_count);
}

// Inserts a new JSON string of text under key. The JSON library refuses
// both for want of memory and for a text that is not UTF-8; the second is
// told apart so that errno says which.
[[nodiscard]] ostrel_result_t insert_string(json_t *object, const char *key, const char *text) noexcept
{
    errno = 0;
    json_t *value = json_string(text);
    if (value == nullptr && errno != ENOMEM && !ostrel::gdc::is_strict_utf8(text)) {
        errno = EILSEQ;
        return system_error("malloc");
    }
    if (value == nullptr || json_object_set_new(object, key, value) != 0) {
        return system_error("malloc");
    }
    return OSTREL_SUCCESS;
}

[[nodiscard]] ostrel_result_t ostrel_l_meta_set_bool(json_t *object, const char *key, bool value) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    json_t *json_value = value ? json_true() : json_false();
    const ostrel_result_t result = json_value == nullptr || json_object_set_new(object, key, json_value) != 0
                                       ? system_error("malloc")
                                       : OSTREL_SUCCESS;
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

[[nodiscard]] ostrel_result_t ostrel_l_meta_set_string(json_t *object, const char *key, const char *text) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    const ostrel_result_t result = insert_string(object, key, text);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

// Only years 0000 to 9999 fit the four-digit form that parsing reads back.
[[nodiscard]] ostrel_result_t ostrel_l_meta_set_datetime(json_t *object, const char *key, time_t value) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    ostrel_result_t result = OSTREL_SUCCESS;
    tm broken_down = {};
    if (gmtime_r(&value, &broken_down) == nullptr) {
        result = system_error("gmtime_r");
    } else if (value < first_time || value > last_time) {
        errno = EOVERFLOW;
        result = system_error("gmtime_r");
    } else {
        char text[21] = {};
        const int fields[6] = {broken_down.tm_year + 1900, broken_down.tm_mon + 1, broken_down.tm_mday,
                               broken_down.tm_hour,          broken_down.tm_min,     broken_down.tm_sec};
        char *p = text;
        for (int i = 0; i < 6; ++i) {
            const int digits = i == 0 ? 4 : 2;
            for (int d = digits - 1, value = fields[i]; d >= 0; --d, value /= 10) {
                p[d] = static_cast<char>('0' + value % 10);
            }
            p += digits;
            *p++ = "--T::Z"[i];
        }
        result = insert_string(object, key, text);
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

// Inserts under key an array of count items that make_item(i, &item) makes;
// the array and what it holds are released on a failure.
template <class MakeItem>
[[nodiscard]] ostrel_result_t set_array(json_t *object, const char *key, size_t count, MakeItem &&make_item) noexcept
{
    json_t *array = json_array();
    ostrel_result_t result = array == nullptr ? system_error("malloc") : OSTREL_SUCCESS;
    for (size_t i = 0; i < count && result == OSTREL_SUCCESS; ++i) {
        json_t *item = nullptr;
        result = make_item(i, &item);
        // The array takes the item whether or not the append succeeds.
        if (result == OSTREL_SUCCESS && json_array_append_new(array, item) != 0) {
            result = system_error("malloc");
        }
    }
    if (result != OSTREL_SUCCESS) {
        json_decref(array);
        return result;
    }
    return json_object_set_new(object, key, array) != 0 ? system_error("malloc") : OSTREL_SUCCESS;
}

// An owner without an address is written as an empty object.
[[nodiscard]] ostrel_result_t ostrel_l_meta_set_owner_email_array(json_t *object, const Metadata *metadata) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    const ostrel_result_t result =
        set_array(object, "owners", metadata->owner_count, [metadata](size_t i, json_t **item) {
            json_t *owner = json_object();
            if (owner == nullptr) {
                return system_error("malloc");
            }
            if (metadata->owners[i] != nullptr) {
                if (const ostrel_result_t failed = insert_string(owner, "emailAddress", metadata->owners[i])) {
                    json_decref(owner);
                    return failed;
                }
            }
            *item = owner;
            return OSTREL_SUCCESS;
        });
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

[[nodiscard]] ostrel_result_t ostrel_l_meta_set_parents_array(json_t *object, const Metadata *metadata) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    char *const *const array = metadata->parents;
    for (size_t i = 0; i < metadata->parent_count; ++i) {
        OSTREL_GDC_REQUIRE(array[i] != NULL);
        // The plug-in's virtual folders are no Drive parents; a resource that
        // names one as its parent came from Drive and is refused, not fatal.
        for (const char *virtual_folder : {OSTREL_GOOGLE_DRIVE_NAME_TRASH, OSTREL_GOOGLE_DRIVE_NAME_STARRED,
                                           OSTREL_GOOGLE_DRIVE_NAME_SHARED_WITH_ME}) {
            if (std::strcmp(array[i], virtual_folder) == 0) {
                errno = EINVAL;
                const ostrel_result_t refused = system_error("ostrel_l_meta_set_parents_array");
                OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(refused);
                return refused;
            }
        }
    }
    const ostrel_result_t result = set_array(object, "parents", metadata->parent_count, [array](size_t i, json_t **item) {
        *item = json_string(array[i]);
        return *item != nullptr ? OSTREL_SUCCESS : system_error("malloc");
    });
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

[[nodiscard]] ostrel_result_t convert_fields(const Metadata *metadata, json_t *object) noexcept
{
    ostrel_result_t result = OSTREL_SUCCESS;
    const char *const texts[] = {metadata->id, metadata->name, metadata->drive_id, metadata->mime_type};
    const char *const text_keys[] = {"id", "name", "driveId", "mimeType"};
    for (size_t i = 0; i < 4 && result == OSTREL_SUCCESS; ++i) {
        if (texts[i] != nullptr) {
            result = ostrel_l_meta_set_string(object, text_keys[i], texts[i]);
        }
    }
    if (result == OSTREL_SUCCESS && metadata->viewed_by_me_time_set) {
        result = ostrel_l_meta_set_datetime(object, "viewedByMeTime", metadata->viewed_by_me_time);
    }
    if (result == OSTREL_SUCCESS && metadata->modified_time_set) {
        result = ostrel_l_meta_set_datetime(object, "modifiedTime", metadata->modified_time);
    }
    if (result == OSTREL_SUCCESS && metadata->owned_by_me_set) {
        result = ostrel_l_meta_set_bool(object, "ownedByMe", metadata->owned_by_me);
    }
    if (result == OSTREL_SUCCESS && metadata->owner_count != 0 && metadata->owners != nullptr) {
        result = ostrel_l_meta_set_owner_email_array(object, metadata);
    }
    const struct {
        const char *key;
        bool value;
        bool is_set;
    } flags[] = {
        {"canEdit", metadata->can_edit, metadata->can_edit_set},
        {"starred", metadata->starred, metadata->starred_set},
        {"trashed", metadata->trashed, metadata->trashed_set},
        {"explicitlyTrashed", metadata->explicitly_trashed, metadata->explicitly_trashed_set},
    };
    for (const auto &flag : flags) {
        if (result == OSTREL_SUCCESS && flag.is_set) {
            result = ostrel_l_meta_set_bool(object, flag.key, flag.value);
        }
    }
    if (result == OSTREL_SUCCESS && metadata->md5_checksum[0] != '\0') {
        result = ostrel_l_meta_set_string(object, "md5Checksum", metadata->md5_checksum);
    }
    if (result == OSTREL_SUCCESS && metadata->size_set) {
        char size[24] = {};  // the 20 digits of the largest value and the terminator
        std::to_chars(size, size + sizeof size - 1, metadata->size);
        result = ostrel_l_meta_set_string(object, "size", size);
    }
    if (result == OSTREL_SUCCESS && metadata->parent_count != 0 && metadata->parents != nullptr) {
        result = ostrel_l_meta_set_parents_array(object, metadata);
    }
    return result;
}

}  // namespace

ostrel_result_t ostrel_google_metadata_parse(json_t *json, ostrel_google_metadata_t *metadata) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    if (metadata == nullptr) {
        OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(OSTREL_SUCCESS);
        return OSTREL_SUCCESS;
    }
    std::memset(metadata, 0, sizeof *metadata);
    const ostrel_result_t result = parse_fields(json, metadata);
    if (result != OSTREL_SUCCESS) {
        // Back to the empty record: nothing allocated, nothing marked present.
        ostrel_google_metadata_destroy(metadata);
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_metadata_copy(ostrel_google_metadata_t *dst,
                                            const ostrel_google_metadata_t *src) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(dst != NULL);
    OSTREL_GDC_REQUIRE(src != NULL);
    std::memset(dst, 0, sizeof *dst);
    const ostrel_result_t result = copy_fields(dst, src);
    if (result != OSTREL_SUCCESS) {
        ostrel_google_metadata_destroy(dst);
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

void ostrel_google_metadata_destroy(ostrel_google_metadata_t *metadata) noexcept
{
    if (metadata == nullptr) {
        return;
    }
    std::free(metadata->id);
    std::free(metadata->name);
    std::free(metadata->drive_id);
    std::free(metadata->mime_type);
    for (size_t i = 0; metadata->owners != nullptr && i < metadata->owner_count; ++i) {
        std::free(metadata->owners[i]);
    }
    std::free(metadata->owners);
    for (size_t i = 0; metadata->parents != nullptr && i < metadata->parent_count; ++i) {
        std::free(metadata->parents[i]);
    }
    std::free(metadata->parents);
    std::memset(metadata, 0, sizeof *metadata);
}

void ostrel_google_metadata_destroy_void(void *metadata) noexcept
{
    ostrel_google_metadata_destroy(static_cast<ostrel_google_metadata_t *>(metadata));
    std::free(metadata);
}

ostrel_result_t ostrel_google_metadata_convert(const ostrel_google_metadata_t *metadata, json_t **jsonp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(metadata != NULL);
    OSTREL_GDC_REQUIRE(jsonp != NULL);
    *jsonp = nullptr;
    json_t *object = json_object();
    ostrel_result_t result = object == nullptr ? system_error("malloc") : convert_fields(metadata, object);
    if (result == OSTREL_SUCCESS) {
        *jsonp = object;
    } else {
        json_decref(object);
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}
