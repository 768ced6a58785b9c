// Metadata records: parse from Drive JSON, copy, destroy, convert back.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "memory.h"
#include "support/trace_capture.h"

namespace {

using Metadata = ostrel_google_metadata_t;
using ostrel::test::ModuleTest;
using ostrel::test::OwnedError;
using MetadataTest = ModuleTest;

// A JSON value loaded from text, released at the end of the scope.
struct Json {
    explicit Json(const char *text) : value(json_loads(text, JSON_DECODE_ANY, nullptr)) {}
    ~Json() { json_decref(value); }
    json_t *value;
};

std::vector<std::string> texts(char **array, size_t count)
{
    std::vector<std::string> result;
    for (size_t i = 0; array != nullptr && i < count; ++i) {
        result.push_back(array[i] != nullptr ? array[i] : "(none)");
    }
    return result;
}

bool all_zero(const Metadata &metadata)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(&metadata);
    for (size_t i = 0; i < sizeof metadata; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

std::string text_or(const char *text)
{
    return text != nullptr ? text : "(none)";
}

// Field by field; times and booleans count only when present.
void expect_same(const Metadata &a, const Metadata &b, bool with_created_time = true)
{
    EXPECT_EQ(text_or(a.id), text_or(b.id));
    EXPECT_EQ(text_or(a.name), text_or(b.name));
    EXPECT_EQ(text_or(a.drive_id), text_or(b.drive_id));
    EXPECT_EQ(text_or(a.mime_type), text_or(b.mime_type));
    if (with_created_time) {
        EXPECT_EQ(a.created_time_set, b.created_time_set);
        EXPECT_EQ(a.created_time_set ? a.created_time : 0, b.created_time_set ? b.created_time : 0);
    }
    EXPECT_EQ(a.viewed_by_me_time_set, b.viewed_by_me_time_set);
    EXPECT_EQ(a.viewed_by_me_time_set ? a.viewed_by_me_time : 0, b.viewed_by_me_time_set ? b.viewed_by_me_time : 0);
    EXPECT_EQ(a.modified_time_set, b.modified_time_set);
    EXPECT_EQ(a.modified_time_set ? a.modified_time : 0, b.modified_time_set ? b.modified_time : 0);
    const std::pair<std::pair<bool, bool>, std::pair<bool, bool>> flags[] = {
        {{a.owned_by_me, a.owned_by_me_set}, {b.owned_by_me, b.owned_by_me_set}},
        {{a.can_edit, a.can_edit_set}, {b.can_edit, b.can_edit_set}},
        {{a.starred, a.starred_set}, {b.starred, b.starred_set}},
        {{a.trashed, a.trashed_set}, {b.trashed, b.trashed_set}},
        {{a.explicitly_trashed, a.explicitly_trashed_set}, {b.explicitly_trashed, b.explicitly_trashed_set}},
    };
    for (const auto &[x, y] : flags) {
        EXPECT_EQ(x.second, y.second);
        EXPECT_EQ(x.second && x.first, y.second && y.first);
    }
    EXPECT_EQ(a.owner_count, b.owner_count);
    EXPECT_EQ(texts(a.owners, a.owner_count), texts(b.owners, b.owner_count));
    EXPECT_STREQ(a.md5_checksum, b.md5_checksum);
    EXPECT_EQ(a.size_set, b.size_set);
    EXPECT_EQ(a.size_set ? a.size : 0, b.size_set ? b.size : 0);
    EXPECT_EQ(a.parent_count, b.parent_count);
    EXPECT_EQ(texts(a.parents, a.parent_count), texts(b.parents, b.parent_count));
    EXPECT_FALSE(b.append_id);
}

struct ParseCase {
    const char *name;
    const char *json;
    const char *failed_call;  // NULL: parse succeeds
    std::function<void(const Metadata &)> check;
};

TEST_F(MetadataTest, ParseReadsEachKeyByItsTypeRules)
{
    const ParseCase cases[] = {
        {"not an object", "[1, 2]", nullptr, [](const Metadata &m) { EXPECT_TRUE(all_zero(m)); }},
        {"empty object", "{}", nullptr, [](const Metadata &m) { EXPECT_TRUE(all_zero(m)); }},
        {"texts", R"({"id": "i", "name": "n", "driveId": "d", "mimeType": "text/plain", "x": "y"})", nullptr,
         [](const Metadata &m) {
             EXPECT_STREQ(m.id, "i");
             EXPECT_STREQ(m.name, "n");
             EXPECT_STREQ(m.drive_id, "d");
             EXPECT_STREQ(m.mime_type, "text/plain");
         }},
        {"texts of other types are absent", R"({"id": 5, "name": null, "driveId": ["d"], "mimeType": true})", nullptr,
         [](const Metadata &m) { EXPECT_TRUE(all_zero(m)); }},
        {"fraction and Z ignored", R"({"createdTime": "2021-03-04T05:06:07.890Z"})", nullptr,
         [](const Metadata &m) {
             EXPECT_TRUE(m.created_time_set);
             EXPECT_EQ(m.created_time, 1614834367);
         }},
        {"offset applied", R"({"modifiedTime": "2021-03-04T05:06:07+02:00"})", nullptr,
         [](const Metadata &m) {
             EXPECT_TRUE(m.modified_time_set);
             EXPECT_EQ(m.modified_time, 1614827167);
         }},
        {"offset west of UTC", R"({"modifiedTime": "2024-01-01T12:00:00-05:00"})", nullptr,
         [](const Metadata &m) { EXPECT_EQ(m.modified_time, 1704128400); }},
        {"29 February of a common year fails", R"({"createdTime": "2019-02-29T00:00:00Z"})", "strptime", nullptr},
        {"29 February of a leap year", R"({"createdTime": "2024-02-29T00:00:00Z"})", nullptr,
         [](const Metadata &m) { EXPECT_EQ(m.created_time, 1709164800); }},
        {"junk after the seconds fails", R"({"createdTime": "2021-03-04T05:06:07zz"})", "strptime", nullptr},
        {"the leap second of 9999 fails", R"({"createdTime": "9999-12-31T23:59:60Z"})", "strptime", nullptr},
        {"three times", R"({"createdTime": "1970-01-01T00:00:00Z", "viewedByMeTime": "1969-12-31T23:59:59Z",
                            "modifiedTime": "9999-12-31T23:59:59Z"})",
         nullptr,
         [](const Metadata &m) {
             EXPECT_EQ(m.created_time, 0);
             EXPECT_EQ(m.viewed_by_me_time, -1);
             EXPECT_EQ(m.modified_time, 253402300799);
             EXPECT_TRUE(m.created_time_set && m.viewed_by_me_time_set && m.modified_time_set);
         }},
        {"date alone fails", R"({"id": "i", "owners": [{"emailAddress": "a"}], "viewedByMeTime": "2021-03-04"})",
         "strptime", nullptr},
        {"time of null or number is absent", R"({"createdTime": null, "modifiedTime": 1614834367})", nullptr,
         [](const Metadata &m) { EXPECT_TRUE(all_zero(m)); }},
        {"size text", R"({"size": "12345"})", nullptr,
         [](const Metadata &m) {
             EXPECT_TRUE(m.size_set);
             EXPECT_EQ(m.size, 12345u);
         }},
        {"size of all ten digits", R"({"size": "9876543210"})", nullptr,
         [](const Metadata &m) { EXPECT_EQ(m.size, 9876543210u); }},
        {"size after a slash", R"({"size": "/1"})", nullptr, [](const Metadata &m) { EXPECT_FALSE(m.size_set); }},
        {"size before a colon", R"({"size": "9:"})", nullptr, [](const Metadata &m) { EXPECT_FALSE(m.size_set); }},
        {"size letters", R"({"size": "abc"})", nullptr, [](const Metadata &m) { EXPECT_FALSE(m.size_set); }},
        {"size negative", R"({"size": "-1"})", nullptr, [](const Metadata &m) { EXPECT_FALSE(m.size_set); }},
        {"size in exponent form", R"({"size": "1e3"})", nullptr, [](const Metadata &m) { EXPECT_FALSE(m.size_set); }},
        {"size in hexadecimal", R"({"size": "0x10"})", nullptr, [](const Metadata &m) { EXPECT_FALSE(m.size_set); }},
        {"size with a sign", R"({"size": "+5"})", nullptr,
         [](const Metadata &m) { EXPECT_FALSE(m.size_set); }},
        {"size with a blank", R"({"size": " 5"})", nullptr, [](const Metadata &m) { EXPECT_FALSE(m.size_set); }},
        {"size empty", R"({"size": ""})", nullptr, [](const Metadata &m) { EXPECT_FALSE(m.size_set); }},
        {"size number is absent", R"({"size": 12345})", nullptr, [](const Metadata &m) { EXPECT_FALSE(m.size_set); }},
        {"largest size", R"({"size": "18446744073709551615"})", nullptr,
         [](const Metadata &m) { EXPECT_EQ(m.size, UINTMAX_MAX); }},
        {"size beyond the range", R"({"size": "18446744073709551616"})", nullptr,
         [](const Metadata &m) { EXPECT_FALSE(m.size_set); }},
        {"booleans", R"({"ownedByMe": true, "canEdit": false, "starred": true, "trashed": false,
                         "explicitlyTrashed": true})",
         nullptr,
         [](const Metadata &m) {
             EXPECT_TRUE(m.owned_by_me && m.owned_by_me_set);
             EXPECT_TRUE(!m.can_edit && m.can_edit_set);
             EXPECT_TRUE(m.starred && m.starred_set);
             EXPECT_TRUE(!m.trashed && m.trashed_set);
             EXPECT_TRUE(m.explicitly_trashed && m.explicitly_trashed_set);
         }},
        {"boolean as text is absent", R"({"ownedByMe": "true", "starred": 1})", nullptr,
         [](const Metadata &m) { EXPECT_TRUE(all_zero(m)); }},
        {"nested canEdit is not read", R"({"capabilities": {"canEdit": true}})", nullptr,
         [](const Metadata &m) { EXPECT_FALSE(m.can_edit_set); }},
        {"owner without address", R"({"owners": [{"emailAddress": "a@x"}, {"displayName": "B"}, 7]})", nullptr,
         [](const Metadata &m) {
             EXPECT_EQ(m.owner_count, 3u);
             EXPECT_EQ(texts(m.owners, m.owner_count), (std::vector<std::string>{"a@x", "(none)", "(none)"}));
         }},
        {"lists that are not arrays", R"({"owners": null, "parents": {"a": "b"}})", nullptr,
         [](const Metadata &m) {
             EXPECT_EQ(m.owner_count, 0u);
             EXPECT_EQ(m.parent_count, 0u);
         }},
        {"empty parents", R"({"parents": []})", nullptr, [](const Metadata &m) { EXPECT_EQ(m.parent_count, 0u); }},
        {"parents", R"({"parents": ["p1", "p2"]})", nullptr,
         [](const Metadata &m) {
             EXPECT_EQ(texts(m.parents, m.parent_count), (std::vector<std::string>{"p1", "p2"}));
         }},
        {"parent not a text fails", R"({"name": "n", "owners": [{"emailAddress": "a"}], "parents": ["p1", 2]})",
         "malloc", nullptr},
        {"md5", R"({"md5Checksum": "0123456789abcdef0123456789abcdef"})", nullptr,
         [](const Metadata &m) { EXPECT_STREQ(m.md5_checksum, "0123456789abcdef0123456789abcdef"); }},
        {"md5 too long stays empty", R"({"md5Checksum": "0123456789abcdef0123456789abcdef0"})", nullptr,
         [](const Metadata &m) { EXPECT_STREQ(m.md5_checksum, ""); }},
    };
    for (const ParseCase &c : cases) {
        SCOPED_TRACE(c.name);
        Json json(c.json);
        ASSERT_NE(json.value, nullptr);
        Metadata metadata;
        std::memset(&metadata, 0x5a, sizeof metadata);
        const ostrel_result_t result = ostrel_google_metadata_parse(json.value, &metadata);
        if (c.failed_call != nullptr) {
            OwnedError error(result);
            ASSERT_NE(error.error, nullptr);
            EXPECT_EQ(error.chain().rfind(std::string("System error in ") + c.failed_call + ": ", 0), 0u)
                << error.chain();
            EXPECT_TRUE(all_zero(metadata));
            continue;
        }
        ASSERT_EQ(result, OSTREL_SUCCESS);
        c.check(metadata);
        ostrel_google_metadata_destroy(&metadata);
        EXPECT_TRUE(all_zero(metadata));
    }
}

