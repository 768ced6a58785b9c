// ostrel-gdrive query: the Drive files.list query the plug-in sends to
// find a client name in a folder, and whether it must list the folder.
#include <memory>

#include "commands.h"
#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

int run_query(const std::string &parent, const std::vector<std::string> &names, bool json)
{
    std::vector<std::vector<std::string>> rows = {{"CLIENT NAME", "WHOLE FOLDER", "QUERY"}};
    int status = 0;
    for (const std::string &name : names) {
        char *query = nullptr;
        bool whole_folder = false;
        const ostrel_result_t result =
            ostrel_google_drive_lookup_query(parent.c_str(), name.c_str(), &query, &whole_folder);
        if (result != OSTREL_SUCCESS) {
            say("query: \"" + shown(name) + "\" refused: " + refusal(result));
            status = exit_refused;
            continue;
        }
        const std::unique_ptr<char, decltype(&std::free)> query_owner(query, &std::free);
        if (json) {
            JsonLine().text("clientName", name).boolean("wholeFolder", whole_folder).text("query", query).write();
            continue;
        }
        rows.push_back({shown(name), whole_folder ? "yes" : "no", shown(query)});
    }
    if (rows.size() > 1) {
        print_table(rows);
    }
    return status;
}

}  // namespace ostrel::gdrive
