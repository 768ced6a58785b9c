// Inbound name translation, and the round trip from outbound.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "support/names.h"
#include "support/trace_capture.h"
#include "utf8.h"

namespace {

using ostrel::test::Inbound;
using ostrel::test::ModuleTest;
using ostrel::test::OwnedError;
using ostrel::test::TraceCapture;
using ostrel::test::translate_in;
using ostrel::test::translate_out;

constexpr const char *DOC = "application/vnd.google-apps.document";

class NameTranslateIn : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    }
};

struct InCase {
    const char *input;
    Inbound expected;  // result 0 for success; any other value: refused
};

TEST_F(NameTranslateIn, UnescapesTokensAndTakesTheId)
{
    const InCase cases[] = {
        {"{dot}", {0, ".", "NULL", "NULL"}},
        {"{dotdot}", {0, "..", "NULL", "NULL"}},
        {"{dot+}", {0, "{dot}", "NULL", "NULL"}},
        {"{dot++}", {0, "{dot+}", "NULL", "NULL"}},
        {"{dotdot+}", {0, "{dotdot}", "NULL", "NULL"}},
        {"a{dot}", {0, "a{dot}", "NULL", "NULL"}},
        {"{dot}x", {0, "{dot}x", "NULL", "NULL"}},
        {"a{slash}b", {0, "a/b", "NULL", "NULL"}},
        {"a{slash+}b", {0, "a{slash}b", "NULL", "NULL"}},
        {"{slash}{slash}", {0, "//", "NULL", "NULL"}},
        {"{slash", {0, "{slash", "NULL", "NULL"}},
        {"{slash+", {0, "{slash+", "NULL", "NULL"}},
        {".", {0, ".", "NULL", "NULL"}},
        {"..", {0, "..", "NULL", "NULL"}},
        {"", {0, "", "NULL", "NULL"}},
        {"report.{IDab-1_ x}.txt", {0, "report.txt", "NULL", "ab-1_ x"}},
        {"a.{IDx}b", {0, "ab", "NULL", "x"}},
        {".{IDx}", {0, "", "NULL", "x"}},
        {".{ID}", {0, ".{ID}", "NULL", "NULL"}},
        {"a.{IDx!}", {0, "a.{IDx!}", "NULL", "NULL"}},
        {"a.{ID+x}", {0, "a.{IDx}", "NULL", "NULL"}},
        {"a.{ID++x}.{IDy}", {0, "a.{ID+x}", "NULL", "y"}},
        {"{dot}.{IDabc}", {0, ".", "NULL", "abc"}},
        {"{dotdot}.{IDabc}", {0, "..", "NULL", "abc"}},
        {".{IDabc}{dot+}", {0, "{dot}", "NULL", "abc"}},
        {"notes.gdoc", {0, "notes", DOC, "NULL"}},
        {"{dot}.gdoc", {0, ".", DOC, "NULL"}},
        {"notes.{IDq}.gsheet", {0, "notes", "application/vnd.google-apps.spreadsheet", "q"}},
        {"notes{export-gdoc}.pdf", {0, "notes", DOC, "NULL"}},
        {"notes{export-gdoc+}.pdf", {0, "notes{export-gdoc}.pdf", "NULL", "NULL"}},
        {"x{export-gdoc+}.y.gdoc", {0, "x{export-gdoc}.y", DOC, "NULL"}},
        {"x{export-gdoc++}.y.gdoc", {0, "x{export-gdoc+}.y", DOC, "NULL"}},
        {"x{export-gdoc}.y.gdoc", {0, "x{export-gdoc}.y", DOC, "NULL"}},
        {"x{export-gmap}.pdf", {0, "x", "NULL", "NULL"}},
        {"a{export-gdoc}.pd{f", {0, "a{export-gdoc}.pd{f", "NULL", "NULL"}},
        {"a{export-gdoc}.{IDx}", {0, "a{export-gdoc}", "NULL", "x"}},
        {"caf\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x98\x80", {0, "caf\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x98\x80", "NULL", "NULL"}},
        {"a{x0a}b{x7f}{x85}{x9f}{x01}", {0, "a\nb\x7f\xc2\x85\xc2\x9f\x01", "NULL", "NULL"}},
        {"a{x0a+}b{x1b++}", {0, "a{x0a}b{x1b+}", "NULL", "NULL"}},
        {"{x0A}{x41}{xa0}{x00}{x20}{x0a", {0, "{x0A}{x41}{xa0}{x00}{x20}{x0a", "NULL", "NULL"}},
        {"Notes{x0a}{export-gdoc}.pdf", {0, "Notes\n", DOC, "NULL"}},
        {"{x09}.{IDabc}.gdoc", {0, "\t", DOC, "abc"}},
    };
    for (const InCase &c : cases) {
        SCOPED_TRACE(c.input);
        char *type = nullptr;
        char *extension = nullptr;
        std::free(ostrel_google_drive_name_in(c.input, false, &type, &extension));
        const bool writable = type == nullptr;  // an export suffix is refused for writing
        std::free(type);
        std::free(extension);
        for (const bool for_write : {false, writable}) {
            const Inbound got = translate_in(c.input, for_write);
            EXPECT_EQ(got.result, OSTREL_SUCCESS);
            EXPECT_EQ(got.name, c.expected.name);
            EXPECT_EQ(got.mime_type, c.expected.mime_type);
            EXPECT_EQ(got.id, c.expected.id);
        }
    }
}

