// The Drive error type: details, cause chains, copies and printing.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "memory.h"
#include "support/trace_capture.h"

// The common runtime stand-in's hook: makes chosen object constructions fail.
extern "C" bool (*ostrel_stand_in_object_construct_fails)(void) noexcept;

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
    EXPECT_EQ(printable(error), "GD-Path: \"/etc/a\"\nGD-Details: \"say \\\"hi\\\"\\\\\\nnext\\rend\"");
    ostrel_object_free(error);
}

TEST(DriveError, GetFollowsTheCauseChainToTheFirstDriveErrorOnly)
{
    InfoOf deep(Pairs{{"GD-Details", "deep"}});
    InfoOf top(Pairs{{"GD-Path", "p"}});
    ostrel_object_t *deeper = ostrel_google_drive_error_construct(nullptr, nullptr, &deep.info);
    ostrel_object_t *middle = ostrel_gfs_ftp_response_error_construct(nullptr, deeper, 553, "INVALID_PATH_NAME", "x");
    ostrel_object_t *first = ostrel_google_drive_error_construct(nullptr, middle, &top.info);
    EXPECT_STREQ(ostrel_google_drive_error_get_info(middle, "GD-Details"), "deep");
    EXPECT_STREQ(ostrel_google_drive_error_get_info(first, "GD-Path"), "p");
    EXPECT_EQ(ostrel_google_drive_error_get_info(first, "GD-Details"), nullptr);
    ostrel_object_free(first);

    OwnedError plain(ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
        nullptr, ostrel_error_construct_errno_error(nullptr, nullptr, 2), 550, "X", nullptr)));
    EXPECT_EQ(ostrel_google_drive_error_get_info(plain.error, "GD-Details"), nullptr);
    EXPECT_EQ(ostrel_google_drive_error_get_info(nullptr, "GD-Details"), nullptr);
}

// The chain holds the cause and frees it with the error: LeakSanitizer and
// valgrind see a cause that is dropped.
TEST(DriveError, TheCauseIsRecordedAndFreedWithTheError)
{
    InfoOf in(Pairs{{"GD-Details", "d"}});
    ostrel_object_t *cause = ostrel_error_construct_errno_error(nullptr, nullptr, ENOENT);
    ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, cause, &in.info);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(ostrel_error_get_cause(error), cause);
    EXPECT_STREQ(ostrel_google_drive_error_get_info(error, "GD-Details"), "d");
    ostrel_object_t *copy = ostrel_object_copy(error);
    ostrel_object_free(error);
    ASSERT_NE(copy, nullptr);
    OwnedError owned(ostrel_error_put(copy));
    EXPECT_EQ(owned.chain(), "GD-Details: \"d\"\n" + std::string(std::strerror(ENOENT)));

    // Initialize records it too, in place of what the base error held.
    ostrel_object_t *object = ostrel_object_construct(&OSTREL_GOOGLE_DRIVE_ERROR_TYPE_DEFINITION);
    EXPECT_EQ(ostrel_google_drive_error_initialize(object, nullptr, nullptr, nullptr), object);
    EXPECT_EQ(ostrel_error_get_cause(object), nullptr);
    for (const int system_errno : {EPERM, EIO}) {
        cause = ostrel_error_construct_errno_error(nullptr, nullptr, system_errno);
        EXPECT_EQ(ostrel_google_drive_error_initialize(object, nullptr, cause, &in.info), object);
        EXPECT_EQ(ostrel_error_get_cause(object), cause);
    }
    ostrel_object_free(object);

    // Refused, the initialize of another type's object still takes the cause.
    ostrel_object_t *other = ostrel_error_construct_errno_error(nullptr, nullptr, 1);
    cause = ostrel_error_construct_errno_error(nullptr, nullptr, 2);
    EXPECT_EQ(ostrel_google_drive_error_initialize(other, nullptr, cause, nullptr), nullptr);
    ostrel_object_free(other);
}

TEST(DriveError, PrintChainOfAnFtpErrorShowsTheDetails)
{
    InfoOf in(Pairs{{"GD-Details", "File names cannot end with\nthat"}});
    OwnedError owned(ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
        nullptr, ostrel_google_drive_error_construct(nullptr, nullptr, &in.info), 553, "INVALID_PATH_NAME",
        "GridFTP-Path: %s", "notes")));
    EXPECT_EQ(owned.chain(),
              "553 INVALID_PATH_NAME: GridFTP-Path: notes\nGD-Details: \"File names cannot end with\\nthat\"");
}

