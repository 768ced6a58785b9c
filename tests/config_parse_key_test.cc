// The configuration parser, over files and strings the tests write.
#include <gtest/gtest.h>

#include "support/temp_path.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "config_parse_key.h"
#include "memory.h"
#include "support/names.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::OwnedError;
using ostrel::test::text_or_null;

// A table of one option of each type, and a second row named like the first.
struct Table {
    Table()
    {
        keys[0] = {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, "name", &text, nullptr, nullptr};
        keys[1] = {OSTREL_GOOGLE_DRIVE_CONFIG_INT, "count", nullptr, &number, nullptr};
        keys[2] = {OSTREL_GOOGLE_DRIVE_CONFIG_OFF_T, "size", nullptr, nullptr, &offset};
        keys[3] = {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, "other", &other, nullptr, nullptr};
        keys[4] = {OSTREL_GOOGLE_DRIVE_CONFIG_INT, "name", nullptr, &number, nullptr};
        keys[5] = {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, nullptr, nullptr, nullptr, nullptr};
    }
    ~Table()
    {
        std::free(text);
        std::free(other);
    }
    ostrel_google_drive_config_key_t keys[6];
    char *text = nullptr;
    char *other = nullptr;
    int32_t number = -7;
    off_t offset = -7;
};

struct Details {
    std::string path;
    std::string operation;
    std::string details;
    bool operator==(const Details &) const = default;
};

void PrintTo(const Details &d, std::ostream *out)
{
    *out << "{" << testing::PrintToString(d.path) << ", " << d.operation << ", " << testing::PrintToString(d.details)
         << "}";
}

Details details_of(ostrel_result_t result)
{
    OwnedError error(result);
    if (error.error == nullptr) {
        return {"(success)", "", ""};
    }
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_code(error.error), 500);
    EXPECT_STREQ(ostrel_gfs_error_get_ftp_response_error_code(error.error), "CONFIGURATION_ERROR");
    EXPECT_EQ(ostrel_gfs_error_get_ftp_response_message(error.error), nullptr);
    return {text_or_null(ostrel_google_drive_error_get_info(error.error, "GD-Path")),
            text_or_null(ostrel_google_drive_error_get_info(error.error, "GD-Operation")),
            text_or_null(ostrel_google_drive_error_get_info(error.error, "GD-Details"))};
}

