// Inbound name translation: a client's name becomes the Drive name, the MIME
// type the name implies and the Drive file id it carries.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "api.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "grammar.h"
#include "memory.h"
#include "stop.h"
#include "utf8.h"

namespace {

using namespace ostrel::gdc;

constexpr const char *export_suffix_details =
    "File names cannot end with a string that matches the regex: \\{export-([A-Za-z0-9]+)\\}\\.([A-Za-z0-9]+), "
    "e.g. name{export-gdoc}.pdfIf you are uploading an exported document then you must change its name first.";

struct IdTokens {
    size_t count;  // counted up to 2
    size_t position;
    IdMatch first;
};

[[nodiscard]] IdTokens find_id_tokens(std::string_view name) noexcept
{
    IdTokens found = {0, 0, {0, 0, {}}};
    for (size_t pos = name.find(id_stem); pos != std::string_view::npos && found.count < 2;) {
        const IdMatch match = match_id(name, pos);
        if (match.length != 0 && match.plus == 0) {
            if (found.count++ == 0) {
                found.position = pos;
                found.first = match;
            }
        }
        pos = name.find(id_stem, pos + (match.length != 0 ? match.length : 1));
    }
    return found;
}

// name into block, without the "+" that protects an export-suffix
// look-alike, if it has one.
[[nodiscard]] std::string_view without_protection(std::string_view name, char *block) noexcept
{
    const std::optional<ExportSuffix> suffix = find_export_suffix(name);
    char *at = block;
    if (suffix && is_protected(name, *suffix)) {
        (void) put_text(&at, name.substr(0, suffix->close - 1));
        --at;
        (void) put_text(&at, name.substr(suffix->close));
        return {block, name.size() - 1};
    }
    return {put_text(&at, name), name.size()};
}

// The whole-name tokens, tried on the name without its ID token.
template <class Sink>
[[nodiscard]] bool unescape_whole_name(const Pieces &rest, Sink &out) noexcept
{
    if (rest.size() < 5 || rest[0] != '{' || rest[rest.size() - 1] != '}') {
        return false;
    }
    for (const WholeNameToken &token : whole_name_tokens) {
        size_t plus = 0;
        const size_t length = match_protected(rest, 0, token.stem, &plus);
        if (length != 0 && length == rest.size()) {
            if (plus == 0) {
                out.put(token.drive_name);
            } else {
                put_protected(out, token.stem, plus - 1);
            }
            return true;
        }
    }
    return false;
}

// Writes the Drive name of a working name whose ID token is ids.first.
template <class Sink>
void unescape(std::string_view name, const IdTokens &ids, Sink &out) noexcept
{
    const Pieces rest = ids.count == 0 ? Pieces{name, {}}
                                       : Pieces{name.substr(0, ids.position),
                                                name.substr(ids.position + ids.first.length)};
    if (unescape_whole_name(rest, out)) {
        return;
    }
    put_rewritten(
        name, [name](size_t pos) { return find_any_of(name, pos, '{', '.', '.'); }, out,
        [&](size_t pos) -> size_t {
            size_t plus = 0;
            if (name[pos] == '{') {
                const size_t length = match_protected(name, pos, slash_stem, &plus);
                if (length != 0) {
                    if (plus == 0) {
                        out.put('/');
                    } else {
                        put_protected(out, slash_stem, plus - 1);
                    }
                    return length;
                }
                const ControlEscape escape = match_control_escape(name, pos);
                if (escape.length != 0 && escape.plus == 0) {
                    put_code_point(out, escape.code);
                } else if (escape.length != 0) {
                    put_control_escape(out, escape.code, escape.plus - 1);
                }
                return escape.length;
            }
            if (ids.count != 0 && pos == ids.position) {
                return ids.first.length;  // the ID token, found before: it leaves the name
            }
            const IdMatch id = match_id(name, pos);
            if (id.length != 0 && id.plus != 0) {
                put_id(out, id.plus - 1, id.id);
            }
            return id.length;
        });
}

}  // namespace

namespace ostrel::gdc {

int utf8_errno(std::string_view text) noexcept
{
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const unsigned char *const end = p + text.size();
    while (p < end) {
        // Eight ASCII bytes at a time.
        uint64_t word = 0;
        if (end - p >= 8 && (std::memcpy(&word, p, 8), (word & 0x8080808080808080ULL) == 0)) {
            p += 8;
            continue;
        }
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        // The lead byte gives the length; the second byte's range rules out
        // overlong forms, surrogates and code points above U+10FFFF.
        size_t extra = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xbf;
        if (c >= 0xc2 && c <= 0xdf) {
            extra = 1;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2;
            low = c == 0xe0 ? 0xa0 : 0x80;
            high = c == 0xed ? 0x9f : 0xbf;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3;
            low = c == 0xf0 ? 0x90 : 0x80;
            high = c == 0xf4 ? 0x8f : 0xbf;
        } else {
            return EILSEQ;
        }
        const size_t present = std::min(extra, static_cast<size_t>(end - p - 1));
        if (present >= 1 && (p[1] < low || p[1] > high)) {
            return EILSEQ;
        }
        for (size_t i = 2; i <= present; ++i) {
            if ((p[i] & 0xc0) != 0x80) {
                return EILSEQ;
            }
        }
        if (present < extra) {
            return EINVAL;  // a character the text's end cuts short
        }
        p += extra + 1;
    }
    return 0;
}

bool is_strict_utf8(std::string_view text) noexcept
{
    return utf8_errno(text) == 0;
}

}  // namespace ostrel::gdc

