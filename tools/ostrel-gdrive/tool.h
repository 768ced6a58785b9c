// What the commands of ostrel-gdrive share: failures, the options every
// command takes, the export configuration, parsed files and error texts.
#ifndef OSTREL_GDRIVE_TOOL_H
#define OSTREL_GDRIVE_TOOL_H

#include <string>
#include <vector>

#include "ostrel_i_google_drive_common.h"

namespace ostrel::gdrive {

constexpr int exit_refused = 1;
constexpr int exit_usage = 2;

// A failure that ends the command with a message and an exit status.
struct Failure {
    int status;
    std::string message;
};

// Options every command takes.
struct Common {
    std::string export_formats;
    std::string config;
    std::string debug;
};

// Sets the export configuration from --config and --export (which wins).
void configure(const Common &common);

// The formats a kind may use (its index in the four exportable kinds), as
// the library allows them, without their ".".
[[nodiscard]] std::vector<std::string> allowed_formats(size_t kind);

// The four exportable kinds, as --export and the configuration file name them.
struct Kind {
    const char *word;
    const char *config_key;
    const char *mime_type;
};
extern const Kind kinds[4];

// One parsed file of a listing.
struct File {
    ostrel_google_metadata_t metadata = {};
    File() = default;
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    File(File &&other) noexcept : metadata(other.metadata) { other.metadata = {}; }
    File &operator=(File &&other) noexcept
    {
        std::swap(metadata, other.metadata);
        return *this;
    }
    ~File() { ostrel_google_metadata_destroy(&metadata); }
};

// Takes the error of result and gives its chain on one line.
[[nodiscard]] std::string error_text(ostrel_result_t result);

// Takes the error of result and gives it as a client would get it: FTP
// code, error code and details.
[[nodiscard]] std::string refusal(ostrel_result_t result);

// The client name of a file; a refusal is a Failure.
[[nodiscard]] std::string client_name_of(const ostrel_google_metadata_t &metadata);

}  // namespace ostrel::gdrive

#endif
