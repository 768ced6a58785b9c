// Reading a Drive file listing: files.list responses (one page or several
// one after another), a JSON array of file resources, or newline-delimited
// JSON (streamed, one resource or page a line). Every resource comes with
// where it stands, and what is not a listing is said as such.
#ifndef OSTREL_GDRIVE_LISTING_H
#define OSTREL_GDRIVE_LISTING_H

#include <jansson.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::gdrive {

// Bytes of a file descriptor, read with read(2): lines, or one JSON value
// at a time. Only what is not yet taken is kept: a value, a line.
class Reader {
public:
    Reader() = default;
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    // false with errno set when the file cannot be opened.
    [[nodiscard]] bool open(const std::string &path);
    // The next line without its line feed, valid until the next call;
    // false at the end or on a read error (then error() is set).
    [[nodiscard]] bool line(std::string_view *text);
    // The next byte, not taken; -1 at the end or on a read error.
    [[nodiscard]] int peek();
    // Takes n bytes, peeked or loaded, counting lines and columns.
    void take(size_t n);
    // Parses the JSON value that starts here, up to the end of the line
    // when to_line_end (the rest of the line must then be blank), else up
    // to its last byte; *size: the bytes it spans, to take().
    [[nodiscard]] json_t *load(bool to_line_end, json_error_t *error, size_t *size);
    [[nodiscard]] int error() const { return error_; }
    // Where the next byte stands: line (1-based), bytes before it on it.
    [[nodiscard]] int line_number() const { return line_; }
    [[nodiscard]] int column() const { return column_; }

private:
    [[nodiscard]] bool fill();
    void start();
    static size_t hand(void *out, size_t size, void *self);

    int fd_ = -1;
    bool owns_fd_ = false;
    std::vector<char> buffer_ = std::vector<char>(1 << 16);
    size_t begin_ = 0;
    size_t end_ = 0;
    bool at_end_ = false;
    bool started_ = false;
    int error_ = 0;
    int line_ = 1;
    int column_ = 0;
    size_t handed_ = 0;  // bytes after begin_ the parser has been given
    bool to_line_end_ = false;
    bool at_line_end_ = false;
};

// A listing: one file or several read one after another. Each file holds
// files.list responses (one page or several one after another), a JSON
// array of file resources, or newline-delimited JSON (one resource or page
// a line). JSON values are read one at a time, so memory grows with the
// largest page, not with the file; a single array is one value and so is
// read whole. Every resource comes with where it stands, and what is not
// a listing is said as such.
class Listing {
public:
    Listing() = default;
    ~Listing();
    Listing(const Listing &) = delete;
    Listing &operator=(const Listing &) = delete;

    // Opens paths ("-" for standard input) in turn; false with *error set
    // on failure.
    [[nodiscard]] bool open(const std::vector<std::string> &paths, std::string *error);
    // The next file resource (a new reference the caller releases), or NULL
    // at the end or on an error (then *error is set).
    [[nodiscard]] json_t *next(std::string *error);
    // Where the last resource handed out stands ("LISTING:LINE",
    // "LISTING: item N", "LISTING: page P, item N"); made only when asked.
    [[nodiscard]] std::string where() const;
    // What the reader should know once the listing is read: a last page
    // that is not the last one, a search Drive did not finish.
    [[nodiscard]] std::vector<std::string> warnings() const;
    // The files' names, for messages about the whole listing.
    [[nodiscard]] const std::string &name() const { return names_; }

private:
    [[nodiscard]] bool open_file(std::string *error);
    // Takes a parsed document: its resources are walked next.
    [[nodiscard]] bool hold(json_t *document, bool top_level, std::string *error);
    // The next JSON value of the file; NULL at its end or on an error.
    [[nodiscard]] json_t *next_value(std::string *error);
    [[nodiscard]] std::string at(int line, int column) const;
    [[nodiscard]] std::string document_where() const;

    std::vector<std::string> paths_;
    size_t file_ = 0;  // the next file to open
    std::string names_;
    std::string name_;
    std::unique_ptr<Reader> reader_;
    bool streaming_ = false;
    json_t *document_ = nullptr;
    json_t *items_ = nullptr;  // the array being walked; NULL: document_ is one resource
    size_t index_ = 0;         // of the next item; of the last one handed out, 1-based
    bool last_was_item_ = false;
    int document_line_ = 0;
    size_t pages_ = 0;
    std::string more_pages_;  // the file whose last page has a nextPageToken
    std::string incomplete_;  // the first file with an incompleteSearch page
};

// Drive's answer when a request failed, {"error": {"code": ..., "message":
// ...}}, as a sentence; empty when document is no such answer.
[[nodiscard]] std::string drive_error_of(const json_t *document);

}  // namespace ostrel::gdrive

#endif
