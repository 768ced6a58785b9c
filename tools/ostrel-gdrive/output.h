// What the tool prints: names escaped so that a terminal shows them safely
// and two different names never look alike, tables, checked writes.
#ifndef OSTREL_GDRIVE_OUTPUT_H
#define OSTREL_GDRIVE_OUTPUT_H

#include <string>
#include <string_view>
#include <vector>

namespace ostrel::gdrive {

// text as a terminal may show it: "\" as "\\", control characters and bytes
// that are not UTF-8 as \xNN, C1 controls, bidirectional and line-separator
// characters as \uNNNN; everything else as it is.
[[nodiscard]] std::string shown(std::string_view text);

// text with only what a terminal must not see escaped, as shown() does,
// but "\" kept: for the library's own messages, which quote regexes.
[[nodiscard]] std::string safe(std::string_view text);

// Columns a shown text takes: one per character.
[[nodiscard]] size_t width_of(std::string_view text);

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
