// Folder listing and lookup: the guarantee over generated folders, the
// errors, and the Drive query.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "folder_check.h"
#include "support/names.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::ModuleTest;
using ostrel::test::OwnedError;
using ostrel::test::text_or_null;

class Lookup : public ModuleTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
        ModuleTest::TearDown();
    }
};

constexpr const char *DOC = "application/vnd.google-apps.document";

ostrel_google_metadata_t record(const char *name, const char *id, const char *mime_type = nullptr)
{
    ostrel_google_metadata_t r = {};
    r.name = const_cast<char *>(name);
    r.id = const_cast<char *>(id);
    r.mime_type = const_cast<char *>(mime_type);
    return r;
}

TEST_F(Lookup, EveryFileOfEveryGeneratedFolderHasOneNameThatLeadsBackToIt)
{
    std::mt19937 random(20261208);
    std::vector<uint8_t> bytes(160);
    for (int folder_number = 0; folder_number < 4000; ++folder_number) {
        for (uint8_t &b : bytes) {
            b = static_cast<uint8_t>(random());
        }
        ostrel::fuzz::Input input(bytes.data(), bytes.size());
        ostrel::fuzz::Folder folder = ostrel::fuzz::make_folder(input);
        ostrel::fuzz::check_folder(folder);  // stops the run with the broken property
    }
}

struct LookupCase {
    const char *client_name;
    int code;                // 0: found
    const char *error_code;  // or the index found, as text
    const char *details;
};

TEST_F(Lookup, FindsOneRecordOrSaysWhyNot)
{
    ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    std::vector<ostrel_google_metadata_t> children = {
        record("report", "r1", "text/plain"),
        record("report", "r2", "text/plain"),
        record("notes.gdoc", "n1", "text/plain"),
        record("notes", "n2", "application/vnd.google-apps.spreadsheet"),
        record("plan", "p1", DOC),
        record(nullptr, "x1"),
        record("a/b.gsheet", "s1", "text/csv"),
        record("r.pdf", "f4", "application/pdf"),
        record("r.pdf", "f5", "application/pdf"),
        record("a", "x"),
        record("a", "x/y"),  // an id that cannot stand in a token
        record("d", "dup"),
        record("d", "dup"),
        // Names apart only by control characters and their look-alikes.
        record("c\nb", "c1"),
        record("c{x0a}b", "c2"),
        record("c{x0a+}b", "c3"),
        record("c\tb", "c4"),
        record("c\xc2\x85", "c5"),
    };
    const LookupCase cases[] = {
        {"report.{IDr2}", 0, "1", nullptr},
        {"report.{IDr3}", 550, "PATH_NOT_FOUND", "No file in the folder has this name"},
        {"report", 550, "AMBIGUOUS_PATH",
         "2 files in the folder have this name; list the folder to see their names with ID tokens"},
        {"notes.gdoc", 0, "2", nullptr},  // the stub look-alike, with no document "notes"
        {"notes.gsheet", 0, "3", nullptr},
        {"plan{export-gdoc}.pdf", 0, "4", nullptr},
        {"plan.gdoc", 550, "PATH_NOT_FOUND", "No file in the folder has this name"},
        {"a{slash}b.gsheet", 0, "6", nullptr},
        {"a.{IDx}.{IDy}", 553, "INVALID_PATH_NAME", nullptr},
        {"a/b", 553, "INVALID_PATH_NAME", "A path element cannot hold \"/\""},
        // The ID token wherever translation takes it, with name and type.
        {"r.{IDf5}.pdf", 0, "8", nullptr},
        {".{IDf4}r.pdf", 0, "7", nullptr},
        {"plan.{IDp1}.gdoc", 0, "4", nullptr},
        {"plan.{IDp1}", 550, "PATH_NOT_FOUND", "No file in the folder has this name"},
        {"r.{IDf5}.gdoc", 550, "PATH_NOT_FOUND", "No file in the folder has this name"},
        {"notes.{IDn1}.gdoc", 0, "2", nullptr},
        // Listed as "a.{IDx}" and "a": the one without a token is "a".
        {"a", 0, "10", nullptr},
        {"a.{IDx}", 0, "9", nullptr},
        {"d.{IDdup}", 550, "AMBIGUOUS_PATH",
         "2 files in the folder have this name; list the folder to see their names with ID tokens"},
        {"c{x0a}b", 0, "13", nullptr},
        {"c{x0a+}b", 0, "14", nullptr},
        {"c{x0a++}b", 0, "15", nullptr},
        {"c{x09}b", 0, "16", nullptr},
        {"c{x85}", 0, "17", nullptr},
        {"c{x0A}b", 550, "PATH_NOT_FOUND", "No file in the folder has this name"},
        {"c\nb", 553, "INVALID_PATH_NAME", "A client name holds no control character: U+000A is written {x0a}"},
    };
    for (const LookupCase &c : cases) {
        SCOPED_TRACE(c.client_name);
        size_t index = 99;
        OwnedError error(ostrel_google_drive_lookup(c.client_name, children.data(), children.size(), &index));
        if (c.code == 0) {
            EXPECT_EQ(error.error, nullptr) << error.chain();
            EXPECT_EQ(std::to_string(index), c.error_code);
            continue;
        }
        ASSERT_NE(error.error, nullptr);
        EXPECT_EQ(index, 99u);
        EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), c.code);
        EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(error.error), c.error_code);
        EXPECT_EQ(text_or_null(ostrel_google_drive_error_get_info(error.error, "GD-Details")), text_or_null(c.details));
        if (c.code == 550) {
            EXPECT_STREQ(ostrel_google_drive_error_get_info(error.error, "GD-Operation"), "Looking up a GridFTP name");
            EXPECT_STREQ(ostrel_google_drive_error_get_info(error.error, "GD-Path"), c.client_name);
        }
    }
    // Both of the look-alike pair: ambiguous until marked, then apart.
    ASSERT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    children[3].mime_type = const_cast<char *>(DOC);
    size_t index = 99;
    OwnedError ambiguous(ostrel_google_drive_lookup("notes.gdoc", children.data(), children.size(), &index));
    EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(ambiguous.error), "AMBIGUOUS_PATH");
    ASSERT_EQ(ostrel_google_drive_mark_collisions(children.data(), children.size()), OSTREL_SUCCESS);
    EXPECT_TRUE(children[2].append_id && children[3].append_id && children[0].append_id && !children[4].append_id);
    EXPECT_EQ(ostrel::fuzz::client_name(children[2]), "notes.gdoc.{IDn1}");
    EXPECT_EQ(ostrel::fuzz::client_name(children[3]), "notes.{IDn2}.gdoc");
    ASSERT_EQ(ostrel_google_drive_lookup("notes.{IDn2}.gdoc", children.data(), children.size(), &index), OSTREL_SUCCESS);
    EXPECT_EQ(index, 3u);
}

