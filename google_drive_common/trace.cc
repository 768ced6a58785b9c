// The three output functions of the debug stream. They take no lock: a
// trace line holds the stream's own lock around its prefix and text.
#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "api.h"

namespace {

// A format cut at the buffer's end may end inside a conversion ("%", "%5",
// "%l"); drop that unfinished conversion so vfprintf never sees it.
void drop_cut_conversion(char *format) noexcept
{
    for (char *p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            continue;
        }
        char *conversion = p + 1;
        if (*conversion == '%') {
            p = conversion;
            continue;
        }
        while (*conversion != '\0' && std::strchr("-+ #0'123456789.*hlLqjzt", *conversion) != nullptr) {
            ++conversion;
        }
        if (*conversion == '\0') {
            *p = '\0';
            return;
        }
        p = conversion;
    }
}

// Writes the front part and the caller's format, cut to 4095 characters, as
// one format for the caller's arguments.
void write_framed(FILE *stream, char *framed, int framed_length, va_list args) noexcept
{
    if (framed_length >= 4096) {
        drop_cut_conversion(framed);
    }
    std::vfprintf(stream, framed, args);
}

}  // namespace

void ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf(const char *format, ...) noexcept
{
    FILE *const stream = ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.stream;
    if (stream == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    if (ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.thread_ids_on != 0) {
        char framed[4096] = {};
        const int n = std::snprintf(framed, sizeof framed, "%lu::%s", ostrel_thread_self(), format);
        write_framed(stream, framed, n, args);
    } else {
        std::vfprintf(stream, format, args);
    }
    va_end(args);
}

void ostrel_i_OSTREL_GOOGLE_DRIVE_debug_time_printf(const char *format, ...) noexcept
{
    FILE *const stream = ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.stream;
    if (stream == nullptr) {
        return;
    }
    timeval now = {};
    gettimeofday(&now, nullptr);
    const auto seconds = static_cast<unsigned long>(now.tv_sec);
    const auto nanoseconds = static_cast<unsigned long>(now.tv_usec) * 1000UL;
    char framed[4096] = {};
    int n = 0;
    if (ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.thread_ids_on != 0) {
        n = std::snprintf(framed, sizeof framed, "%lu:%lu.%.9lu::%s", ostrel_thread_self(), seconds,
                          nanoseconds, format);
    } else {
        n = std::snprintf(framed, sizeof framed, "%lu.%.9lu::%s", seconds, nanoseconds, format);
    }
    va_list args;
    va_start(args, format);
    write_framed(stream, framed, n, args);
    va_end(args);
}

void ostrel_i_OSTREL_GOOGLE_DRIVE_debug_fwrite(const void *data, size_t size, size_t count) noexcept
{
    FILE *const stream = ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.stream;
    if (stream != nullptr) {
        std::fwrite(data, size, count, stream);
    }
}
