#include "files.h"

#include <cstring>

#include "output.h"

namespace ostrel::gdrive {

namespace {

std::string dumped(const json_t *value)
{
    char *text = json_dumps(value, JSON_COMPACT | JSON_ENCODE_ANY);
    std::string out = text != nullptr ? text : "?";
    std::free(text);
    constexpr size_t longest = 80;
    if (out.size() > longest) {
        out = out.substr(0, longest) + "...";
    }
    return shown(out);
}

// Which key of a refused resource the library refuses: each key that can
// fail is parsed alone, so the library stays the only judge.
std::string refused_key(const json_t *resource)
{
    for (const char *key : {"createdTime", "viewedByMeTime", "modifiedTime", "parents"}) {
        json_t *value = json_object_get(resource, key);
        if (value == nullptr) {
            continue;
        }
        json_t *alone = json_object();
        json_object_set(alone, key, value);
        ostrel_google_metadata_t metadata = {};
        const ostrel_result_t result = ostrel_google_metadata_parse(alone, &metadata);
        ostrel_google_metadata_destroy(&metadata);
        json_decref(alone);
        if (result == OSTREL_SUCCESS) {
            continue;
        }
        ostrel_object_free(ostrel_error_get(result));
        const std::string quoted = std::string("\"") + key + "\": ";
        if (std::strcmp(key, "parents") == 0) {
            return quoted + "not a list of file ids (" + dumped(value) + ")";
        }
        return quoted + "not a Drive time ("
               + (json_is_string(value) ? shown(json_string_value(value)) : dumped(value)) + ")";
    }
    return "";
}

}  // namespace

bool FileReader::next(File *file, bool with_trashed)
{
    for (;;) {
        std::string error;
        json_t *resource = listing_.next(&error);
        if (resource == nullptr) {
            if (!error.empty()) {
                throw Failure{exit_refused, error};
            }
            return false;
        }
        // Who the resource is, for the reports below; made only for them.
        const auto who = [&] {
            const char *id = json_string_value(json_object_get(resource, "id"));
            return listing_.where() + ": " + (id != nullptr ? "file " + shown(id) + ": " : "");
        };
        ostrel_google_metadata_destroy(&file->metadata);
        const ostrel_result_t result = ostrel_google_metadata_parse(resource, &file->metadata);
        if (result != OSTREL_SUCCESS) {
            const std::string key = refused_key(resource);
            const std::string whose = who();
            json_decref(resource);
            throw Failure{exit_refused, whose + (key.empty() ? error_text(result) : key)};
        }
        const ostrel_google_metadata_t &m = file->metadata;
        if (m.name == nullptr) {
            say(who() + "no \"name\": left out (the listing must be fetched with the name field)");
            json_decref(resource);
            ++unnamed_;
            continue;
        }
        // What the library leaves unset is shown as missing: say why.
        const json_t *size = json_object_get(resource, "size");
        if (size != nullptr && !m.size_set) {
            say(who() + "warning: \"size\": not a decimal text (" + dumped(size) + "): shown without it");
        }
        const json_t *mime_type = json_object_get(resource, "mimeType");
        if (mime_type != nullptr && m.mime_type == nullptr) {
            say(who() + "warning: \"mimeType\": not a text (" + dumped(mime_type) + "): shown without it");
        }
        json_decref(resource);
        if (with_trashed || !(m.trashed_set && m.trashed)) {
            return true;
        }
    }
}

std::string finish_listing(const Listing &listing, const FileReader &files)
{
    for (const std::string &warning : listing.warnings()) {
        say(warning);
    }
    if (files.unnamed() == 0) {
        return "";
    }
    return listing.name() + ": " + std::to_string(files.unnamed())
           + (files.unnamed() == 1 ? " file was" : " files were") + " left out for want of a name";
}

const char *kind_of(const ostrel_google_metadata_t &m, const char **export_mime)
{
    // The library decides, so ls and a plug-in never disagree.
    switch (ostrel_google_drive_kind(&m, export_mime)) {
    case OSTREL_GOOGLE_DRIVE_KIND_FOLDER:
        return "folder";
    case OSTREL_GOOGLE_DRIVE_KIND_EXPORT:
        return "export";
    case OSTREL_GOOGLE_DRIVE_KIND_STUB:
        return "stub";
    case OSTREL_GOOGLE_DRIVE_KIND_NO_CONTENT:
        return "no-content";
    case OSTREL_GOOGLE_DRIVE_KIND_FILE:
        break;
    }
    return "file";
}

std::optional<uintmax_t> client_size(const ostrel_google_metadata_t &m)
{
    uint64_t size = 0;
    return ostrel_google_drive_client_size(&m, &size) ? std::optional<uintmax_t>(size) : std::nullopt;
}

}  // namespace ostrel::gdrive
