// The Drive error type: details, cause chains, copies and printing.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "memory.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::OwnedError;
using Pairs = std::vector<std::pair<const char *, const char *>>;

// A detail list over the given pairs; the texts stay the caller's.
struct InfoOf {
    explicit InfoOf(const Pairs &pairs)
    {
        for (const auto &[key, value] : pairs) {
            entries.push_back({const_cast<char *>(key), const_cast<char *>(value)});
        }
        info = {entries.size(), entries.empty() ? nullptr : entries.data()};
    }
    std::vector<ostrel_google_drive_error_info_entry_t> entries;
    ostrel_google_drive_error_info_t info;
};

std::string printable(ostrel_object_t *error)
{
    char *text = ostrel_object_printable_to_string(error);
    std::string result = text != nullptr ? text : "(null)";
    std::free(text);
    return result;
}

const ostrel_google_drive_error_info_t *details_of(ostrel_object_t *error)
{
    return static_cast<const ostrel_google_drive_error_info_t *>(ostrel_object_get_local_instance_data(
        ostrel_object_upcast(error, &OSTREL_GOOGLE_DRIVE_ERROR_TYPE_DEFINITION)));
}

TEST(DriveError, WithoutDetailsHasAnEmptyListAndPrintsNothing)
{
    ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, nullptr, nullptr);
    ASSERT_NE(error, nullptr);
    ASSERT_NE(details_of(error), nullptr);
    EXPECT_EQ(details_of(error)->detail_count, 0u);
    EXPECT_EQ(printable(error), "");
    EXPECT_EQ(ostrel_google_drive_error_get_info(error, "GD-Details"), nullptr);
    ostrel_object_free(error);
}

TEST(DriveError, DetailsAreDeepCopiesPrintedInOrderWithEscapes)
{
    std::string path = "/etc/a";
    InfoOf in(Pairs{{"GD-Path", path.c_str()},
               {"GD-Empty", nullptr},
               {"", "empty key"},
               {nullptr, "no key"},
               {"GD-Details", "say \"hi\"\\\nnext\rend"}});
    ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, nullptr, &in.info);
    path[1] = 'X';  // the error keeps its own copy
    EXPECT_EQ(details_of(error)->detail_count, 5u);
    EXPECT_STREQ(ostrel_google_drive_error_get_info(error, "GD-Path"), "/etc/a");
    EXPECT_EQ(ostrel_google_drive_error_get_info(error, "GD-Empty"), nullptr);
    EXPECT_EQ(ostrel_google_drive_error_get_info(error, "GD-Missing"), nullptr);
    EXPECT_EQ(printable(error), "GD-Path: \"/etc/a\"\nGD-Details: \"say \\\"hi\\\"\\\\\\\nnext\\\rend\"");
    ostrel_object_free(error);
}

TEST(DriveError, GetFollowsTheCauseChainToTheFirstDriveErrorOnly)
{
    InfoOf deep(Pairs{{"GD-Details", "deep"}});
    InfoOf top(Pairs{{"GD-Path", "p"}});
    ostrel_object_t *deeper = ostrel_google_drive_error_construct(nullptr, nullptr, &deep.info);
    ostrel_object_t *middle = ostrel_gfs_ftp_response_error_construct(nullptr, deeper, 553, "INVALID_PATH_NAME", "x");
    // A Drive error records no cause, so a chain below it is reached only
    // through errors that do.
    OwnedError owned(ostrel_error_put(middle));
    EXPECT_STREQ(ostrel_google_drive_error_get_info(owned.error, "GD-Details"), "deep");
    ostrel_object_t *first = ostrel_google_drive_error_construct(nullptr, nullptr, &top.info);
    EXPECT_EQ(ostrel_google_drive_error_get_info(first, "GD-Details"), nullptr);
    ostrel_object_free(first);

    OwnedError plain(ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
        nullptr, ostrel_error_construct_errno_error(nullptr, nullptr, 2), 550, "X", nullptr)));
    EXPECT_EQ(ostrel_google_drive_error_get_info(plain.error, "GD-Details"), nullptr);
    EXPECT_EQ(ostrel_google_drive_error_get_info(nullptr, "GD-Details"), nullptr);
}

TEST(DriveError, PrintChainOfAnFtpErrorShowsTheDetails)
{
    InfoOf in(Pairs{{"GD-Details", "File names cannot end with\nthat"}});
    OwnedError owned(ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
        nullptr, ostrel_google_drive_error_construct(nullptr, nullptr, &in.info), 553, "INVALID_PATH_NAME",
        "GridFTP-Path: %s", "notes")));
    EXPECT_EQ(owned.chain(),
              "553 INVALID_PATH_NAME: GridFTP-Path: notes\nGD-Details: \"File names cannot end with\\\nthat\"");
}

struct AddCase {
    const char *name;
    Pairs initial;
    Pairs added;
    Pairs expected;
};

