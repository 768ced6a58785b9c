// ostrel-gdrive resolve: the Drive file each client path opens in a tree
// listing, and the folders on the way.
#include "commands.h"
#include "output.h"
#include "tree.h"

namespace ostrel::gdrive {

int run_resolve(const std::string &listing, const std::vector<std::string> &paths, const std::string &root,
                bool json)
{
    const Tree tree(listing, root, false);
    int status = 0;
    for (const std::string &path : paths) {
        std::vector<Tree::Step> steps;
        try {
            steps = tree.resolve(path);
        } catch (const Failure &failure) {
            say("resolve: " + failure.message);
            status = exit_refused;
            continue;
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
            continue;
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
    }
    return status;
}

}  // namespace ostrel::gdrive
