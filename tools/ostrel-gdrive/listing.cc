#include "listing.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "output.h"

namespace ostrel::gdrive {

namespace {

constexpr std::string_view blanks = " \t\r\n";
constexpr std::string_view byte_order_mark = "\xef\xbb\xbf";

[[nodiscard]] std::string_view trimmed(std::string_view text, size_t *leading)
{
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        *leading = text.size();
        return {};
    }
    *leading = first;
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
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

bool Reader::rest(std::string *text)
{
    start();
    while (fill()) {
    }
    if (error_ != 0) {
        return false;
    }
    text->append(buffer_.data() + begin_, end_ - begin_);
    begin_ = end_;
    return true;
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

bool Listing::open(const std::string &path, std::string *error)
{
    name_ = path == "-" ? "<stdin>" : shown(path);
    if (!reader_.open(path)) {
        *error = name_ + ": " + std::strerror(errno);
        return false;
    }
    // The first line decides: a whole JSON object on it starts a stream of
    // resources (or pages), one a line; anything else is read whole.
    std::string_view line;
    size_t leading = 0;
    std::string_view first;
    while (reader_.line(&line)) {
        ++line_number_;
        first = trimmed(line, &leading);
        if (!first.empty()) {
            break;
        }
    }
    if (first.empty()) {
        if (reader_.error() != 0) {
            *error = name_ + ": " + std::strerror(reader_.error());
            return false;
        }
        return true;  // an empty listing
    }
    if (first.front() == '{') {
        json_error_t json_error;
        json_t *value = json_loadb(first.data(), first.size(), 0, &json_error);
        if (json_is_object(value)) {
            streaming_ = true;
            document_line_ = line_number_;
            return hold(value, false, error);
        }
        json_decref(value);
    }
    whole_first_line_ = line_number_;
    whole_.assign(line.data(), line.size());
    whole_ += '\n';
    if (!reader_.rest(&whole_)) {
        *error = name_ + ": " + std::strerror(reader_.error());
        return false;
    }
    document_line_ = whole_first_line_;
    return true;
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
        more_pages_ = false;
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
        more_pages_ = token != nullptr && *token != '\0';
        incomplete_ = incomplete_ || json_is_true(json_object_get(document, "incompleteSearch"));
    } else if (json_is_object(document)) {
        more_pages_ = false;
    } else {
        *error = top_level ? name_ + ": not a listing: expected a files.list response, an array of files or one file "
                                     "per line"
                           : at(document_line_, 1) + ": expected one file resource (a JSON object) per line";
        return false;
    }
    return true;
}

bool Listing::next_document(std::string *error)
{
    // Pages written one after another by a paging loop are one listing.
    while (parsed_ < whole_.size() && blanks.find(whole_[parsed_]) != std::string_view::npos) {
        if (whole_[parsed_++] == '\n') {
            ++document_line_;
        }
    }
    if (parsed_ >= whole_.size()) {
        return false;
    }
    json_error_t json_error;
    json_t *document = json_loadb(whole_.data() + parsed_, whole_.size() - parsed_,
                                  JSON_DISABLE_EOF_CHECK | JSON_DECODE_ANY, &json_error);
    if (document == nullptr) {
        int column = json_error.column;
        if (json_error.line <= 1) {
            // The document starts within its line: count what stands before it.
            const size_t line_start = parsed_ == 0 ? std::string::npos : whole_.rfind('\n', parsed_ - 1);
            column += static_cast<int>(line_start == std::string::npos ? parsed_ : parsed_ - line_start - 1);
        }
        *error = at(document_line_ + json_error.line - 1, column) + ": invalid JSON: " + shown(json_error.text);
        return false;
    }
    const size_t start = parsed_;
    parsed_ += static_cast<size_t>(json_error.position);
    for (size_t i = start; i < parsed_; ++i) {
        document_line_ += whole_[i] == '\n' ? 1 : 0;
    }
    return hold(document, true, error);
}

std::string Listing::document_where() const
{
    return streaming_ ? at(document_line_, 0) : name_;
}

std::string Listing::where() const
{
    if (!last_was_item_) {
        return document_where();
    }
    return document_where() + ": " + (pages_ > 0 ? "page " + std::to_string(pages_) + ", item " : "item ")
           + std::to_string(index_);
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
        if (!streaming_) {
            if (!next_document(error)) {
                return nullptr;
            }
            continue;
        }
        std::string_view line;
        if (!reader_.line(&line)) {
            if (reader_.error() != 0) {
                *error = name_ + ": " + std::strerror(reader_.error());
            }
            return nullptr;
        }
        ++line_number_;
        size_t leading = 0;
        const std::string_view text = trimmed(line, &leading);
        if (text.empty()) {
            continue;
        }
        document_line_ = line_number_;
        json_error_t json_error;
        json_t *value = json_loadb(text.data(), text.size(), JSON_DECODE_ANY, &json_error);
        if (value == nullptr) {
            *error = at(line_number_, static_cast<int>(leading) + json_error.column) + ": invalid JSON: "
                     + shown(json_error.text);
            return nullptr;
        }
        if (!hold(value, false, error)) {
            return nullptr;
        }
    }
}

std::vector<std::string> Listing::warnings() const
{
    std::vector<std::string> said;
    if (more_pages_) {
        said.push_back(name_ + ": warning: the listing ends with a page that has a nextPageToken: it is one page of "
                               "several, and the files of the pages after it are missing");
    }
    if (incomplete_) {
        said.push_back(name_ + ": warning: Drive did not search everything (incompleteSearch): files may be missing");
    }
    return said;
}

}  // namespace ostrel::gdrive
