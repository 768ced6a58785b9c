#include "output.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "escaped_code_points.h"
#include "tool.h"

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

}  // namespace

bool is_escaped(uint32_t code)
{
    if (code >= 0x20 && code < 0x7f) {
        return false;  // most of every name: no search
    }
    const auto after = std::upper_bound(std::begin(escaped_code_points), std::end(escaped_code_points), code,
                                        [](uint32_t c, const CodePointRange &range) { return c < range.first; });
    return after != std::begin(escaped_code_points) && code <= std::prev(after)->last;
}

namespace {

std::string escaped(std::string_view text, bool with_backslash)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const Decoded d = decode(text, i);
        char code[12];
        if (d.length == 0 || (d.length == 1 && is_escaped(d.code))) {
            std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(text[i]));
            out += code;
            ++i;
            continue;
        }
        if (is_escaped(d.code)) {
            std::snprintf(code, sizeof code, d.code > 0xffff ? "\\U%08x" : "\\u%04x", static_cast<unsigned>(d.code));
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

// A JSON string: exact, with '"', '\' and every escaped code point as
// escapes.
std::string json_string_of(std::string_view text)
{
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size();) {
        const Decoded d = decode(text, i);
        if (d.length == 0) {
            throw Failure{exit_refused, "\"" + shown(text) + "\" is not UTF-8 and cannot be written as JSON"};
        }
        if (d.code == '"' || d.code == '\\') {
            out += '\\';
            out += static_cast<char>(d.code);
        } else if (is_escaped(d.code)) {
            char code[16];
            if (d.code > 0xffff) {
                const uint32_t above = d.code - 0x10000;
                std::snprintf(code, sizeof code, "\\u%04x\\u%04x", static_cast<unsigned>(0xd800 + (above >> 10)),
                              static_cast<unsigned>(0xdc00 + (above & 0x3ff)));
            } else {
                std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(d.code));
            }
            out += code;
        } else {
            out.append(text.substr(i, d.length));
        }
        i += d.length;
    }
    return out + "\"";
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

void JsonLine::key(const char *name)
{
    if (members_.size() > 1) {
        members_ += ',';
    }
    members_ += json_string_of(name);
    members_ += ':';
}

JsonLine &JsonLine::text(const char *name, std::string_view value)
{
    key(name);
    members_ += json_string_of(value);
    return *this;
}

JsonLine &JsonLine::text_or_null(const char *name, const char *value)
{
    return value != nullptr ? text(name, value) : raw(name, "null");
}

JsonLine &JsonLine::boolean(const char *name, bool value)
{
    return raw(name, value ? "true" : "false");
}

JsonLine &JsonLine::number(const char *name, uint64_t value)
{
    return raw(name, std::to_string(value));
}

JsonLine &JsonLine::raw(const char *name, std::string_view value)
{
    key(name);
    members_ += value;
    return *this;
}

void JsonLine::write() const
{
    write_out(object() + "\n");
}

std::string json_array_of(const std::vector<std::string> &objects)
{
    std::string array = "[";
    for (const std::string &object : objects) {
        array += (array.size() > 1 ? "," : "") + object;
    }
    return array + "]";
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
