// The Google-Apps vocabulary and its fixed lookups.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "export_suffix_reference.h"
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

struct AppsTypeName {
    const char *mime_type;
};
constexpr AppsTypeName all_apps_types[] = {
    {"application/vnd.google-apps.document"}, {"application/vnd.google-apps.spreadsheet"},
    {"application/vnd.google-apps.presentation"}, {"application/vnd.google-apps.drawing"},
    {"application/vnd.google-apps.map"}, {"application/vnd.google-apps.form"},
    {"application/vnd.google-apps.site"}, {"application/vnd.google-apps.jam"},
    {"application/vnd.google-apps.shortcut"},
};

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

namespace {

using ostrel::test::OwnedError;

constexpr const char *DRAW = "application/vnd.google-apps.drawing";
const char *const kind_types[4] = {DOC, SHEET, SLIDES, DRAW};

// The extension each kind is configured to, in slot order.
std::vector<std::string> configured()
{
    std::vector<std::string> extensions;
    for (const char *type : kind_types) {
        extensions.push_back(ostrel_google_drive_exported_get_extension(type));
    }
    return extensions;
}

class ExportConfig : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", "xlsx", "pptx", "png"), OSTREL_SUCCESS);
    }
    void TearDown() override
    {
        EXPECT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
        ModuleTest::TearDown();
    }
};

struct ConfigCase {
    const char *args[4];
    std::vector<std::string> expected;  // the configured extensions, or
    const char *error;                  // the error text, the configuration left as it was
};

TEST_F(ExportConfig, SetConfigNormalisesLooksUpAndValidatesAllOrNothing)
{
    const std::vector<std::string> before = {".pdf", ".xlsx", ".pptx", ".png"};
    const ConfigCase cases[] = {
        {{nullptr, nullptr, nullptr, nullptr}, {".gdoc", ".gsheet", ".gslides", ".gdraw"}, nullptr},
        {{"pdf", "xlsx", "odp", "svg"}, {".pdf", ".xlsx", ".odp", ".svg"}, nullptr},
        {{".pdf", ".pdf", ".pdf", ".pdf"}, {".pdf", ".pdf", ".pdf", ".pdf"}, nullptr},
        {{"rtf", "zip", "txt", "jpg"}, {".rtf", ".zip", ".txt", ".jpg"}, nullptr},
        {{"docx", ".ods", nullptr, "gdraw"}, {".docx", ".ods", ".gslides", ".gdraw"}, nullptr},
        {{"PDF", nullptr, nullptr, nullptr}, {}, "unsupported extension"},
        {{"", nullptr, nullptr, nullptr}, {}, "unsupported extension"},
        {{"..pdf", nullptr, nullptr, nullptr}, {}, "unsupported extension"},
        {{"md", nullptr, nullptr, nullptr}, {}, "unsupported extension"},
        {{"odt", "nope", "pptx", "png"}, {}, "unsupported extension"},
        {{"odt", "csv", "odp", ".mp3"}, {}, "unsupported extension"},
        {{"epub", nullptr, nullptr, nullptr}, {}, "Not a valid extension for documents types\n"},
        {{".gsheet", nullptr, nullptr, nullptr}, {}, "Not a valid extension for documents types\n"},
        {{"zip", nullptr, nullptr, nullptr}, {}, "Not a valid extension for documents types\n"},
        {{"json", "json", nullptr, nullptr}, {}, "Not a valid extension for documents types\n"},
        {{"txt", "txt", nullptr, nullptr}, {}, "Not a valid extension for spreadsheets types\n"},
        {{"txt", "tsv", "svg", nullptr}, {}, "Not a valid extension for presentations types\n"},
        {{"txt", "tsv", "txt", "docx"}, {}, "Not a valid extension for drawings types\n"},
    };
    for (const ConfigCase &c : cases) {
        SCOPED_TRACE(std::string(c.args[0] != nullptr ? c.args[0] : "NULL") + " "
                     + (c.args[1] != nullptr ? c.args[1] : "NULL"));
        ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", "xlsx", "pptx", "png"), OSTREL_SUCCESS);
        const ostrel_result_t result = ostrel_google_drive_export_set_config(c.args[0], c.args[1], c.args[2], c.args[3]);
        if (c.error == nullptr) {
            EXPECT_EQ(result, OSTREL_SUCCESS);
            EXPECT_EQ(configured(), c.expected);
            continue;
        }
        ASSERT_NE(result, OSTREL_SUCCESS);
        OwnedError error(result);
        EXPECT_EQ(error.chain(), c.error);
        EXPECT_EQ(ostrel_error_get_type(error.error), 6);
        EXPECT_EQ(configured(), before);
    }
}