// What a printed value reads as, its escapes undone; NULL-free values only.
std::string unescaped(const std::string &printed)
{
    std::string value;
    for (size_t i = 0; i < printed.size(); ++i) {
        if (printed[i] != '\\') {
            value += printed[i];
            continue;
        }
        const char c = printed.at(++i);
        if (c == 'x') {
            value += static_cast<char>(std::stoi(printed.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (c == 'u') {  // a C1 control, \u00NN
            const int code = std::stoi(printed.substr(i + 1, 4), nullptr, 16);
            value += static_cast<char>(0xc0 | code >> 6);
            value += static_cast<char>(0x80 | (code & 0x3f));
            i += 4;
        } else {
            value += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        }
    }
    return value;
}

// A value prints on its detail's line whatever bytes it holds, so a client's
// name cannot forge a line; it reads back as given, and a value without
// control characters prints as it always has.
TEST(DriveError, EveryByteOfAValuePrintsOnItsLineAndReadsBack)
{
    std::string every_byte;
    for (int c = 1; c < 256; ++c) {
        every_byte += static_cast<char>(c);
    }
    const std::string forged = "a\nGD-Operation: forged";
    for (const std::string &value :
         {every_byte, forged, std::string("\r\x1b[2J\x7f\t"), std::string("nel\xc2\x85 csi\xc2\x9b[2J \xc2\xa0")}) {
        InfoOf in(Pairs{{"GD-Path", value.c_str()}});
        ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, nullptr, &in.info);
        const std::string text = printable(error);
        ostrel_object_free(error);
        ASSERT_EQ(text.rfind("GD-Path: \"", 0), 0u) << text;
        ASSERT_EQ(text.back(), '"');
        const std::string printed = text.substr(10, text.size() - 11);
        EXPECT_FALSE(ostrel::fuzz::has_control(printed)) << text;
        EXPECT_EQ(unescaped(printed), value);
    }
    InfoOf in(Pairs{{"GD-Path", forged.c_str()}, {"GD-Details", "tab\tdel\x7f \\ \" \xc3\xa9"}});
    ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, nullptr, &in.info);
    EXPECT_EQ(printable(error),
              "GD-Path: \"a\\nGD-Operation: forged\"\nGD-Details: \"tab\\x09del\\x7f \\\\ \\\" \xc3\xa9\"");
    ostrel_object_free(error);
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

TEST(DriveError, AddTakesNothingFromAnEmptyListAndGrowsByZeroFilledDetails)
{
    InfoOf initial(Pairs{{"A", "1"}});
    InfoOf added(Pairs{{"A", "x"}, {"B", "2"}});
    added.info.detail_count = 0;  // the array is there, but holds no detail
    ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, nullptr, &initial.info);
    ostrel_google_drive_error_add_info(error, &added.info);
    EXPECT_EQ(details_of(error)->detail_count, 1u);
    EXPECT_STREQ(details_of(error)->details[0].value, "1");
    ostrel_object_free(error);

    // Two new keys grow the array by two details; the same key twice fills
    // one of them, and the other stays empty.
    InfoOf twice(Pairs{{"N", "1"}, {"N", "2"}});
    error = ostrel_google_drive_error_construct(nullptr, nullptr, nullptr);
    ostrel_google_drive_error_add_info(error, &twice.info);
    const ostrel_google_drive_error_info_t *list = details_of(error);
    ASSERT_EQ(list->detail_count, 1u);
    EXPECT_EQ(list->details[1].key, nullptr);
    EXPECT_EQ(list->details[1].value, nullptr);
    ostrel_object_free(error);
}

// Add works on the Drive error that get reads: the first of the chain.
TEST(DriveError, AddActsOnTheFirstDriveErrorOfTheChain)
{
    InfoOf deep(Pairs{{"GD-Details", "deep"}});
    InfoOf first(Pairs{{"GD-Path", "p"}});
    InfoOf added(Pairs{{"GD-Details", "why"}, {"GD-Operation", "op"}});
    ostrel_object_t *deeper = ostrel_google_drive_error_construct(nullptr, nullptr, &deep.info);
    ostrel_object_t *drive = ostrel_google_drive_error_construct(nullptr, deeper, &first.info);
    OwnedError owned(ostrel_error_put(
        ostrel_gfs_ftp_response_error_construct(nullptr, drive, 553, "INVALID_PATH_NAME", "GridFTP-Path: %s", "p")));
    ostrel_google_drive_error_add_info(owned.error, &added.info);
    EXPECT_STREQ(ostrel_google_drive_error_get_info(owned.error, "GD-Details"), "why");
    EXPECT_STREQ(ostrel_google_drive_error_get_info(owned.error, "GD-Operation"), "op");
    EXPECT_STREQ(ostrel_google_drive_error_get_info(deeper, "GD-Details"), "deep");
    EXPECT_EQ(owned.chain(), "553 INVALID_PATH_NAME: GridFTP-Path: p\nGD-Path: \"p\"\nGD-Details: \"why\"\n"
                             "GD-Operation: \"op\"\nGD-Details: \"deep\"");

    // A chain without a Drive error, and no error at all, take nothing.
    OwnedError plain(ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
        nullptr, ostrel_error_construct_errno_error(nullptr, nullptr, 2), 550, "X", nullptr)));
    ostrel_google_drive_error_add_info(plain.error, &added.info);
    ostrel_google_drive_error_add_info(nullptr, &added.info);
    EXPECT_EQ(ostrel_google_drive_error_get_info(plain.error, "GD-Details"), nullptr);
}

