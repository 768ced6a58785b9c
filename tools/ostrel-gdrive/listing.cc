#include "listing.h"

#include <cerrno>
#include <cstring>
#include <string_view>

namespace ostrel::gdrive {

namespace {

[[nodiscard]] std::string_view trimmed(const char *text, size_t length)
{
    std::string_view view(text, length);
    const size_t first = view.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return view.substr(first, view.find_last_not_of(" \t\r\n") - first + 1);
}

// The resources of one parsed document: the "files" of a files.list
// response, the elements of an array, or an object taken as one resource.
[[nodiscard]] json_t *items_of(json_t *document)
{
    if (json_is_array(document)) {
        return document;
    }
    json_t *files = json_object_get(document, "files");
    return json_is_array(files) ? files : nullptr;
}

}  // namespace

Listing::~Listing()
{
    json_decref(document_);
    std::free(line_);
    if (owns_file_ && file_ != nullptr) {
        std::fclose(file_);
    }
}

std::string Listing::where(int line, int column) const
{
    return path_ + ":" + std::to_string(line) + ":" + std::to_string(column);
}

bool Listing::read_line()
{
    errno = 0;
    line_length_ = getline(&line_, &line_capacity_, file_);
    if (line_length_ < 0) {
        read_errno_ = std::ferror(file_) ? (errno != 0 ? errno : EIO) : 0;
        return false;
    }
    ++line_number_;
    return true;
}

bool Listing::open(const std::string &path, std::string *error)
{
    path_ = path == "-" ? "<stdin>" : path;
    if (path == "-") {
        file_ = stdin;
    } else {
        file_ = std::fopen(path.c_str(), "r");
        if (file_ == nullptr) {
            *error = path + ": " + std::strerror(errno);
            return false;
        }
        owns_file_ = true;
    }
    // The first line decides: a whole JSON object on it starts a stream of
    // resources; anything else is one document read whole.
    while (read_line() && trimmed(line_, static_cast<size_t>(line_length_)).empty()) {
    }
    if (line_length_ < 0) {
        return read_failed(error) ? false : true;  // else an empty listing
    }
    const std::string_view first = trimmed(line_, static_cast<size_t>(line_length_));
    if (first.front() == '{') {
        json_error_t json_error;
        json_t *value = json_loadb(first.data(), first.size(), 0, &json_error);
        if (json_is_object(value)) {
            streaming_ = true;
            hold(value);
            return true;
        }
        json_decref(value);
    }
    std::string whole(line_, static_cast<size_t>(line_length_));
    const int first_line = line_number_;
    while (read_line()) {
        whole.append(line_, static_cast<size_t>(line_length_));
    }
    if (read_failed(error)) {
        return false;
    }
    json_error_t json_error;
    json_t *document = json_loadb(whole.data(), whole.size(), JSON_DECODE_ANY, &json_error);
    if (document == nullptr) {
        *error = where(first_line + json_error.line - 1, json_error.column) + ": invalid JSON: " + json_error.text;
        return false;
    }
    if (!json_is_array(document) && !json_is_object(document)) {
        json_decref(document);
        *error = path_ + ": not a listing: expected a files.list response, an array of files or one file per line";
        return false;
    }
    hold(document);
    return true;
}

bool Listing::read_failed(std::string *error) const
{
    if (read_errno_ == 0) {
        return false;
    }
    *error = path_ + ": " + std::strerror(read_errno_);
    return true;
}

void Listing::hold(json_t *document)
{
    json_decref(document_);
    document_ = document;
    items_ = items_of(document);
    index_ = 0;
}

json_t *Listing::take_item()
{
    if (items_ != nullptr) {
        if (index_ < json_array_size(items_)) {
            return json_incref(json_array_get(items_, index_++));
        }
        return nullptr;
    }
    // A lone object is one resource, handed out once.
    json_t *resource = document_;
    document_ = nullptr;
    return resource;
}

json_t *Listing::next(std::string *error)
{
    for (;;) {
        if (document_ != nullptr) {
            if (json_t *resource = take_item()) {
                return resource;
            }
            json_decref(document_);
            document_ = nullptr;
            items_ = nullptr;
        }
        if (!streaming_) {
            return nullptr;
        }
        if (!read_line()) {
            (void) read_failed(error);
            return nullptr;
        }
        const std::string_view line = trimmed(line_, static_cast<size_t>(line_length_));
        if (line.empty()) {
            continue;
        }
        json_error_t json_error;
        json_t *value = json_loadb(line.data(), line.size(), JSON_DECODE_ANY, &json_error);
        if (!json_is_object(value)) {
            json_decref(value);
            *error = value != nullptr
                         ? where(line_number_, 1) + ": expected one file resource (a JSON object) per line"
                         : where(line_number_, json_error.column) + ": invalid JSON: " + json_error.text;
            return nullptr;
        }
        hold(value);
    }
}

}  // namespace ostrel::gdrive
