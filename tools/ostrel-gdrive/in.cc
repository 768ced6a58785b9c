// ostrel-gdrive in: client names taken apart as the plug-in takes them.
#include <memory>

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

int run_in(const std::vector<std::string> &names, bool for_write, bool json)
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
        const std::unique_ptr<char, decltype(&std::free)> drive_name_owner(drive_name, &std::free);
        const std::unique_ptr<char, decltype(&std::free)> id_owner(id, &std::free);
        if (json) {
            JsonLine()
                .text("clientName", name)
                .text("driveName", drive_name)
                .text_or_null("mimeType", mime_type)
                .text_or_null("id", id)
                .write();
            continue;
        }
        rows.push_back({shown(name), "\"" + shown(drive_name) + "\"", or_dash(mime_type), or_dash(id)});
    }
    if (rows.size() > 1) {
        print_table(rows);
    }
    return status;
}

}  // namespace ostrel::gdrive