TEST_F(ExportConfig, ConfiguredLookupsFollowTheRows)
{
    ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", "xlsx", "odp", "svg"), OSTREL_SUCCESS);
    EXPECT_STREQ(ostrel_google_drive_exported_get_export_mime(SHEET),
                 "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
    EXPECT_STREQ(ostrel_google_drive_exported_get_export_mime(DRAW), "image/svg+xml");
    EXPECT_EQ(ostrel_google_drive_exported_get_export_mime(JAM), nullptr);
    EXPECT_EQ(ostrel_google_drive_exported_get_export_mime(nullptr), nullptr);
    EXPECT_STREQ(ostrel_google_drive_exported_get_extension("application/vnd.google-apps.map"), ".gmap");
    EXPECT_STREQ(ostrel_google_drive_exported_get_extension("application/pdf"), "");
    EXPECT_STREQ(ostrel_google_drive_exported_get_extension(nullptr), "");
    EXPECT_FALSE(ostrel_google_drive_exported_type_is_stub(DOC));
    EXPECT_TRUE(ostrel_google_drive_exported_type_is_stub(FORM));
    EXPECT_FALSE(ostrel_google_drive_exported_type_is_stub("application/pdf"));
    EXPECT_FALSE(ostrel_google_drive_exported_type_is_stub(nullptr));

    ASSERT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    for (const AppsTypeName &type : all_apps_types) {
        SCOPED_TRACE(type.mime_type);
        EXPECT_TRUE(ostrel_google_drive_exported_type_is_stub(type.mime_type));
    }
    for (const char *type : kind_types) {
        EXPECT_EQ(ostrel_google_drive_exported_get_export_mime(type), nullptr);
    }
}

struct GetMimeCase {
    const char *config[4];
    const char *name;
    const char *expected;
};

TEST_F(ExportConfig, GetMimeTriesTheKindsInSlotOrderThenTheStubs)
{
    const GetMimeCase cases[] = {
        {{"docx", nullptr, nullptr, nullptr}, "report.docx", DOC},
        {{"docx", nullptr, nullptr, nullptr}, "report.gdoc", DOC},
        {{"docx", nullptr, nullptr, nullptr}, "report.txt", nullptr},
        {{"docx", nullptr, nullptr, nullptr}, "README", nullptr},
        {{"docx", nullptr, nullptr, nullptr}, "a.gsheet", SHEET},
        {{"pdf", nullptr, nullptr, "pdf"}, "x.pdf", DOC},
        {{nullptr, "pdf", "pdf", nullptr}, "x.pdf", SHEET},
        {{nullptr, nullptr, "pdf", "pdf"}, "x.y.pdf", SLIDES},
        {{nullptr, nullptr, nullptr, "png"}, "x.png", DRAW},
        {{nullptr, nullptr, nullptr, "png"}, "x.PNG", nullptr},
        {{nullptr, nullptr, nullptr, nullptr}, "x.gjam", JAM},
    };
    for (const GetMimeCase &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ostrel_google_drive_export_set_config(c.config[0], c.config[1], c.config[2], c.config[3]),
                  OSTREL_SUCCESS);
        EXPECT_EQ(text_or_null(ostrel_google_drive_export_get_mime(c.name)), text_or_null(c.expected));
    }
}

TEST_F(ExportConfig, FindExtFindsStubRowsAndLeavesTheOutputAloneOnFailure)
{
    const ostrel_google_drive_doc_type_t *row = nullptr;
    ASSERT_EQ(ostrel_google_drive_export_find_ext(".gslides", &row), OSTREL_SUCCESS);
    EXPECT_STREQ(row->description, "Ostrel gslides stub");
    ASSERT_EQ(ostrel_google_drive_export_find_ext(".epub", &row), OSTREL_SUCCESS);
    EXPECT_STREQ(row->mime_type, "application/epub+zip");
    const ostrel_result_t result = ostrel_google_drive_export_find_ext("epub", &row);
    OwnedError error(result);
    EXPECT_EQ(error.chain(), "unsupported extension");
    EXPECT_STREQ(row->mime_type, "application/epub+zip");
}

