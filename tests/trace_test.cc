// The trace line: prefix, levels, thread ids, time stamps, cutting, locks.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <future>
#include <regex>
#include <string>
#include <string_view>
#include <thread>

#include "support/trace_capture.h"

// The cutting tests hand formats that are not literals on purpose.
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace {

using ostrel::test::ModuleTest;
using ostrel::test::TraceCapture;
using Trace = ModuleTest;

std::string tid()
{
    return std::to_string(ostrel_thread_self());
}

TEST_F(Trace, EntryAndExitLinesCarryLevelPidAndFunction)
{
    TraceCapture capture;
    EXPECT_TRUE(ostrel_google_drive_is_stub("map.gmap"));
    const std::string p = TraceCapture::prefix("TRACE", "ostrel_google_drive_is_stub");
    EXPECT_EQ(capture.text(), p + "enter\n" + p + "exit: true\n");
}

TEST_F(Trace, OnlyEnabledLevelsAreWritten)
{
    {
        TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG);
        EXPECT_STREQ(ostrel_google_drive_doc_extension("application/pdf"), "");
        EXPECT_EQ(capture.text(), TraceCapture::prefix("DEBUG", "ostrel_google_drive_doc_extension")
                                      + "Checking mime type application/pdf\n");
    }
    {
        TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_ERROR | OSTREL_GOOGLE_DRIVE_LEVEL_WARN);
        EXPECT_STREQ(ostrel_google_drive_doc_extension("application/pdf"), "");
        EXPECT_EQ(capture.text(), "");
    }
}

TEST_F(Trace, ALevelWithoutANameIsWrittenAsTrace)
{
    TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE);
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(32u, "beyond the table %d\n", 32);
    const char *const saved = ostrel_i_google_drive_debug_level_names[8];
    ostrel_i_google_drive_debug_level_names[8] = nullptr;
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_WARN, "unnamed warn\n");
    ostrel_i_google_drive_debug_level_names[8] = saved;
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_WARN, "named warn\n");  // WARN is off
    const std::string p = TraceCapture::prefix("TRACE", "TestBody");
    EXPECT_EQ(capture.text(), p + "beyond the table 32\n" + p + "unnamed warn\n");
}

TEST_F(Trace, ThreadIdsPrefixBothThePrefixAndTheText)
{
    TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, 0, 1);
    EXPECT_FALSE(ostrel_google_drive_is_stub(nullptr));
    const std::string p = tid() + "::" + TraceCapture::prefix("TRACE", "ostrel_google_drive_is_stub");
    EXPECT_EQ(capture.text(), p + tid() + "::enter\n" + p + tid() + "::exit: false\n");
}

TEST_F(Trace, TimeStampsGoOnThePrefixOnly)
{
    const std::string rest = TraceCapture::prefix("TRACE", "ostrel_google_drive_is_stub");
    {
        TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, 0);
        EXPECT_TRUE(ostrel_google_drive_is_stub(".gdoc"));
        const auto lines = capture.lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_TRUE(std::regex_search(lines[0], std::regex("^[0-9]+\\.[0-9]{6}000::google_drive: "))) << lines[0];
        EXPECT_EQ(lines[0].substr(lines[0].find("::") + 2), rest + "enter");
    }
    {
        TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, 1);
        EXPECT_TRUE(ostrel_google_drive_is_stub(".gdoc"));
        const auto lines = capture.lines();
        ASSERT_EQ(lines.size(), 2u);
        const std::string head = tid() + ":";
        ASSERT_EQ(lines[1].compare(0, head.size(), head), 0) << lines[1];
        EXPECT_TRUE(std::regex_search(lines[1], std::regex("^[0-9]+:[0-9]+\\.[0-9]{6}000::google_drive: ")));
        EXPECT_EQ(lines[1].substr(lines[1].size() - rest.size() - tid().size() - 12), rest + tid() + "::exit: true");
    }
}

