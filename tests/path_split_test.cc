// Path split and partial path construction.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "memory.h"
#include "support/names.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::ModuleTest;
using ostrel::test::OwnedError;
using ostrel::test::text_or_null;

constexpr const char *FOLDER = "application/vnd.google-apps.folder";
constexpr const char *DOC = "application/vnd.google-apps.document";

struct Element {
    std::string name;
    std::string mime_type;
    std::string id;
    bool operator==(const Element &) const = default;
};

void PrintTo(const Element &e, std::ostream *out)
{
    *out << '"' << e.name << "\" " << e.mime_type << " " << e.id;
}

// Owns a split path and frees it as the interface says callers do.
struct Split {
    Split(const char *path, bool for_write) : result(ostrel_google_drive_path_split(path, &split, for_write)) {}
    ~Split()
    {
        for (uint64_t i = 0; i < split.count; ++i) {
            std::free(split.elements[i].name);
            std::free(split.elements[i].id);
        }
        std::free(split.elements);
    }
    [[nodiscard]] std::vector<Element> elements() const
    {
        std::vector<Element> out;
        for (uint64_t i = 0; i < split.count; ++i) {
            const auto &e = split.elements[i];
            out.push_back({text_or_null(e.name), text_or_null(e.mime_type), text_or_null(e.id)});
        }
        return out;
    }
    [[nodiscard]] std::string partial(uint64_t n) const
    {
        char *path = nullptr;
        EXPECT_EQ(ostrel_google_drive_partial_path_construct(&split, n, &path), OSTREL_SUCCESS);
        std::string out = text_or_null(path);
        std::free(path);
        return out;
    }
    ostrel_google_drive_path_t split = {99, nullptr};
    ostrel_result_t result;
};

class Paths : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    }
};

struct SplitCase {
    const char *path;
    std::vector<Element> elements;
    std::vector<std::string> partials;  // for N = 0, 1, ...
};

TEST_F(Paths, SplitTranslatesEachElementAndTypesFolders)
{
    const SplitCase cases[] = {
        {"/a/b", {{"", FOLDER, "NULL"}, {"a", FOLDER, "NULL"}, {"b", "NULL", "NULL"}}, {"", "/", "/a", "/a/b"}},
        {"/a/b/", {{"", FOLDER, "NULL"}, {"a", FOLDER, "NULL"}, {"b", "NULL", "NULL"}}, {"", "/", "/a", "/a/b"}},
        {"a/b", {{"a", FOLDER, "NULL"}, {"b", "NULL", "NULL"}}, {"", "a/", "a/b"}},
        {"/a//b", {{"", FOLDER, "NULL"}, {"a", FOLDER, "NULL"}, {"", FOLDER, "NULL"}, {"b", "NULL", "NULL"}},
         {"", "/", "/a", "/a/", "/a//b"}},
        {"", {{"", "NULL", "NULL"}}, {"", "/"}},
        {"/", {{"", "NULL", "NULL"}}, {"", "/"}},
        {"//", {{"", FOLDER, "NULL"}, {"", "NULL", "NULL"}}, {"", "/", "/"}},
        {"/a/../b", {{"", FOLDER, "NULL"}, {"a", FOLDER, "NULL"}, {"..", FOLDER, "NULL"}, {"b", "NULL", "NULL"}},
         {"", "/", "/a", "/a/{dotdot}", "/a/{dotdot}/b"}},
        {"/docs/notes.gdoc", {{"", FOLDER, "NULL"}, {"docs", FOLDER, "NULL"}, {"notes", DOC, "NULL"}},
         {"", "/", "/docs", "/docs/notes.gdoc"}},
        {"/x.{IDabc}/y", {{"", FOLDER, "NULL"}, {"x", FOLDER, "abc"}, {"y", "NULL", "NULL"}},
         {"", "/", "/x.{IDabc}", "/x.{IDabc}/y"}},
        {"/{slash}{dot}/{dot}", {{"", FOLDER, "NULL"}, {"/{dot}", FOLDER, "NULL"}, {".", "NULL", "NULL"}},
         {"", "/", "/{slash}{dot}", "/{slash}{dot}/{dot}"}},
        // A folder has no stub extension and no export suffix.
        {"/x.gdoc/y", {{"", FOLDER, "NULL"}, {"x.gdoc", FOLDER, "NULL"}, {"y", "NULL", "NULL"}},
         {"", "/", "/x.gdoc", "/x.gdoc/y"}},
        {"/a{export-gdoc}.pdf/b", {{"", FOLDER, "NULL"}, {"a{export-gdoc}.pdf", FOLDER, "NULL"}, {"b", "NULL", "NULL"}},
         {"", "/", "/a{export-gdoc+}.pdf", "/a{export-gdoc+}.pdf/b"}},
        {"/a{export-gdoc}.pdf.{IDi}/b.gdoc",
         {{"", FOLDER, "NULL"}, {"a{export-gdoc}.pdf", FOLDER, "i"}, {"b", DOC, "NULL"}},
         {"", "/", "/a{export-gdoc}.pdf.{IDi}", "/a{export-gdoc}.pdf.{IDi}/b.gdoc"}},
    };
    for (const SplitCase &c : cases) {
        SCOPED_TRACE(c.path);
        const Split split(c.path, false);
        ASSERT_EQ(split.result, OSTREL_SUCCESS);
        EXPECT_EQ(split.elements(), c.elements);
        for (uint64_t n = 0; n < c.partials.size(); ++n) {
            EXPECT_EQ(split.partial(n), c.partials[n]) << "N = " << n;
        }
    }
}