TEST_F(MetadataTest, ParseWithoutARecordTouchesNothing)
{
    EXPECT_EQ(ostrel_google_metadata_parse(nullptr, nullptr), OSTREL_SUCCESS);
}

const char *const rich_resource = R"({
    "id": "1AbC", "name": "Report \u00e9t\u00e9 / 2021.pdf", "driveId": "0Drive", "mimeType": "application/pdf",
    "createdTime": "2020-01-02T03:04:05.678Z", "viewedByMeTime": "2021-05-06T07:08:09Z",
    "modifiedTime": "2021-03-04T05:06:07.000Z", "ownedByMe": false,
    "owners": [{"emailAddress": "a@example.org"}, {"kind": "drive#user"}, {"emailAddress": "c@example.org"}],
    "canEdit": true, "starred": false, "trashed": false, "explicitlyTrashed": false,
    "md5Checksum": "d41d8cd98f00b204e9800998ecf8427e", "size": "18446744073709551615",
    "parents": ["0Root", "1Other"]
})";

TEST_F(MetadataTest, ParseConvertParseGivesTheSameRecord)
{
    Json json(rich_resource);
    Metadata first = {};
    ASSERT_EQ(ostrel_google_metadata_parse(json.value, &first), OSTREL_SUCCESS);
    json_t *converted = nullptr;
    ASSERT_EQ(ostrel_google_metadata_convert(&first, &converted), OSTREL_SUCCESS);
    EXPECT_EQ(json_object_get(converted, "createdTime"), nullptr);
    Metadata second = {};
    ASSERT_EQ(ostrel_google_metadata_parse(converted, &second), OSTREL_SUCCESS);
    expect_same(first, second, false);
    json_decref(converted);
    ostrel_google_metadata_destroy(&first);
    ostrel_google_metadata_destroy(&second);
}

