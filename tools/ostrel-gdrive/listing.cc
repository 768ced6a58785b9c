#include "listing.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "output.h"

namespace ostrel::gdrive {

namespace {

constexpr std::string_view byte_order_mark = "\xef\xbb\xbf";

// The parser's words, less the name of a flag of its own.
std::string json_error_text(const char *text)
{
    constexpr std::string_view nul = "\\u0000 is not allowed without JSON_ALLOW_NUL";
    const std::string_view said = text;
    return said.starts_with(nul) ? "a NUL character (\\u0000) in a JSON string" + shown(said.substr(nul.size()))
                                 : shown(said);
}

}  // namespace

Reader::~Reader()
{
    if (owns_fd_ && fd_ >= 0) {
        ::close(fd_);
    }
}

bool Reader::open(const std::string &path)
{
    if (path == "-") {
        fd_ = STDIN_FILENO;
        return true;
    }
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    owns_fd_ = fd_ >= 0;
    return fd_ >= 0;
}

bool Reader::fill()
{
    if (at_end_ || error_ != 0) {
        return false;
    }
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) {
        buffer_.resize(buffer_.size() * 2);
    }
    ssize_t got = 0;
    do {
        got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        error_ = errno;
        return false;
    }
    if (got == 0) {
        at_end_ = true;
        return false;
    }
    end_ += static_cast<size_t>(got);
    return true;
}

void Reader::start()
{
    if (started_) {
        return;
    }
    started_ = true;
    while (end_ - begin_ < byte_order_mark.size() && fill()) {
    }
    // Editors on Windows begin a file with one; it is no part of the JSON.
    if (std::string_view(buffer_.data() + begin_, end_ - begin_).starts_with(byte_order_mark)) {
        begin_ += byte_order_mark.size();
    }
}

bool Reader::line(std::string_view *text)
{
    start();
    size_t searched = 0;  // bytes after begin_ known to hold no line feed
    for (;;) {
        const char *from = buffer_.data() + begin_ + searched;
        const void *found = std::memchr(from, '\n', end_ - begin_ - searched);
        if (found != nullptr) {
            const size_t at = static_cast<size_t>(static_cast<const char *>(found) - buffer_.data());
            *text = std::string_view(buffer_.data() + begin_, at - begin_);
            begin_ = at + 1;
            ++line_;
            return true;
        }
        searched = end_ - begin_;
        if (!fill()) {
            if (error_ != 0 || end_ == begin_) {
                return false;
            }
            *text = std::string_view(buffer_.data() + begin_, end_ - begin_);
            begin_ = end_;
            return true;
        }
    }
}

int Reader::peek()
{
    start();
    if (begin_ == end_ && !fill()) {
        return -1;
    }
    return static_cast<unsigned char>(buffer_[begin_]);
}

void Reader::take(size_t n)
{
    // Lines and columns of what is taken, a line end at a time.
    const char *from = buffer_.data() + begin_;
    const char *const end = from + n;
    for (const void *found; (found = std::memchr(from, '\n', static_cast<size_t>(end - from))) != nullptr;) {
        ++line_;
        column_ = 0;
        from = static_cast<const char *>(found) + 1;
    }
    column_ += static_cast<int>(end - from);
    begin_ += n;
}

size_t Reader::hand(void *out, size_t size, void *self)
{
    Reader &reader = *static_cast<Reader *>(self);
    if (reader.at_line_end_ || (reader.begin_ + reader.handed_ == reader.end_ && !reader.fill())) {
        return 0;  // the end, for the parser; a read error is in error_
    }
    size_t n = std::min(size, reader.end_ - reader.begin_ - reader.handed_);
    const char *from = reader.buffer_.data() + reader.begin_ + reader.handed_;
    if (reader.to_line_end_) {
        if (const void *found = std::memchr(from, '\n', n); found != nullptr) {
            n = static_cast<size_t>(static_cast<const char *>(found) - from);
            reader.at_line_end_ = true;
        }
    }
    std::memcpy(out, from, n);
    reader.handed_ += n;
    return n;
}