TEST_F(Trace, LongFormatsAreCutAt4095CharactersWhereFramed)
{
    const std::string long_format(5000, 'x');
    {
        TraceCapture capture(1, 0, 0);
        ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf("%s", long_format.c_str());
        ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf(long_format.c_str());
        EXPECT_EQ(capture.text().size(), 10000u);
    }
    {
        TraceCapture capture(1, 0, 1);
        ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf(long_format.c_str());
        EXPECT_EQ(capture.text(), tid() + "::" + long_format.substr(0, 4095 - tid().size() - 2));
    }
    {
        TraceCapture capture(1, 0, 0);
        ostrel_i_OSTREL_GOOGLE_DRIVE_debug_time_printf(long_format.c_str());
        EXPECT_EQ(capture.text().size(), 4095u);
    }
    {
        // A conversion cut in half is dropped, never handed to vfprintf.
        TraceCapture capture(1, 0, 1);
        const std::string cut = std::string(4095 - tid().size() - 2 - 1, 'y') + "%s";
        ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf(cut.c_str(), "ARG");
        EXPECT_EQ(capture.text(), tid() + "::" + cut.substr(0, cut.size() - 2));
    }
}

// A format with several conversions, flags, widths and "%%", cut at each of
// its places: the text before the cut is written, and a conversion that the
// cut leaves unfinished ("%", "%-+5", "%.*") is left out whole.
TEST_F(Trace, ACutFormatLosesOnlyItsUnfinishedConversion)
{
    const struct {
        std::string_view text;
        bool conversion;
        std::string_view printed;
    } tokens[] = {
        {"a", false, "a"},          {"%3d", true, "  7"},     {"%-+5ld", true, "+42  "}, {"%%", true, "%"},
        {"%08.2f", true, "00001.50"}, {"bc", false, "bc"},    {"%#x", true, "0xff"},     {"%.*s", true, "ab"},
        {"%zu", true, "5"},         {"%jd", true, "6"},       {"% 'd", true, " 1234"},   {"%%", true, "%"},
        {"de", false, "de"},
    };
    std::string tail;
    for (const auto &token : tokens) {
        tail += token.text;
    }
    const std::string head = tid() + "::";
    for (size_t cut = 0; cut < tail.size(); ++cut) {
        SCOPED_TRACE(tail.substr(0, cut));
        std::string expected;
        size_t at = 0;
        for (const auto &token : tokens) {
            if (at + token.text.size() <= cut) {
                expected += token.printed;
            } else if (at < cut && !token.conversion) {
                expected += token.text.substr(0, cut - at);
            }
            at += token.text.size();
        }
        const std::string filler(4095 - head.size() - cut, 'y');
        TraceCapture capture(1, 0, 1);
        // The C library writes the same text when handed an unfinished
        // conversion, which is undefined; glibc then sets errno.
        errno = 0;
        ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf((filler + tail).c_str(), 7, 42L, 1.5, 255u, 2, "abc", size_t{5},
                                                  intmax_t{6}, 1234);
        EXPECT_EQ(errno, 0);
        EXPECT_EQ(capture.text(), head + filler + expected);
    }
}

TEST_F(Trace, NoStreamMeansNoLine)
{
    ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle = {0x1f, 0x1f, nullptr, 1, 0};
    EXPECT_TRUE(ostrel_google_drive_is_stub("a.gdoc"));
    ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf("%s", "nowhere");
    ostrel_i_OSTREL_GOOGLE_DRIVE_debug_time_printf("%s", "nowhere");
    ostrel_i_OSTREL_GOOGLE_DRIVE_debug_fwrite("x", 1, 1);
    ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle = {};
}

TEST_F(Trace, ADisabledLevelTakesNoLock)
{
    TraceCapture capture(0);
    flockfile(capture.stream());
    auto traced = std::async(std::launch::async, [] { return ostrel_google_drive_is_stub("a.gdoc"); });
    const bool finished = traced.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    funlockfile(capture.stream());
    EXPECT_TRUE(finished);
    EXPECT_TRUE(traced.get());
}

