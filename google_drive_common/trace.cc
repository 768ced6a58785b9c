// The three output functions of the debug stream. They take no lock: a
// trace line holds the stream's own lock around its prefix and text.
// The format's own text is written as it stands; every text it interpolates
// (%s, %c) is written printable, so a name or a Drive message holding CR,
// LF or ESC never starts a line of its own nor drives a terminal.
#include <sys/time.h>

#include <cinttypes>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "api.h"
#include "memory.h"
#include "printable.h"

namespace {

using ostrel::gdc::Owned;
using ostrel::gdc::put_printable;

class StreamSink {
public:
    explicit StreamSink(FILE *stream) noexcept : stream_(stream) {}
    void put(char c) noexcept { (void) std::putc(c, stream_); }
    void put(std::string_view text) noexcept { (void) std::fwrite(text.data(), 1, text.size(), stream_); }

private:
    FILE *stream_;
};

// One conversion's text as snprintf writes it, on the stack when short.
class Converted {
public:
    template <class Value>
    Converted(const char *spec, int width, int precision, int stars, Value value) noexcept
    {
        int n = print(local_, sizeof local_, spec, width, precision, stars, value);
        if (n < 0) {
            return;
        }
        text_ = local_;
        if (static_cast<size_t>(n) >= sizeof local_) {
            heap_.reset(static_cast<char *>(ostrel::gdc::mem_malloc(static_cast<size_t>(n) + 1)));
            if (heap_ == nullptr) {
                n = static_cast<int>(sizeof local_) - 1;  // what fits, rather than nothing
            } else {
                n = print(heap_.get(), static_cast<size_t>(n) + 1, spec, width, precision, stars, value);
                text_ = heap_.get();
            }
        }
        size_ = n < 0 ? 0 : static_cast<size_t>(n);
    }
    [[nodiscard]] std::string_view text() const noexcept { return {text_, size_}; }

private:
    template <class Value>
    static int print(char *out, size_t size, const char *spec, int width, int precision, int stars,
                     Value value) noexcept
    {
        _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wformat-nonliteral\"");
        switch (stars) {
        case 0:
            return std::snprintf(out, size, spec, value);
        case 1:
            return std::snprintf(out, size, spec, width >= 0 ? width : precision, value);
        default:
            return std::snprintf(out, size, spec, width, precision, value);
        }
        _Pragma("GCC diagnostic pop");
    }

    char local_[128];
    Owned<char> heap_;
    const char *text_ = "";
    size_t size_ = 0;
};

// vfprintf of format and args to stream, interpolated texts printable.
// Conversions are read as C99 gives them; one that cannot be read is
// written as it stands, and the rest of the format with it.
void write_printable(FILE *stream, const char *format, va_list args) noexcept
{
    StreamSink out(stream);
    va_list rest;
    va_copy(rest, args);
    const char *p = format;
    while (*p != '\0') {
        const char *percent = std::strchr(p, '%');
        if (percent == nullptr) {
            out.put(std::string_view(p));
            break;
        }
        out.put(std::string_view(p, static_cast<size_t>(percent - p)));
        if (percent[1] == '%') {
            out.put('%');
            p = percent + 2;
            continue;
        }
        // The conversion: flags, width, precision, length, conversion.
        const char *q = percent + 1;
        q += std::strspn(q, "-+ #0'");
        int width = -1;
        int precision = -1;
        int stars = 0;
        if (*q == '*') {
            width = va_arg(rest, int);
            ++stars;
            ++q;
        } else {
            q += std::strspn(q, "0123456789");
        }
        if (*q == '.') {
            ++q;
            if (*q == '*') {
                precision = va_arg(rest, int);
                ++stars;
                ++q;
            } else {
                q += std::strspn(q, "0123456789");
            }
        }
        const char *length = q;
        q += std::strspn(q, "hlLqjzt");
        const std::string_view modifier(length, static_cast<size_t>(q - length));
        const char conversion = *q;
        const size_t spec_size = static_cast<size_t>(q - percent) + 1;
        char spec[32] = {};
        if (conversion == '\0' || spec_size >= sizeof spec) {
            out.put(std::string_view(percent));
            break;
        }
        std::memcpy(spec, percent, spec_size);
        p = q + 1;
        bool printable = false;  // whether the conversion's text is interpolated text
        const auto put = [&](auto value) {
            const Converted converted(spec, width, precision, stars, value);
            if (printable) {
                put_printable(out, converted.text());
            } else {
                out.put(converted.text());
            }
        };
        switch (conversion) {
        case 's':
            if (modifier.empty()) {
                const char *text = va_arg(rest, const char *);
                printable = true;
                put(text != nullptr ? text : "(null)");
            } else {
                (void) va_arg(rest, const wchar_t *);  // never written by the library
            }
            break;
        case 'c':
            printable = true;
            put(va_arg(rest, int));
            break;
        case 'd':
        case 'i':
            if (modifier == "l") {
                put(va_arg(rest, long));
            } else if (modifier == "ll" || modifier == "q") {
                put(va_arg(rest, long long));
            } else if (modifier == "j") {
                put(va_arg(rest, intmax_t));
            } else if (modifier == "z" || modifier == "t") {
                put(va_arg(rest, ptrdiff_t));
            } else {
                put(va_arg(rest, int));
            }
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            if (modifier == "l") {
                put(va_arg(rest, unsigned long));
            } else if (modifier == "ll" || modifier == "q") {
                put(va_arg(rest, unsigned long long));
            } else if (modifier == "j") {
                put(va_arg(rest, uintmax_t));
            } else if (modifier == "z" || modifier == "t") {
                put(va_arg(rest, size_t));
            } else {
                put(va_arg(rest, unsigned int));
            }
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (modifier == "L") {
                put(va_arg(rest, long double));
            } else {
                put(va_arg(rest, double));
            }
            break;
        case 'p':
            put(va_arg(rest, void *));
            break;
        case 'n':
            (void) va_arg(rest, void *);  // writes nothing, stores nothing
            break;
        default:
            out.put(std::string_view(percent));
            p = "";
            break;
        }
    }
    va_end(rest);
}

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
    write_printable(stream, framed, args);
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
        write_printable(stream, format, args);
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