TEST_F(MetadataTest, CopyIsDeepCarriesEveryFieldAndSurvivesTheSource)
{
    Json json(rich_resource);
    Metadata source = {};
    ASSERT_EQ(ostrel_google_metadata_parse(json.value, &source), OSTREL_SUCCESS);
    source.append_id = true;
    Metadata copy;
    std::memset(&copy, 0x5a, sizeof copy);
    ASSERT_EQ(ostrel_google_metadata_copy(&copy, &source), OSTREL_SUCCESS);
    EXPECT_NE(copy.name, source.name);
    EXPECT_NE(copy.owners, source.owners);
    EXPECT_TRUE(copy.created_time_set);
    Metadata reference = {};
    ASSERT_EQ(ostrel_google_metadata_parse(json.value, &reference), OSTREL_SUCCESS);
    ostrel_google_metadata_destroy(&source);
    expect_same(reference, copy);
    ostrel_google_metadata_destroy(&copy);
    ostrel_google_metadata_destroy(&reference);
}

TEST_F(MetadataTest, CopyOfAListWithoutArrayIsEmpty)
{
    Metadata source = {};
    source.owner_count = 3;
    source.parent_count = 2;
    Metadata copy = {};
    ASSERT_EQ(ostrel_google_metadata_copy(&copy, &source), OSTREL_SUCCESS);
    EXPECT_TRUE(all_zero(copy));
}

