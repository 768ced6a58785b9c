// The Google-Apps vocabulary (document MIME types, stub extensions, export
// type words, the export table), the export configuration that picks one
// format per exportable kind, and the export suffix of names.
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "api.h"
#include "doc_types.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "grammar.h"
#include "memory.h"
#include "stop.h"

namespace {

using ostrel::gdc::export_opening;
using ostrel::gdc::ExportSuffix;
using ostrel::gdc::find_export_suffix;
using ostrel::gdc::or_null;

struct AppsType {
    const char *mime_type;
    const char *stub_extension;
    const char *export_word;  // NULL for the kinds that cannot be exported
};

constexpr AppsType apps_types[] = {
    {"application/vnd.google-apps.document", ".gdoc", "gdoc"},
    {"application/vnd.google-apps.spreadsheet", ".gsheet", "gsheet"},
    {"application/vnd.google-apps.presentation", ".gslides", "gslides"},
    {"application/vnd.google-apps.drawing", ".gdraw", "gdraw"},
    {"application/vnd.google-apps.map", ".gmap", nullptr},
    {"application/vnd.google-apps.form", ".gform", nullptr},
    {"application/vnd.google-apps.site", ".gsite", nullptr},
    {"application/vnd.google-apps.jam", ".gjam", nullptr},
    {"application/vnd.google-apps.shortcut", ".gshortcut", nullptr},
};

[[nodiscard]] bool equal(const char *a, const char *b) noexcept
{
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

constexpr std::string_view apps_prefix = "application/vnd.google-apps.";

[[nodiscard]] const AppsType *apps_type_by_mime(const char *mime_type) noexcept
{
    // Every Google-Apps type shares the prefix; most types are rejected here.
    if (mime_type == nullptr || mime_type[0] != 'a'
        || std::strncmp(mime_type, apps_prefix.data(), apps_prefix.size()) != 0) {
        return nullptr;
    }
    // Then the kind's word, compared by length first: no strcmp per type.
    static constexpr auto words = [] {
        std::array<std::string_view, std::size(apps_types)> all{};
        for (size_t i = 0; i < all.size(); ++i) {
            all[i] = std::string_view(apps_types[i].mime_type).substr(apps_prefix.size());
        }
        return all;
    }();
    const std::string_view word = mime_type + apps_prefix.size();
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i].size() == word.size() && words[i] == word) {
            return &apps_types[i];
        }
    }
    return nullptr;
}

[[nodiscard]] const AppsType *apps_type_by_stub(const char *extension) noexcept
{
    // Every stub extension begins ".g"; most suffixes are rejected here.
    if (extension == nullptr || extension[0] != '.' || extension[1] != 'g') {
        return nullptr;
    }
    for (const AppsType &type : apps_types) {
        if (equal(type.stub_extension, extension)) {
            return &type;
        }
    }
    return nullptr;
}

// From the last "." on; NULL when the name has none.
[[nodiscard]] const char *suffix_of(const char *name) noexcept
{
    return name != nullptr ? std::strrchr(name, '.') : nullptr;
}

using DocType = ostrel_google_drive_doc_type_t;

// The extensions each exportable kind may be configured to; each list ends
// with the kind's own stub extension.
const char *const ostrel_l_google_drive_allowed_exports_doc[] = {
    ".docx", ".odt", ".rtf", ".pdf", ".txt", ".md", ".gdoc", nullptr};
const char *const ostrel_l_google_drive_allowed_exports_sheets[] = {
    ".xlsx", ".ods", ".pdf", ".zip", ".csv", ".tsv", ".gsheet", nullptr};
const char *const ostrel_l_google_drive_allowed_exports_presentations[] = {
    ".pptx", ".odp", ".pdf", ".txt", ".gslides", nullptr};
const char *const ostrel_l_google_drive_allowed_exports_drawings[] = {
    ".pdf", ".jpg", ".png", ".svg", ".gdraw", nullptr};

// The four exportable kinds, in slot order.
struct Kind {
    const AppsType &type;
    const char *default_extension;
    const char *const *allowed;
    const char *plural;
};

const Kind kinds[4] = {
    {apps_types[0], ".gdoc", ostrel_l_google_drive_allowed_exports_doc, "documents"},
    {apps_types[1], ".gsheet", ostrel_l_google_drive_allowed_exports_sheets, "spreadsheets"},
    {apps_types[2], ".gslides", ostrel_l_google_drive_allowed_exports_presentations, "presentations"},
    {apps_types[3], ".gdraw", ostrel_l_google_drive_allowed_exports_drawings, "drawings"},
};