struct RefusedCase {
    const char *input;
    bool for_write;
    const char *message;
    const char *details;  // NULL: no cause
    const char *mime_type;
};

TEST_F(NameTranslateIn, RefusesWithInvalidPathName)
{
    const std::string suffix_details =
        "File names cannot end with a string that matches the regex: \\{export-([A-Za-z0-9]+)\\}\\.([A-Za-z0-9]+), "
        "e.g. name{export-gdoc}.pdfIf you are uploading an exported document then you must change its name first.";
    const std::string eilseq = std::strerror(EILSEQ);
    const std::string einval = std::strerror(EINVAL);
    const RefusedCase cases[] = {
        {"notes{export-gdoc}.pdf", true, "GridFTP-Path: notes", suffix_details.c_str(), DOC},
        {"n.{IDa}{export-gmap}.pdf", true, "GridFTP-Path: n.{IDa}", suffix_details.c_str(), "NULL"},
        {"a.{IDx}.{IDy}", false, "GridFTP-Path: a.{IDx}.{IDy}", nullptr, "NULL"},
        {"a.{IDx}.{IDy}.gdoc", false, "GridFTP-Path: a.{IDx}.{IDy}", nullptr, DOC},
        {"bad\xff", false, "GridFTP-Path: bad\xff", eilseq.c_str(), "NULL"},
        {"\xed\xa0\x80 surrogate", false, "GridFTP-Path: \xed\xa0\x80 surrogate", eilseq.c_str(), "NULL"},
        {"cut \xe6\x97", false, "GridFTP-Path: cut \xe6\x97", einval.c_str(), "NULL"},
        {"a{slash}\xc3.gdoc", false, "GridFTP-Path: a{slash}\xc3", einval.c_str(), DOC},
        // A raw control is a second spelling of "{xHH}"; the reply shows it printable.
        {"a\r\nb", false, "GridFTP-Path: a\\r\\nb",
         "A client name holds no control character: U+000D is written {x0d}", "NULL"},
        {"c1\xc2\x9b[2J.gdoc", true, "GridFTP-Path: c1\\u009b[2J.gdoc",
         "A client name holds no control character: U+009B is written {x9b}", "NULL"},
    };
    for (const RefusedCase &c : cases) {
        SCOPED_TRACE(c.input);
        const Inbound got = translate_in(c.input, c.for_write);
        EXPECT_EQ(got.name, "NULL");
        EXPECT_EQ(got.id, "NULL");
        EXPECT_EQ(got.mime_type, c.mime_type);
        OwnedError error(got.result);
        ASSERT_NE(error.error, nullptr);
        EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), 553);
        EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(error.error), "INVALID_PATH_NAME");
        EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_message(error.error), c.message);
        const char *details = ostrel_google_drive_error_get_info(error.error, "GD-Details");
        EXPECT_EQ(ostrel::test::text_or_null(details), ostrel::test::text_or_null(c.details));
        EXPECT_EQ(ostrel_error_get_cause(error.error) != nullptr, c.details != nullptr);
    }
}

TEST_F(NameTranslateIn, OptionalSlotsMayBeAbsent)
{
    char *name = nullptr;
    ASSERT_EQ(ostrel_google_drive_name_translate_in("x.{IDq}.gdoc", &name, nullptr, nullptr, false), OSTREL_SUCCESS);
    EXPECT_STREQ(name, "x");
    std::free(name);
}

