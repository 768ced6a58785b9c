// The library as a module of the host runtime: activation sets up tracing
// from the environment and activates the server library's module.
#include <cstdio>

#include "api.h"

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

}  // namespace

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
