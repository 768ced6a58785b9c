// The escaped-name grammar shared by both directions of name translation:
// the tokens "{dot}", "{dotdot}", "{slash}" and the control escapes "{xHH}"
// with their "+"-protected forms,
// the ID token ".{ID" id "}" with its protected form, and the export
// suffix's recognition rule. Inbound and outbound, counting and writing all
// use these matchers.
#ifndef OSTREL_GDC_GRAMMAR_H
#define OSTREL_GDC_GRAMMAR_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "ostrel_common.h"

namespace ostrel::gdc {

// Two pieces read as one text: a name with its ID token taken out.
struct Pieces {
    std::string_view first;
    std::string_view second;
    [[nodiscard]] size_t size() const noexcept { return first.size() + second.size(); }
    [[nodiscard]] char operator[](size_t i) const noexcept
    {
        return i < first.size() ? first[i] : second[i - first.size()];
    }
};

// stem, k "+" (k >= 0), "}" at pos: its length, with k in *plus; 0 if absent.
template <class Text>
[[nodiscard]] size_t match_protected(const Text &text, size_t pos, std::string_view stem, size_t *plus) noexcept
{
    if (pos + stem.size() >= text.size()) {
        return 0;
    }
    for (size_t i = 0; i < stem.size(); ++i) {
        if (text[pos + i] != stem[i]) {
            return 0;
        }
    }
    size_t i = pos + stem.size();
    while (i < text.size() && text[i] == '+') {
        ++i;
    }
    if (i == text.size() || text[i] != '}') {
        return 0;
    }
    *plus = i - pos - stem.size();
    return i + 1 - pos;
}

// The ID character set: digits, ASCII letters, "_", "-" and the blank.
constexpr auto id_chars = [] {
    std::array<bool, 256> set{};
    for (int c = 0; c < 256; ++c) {
        set[static_cast<size_t>(c)] = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')
                                      || c == '_' || c == '-' || c == ' ';
    }
    return set;
}();

[[nodiscard]] constexpr bool is_id_char(char c) noexcept
{
    return id_chars[static_cast<unsigned char>(c)];
}

// Whether text can stand in an ID token: one or more ID characters.
[[nodiscard]] inline bool is_id(std::string_view text) noexcept
{
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (!is_id_char(c)) {
            return false;
        }
    }
    return true;
}

constexpr std::string_view id_stem = ".{ID";

struct IdMatch {
    size_t length;  // of the whole token; 0 when there is none
    size_t plus;    // "+" after ".{ID": 0 for a real ID token
    std::string_view id;
};

// ".{ID", k "+", one or more ID characters, "}" at pos.
[[nodiscard]] inline IdMatch match_id(std::string_view text, size_t pos) noexcept
{
    if (text.substr(pos, id_stem.size()) != id_stem) {
        return {0, 0, {}};
    }
    size_t i = pos + id_stem.size();
    while (i < text.size() && text[i] == '+') {
        ++i;
    }
    const size_t id_start = i;
    while (i < text.size() && is_id_char(text[i])) {
        ++i;
    }
    if (i == id_start || i == text.size() || text[i] != '}') {
        return {0, 0, {}};
    }
    return {i + 1 - pos, id_start - pos - id_stem.size(), text.substr(id_start, i - id_start)};
}

// Writes stem, plus "+", "}".
template <class Sink>
void put_protected(Sink &out, std::string_view stem, size_t plus) noexcept
{
    out.put(stem);
    for (size_t i = 0; i < plus; ++i) {
        out.put('+');
    }
    out.put('}');
}

// Writes ".{ID", plus "+", id, "}".
template <class Sink>
void put_id(Sink &out, size_t plus, std::string_view id) noexcept
{
    out.put(id_stem);
    for (size_t i = 0; i < plus; ++i) {
        out.put('+');
    }
    out.put(id);
    out.put('}');
}

// A control character of Unicode category Cc as a name can hold one
// (U+0001-U+001F, U+007F-U+009F): its code point, and its length in bytes
// at pos (1, or 2 for a C1 control); length 0 when none starts there.
struct Control {
    size_t length;
    unsigned code;
};

[[nodiscard]] constexpr bool is_control_code(unsigned code) noexcept
{
    return (code >= 0x01 && code <= 0x1f) || (code >= 0x7f && code <= 0x9f);
}

