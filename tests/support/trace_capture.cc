#include "support/trace_capture.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace ostrel::test {

TraceCapture::TraceCapture(uint32_t levels, uint32_t timestamped, int thread_ids)
    : saved_(ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle)
{
    stream_ = open_memstream(&buffer_, &size_);
    ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle = {levels, timestamped, stream_, thread_ids, 0};
}

TraceCapture::~TraceCapture()
{
    ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle = saved_;
    std::fclose(stream_);
    std::free(buffer_);
}

std::string TraceCapture::text()
{
    std::fflush(stream_);
    return std::string(buffer_, size_);
}

std::vector<std::string> TraceCapture::lines()
{
    std::vector<std::string> result;
    std::istringstream in(text());
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

std::string TraceCapture::prefix(const char *level_name, const char *func)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, "google_drive: %5s: %li: %s: ", level_name, static_cast<long>(getpid()), func);
    return buf;
}

void ModuleTest::SetUp()
{
    unsetenv("OSTREL_GOOGLE_DRIVE_DEBUG");
    ASSERT_EQ(ostrel_module_activate(&ostrel_i_google_drive_common_module), 0);
}

void ModuleTest::TearDown()
{
    EXPECT_EQ(ostrel_module_deactivate(&ostrel_i_google_drive_common_module), 0);
}

OwnedError::OwnedError(ostrel_result_t result) : error(ostrel_error_get(result)) {}

OwnedError::~OwnedError()
{
    ostrel_object_free(error);
}

std::string OwnedError::chain() const
{
    char *text = ostrel_error_print_chain(error);
    std::string result = text != nullptr ? text : "";
    std::free(text);
    return result;
}

}  // namespace ostrel::test
