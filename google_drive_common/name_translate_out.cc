// Outbound name translation: a Drive file becomes the name a client sees.
// The parts stand in this order: escaped name, ID token, then export suffix
// or stub extension; inbound translation removes them in reverse.
#include <cerrno>
#include <cstring>
#include <string_view>

#include "api.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "grammar.h"
#include "memory.h"
#include "stop.h"

namespace {

using namespace ostrel::gdc;

// Every token holds "{"; only "/" and control characters are escaped
// without one.
[[nodiscard]] bool is_plain(std::string_view name) noexcept
{
    return find_any_of(name, 0, '/', '{', '{', true) == std::string_view::npos;
}

template <class Sink>
[[nodiscard]] bool escape_whole_name(std::string_view name, Sink &out) noexcept
{
    if (name.empty() || (name[0] != '.' && name[0] != '{')) {
        return false;
    }
    for (const WholeNameToken &token : whole_name_tokens) {
        size_t plus = 0;
        if (name == token.drive_name) {
            put_protected(out, token.stem, 0);
            return true;
        }
        const size_t length = match_protected(name, 0, token.stem, &plus);
        if (length != 0 && length == name.size()) {
            put_protected(out, token.stem, plus + 1);
            return true;
        }
    }
    return false;
}

// The escaped Drive name: "/", control characters and the names "." and
// ".." become tokens, text that already reads as a token gets one "+" more.
// No control character reaches a listing, a reply line or a terminal.
template <class Sink>
void escape(std::string_view name, Sink &out) noexcept
{
    if (escape_whole_name(name, out)) {
        return;
    }
    if (is_plain(name)) {
        out.put(name);
        return;
    }
    put_rewritten(
        name, [name](size_t pos) { return find_any_of(name, pos, '/', '{', '.', true); }, out,
        [&](size_t pos) -> size_t {
            size_t plus = 0;
            switch (name[pos]) {
            case '/':
                put_protected(out, slash_stem, 0);
                return 1;
            case '{': {
                size_t length = match_protected(name, pos, slash_stem, &plus);
                if (length != 0) {
                    put_protected(out, slash_stem, plus + 1);
                    return length;
                }
                const ControlEscape escape = match_control_escape(name, pos);
                if (escape.length != 0) {
                    put_control_escape(out, escape.code, escape.plus + 1);
                }
                return escape.length;
            }
            case '.': {
                const IdMatch id = match_id(name, pos);
                if (id.length != 0) {
                    put_id(out, id.plus + 1, id.id);
                }
                return id.length;
            }
            default: {
                const Control control = control_at(name, pos);
                if (control.length != 0) {
                    put_control_escape(out, control.code, 0);
                }
                return control.length;
            }
            }
        });
}

}  // namespace

ostrel_result_t ostrel_google_drive_name_translate_out(const ostrel_google_metadata_t *metadata,
                                                       char **output_namep) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(output_namep != NULL);
    OSTREL_GDC_REQUIRE(metadata != NULL);
    OSTREL_GDC_REQUIRE(!metadata->append_id || metadata->id != NULL);
    *output_namep = nullptr;
    // Records come from Drive, which leaves the name out when asked for
    // other fields only.
    if (metadata->name == nullptr) {
        errno = EINVAL;
        const ostrel_result_t result = system_error("ostrel_google_drive_name_translate_out");
        OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
        return result;
    }
    // The id comes from Drive: one that cannot stand in an ID token would
    // read back as another name, or put a "/" into this one.
    if (metadata->append_id && !is_id(metadata->id)) {
        const ostrel_result_t result = invalid_id_error(metadata->name, "file", metadata->id);
        OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
        return result;
    }
    const char *const stub_extension = ostrel_google_drive_doc_extension(metadata->mime_type);
    // A plain name without ID token is its own escaped form.
    const std::string_view name = metadata->name;
    const bool unchanged = !metadata->append_id && is_plain(name) && name != "." && name != "..";
    ScratchText working;
    const ExactText text = unchanged ? ExactText{metadata->name, name.size(), name.size()}
                                     : exact_text(working, [metadata](auto &sink) {
                                           escape(metadata->name, sink);
                                           if (metadata->append_id) {
                                               put_id(sink, 0, metadata->id);
                                           }
                                       });
    if (text.text == nullptr) {
        const ostrel_result_t result = system_error("malloc");
        OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
        return result;
    }
    OSTREL_GDC_REQUIRE(text.written == text.counted);
    const char *const escaped = text.text;
    OSTREL_GDC_REQUIRE(memchr(escaped, '/', text.written) == NULL);
    OSTREL_GDC_REQUIRE(strcmp(escaped, ".") != 0);
    OSTREL_GDC_REQUIRE(strcmp(escaped, "..") != 0);

    const char *export_type = nullptr;
    const char *export_extension = nullptr;
    ostrel_google_drive_export_escape_type(metadata->mime_type, &export_type, &export_extension);
    char *const final_name = ostrel_google_drive_name_out(escaped, export_type, export_extension, mem_malloc_fn);
    if (final_name == nullptr) {
        const ostrel_result_t result = system_error("malloc");
        OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
        return result;
    }
    if (export_type == nullptr && stub_extension[0] != '\0') {
        // name_out leaves room for the longest stub extension.
        std::strcat(final_name, stub_extension);
    }
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Using the export new name %s, mine %s\n",
                                   final_name, or_null(metadata->mime_type));
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, "input_name=\"%s\" output_name=%s%s%s\n",
                                   metadata->name, "\"", final_name, "\"");
    *output_namep = final_name;
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(OSTREL_SUCCESS);
    return OSTREL_SUCCESS;
}
