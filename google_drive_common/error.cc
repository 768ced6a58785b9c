// The Drive error type: an error object carrying ordered key/value details,
// and the error shapes the library reports.
#include <cerrno>
#include <cstring>
#include <iterator>
#include <string_view>

#include "error_shapes.h"
#include "exact_text.h"
#include "grammar.h"
#include "memory.h"
#include "printable.h"
#include "stop.h"

namespace {

using ostrel::gdc::mem_calloc;
using ostrel::gdc::mem_realloc;
using ostrel::gdc::mem_strdup;
using Info = ostrel_google_drive_error_info_t;
using Entry = ostrel_google_drive_error_info_entry_t;

[[nodiscard]] bool dup_or_null(const char *text, char **copyp) noexcept
{
    *copyp = text != nullptr ? mem_strdup(text) : nullptr;
    return text == nullptr || *copyp != nullptr;
}

void ostrel_l_google_drive_error_free(void *data) noexcept
{
    auto *list = static_cast<Info *>(data);
    if (list == nullptr) {
        return;
    }
    for (size_t i = 0; i < list->detail_count; ++i) {
        std::free(list->details[i].key);
        std::free(list->details[i].value);
    }
    std::free(list->details);
    std::free(list);
}

[[nodiscard]] Info *copy_info(const Info *src) noexcept
{
    auto *list = static_cast<Info *>(mem_calloc(1, sizeof(Info)));
    if (list == nullptr || src->detail_count == 0 || src->details == nullptr) {
        return list;
    }
    list->details = static_cast<Entry *>(mem_calloc(src->detail_count, sizeof(Entry)));
    if (list->details == nullptr) {
        std::free(list);
        return nullptr;
    }
    for (size_t i = 0; i < src->detail_count; ++i) {
        Entry &dst = list->details[i];
        if (!dup_or_null(src->details[i].key, &dst.key) || !dup_or_null(src->details[i].value, &dst.value)) {
            std::free(dst.key);  // a key whose value failed is not counted yet
            ostrel_l_google_drive_error_free(list);
            return nullptr;
        }
        ++list->detail_count;
    }
    return list;
}

void ostrel_l_google_drive_error_copy(void *src_data, void **dst_data) noexcept
{
    if (src_data == nullptr || dst_data == nullptr) {
        return;
    }
    *dst_data = copy_info(static_cast<const Info *>(src_data));
}

// The error seen as a Drive error, or NULL.
[[nodiscard]] ostrel_object_t *drive_error_of(ostrel_object_t *error) noexcept
{
    return ostrel_object_upcast(error, &OSTREL_GOOGLE_DRIVE_ERROR_TYPE_DEFINITION);
}

// The detail list of an error seen as a Drive error, or NULL.
[[nodiscard]] Info *details_of(ostrel_object_t *drive_error) noexcept
{
    return drive_error != nullptr ? static_cast<Info *>(ostrel_object_get_local_instance_data(drive_error))
                                  : nullptr;
}

// The first error of a cause chain that is a Drive error, seen as one; the
// error every detail function works on.
[[nodiscard]] ostrel_object_t *first_drive_error(ostrel_object_t *error) noexcept
{
    for (ostrel_object_t *e = error; e != nullptr; e = ostrel_error_get_cause(e)) {
        if (ostrel_object_t *drive_error = drive_error_of(e)) {
            return drive_error;
        }
    }
    return nullptr;
}

// Records module and cause in the error's base level, so that the chain
// holds the cause and frees it with the error. The runtime fills a base
// error of its own and its base data moves over: the layout of that data
// stays the runtime's. False when the runtime cannot make it; it has then
// released the cause, as its constructors do.
[[nodiscard]] bool record_base(ostrel_object_t *drive_error, const ostrel_module_descriptor_t *module,
                               ostrel_object_t *cause) noexcept
{
    ostrel_object_t *carrier = ostrel_error_construct_error(module, cause, 0, nullptr, nullptr, 0, "%s", "");
    if (carrier == nullptr) {
        return false;
    }
    const ostrel_object_type_t &base_type = OSTREL_ERROR_TYPE_BASE_DEFINITION;
    ostrel_object_t *from = ostrel_object_upcast(carrier, &base_type);
    ostrel_object_t *to = ostrel_object_upcast(drive_error, &base_type);
    OSTREL_GDC_REQUIRE(from != NULL && to != NULL);
    void *const previous = ostrel_object_get_local_instance_data(to);
    if (previous != nullptr && base_type.free_func != nullptr) {
        base_type.free_func(previous);
    }
    ostrel_object_set_local_instance_data(to, ostrel_object_get_local_instance_data(from));
    ostrel_object_set_local_instance_data(from, nullptr);
    ostrel_object_free(carrier);
    return true;
}

[[nodiscard]] Entry *find_key(Info *list, const char *key) noexcept
{
    for (size_t i = 0; i < list->detail_count; ++i) {
        if (list->details[i].key != nullptr && std::strcmp(list->details[i].key, key) == 0) {
            return &list->details[i];
        }
    }
    return nullptr;
}

// Kept details as lines of: key: "value", the value escaped.
template <class Sink>
void write_details(Sink &out, const Info *list) noexcept
{
    bool first = true;
    for (size_t i = 0; i < list->detail_count; ++i) {
        const Entry &entry = list->details[i];
        if (entry.key == nullptr || entry.key[0] == '\0' || entry.value == nullptr) {
            continue;
        }
        if (!first) {
            out.put('\n');
        }
        first = false;
        out.put(std::string_view(entry.key));
        out.put(": \"");
        // A value may hold a client's name or Drive's text: it never writes
        // lines of its own into a log.
        put_printable(out, entry.value, true);
        out.put('"');
    }
}

char *ostrel_l_google_drive_error_printable(ostrel_object_t *error) noexcept
{
    ostrel_object_t *google_drive_error = drive_error_of(error);
    OSTREL_GDC_REQUIRE(google_drive_error != NULL);
    const Info *list = details_of(google_drive_error);
    if (list == nullptr) {
        return mem_strdup("");
    }
    const ostrel::gdc::ExactText out = ostrel::gdc::exact_text([list](auto &sink) { write_details(sink, list); });
    char *const msg = out.text;
    if (msg == nullptr) {
        return nullptr;
    }
    const size_t len = out.counted;
    OSTREL_GDC_REQUIRE(strlen(msg) == len);
    return msg;
}

}  // namespace