TEST(DriveError, AddAppendsNewKeysAndReplacesTheFirstOccurrence)
{
    const AddCase cases[] = {
        {"two new keys in order", {{"A", "1"}}, {{"B", "2"}, {"C", "3"}}, {{"A", "1"}, {"B", "2"}, {"C", "3"}}},
        {"existing key replaced", {{"A", "1"}, {"B", "2"}}, {{"B", "two"}}, {{"A", "1"}, {"B", "two"}}},
        {"first of a duplicate replaced", {{"A", "1"}, {"A", "2"}}, {{"A", "x"}}, {{"A", "x"}, {"A", "2"}}},
        {"same new key twice", {}, {{"N", "1"}, {"N", "2"}}, {{"N", "2"}}},
        {"absent key matches nothing", {{nullptr, "v"}}, {{"K", "1"}}, {{nullptr, "v"}, {"K", "1"}}},
        {"nothing to add", {{"A", "1"}}, {}, {{"A", "1"}}},
    };
    for (const AddCase &c : cases) {
        SCOPED_TRACE(c.name);
        InfoOf initial(c.initial);
        InfoOf added(c.added);
        ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, nullptr, &initial.info);
        ostrel_google_drive_error_add_info(error, &added.info);
        const ostrel_google_drive_error_info_t *list = details_of(error);
        ASSERT_EQ(list->detail_count, c.expected.size());
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_STREQ(list->details[i].key, c.expected[i].first);
            EXPECT_STREQ(list->details[i].value, c.expected[i].second);
        }
        ostrel_object_free(error);
    }
}

// Fails the allocation numbered fail_at (1-based) from the moment it is armed.
long countdown = 0;
bool fail_countdown() noexcept
{
    return countdown > 0 && --countdown == 0;
}

TEST(DriveError, FailedAddLeavesTheAppendedDetailsOutAndTheReplacementsIn)
{
    // Replacing A then appending B and C takes: realloc, strdup(A value),
    // strdup(B key), strdup(B value), strdup(C key), strdup(C value).
    InfoOf initial(Pairs{{"A", "1"}});
    InfoOf added(Pairs{{"A", "one"}, {"B", "2"}, {"C", "3"}});
    for (long k = 1;; ++k) {
        SCOPED_TRACE(k);
        ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, nullptr, &initial.info);
        countdown = k;
        ostrel::gdc::alloc_fail_hook = fail_countdown;
        ostrel_google_drive_error_add_info(error, &added.info);
        ostrel::gdc::alloc_fail_hook = nullptr;
        const bool completed = countdown > 0;
        const ostrel_google_drive_error_info_t *list = details_of(error);
        if (completed) {
            EXPECT_EQ(list->detail_count, 3u);
            ostrel_object_free(error);
            EXPECT_EQ(k, 7);
            break;
        }
        EXPECT_EQ(list->detail_count, 1u);
        EXPECT_STREQ(list->details[0].value, k <= 2 ? "1" : "one");
        ostrel_object_free(error);
    }
}

TEST(DriveError, CopyThroughTheRuntimeIsIndependent)
{
    InfoOf in(Pairs{{"GD-Operation", "open"}, {"GD-Details", "gone"}});
    ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, nullptr, &in.info);
    ostrel_object_t *copy = ostrel_object_copy(error);
    ostrel_object_free(error);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(printable(copy), "GD-Operation: \"open\"\nGD-Details: \"gone\"");
    ostrel_object_free(copy);
}

TEST(DriveError, ConstructionFailuresAreReportedAsNoneOrNoDetails)
{
    InfoOf in(Pairs{{"K", "V"}});
    for (long k = 1; k <= 4; ++k) {
        SCOPED_TRACE(k);
        countdown = k;
        ostrel::gdc::alloc_fail_hook = fail_countdown;
        ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, nullptr, &in.info);
        ostrel::gdc::alloc_fail_hook = nullptr;
        ASSERT_NE(error, nullptr);  // the object itself comes from the runtime
        if (countdown == 0) {
            EXPECT_EQ(details_of(error), nullptr);
            EXPECT_EQ(printable(error), "");
            ostrel_google_drive_error_add_info(error, &in.info);
            EXPECT_EQ(ostrel_google_drive_error_get_info(error, "K"), nullptr);
        }
        ostrel_object_free(error);
    }
}

TEST(DriveError, InitializeRefusesObjectsOfOtherTypes)
{
    ostrel_object_t *other = ostrel_error_construct_errno_error(nullptr, nullptr, 1);
    EXPECT_EQ(ostrel_google_drive_error_initialize(other, nullptr, nullptr, nullptr), nullptr);
    ostrel_object_free(other);
}

TEST(DriveErrorDeathTest, PrintableOfAnotherTypeStops)
{
    const ostrel_object_type_t *type = &OSTREL_GOOGLE_DRIVE_ERROR_TYPE_DEFINITION;
    ostrel_object_t *other = ostrel_error_construct_errno_error(nullptr, nullptr, 1);
    EXPECT_DEATH(type->printable_func(other), "google_drive_common/error.cc:[0-9]+: .*google_drive_error != NULL");
    ostrel_object_free(other);
}

}  // namespace
