// What the tool prints: names escaped so that a terminal shows them safely
// and two different names never look alike, tables, checked writes.
#ifndef OSTREL_GDRIVE_OUTPUT_H
#define OSTREL_GDRIVE_OUTPUT_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::gdrive {

// Whether a code point is written as an escape: controls, format and
// default-ignorable characters, separators other than the blank, private
// use and unassigned code points (escaped_code_points.h).
[[nodiscard]] bool is_escaped(uint32_t code);

// text as a terminal may show it: "\" as "\\", bytes that are not UTF-8 and
// escaped ASCII (C0 controls, DEL) as \xNN, other escaped code points as
// \uNNNN, or \UNNNNNNNN above U+FFFF; everything else as it is.
[[nodiscard]] std::string shown(std::string_view text);

// text with only what a terminal must not see escaped, as shown() does,
// but "\" kept: for the library's own messages, which quote regexes.
[[nodiscard]] std::string safe(std::string_view text);

// Columns a shown text takes: one per character.
[[nodiscard]] size_t width_of(std::string_view text);

// One line of newline-delimited JSON: an object whose members come in the
// order they are added. Texts stay exact, but what shown() escapes is
// written \uXXXX (a surrogate pair above U+FFFF), so the line cannot drive
// a terminal. A text that is not UTF-8 is a Failure.
class JsonLine {
public:
    JsonLine &text(const char *key, std::string_view value);
    JsonLine &text_or_null(const char *key, const char *value);
    JsonLine &boolean(const char *key, bool value);
    JsonLine &number(const char *key, uint64_t value);
    // value is JSON text already (a nested object or array).
    JsonLine &raw(const char *key, std::string_view value);
    // The object without its line feed, for nesting.
    [[nodiscard]] std::string object() const { return members_ + "}"; }
    void write() const;

private:
    void key(const char *name);
    std::string members_ = "{";
};

// A JSON array of objects (JsonLine::object()), for nesting.
[[nodiscard]] std::string json_array_of(const std::vector<std::string> &objects);

// A write to standard output failed with this errno.
struct OutputError {
    int error;
};

// Writes to standard output; throws OutputError when a write fails.
void write_out(std::string_view text);

// Rows of cells, each column as wide as its widest cell, two blanks apart.
void print_table(const std::vector<std::vector<std::string>> &rows);

// Flushes and closes standard output; throws OutputError on a failure.
void finish_output();

// One line on standard error: "ostrel-gdrive: " message.
void say(const std::string &message);

}  // namespace ostrel::gdrive

#endif