// The configured row of each kind, in the order of kinds; NULL until the
// first successful configuration. Written only at start-up.
struct export_conf_s {
    std::array<const DocType *, 4> slots;
} export_conf = {};

// A copy of extension that begins with ".".
[[nodiscard]] char *g_l_add_dot(const char *extension) noexcept
{
    if (extension[0] == '.') {
        return ostrel::gdc::mem_strdup(extension);
    }
    const size_t length = std::strlen(extension);
    auto *dotted = static_cast<char *>(ostrel::gdc::mem_malloc(length + 2));
    if (dotted != nullptr) {
        dotted[0] = '.';
        std::memcpy(dotted + 1, extension, length + 1);
    }
    return dotted;
}

[[nodiscard]] ostrel_result_t g_l_validate_type(const Kind &kind, const char *extension) noexcept
{
    for (const char *const *allowed = kind.allowed; *allowed != nullptr; ++allowed) {
        if (equal(*allowed, extension)) {
            return OSTREL_SUCCESS;
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "Not a valid extension for %s types\n", kind.plural);
    return ostrel::gdc::export_error("g_l_validate_type", __LINE__, text);
}

// The configured row of the exportable kind of mime_type, or NULL.
[[nodiscard]] const DocType *ostrel_l_google_get_mime_struct(const char *mime_type) noexcept
{
    // The exportable kinds are the first four Google-Apps types.
    const AppsType *type = apps_type_by_mime(mime_type);
    const size_t k = type != nullptr ? static_cast<size_t>(type - apps_types) : 4;
    return k < 4 ? export_conf.slots[k] : nullptr;
}

}  // namespace

const ostrel_google_drive_doc_type_t ostrel_l_google_drive_export_mimes[22] = {
    {"Microsoft Word", "application/vnd.openxmlformats-officedocument.wordprocessingml.document", ".docx"},
    {"OpenDocument", "application/vnd.oasis.opendocument.text", ".odt"},
    {"Rich Text", "application/rtf", ".rtf"},
    {"PDF", "application/pdf", ".pdf"},
    {"Plain Text", "text/plain", ".txt"},
    {"Web Page (HTML)", "application/zip", ".zip"},
    {"EPUB", "application/epub+zip", ".epub"},
    {"Microsoft Excel", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", ".xlsx"},
    {"OpenDocument", "application/x-vnd.oasis.opendocument.spreadsheet", ".ods"},
    {"Comma Separated Values (first-sheet only)", "text/csv", ".csv"},
    {"Tab Separated Values (first-sheet only)", "text/tab-separated-values", ".tsv"},
    {"Microsoft PowerPoint", "application/vnd.openxmlformats-officedocument.presentationml.presentation", ".pptx"},
    {"ODP", "application/vnd.oasis.opendocument.presentation", ".odp"},
    {"JPEG", "image/jpeg", ".jpg"},
    {"PNG", "image/png", ".png"},
    {"Scalable Vector Graphics", "image/svg+xml", ".svg"},
    {"JSON", "application/vnd.google-apps.script+json", ".json"},
    {"Ostrel gdoc stub", nullptr, ".gdoc"},
    {"Ostrel gsheet stub", nullptr, ".gsheet"},
    {"Ostrel gslides stub", nullptr, ".gslides"},
    {"Ostrel gdraw stub", nullptr, ".gdraw"},
    {nullptr, nullptr, nullptr},
};

const char *ostrel_google_drive_doc_extension(const char *mime_type) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Checking mime type %s\n", or_null(mime_type));
    const AppsType *type = apps_type_by_mime(mime_type);
    const char *extension = type != nullptr ? type->stub_extension : "";
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT(extension);
    return extension;
}

const char *ostrel_google_drive_extension_mime_type(const char *extension) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    const AppsType *type = apps_type_by_stub(extension);
    const char *mime_type = type != nullptr ? type->mime_type : nullptr;
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT(or_null(mime_type));
    return mime_type;
}

const char *ostrel_google_drive_doc_mime_type(const char *name) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(name != NULL);
    const char *suffix = suffix_of(name);
    const char *mime_type = suffix != nullptr ? ostrel_google_drive_extension_mime_type(suffix) : nullptr;
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT(or_null(mime_type));
    return mime_type;
}

