// Reading a Drive file listing: files.list responses (one page or several
// one after another), a JSON array of file resources, or newline-delimited
// JSON (streamed, one resource or page a line). Every resource comes with
// where it stands, and what is not a listing is said as such.
#ifndef OSTREL_GDRIVE_LISTING_H
#define OSTREL_GDRIVE_LISTING_H

#include <jansson.h>

#include <string>
#include <string_view>
#include <vector>

namespace ostrel::gdrive {

// Lines or the whole rest of a file descriptor, read with read(2).
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
    // Appends everything not yet read; false on a read error.
    [[nodiscard]] bool rest(std::string *text);
    [[nodiscard]] int error() const { return error_; }

private:
    [[nodiscard]] bool fill();
    void start();

    int fd_ = -1;
    bool owns_fd_ = false;
    std::vector<char> buffer_ = std::vector<char>(1 << 16);
    size_t begin_ = 0;
    size_t end_ = 0;
    bool at_end_ = false;
    bool started_ = false;
    int error_ = 0;
};

class Listing {
public:
    Listing() = default;
    ~Listing();
    Listing(const Listing &) = delete;
    Listing &operator=(const Listing &) = delete;

    // Opens path ("-" for standard input); false with *error set on failure.
    [[nodiscard]] bool open(const std::string &path, std::string *error);
    // The next file resource (a new reference the caller releases), or NULL
    // at the end or on an error (then *error is set).
    [[nodiscard]] json_t *next(std::string *error);
    // Where the last resource handed out stands ("LISTING:LINE",
    // "LISTING: item N", "LISTING: page P, item N"); made only when asked.
    [[nodiscard]] std::string where() const;
    // What the reader should know once the listing is read: a last page
    // that is not the last one, a search Drive did not finish.
    [[nodiscard]] std::vector<std::string> warnings() const;
    [[nodiscard]] const std::string &name() const { return name_; }

private:
    // Takes a parsed document: its resources are walked next.
    [[nodiscard]] bool hold(json_t *document, bool top_level, std::string *error);
    [[nodiscard]] bool next_document(std::string *error);
    [[nodiscard]] std::string at(int line, int column) const;
    [[nodiscard]] std::string document_where() const;

    std::string name_;
    Reader reader_;
    bool streaming_ = false;
    int line_number_ = 0;
    std::string whole_;  // a listing read whole, and where parsing stands
    size_t parsed_ = 0;
    int whole_first_line_ = 0;
    json_t *document_ = nullptr;
    json_t *items_ = nullptr;  // the array being walked; NULL: document_ is one resource
    size_t index_ = 0;         // of the next item; of the last one handed out, 1-based
    bool last_was_item_ = false;
    int document_line_ = 0;
    size_t pages_ = 0;
    bool more_pages_ = false;
    bool incomplete_ = false;
};

// Drive's answer when a request failed, {"error": {"code": ..., "message":
// ...}}, as a sentence; empty when document is no such answer.
[[nodiscard]] std::string drive_error_of(const json_t *document);

}  // namespace ostrel::gdrive

#endif
