// The GridFTP server stand-in: FTP response errors and system errors.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "ostrel_gridftp_server.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::OwnedError;

TEST(FtpResponseError, GettersReadTheFirstFtpErrorOfTheChain)
{
    ostrel_object_t *cause = ostrel_gfs_ftp_response_error_construct(nullptr, nullptr, 451, "INNER", "inner %d", 1);
    ostrel_object_t *outer = ostrel_error_construct_error(nullptr, cause, 6, "f", "g", 1, "%s", "wrapper");
    OwnedError owned(ostrel_error_put(outer));
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(owned.error), 451);
    EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(owned.error), "INNER");
    EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_message(owned.error), "inner 1");
    EXPECT_EQ(owned.chain(), "wrapper\n451 INNER: inner 1");
}

TEST(FtpResponseError, WithoutFormatHasNoMessage)
{
    OwnedError owned(ostrel_error_put(
        ostrel_gfs_ftp_response_error_construct(nullptr, nullptr, 500, "CONFIGURATION_ERROR", nullptr)));
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_message(owned.error), nullptr);
    EXPECT_EQ(owned.chain(), "500 CONFIGURATION_ERROR");
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(nullptr), 0);
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_error_code(nullptr), nullptr);
}

TEST(SystemError, NamesTheCallAndCarriesErrno)
{
    OwnedError owned(ostrel_error_put(ostrel_i_gfs_error_system(nullptr, ENOMEM, "System error%s%s", " in ", "malloc")));
    EXPECT_EQ(ostrel_error_get_errno(owned.error), ENOMEM);
    EXPECT_EQ(owned.chain(), std::string("System error in malloc: ") + std::strerror(ENOMEM));
    ostrel_object_t *copy = ostrel_object_copy(owned.error);
    EXPECT_EQ(ostrel_error_get_errno(copy), ENOMEM);
    ostrel_object_free(copy);
}

}  // namespace
