#include "token.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

namespace {

// The first line without its line end; a token is printable ASCII without
// blanks, since it goes into a header line as it is.
std::string checked(std::string line, const std::string &source)
{
    const size_t end = line.find_first_of("\r\n");
    if (end != std::string::npos) {
        line.resize(end);
    }
    if (line.empty()) {
        throw Failure{exit_refused, source + " gave an empty token"};
    }
    for (const char c : line) {
        if (c <= ' ' || c > '~') {
            throw Failure{exit_refused, source + " gave a token with blanks or characters a header cannot hold"};
        }
    }
    return line;
}

}  // namespace

Token::Token(const std::string &file, const std::string &command)
{
    if (const char *variable = std::getenv("OSTREL_GDRIVE_TOKEN"); variable != nullptr && *variable != '\0') {
        value_ = checked(variable, "OSTREL_GDRIVE_TOKEN");
        return;
    }
    if (!file.empty()) {
        std::ifstream in(file);
        std::string line;
        if (!in || !std::getline(in, line)) {
            throw Failure{exit_refused, "--token-file: \"" + shown(file) + "\": "
                                            + (in.bad() || !in.is_open() ? std::strerror(errno) : "empty")};
        }
        value_ = checked(line, "--token-file \"" + shown(file) + "\"");
        return;
    }
    if (!command.empty()) {
        command_ = command;
        run_command();
        return;
    }
    throw Failure{exit_usage, "a live path needs an access token: set OSTREL_GDRIVE_TOKEN, or give --token-file FILE "
                              "or --token-command CMD (for example 'gcloud auth print-access-token')"};
}

void Token::run_command()
{
    std::fflush(nullptr);
    FILE *pipe = ::popen(command_.c_str(), "r");
    if (pipe == nullptr) {
        throw Failure{exit_refused, std::string("--token-command: cannot run it: ") + std::strerror(errno)};
    }
    std::string out;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        if (out.size() < 65536) {
            out.append(buffer, got);
        }
    }
    const int status = ::pclose(pipe);
    if (status != 0) {
        throw Failure{exit_refused, "--token-command: \"" + shown(command_) + "\" "
                                        + (WIFEXITED(status) ? "exited with status " + std::to_string(WEXITSTATUS(status))
                                                             : std::string("did not exit normally"))};
    }
    value_ = checked(out, "--token-command \"" + shown(command_) + "\"");
}

void Token::refresh()
{
    refreshed_ = true;
    run_command();
}

}  // namespace ostrel::gdrive