TEST_F(MetadataTest, DestroyLeavesTheEmptyRecord)
{
    Metadata empty = {};
    ostrel_google_metadata_destroy(&empty);
    EXPECT_TRUE(all_zero(empty));
    ostrel_google_metadata_destroy(nullptr);
    ostrel_google_metadata_destroy_void(nullptr);
    auto *heap = static_cast<Metadata *>(std::calloc(1, sizeof(Metadata)));
    Json json(rich_resource);
    ASSERT_EQ(ostrel_google_metadata_parse(json.value, heap), OSTREL_SUCCESS);
    ostrel_google_metadata_destroy_void(heap);  // valgrind and LeakSanitizer check the release
}

std::string dumped(const json_t *json)
{
    char *text = json_dumps(json, JSON_PRESERVE_ORDER | JSON_COMPACT);
    std::string result = text != nullptr ? text : "(null)";
    std::free(text);
    return result;
}

struct ConvertCase {
    const char *name;
    std::function<void(Metadata &)> fill;
    const char *expected;  // compact JSON, members in order
};

TEST_F(MetadataTest, ConvertWritesPresentFieldsInOrder)
{
    static char *owner_texts[] = {const_cast<char *>("a@x"), nullptr, const_cast<char *>("c@x")};
    static char *parent_texts[] = {const_cast<char *>("p1"), const_cast<char *>("p2")};
    const ConvertCase cases[] = {
        {"empty", [](Metadata &) {}, "{}"},
        {"four members",
         [](Metadata &m) {
             m.name = const_cast<char *>("report.txt");
             m.modified_time = 1614834367;
             m.modified_time_set = true;
             m.starred_set = true;
             m.size = 12;
             m.size_set = true;
         },
         R"({"name":"report.txt","modifiedTime":"2021-03-04T05:06:07Z","starred":false,"size":"12"})"},
        {"created time not written",
         [](Metadata &m) {
             m.created_time = 5;
             m.created_time_set = true;
             m.append_id = true;
             m.plugin_flag = true;
         },
         "{}"},
        {"edge times",
         [](Metadata &m) {
             m.viewed_by_me_time = -1;
             m.viewed_by_me_time_set = true;
             m.modified_time = 253402300799;
             m.modified_time_set = true;
         },
         R"({"viewedByMeTime":"1969-12-31T23:59:59Z","modifiedTime":"9999-12-31T23:59:59Z"})"},
        {"epoch", [](Metadata &m) { m.modified_time_set = true; }, R"({"modifiedTime":"1970-01-01T00:00:00Z"})"},
        {"years before 1000 keep four digits",
         [](Metadata &m) {
             m.viewed_by_me_time = -62167219200;  // 0000-01-01
             m.viewed_by_me_time_set = true;
             m.modified_time = -30628713600;  // 0999-06-01
             m.modified_time_set = true;
         },
         R"({"viewedByMeTime":"0000-01-01T00:00:00Z","modifiedTime":"0999-06-01T00:00:00Z"})"},
        {"sizes",
         [](Metadata &m) {
             m.size = UINTMAX_MAX;
             m.size_set = true;
         },
         R"({"size":"18446744073709551615"})"},
        {"size zero", [](Metadata &m) { m.size_set = true; }, R"({"size":"0"})"},
        {"absent flags and empty lists",
         [](Metadata &m) {
             m.can_edit = true;
             m.owners = owner_texts;
             m.parent_count = 2;
         },
         "{}"},
        {"all in order",
         [](Metadata &m) {
             m.id = const_cast<char *>("i");
             m.name = const_cast<char *>("n");
             m.drive_id = const_cast<char *>("d");
             m.mime_type = const_cast<char *>("m");
             m.owned_by_me_set = true;
             m.owned_by_me = true;
             m.owner_count = 3;
             m.owners = owner_texts;
             m.can_edit_set = m.starred_set = m.trashed_set = m.explicitly_trashed_set = true;
             m.trashed = true;
             std::strcpy(m.md5_checksum, "abc");
             m.parent_count = 2;
             m.parents = parent_texts;
         },
         R"({"id":"i","name":"n","driveId":"d","mimeType":"m","ownedByMe":true,)"
         R"("owners":[{"emailAddress":"a@x"},{},{"emailAddress":"c@x"}],"canEdit":false,"starred":false,)"
         R"("trashed":true,"explicitlyTrashed":false,"md5Checksum":"abc","parents":["p1","p2"]})"},
    };
    for (const ConvertCase &c : cases) {
        SCOPED_TRACE(c.name);
        Metadata metadata = {};
        c.fill(metadata);
        json_t *json = nullptr;
        ASSERT_EQ(ostrel_google_metadata_convert(&metadata, &json), OSTREL_SUCCESS);
        EXPECT_EQ(dumped(json), c.expected);
        json_decref(json);
    }
}

