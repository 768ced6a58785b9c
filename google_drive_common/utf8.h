// The UTF-8 check of inbound names and of texts written as JSON.
#ifndef OSTREL_GDC_UTF8_H
#define OSTREL_GDC_UTF8_H

#include <string_view>

namespace ostrel::gdc {

// Well-formed UTF-8 (RFC 3629): 0; EILSEQ for a byte that cannot stand where
// it does (overlong forms, surrogates, code points above U+10FFFF, 5- and
// 6-byte forms); EINVAL for a character cut short by the end of the text.
[[nodiscard]] int utf8_errno(std::string_view text) noexcept;

[[nodiscard]] bool is_strict_utf8(std::string_view text) noexcept;

// Whether text is ASCII only: Drive documents how it compares such names.
[[nodiscard]] inline bool is_ascii(std::string_view text) noexcept
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace ostrel::gdc

#endif
