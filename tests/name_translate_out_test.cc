// Outbound name translation.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/names.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::ModuleTest;
using ostrel::test::OwnedError;
using ostrel::test::TraceCapture;
using ostrel::test::translate_out;

constexpr const char *DOC = "application/vnd.google-apps.document";

struct OutCase {
    const char *name;
    const char *mime_type;
    const char *id;  // non-NULL: append_id
    const char *doc_export;
    const char *expected;
};

class NameTranslateOut : public ModuleTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
        ModuleTest::TearDown();
    }
};

TEST_F(NameTranslateOut, EscapesAppendsTheIdAndEndsWithTheSuffix)
{
    const OutCase cases[] = {
        {".", nullptr, nullptr, nullptr, "{dot}"},
        {"..", nullptr, nullptr, nullptr, "{dotdot}"},
        {"{dot}", nullptr, nullptr, nullptr, "{dot+}"},
        {"{dot+}", nullptr, nullptr, nullptr, "{dot++}"},
        {"{dotdot}", nullptr, nullptr, nullptr, "{dotdot+}"},
        {"{dotdot++}", nullptr, nullptr, nullptr, "{dotdot+++}"},
        {"{dot}x", nullptr, nullptr, nullptr, "{dot}x"},
        {"{dotdot+}x", nullptr, nullptr, nullptr, "{dotdot+}x"},
        {"a{dot}", nullptr, nullptr, nullptr, "a{dot}"},
        {"a/b", nullptr, nullptr, nullptr, "a{slash}b"},
        {"a{slash}b", nullptr, nullptr, nullptr, "a{slash+}b"},
        {"a{slash+}b", nullptr, nullptr, nullptr, "a{slash++}b"},
        {"/", nullptr, nullptr, nullptr, "{slash}"},
        {"report.txt", "text/plain", "abc", nullptr, "report.txt.{IDabc}"},
        {"Notes", DOC, nullptr, "pdf", "Notes{export-gdoc}.pdf"},
        {"Notes", DOC, "abc", "pdf", "Notes.{IDabc}{export-gdoc}.pdf"},
        {"Notes", DOC, nullptr, nullptr, "Notes.gdoc"},
        {"Survey", "application/vnd.google-apps.form", nullptr, "pdf", "Survey.gform"},
        {"a{export-gdoc}.pdf", "application/pdf", nullptr, "pdf", "a{export-gdoc+}.pdf"},
        {"x{export-gdoc}.y", DOC, nullptr, nullptr, "x{export-gdoc+}.y.gdoc"},
        {"a{export-gdoc}.{IDx}", nullptr, nullptr, nullptr, "a{export-gdoc}.{ID+x}"},
        {"a{export-gdoc}.pd{f", nullptr, nullptr, "pdf", "a{export-gdoc}.pd{f"},
        {".", nullptr, "abc", nullptr, "{dot}.{IDabc}"},
        {"", nullptr, nullptr, nullptr, ""},
        {"", DOC, nullptr, nullptr, ".gdoc"},
        {"a.{IDx}", nullptr, nullptr, nullptr, "a.{ID+x}"},
        {"a.{ID++x}b", nullptr, nullptr, nullptr, "a.{ID+++x}b"},
        {"a.{ID}", nullptr, nullptr, nullptr, "a.{ID}"},
        {"a/.{IDx}", nullptr, "y", nullptr, "a{slash}.{ID+x}.{IDy}"},
        {"folder", "application/vnd.google-apps.folder", nullptr, nullptr, "folder"},
        // Control characters (Cc) as "{xHH}", their look-alikes protected.
        {"a\nb", nullptr, nullptr, nullptr, "a{x0a}b"},
        {"a{x0a}b", nullptr, nullptr, nullptr, "a{x0a+}b"},
        {"a{x0a+}b", nullptr, nullptr, nullptr, "a{x0a++}b"},
        {"\x01\x1f\x7f", nullptr, nullptr, nullptr, "{x01}{x1f}{x7f}"},
        {"nel\xc2\x85 csi\xc2\x9b\xc2\x80", nullptr, nullptr, nullptr, "nel{x85} csi{x9b}{x80}"},
        {"nbsp\xc2\xa0 \xc2\xa9", nullptr, nullptr, nullptr, "nbsp\xc2\xa0 \xc2\xa9"},
        {"{x0A}{x41}{xa0}{x00}{x0a", nullptr, nullptr, nullptr, "{x0A}{x41}{xa0}{x00}{x0a"},
        {"{x9f+}{x20}", nullptr, nullptr, nullptr, "{x9f++}{x20}"},
        {"Notes\n", DOC, nullptr, "pdf", "Notes{x0a}{export-gdoc}.pdf"},
        {"\t", DOC, "abc", nullptr, "{x09}.{IDabc}.gdoc"},
        {"a\r\n{export-gdoc}.pdf", "application/pdf", nullptr, "pdf", "a{x0d}{x0a}{export-gdoc+}.pdf"},
        {"a/\x1b[31m", nullptr, nullptr, nullptr, "a{slash}{x1b}[31m"},
    };
    for (const OutCase &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ostrel_google_drive_export_set_config(c.doc_export, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
        EXPECT_EQ(translate_out(c.name, c.mime_type, c.id), c.expected);
    }
}

TEST_F(NameTranslateOut, TracesTheNewName)
{
    TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG | OSTREL_GOOGLE_DRIVE_LEVEL_TRACE);
    EXPECT_EQ(translate_out("a/b", "application/vnd.google-apps.jam"), "a{slash}b.gjam");
    const std::string text = capture.text();
    const char *f = "ostrel_google_drive_name_translate_out";
    EXPECT_NE(text.find(TraceCapture::prefix("DEBUG", f)
                        + "Using the export new name a{slash}b.gjam, mine application/vnd.google-apps.jam\n"),
              std::string::npos);
    EXPECT_NE(text.find(TraceCapture::prefix("TRACE", f) + "input_name=\"a/b\" output_name=\"a{slash}b.gjam\"\n"),
              std::string::npos);
}

