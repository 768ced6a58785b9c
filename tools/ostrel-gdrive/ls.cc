#include "ls.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "files.h"
#include "tree.h"
#include "output.h"

namespace ostrel::gdrive {

namespace {

std::string utc(time_t time, const char *format)
{
    tm broken_down = {};
    char text[64] = "-";
    if (gmtime_r(&time, &broken_down) != nullptr) {
        std::strftime(text, sizeof text, format, &broken_down);
    }
    return text;
}

void print_json(const ostrel_google_metadata_t &m, const std::string &client, const char *kind,
                const char *export_mime)
{
    const std::optional<uintmax_t> size = client_size(m);
    JsonLine()
        .text_or_null("driveName", m.name)
        .text("clientName", client)
        .text("type", kind)
        .text_or_null("mimeType", m.mime_type)
        .text_or_null("exportMimeType", export_mime)
        .text_or_null("id", m.id)
        .text_or_null("size", size ? std::to_string(*size).c_str() : nullptr)
        .text_or_null("modifiedTime",
                      m.modified_time_set ? utc(m.modified_time, "%Y-%m-%dT%H:%M:%SZ").c_str() : nullptr)
        .boolean("trashed", m.trashed_set && m.trashed)
        .write();
}

void print_entry(const LsOptions &options, const ostrel_google_metadata_t &m, const std::string &client)
{
    if (!options.json && !options.long_format) {
        write_out(shown(client) + '\n');
        return;
    }
    const char *export_mime = nullptr;
    const char *kind = kind_of(m, &export_mime);
    if (options.json) {
        print_json(m, client, kind, export_mime);
        return;
    }
    const std::optional<uintmax_t> listed = client_size(m);
    const std::string size = listed ? std::to_string(*listed) : "-";
    const std::string modified = m.modified_time_set ? utc(m.modified_time, "%Y-%m-%d %H:%M") : "-";
    char head[96];
    std::snprintf(head, sizeof head, "%-10s  %12s  %-16s  ", kind, size.c_str(), modified.c_str());
    std::string line = head + shown(client);
    if (export_mime != nullptr) {
        line += "  [" + std::string(export_mime) + "]";
    } else if (std::string_view(kind) == "no-content") {
        line += "  [" + shown(m.mime_type) + "]";
    }
    if (client != m.name) {
        line += "  <- " + shown(m.name);
    }
    if (m.trashed_set && m.trashed) {
        line += "  (trashed)";
    }
    line += '\n';
    write_out(line);
}

// Prints a folder's files; with --ids, colliding names get their ID
// tokens, as the library marks them.
void print_folder(const LsOptions &options, std::vector<ostrel_google_metadata_t> records)
{
    for (ostrel_google_metadata_t &record : records) {
        record.append_id = false;
    }
    if (options.ids) {
        const ostrel_result_t result = ostrel_google_drive_mark_collisions(records.data(), records.size());
        if (result != OSTREL_SUCCESS) {
            throw Failure{exit_refused, "cannot mark colliding names: " + refusal(result)};
        }
    }
    for (const ostrel_google_metadata_t &record : records) {
        print_entry(options, record, client_name_of(record));
    }
}

// A folder's listing gives every file the folder among its parents; files
// with no parent in common come from a tree, and --ids would mark names of
// different folders against each other.
void warn_unless_one_folder(const std::string &listing, const std::vector<File> &files)
{
    std::vector<std::string_view> common;
    bool first = true;
    for (const File &file : files) {
        const ostrel_google_metadata_t &m = file.metadata;
        if (m.parent_count == 0) {
            continue;
        }
        const std::vector<std::string_view> parents(m.parents, m.parents + m.parent_count);
        if (first) {
            common = parents;
            first = false;
        } else {
            std::erase_if(common, [&parents](std::string_view id) {
                return std::find(parents.begin(), parents.end(), id) == parents.end();
            });
        }
        if (!first && common.empty()) {
            say(listing + ": warning: --ids over files of several folders marks names of different folders against "
                          "each other; list one folder of a tree with --path");
            return;
        }
    }
}

}  // namespace

void run_ls(const LsOptions &options)
{
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    if (!options.root.empty() && options.path.empty()) {
        throw Failure{exit_usage, "ls: --root is for a tree listing and needs --path (see --help)"};
    }
    if (!options.path.empty()) {
        const Tree tree(options.listings, options.root, options.trashed);
        const std::vector<Tree::Step> steps = tree.resolve(options.path);
        if (!steps.empty() && !is_folder(*steps.back().file)) {
            throw Failure{exit_refused, "ls: \"" + shown(options.path) + "\" is not a folder"};
        }
        print_folder(options, tree.children_of(steps.empty() ? tree.root()
                                                               : std::string(steps.back().file->id)));
        if (!tree.left_out().empty()) {
            throw Failure{exit_refused, tree.left_out()};
        }
        return;
    }
    Listing listing;
    std::string error;
    if (!listing.open(options.listings, &error)) {
        throw Failure{exit_refused, error};
    }
    FileReader reader(listing);
    File file;
    if (!options.ids) {
        // Streamed: one file in memory at a time.
        while (reader.next(&file, options.trashed)) {
            print_entry(options, file.metadata, client_name_of(file.metadata));
        }
        if (const std::string left_out = finish_listing(listing, reader); !left_out.empty()) {
            throw Failure{exit_refused, left_out};
        }
        return;
    }
    // Collisions are known only once the whole folder has been read.
    std::vector<File> files;
    while (reader.next(&file, options.trashed)) {
        files.push_back(std::move(file));
    }
    warn_unless_one_folder(listing.name(), files);
    std::vector<ostrel_google_metadata_t> records;
    records.reserve(files.size());
    for (const File &f : files) {
        records.push_back(f.metadata);
    }
    print_folder(options, std::move(records));
    if (const std::string left_out = finish_listing(listing, reader); !left_out.empty()) {
        throw Failure{exit_refused, left_out};
    }
}

void print_listed(const LsOptions &options, const ostrel_google_metadata_t &file, const std::string &client_name)
{
    print_entry(options, file, client_name);
}

}  // namespace ostrel::gdrive
