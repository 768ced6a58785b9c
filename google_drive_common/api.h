// The library's view of its own interface: every name the headers declare
// gets default visibility here (exports.map then picks what is exported),
// everything else stays hidden.
#ifndef OSTREL_GDC_API_H
#define OSTREL_GDC_API_H

#pragma GCC visibility push(default)
#include "ostrel_i_google_drive_common.h"
#pragma GCC visibility pop

namespace ostrel::gdc {

// How trace lines show an absent text.
[[nodiscard]] inline const char *or_null(const char *text) noexcept
{
    return text != nullptr ? text : "NULL";
}

}  // namespace ostrel::gdc

#endif