std::string write_file(const std::string &name, const std::string &text)
{
    const std::string path = ostrel::test::temp_path("ostrel_config_" + name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

constexpr const char *FILE_OP = "Parsing Google Drive DSI configuration file";
constexpr const char *STRING_OP = "Parsing Google Drive DSI configuration string";

struct FileCase {
    const char *name;
    std::string text;
    bool ignore_unknown;
    std::string error;  // GD-Details; empty: success
    std::string stored_text;
    int32_t stored_number;
    off_t stored_offset;
};

TEST(ConfigFile, LinesCommentsNumbersAndErrors)
{
    const std::string long_value(256, 'v');
    const FileCase cases[] = {
        {"blank and comments", "\n# comment\n   \t\n#name = x\n", false, "", "NULL", -7, -7},
        {"all types", "name = hello world\ncount=+42\nsize =  9223372036854775807 \n", false, "", "hello world", 42,
         INT64_MAX},
        {"comment cuts the value", "name = a#b  # c\n", false, "", "a", -7, -7},
        {"trimmed key", "name\t = spaced\n", false, "", "spaced", -7, -7},
        {"no final line feed", "count = 5", false, "", "NULL", 5, -7},
        {"value with equals", "name = a=b\n", false, "", "a=b", -7, -7},
        {"value of 256", "name = " + long_value + "\n", false, "", long_value, -7, -7},
        {"later value wins", "name = a\nname = b\n", false, "", "b", -7, -7},
        {"int bounds", "count = 2147483647\n", false, "", "NULL", 2147483647, -7},
        {"empty value", "\n\nname =   \n", false, "Syntax error line 3", "NULL", -7, -7},
        {"empty key", "# x\n= value\n", false, "Syntax error line 2", "NULL", -7, -7},
        {"no equals", "name value\n", false, "Syntax error line 1", "NULL", -7, -7},
        {"value of 257", "name = " + long_value + "v\n", false, "Syntax error line 1", "NULL", -7, -7},
        {"key of 257", std::string(257, 'k') + " = v\n", false, "Syntax error line 1", "NULL", -7, -7},
        {"long line counts once", "# " + std::string(1000, 'c') + "\nbad\n", false, "Syntax error line 2", "NULL", -7,
         -7},
        {"unknown", "name = a\nnope = 1\n", false, "Unknown configuration option \"nope\" on line 2", "NULL", -7, -7},
        {"unknown ignored", "nope = 1\nname = a\n", true, "", "a", -7, -7},
        {"syntax not ignored", "nope\n", true, "Syntax error line 1", "NULL", -7, -7},
        {"negative", "count = -1\n", true, "Invalid value on line 1 \"-1\" (expected int)", "NULL", -7, -7},
        {"hexadecimal", "\ncount = 0x10\n", false, "Invalid value on line 2 \"0x10\" (expected int)", "NULL", -7, -7},
        {"above int32", "count = 2147483648\n", false, "Invalid value on line 1 \"2147483648\" (expected int)", "NULL",
         -7, -7},
        {"above long", "count = 99999999999999999999\n", false,
         "Invalid value on line 1 \"99999999999999999999\" (expected int)", "NULL", -7, -7},
        {"off_t letters", "size = 12k\n", false, "Invalid value on line 1 \"12k\" (expected off_t)", "NULL", -7, -7},
        {"off_t range", "size = 9223372036854775808\n", false,
         "Invalid value on line 1 \"9223372036854775808\" (expected off_t)", "NULL", -7, -7},
        {"binary bytes", std::string("name = a\x01\xff\n\x00\x02 = 3\n", 18), false, "Syntax error line 2", "NULL",
         -7, -7},
        {"value starting with a NUL", std::string("name = \0x\n", 10), false, "Syntax error line 1", "NULL", -7, -7},
        {"blanks around the equals", "name" + std::string(700, ' ') + "=" + std::string(300, '\t') + "v\n", false, "",
         "v", -7, -7},
        {"trailing blanks of any length", "name = v" + std::string(5000, ' ') + "# " + std::string(5000, 'c') + "\n",
         false, "", "v", -7, -7},
        {"line beyond any key and value", "name = v" + std::string(5000, ' ') + "w\n", false, "Syntax error line 1",
         "NULL", -7, -7},
    };
    for (const FileCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write_file("case", c.text);
        Table table;
        table.text = strdup("before");
        const ostrel_result_t result = ostrel_i_google_drive_config_parse_file(path.c_str(), table.keys, c.ignore_unknown);
        if (c.error.empty()) {
            ASSERT_EQ(result, OSTREL_SUCCESS) << details_of(result).details;
            EXPECT_EQ(text_or_null(table.text), c.stored_text == "NULL" ? "before" : c.stored_text);
        } else {
            EXPECT_EQ(details_of(result), (Details{path, FILE_OP, c.error}));
            EXPECT_EQ(table.text, nullptr);  // cleared, the text from before the call included
        }
        EXPECT_EQ(table.number, c.stored_number);
        EXPECT_EQ(table.offset, c.stored_offset);
    }
}

// Line numbers past the range of an int are counted and printed as they
// are; a file cannot hold enough lines to overflow the count.
TEST(ConfigFile, LineNumbersBeyondAnIntArePrintedWhole)
{
    const struct {
        const char *text;
        const char *error;  // with the line number that follows first
    } cases[] = {
        {"name = a\n\nbad\n", "Syntax error line "},
        {"# c\n\ncount = x\n", "Invalid value on line "},
        {"\n\nnope = 1", "Unknown configuration option \"nope\" on line "},
    };
    for (const intmax_t first : {static_cast<intmax_t>(INT_MAX), INTMAX_MAX - 2}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(c.text);
            std::string text = c.text;
            FILE *file = fmemopen(text.data(), text.size(), "r");
            ASSERT_NE(file, nullptr);
            Table table;
            const Details details = details_of(ostrel::gdc::parse_config_lines(file, "f", table.keys, false, first));
            std::fclose(file);
            EXPECT_EQ(details.details.rfind(c.error + std::to_string(first + 2), 0), 0u) << details.details;
            EXPECT_EQ(table.text, nullptr);
        }
    }
}

TEST(ConfigFile, AnAbsentFileIsAnOpeningError)
{
    Table table;
    table.text = strdup("kept");
    const std::string path = ostrel::test::temp_path("missing/none.conf");
    EXPECT_EQ(details_of(ostrel_i_google_drive_config_parse_file(path.c_str(), table.keys, false)),
              (Details{path, "Opening Google Drive DSI configuration file", std::strerror(ENOENT)}));
    EXPECT_STREQ(table.text, "kept");
}

// A file that opens but cannot be read is a failure, not an empty file.
TEST(ConfigFile, ADirectoryIsAReadError)
{
    Table table;
    table.text = strdup("kept");
    const std::string path = ostrel::test::temp_path("");
    EXPECT_EQ(details_of(ostrel_i_google_drive_config_parse_file(path.c_str(), table.keys, false)),
              (Details{path, FILE_OP, std::strerror(EISDIR)}));
    EXPECT_STREQ(table.text, "kept");
}

// Endless text without a line feed is refused at once, not gathered.
TEST(ConfigFile, AnEndlessLineIsASyntaxErrorAtAFixedCost)
{
    Table table;
    EXPECT_EQ(details_of(ostrel_i_google_drive_config_parse_file("/dev/zero", table.keys, false)),
              (Details{"/dev/zero", FILE_OP, "Syntax error line 1"}));
}

struct StringCase {
    const char *name;
    std::string text;
    bool ignore_unknown;
    Details error;  // path empty: success
    std::string stored_text;
    int32_t stored_number;
};

TEST(ConfigString, OptionsSeparatedBySemicolons)
{
    const std::string long_value(256, 'v');
    const StringCase cases[] = {
        {"two options", "name=a b;count=3", false, {}, "a b", 3},
        {"blanks around", "name = x ; count= 4", false, {}, "x ", 4},
        {"no comments in strings", "name=a#b", false, {}, "a#b", -7},
        {"empty", "", false, {"", STRING_OP, "Syntax error parsing option 1"}, "", -7},
        {"ends with semicolon", "name=a;", false, {"", STRING_OP, "Syntax error parsing option 2"}, "", -7},
        {"double semicolon", "name=a;;count=1", false, {"", STRING_OP, "Syntax error parsing option 2"}, "", -7},
        {"key of 257", std::string(257, 'k') + "=v", false,
         {std::string(257, 'k') + "=v", STRING_OP, "Syntax error parsing option 1"}, "", -7},
        {"value of 257", "name=" + long_value + "w", false,
         {"name=" + long_value + "w", STRING_OP, "Syntax error parsing option 1"}, "", -7},
        {"value of 256", "name=" + long_value, false, {}, long_value, -7},
        {"unknown", "name=a;zzz=1", false,
         {"zzz=1", "Parsing Google Drive DSI configuration", "Unknown configuration option (2) \"zzz\""}, "", -7},
        {"unknown ignored", "zzz=1;count=2", true, {}, "NULL", 2},
        {"trailing blank in a number", "count=5 ", true,
         {"count=5 ", FILE_OP, "Invalid value on line 1 \"5 \" (expected int)"}, "", -7},
        {"number of the option", "name=a;count=x", false,
         {"count=x", FILE_OP, "Invalid value on line 2 \"x\" (expected int)"}, "", -7},
        {"first of two rows", "name=text", false, {}, "text", -7},
        {"line feed in a value", "name=a\ncount=x", false,
         {"name=a\ncount=x", STRING_OP, "Syntax error parsing option 1"}, "", -7},
        {"line feed in a later option", "count=1;name=a\n;count=2", false,
         {"name=a\n", STRING_OP, "Syntax error parsing option 2"}, "", 1},
        {"line feed before the key", "count=1;\nname=a", false,
         {"\nname=a", STRING_OP, "Syntax error parsing option 2"}, "", 1},
    };
    for (const StringCase &c : cases) {
        SCOPED_TRACE(c.name);
        Table table;
        table.text = strdup("before");
        const ostrel_result_t result = ostrel_i_google_drive_config_parse_string(c.text.c_str(), table.keys,
                                                                                 c.ignore_unknown);
        if (c.error.path.empty() && c.error.operation.empty()) {
            ASSERT_EQ(result, OSTREL_SUCCESS) << details_of(result).details;
            EXPECT_EQ(text_or_null(table.text), c.stored_text == "NULL" ? "before" : c.stored_text);
            EXPECT_EQ(table.number, c.stored_number);
        } else {
            EXPECT_EQ(details_of(result), c.error);
            EXPECT_EQ(table.text, nullptr);
        }
    }
    Table table;
    EXPECT_EQ(details_of(ostrel_i_google_drive_config_parse_string(nullptr, table.keys, false)),
              (Details{"", STRING_OP, "NULL"}));
}

TEST(ConfigKey, SameTextLeavesTheStringInPlaceAndFailuresClearNothing)
{
    Table table;
    table.text = strdup("same");
    char *const held = table.text;
    bool parsed = false;
    EXPECT_EQ(ostrel_i_google_drive_config_parse_key("p", 1, "name", "same", table.keys, &parsed), OSTREL_SUCCESS);
    EXPECT_TRUE(parsed);
    EXPECT_EQ(table.text, held);
    EXPECT_EQ(ostrel_i_google_drive_config_parse_key("p", 1, "unknown", "x", table.keys, &parsed), OSTREL_SUCCESS);
    EXPECT_FALSE(parsed);
    EXPECT_EQ(details_of(ostrel_i_google_drive_config_parse_key("p", 9, "count", "", table.keys, &parsed)),
              (Details{"p", FILE_OP, "Invalid value on line 9 \"\" (expected int)"}));
    EXPECT_FALSE(parsed);
    EXPECT_EQ(table.text, held);
}

// Fails the allocation numbered countdown from the moment it is armed.
long countdown = 0;
bool fail_countdown() noexcept
{
    return countdown > 0 && --countdown == 0;
}

TEST(ConfigKey, ACopyThatFailsReportsTheStrdupErrorAsDetails)
{
    Table table;
    table.text = strdup("old");
    bool parsed = true;
    countdown = 1;
    ostrel::gdc::alloc_fail_hook = fail_countdown;
    const ostrel_result_t result = ostrel_i_google_drive_config_parse_key("p", 1, "name", "new", table.keys, &parsed);
    ostrel::gdc::alloc_fail_hook = nullptr;
    EXPECT_EQ(details_of(result), (Details{"p", FILE_OP, std::string("System error in strdup: ") + std::strerror(ENOMEM)}));
    EXPECT_FALSE(parsed);
    EXPECT_STREQ(table.text, "old");
}

TEST(ConfigParseDeathTest, AbsentArgumentsAndUnknownTypesStop)
{
    Table table;
    bool parsed = false;
    EXPECT_DEATH((void) ostrel_i_google_drive_config_parse_key("p", 1, nullptr, "v", table.keys, &parsed),
                 "google_drive_common/config_parse_key.cc:[0-9]+: .*key != NULL");
    EXPECT_DEATH((void) ostrel_i_google_drive_config_parse_key("p", 1, "k", nullptr, table.keys, &parsed),
                 "val != NULL");
    EXPECT_DEATH((void) ostrel_i_google_drive_config_parse_key("p", 1, "k", "v", nullptr, &parsed),
                 "config_keys != NULL");
    EXPECT_DEATH((void) ostrel_i_google_drive_config_parse_key("p", 1, "k", "v", table.keys, nullptr),
                 "parsed_option != NULL");
    table.keys[1].value_type = static_cast<ostrel_google_drive_config_type_t>(3);
    EXPECT_DEATH((void) ostrel_i_google_drive_config_parse_key("p", 1, "count", "1", table.keys, &parsed),
                 "config_keys\\[i\\].value_type == OSTREL_GOOGLE_DRIVE_CONFIG_STRING \\|\\| "
                 "config_keys\\[i\\].value_type == OSTREL_GOOGLE_DRIVE_CONFIG_INT \\|\\| "
                 "config_keys\\[i\\].value_type == OSTREL_GOOGLE_DRIVE_CONFIG_OFF_T");
}

}  // namespace