// Every detail of the first Drive error of a chain, in order, as stored.
TEST(DriveError, CountAndEntryReadEveryDetailWithoutItsKey)
{
    InfoOf in(Pairs{{"GD-Path", "/a"}, {nullptr, "no key"}, {"GD-Empty", nullptr}, {"GD-Path", "again"}});
    InfoOf deep(Pairs{{"deep", "1"}});
    ostrel_object_t *deeper = ostrel_google_drive_error_construct(nullptr, nullptr, &deep.info);
    OwnedError owned(ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
        nullptr, ostrel_google_drive_error_construct(nullptr, deeper, &in.info), 553, "INVALID_PATH_NAME", nullptr)));
    ASSERT_EQ(ostrel_google_drive_error_get_info_count(owned.error), in.entries.size());
    for (size_t i = 0; i <= in.entries.size(); ++i) {
        SCOPED_TRACE(i);
        const char *key = "garbage";
        const char *value = "garbage";
        const bool found = ostrel_google_drive_error_get_info_entry(owned.error, i, &key, &value);
        EXPECT_EQ(found, i < in.entries.size());
        if (!found) {
            EXPECT_EQ(key, nullptr);
            EXPECT_EQ(value, nullptr);
            continue;
        }
        const ostrel_google_drive_error_info_entry_t &given = in.entries[i];
        EXPECT_STREQ(key, given.key);
        EXPECT_STREQ(value, given.value);
        EXPECT_TRUE(key == nullptr || key != given.key);  // the error's own copy
    }
    const char *key = "garbage";
    const char *value = "garbage";
    EXPECT_EQ(ostrel_google_drive_error_get_info_count(nullptr), 0u);
    EXPECT_FALSE(ostrel_google_drive_error_get_info_entry(nullptr, 0, &key, &value));
    EXPECT_TRUE(key == nullptr && value == nullptr);
    ostrel_object_t *plain = ostrel_error_construct_errno_error(nullptr, nullptr, 2);
    EXPECT_EQ(ostrel_google_drive_error_get_info_count(plain), 0u);
    ostrel_object_free(plain);
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

// The runtime cannot make the error, then the base error that records its
// cause: construct gives NULL, and neither the cause nor the half-made error
// is left behind (LeakSanitizer and valgrind watch).
TEST(DriveError, WhenTheRuntimeCannotMakeItNothingIsLeft)
{
    InfoOf in(Pairs{{"K", "V"}});
    for (long k = 1;; ++k) {
        SCOPED_TRACE(k);
        ostrel_object_t *cause = ostrel_error_construct_errno_error(nullptr, nullptr, EIO);
        countdown = k;
        ostrel_stand_in_object_construct_fails = fail_countdown;
        ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, cause, &in.info);
        ostrel_stand_in_object_construct_fails = nullptr;
        if (countdown == 0) {
            EXPECT_EQ(error, nullptr);
            continue;
        }
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(ostrel_error_get_cause(error), cause);
        ostrel_object_free(error);
        EXPECT_EQ(k, 3);
        break;
    }
}

TEST(DriveError, InitializeRefusesObjectsOfOtherTypes)
{
    ostrel_object_t *other = ostrel_error_construct_errno_error(nullptr, nullptr, 1);
    EXPECT_EQ(ostrel_google_drive_error_initialize(other, nullptr, nullptr, nullptr), nullptr);
    ostrel_object_free(other);
}

TEST(DriveErrorDeathTest, EntryWithoutItsOutputsStops)
{
    const char *text = nullptr;
    EXPECT_DEATH(ostrel_google_drive_error_get_info_entry(nullptr, 0, nullptr, &text),
                 "google_drive_common/error.cc:[0-9]+: .*keyp != NULL");
    EXPECT_DEATH(ostrel_google_drive_error_get_info_entry(nullptr, 0, &text, nullptr),
                 "google_drive_common/error.cc:[0-9]+: .*valuep != NULL");
}

TEST(DriveErrorDeathTest, PrintableOfAnotherTypeStops)
{
    const ostrel_object_type_t *type = &OSTREL_GOOGLE_DRIVE_ERROR_TYPE_DEFINITION;
    ostrel_object_t *other = ostrel_error_construct_errno_error(nullptr, nullptr, 1);
    EXPECT_DEATH(type->printable_func(other), "google_drive_common/error.cc:[0-9]+: .*google_drive_error != NULL");
    ostrel_object_free(other);
}

}  // namespace
