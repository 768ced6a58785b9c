// The live commands: drive:/PATH arguments answered by Drive itself,
// through the library's Drive layer. The tool moves bytes; the library
// builds every request and reads every answer.
#ifndef OSTREL_GDRIVE_LIVE_H
#define OSTREL_GDRIVE_LIVE_H

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "ls.h"

namespace ostrel::gdrive {

// What every live command takes besides its own arguments.
struct LiveOptions {
    std::string token_file;
    std::string token_command;
    std::string api_url;
    unsigned retries = 5;
    unsigned long max_wait = 300;  // seconds, the longest single wait
    bool trace = false;
};

// --max-wait's default: five minutes, beyond which a Retry-After is capped.
constexpr unsigned long default_max_wait_s = 300;

// The live commands' own arguments, filled by CLI11.
struct Live {
    LiveOptions options;
    CLI::App *stat = nullptr;
    CLI::App *get = nullptr;
    CLI::App *put = nullptr;
    CLI::App *mkdir = nullptr;
    CLI::App *rm = nullptr;
    CLI::App *rmdir = nullptr;
    CLI::App *mv = nullptr;
    CLI::App *md5 = nullptr;
    std::vector<std::string> paths;  // rm and md5
    std::string target;              // mv's destination
    std::string check;               // md5 --check FILE
    bool permanent = false;
    bool replace = false;
    bool no_mtime = false;
    std::string path;
    std::string local;
    std::string root;
    bool json = false;
    uint64_t offset = 0;
    uint64_t chunk_size = 0;
    unsigned streams = 1;
};

// Whether a path argument is live: "drive:/..." (a path from the root).
[[nodiscard]] bool is_live(const std::string &argument);

// Adds the live options to ls and resolve and the commands stat, get, put
// and mkdir to app.
void add_live_commands(CLI::App &app, CLI::App *ls, CLI::App *resolve, Live &live);

// Runs a live command when one was given (a live command, or ls or resolve
// with drive: paths): true, with *status set; false otherwise.
[[nodiscard]] bool run_live(Live &live, const CLI::App *ls_command, const LsOptions &ls,
                            const CLI::App *resolve_command, const std::string &resolve_listing,
                            const std::vector<std::string> &resolve_paths, const std::string &resolve_paths_from,
                            const std::string &resolve_root, bool resolve_json, int *status);

}  // namespace ostrel::gdrive

#endif