// Collision marking against the pairwise definition, on folders large
// enough that the sort partitions (small ones only see insertion sort).
TEST_F(Lookup, MarkingAgreesWithPairwiseComparisonOnLargeFolders)
{
    const char *const names[] = {"a", "b", "a/b", "a{slash}b", "n", "n.gdoc", "{dot}", ".", "z", "y"};
    const char *const types[] = {nullptr, DOC, "text/plain"};
    const char *const ids[] = {"i", "j", "x/y", "", nullptr};
    std::mt19937 random(5);
    for (int round = 0; round < 20; ++round) {
        const size_t count = 50 + random() % 400;
        std::vector<ostrel_google_metadata_t> children;
        std::vector<std::string> bare;
        for (size_t i = 0; i < count; ++i) {
            children.push_back(record(names[random() % std::size(names)], ids[random() % std::size(ids)],
                                      types[random() % std::size(types)]));
            children.back().append_id = random() % 2 != 0;
            ostrel_google_metadata_t plain = children.back();
            plain.append_id = false;
            bare.push_back(ostrel::fuzz::client_name(plain));
        }
        ASSERT_EQ(ostrel_google_drive_mark_collisions(children.data(), count), OSTREL_SUCCESS);
        for (size_t i = 0; i < count; ++i) {
            bool shared = false;
            for (size_t j = 0; j < count && !shared; ++j) {
                shared = j != i && bare[j] == bare[i];
            }
            const bool tokenable = children[i].id != nullptr && ostrel::gdc::is_id(children[i].id);
            ASSERT_EQ(children[i].append_id, shared && tokenable) << i << " " << bare[i];
        }
    }
}

struct QueryCase {
    const char *parent;
    const char *client_name;
    const char *query;  // NULL: refused with details
    bool whole_folder;
    const char *details;
};

