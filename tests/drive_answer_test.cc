// Drive's answers: the error table, retry delays, pages read into records,
// and a folder's listing fed recorded pages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/names.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::ModuleTest;
using ostrel::test::OwnedError;
using ostrel::test::text_or_null;

class DriveAnswer : public ModuleTest {};

std::string drive_error(const char *reason, const char *message = "m")
{
    std::string body = std::string("{\"error\": {\"code\": 403, \"message\": \"") + message + "\"";
    if (reason != nullptr) {
        body += std::string(", \"errors\": [{\"domain\": \"usageLimits\", \"reason\": \"") + reason + "\"}]";
    }
    return body + "}}";
}

struct ErrorCase {
    int status;
    std::string body;
    int ftp;            // 0: success
    const char *text;
    bool retry;
    const char *details;  // GD-Details
    const char *reason;   // GD-Reason
};

TEST_F(DriveAnswer, ErrorTable)
{
    const ErrorCase cases[] = {
        {200, "", 0, nullptr, false, nullptr, nullptr},
        {204, "", 0, nullptr, false, nullptr, nullptr},
        {308, "", 0, nullptr, false, nullptr, nullptr},
        {400, drive_error("invalid"), 501, "BAD_REQUEST", false, "m", "invalid"},
        {400, drive_error(nullptr, "Invalid Value"), 501, "BAD_REQUEST", false, "Invalid Value", nullptr},
        {401, drive_error("authError"), 530, "NOT_AUTHORIZED", false, "m", "authError"},
        {403, drive_error("userRateLimitExceeded"), 421, "RATE_LIMITED", true, "m", "userRateLimitExceeded"},
        {403, drive_error("rateLimitExceeded"), 421, "RATE_LIMITED", true, "m", "rateLimitExceeded"},
        {429, drive_error("rateLimitExceeded"), 421, "RATE_LIMITED", true, "m", "rateLimitExceeded"},
        {429, "", 421, "RATE_LIMITED", true, "An empty answer", nullptr},
        {403, drive_error("dailyLimitExceeded"), 421, "RATE_LIMITED", false, "m", "dailyLimitExceeded"},
        {403, drive_error("storageQuotaExceeded"), 552, "QUOTA_EXCEEDED", false, "m", "storageQuotaExceeded"},
        {403, drive_error("teamDriveFileLimitExceeded"), 552, "QUOTA_EXCEEDED", false, "m",
         "teamDriveFileLimitExceeded"},
        {403, drive_error("numChildrenInNonRootLimitExceeded"), 552, "QUOTA_EXCEEDED", false, "m",
         "numChildrenInNonRootLimitExceeded"},
        {403, drive_error("activeItemCreationLimitExceeded"), 552, "QUOTA_EXCEEDED", false, "m",
         "activeItemCreationLimitExceeded"},
        {403, drive_error("insufficientFilePermissions"), 550, "PERMISSION_DENIED", false, "m",
         "insufficientFilePermissions"},
        {403, drive_error("cannotDownloadAbusiveFile"), 550, "PERMISSION_DENIED", false, "m",
         "cannotDownloadAbusiveFile"},
        {403, drive_error("somethingNew"), 550, "PERMISSION_DENIED", false, "m", "somethingNew"},
        {403, drive_error(nullptr), 550, "PERMISSION_DENIED", false, "m", nullptr},
        {404, drive_error("notFound", "File not found: x."), 550, "PATH_NOT_FOUND", false, "File not found: x.",
         "notFound"},
        {416, "", 554, "INVALID_RESTART", false, "An empty answer", nullptr},
        {500, drive_error("backendError"), 451, "DRIVE_UNAVAILABLE", true, "m", "backendError"},
        {502, "<html>Bad \\ Gateway\n</html>", 451, "DRIVE_UNAVAILABLE", true,
         "An answer that is not Drive's error: \"<html>Bad \\x5c Gateway\\x0a</html>\"", nullptr},
        {503, "{\"error\": \"unavailable\"}", 451, "DRIVE_UNAVAILABLE", true,
         "An answer that is not Drive's error: \"{\"error\": \"unavailable\"}\"", nullptr},
        {504, "", 451, "DRIVE_UNAVAILABLE", true, "An empty answer", nullptr},
        {0, "", 451, "DRIVE_UNAVAILABLE", true, "No answer from Drive", nullptr},
        {501, drive_error("notImplemented"), 451, "DRIVE_ERROR", false, "m", "notImplemented"},
        {409, "", 451, "DRIVE_ERROR", false, "An empty answer", nullptr},
        {302, "", 451, "DRIVE_ERROR", false, "An empty answer", nullptr},
        {-1, std::string(300, 'x'), 451, "DRIVE_ERROR", false, nullptr, nullptr},
    };
    for (const ErrorCase &c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
        bool retry = !c.retry;
        const ostrel_result_t result = ostrel_google_drive_answer_error(
            c.status, c.body.empty() ? nullptr : c.body.data(), c.body.size(), "Listing a folder", "/a/b", &retry);
        EXPECT_EQ(retry, c.retry);
        if (c.ftp == 0) {
            EXPECT_EQ(result, OSTREL_SUCCESS);
            continue;
        }
        OwnedError error(result);
        EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), c.ftp);
        EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(error.error), c.text);
        EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_message(error.error), "GridFTP-Path: /a/b");
        EXPECT_STREQ(ostrel_google_drive_error_get_info(error.error, "GD-Operation"), "Listing a folder");
        EXPECT_STREQ(ostrel_google_drive_error_get_info(error.error, "GD-Path"), "/a/b");
        EXPECT_EQ(text_or_null(ostrel_google_drive_error_get_info(error.error, "GD-Reason")), text_or_null(c.reason));
        EXPECT_EQ(ostrel_google_drive_error_get_info(error.error, "GD-HTTP-Status"), std::to_string(c.status));
        const std::string details = text_or_null(ostrel_google_drive_error_get_info(error.error, "GD-Details"));
        if (c.details != nullptr) {
            EXPECT_EQ(details, c.details);
        } else {
            // A long body is cut to a short excerpt.
            EXPECT_LT(details.size(), 200u);
            EXPECT_EQ(details.substr(details.size() - 4), "\"...");
        }
    }
    // Without operation and path, those details are absent.
    bool retry = true;
    OwnedError bare(ostrel_google_drive_answer_error(404, nullptr, 0, nullptr, nullptr, &retry));
    EXPECT_EQ(ostrel_google_drive_error_get_info(bare.error, "GD-Operation"), nullptr);
    EXPECT_EQ(ostrel_google_drive_error_get_info(bare.error, "GD-Path"), nullptr);
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_message(bare.error), nullptr);
}

