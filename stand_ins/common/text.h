// Small text helpers both stand-ins use; malloc'ed results, NULL without memory.
#ifndef OSTREL_STAND_IN_TEXT_H
#define OSTREL_STAND_IN_TEXT_H

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ostrel::stand_in {

inline char *dup_or_null(const char *text) noexcept
{
    return text != nullptr ? strdup(text) : nullptr;
}

inline char *vformat(const char *format, va_list args) noexcept
{
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    char *text = nullptr;
    if (n >= 0) {
        text = static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1));
        if (text != nullptr) {
            std::vsnprintf(text, static_cast<size_t>(n) + 1, format, again);
        }
    }
    va_end(again);
    return text;
}

}  // namespace ostrel::stand_in

#endif