const ostrel_object_type_t OSTREL_GOOGLE_DRIVE_ERROR_TYPE_DEFINITION = {
    &OSTREL_ERROR_TYPE_BASE_DEFINITION,
    ostrel_l_google_drive_error_copy,
    ostrel_l_google_drive_error_free,
    ostrel_l_google_drive_error_printable,
};

ostrel_object_t *ostrel_google_drive_error_construct(const ostrel_module_descriptor_t *module,
                                                     ostrel_object_t *cause,
                                                     const ostrel_google_drive_error_info_t *info) noexcept
{
    ostrel_object_t *error = ostrel_object_construct(&OSTREL_GOOGLE_DRIVE_ERROR_TYPE_DEFINITION);
    ostrel_object_t *drive_error = ostrel_google_drive_error_initialize(error, module, cause, info);
    if (drive_error == nullptr) {
        ostrel_object_free(error);
    }
    return drive_error;
}

ostrel_object_t *ostrel_google_drive_error_initialize(ostrel_object_t *error, const ostrel_module_descriptor_t *module,
                                                      ostrel_object_t *cause,
                                                      const ostrel_google_drive_error_info_t *info) noexcept
{
    ostrel_object_t *drive_error = drive_error_of(error);
    if (drive_error == nullptr) {
        ostrel_object_free(cause);
        return nullptr;
    }
    if ((module != nullptr || cause != nullptr) && !record_base(drive_error, module, cause)) {
        return nullptr;
    }
    const Info empty = {0, nullptr};
    if (Info *copy = copy_info(info != nullptr ? info : &empty)) {
        ostrel_l_google_drive_error_free(details_of(drive_error));
        ostrel_object_set_local_instance_data(drive_error, copy);
    }
    return drive_error;
}