TEST_F(NameTranslateIn, TracesTheStagesAndTheOutcome)
{
    TraceCapture capture;
    Inbound got = translate_in("n{slash}.{IDab}.gdoc");
    ASSERT_EQ(got.result, OSTREL_SUCCESS);
    const std::string text = capture.text();
    const char *f = "ostrel_google_drive_name_translate_in";
    for (const std::string &line : {TraceCapture::prefix("DEBUG", f) + "Translating the input name n{slash}.{IDab}.gdoc\n",
                                   TraceCapture::prefix("DEBUG", f) + "removing the stub extension\n",
                                   TraceCapture::prefix("DEBUG", f) + "The new name is n{slash}.{IDab}\n",
                                   TraceCapture::prefix("TRACE", f) + "input_name=\"n{slash}.{IDab}\" output_name=\"n/\" "
                                       "output_mime_type=\"" + DOC + "\" output_id=\"ab\"\n",
                                   TraceCapture::prefix("TRACE", f) + "exit: result=OSTREL_SUCCESS\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    got = translate_in("bad\xff");
    OwnedError error(got.result);
    EXPECT_NE(capture.text().find("input_name=\"bad\xff\" output_name=NULL output_mime_type=NULL output_id=NULL\n"),
              std::string::npos);
}

TEST_F(NameTranslateIn, NamesOfAnyLengthAndBytes)
{
    std::string huge(1 << 20, 'a');
    for (size_t i = 0; i < huge.size(); i += 97) {
        huge.replace(i, 7, "{slash}");
    }
    Inbound got = translate_in(huge + ".{IDbig}.gdoc");
    EXPECT_EQ(got.result, OSTREL_SUCCESS);
    EXPECT_EQ(got.id, "big");
    EXPECT_EQ(got.name.size(), huge.size() - (huge.size() / 97 + 1) * 6);

    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 40, '\0');
        for (char &c : bytes) {
            c = static_cast<char>(1 + random() % 255);
            if (c == '/') {
                c = '{';
            }
        }
        got = translate_in(bytes, round % 2 == 0);
        OwnedError error(got.result);
        EXPECT_EQ(got.result == OSTREL_SUCCESS, got.name != "NULL" || bytes.empty());
    }
}

// Random Drive names from pieces that look like the grammar's tokens.
std::string random_drive_name(std::mt19937 &random)
{
    static const std::vector<std::string> pieces = {
        "a", "Z", " ", ".", "..", "/", "{", "}", "+", "I", "D", "{dot}", "{dot+}", "{dotdot}", "{dotdot++}",
        "{slash}", "{slash+}", "{slash++}", ".{IDab}", ".{ID+ab}", ".{ID", ".{ID}", "{export-gdoc}.pdf",
        "{export-gsheet+}.csv", "{export-", "}.", ".gdoc", ".gmap", ".gshortcut", "\xc3\xa9", "\xe6\x97\xa5",
        "\xf0\x9f\x98\x80", "_", "-", "x.y", "\n", "\t", "\x01", "\x1f", "\x7f", "\xc2\x85", "\xc2\x9f",
        "\xc2\xa0", "{x0a}", "{x0a+}", "{x7f++}", "{x0A}", "{x00}", "{x", "{x9", "{x20}",
    };
    static const std::vector<std::string> whole = {"", ".", "..", "{dot}", "{dotdot}", "{dot++}", "{dotdot+}", "/"};
    if (random() % 10 == 0) {
        return whole[random() % whole.size()];
    }
    std::string name;
    for (size_t n = 1 + random() % 6; n > 0; --n) {
        name += pieces[random() % pieces.size()];
    }
    return name;
}