[[nodiscard]] inline Control control_at(std::string_view text, size_t pos) noexcept
{
    const auto c = static_cast<unsigned char>(text[pos]);
    if ((c >= 0x01 && c < 0x20) || c == 0x7f) {
        return {1, c};
    }
    if (c == 0xc2 && pos + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[pos + 1]);
        if (next >= 0x80 && next <= 0x9f) {
            return {2, next};
        }
    }
    return {0, 0};
}

// The first position at or after pos where text holds a, b or c, or, with
// controls, a byte that may start a control character (below 0x20, 0x7f,
// or 0xc2, the lead byte of every C1 control); npos if none.
// Eight bytes a step: a byte equal to x leaves a zero byte in word ^ x*ones,
// a byte below 0x20 flags in (word - 0x20*ones) & ~word, and the lowest
// flagged byte of either test is always a true one.
[[nodiscard]] inline size_t find_any_of(std::string_view text, size_t pos, char a, char b, char c,
                                        bool controls = false) noexcept
{
    constexpr uint64_t ones = 0x0101010101010101ULL;
    constexpr uint64_t highs = 0x8080808080808080ULL;
    const auto below = [](uint64_t v, uint64_t n) { return (v - n * ones) & ~v & highs; };
    const auto zero_bytes = [&](uint64_t v) { return below(v, 1); };
    const uint64_t ma = ones * static_cast<unsigned char>(a);
    const uint64_t mb = ones * static_cast<unsigned char>(b);
    const uint64_t mc = ones * static_cast<unsigned char>(c);
    constexpr uint64_t del = ones * 0x7f;
    constexpr uint64_t c1_lead = ones * 0xc2;
    const auto hit = [&](unsigned char byte) {
        return byte == static_cast<unsigned char>(a) || byte == static_cast<unsigned char>(b)
               || byte == static_cast<unsigned char>(c)
               || (controls && (byte < 0x20 || byte == 0x7f || byte == 0xc2));
    };
    for (; pos + 8 <= text.size(); pos += 8) {
        uint64_t word = 0;
        std::memcpy(&word, text.data() + pos, 8);
        uint64_t hits = zero_bytes(word ^ ma) | zero_bytes(word ^ mb) | zero_bytes(word ^ mc);
        if (controls) {
            hits |= below(word, 0x20) | zero_bytes(word ^ del) | zero_bytes(word ^ c1_lead);
        }
        if (hits != 0) {
            return pos + static_cast<size_t>(__builtin_ctzll(hits) >> 3);
        }
    }
    for (; pos < text.size(); ++pos) {
        if (hit(static_cast<unsigned char>(text[pos]))) {
            return pos;
        }
    }
    return std::string_view::npos;
}

// Whether text holds a control character.
[[nodiscard]] inline bool has_control(std::string_view text) noexcept
{
    for (size_t pos = find_any_of(text, 0, '\x01', '\x01', '\x01', true); pos != std::string_view::npos;
         pos = find_any_of(text, pos + 1, '\x01', '\x01', '\x01', true)) {
        if (control_at(text, pos).length != 0) {
            return true;
        }
    }
    return false;
}

constexpr std::string_view hex_digits = "0123456789abcdef";

// A code point below U+0800 as UTF-8.
template <class Sink>
void put_code_point(Sink &out, unsigned code) noexcept
{
    if (code < 0x80) {
        out.put(static_cast<char>(code));
    } else {
        out.put(static_cast<char>(0xc0 | code >> 6));
        out.put(static_cast<char>(0x80 | (code & 0x3f)));
    }
}

// A control character's escape "{x" HH, plus "+", "}": HH two lowercase
// hexadecimal digits of a Cc code point. Other digits ("{x0A}", "{x41}",
// "{x00}") are no escape and stay text, so each name has one spelling.
struct ControlEscape {
    size_t length;  // 0 when there is none
    size_t plus;
    unsigned code;
};

[[nodiscard]] inline ControlEscape match_control_escape(std::string_view text, size_t pos) noexcept
{
    if (text.size() - pos < 5 || text[pos] != '{' || text[pos + 1] != 'x') {
        return {0, 0, 0};
    }
    const size_t high = hex_digits.find(text[pos + 2]);
    const size_t low = hex_digits.find(text[pos + 3]);
    if (high == std::string_view::npos || low == std::string_view::npos) {
        return {0, 0, 0};
    }
    const auto code = static_cast<unsigned>(high << 4 | low);
    size_t plus = 0;
    const size_t rest = is_control_code(code) ? match_protected(text, pos + 4, std::string_view(), &plus) : 0;
    if (rest == 0) {
        return {0, 0, 0};
    }
    return {4 + rest, plus, code};
}