TEST_F(MetadataTest, AnOwnerWithoutAddressComesBackThroughConvert)
{
    Json json(R"({"owners": [{"emailAddress": "a@x"}, {}]})");
    Metadata first = {};
    ASSERT_EQ(ostrel_google_metadata_parse(json.value, &first), OSTREL_SUCCESS);
    json_t *converted = nullptr;
    ASSERT_EQ(ostrel_google_metadata_convert(&first, &converted), OSTREL_SUCCESS);
    Metadata second = {};
    ASSERT_EQ(ostrel_google_metadata_parse(converted, &second), OSTREL_SUCCESS);
    EXPECT_EQ(texts(second.owners, second.owner_count), (std::vector<std::string>{"a@x", "(none)"}));
    json_decref(converted);
    ostrel_google_metadata_destroy(&first);
    ostrel_google_metadata_destroy(&second);
}

struct RefusedCase {
    const char *name;
    std::function<void(Metadata &)> fill;
    const char *call;
    int system_errno;  // 0: not checked
};

TEST_F(MetadataTest, ConvertRefusesWhatItCannotWriteAndReleasesThePartialObject)
{
    static char *bad_parent[] = {const_cast<char *>("ok"), const_cast<char *>("\xff")};
    static char *trash_parent[] = {const_cast<char *>(OSTREL_GOOGLE_DRIVE_NAME_TRASH)};
    static char *starred_parent[] = {const_cast<char *>("id"), const_cast<char *>(OSTREL_GOOGLE_DRIVE_NAME_STARRED)};
    static char *shared_parent[] = {const_cast<char *>(OSTREL_GOOGLE_DRIVE_NAME_SHARED_WITH_ME)};
    const RefusedCase cases[] = {
        {"year 10000", [](Metadata &m) { m.modified_time = 253402300800; m.modified_time_set = true; }, "gmtime_r",
         EOVERFLOW},
        {"year -1", [](Metadata &m) { m.viewed_by_me_time = -62167219201; m.viewed_by_me_time_set = true; },
         "gmtime_r", EOVERFLOW},
        {"time beyond gmtime_r", [](Metadata &m) { m.modified_time = INT64_MAX; m.modified_time_set = true; },
         "gmtime_r", EOVERFLOW},
        {"name not UTF-8", [](Metadata &m) { m.id = const_cast<char *>("i"); m.name = const_cast<char *>("\xc3"); },
         "malloc", EILSEQ},
        {"parent not UTF-8", [](Metadata &m) { m.parent_count = 2; m.parents = bad_parent; }, "malloc", EILSEQ},
        {"Trash as a parent", [](Metadata &m) { m.parent_count = 1; m.parents = trash_parent; },
         "ostrel_l_meta_set_parents_array", EINVAL},
        {"Starred as a parent", [](Metadata &m) { m.parent_count = 2; m.parents = starred_parent; },
         "ostrel_l_meta_set_parents_array", EINVAL},
        {"Shared With Me as a parent", [](Metadata &m) { m.parent_count = 1; m.parents = shared_parent; },
         "ostrel_l_meta_set_parents_array", EINVAL},
    };
    for (const RefusedCase &c : cases) {
        SCOPED_TRACE(c.name);
        Metadata metadata = {};
        c.fill(metadata);
        json_t *const sentinel = json_object();
        json_t *json = sentinel;  // must be replaced by NULL
        OwnedError error(ostrel_google_metadata_convert(&metadata, &json));
        EXPECT_EQ(json, nullptr);
        json_decref(sentinel);
        ASSERT_NE(error.error, nullptr);
        EXPECT_EQ(error.chain().rfind(std::string("System error in ") + c.call + ": ", 0), 0u) << error.chain();
        if (c.system_errno != 0) {
            EXPECT_EQ(ostrel_error_get_errno(error.error), c.system_errno);
        }
    }
}

