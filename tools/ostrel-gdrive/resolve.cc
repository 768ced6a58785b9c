// ostrel-gdrive resolve: the Drive file each client path opens in a tree
// listing, and the folders on the way.
#include <cerrno>
#include <cstring>

#include "commands.h"
#include "listing.h"
#include "output.h"
#include "tree.h"

namespace ostrel::gdrive {

namespace {

// Prints the files one path leads through; false when it does not resolve.
bool print_resolved(const Tree &tree, const std::string &path, bool json)
{
    std::vector<Tree::Step> steps;
    try {
        steps = tree.resolve(path);
    } catch (const Failure &failure) {
        say("resolve: " + failure.message);
        return false;
    }
    if (json) {
        std::vector<std::string> objects;
        for (const Tree::Step &step : steps) {
            objects.push_back(JsonLine()
                                  .text("clientName", step.client_name)
                                  .text_or_null("id", step.file->id)
                                  .text("driveName", step.file->name)
                                  .text_or_null("mimeType", step.file->mime_type)
                                  .object());
        }
        JsonLine().text("path", path).text("root", tree.root()).raw("steps", json_array_of(objects)).write();
        return true;
    }
    std::vector<std::vector<std::string>> rows = {{"CLIENT NAME", "ID", "DRIVE NAME", "MIME TYPE"},
                                                  {"/", shown(tree.root()), "-", "(root)"}};
    for (const Tree::Step &step : steps) {
        const ostrel_google_metadata_t &file = *step.file;
        rows.push_back({shown(step.client_name), file.id != nullptr ? shown(file.id) : "-",
                        "\"" + shown(file.name) + "\"", file.mime_type != nullptr ? shown(file.mime_type) : "-"});
    }
    write_out(shown(path) + "\n");
    print_table(rows);
    return true;
}

}  // namespace

int run_resolve(const std::string &listing, const std::vector<std::string> &paths, const std::string &paths_from,
                const std::string &root, bool json)
{
    if (paths.empty() && paths_from.empty()) {
        throw Failure{exit_usage, "resolve: PATH or --paths-from FILE is required (see --help)"};
    }
    if (listing == "-" && paths_from == "-") {
        throw Failure{exit_usage, "resolve: the listing and --paths-from cannot both be standard input"};
    }
    const Tree tree({listing}, root, false);
    int status = 0;
    for (const std::string &path : paths) {
        status = print_resolved(tree, path, json) ? status : exit_refused;
    }
    if (!paths_from.empty()) {
        // One path a line, resolved as it comes: a deep path needs no
        // argument list, and many paths no more memory than one.
        Reader reader;
        const std::string name = paths_from == "-" ? "<stdin>" : shown(paths_from);
        if (!reader.open(paths_from)) {
            throw Failure{exit_refused, "--paths-from: " + name + ": " + std::strerror(errno)};
        }
        std::string_view line;
        while (reader.line(&line)) {
            if (!line.empty()) {
                status = print_resolved(tree, std::string(line), json) ? status : exit_refused;
            }
        }
        if (reader.error() != 0) {
            throw Failure{exit_refused, "--paths-from: " + name + ": " + std::strerror(reader.error())};
        }
    }
    if (!tree.left_out().empty()) {
        say(tree.left_out());
        status = exit_refused;
    }
    return status;
}

}  // namespace ostrel::gdrive