const char *ostrel_i_google_drive_escape_name_to_mime(const char *export_type, const char *extension) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_INFO, "Looking up %s %s\n", or_null(export_type),
                                   or_null(extension));
    const char *mime_type = nullptr;
    for (const AppsType &type : apps_types) {
        if (equal(type.export_word, export_type)) {
            mime_type = type.mime_type;
            break;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT(or_null(mime_type));
    return mime_type;
}

bool ostrel_google_drive_mime_type_is_google_docs(const char *mime_type) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Checking mime type %s\n", or_null(mime_type));
    const bool result = apps_type_by_mime(mime_type) != nullptr;
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_BOOL(result);
    return result;
}

bool ostrel::gdc::is_stub_name(const char *name) noexcept
{
    return apps_type_by_stub(suffix_of(name)) != nullptr;
}

bool ostrel_google_drive_is_stub(const char *name) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    const bool result = ostrel::gdc::is_stub_name(name);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_BOOL(result);
    return result;
}

ostrel_result_t ostrel_google_drive_export_find_ext(const char *extension,
                                                   const ostrel_google_drive_doc_type_t **doc_typep) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(extension != NULL);
    OSTREL_GDC_REQUIRE(doc_typep != NULL);
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Looking for type %s\n", extension);
    for (const DocType *row = ostrel_l_google_drive_export_mimes; row->description != nullptr; ++row) {
        if (equal(row->extension, extension)) {
            *doc_typep = row;
            OSTREL_GOOGLE_DRIVE_TRACE_EXIT();
            return OSTREL_SUCCESS;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT("failed");
    return ostrel::gdc::export_error("ostrel_google_drive_export_find_ext", __LINE__, "unsupported extension");
}

// All four kinds are looked up and validated before any slot changes, so a
// failed call leaves the configuration as it was.
ostrel_result_t ostrel_google_drive_export_set_config(const char *doc_extension, const char *sheet_extension,
                                                     const char *presentation_extension,
                                                     const char *drawing_extension) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Checking for extension type: %s, %s, %s, %s\n",
                                   or_null(doc_extension), or_null(sheet_extension),
                                   or_null(presentation_extension), or_null(drawing_extension));
    const std::array<const char *, 4> given = {doc_extension, sheet_extension, presentation_extension,
                                               drawing_extension};
    std::array<ostrel::gdc::Owned<char>, 4> normalized;
    ostrel_result_t result = OSTREL_SUCCESS;
    for (size_t k = 0; k < 4 && result == OSTREL_SUCCESS; ++k) {
        normalized[k].reset(g_l_add_dot(given[k] != nullptr ? given[k] : kinds[k].default_extension));
        if (normalized[k] == nullptr) {
            result = ostrel::gdc::system_error("malloc");
        }
    }
    std::array<const DocType *, 4> rows = {};
    if (result == OSTREL_SUCCESS) {
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG,
                                       "Checking for normalized extension type: %s, %s, %s, %s\n",
                                       normalized[0].get(), normalized[1].get(), normalized[2].get(),
                                       normalized[3].get());
        for (size_t k = 0; k < 4 && result == OSTREL_SUCCESS; ++k) {
            result = ostrel_google_drive_export_find_ext(normalized[k].get(), &rows[k]);
            if (result != OSTREL_SUCCESS) {
                OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_ERROR, "Failed to find the extension %s\n",
                                               normalized[k].get());
            }
        }
    }
    for (size_t k = 0; k < 4 && result == OSTREL_SUCCESS; ++k) {
        result = g_l_validate_type(kinds[k], rows[k]->extension);
    }
    if (result != OSTREL_SUCCESS) {
        OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
        return result;
    }
    export_conf.slots = rows;
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Using the extensions: %s, %s, %s, %s\n",
                                   rows[0]->extension, rows[1]->extension, rows[2]->extension, rows[3]->extension);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT();
    return OSTREL_SUCCESS;
}

const char *ostrel_google_drive_export_get_mime(const char *name) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(name != NULL);
    const char *mime_type = nullptr;
    if (const char *suffix = suffix_of(name)) {
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Checking the extension %s of file |%s|\n",
                                       suffix, name);
        for (size_t k = 0; k < 4 && mime_type == nullptr; ++k) {
            if (export_conf.slots[k] != nullptr && equal(export_conf.slots[k]->extension, suffix)) {
                mime_type = kinds[k].type.mime_type;
            }
        }
        if (mime_type == nullptr) {
            mime_type = ostrel_google_drive_doc_mime_type(name);
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT(or_null(mime_type));
    return mime_type;
}