// Every time convert writes, parse reads back as the same value; the rest
// convert refuses as out of range.
TEST_F(MetadataTest, EveryTimeConvertWritesParsesBackTheSame)
{
    constexpr time_t first = -62167219200;  // 0000-01-01T00:00:00Z
    constexpr time_t last = 253402300799;   // 9999-12-31T23:59:59Z
    std::vector<time_t> times = {first - 1, first, first + 1, -1, 0, 1, last - 1, last, last + 1, INT64_MIN};
    std::mt19937_64 random(20261208);
    std::uniform_int_distribution<time_t> any(first - 86400 * 400, last + 86400 * 400);
    for (int i = 0; i < 20000; ++i) {
        times.push_back(any(random));
    }
    for (const time_t time : times) {
        SCOPED_TRACE(time);
        Metadata metadata = {};
        metadata.modified_time = time;
        metadata.modified_time_set = true;
        json_t *json = nullptr;
        OwnedError error(ostrel_google_metadata_convert(&metadata, &json));
        if (time < first || time > last) {
            ASSERT_NE(error.error, nullptr);
            EXPECT_EQ(ostrel_error_get_errno(error.error), EOVERFLOW);
            continue;
        }
        ASSERT_EQ(error.error, nullptr);
        Metadata back = {};
        ASSERT_EQ(ostrel_google_metadata_parse(json, &back), OSTREL_SUCCESS);
        EXPECT_TRUE(back.modified_time_set);
        EXPECT_EQ(back.modified_time, time);
        json_decref(json);
        ostrel_google_metadata_destroy(&back);
    }
}

// Fails the allocation numbered countdown from the moment it is armed.
long countdown = 0;
bool fail_countdown() noexcept
{
    return countdown > 0 && --countdown == 0;
}

TEST_F(MetadataTest, EveryAllocationFailureOfParseAndCopyLeavesTheEmptyRecord)
{
    Json json(rich_resource);
    Metadata source = {};
    ASSERT_EQ(ostrel_google_metadata_parse(json.value, &source), OSTREL_SUCCESS);
    for (const bool copying : {false, true}) {
        long points = 0;
        for (long k = 1;; ++k) {
            SCOPED_TRACE(k);
            Metadata metadata = {};
            countdown = k;
            ostrel::gdc::alloc_fail_hook = fail_countdown;
            const ostrel_result_t result = copying ? ostrel_google_metadata_copy(&metadata, &source)
                                                   : ostrel_google_metadata_parse(json.value, &metadata);
            ostrel::gdc::alloc_fail_hook = nullptr;
            if (result == OSTREL_SUCCESS) {
                expect_same(source, metadata);
                ostrel_google_metadata_destroy(&metadata);
                break;
            }
            ++points;
            OwnedError error(result);
            EXPECT_EQ(ostrel_error_get_errno(error.error), ENOMEM);
            EXPECT_TRUE(all_zero(metadata));
        }
        EXPECT_EQ(points, 10);  // 4 texts, 2 arrays, 2 addresses (the third owner has none), 2 parents
    }
    ostrel_google_metadata_destroy(&source);
}

TEST_F(MetadataTest, EveryKeyWithEveryJsonTypeParsesOrFailsCleanly)
{
    const char *const keys[] = {"id", "name", "driveId", "mimeType", "createdTime", "viewedByMeTime",
                                "modifiedTime", "ownedByMe", "owners", "canEdit", "starred", "trashed",
                                "explicitlyTrashed", "md5Checksum", "size", "parents"};
    const char *const values[] = {"null", "true", "false", "0", "-1.5", "\"\"", "\"x\"", "[]", "{}", "[\"x\"]",
                                  "[{}]", "[1]", "[null]", "{\"emailAddress\": 1}", "[{\"emailAddress\": \"\"}]"};
    for (const char *key : keys) {
        for (const char *value : values) {
            const std::string text = std::string("{\"") + key + "\": " + value + "}";
            SCOPED_TRACE(text);
            Json json(text.c_str());
            ASSERT_NE(json.value, nullptr);
            Metadata metadata = {};
            const ostrel_result_t result = ostrel_google_metadata_parse(json.value, &metadata);
            if (result != OSTREL_SUCCESS) {
                OwnedError error(result);
                EXPECT_TRUE(all_zero(metadata));
                continue;
            }
            json_t *converted = nullptr;
            ASSERT_EQ(ostrel_google_metadata_convert(&metadata, &converted), OSTREL_SUCCESS);
            Metadata again = {};
            ASSERT_EQ(ostrel_google_metadata_parse(converted, &again), OSTREL_SUCCESS);
            expect_same(metadata, again, false);
            json_decref(converted);
            ostrel_google_metadata_destroy(&metadata);
            ostrel_google_metadata_destroy(&again);
        }
    }
}

