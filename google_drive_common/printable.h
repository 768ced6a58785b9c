// Text as it goes into a log, a trace line or a reply: no control character
// is written raw, so a name or a Drive message never starts a line of its
// own nor drives a terminal. LF is "\n", CR "\r", other C0 controls and DEL
// "\xNN", C1 controls "\u00NN"; everything else is written as it is.
#ifndef OSTREL_GDC_PRINTABLE_H
#define OSTREL_GDC_PRINTABLE_H

#include <string_view>

#include "grammar.h"

namespace ostrel::gdc {

// quoted: the text stands between double quotes, so "\" and '"' are
// escaped too.
template <class Sink>
void put_printable(Sink &out, std::string_view text, bool quoted = false) noexcept
{
    const char quote = quoted ? '"' : '\x01';
    const char backslash = quoted ? '\\' : '\x01';
    size_t run = 0;
    for (size_t pos = find_any_of(text, 0, quote, backslash, '\x01', true); pos != std::string_view::npos;
         pos = find_any_of(text, pos, quote, backslash, '\x01', true)) {
        out.put(text.substr(run, pos - run));
        const Control control = control_at(text, pos);
        if (control.length == 0 && (text[pos] == quote || text[pos] == backslash)) {
            out.put('\\');
            out.put(text[pos]);
            ++pos;
        } else if (control.code == '\n') {
            out.put("\\n");
        } else if (control.code == '\r') {
            out.put("\\r");
        } else if (control.length != 0) {
            out.put(control.length == 1 ? "\\x" : "\\u00");
            out.put(hex_digits[control.code >> 4]);
            out.put(hex_digits[control.code & 0xf]);
        } else {
            out.put(text[pos]);
            ++pos;
        }
        pos += control.length;
        run = pos;
    }
    out.put(text.substr(run));
}

}  // namespace ostrel::gdc

#endif
