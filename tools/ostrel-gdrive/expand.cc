// ostrel-gdrive expand: a path with the user's $HOME and $LOGNAME.
#include "commands.h"
#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

int run_expand(const std::string &path)
{
    char *expanded = nullptr;
    const ostrel_result_t result = ostrel_google_drive_evaluate_path(path.c_str(), &expanded);
    if (result != OSTREL_SUCCESS) {
        throw Failure{exit_refused, "expand: " + error_text(result)};
    }
    const std::string line = shown(expanded) + "\n";
    std::free(expanded);
    write_out(line);
    return 0;
}

}  // namespace ostrel::gdrive
