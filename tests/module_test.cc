// Module activation and deactivation, and the trace lines they write.
#include <gtest/gtest.h>

#include "support/temp_path.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "support/trace_capture.h"

namespace {

using ostrel::test::TraceCapture;

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ModuleActivation : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_ = ostrel::test::temp_path("ostrel_module_test.log");
        std::remove(log_.c_str());
        setenv("OSTREL_GOOGLE_DRIVE_DEBUG", ("ALL," + log_).c_str(), 1);
    }
    void TearDown() override { unsetenv("OSTREL_GOOGLE_DRIVE_DEBUG"); }
    std::string log_;
};

TEST_F(ModuleActivation, DescriptorNamesTheModuleAndVersion)
{
    EXPECT_STREQ(ostrel_i_google_drive_common_module.module_name, "ostrel_google_drive");
    ASSERT_NE(ostrel_i_google_drive_common_module.version, nullptr);
    EXPECT_EQ(ostrel_i_google_drive_common_module.version->major, 0);
    EXPECT_EQ(ostrel_i_google_drive_common_module.version->minor, 88);
    EXPECT_EQ(ostrel_i_google_drive_common_module.version->timestamp, 0UL);
    EXPECT_EQ(ostrel_i_google_drive_common_module.atexit_func, nullptr);
}

TEST_F(ModuleActivation, WritesOnlyItsExitLineAndDeactivationClosesTheStream)
{
    ASSERT_EQ(ostrel_module_activate(&ostrel_i_google_drive_common_module), 0);
    const ostrel_debug_handle_t active = ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle;
    EXPECT_NE(active.stream, nullptr);
    EXPECT_EQ(active.owns_stream, 1);
    ASSERT_EQ(ostrel_module_deactivate(&ostrel_i_google_drive_common_module), 0);
    EXPECT_EQ(ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.stream, nullptr);
    EXPECT_EQ(ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.enabled_levels, active.enabled_levels);
    EXPECT_EQ(read_file(log_), TraceCapture::prefix("TRACE", "ostrel_l_google_drive_common_activate")
                                   + "exit: result=OSTREL_SUCCESS\n");
    // Nothing is written after deactivation, whatever the levels say.
    EXPECT_TRUE(ostrel_google_drive_is_stub("a.gdoc"));
    EXPECT_EQ(read_file(log_).find("is_stub"), std::string::npos);
}

int failing_activation()
{
    return static_cast<int>(ostrel_error_put(
        ostrel_error_construct_error(nullptr, nullptr, 6, "test", "failing_activation", 1, "%s", "no server")));
}

TEST_F(ModuleActivation, FailureReturnsTheServerResultAndTracesIt)
{
    int (*const saved)(void) = ostrel_i_gfs_module.activation_func;
    ostrel_i_gfs_module.activation_func = failing_activation;
    const int rc = ostrel_module_activate(&ostrel_i_google_drive_common_module);
    ostrel_i_gfs_module.activation_func = saved;
    ASSERT_NE(rc, 0);
    EXPECT_NE(ostrel_error_peek(static_cast<ostrel_result_t>(rc)), nullptr);
    ostrel_object_free(ostrel_error_get(static_cast<ostrel_result_t>(rc)));
    char expected_tail[64];
    std::snprintf(expected_tail, sizeof expected_tail, "exit: result=%#x message=no server\n", static_cast<unsigned>(rc));
    EXPECT_EQ(read_file(log_),
              TraceCapture::prefix("ERROR", "ostrel_l_google_drive_common_activate") + expected_tail);
    // A module that did not activate is not deactivated, so its stream is
    // closed by the failed activation itself.
    EXPECT_EQ(ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.stream, nullptr);
}

}  // namespace