const char *ostrel_google_drive_exported_get_extension(const char *mime_type) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    const DocType *row = ostrel_l_google_get_mime_struct(mime_type);
    const char *extension = row != nullptr ? row->extension : ostrel_google_drive_doc_extension(mime_type);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT(extension);
    return extension;
}

const char *ostrel_google_drive_exported_get_export_mime(const char *mime_type) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    const DocType *row = ostrel_l_google_get_mime_struct(mime_type);
    const char *export_mime = row != nullptr ? row->mime_type : nullptr;
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT(or_null(export_mime));
    return export_mime;
}

bool ostrel_google_drive_exported_type_is_stub(const char *mime_type) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    bool stub = false;
    if (mime_type != nullptr) {
        const DocType *row = ostrel_l_google_get_mime_struct(mime_type);
        stub = row != nullptr ? row->mime_type == nullptr : ostrel_google_drive_mime_type_is_google_docs(mime_type);
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_BOOL(stub);
    return stub;
}

void ostrel_google_drive_export_escape_type(const char *mime_type, const char **export_type,
                                            const char **export_extension) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(export_type != NULL);
    OSTREL_GDC_REQUIRE(export_extension != NULL);
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Looking up mime_type %s\n", or_null(mime_type));
    *export_type = nullptr;
    *export_extension = nullptr;
    if (const DocType *row = ostrel_l_google_get_mime_struct(mime_type)) {
        const char *extension = row->extension + 1;
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Looking for extension %s and mime_type %s\n",
                                       extension, or_null(row->mime_type));
        if (row->mime_type != nullptr) {
            *export_type = apps_type_by_mime(mime_type)->export_word;
            *export_extension = extension;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT();
}

namespace ostrel::gdc {

// name_out with the allocator given: the exported one takes the host's,
// which never fails; the library's own callers take mem_malloc and report
// a NULL as the "malloc" error.
char *ostrel_google_drive_name_out(const char *name, const char *in_type, const char *in_extension,
                                   void *(*allocate)(size_t)) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Incoming name=%s, type=%s, ext=%s\n",
                                   or_null(name), or_null(in_type), or_null(in_extension));
    if (name == nullptr) {
        OSTREL_GOOGLE_DRIVE_TRACE_EXIT();
        return nullptr;
    }
    OSTREL_GDC_REQUIRE(in_type == NULL || in_extension != NULL);
    const std::string_view base = name;
    char *out = nullptr;
    if (in_type != nullptr) {
        const std::string_view type = in_type;
        const std::string_view extension = in_extension;
        out = static_cast<char *>(allocate(base.size() + type.size() + extension.size() + 11));
        char *p = out;
        if (p == nullptr) {
            OSTREL_GOOGLE_DRIVE_TRACE_EXIT();
            return nullptr;
        }
        for (const std::string_view piece : {base, export_opening, type, std::string_view("}."), extension}) {
            std::memcpy(p, piece.data(), piece.size());
            p += piece.size();
        }
        *p = '\0';
    } else {
        // Room after the name for the stub extension the caller may append.
        constexpr size_t stub_room = 10;
        const std::optional<ExportSuffix> suffix = find_export_suffix(base);
        out = static_cast<char *>(allocate(base.size() + (suffix ? 1 : 0) + stub_room + 1));
        if (out != nullptr && suffix) {
            std::memcpy(out, base.data(), suffix->close);
            out[suffix->close] = '+';
            std::memcpy(out + suffix->close + 1, base.data() + suffix->close, base.size() - suffix->close + 1);
        } else if (out != nullptr) {
            std::memcpy(out, base.data(), base.size() + 1);
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT();
    return out;
}

}  // namespace ostrel::gdc

char *ostrel_google_drive_name_out(const char *name, const char *in_type, const char *in_extension) noexcept
{
    return ostrel::gdc::ostrel_google_drive_name_out(name, in_type, in_extension, ostrel_libc_safe_malloc);
}

