// The Google-Apps vocabulary and its fixed lookups.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/trace_capture.h"

namespace {

using ostrel::test::ModuleTest;
using ostrel::test::TraceCapture;
using DocumentTypes = ModuleTest;

std::string text_or_null(const char *text)
{
    return text != nullptr ? text : "NULL";
}

constexpr const char *DOC = "application/vnd.google-apps.document";
constexpr const char *SHEET = "application/vnd.google-apps.spreadsheet";
constexpr const char *SLIDES = "application/vnd.google-apps.presentation";
constexpr const char *JAM = "application/vnd.google-apps.jam";
constexpr const char *FORM = "application/vnd.google-apps.form";

struct TextCase {
    const char *argument;
    const char *expected;  // NULL: absent
};

TEST_F(DocumentTypes, DocExtension)
{
    const TextCase cases[] = {
        {DOC, ".gdoc"},
        {SHEET, ".gsheet"},
        {"application/vnd.google-apps.shortcut", ".gshortcut"},
        {"application/vnd.google-apps.map", ".gmap"},
        {"application/pdf", ""},
        {"application/vnd.google-apps.folder", ""},
        {"APPLICATION/VND.GOOGLE-APPS.DOCUMENT", ""},
        {nullptr, ""},
    };
    for (const TextCase &c : cases) {
        SCOPED_TRACE(text_or_null(c.argument));
        EXPECT_STREQ(ostrel_google_drive_doc_extension(c.argument), c.expected);
    }
}

TEST_F(DocumentTypes, ExtensionMimeType)
{
    const TextCase cases[] = {
        {".gjam", JAM}, {".gform", FORM}, {".gdoc", DOC}, {"gdoc", nullptr},
        {".GDOC", nullptr}, {".pdf", nullptr}, {"", nullptr}, {nullptr, nullptr},
    };
    for (const TextCase &c : cases) {
        SCOPED_TRACE(text_or_null(c.argument));
        EXPECT_EQ(text_or_null(ostrel_google_drive_extension_mime_type(c.argument)), text_or_null(c.expected));
    }
}

TEST_F(DocumentTypes, DocMimeTypeTakesTheLastSuffix)
{
    const TextCase cases[] = {
        {"budget.final.gsheet", SHEET}, {"README", nullptr}, {"notes.gdoc.txt", nullptr},
        {".gdoc", DOC}, {"x.gslides", SLIDES}, {"x.", nullptr}, {"a.b.GSHEET", nullptr},
    };
    for (const TextCase &c : cases) {
        SCOPED_TRACE(c.argument);
        EXPECT_EQ(text_or_null(ostrel_google_drive_doc_mime_type(c.argument)), text_or_null(c.expected));
    }
}

TEST_F(DocumentTypes, EscapeNameToMimeKnowsOnlyTheFourExportWords)
{
    const TextCase cases[] = {
        {"gdoc", DOC}, {"gsheet", SHEET}, {"gslides", SLIDES},
        {"gdraw", "application/vnd.google-apps.drawing"}, {"gmap", nullptr}, {".gdoc", nullptr},
        {"GDOC", nullptr}, {"", nullptr}, {nullptr, nullptr},
    };
    for (const TextCase &c : cases) {
        SCOPED_TRACE(text_or_null(c.argument));
        EXPECT_EQ(text_or_null(ostrel_i_google_drive_escape_name_to_mime(c.argument, "anything")),
                  text_or_null(c.expected));
        EXPECT_EQ(text_or_null(ostrel_i_google_drive_escape_name_to_mime(c.argument, nullptr)),
                  text_or_null(c.expected));
    }
}

struct BoolCase {
    const char *argument;
    bool expected;
};

TEST_F(DocumentTypes, IsGoogleDocs)
{
    const BoolCase cases[] = {
        {FORM, true}, {DOC, true}, {"application/vnd.google-apps.shortcut", true},
        {"application/vnd.google-apps.folder", false}, {"application/vnd.google-apps.script+json", false},
        {"application/pdf", false}, {nullptr, false},
    };
    for (const BoolCase &c : cases) {
        SCOPED_TRACE(text_or_null(c.argument));
        EXPECT_EQ(ostrel_google_drive_mime_type_is_google_docs(c.argument), c.expected);
    }
}

TEST_F(DocumentTypes, IsStub)
{
    const BoolCase cases[] = {
        {".gdoc", true}, {"map.gmap", true}, {"a.b.gshortcut", true}, {"x.gdoc.pdf", false},
        {"x.GDOC", false}, {"gdoc", false}, {"", false}, {nullptr, false},
    };
    for (const BoolCase &c : cases) {
        SCOPED_TRACE(text_or_null(c.argument));
        EXPECT_EQ(ostrel_google_drive_is_stub(c.argument), c.expected);
    }
}

TEST_F(DocumentTypes, ExportTableHas21RowsWithUniqueExtensionsAndFourStubRowsLast)
{
    std::set<std::string> extensions;
    size_t rows = 0;
    for (const ostrel_google_drive_doc_type_t *row = ostrel_l_google_drive_export_mimes; row->description != nullptr;
         ++row) {
        ++rows;
        ASSERT_NE(row->extension, nullptr);
        EXPECT_EQ(row->extension[0], '.');
        EXPECT_TRUE(extensions.insert(row->extension).second) << row->extension;
        EXPECT_EQ(row->mime_type == nullptr, rows > 17) << row->description;
    }
    EXPECT_EQ(rows, 21u);
    const ostrel_google_drive_doc_type_t &end = ostrel_l_google_drive_export_mimes[21];
    EXPECT_EQ(end.mime_type, nullptr);
    EXPECT_EQ(end.extension, nullptr);
    EXPECT_STREQ(ostrel_l_google_drive_export_mimes[8].mime_type, "application/x-vnd.oasis.opendocument.spreadsheet");
    EXPECT_STREQ(ostrel_l_google_drive_export_mimes[5].description, "Web Page (HTML)");
    EXPECT_STREQ(ostrel_l_google_drive_export_mimes[5].mime_type, "application/zip");
}

TEST_F(DocumentTypes, LookupsTraceTheirDebugAndExitLines)
{
    TraceCapture capture;
    (void) ostrel_i_google_drive_escape_name_to_mime("gmap", ".pdf");
    (void) ostrel_google_drive_doc_mime_type("a.gjam");
    const char *f = "ostrel_i_google_drive_escape_name_to_mime";
    const char *g = "ostrel_google_drive_doc_mime_type";
    const char *h = "ostrel_google_drive_extension_mime_type";
    EXPECT_EQ(capture.text(), TraceCapture::prefix("TRACE", f) + "enter\n"
                                  + TraceCapture::prefix("INFO", f) + "Looking up gmap .pdf\n"
                                  + TraceCapture::prefix("TRACE", f) + "exit: NULL\n"
                                  + TraceCapture::prefix("TRACE", g) + "enter\n"
                                  + TraceCapture::prefix("TRACE", h) + "enter\n"
                                  + TraceCapture::prefix("TRACE", h) + "exit: " + JAM + "\n"
                                  + TraceCapture::prefix("TRACE", g) + "exit: " + JAM + "\n");
}

TEST(DocumentTypesDeathTest, DocMimeTypeNeedsAName)
{
    EXPECT_DEATH((void) ostrel_google_drive_doc_mime_type(nullptr), "google_drive_common/export.cc:[0-9]+: .*name != NULL");
}

}  // namespace