json_t *Reader::load(bool to_line_end, json_error_t *error, size_t *size)
{
    start();
    handed_ = 0;
    to_line_end_ = to_line_end;
    at_line_end_ = false;
    // The parser gets the bytes from begin_ on, which stay in the buffer
    // until taken: a value's lines and columns are counted once it is read.
    json_t *value = json_load_callback(hand, this, JSON_DECODE_ANY | (to_line_end ? 0 : JSON_DISABLE_EOF_CHECK),
                                       error);
    *size = to_line_end ? handed_ : static_cast<size_t>(error->position);
    return value;
}

std::string drive_error_of(const json_t *document)
{
    const json_t *error = json_object_get(document, "error");
    if (error == nullptr || json_object_get(document, "files") != nullptr || json_object_get(document, "id") != nullptr) {
        return "";
    }
    if (json_is_string(error)) {
        // The form of Google's token endpoint.
        const char *description = json_string_value(json_object_get(document, "error_description"));
        return "Drive answered: " + shown(json_string_value(error))
               + (description != nullptr ? ": " + shown(description) : "");
    }
    const json_t *code = json_object_get(error, "code");
    const char *message = json_string_value(json_object_get(error, "message"));
    std::string text = "Drive answered";
    if (json_is_integer(code)) {
        text += " " + std::to_string(json_integer_value(code));
    }
    if (message != nullptr) {
        text += ": " + shown(message);
    }
    return text;
}

Listing::~Listing()
{
    json_decref(document_);
}

std::string Listing::at(int line, int column) const
{
    return name_ + ":" + std::to_string(line) + (column > 0 ? ":" + std::to_string(column) : "");
}

bool Listing::open(const std::vector<std::string> &paths, std::string *error)
{
    paths_ = paths;
    for (const std::string &path : paths) {
        names_ += (names_.empty() ? "" : ", ") + (path == "-" ? std::string("<stdin>") : shown(path));
    }
    return open_file(error);
}

bool Listing::open_file(std::string *error)
{
    const std::string &path = paths_[file_++];
    name_ = path == "-" ? "<stdin>" : shown(path);
    reader_ = std::make_unique<Reader>();
    if (!reader_->open(path)) {
        *error = name_ + ": " + std::strerror(errno);
        return false;
    }
    // The first value decides: an object alone on its line starts a stream
    // of resources (or pages), one a line; anything else is JSON values,
    // pages one after another, in any layout.
    streaming_ = false;
    pages_ = 0;
    json_t *value = next_value(error);
    if (value == nullptr) {
        if (error->empty()) {
            *error = "no listing in " + shown(path);
        }
        return false;
    }
    const bool one_line = document_line_ == reader_->line_number();
    int c = reader_->peek();
    while (c == ' ' || c == '\t' || c == '\r') {
        reader_->take(1);
        c = reader_->peek();
    }
    streaming_ = json_is_object(value) && one_line && (c == '\n' || c == -1);
    return hold(value, !streaming_, error);
}

json_t *Listing::next_value(std::string *error)
{
    Reader &reader = *reader_;
    int c = reader.peek();
    while (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        reader.take(1);
        c = reader.peek();
    }
    if (c == -1) {
        if (reader.error() != 0) {
            *error = name_ + ": " + std::strerror(reader.error());
        }
        return nullptr;
    }
    const int column = reader.column();
    document_line_ = reader.line_number();
    // What cannot begin a value ends the read here, before a parser would
    // look for its end (a file of NUL bytes has none).
    if (std::strchr("{[\"-0123456789tfn", c) == nullptr || c == '\0') {
        const char byte = static_cast<char>(c);
        *error = at(document_line_, column + 1) + ": invalid JSON: " + shown(std::string_view(&byte, 1))
                 + " cannot start a JSON value";
        return nullptr;
    }
    json_error_t json_error;
    size_t size = 0;
    json_t *value = reader.load(streaming_, &json_error, &size);
    if (value == nullptr) {
        if (reader.error() != 0) {
            *error = name_ + ": " + std::strerror(reader.error());
            return nullptr;
        }
        // A value that starts within its line: its columns there count
        // from what stands before it.
        const int line = document_line_ + std::max(json_error.line, 1) - 1;
        *error = at(line, json_error.line <= 1 ? column + json_error.column : json_error.column)
                 + ": invalid JSON: " + json_error_text(json_error.text);
        return nullptr;
    }
    reader.take(size);
    return value;
}

