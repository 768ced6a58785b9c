// Drive's answers: the error table, retry delays, pages read into records,
// and a folder's listing fed recorded pages.
#include <gtest/gtest.h>

#include <cstring>
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
        {199, "", 451, "DRIVE_ERROR", false, "An empty answer", nullptr},
        {502, "ok\r\n226 forged\r\n", 451, "DRIVE_UNAVAILABLE", true,
         "An answer that is not Drive's error: \"ok\\x0d\\x0a226 forged\\x0d\\x0a\"", nullptr},
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

TEST_F(DriveAnswer, PagesGiveRecordsAndReportWhatTheyLeaveOut)
{
    const std::string body = R"({"nextPageToken": "t1", "incompleteSearch": true, "files": [
        {"id": "a", "name": "a", "capabilities": {"canEdit": true}},
        5,
        {"id": "b", "name": "b", "modifiedTime": "yesterday"},
        {"id": "c", "name": "c", "canEdit": false, "capabilities": {"canEdit": true}},
        {"name": "d", "parents": [1]}]})";
    ostrel_google_drive_page_t page;
    ASSERT_EQ(ostrel_google_drive_page_parse(body.data(), body.size(), &page), OSTREL_SUCCESS);
    ASSERT_EQ(page.file_count, 2u);
    EXPECT_TRUE(page.files[0].can_edit_set && page.files[0].can_edit);
    EXPECT_TRUE(page.files[1].can_edit_set && !page.files[1].can_edit);
    EXPECT_STREQ(page.next_page_token, "t1");
    EXPECT_TRUE(page.incomplete_search);
    ASSERT_EQ(page.refusal_count, 3u);
    const size_t indexes[] = {1, 2, 4};
    const char *ids[] = {nullptr, "b", nullptr};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(page.refusals[i].index, indexes[i]);
        EXPECT_EQ(text_or_null(page.refusals[i].id), text_or_null(ids[i]));
        EXPECT_NE(page.refusals[i].reason, nullptr);
        EXPECT_EQ(std::strchr(page.refusals[i].reason, '\n'), nullptr);
    }
    ostrel_google_drive_page_destroy(&page);
    EXPECT_EQ(page.files, nullptr);

    for (const char *bad : {"", "<html>", "[]", R"({"files": {}})", R"({"nextPageToken": 3})"}) {
        OwnedError error(ostrel_google_drive_page_parse(bad, std::strlen(bad), &page));
        EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(error.error), "DRIVE_ERROR") << bad;
        EXPECT_NE(ostrel_google_drive_error_get_info(error.error, "GD-Details"), nullptr);
        EXPECT_EQ(page.file_count, 0u);
    }
    // Drive's bytes are named, not the JSON reader's flags.
    const std::string nul = R"({"files": [{"name": "a\u0000b"}]})";
    OwnedError error(ostrel_google_drive_page_parse(nul.data(), nul.size(), &page));
    EXPECT_STREQ(ostrel_google_drive_error_get_info(error.error, "GD-Details"),
                 "The files.list page is not JSON: a NUL character (\\u0000) in a JSON string near '\"a\\u0000b\"' "
                 "(line 1, column 30)");
    ostrel_google_metadata_t file;
    const std::string one = R"({"id": "x", "capabilities": {"canEdit": false}})";
    ASSERT_EQ(ostrel_google_drive_file_parse(one.data(), one.size(), &file), OSTREL_SUCCESS);
    EXPECT_TRUE(file.can_edit_set && !file.can_edit);
    ostrel_google_metadata_destroy(&file);
}

// One exchange with a listing: the request it asks for, the answer fed.
struct Step {
    const char *page_token;  // asked for; NULL for the first page
    unsigned long delay_ms;  // to wait first
    int status;
    std::string body;
    int ftp;  // the feed's FTP error; 0 for success
    const char *retry_after = nullptr;
};

std::string page_of(std::vector<std::string> files, const char *token)
{
    std::string body = "{\"files\": [";
    for (size_t i = 0; i < files.size(); ++i) {
        body += (i != 0 ? ", " : "") + files[i];
    }
    return body + "]" + (token != nullptr ? std::string(", \"nextPageToken\": \"") + token + "\"" : "") + "}";
}

std::string file_json(const char *id, const char *name, bool trashed = false)
{
    return std::string("{\"id\": \"") + id + "\", \"name\": \"" + name + "\", \"trashed\": "
           + (trashed ? "true" : "false") + "}";
}

