// The UTF-8 check of inbound names. The system's converter ("UTF-8" to
// "UTF-8") has the final word; a strict validator answers first for the
// names it accepts, which costs a fraction of opening a converter.
#ifndef OSTREL_GDC_UTF8_H
#define OSTREL_GDC_UTF8_H

#include <string_view>

namespace ostrel::gdc {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
[[nodiscard]] bool is_strict_utf8(std::string_view text) noexcept;

// The converter's verdict: 0, or the errno of its refusal (EILSEQ for an
// invalid sequence, EINVAL for one cut short).
[[nodiscard]] int iconv_utf8_errno(std::string_view text) noexcept;

// The converter's verdict, asked only when the strict validator refuses.
[[nodiscard]] int utf8_errno(std::string_view text) noexcept;

}  // namespace ostrel::gdc

#endif