TEST_F(MetadataTest, HugeListsAndLongTextsAreKeptWhole)
{
    const std::string long_text(1 << 20, 'n');
    json_t *resource = json_pack("{s:s, s:o, s:o}", "name", long_text.c_str(), "owners", json_array(), "parents",
                                 json_array());
    for (int i = 0; i < 100000; ++i) {
        json_array_append_new(json_object_get(resource, "owners"), json_pack("{s:s}", "emailAddress", "o@x"));
        json_array_append_new(json_object_get(resource, "parents"), json_string("p"));
    }
    Metadata metadata = {};
    ASSERT_EQ(ostrel_google_metadata_parse(resource, &metadata), OSTREL_SUCCESS);
    EXPECT_EQ(std::strlen(metadata.name), long_text.size());
    EXPECT_EQ(metadata.owner_count, 100000u);
    EXPECT_EQ(metadata.parent_count, 100000u);
    EXPECT_STREQ(metadata.owners[99999], "o@x");
    json_t *converted = nullptr;
    ASSERT_EQ(ostrel_google_metadata_convert(&metadata, &converted), OSTREL_SUCCESS);
    EXPECT_EQ(json_array_size(json_object_get(converted, "parents")), 100000u);
    json_decref(converted);
    json_decref(resource);
    ostrel_google_metadata_destroy(&metadata);
}

// What a Drive time reads as, by another route: RFC 3339's form as a regular
// expression; whether the date exists, and its value, by timegm and
// gmtime_r; the offset subtracted. 0 and the time, or the refusal's errno.
std::pair<int, time_t> reference_time(const std::string &text)
{
    static const std::regex form(R"((\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(\.\d+)?(Z|([+-])(\d{2}):(\d{2})))");
    std::smatch m;
    if (!std::regex_match(text, m, form)) {
        return {EINVAL, 0};
    }
    const auto number = [&m](int i) { return std::stoi(m[i].str()); };
    tm fields = {};
    fields.tm_year = number(1) - 1900;
    fields.tm_mon = number(2) - 1;
    fields.tm_mday = number(3);
    fields.tm_hour = number(4);
    fields.tm_min = number(5);
    tm asked = fields;
    const time_t minute = timegm(&fields);  // without the seconds: a leap second moves no date
    tm back = {};
    gmtime_r(&minute, &back);
    if (back.tm_year != asked.tm_year || back.tm_mon != asked.tm_mon || back.tm_mday != asked.tm_mday
        || back.tm_hour != asked.tm_hour || back.tm_min != asked.tm_min || number(6) > 60
        || (m[9].matched && (number(10) > 23 || number(11) > 59))) {
        return {EINVAL, 0};
    }
    const int offset = m[9].matched ? (m[9] == "-" ? -1 : 1) * (number(10) * 3600 + number(11) * 60) : 0;
    const time_t value = minute + number(6) - offset;
    tm utc = {};
    gmtime_r(&value, &utc);
    if (utc.tm_year + 1900 < 0 || utc.tm_year + 1900 > 9999) {
        return {EOVERFLOW, 0};
    }
    return {0, value};
}

