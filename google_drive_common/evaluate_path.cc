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

// The path with each variable, found left to right, replaced by its value.
template <class Sink>
void expand(std::string_view path, std::string_view home, std::string_view logname, Sink &out) noexcept
{
    while (!path.empty()) {
        const size_t at_home = path.find(home_variable);
        const size_t at_logname = path.find(logname_variable);
        const size_t at = at_home < at_logname ? at_home : at_logname;
        out.put(path.substr(0, at));
        if (at == std::string_view::npos) {
            return;
        }
        const bool is_home = at == at_home;
        out.put(is_home ? home : logname);
        path.remove_prefix(at + (is_home ? home_variable : logname_variable).size());
    }
}

}  // namespace

ostrel_result_t ostrel_google_drive_evaluate_path(const char *path, char **evaluated_pathp) noexcept
{
    OSTREL_GDC_REQUIRE(path != NULL);
    OSTREL_GDC_REQUIRE(evaluated_pathp != NULL);
    *evaluated_pathp = nullptr;
    const uid_t uid = getuid();
    ostrel::gdc::Owned<char> buffer;
    size_t size = 64;
    passwd entry = {};
    passwd *user = nullptr;
    ostrel_result_t result = OSTREL_SUCCESS;
    for (;;) {
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
            result = ostrel::gdc::system_error("malloc");
        }
        break;
    }
    if (result == OSTREL_SUCCESS) {
        const std::string_view home = user->pw_dir != nullptr ? user->pw_dir : "";
        const std::string_view logname = user->pw_name != nullptr ? user->pw_name : "";
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
