// The access token of the live commands, from the first source that is set:
// OSTREL_GDRIVE_TOKEN, --token-file, --token-command. There is no option
// that takes the token itself: the process list shows every argument.
#ifndef OSTREL_GDRIVE_TOKEN_H
#define OSTREL_GDRIVE_TOKEN_H

#include <string>

namespace ostrel::gdrive {

class Token {
public:
    // Reads the token; a Failure when none is set (usage) or its source
    // fails (refused). No message ever holds the token.
    Token(const std::string &file, const std::string &command);

    [[nodiscard]] const std::string &value() const { return value_; }
    // Whether a refresh may be tried: only a command gives a new token.
    [[nodiscard]] bool refreshable() const { return !command_.empty(); }
    // Runs the command again; a Failure when it fails.
    void refresh();

private:
    void run_command();

    std::string command_;
    std::string value_;
};

// How long --token-command may take to print its line.
constexpr int token_command_seconds = 30;

}  // namespace ostrel::gdrive

#endif
