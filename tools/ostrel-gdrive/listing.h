// Reading a Drive file listing: a files.list response, a JSON array of file
// resources, or newline-delimited JSON (streamed, one resource at a time).
#ifndef OSTREL_GDRIVE_LISTING_H
#define OSTREL_GDRIVE_LISTING_H

#include <jansson.h>

#include <cstdio>
#include <memory>
#include <string>

namespace ostrel::gdrive {

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

private:
    [[nodiscard]] bool read_line();
    // Whether the last read failed (not the end of the file); sets *error.
    [[nodiscard]] bool read_failed(std::string *error) const;
    [[nodiscard]] json_t *take_item();
    void hold(json_t *document);
    [[nodiscard]] std::string where(int line, int column) const;

    std::string path_;
    FILE *file_ = nullptr;
    bool owns_file_ = false;
    char *line_ = nullptr;
    size_t line_capacity_ = 0;
    ssize_t line_length_ = 0;
    int line_number_ = 0;
    int read_errno_ = 0;
    bool streaming_ = false;
    json_t *items_ = nullptr;  // the array being walked
    json_t *document_ = nullptr;
    size_t index_ = 0;
};

}  // namespace ostrel::gdrive

#endif