TEST_F(NameTranslateIn, InboundUndoesOutboundForEveryDriveName)
{
    const char *const mime_types[] = {nullptr,
                                      "application/pdf",
                                      "application/vnd.google-apps.folder",
                                      DOC,
                                      "application/vnd.google-apps.spreadsheet",
                                      "application/vnd.google-apps.presentation",
                                      "application/vnd.google-apps.drawing",
                                      "application/vnd.google-apps.map",
                                      "application/vnd.google-apps.shortcut"};
    const char *const configs[][4] = {
        {nullptr, nullptr, nullptr, nullptr}, {"pdf", "pdf", "pdf", "pdf"}, {"docx", "csv", "gslides", "png"}};
    std::mt19937 random(2026);
    const std::string id_chars = "abcXYZ019_- ";
    size_t checked = 0;
    for (const auto &config : configs) {
        ASSERT_EQ(ostrel_google_drive_export_set_config(config[0], config[1], config[2], config[3]), OSTREL_SUCCESS);
        for (int round = 0; round < 3000; ++round) {
            const std::string name = random_drive_name(random);
            const char *mime_type = mime_types[random() % std::size(mime_types)];
            std::string id;
            if (random() % 2 == 0) {
                for (size_t n = 1 + random() % 12; n > 0; --n) {
                    id += id_chars[random() % id_chars.size()];
                }
            }
            const std::string client = translate_out(name.c_str(), mime_type, id.empty() ? nullptr : id.c_str());
            ASSERT_FALSE(ostrel::fuzz::has_control(client)) << client;
            const bool google_doc = ostrel_google_drive_mime_type_is_google_docs(mime_type);
            if (!google_doc && ostrel_google_drive_is_stub(client.c_str())) {
                continue;  // an ordinary file named like a stub reads back as one, by design
            }
            SCOPED_TRACE("Drive name \"" + name + "\" listed as \"" + client + "\"");
            const Inbound back = translate_in(client);
            ASSERT_EQ(back.result, OSTREL_SUCCESS);
            EXPECT_EQ(back.name, name);
            EXPECT_EQ(back.id, id.empty() ? "NULL" : id);
            EXPECT_EQ(back.mime_type, google_doc ? mime_type : "NULL");
            ++checked;
        }
    }
    EXPECT_GT(checked, 8000u);
}

// RFC 3629 by its definition: decode the code point from the bit pattern,
// then refuse overlong forms, surrogates and what lies above U+10FFFF. A
// character cut short by the end is EINVAL when some ending would make it
// valid.
int reference_utf8_errno(const std::string &text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xc0 ? 0 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : lead < 0xf8 ? 4 : 0;
        if (length == 0) {
            return EILSEQ;
        }
        uint32_t code = length == 1 ? lead : lead & (0x7f >> length);
        int k = 1;
        for (; k < length && i + k < text.size(); ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xc0) != 0x80) {
                return EILSEQ;
            }
            code = code << 6 | (c & 0x3f);
        }
        const int missing = length - k;
        const uint32_t low = code << (6 * missing);
        const uint32_t high = low | ((1u << (6 * missing)) - 1);
        const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        // Some code point of [low, high] is a valid one of this length.
        const bool possible = high >= minimum[length] && low <= 0x10ffff && !(low >= 0xd800 && high <= 0xdfff);
        if (!possible) {
            return EILSEQ;
        }
        if (missing != 0) {
            return EINVAL;
        }
        i += length;
    }
    return 0;
}

TEST(Utf8Check, AgreesWithTheDefinitionOnEverySequenceOfUpToFourBytes)
{
    // Every sequence of one to three bytes; of four bytes, every first and
    // second byte with the third and fourth at the edges of a continuation.
    const unsigned char edges[] = {0x7f, 0x80, 0xbf, 0xc0};
    size_t checked = 0;
    std::string s;
    const auto check = [&] {
        ++checked;
        const int expected = reference_utf8_errno(s);
        if (ostrel::gdc::utf8_errno(s) != expected) {
            ADD_FAILURE() << testing::PrintToString(s) << " should give " << expected;
        }
    };
    for (int a = 0; a < 256; ++a) {
        s.assign(1, static_cast<char>(a));
        check();
        for (int b = 0; b < 256; ++b) {
            s.assign({static_cast<char>(a), static_cast<char>(b)});
            check();
            for (int c = 0; c < 256; ++c) {
                s.assign({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)});
                check();
            }
            for (unsigned char c : edges) {
                for (unsigned char d : edges) {
                    s.assign({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d)});
                    check();
                }
            }
        }
    }
    // Past the eight-byte ASCII stride.
    for (const char *tail : {"\xf4\x90\x80\x80", "\xed\xa0\x80", "\xc3\xa9", "\xe6\x97"}) {
        s = std::string("abcdefgh") + tail;
        check();
    }
    EXPECT_GT(checked, 16000000u);
}

TEST(NameTranslateInDeathTest, ASlashOrAnAbsentArgumentStops)
{
    char *name = nullptr;
    EXPECT_DEATH((void) ostrel_google_drive_name_translate_in("a/b", &name, nullptr, nullptr, false),
                 "google_drive_common/name_translate_in.cc:[0-9]+: .*input.find\\('/'\\) == std::string_view::npos");
    EXPECT_DEATH((void) ostrel_google_drive_name_translate_in(nullptr, &name, nullptr, nullptr, false),
                 "input_name != NULL");
    EXPECT_DEATH((void) ostrel_google_drive_name_translate_in("a", nullptr, nullptr, nullptr, false),
                 "output_namep != NULL");
}

}  // namespace