TEST_F(ExportConfig, FailedSetConfigTracesTheMissingExtensionAndTheChain)
{
    TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_ERROR | OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG);
    const ostrel_result_t result = ostrel_google_drive_export_set_config(nullptr, "XLSX", nullptr, nullptr);
    OwnedError error(result);
    const char *f = "ostrel_google_drive_export_set_config";
    char exit_line[96];
    std::snprintf(exit_line, sizeof exit_line, "exit: result=%#x message=unsupported extension\n",
                  static_cast<unsigned>(result));
    const std::string text = capture.text();
    EXPECT_NE(text.find(TraceCapture::prefix("DEBUG", f) + "Checking for extension type: NULL, XLSX, NULL, NULL\n"),
              std::string::npos);
    EXPECT_NE(text.find(TraceCapture::prefix("DEBUG", f)
                        + "Checking for normalized extension type: .gdoc, .XLSX, .gslides, .gdraw\n"),
              std::string::npos);
    EXPECT_NE(text.find(TraceCapture::prefix("ERROR", f) + "Failed to find the extension .XLSX\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - std::strlen(exit_line)), exit_line);
}

struct EscapeCase {
    const char *config[4];
    const char *mime_type;
    const char *type;
    const char *extension;
};

TEST_F(ExportConfig, EscapeTypeGivesTheWordAndExtensionOfRealExports)
{
    const EscapeCase cases[] = {
        {{nullptr, nullptr, nullptr, "png"}, DRAW, "gdraw", "png"},
        {{"pdf", nullptr, nullptr, nullptr}, DOC, "gdoc", "pdf"},
        {{"gdoc", nullptr, nullptr, nullptr}, DOC, nullptr, nullptr},
        {{nullptr, "csv", nullptr, nullptr}, SHEET, "gsheet", "csv"},
        {{nullptr, nullptr, "pptx", nullptr}, SLIDES, "gslides", "pptx"},
        {{"pdf", "pdf", "pdf", "pdf"}, "application/vnd.google-apps.map", nullptr, nullptr},
        {{"pdf", "pdf", "pdf", "pdf"}, "application/pdf", nullptr, nullptr},
        {{"pdf", "pdf", "pdf", "pdf"}, nullptr, nullptr, nullptr},
    };
    for (const EscapeCase &c : cases) {
        SCOPED_TRACE(text_or_null(c.mime_type));
        ASSERT_EQ(ostrel_google_drive_export_set_config(c.config[0], c.config[1], c.config[2], c.config[3]),
                  OSTREL_SUCCESS);
        const char *type = "unset";
        const char *extension = "unset";
        ostrel_google_drive_export_escape_type(c.mime_type, &type, &extension);
        EXPECT_EQ(text_or_null(type), text_or_null(c.type));
        EXPECT_EQ(text_or_null(extension), text_or_null(c.extension));
    }
}

// name_in of name, as the three texts it gives.
struct NameIn {
    std::string name;
    std::string type;
    std::string extension;
    bool operator==(const NameIn &) const = default;
};

NameIn name_in(const std::string &name)
{
    char *type = nullptr;
    char *extension = nullptr;
    char *out = ostrel_google_drive_name_in(name.c_str(), false, &type, &extension);
    NameIn result{text_or_null(out), text_or_null(type), text_or_null(extension)};
    std::free(out);
    std::free(type);
    std::free(extension);
    return result;
}

std::string name_out(const std::string &name, const char *type = nullptr, const char *extension = nullptr)
{
    char *out = ostrel_google_drive_name_out(name.c_str(), type, extension);
    std::string result = out;
    std::free(out);
    return result;
}

TEST_F(ExportConfig, NameOutAppendsOrProtectsBySuffixShape)
{
    const std::pair<const char *, const char *> untyped[] = {
        {"a{export-gdoc}.pdf", "a{export-gdoc+}.pdf"},
        {"report.pdf", "report.pdf"},
        {"a{export-gdoc}", "a{export-gdoc}"},
        {"a{export-gdoc}{x}.pdf", "a{export-gdoc}{x}.pdf"},
        {"a{export-gdoc.pdf}", "a{export-gdoc.pdf}"},
        {"a{export-x}y}.z", "a{export-x+}y}.z"},
        {"{export-}.", "{export-+}."},
        {"a{export-gdoc++}.pdf", "a{export-gdoc+++}.pdf"},
        {"a{exportgdoc}.pdf", "a{exportgdoc}.pdf"},
        {"a.{export-gdoc}", "a.{export-gdoc}"},
        {"a{export-gdoc}.pd{f", "a{export-gdoc}.pd{f"},
        {"a{export-gdoc}.{IDx}", "a{export-gdoc}.{IDx}"},
        {"", ""},
    };
    for (const auto &[in, out] : untyped) {
        SCOPED_TRACE(in);
        EXPECT_EQ(name_out(in), out);
        EXPECT_EQ(name_out(in, nullptr, "pdf"), out);  // an extension without a type is not written
    }
    EXPECT_EQ(name_out("name", "gdoc", "pdf"), "name{export-gdoc}.pdf");
    EXPECT_EQ(ostrel_google_drive_name_out(nullptr, "gdoc", "pdf"), nullptr);
}

TEST_F(ExportConfig, NameInRemovesTheSuffixOrOneProtectingPlus)
{
    const std::pair<const char *, NameIn> cases[] = {
        {"name{export-gdoc}.pdf", {"name", "gdoc", "pdf"}},
        {"a{export-gdoc+}.pdf", {"a{export-gdoc}.pdf", "NULL", "NULL"}},
        {"a{export-gdoc++}.pdf", {"a{export-gdoc+}.pdf", "NULL", "NULL"}},
        {"n{export-gsheet}old.copy.csv", {"n", "gsheet", "csv"}},
        {"{export-}.pdf", {"", "", "pdf"}},
        {"x{export-gdoc}.", {"x", "gdoc", ""}},
        {"x{export-gmap}.pdf", {"x", "gmap", "pdf"}},
        {"a{export-x}y}.z", {"a", "x", "z"}},
        {"a{export-gdoc}{x}.pdf", {"a{export-gdoc}{x}.pdf", "NULL", "NULL"}},
        {"a{export-gdoc.pdf}", {"a{export-gdoc.pdf}", "NULL", "NULL"}},
        {"a{export-gdoc}.pd{f", {"a{export-gdoc}.pd{f", "NULL", "NULL"}},
        {"plain.txt", {"plain.txt", "NULL", "NULL"}},
        {"", {"", "NULL", "NULL"}},
    };
    for (const auto &[in, expected] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(name_in(in), expected);
    }
}

TEST_F(ExportConfig, NameInUndoesNameOutForEveryWordAndExtension)
{
    const std::string long_name(100000, 'n');
    const std::string bases[] = {
        "plain", "", ".", "a.b", "{", "}", "{export-", "a{export-gdoc}.pdf", "a{export-gdoc+}.pdf",
        "a{export-gdoc++}.pdf", "{export-}.", "a{export-x}y}.z", "x{export-gdoc}.y", "a{b}.c{export-q}.r",
        "caf\xc3\xa9 {export-gsheet}.csv", long_name, long_name + "{export-gdoc}." + long_name,
    };
    std::vector<std::pair<const char *, const char *>> suffixes = {{nullptr, nullptr}};
    for (const char *word : {"gdoc", "gsheet", "gslides", "gdraw"}) {
        for (const ostrel_google_drive_doc_type_t *row = ostrel_l_google_drive_export_mimes; row->description != nullptr;
             ++row) {
            suffixes.emplace_back(word, row->extension + 1);
        }
    }
    for (const std::string &base : bases) {
        for (const auto &[type, extension] : suffixes) {
            SCOPED_TRACE(base.substr(0, 40) + " " + text_or_null(type) + " " + text_or_null(extension));
            ASSERT_EQ(name_in(name_out(base, type, extension)),
                      (NameIn{base, text_or_null(type), text_or_null(extension)}));
        }
    }
}

// Every name of up to six pieces from an alphabet of the rule's own parts.
TEST_F(ExportConfig, MatcherAgreesWithTheLiteralRuleOnEveryShortName)
{
    constexpr const char *pieces[] = {"{", "}", ".", "+", "{export-", "gdoc", "x"};
    constexpr size_t piece_count = std::size(pieces);
    std::vector<size_t> digits;
    size_t checked = 0;
    for (size_t length = 0; length <= 6; ++length) {
        digits.assign(length, 0);
        for (bool more = true; more; ++checked) {
            std::string name;
            for (const size_t d : digits) {
                name += pieces[d];
            }
            const auto expected = ostrel::fuzz::reference_export_suffix(name);
            ASSERT_TRUE(ostrel::fuzz::same_suffix(ostrel::gdc::find_export_suffix(name), expected)) << name;
            const std::string protected_name
                = expected ? name.substr(0, expected->close) + "+" + name.substr(expected->close) : name;
            ASSERT_EQ(name_out(name), protected_name) << name;
            more = false;
            for (size_t i = 0; i < length && !more; ++i) {
                more = ++digits[i] < piece_count;
                if (!more) {
                    digits[i] = 0;
                }
            }
        }
    }
    EXPECT_GT(checked, 130000u);
}

TEST_F(ExportConfig, AnUntypedNameKeepsRoomForTheLongestStubExtension)
{
    for (const char *name : {"a{export-gdoc}.pdf", "plain", ""}) {
        char *out = ostrel_google_drive_name_out(name, nullptr, nullptr);
        std::strcat(out, ".gshortcut");  // AddressSanitizer checks the room
        EXPECT_EQ(std::string(out).substr(std::strlen(out) - 10), ".gshortcut");
        std::free(out);
    }
}

}  // namespace