bool Listing::hold(json_t *document, bool top_level, std::string *error)
{
    json_decref(document_);
    document_ = document;
    items_ = nullptr;
    index_ = 0;
    if (const std::string drive_error = drive_error_of(document); !drive_error.empty()) {
        *error = document_where() + ": " + drive_error;
        return false;
    }
    const json_t *files = json_object_get(document, "files");
    const char *kind = json_string_value(json_object_get(document, "kind"));
    if (json_is_array(document)) {
        items_ = document;
        more_pages_.clear();
    } else if (files != nullptr || (kind != nullptr && std::strcmp(kind, "drive#fileList") == 0)) {
        if (files != nullptr && !json_is_array(files)) {
            *error = document_where() + ": not a listing: \"files\" is not an array of file resources";
            return false;
        }
        ++pages_;
        items_ = files != nullptr ? const_cast<json_t *>(files) : json_array();
        if (files == nullptr) {
            // An empty page: the array lives as long as the document.
            json_object_set_new(document, "files", items_);
        }
        const char *token = json_string_value(json_object_get(document, "nextPageToken"));
        more_pages_ = token != nullptr && *token != '\0' ? name_ : "";
        if (incomplete_.empty() && json_is_true(json_object_get(document, "incompleteSearch"))) {
            incomplete_ = name_;
        }
    } else if (json_is_object(document)) {
        more_pages_.clear();
    } else {
        *error = top_level ? name_ + ": not a listing: expected a files.list response, an array of files or one file "
                                     "per line"
                           : at(document_line_, 1) + ": expected one file resource (a JSON object) per line";
        return false;
    }
    return true;
}

std::string Listing::document_where() const
{
    return at(document_line_, 0);
}

std::string Listing::where() const
{
    if (!last_was_item_) {
        return document_where();
    }
    return (streaming_ ? document_where() : name_) + ": "
           + (pages_ > 0 ? "page " + std::to_string(pages_) + ", item " : "item ") + std::to_string(index_);
}

json_t *Listing::next(std::string *error)
{
    for (;;) {
        if (document_ != nullptr) {
            if (items_ == nullptr) {
                json_t *resource = document_;
                document_ = nullptr;
                last_was_item_ = false;
                return resource;
            }
            if (index_ < json_array_size(items_)) {
                json_t *item = json_array_get(items_, index_++);
                last_was_item_ = true;
                if (!json_is_object(item)) {
                    *error = where() + ": not a file resource (a JSON object)";
                    return nullptr;
                }
                return json_incref(item);
            }
            json_decref(document_);
            document_ = nullptr;
            items_ = nullptr;
        }
        if (reader_ == nullptr) {
            return nullptr;
        }
        json_t *value = next_value(error);
        if (value == nullptr) {
            if (!error->empty()) {
                return nullptr;
            }
            // The file is read: the next one goes on with the listing.
            reader_.reset();
            if (file_ == paths_.size()) {
                return nullptr;
            }
            if (!open_file(error)) {
                return nullptr;
            }
            continue;
        }
        if (!hold(value, !streaming_, error)) {
            return nullptr;
        }
    }
}

std::vector<std::string> Listing::warnings() const
{
    std::vector<std::string> said;
    if (!more_pages_.empty()) {
        said.push_back(more_pages_
                       + ": warning: the listing ends with a page that has a nextPageToken: it is one page of "
                         "several, and the files of the pages after it are missing");
    }
    if (!incomplete_.empty()) {
        said.push_back(incomplete_
                       + ": warning: Drive did not search everything (incompleteSearch): files may be missing");
    }
    return said;
}

}  // namespace ostrel::gdrive