namespace ostrel::gdc {

// The translation, for a name whose length the caller knows. It bears the
// exported function's name so that its trace lines carry that name.
ostrel_result_t ostrel_google_drive_name_translate_in(std::string_view input, char **output_namep,
                                                      const char **output_mime_typep, char **output_idp,
                                                      bool for_write, Reading reading) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    const char *const input_name = input.data();
    OSTREL_GDC_REQUIRE(input_name != NULL);
    OSTREL_GDC_REQUIRE(output_namep != NULL);
    OSTREL_GDC_REQUIRE(input.find('/') == std::string_view::npos);
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Translating the input name %s\n", input_name);
    *output_namep = nullptr;
    if (output_idp != nullptr) {
        *output_idp = nullptr;
    }

    ostrel_result_t result = OSTREL_SUCCESS;
    const char *mime_type = nullptr;
    // The working name, and the export suffix's type and extension, all
    // NUL-terminated in one scratch block (or the input itself).
    // Every token and the export suffix hold a "{"; most names have none.
    const bool plain = input.find('{') == std::string_view::npos;
    ScratchText scratch;
    char *const block = scratch.reserve(input.size() + 3);
    // The working name, NUL-terminated where it stands.
    std::string_view working = input;
    const char *export_type = nullptr;
    const char *export_extension = nullptr;
    if (block == nullptr) {
        result = system_error("malloc");
    } else if (has_control(input)) {
        // Listings never show one raw, so a raw one is a second spelling.
        result = control_character_error(input_name);
    } else if (reading == Reading::client && ostrel_google_drive_is_stub(input_name)) {
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "removing the stub extension\n");
        // Outbound protects an export-suffix look-alike before the stub
        // extension; its one "+" goes here as in the export branch.
        working = without_protection(input.substr(0, last_of(input, '.')), block);
        mime_type = ostrel_google_drive_doc_mime_type(input_name);
    } else {
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Checking for an extension translation %s\n",
                                       input_name);
        const std::optional<ExportSuffix> suffix = plain ? std::nullopt : find_export_suffix(input);
        if (suffix && !is_protected(input, *suffix) && reading != Reading::folder) {
            const size_t type_start = suffix->open + export_opening.size();
            char *at = block;
            working = {put_text(&at, input.substr(0, suffix->open)), suffix->open};
            export_type = put_text(&at, input.substr(type_start, suffix->close - type_start));
            export_extension = put_text(&at, input.substr(suffix->dot + 1));
        } else if (suffix) {
            working = without_protection(input, block);
        }
        mime_type = ostrel_i_google_drive_escape_name_to_mime(export_type, export_extension);
    }

    Owned<char> drive_name;
    Owned<char> id;
    bool outcome = false;  // whether the outcome line is written
    if (result == OSTREL_SUCCESS && export_type != nullptr && for_write) {
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Not a legal name %s %s\n", input_name,
                                       export_type);
        result = invalid_path_error(working.data(), export_suffix_details);
        outcome = true;
    }
    if (result == OSTREL_SUCCESS) {
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "The new name is %s\n", working.data());
        const std::string_view name = working;
        const IdTokens ids = plain ? IdTokens{0, 0, {0, 0, {}}} : find_id_tokens(name);
        if (ids.count > 1) {
            result = invalid_path_error(working.data(), nullptr);
        } else {
            const ExactText text = plain ? ExactText{mem_strdup(name), name.size(), name.size()}
                                         : exact_text([&](auto &sink) { unescape(name, ids, sink); });
            drive_name.reset(text.text);
            if (ids.count == 1) {
                id.reset(mem_strdup(ids.first.id));
            }
            if (drive_name == nullptr || (ids.count == 1 && id == nullptr)) {
                result = system_error("malloc");
            } else {
                OSTREL_GDC_REQUIRE(text.written == text.counted);
                const int utf8_failure = utf8_errno(std::string_view(drive_name.get(), text.counted));
                if (utf8_failure != 0) {
                    ostrel_object_t *why = ostrel_error_get(
                        ostrel_error_put(ostrel_error_construct_errno_error(nullptr, nullptr, utf8_failure)));
                    char *details = ostrel_object_printable_to_string(why);
                    ostrel_object_free(why);
                    result = invalid_path_error(working.data(), details != nullptr ? details : "invalid UTF-8");
                    std::free(details);
                }
                outcome = true;
            }
        }
    }
    if (result != OSTREL_SUCCESS) {
        drive_name.reset();
        id.reset();
    }
    if (outcome) {
        const char *const q = "\"";
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE(
            OSTREL_GOOGLE_DRIVE_LEVEL_TRACE,
            "input_name=\"%s\" output_name=%s%s%s output_mime_type=%s%s%s output_id=%s%s%s\n", working.data(),
            drive_name ? q : "", or_null(drive_name.get()), drive_name ? q : "", mime_type ? q : "",
            or_null(mime_type), mime_type ? q : "", id ? q : "", or_null(id.get()), id ? q : "");
    }
    *output_namep = drive_name.release();
    if (output_mime_typep != nullptr) {
        *output_mime_typep = mime_type;
    }
    if (output_idp != nullptr) {
        *output_idp = id.release();
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

}  // namespace ostrel::gdc

ostrel_result_t ostrel_google_drive_name_translate_in(const char *input_name, char **output_namep,
                                                      const char **output_mime_typep, char **output_idp,
                                                      bool for_write) noexcept
{
    return ostrel::gdc::ostrel_google_drive_name_translate_in(
        input_name != nullptr ? std::string_view(input_name) : std::string_view(), output_namep, output_mime_typep,
        output_idp, for_write);
}
