// The Google-Apps vocabulary: document MIME types, stub extensions, export
// type words and the export table, with the lookups between them.
#include <cstring>
#include <string_view>

#include "api.h"
#include "stop.h"

namespace {

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

[[nodiscard]] const AppsType *apps_type_by_mime(const char *mime_type) noexcept
{
    for (const AppsType &type : apps_types) {
        if (equal(type.mime_type, mime_type)) {
            return &type;
        }
    }
    return nullptr;
}

[[nodiscard]] const AppsType *apps_type_by_stub(const char *extension) noexcept
{
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

bool ostrel_google_drive_is_stub(const char *name) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    const bool result = apps_type_by_stub(suffix_of(name)) != nullptr;
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_BOOL(result);
    return result;
}