template <class Sink>
void put_control_escape(Sink &out, unsigned code, size_t plus) noexcept
{
    out.put("{x");
    out.put(hex_digits[code >> 4]);
    out.put(hex_digits[code & 0xf]);
    for (size_t i = 0; i < plus; ++i) {
        out.put('+');
    }
    out.put('}');
}

// Writes text to out with tokens rewritten: token(pos) is asked at each
// position next(pos) finds (where tokens may start), writes the token's
// replacement and returns the token's length, or 0 (writing nothing) when
// none starts there. The bytes between tokens go out in runs, not one by one.
template <class Sink, class Next, class Token>
void put_rewritten(std::string_view text, Next &&next, Sink &out, Token &&token) noexcept
{
    size_t run = 0;
    for (size_t pos = next(0); pos != std::string_view::npos; pos = next(pos)) {
        out.put(text.substr(run, pos - run));
        const size_t length = token(pos);
        if (length == 0) {
            out.put(text[pos]);
            ++pos;
        } else {
            pos += length;
        }
        run = pos;
    }
    out.put(text.substr(run));
}

// Tokens that count only as the whole name, with the Drive name they stand for.
struct WholeNameToken {
    std::string_view stem;
    std::string_view drive_name;
};
constexpr WholeNameToken whole_name_tokens[] = {{"{dot", "."}, {"{dotdot", ".."}};

constexpr std::string_view slash_stem = "{slash";

// Where a name carries an export suffix: base "{export-" type "}" filler "."
// extension. Found by the last "." and the last "{" of the whole name: the
// "{" must stand before the dot and open "{export-", and the first "}" after
// it must stand before the dot too. So the extension holds neither "." nor
// "{", and a "{" after the final dot means there is no suffix.
struct ExportSuffix {
    size_t open;
    size_t close;
    size_t dot;
};

constexpr std::string_view export_opening = "{export-";

// The position of the last c in text, or npos; memrchr is far quicker than
// a byte loop.
[[nodiscard]] inline size_t last_of(std::string_view text, char c) noexcept
{
    const void *found = text.empty() ? nullptr : memrchr(text.data(), c, text.size());
    return found != nullptr ? static_cast<size_t>(static_cast<const char *>(found) - text.data())
                            : std::string_view::npos;
}

[[nodiscard]] inline std::optional<ExportSuffix> find_export_suffix(std::string_view name) noexcept
{
    const size_t dot = last_of(name, '.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    const size_t open = last_of(name, '{');
    if (open == std::string_view::npos || open > dot || name.substr(open, export_opening.size()) != export_opening) {
        return std::nullopt;
    }
    const size_t close = name.find('}', open);
    if (close == std::string_view::npos || close > dot) {
        return std::nullopt;
    }
    return ExportSuffix{open, close, dot};
}

// Whether the suffix is a protected look-alike: a "+" just before its "}".
[[nodiscard]] inline bool is_protected(std::string_view name, const ExportSuffix &suffix) noexcept
{
    return name[suffix.close - 1] == '+';
}

// How an inbound name is read: as translation reads it; as the name of an
// ordinary file, whose stub-like extension is part of its Drive name; or as
// a folder's, which has neither stub extension nor export suffix (only a
// look-alike's protecting "+" goes).
enum class Reading { client, ordinary_file, folder };

// Inbound translation of a NUL-terminated name of known length, as
// ostrel_google_drive_name_translate_in.
[[nodiscard]] ostrel_result_t ostrel_google_drive_name_translate_in(std::string_view input, char **output_namep,
                                                                    const char **output_mime_typep,
                                                                    char **output_idp, bool for_write,
                                                                    Reading reading = Reading::client) noexcept;

// ostrel_google_drive_name_out with the given allocator; NULL when it
// gives NULL.
[[nodiscard]] char *ostrel_google_drive_name_out(const char *name, const char *in_type, const char *in_extension,
                                                 void *(*allocate)(size_t)) noexcept;

}  // namespace ostrel::gdc

#endif