char *ostrel_google_drive_name_in(const char *name, bool, char **export_type, char **export_extension) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(name != NULL);
    OSTREL_GDC_REQUIRE(export_type != NULL);
    OSTREL_GDC_REQUIRE(export_extension != NULL);
    *export_type = nullptr;
    *export_extension = nullptr;
    const std::string_view whole = name;
    const std::optional<ExportSuffix> suffix = find_export_suffix(whole);
    char *out = nullptr;
    if (!suffix) {
        out = ostrel::gdc::mem_strdup(whole);
    } else if (ostrel::gdc::is_protected(whole, *suffix)) {
        // A protected look-alike: drop the one "+" and take the rest literally.
        out = static_cast<char *>(ostrel::gdc::mem_malloc(whole.size()));
        if (out != nullptr) {
            std::memcpy(out, whole.data(), suffix->close - 1);
            std::memcpy(out + suffix->close - 1, whole.data() + suffix->close, whole.size() - suffix->close + 1);
        }
    } else {
        out = ostrel::gdc::mem_strdup(whole.substr(0, suffix->open));
        if (out != nullptr) {
            const size_t type_start = suffix->open + export_opening.size();
            *export_type = ostrel::gdc::mem_strdup(whole.substr(type_start, suffix->close - type_start));
            *export_extension = ostrel::gdc::mem_strdup(whole.substr(suffix->dot + 1));
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT();
    return out;
}

namespace {

constexpr const char *option_names[4] = {"export_documents", "export_spreadsheets", "export_presentations",
                                         "export_drawings"};

// Whether kind may be exported as extension (with or without its "."); the
// refusal is dropped, only the answer counts.
[[nodiscard]] ostrel_result_t kind_allows(const Kind &kind, const char *extension, bool *allowed) noexcept
{
    const ostrel::gdc::Owned<char> dotted(g_l_add_dot(extension));
    if (dotted == nullptr) {
        return ostrel::gdc::system_error("malloc");
    }
    const DocType *row = nullptr;
    ostrel_result_t result = ostrel_google_drive_export_find_ext(dotted.get(), &row);
    if (result == OSTREL_SUCCESS) {
        result = g_l_validate_type(kind, row->extension);
    }
    *allowed = result == OSTREL_SUCCESS;
    if (result != OSTREL_SUCCESS) {
        ostrel_object_free(ostrel_error_get(result));
    }
    return OSTREL_SUCCESS;
}

}  // namespace

void ostrel_i_google_drive_export_config_keys(ostrel_google_drive_export_options_t *options,
                                              ostrel_google_drive_config_key_t table[6]) noexcept
{
    OSTREL_GDC_REQUIRE(options != NULL);
    OSTREL_GDC_REQUIRE(table != NULL);
    char **const dests[5] = {&options->documents, &options->spreadsheets, &options->presentations,
                             &options->drawings, &options->debug};
    for (size_t i = 0; i < 5; ++i) {
        table[i] = {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, i < 4 ? option_names[i] : "debug", dests[i], nullptr, nullptr};
    }
    table[5] = {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, nullptr, nullptr, nullptr, nullptr};
}

ostrel_result_t ostrel_i_google_drive_export_apply_config(const ostrel_google_drive_export_options_t *options) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(options != NULL);
    const char *const values[4] = {options->documents, options->spreadsheets, options->presentations,
                                   options->drawings};
    ostrel_result_t result = OSTREL_SUCCESS;
    for (size_t k = 0; k < 4 && result == OSTREL_SUCCESS; ++k) {
        bool allowed = true;
        if (values[k] != nullptr && (result = kind_allows(kinds[k], values[k], &allowed)) == OSTREL_SUCCESS
            && !allowed) {
            const std::string_view value = values[k];
            const ostrel::gdc::ExactText details = ostrel::gdc::exact_text([&](auto &out) {
                out.put("\"");
                out.put(value.substr(0, 100));
                out.put("\" is not a format ");
                out.put(kinds[k].plural);
                out.put(" can be exported to");
            });
            if (details.text == nullptr) {
                result = ostrel::gdc::system_error("malloc");
            } else {
                const ostrel::gdc::Owned<char> owned(details.text);
                result = ostrel::gdc::configuration_error(option_names[k], "Applying the export options", owned.get());
            }
        }
    }
    const auto saved = export_conf.slots;
    if (result == OSTREL_SUCCESS) {
        result = ostrel_google_drive_export_set_config(values[0], values[1], values[2], values[3]);
    }
    if (result == OSTREL_SUCCESS && options->debug != nullptr) {
        result = ostrel_i_google_drive_debug_configure(options->debug);
        if (result != OSTREL_SUCCESS) {
            export_conf.slots = saved;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

void ostrel_i_google_drive_export_options_destroy(ostrel_google_drive_export_options_t *options) noexcept
{
    if (options == nullptr) {
        return;
    }
    for (char **text : {&options->documents, &options->spreadsheets, &options->presentations, &options->drawings,
                        &options->debug}) {
        std::free(*text);
        *text = nullptr;
    }
}