void ostrel_google_drive_error_add_info(ostrel_object_t *error, const ostrel_google_drive_error_info_t *info) noexcept
{
    Info *list = details_of(first_drive_error(error));
    if (list == nullptr || info == nullptr || info->detail_count == 0 || info->details == nullptr) {
        return;
    }
    const size_t start_count = list->detail_count;
    size_t new_keys = 0;
    for (size_t i = 0; i < info->detail_count; ++i) {
        OSTREL_GDC_REQUIRE(info->details[i].key != NULL && info->details[i].value != NULL);
        if (find_key(list, info->details[i].key) == nullptr) {
            ++new_keys;
        }
    }
    if (new_keys != 0) {
        auto *grown = static_cast<Entry *>(mem_realloc(list->details, (start_count + new_keys) * sizeof(Entry)));
        if (grown == nullptr) {
            return;
        }
        std::memset(grown + start_count, 0, new_keys * sizeof(Entry));
        list->details = grown;
    }
    bool failed = false;
    for (size_t i = 0; i < info->detail_count && !failed; ++i) {
        if (Entry *entry = find_key(list, info->details[i].key)) {
            char *value = mem_strdup(info->details[i].value);
            failed = value == nullptr;
            if (!failed) {
                std::free(entry->value);
                entry->value = value;
            }
            continue;
        }
        Entry &appended = list->details[list->detail_count];
        appended.key = mem_strdup(info->details[i].key);
        appended.value = appended.key != nullptr ? mem_strdup(info->details[i].value) : nullptr;
        if (appended.value == nullptr) {
            std::free(appended.key);
            appended.key = nullptr;
            failed = true;
            continue;
        }
        ++list->detail_count;
    }
    if (failed) {
        // Appended details go; replaced values keep their new text.
        for (size_t i = start_count; i < list->detail_count; ++i) {
            std::free(list->details[i].key);
            std::free(list->details[i].value);
            list->details[i] = Entry{nullptr, nullptr};
        }
        list->detail_count = start_count;
    }
}

const char *ostrel_google_drive_error_get_info(ostrel_object_t *error, const char *key) noexcept
{
    Info *list = details_of(first_drive_error(error));
    if (list == nullptr || key == nullptr) {
        return nullptr;
    }
    const Entry *entry = find_key(list, key);
    return entry != nullptr ? entry->value : nullptr;
}

size_t ostrel_google_drive_error_get_info_count(ostrel_object_t *error) noexcept
{
    const Info *list = details_of(first_drive_error(error));
    return list != nullptr ? list->detail_count : 0;
}

bool ostrel_google_drive_error_get_info_entry(ostrel_object_t *error, size_t index, const char **keyp,
                                              const char **valuep) noexcept
{
    OSTREL_GDC_REQUIRE(keyp != NULL);
    OSTREL_GDC_REQUIRE(valuep != NULL);
    *keyp = nullptr;
    *valuep = nullptr;
    const Info *list = details_of(first_drive_error(error));
    if (list == nullptr || index >= list->detail_count) {
        return false;
    }
    *keyp = list->details[index].key;
    *valuep = list->details[index].value;
    return true;
}

namespace ostrel::gdc {

ostrel_result_t system_error(const char *call) noexcept
{
    const int system_errno = errno;
    return ostrel_error_put(ostrel_i_gfs_error_system(nullptr, system_errno, "System error%s%s", " in ", call));
}

namespace {

// The Drive error holding info, or NULL when its details could not be
// copied: an error without the details it is made for says nothing.
[[nodiscard]] ostrel_object_t *drive_cause(const Info &info) noexcept
{
    ostrel_object_t *cause = ostrel_google_drive_error_construct(nullptr, nullptr, &info);
    if (cause != nullptr && ostrel_google_drive_error_get_info_count(cause) != info.detail_count) {
        ostrel_object_free(cause);
        errno = ENOMEM;
        return nullptr;
    }
    return cause;
}

}  // namespace

ostrel_result_t export_error(const char *func, int line, const char *text) noexcept
{
    return ostrel_error_put(ostrel_error_construct_error(nullptr, nullptr, 6, "export", func, line, "%s", text));
}

// The FTP response error "GridFTP-Path: PATH" (no message without path),
// the path printable: a reply line holds no control character.
[[nodiscard]] ostrel_result_t path_response_error(ostrel_object_t *cause, int code, const char *error_code,
                                                  const char *path) noexcept
{
    if (path == nullptr) {
        return ostrel_error_put(ostrel_gfs_ftp_response_error_construct(nullptr, cause, code, error_code, nullptr));
    }
    Owned<char> printable;
    if (has_control(path)) {
        const ExactText text = exact_text([path](auto &out) { put_printable(out, path); });
        if (text.text == nullptr) {
            ostrel_object_free(cause);
            return system_error("malloc");
        }
        OSTREL_GDC_REQUIRE(text.written == text.counted);
        printable.reset(text.text);
    }
    return ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
        nullptr, cause, code, error_code, "GridFTP-Path: %s", printable != nullptr ? printable.get() : path));
}

