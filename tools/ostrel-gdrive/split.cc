// ostrel-gdrive split: a client path as the elements the plug-in looks up.
#include "commands.h"
#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

int run_split(const std::string &path, bool for_write, bool json)
{
    ostrel_google_drive_path_t split = {0, nullptr};
    const ostrel_result_t result = ostrel_google_drive_path_split(path.c_str(), &split, for_write);
    if (result != OSTREL_SUCCESS) {
        say("split: \"" + shown(path) + "\" refused: " + refusal(result));
        return exit_refused;
    }
    // The elements are released even when a write fails.
    const auto release = [&split] {
        for (uint64_t i = 0; i < split.count; ++i) {
            std::free(split.elements[i].name);
            std::free(split.elements[i].id);
        }
        std::free(split.elements);
    };
    std::vector<std::vector<std::string>> rows = {{"#", "DRIVE NAME", "MIME TYPE", "ID"}};
    try {
        for (uint64_t i = 0; i < split.count; ++i) {
            const ostrel_google_drive_path_element_t &e = split.elements[i];
            if (json) {
                JsonLine()
                    .number("element", i + 1)
                    .text("driveName", e.name)
                    .text_or_null("mimeType", e.mime_type)
                    .text_or_null("id", e.id)
                    .write();
                continue;
            }
            rows.push_back({std::to_string(i + 1), "\"" + shown(e.name) + "\"",
                            e.mime_type != nullptr ? e.mime_type : "-", e.id != nullptr ? shown(e.id) : "-"});
        }
    } catch (...) {
        release();
        throw;
    }
    release();
    if (!json) {
        print_table(rows);
    }
    return 0;
}

}  // namespace ostrel::gdrive
