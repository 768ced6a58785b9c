// ostrel-gdrive in: client names taken apart as the plug-in takes them.
#include "commands.h"
#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

namespace {

std::string or_dash(const char *text)
{
    return text != nullptr ? shown(text) : "-";
}

}  // namespace

int run_in(const std::vector<std::string> &names, bool for_write)
{
    std::vector<std::vector<std::string>> rows = {{"CLIENT NAME", "DRIVE NAME", "MIME TYPE", "ID"}};
    int status = 0;
    for (const std::string &name : names) {
        if (name.find('/') != std::string::npos) {
            say("in: \"" + shown(name) + "\" refused: a name cannot hold \"/\"; see \"ostrel-gdrive split\" for paths");
            status = exit_refused;
            continue;
        }
        char *drive_name = nullptr;
        const char *mime_type = nullptr;
        char *id = nullptr;
        const ostrel_result_t result =
            ostrel_google_drive_name_translate_in(name.c_str(), &drive_name, &mime_type, &id, for_write);
        if (result != OSTREL_SUCCESS) {
            say("in: \"" + shown(name) + "\" refused: " + refusal(result));
            status = exit_refused;
            continue;
        }
        rows.push_back({shown(name), "\"" + shown(drive_name) + "\"", or_dash(mime_type), or_dash(id)});
        std::free(drive_name);
        std::free(id);
    }
    if (rows.size() > 1) {
        print_table(rows);
    }
    return status;
}

}  // namespace ostrel::gdrive