ostrel_result_t invalid_path_error(const char *path, const char *details) noexcept
{
    ostrel_object_t *cause = nullptr;
    if (details != nullptr) {
        ostrel_google_drive_error_info_entry_t entry = {const_cast<char *>("GD-Details"), const_cast<char *>(details)};
        const ostrel_google_drive_error_info_t info = {1, &entry};
        cause = drive_cause(info);
        if (cause == nullptr) {
            return system_error("malloc");
        }
    }
    return path_response_error(cause, 553, "INVALID_PATH_NAME", path);
}

ostrel_result_t control_character_error(const char *name) noexcept
{
    const std::string_view text = name;
    Control control = {0, 0};
    for (size_t pos = 0; control.length == 0 && pos < text.size(); ++pos) {
        control = control_at(text, pos);
    }
    const ExactText details = exact_text([&control](auto &out) {
        constexpr std::string_view upper = "0123456789ABCDEF";
        out.put("A client name holds no control character: U+00");
        out.put(upper[control.code >> 4]);
        out.put(upper[control.code & 0xf]);
        out.put(" is written ");
        put_control_escape(out, control.code, 0);
    });
    if (details.text == nullptr) {
        return system_error("malloc");
    }
    OSTREL_GDC_REQUIRE(details.written == details.counted);
    const Owned<char> owned(details.text);
    return invalid_path_error(name, owned.get());
}

ostrel_result_t slash_in_element_error(const char *name) noexcept
{
    return invalid_path_error(name, "A path element cannot hold \"/\"");
}

ostrel_result_t invalid_id_error(const char *path, const char *what, const char *id) noexcept
{
    const ExactText details = exact_text([what, id](auto &out) {
        out.put("The ");
        out.put(what);
        out.put(" id \"");
        out.put(id);
        out.put("\" is not a Drive file id: an id is one or more letters, digits, \"_\", \"-\" or blanks");
    });
    if (details.text == nullptr) {
        return system_error("malloc");
    }
    OSTREL_GDC_REQUIRE(details.written == details.counted);
    const Owned<char> owned(details.text);
    return invalid_path_error(path, owned.get());
}

ostrel_result_t lookup_error(const char *error_code, const char *path, const char *details) noexcept
{
    ostrel_google_drive_error_info_entry_t entries[] = {
        {const_cast<char *>("GD-Operation"), const_cast<char *>("Looking up a GridFTP name")},
        {const_cast<char *>("GD-Path"), const_cast<char *>(path)},
        {const_cast<char *>("GD-Details"), const_cast<char *>(details)},
    };
    const ostrel_google_drive_error_info_t info = {3, entries};
    ostrel_object_t *cause = drive_cause(info);
    if (cause == nullptr) {
        return system_error("malloc");
    }
    return path_response_error(cause, 550, error_code, path);
}

ostrel_result_t configuration_error(const char *path, const char *operation, const char *details) noexcept
{
    ostrel_google_drive_error_info_entry_t entries[] = {
        {const_cast<char *>("GD-Path"), const_cast<char *>(path)},
        {const_cast<char *>("GD-Operation"), const_cast<char *>(operation)},
        {const_cast<char *>("GD-Details"), const_cast<char *>(details)},
    };
    const ostrel_google_drive_error_info_t info = {3, entries};
    ostrel_object_t *cause = drive_cause(info);
    if (cause == nullptr) {
        return system_error("malloc");
    }
    return ostrel_error_put(ostrel_gfs_ftp_response_error_construct(nullptr, cause, 500, "CONFIGURATION_ERROR", nullptr));
}

ostrel_result_t drive_ftp_error(int code, const char *error_code, const char *path,
                                std::initializer_list<Detail> details) noexcept
{
    ostrel_google_drive_error_info_entry_t entries[8];
    OSTREL_GDC_REQUIRE(details.size() <= std::size(entries));
    size_t count = 0;
    for (const Detail &detail : details) {
        if (detail.value != nullptr) {
            entries[count++] = {const_cast<char *>(detail.key), const_cast<char *>(detail.value)};
        }
    }
    const ostrel_google_drive_error_info_t info = {count, entries};
    ostrel_object_t *cause = drive_cause(info);
    if (cause == nullptr) {
        return system_error("malloc");
    }
    return path_response_error(cause, code, error_code, path);
}

ostrel_result_t bad_answer_error(const char *details) noexcept
{
    return drive_ftp_error(451, "DRIVE_ERROR", nullptr, {{"GD-Details", details}});
}

}  // namespace ostrel::gdc