TEST_F(NameTranslateOut, LongNamesAndIds)
{
    const std::string name(1 << 20, '/');
    const std::string id(1 << 16, 'i');
    const std::string out = translate_out(name.c_str(), DOC, id.c_str());
    EXPECT_EQ(out.size(), name.size() * 7 + (id.size() + 5) + std::strlen(".gdoc"));
}

// An id outside the ID set would read back as another name (or put a "/"
// into this one): it is refused, whatever else the record holds.
TEST_F(NameTranslateOut, RefusesAnIdThatCannotStandInAnIdToken)
{
    for (const char *id : {"a/b", "a}b", "", "+x", "a.b", "a{b", "\xc3\xa9"}) {
        SCOPED_TRACE(id);
        ostrel_google_metadata_t metadata = {};
        metadata.name = const_cast<char *>("report.txt");
        metadata.id = const_cast<char *>(id);
        metadata.append_id = true;
        char *out = reinterpret_cast<char *>(1);
        OwnedError error(ostrel_google_drive_name_translate_out(&metadata, &out));
        EXPECT_EQ(out, nullptr);
        ASSERT_NE(error.error, nullptr);
        EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), 553);
        EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(error.error), "INVALID_PATH_NAME");
        EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_message(error.error), "GridFTP-Path: report.txt");
        EXPECT_EQ(ostrel::test::text_or_null(ostrel_google_drive_error_get_info(error.error, "GD-Details")),
                  "The file id \"" + std::string(id)
                      + "\" is not a Drive file id: an id is one or more letters, digits, \"_\", \"-\" or blanks");
        metadata.append_id = false;  // without the token the id is not read
        ASSERT_EQ(ostrel_google_drive_name_translate_out(&metadata, &out), OSTREL_SUCCESS);
        EXPECT_STREQ(out, "report.txt");
        std::free(out);
    }
}

// Drive leaves the name out when asked for other fields: refused, not a stop.
TEST_F(NameTranslateOut, RefusesARecordWithoutAName)
{
    ostrel_google_metadata_t metadata = {};
    metadata.id = const_cast<char *>("i");
    char *out = reinterpret_cast<char *>(1);
    OwnedError error(ostrel_google_drive_name_translate_out(&metadata, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ostrel_error_get_errno(error.error), EINVAL);
    EXPECT_NE(error.chain().find("System error in ostrel_google_drive_name_translate_out"), std::string::npos)
        << error.chain();
}

TEST(NameTranslateOutDeathTest, AbsentArgumentsStop)
{
    ostrel_google_metadata_t metadata = {};
    metadata.name = const_cast<char *>("a");
    metadata.append_id = true;
    char *out = nullptr;
    EXPECT_DEATH((void) ostrel_google_drive_name_translate_out(&metadata, &out),
                 "name_translate_out.cc:[0-9]+: .*!metadata->append_id \\|\\| metadata->id != NULL");
    metadata.append_id = false;
    EXPECT_DEATH((void) ostrel_google_drive_name_translate_out(&metadata, nullptr), "output_namep != NULL");
}

}  // namespace
