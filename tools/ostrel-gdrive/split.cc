// ostrel-gdrive split: a client path as the elements the plug-in looks up.
#include "commands.h"
#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

int run_split(const std::string &path, bool for_write)
{
    ostrel_google_drive_path_t split = {0, nullptr};
    const ostrel_result_t result = ostrel_google_drive_path_split(path.c_str(), &split, for_write);
    if (result != OSTREL_SUCCESS) {
        say("split: \"" + shown(path) + "\" refused: " + refusal(result));
        return exit_refused;
    }
    std::vector<std::vector<std::string>> rows = {{"#", "DRIVE NAME", "MIME TYPE", "ID"}};
    for (uint64_t i = 0; i < split.count; ++i) {
        const ostrel_google_drive_path_element_t &e = split.elements[i];
        rows.push_back({std::to_string(i + 1), "\"" + shown(e.name) + "\"", e.mime_type != nullptr ? e.mime_type : "-",
                        e.id != nullptr ? shown(e.id) : "-"});
        std::free(e.name);
        std::free(e.id);
    }
    std::free(split.elements);
    print_table(rows);
    return 0;
}

}  // namespace ostrel::gdrive