namespace {

TEST(ExportSuffixDeathTest, ATypeWordNeedsAnExtension)
{
    EXPECT_DEATH((void) ostrel_google_drive_name_out("n", "gdoc", nullptr),
                 "google_drive_common/export.cc:[0-9]+: .*in_type == NULL \\|\\| in_extension != NULL");
}

TEST_F(ExportConfig, OptionKeysStoreWhatApplyThenSetsAllOrNothing)
{
    struct Case {
        const char *text;
        const char *refused_option;  // NULL: applied
    } cases[] = {
        {"export_documents=pdf;export_drawings=.png;debug=ERROR|WARN", nullptr},
        {"export_spreadsheets=docx", "export_spreadsheets"},
        {"export_presentations=nope", "export_presentations"},
        {"export_documents=txt;debug=LOUD", "OSTREL_GOOGLE_DRIVE_DEBUG value"},
    };
    const ostrel_debug_handle_t saved = ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
        ostrel_google_drive_export_options_t options = {};
        ostrel_google_drive_config_key_t table[6];
        ostrel_i_google_drive_export_config_keys(&options, table);
        ASSERT_EQ(ostrel_i_google_drive_config_parse_string(c.text, table, false), OSTREL_SUCCESS);
        const ostrel_result_t result = ostrel_i_google_drive_export_apply_config(&options);
        const std::string doc = ostrel_google_drive_exported_get_extension("application/vnd.google-apps.document");
        if (c.refused_option == nullptr) {
            EXPECT_EQ(result, OSTREL_SUCCESS);
            EXPECT_EQ(doc, ".pdf");
            EXPECT_EQ(ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.enabled_levels, 8u | 16u);
        } else {
            OwnedError error(result);
            EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), 500);
            EXPECT_EQ(doc, ".gdoc");  // nothing changed
            if (std::strchr(c.text, 'L') == nullptr) {
                EXPECT_STREQ(ostrel_google_drive_error_get_info(error.error, "GD-Path"), c.refused_option);
            }
        }
        ostrel_i_google_drive_export_options_destroy(&options);
        EXPECT_EQ(options.documents, nullptr);
        ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle = saved;
    }
    for (const char *bad : {"", "TRACE|", "1,/nonexistent/dir/trace", "DEBUG,,7", "99999999999"}) {
        OwnedError error(ostrel_i_google_drive_debug_configure(bad));
        EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), 500) << bad;
        EXPECT_EQ(ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.enabled_levels, saved.enabled_levels) << bad;
    }
    ASSERT_EQ(ostrel_i_google_drive_debug_configure("ALL,,3"), OSTREL_SUCCESS);
    EXPECT_EQ(ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.thread_ids_on, 1);
    ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle = saved;
}

}  // namespace