TEST_F(Paths, PartialPathsShowStubsUnderTheCurrentExportAndCallerIds)
{
    Split split("/f/notes.gdoc", false);
    ASSERT_EQ(split.result, OSTREL_SUCCESS);
    EXPECT_EQ(split.partial(3), "/f/notes.gdoc");
    ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    EXPECT_EQ(split.partial(3), "/f/notes{export-gdoc}.pdf");
    ASSERT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    // A token without an id would name no file.
    split.split.elements[1].append_id = true;
    char *partial = reinterpret_cast<char *>(1);
    OwnedError error(ostrel_google_drive_partial_path_construct(&split.split, 2, &partial));
    EXPECT_EQ(partial, nullptr);
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), 553);
    EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(error.error), "INVALID_PATH_NAME");
    EXPECT_STREQ(ostrel_google_drive_error_get_info(error.error, "GD-Details"),
                 "The element is to carry an ID token but has no id");
    EXPECT_EQ(split.partial(1), "/");
}

// split(partial(split(p))) == split(p), over paths made of pieces rich in
// escapes, tokens, stub extensions and export suffixes.
TEST_F(Paths, APartialPathSplitsIntoTheSameElements)
{
    const char *const pieces[] = {"a", ".", "{dot}", "{dotdot}", "{slash}", ".{IDq}", ".gdoc", ".gsheet",
                                  "{export-gdoc}.pdf", "{export-gdoc+}.pdf", "{", "+}", "\xc3\xa9", "/", "/",
                                  "{x0a}", "{x0a+}", "{x85}", "{x0A}"};
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        ASSERT_EQ(ostrel_google_drive_export_set_config(round % 2 != 0 ? "pdf" : nullptr, nullptr, nullptr, nullptr),
                  OSTREL_SUCCESS);
        std::string path = round % 3 != 0 ? "/" : "";
        for (size_t k = 0, n = 1 + random() % 10; k < n; ++k) {
            path += pieces[random() % std::size(pieces)];
        }
        if (path.back() == '/') {
            path += 'a';  // an empty last element has no client path of its own
        }
        SCOPED_TRACE(path);
        const Split first(path.c_str(), false);
        OwnedError refused(first.result);
        if (first.result != OSTREL_SUCCESS) {
            continue;  // two ID tokens in one element
        }
        const std::string rebuilt = first.partial(first.split.count);
        const Split second(rebuilt.c_str(), false);
        ASSERT_EQ(second.result, OSTREL_SUCCESS) << rebuilt;
        EXPECT_EQ(second.elements(), first.elements()) << rebuilt;
    }
}

