// The library as a module of the host runtime: activation sets up tracing
// from the environment and activates the server library's module.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "api.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "memory.h"
#include "stop.h"

namespace {

const ostrel_version_t local_version = {0, 88, 0, 0};

void close_debug_stream() noexcept
{
    ostrel_debug_handle_t &handle = ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle;
    if (handle.owns_stream != 0 && handle.stream != nullptr) {
        std::fclose(handle.stream);
    }
    handle.stream = nullptr;
}

// Only the exit is traced: before debug setup there is no stream to write to.
int ostrel_l_google_drive_common_activate() noexcept
{
    ostrel_debug_init("OSTREL_GOOGLE_DRIVE_DEBUG", "TRACE DEBUG INFO WARN ERROR",
                      &ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle);
    const int rc = ostrel_module_activate(&ostrel_i_gfs_module);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(static_cast<ostrel_result_t>(rc));
    if (rc != 0) {
        // A module that failed to activate is never deactivated: close now
        // what deactivation would have closed.
        close_debug_stream();
    }
    return rc;
}

int ostrel_l_google_drive_common_deactivate() noexcept
{
    close_debug_stream();
    return ostrel_module_deactivate(&ostrel_i_gfs_module);
}

// LEVELS: a decimal mask, level names joined by "|", or ALL.
[[nodiscard]] bool read_levels(std::string_view text, uint32_t *levels) noexcept
{
    if (text == "ALL") {
        *levels = UINT32_MAX;
        return true;
    }
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos) {
        uint64_t value = 0;
        for (const char c : text) {
            value = value * 10 + static_cast<uint64_t>(c - '0');
            if (value > UINT32_MAX) {
                return false;
            }
        }
        *levels = static_cast<uint32_t>(value);
        return true;
    }
    uint32_t found = 0;
    for (;;) {
        const size_t bar = text.find('|');
        const std::string_view word = text.substr(0, bar);
        uint32_t bit = 0;
        for (uint32_t level = 1; level < 17; level <<= 1) {
            const char *name = ostrel_i_google_drive_debug_level_names[level];
            if (name != nullptr && word == name) {
                bit = level;
            }
        }
        if (bit == 0) {
            return false;
        }
        found |= bit;
        if (bar == std::string_view::npos) {
            break;
        }
        text.remove_prefix(bar + 1);
    }
    *levels = found;
    return true;
}

[[nodiscard]] ostrel_result_t debug_value_error(const char *value, const char *details) noexcept
{
    return ostrel::gdc::configuration_error(value, "Setting the trace levels", details);
}

}  // namespace

ostrel_result_t ostrel_i_google_drive_debug_configure(const char *value) noexcept
{
    OSTREL_GDC_REQUIRE(value != NULL);
    const std::string_view text = value;
    const size_t comma = text.find(',');
    const std::string_view levels_text = text.substr(0, comma);
    std::string_view file;
    std::string_view flags_text;
    if (comma != std::string_view::npos) {
        file = text.substr(comma + 1);
        const size_t second = file.find(',');
        if (second != std::string_view::npos) {
            flags_text = file.substr(second + 1);
            file = file.substr(0, second);
        }
    }
    uint32_t levels = 0;
    if (!read_levels(levels_text, &levels)) {
        return debug_value_error(value, "LEVELS must be a decimal mask, level names joined by \"|\", or ALL");
    }
    unsigned flags = 0;
    if (!flags_text.empty()) {
        if (flags_text.size() != 1 || flags_text[0] < '0' || flags_text[0] > '3') {
            return debug_value_error(value, "FLAGS must be 0 to 3 (1 thread ids, 2 time stamps)");
        }
        flags = static_cast<unsigned>(flags_text[0] - '0');
    }
    FILE *stream = stderr;
    if (!file.empty()) {
        const ostrel::gdc::Owned<char> path(ostrel::gdc::mem_strdup(file));
        if (path == nullptr) {
            return ostrel::gdc::system_error("malloc");
        }
        stream = std::fopen(path.get(), "a");
        if (stream == nullptr) {
            const int error = errno;
            const ostrel::gdc::ExactText details = ostrel::gdc::exact_text([&](auto &out) {
                out.put(path.get());
                out.put(": ");
                out.put(std::strerror(error));
            });
            if (details.text == nullptr) {
                return ostrel::gdc::system_error("malloc");
            }
            const ostrel::gdc::Owned<char> owned(details.text);
            return debug_value_error(value, owned.get());
        }
    }
    close_debug_stream();
    ostrel_debug_handle_t &handle = ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle;
    handle.owns_stream = stream != stderr ? 1 : 0;
    handle.enabled_levels = levels;
    handle.timestamped_levels = (flags & 2) != 0 ? levels : 0;
    handle.thread_ids_on = (flags & 1) != 0 ? 1 : 0;
    handle.stream = stream;
    return OSTREL_SUCCESS;
}

ostrel_module_descriptor_t ostrel_i_google_drive_common_module = {
    "ostrel_google_drive",
    ostrel_l_google_drive_common_activate,
    ostrel_l_google_drive_common_deactivate,
    nullptr,
    nullptr,
    &local_version,
    nullptr,
};

ostrel_debug_handle_t ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle = {};

const char *ostrel_i_google_drive_debug_level_names[17] = {
    nullptr, "TRACE", "DEBUG",   nullptr, "INFO",  nullptr, nullptr, nullptr, "WARN",
    nullptr, nullptr, nullptr,   nullptr, nullptr, nullptr, nullptr, "ERROR",
};

ostrel_result_t ostrel_google_drive_start(const char *configuration, bool is_file) noexcept
{
    const int rc = ostrel_module_activate(&ostrel_i_google_drive_common_module);
    if (rc != 0) {
        return static_cast<ostrel_result_t>(rc);
    }
    if (configuration == nullptr) {
        return OSTREL_SUCCESS;
    }
    ostrel_google_drive_export_options_t options = {};
    ostrel_google_drive_config_key_t keys[6];
    ostrel_i_google_drive_export_config_keys(&options, keys);
    // Other options are the plug-in's own: a configuration holds them all.
    ostrel_result_t result = is_file ? ostrel_i_google_drive_config_parse_file(configuration, keys, true)
                                     : ostrel_i_google_drive_config_parse_string(configuration, keys, true);
    if (result == OSTREL_SUCCESS) {
        result = ostrel_i_google_drive_export_apply_config(&options);
    }
    ostrel_i_google_drive_export_options_destroy(&options);
    return result;
}
