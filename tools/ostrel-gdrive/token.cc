#include "token.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

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
    // /bin/sh -c CMD with its output on a pipe, read up to its first line
    // end for at most 30 s; a command that leaves a child holding the pipe
    // is not waited for beyond that line.
    std::fflush(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw Failure{exit_refused, std::string("--token-command: cannot run it: ") + std::strerror(errno)};
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw Failure{exit_refused, std::string("--token-command: cannot run it: ") + std::strerror(errno)};
    }
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::execl("/bin/sh", "sh", "-c", command_.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(token_command_seconds);
    bool timed_out = false;
    while (out.find('\n') == std::string::npos && out.size() < 65536) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timed_out = true;
            break;
        }
        pollfd ready = {fds[0], POLLIN, 0};
        const int n = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            timed_out = n == 0;
            break;
        }
        char buffer[4096];
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        out.append(buffer, static_cast<size_t>(got));
    }
    ::close(fds[0]);
    int status = 0;
    const bool exited = ::waitpid(pid, &status, out.find('\n') == std::string::npos ? 0 : WNOHANG) == pid;
    if (timed_out) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        throw Failure{exit_refused, "--token-command: \"" + shown(command_) + "\" gave no line within "
                                        + std::to_string(token_command_seconds) + " s"};
    }
    if (exited && status != 0) {
        throw Failure{exit_refused, "--token-command: \"" + shown(command_) + "\" "
                                        + (WIFEXITED(status) ? "exited with status " + std::to_string(WEXITSTATUS(status))
                                                             : std::string("did not exit normally"))};
    }
    value_ = checked(out, "--token-command \"" + shown(command_) + "\"");
}

void Token::refresh()
{
    run_command();
}

}  // namespace ostrel::gdrive