TEST_F(Paths, ARefusedElementLeavesNoElements)
{
    for (const char *path : {"/a/b{export-gdoc}.pdf", "/a/b/c.{IDx}.{IDy}", "/ok/bad\xff/more"}) {
        SCOPED_TRACE(path);
        Split split(path, true);
        OwnedError error(split.result);
        ASSERT_NE(error.error, nullptr);
        EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), 553);
        EXPECT_EQ(split.split.count, 0u);
        EXPECT_EQ(split.split.elements, nullptr);
    }
    // Only the last element is written: a folder's suffix look-alike is a name.
    const Split folder("/a{export-gdoc}.pdf/b", true);
    EXPECT_EQ(folder.result, OSTREL_SUCCESS);
}

TEST_F(Paths, ThousandsOfElementsAndLongNames)
{
    std::string path;
    for (int i = 0; i < 5000; ++i) {
        path += "/d" + std::to_string(i);
    }
    path += "/" + std::string(1 << 20, 'f');
    const Split split(path.c_str(), false);
    ASSERT_EQ(split.result, OSTREL_SUCCESS);
    ASSERT_EQ(split.split.count, 5002u);
    EXPECT_EQ(split.split.elements[5001].mime_type, nullptr);
    EXPECT_EQ(split.partial(5002), path);
}

// Fails the allocation numbered countdown from the moment it is armed.
long countdown = 0;
bool fail_countdown() noexcept
{
    return countdown > 0 && --countdown == 0;
}

TEST_F(Paths, EveryAllocationFailureIsAMallocErrorWithNothingLeft)
{
    for (long k = 1;; ++k) {
        SCOPED_TRACE(k);
        countdown = k;
        ostrel::gdc::alloc_fail_hook = fail_countdown;
        Split split("/a/b.{IDq}/c.gsheet", false);
        ostrel::gdc::alloc_fail_hook = nullptr;
        if (split.result == OSTREL_SUCCESS) {
            EXPECT_EQ(split.split.count, 4u);
            for (long j = 1;; ++j) {
                countdown = j;
                char *partial = reinterpret_cast<char *>(1);
                ostrel::gdc::alloc_fail_hook = fail_countdown;
                const ostrel_result_t result = ostrel_google_drive_partial_path_construct(&split.split, 4, &partial);
                ostrel::gdc::alloc_fail_hook = nullptr;
                if (result == OSTREL_SUCCESS) {
                    EXPECT_STREQ(partial, "/a/b.{IDq}/c.gsheet");
                    std::free(partial);
                    break;
                }
                OwnedError error(result);
                EXPECT_EQ(partial, nullptr);
                EXPECT_EQ(ostrel_error_get_errno(error.error), ENOMEM);
            }
            break;
        }
        OwnedError error(split.result);
        EXPECT_EQ(ostrel_error_get_errno(error.error), ENOMEM);
        EXPECT_EQ(split.split.count, 0u);
        EXPECT_EQ(split.split.elements, nullptr);
    }
}

TEST(PathsDeathTest, PartialPathOfMoreElementsThanTheSplitStops)
{
    ostrel_google_drive_path_t empty = {0, nullptr};
    char *partial = nullptr;
    EXPECT_DEATH((void) ostrel_google_drive_partial_path_construct(&empty, 1, &partial),
                 "google_drive_common/partial_path_construct.cc:[0-9]+: .*element_count <= path->count");
    EXPECT_DEATH((void) ostrel_google_drive_path_split(nullptr, &empty, false),
                 "google_drive_common/path_split.cc:[0-9]+: .*path != NULL");
}

}  // namespace