TEST_F(Lookup, QueriesNameEveryFileTheClientNameCanMean)
{
    const QueryCase cases[] = {
        {"root", "report.pdf", "'root' in parents and trashed = false and name = 'report.pdf'", false, nullptr},
        {"0Ab_c-d", "a{slash}b", "'0Ab_c-d' in parents and trashed = false and name = 'a/b'", false, nullptr},
        {"p", "x.{IDq}", "'p' in parents and trashed = false and name = 'x'", false, nullptr},
        {"p", "notes.gdoc", "'p' in parents and trashed = false and (name = 'notes' or name = 'notes.gdoc')", false,
         nullptr},
        {"p", "a{slash}b.gsheet", "'p' in parents and trashed = false and (name = 'a/b' or name = 'a/b.gsheet')",
         false, nullptr},
        {"p", "n{export-gdoc}.pdf", "'p' in parents and trashed = false and name = 'n'", false, nullptr},
        {"p", "it's", "'p' in parents and trashed = false", true, nullptr},
        {"p", "back\\slash.gdoc", "'p' in parents and trashed = false", true, nullptr},
        {"p", "", "'p' in parents and trashed = false and name = ''", false, nullptr},
        {"", "x", nullptr, false,
         "The parent id \"\" is not a Drive file id: an id is one or more letters, digits, \"_\", \"-\" or blanks"},
        {"a' or 'b", "x", nullptr, false,
         "The parent id \"a' or 'b\" is not a Drive file id: an id is one or more letters, digits, \"_\", \"-\" or "
         "blanks"},
        {"p", "a/b", nullptr, false, "A path element cannot hold \"/\""},
    };
    for (const QueryCase &c : cases) {
        SCOPED_TRACE(c.client_name);
        char *query = reinterpret_cast<char *>(1);
        bool whole_folder = true;
        OwnedError error(ostrel_google_drive_lookup_query(c.parent, c.client_name, &query, &whole_folder));
        if (c.query == nullptr) {
            EXPECT_EQ(query, nullptr);
            ASSERT_NE(error.error, nullptr);
            EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), 553);
            EXPECT_STREQ(ostrel_google_drive_error_get_info(error.error, "GD-Details"), c.details);
            continue;
        }
        ASSERT_EQ(error.error, nullptr) << error.chain();
        EXPECT_STREQ(query, c.query);
        EXPECT_EQ(whole_folder, c.whole_folder);
        std::free(query);
    }
}

// Every byte but "'" and "\" stands in the query as it is; a name that is
// not UTF-8 is refused as translation refuses it.
TEST_F(Lookup, EveryByteOfANameComesBackFromTheQuery)
{
    for (int byte = 1; byte < 256; ++byte) {
        if (byte == '\'' || byte == '\\' || byte == '/') {
            continue;
        }
        const std::string drive_name = std::string("a") + static_cast<char>(byte) + "z";
        const ostrel_google_metadata_t r = record(drive_name.c_str(), "i");
        char *client = nullptr;
        ASSERT_EQ(ostrel_google_drive_name_translate_out(&r, &client), OSTREL_SUCCESS);
        char *query = nullptr;
        bool whole_folder = true;
        const ostrel_result_t result = ostrel_google_drive_lookup_query("p", client, &query, &whole_folder);
        std::free(client);
        OwnedError error(result);
        if (byte >= 0x80) {
            EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), 553) << byte;
            continue;
        }
        ASSERT_EQ(result, OSTREL_SUCCESS) << byte;
        EXPECT_TRUE(ostrel::fuzz::query_selects(query, "p", drive_name)) << query;
        EXPECT_FALSE(whole_folder);
        std::free(query);
    }
}

TEST(LookupDeathTest, AbsentArgumentsStop)
{
    size_t index = 0;
    char *query = nullptr;
    bool whole = false;
    EXPECT_DEATH((void) ostrel_google_drive_lookup(nullptr, nullptr, 0, &index), "lookup.cc:[0-9]+: .*client_name != NULL");
    EXPECT_DEATH((void) ostrel_google_drive_lookup("x", nullptr, 1, &index), "children != NULL \\|\\| count == 0");
    EXPECT_DEATH((void) ostrel_google_drive_mark_collisions(nullptr, 2), "children != NULL \\|\\| count == 0");
    EXPECT_DEATH((void) ostrel_google_drive_lookup_query(nullptr, "x", &query, &whole), "parent_id != NULL");
    EXPECT_DEATH((void) ostrel_google_drive_lookup_query("p", "x", &query, nullptr), "whole_folderp != NULL");
}

}  // namespace