TEST_F(Trace, LinesOfManyThreadsDoNotInterleave)
{
    TraceCapture capture(0x1f);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) {
                (void) ostrel_google_drive_doc_extension("application/vnd.google-apps.jam");
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    const std::string p = TraceCapture::prefix("TRACE", "ostrel_google_drive_doc_extension");
    const std::string d = TraceCapture::prefix("DEBUG", "ostrel_google_drive_doc_extension");
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u * 500u * 3u);
    for (const std::string &line : lines) {
        ASSERT_TRUE(line == p + "enter" || line == p + "exit: .gjam"
                    || line == d + "Checking mime type application/vnd.google-apps.jam")
            << line;
    }
}

TEST_F(Trace, FailureExitPrintsTheHandleAndTheChain)
{
    TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_ERROR);
    const ostrel_result_t result = ostrel_error_put(
        ostrel_error_construct_error(nullptr, nullptr, 6, "test", "f", 1, "%s", "went wrong"));
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT_AS("some_function", result);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT_AS("some_function", OSTREL_SUCCESS);  // TRACE is off
    char tail[64];
    std::snprintf(tail, sizeof tail, "exit: result=%#x message=went wrong\n", static_cast<unsigned>(result));
    EXPECT_EQ(capture.text(), TraceCapture::prefix("ERROR", "some_function") + tail);
    ostrel_object_free(ostrel_error_get(result));
}

}  // namespace

namespace {

// What a trace line interpolates is printable; the format's own text and
// every other conversion are as vfprintf writes them.
TEST_F(Trace, InterpolatedTextsArePrintableAndConversionsAgreeWithPrintf)
{
    struct Case {
        const char *name;
        const char *expected;
        const char *first_three;  // "%.3s" cuts the text, then it is made printable
    };
    const Case cases[] = {
        {"a\x1b[2J\r\nb", "a\\x1b[2J\\r\\nb", "a\\x1b["},
        {"226 ok\r\n226 forged", "226 ok\\r\\n226 forged", "226"},
        {"tab\there\x7f csi\xc2\x9b nbsp\xc2\xa0 \xc3\xa9", "tab\\x09here\\x7f csi\\u009b nbsp\xc2\xa0 \xc3\xa9", "tab"},
        {"back\\slash \"q\"", "back\\slash \"q\"", "bac"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected);
        TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG);
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE_AS("f", OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "name %s|%-3s|%.3s|%c\n", c.name,
                                          "x", c.name, '\n');
        EXPECT_EQ(capture.text(),
                  TraceCapture::prefix("DEBUG", "f") + "name " + c.expected + "|x  |" + c.first_three + "|\\n\n");
    }
    {
        TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG);
        const char *format = "%d %5.2f %-4u|%lu %zu %#x %lld %jd %hhd %Lg %*d %.*f %% %s\n";
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE_AS("f", OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, format, -7, 3.14159, 42u, 1ul << 40,
                                          size_t{9}, 255u, -1ll << 50, intmax_t{-3}, 300, 2.5L, 6, 17, 2, 1.0 / 3, "e");
        char expected[256];
        std::snprintf(expected, sizeof expected, format, -7, 3.14159, 42u, 1ul << 40, size_t{9}, 255u, -1ll << 50,
                      intmax_t{-3}, 300, 2.5L, 6, 17, 2, 1.0 / 3, "e");
        EXPECT_EQ(capture.text(), TraceCapture::prefix("DEBUG", "f") + expected);
    }
    // The failure exit: a chain of several errors is one line.
    TraceCapture capture(OSTREL_GOOGLE_DRIVE_LEVEL_ERROR);
    ostrel_object_t *cause = ostrel_error_construct_error(nullptr, nullptr, 6, "test", "f", 1, "%s", "inner\x1b");
    const ostrel_result_t result =
        ostrel_error_put(ostrel_error_construct_error(nullptr, cause, 6, "test", "f", 1, "%s", "outer\r"));
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT_AS("some_function", result);
    char tail[80];
    std::snprintf(tail, sizeof tail, "exit: result=%#x message=outer\\r\\ninner\\x1b\n", static_cast<unsigned>(result));
    EXPECT_EQ(capture.text(), TraceCapture::prefix("ERROR", "some_function") + tail);
    ostrel_object_free(ostrel_error_get(result));
}

}  // namespace
