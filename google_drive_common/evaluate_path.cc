// Path evaluation: "$HOME" and "$LOGNAME" of the process's user expanded.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "api.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "memory.h"
#include "stop.h"

namespace {

constexpr std::string_view home_variable = "$HOME";
constexpr std::string_view logname_variable = "$LOGNAME";

// Calls found(at, is_home) for each variable, left to right, and returns
// how many there are. One pass from "$" to "$": linear in the path.
template <class Found>
size_t for_each_variable(std::string_view path, Found &&found) noexcept
{
    size_t count = 0;
    for (size_t at = path.find('$'); at != std::string_view::npos;) {
        const std::string_view rest = path.substr(at);
        const bool is_home = rest.starts_with(home_variable);
        if (is_home || rest.starts_with(logname_variable)) {
            ++count;
            found(at, is_home);
            at = path.find('$', at + (is_home ? home_variable : logname_variable).size());
        } else {
            at = path.find('$', at + 1);
        }
    }
    return count;
}

// The path with each variable, found left to right, replaced by its value.
template <class Sink>
void expand(std::string_view path, std::string_view home, std::string_view logname, Sink &out) noexcept
{
    size_t copied = 0;
    for_each_variable(path, [&](size_t at, bool is_home) {
        out.put(path.substr(copied, at - copied));
        out.put(is_home ? home : logname);
        copied = at + (is_home ? home_variable : logname_variable).size();
    });
    out.put(path.substr(copied));
}

}  // namespace

ostrel_result_t ostrel_google_drive_evaluate_path(const char *path, char **evaluated_pathp) noexcept
{
    OSTREL_GDC_REQUIRE(path != NULL);
    OSTREL_GDC_REQUIRE(evaluated_pathp != NULL);
    *evaluated_pathp = nullptr;
    // Only a path with a variable needs the user's entry.
    const bool needs_user = for_each_variable(path, [](size_t, bool) {}) != 0;
    const uid_t uid = getuid();
    ostrel::gdc::Owned<char> buffer;
    size_t size = 64;
    passwd entry = {};
    passwd *user = nullptr;
    ostrel_result_t result = OSTREL_SUCCESS;
    while (needs_user) {
        char *grown = static_cast<char *>(ostrel::gdc::mem_realloc(buffer.get(), size));
        if (grown == nullptr) {
            result = ostrel::gdc::system_error("malloc");
            break;
        }
        buffer.release();
        buffer.reset(grown);
        const int rc = getpwuid_r(uid, &entry, buffer.get(), size, &user);
        if (rc == ERANGE) {
            size *= 2;
            continue;
        }
        if (rc != 0 || user == nullptr) {
            // Without an entry "$HOME/data" must not quietly become "/data".
            errno = rc != 0 ? rc : ENOENT;
            result = ostrel::gdc::system_error("getpwuid_r");
        }
        break;
    }
    if (result == OSTREL_SUCCESS) {
        const std::string_view home = user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
        const std::string_view logname = user != nullptr && user->pw_name != nullptr ? user->pw_name : "";
        const ostrel::gdc::ExactText text =
            ostrel::gdc::exact_text([&](auto &sink) { expand(path, home, logname, sink); });
        if (text.text == nullptr) {
            result = ostrel::gdc::system_error("malloc");
        } else {
            OSTREL_GDC_REQUIRE(text.written == text.counted);
            *evaluated_pathp = text.text;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}