// Runs the steps, then expects the listing complete.
void run(ostrel_google_drive_listing_t *listing, const std::vector<Step> &steps)
{
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step &step = steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        ostrel_google_drive_request_t *request = nullptr;
        unsigned long delay = 1;
        ASSERT_EQ(ostrel_google_drive_listing_next(listing, &request, &delay), OSTREL_SUCCESS);
        ASSERT_NE(request, nullptr);
        const std::string url = request->url;
        const size_t token = url.find("&pageToken=");
        EXPECT_EQ(token == std::string::npos ? "NULL" : url.substr(token + 11), text_or_null(step.page_token));
        EXPECT_EQ(delay, step.delay_ms);
        ostrel_google_drive_request_free(request);
        ostrel_google_drive_answer_t answer = {};
        answer.status = step.status;
        answer.body = step.body.data();
        answer.length = step.body.size();
        answer.retry_after = step.retry_after;
        answer.random_ms = 250;
        const ostrel_result_t result = ostrel_google_drive_listing_feed(listing, &answer);
        if (step.ftp == 0) {
            ASSERT_EQ(result, OSTREL_SUCCESS);
        } else {
            OwnedError error(result);
            EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), step.ftp);
        }
    }
    ostrel_google_drive_request_t *request = nullptr;
    unsigned long delay = 1;
    ASSERT_EQ(ostrel_google_drive_listing_next(listing, &request, &delay), OSTREL_SUCCESS);
    EXPECT_EQ(request, nullptr);
}

std::vector<std::string> taken_names(ostrel_google_drive_listing_t *listing, size_t refusals_expected)
{
    ostrel_google_metadata_t *children = nullptr;
    size_t count = 0;
    const ostrel_google_drive_refusal_t *refusals = nullptr;
    size_t refusal_count = 99;
    bool incomplete = true;
    EXPECT_EQ(ostrel_google_drive_listing_take(listing, &children, &count, &refusals, &refusal_count, &incomplete),
              OSTREL_SUCCESS);
    EXPECT_EQ(refusal_count, refusals_expected);
    EXPECT_FALSE(incomplete);
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        names.push_back(std::string(children[i].name) + (children[i].append_id ? "+id" : ""));
        ostrel_google_metadata_destroy(&children[i]);
    }
    std::free(children);
    return names;
}

TEST_F(DriveAnswer, ListingFollowsPagesUntilNoTokenRetriesAndRestartsOnce)
{
    ostrel_google_drive_listing_t *listing = nullptr;
    ASSERT_EQ(ostrel_google_drive_listing_create("http://127.0.0.1:1", "F", false, 0, &listing), OSTREL_SUCCESS);
    const std::string first = page_of({file_json("a1", "a"), file_json("b1", "b", true)}, "t1");
    run(listing, {
                     {nullptr, 0, 200, first, 0},
                     {"t1", 0, 503, "", 0},
                     {"t1", 1250, 429, "", 0, "7"},
                     {"t1", 7000, 200, page_of({}, "t2"), 0},  // empty, not the end
                     {"t2", 0, 400, "", 0},                    // the token refused: from the start
                     {nullptr, 0, 200, first, 0},
                     {"t1", 0, 200, page_of({file_json("c1", "c"), "3"}, "t3"), 0},
                     {"t3", 0, 400, "", 501},  // only once
                     {"t3", 0, 200, page_of({file_json("a2", "a")}, nullptr), 0},
                 });
    size_t pages = 0;
    EXPECT_EQ(ostrel_google_drive_listing_count(listing, &pages), 3u);
    EXPECT_EQ(pages, 3u);
    EXPECT_EQ(taken_names(listing, 1), (std::vector<std::string>{"a+id", "c", "a+id"}));
    ostrel_google_drive_listing_free(listing);
}

TEST_F(DriveAnswer, ListingGivesUpWhenAttemptsAreSpentAndKeepsTrashedWhenAsked)
{
    ostrel_google_drive_listing_t *listing = nullptr;
    ASSERT_EQ(ostrel_google_drive_listing_create(nullptr, "root", true, 3, &listing), OSTREL_SUCCESS);
    run(listing, {
                     {nullptr, 0, 500, "", 0},
                     {nullptr, 1250, 0, "", 0},
                     {nullptr, 2250, 503, "", 451},
                     {nullptr, 0, 403, "", 550},
                     {nullptr, 0, 200, "{\"files\": [", 451},
                     {nullptr, 0, 200, page_of({file_json("b1", "b", true)}, ""), 0},
                 });
    EXPECT_EQ(taken_names(listing, 0), (std::vector<std::string>{"b"}));
    ostrel_google_drive_listing_free(listing);
    OwnedError bad_id(ostrel_google_drive_listing_create(nullptr, "a'b", false, 0, &listing));
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(bad_id.error), 553);
    EXPECT_EQ(listing, nullptr);
}

}  // namespace