TEST_F(DriveAnswer, RetryDelaysAreTruncatedExponentialBackoff)
{
    struct Case {
        unsigned attempt;
        unsigned random_ms;
        const char *retry_after;
        unsigned long delay_ms;
    } cases[] = {
        {1, 0, nullptr, 1000},
        {1, 999, nullptr, 1999},
        {2, 123, nullptr, 2123},
        {3, 0, nullptr, 4000},
        {6, 500, nullptr, 32500},
        {7, 0, nullptr, 64000},
        {7, 999, nullptr, 64000},
        {8, 1, nullptr, 64000},
        {4294967295u, 999, nullptr, 64000},
        {0, 10, nullptr, 1010},
        {1, 0, "120", 120000},
        {9, 0, " 3 ", 3000},
        {1, 5, "0", 0},
        {1, 0, "3600", 3600000},
        {1, 0, "3601", 3600000},
        {1, 0, "99999999999999999999999", 3600000},
        {2, 7, "Wed, 21 Oct 2015 07:28:00 GMT", 2007},
        {2, 7, "", 2007},
        {2, 7, "-5", 2007},
        {2, 7, "1.5", 2007},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ostrel_google_drive_retry_delay_ms(c.attempt, c.random_ms, c.retry_after), c.delay_ms)
            << c.attempt << " " << c.random_ms << " " << text_or_null(c.retry_after);
    }
}

}  // namespace