// Times as RFC 3339 reads them and strftime writes them (but with four-digit
// years always), compared with what parse and convert give over many
// generated times and texts; every time parse takes, convert writes back.
TEST_F(MetadataTest, TimesReadAsRfc3339SaysAndWrittenAsTheCLibraryDoes)
{
    std::mt19937_64 random(5);
    const char *const odd_texts[] = {
        "2021-13-01T00:00:00Z", "2021-00-10T00:00:00Z", "2021-02-31T00:00:00Z", "2021-01-01T24:00:00Z",
        "2021-01-01T23:60:00Z", "2021-01-01T23:59:60Z", "2021-01-01T23:59:61Z", " 2021-01-01T00:00:00Z",
        "2021-1-01T00:00:00Z", "0000-01-01T00:00:00Z", "2021-01-01T00:00", "20210-01-01T00:00:00Z",
        "2021-01-01 00:00:00Z", "9999-12-31T23:59:59.999+14:00", "2024-05-02T09:14:00.000Z",
        "2021-03-04T05:06:07zz", "2021-03-04T05:06:07Z ", "2021-03-04T05:06:07ZZ", "2021-03-04T05:06:07.Z",
        "2021-03-04T05:06:07.5", "2021-03-04T05:06:07", "2021-03-04T05:06:07+0100", "2021-03-04T05:06:07+01:0",
        "2021-03-04T05:06:07+01:000", "2021-03-04T05:06:07+24:00", "2021-03-04T05:06:07+23:60",
        "2021-03-04T05:06:07-23:59", "2021-03-04T05:06:07-00:00", "2021-03-04T05:06:07z", "2021-03-04t05:06:07Z",
        "2021-03-04T05:06:07.123456789012345678901234567890Z", "9999-12-31T23:59:60Z", "9999-12-31T23:59:59-00:01",
        "9999-12-31T23:59:59+00:01", "0000-01-01T00:00:00+00:01", "0000-01-01T00:00:00-23:59", "0000-02-29T00:00:00Z",
        "1900-02-29T00:00:00Z", "2000-02-29T00:00:00Z", "2023-02-29T00:00:00Z", "2024-02-29T00:00:00Z",
        "2024-01-32T00:00:00Z", "2024-04-31T00:00:00Z", "2024-04-30T00:00:00Z", "2016-12-31T23:59:60Z"};
    std::vector<std::string> texts(std::begin(odd_texts), std::end(odd_texts));
    // Every digit and a wrong character in each position of the form, and the
    // text cut short at each position.
    for (const std::string good : {"2021-03-04T05:06:07Z", "2019-12-29T19:59:59.5+09:39"}) {
        for (size_t i = 0; i < good.size(); ++i) {
            for (const char wrong : std::string_view("/0123456789:;-T .+Zx")) {
                std::string text = good;
                text[i] = wrong;
                texts.push_back(text);
            }
            texts.push_back(good.substr(0, i));
        }
    }
    texts.push_back("////-/;-/;T//://://");
    const char *const zones[] = {"Z", "+", "-", ""};
    for (int i = 0; i < 3000; ++i) {
        char text[80];
        const int fraction = static_cast<int>(random() % 5);
        const char *zone = zones[random() % 4];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%s%.*d%s", static_cast<int>(random() % 10000),
                      static_cast<int>(random() % 14), static_cast<int>(random() % 33), static_cast<int>(random() % 25),
                      static_cast<int>(random() % 61), static_cast<int>(random() % 62), fraction != 0 ? "." : "",
                      fraction, static_cast<int>(random() % 10000), zone);
        std::string with_zone = text;
        if (zone[0] == '+' || zone[0] == '-') {
            std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(random() % 25),
                          static_cast<int>(random() % 61));
            with_zone += text;
        }
        texts.push_back(with_zone);
    }
    for (const std::string &text : texts) {
        SCOPED_TRACE(text);
        const auto [expected_errno, expected] = reference_time(text);
        json_t *resource = json_pack("{s:s}", "modifiedTime", text.c_str());
        Metadata metadata = {};
        OwnedError error(ostrel_google_metadata_parse(resource, &metadata));
        json_decref(resource);
        if (expected_errno != 0) {
            ASSERT_NE(error.error, nullptr);
            EXPECT_EQ(ostrel_error_get_errno(error.error), expected_errno);
            EXPECT_EQ(error.chain().rfind("System error in strptime", 0), 0u) << error.chain();
            continue;
        }
        ASSERT_EQ(error.error, nullptr) << error.chain();
        ASSERT_EQ(metadata.modified_time, expected);
        json_t *json = nullptr;
        ASSERT_EQ(ostrel_google_metadata_convert(&metadata, &json), OSTREL_SUCCESS);
        Metadata back = {};
        ASSERT_EQ(ostrel_google_metadata_parse(json, &back), OSTREL_SUCCESS);
        ASSERT_EQ(back.modified_time, expected);
        json_decref(json);
    }
    // The whole text is the time: a NUL inside it hides nothing.
    json_t *resource = json_pack("{s:o}", "modifiedTime", json_stringn("2021-03-04T05:06:07Z\0x", 22));
    Metadata metadata = {};
    OwnedError error(ostrel_google_metadata_parse(resource, &metadata));
    json_decref(resource);
    EXPECT_EQ(ostrel_error_get_errno(error.error), EINVAL);
    for (int i = 0; i < 3000; ++i) {
        Metadata metadata = {};
        metadata.modified_time = static_cast<time_t>(random() % 253402300800ULL) - (i % 2 == 0 ? 62135596800LL : 0);
        metadata.modified_time_set = true;
        tm broken_down = {};
        ASSERT_NE(gmtime_r(&metadata.modified_time, &broken_down), nullptr);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%04d", broken_down.tm_year + 1900);
        std::strftime(expected + 4, sizeof expected - 4, "-%m-%dT%H:%M:%SZ", &broken_down);
        json_t *json = nullptr;
        ASSERT_EQ(ostrel_google_metadata_convert(&metadata, &json), OSTREL_SUCCESS);
        ASSERT_STREQ(json_string_value(json_object_get(json, "modifiedTime")), expected);
        json_decref(json);
    }
}

}  // namespace
