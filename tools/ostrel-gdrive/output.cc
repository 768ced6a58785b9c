#include "output.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace ostrel::gdrive {

namespace {

// The code point of the UTF-8 sequence at text[i] and its length; length 0
// when the bytes there are not one (overlong, surrogate, cut short...).
struct Decoded {
    uint32_t code;
    size_t length;
};

Decoded decode(std::string_view text, size_t i)
{
    const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char c = byte(i);
    if (c < 0x80) {
        return {c, 1};
    }
    const size_t length = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
        return {0, 0};
    }
    uint32_t code = c & (0x7f >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) {
            return {0, 0};
        }
        code = (code << 6) | (byte(i + k) & 0x3f);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
        return {0, 0};
    }
    return {code, length};
}

// Characters that move the cursor, change what follows or reorder it.
bool is_unsafe(uint32_t code)
{
    return code < 0x20 || (code >= 0x7f && code <= 0x9f) || code == 0x061c || code == 0x200e || code == 0x200f
           || (code >= 0x2028 && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

namespace {

std::string escaped(std::string_view text, bool with_backslash)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const Decoded d = decode(text, i);
        char code[12];
        if (d.length == 0 || (d.length == 1 && is_unsafe(d.code))) {
            std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(text[i]));
            out += code;
            ++i;
            continue;
        }
        if (is_unsafe(d.code)) {
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(d.code));
            out += code;
        } else if (d.code == '\\' && with_backslash) {
            out += "\\\\";
        } else {
            out.append(text.substr(i, d.length));
        }
        i += d.length;
    }
    return out;
}

}  // namespace

std::string shown(std::string_view text)
{
    return escaped(text, true);
}

std::string safe(std::string_view text)
{
    return escaped(text, false);
}

size_t width_of(std::string_view text)
{
    size_t width = 0;
    for (const char c : text) {
        width += (static_cast<unsigned char>(c) & 0xc0) != 0x80 ? 1 : 0;
    }
    return width;
}

void write_out(std::string_view text)
{
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
        throw OutputError{errno != 0 ? errno : EIO};
    }
}

void print_table(const std::vector<std::vector<std::string>> &rows)
{
    std::vector<size_t> widths;
    for (const auto &row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], width_of(row[i]));
        }
    }
    for (const auto &row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line.append(widths[i] - width_of(row[i]) + 2, ' ');
            }
        }
        line += '\n';
        write_out(line);
    }
}

void finish_output()
{
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        throw OutputError{errno != 0 ? errno : EIO};
    }
    if (std::fclose(stdout) != 0) {
        throw OutputError{errno != 0 ? errno : EIO};
    }
}

void say(const std::string &message)
{
    std::fprintf(stderr, "ostrel-gdrive: %s\n", message.c_str());
}

}  // namespace ostrel::gdrive
