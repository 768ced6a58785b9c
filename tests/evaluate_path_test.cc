// Path evaluation against the user database entry of the test process.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "support/trace_capture.h"

namespace {

using ostrel::test::ModuleTest;
using ostrel::test::TraceCapture;
using EvaluatePath = ModuleTest;

std::string evaluate(const std::string &path)
{
    char *out = nullptr;
    EXPECT_EQ(ostrel_google_drive_evaluate_path(path.c_str(), &out), OSTREL_SUCCESS);
    std::string result = out != nullptr ? out : "(null)";
    std::free(out);
    return result;
}

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST_F(EvaluatePath, ExpandsHomeAndLognameLeftToRight)
{
    const passwd *user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    const std::string home = user->pw_dir;
    const std::string name = user->pw_name;
    const std::pair<std::string, std::string> cases[] = {
        {"/no/variables", "/no/variables"},
        {"$HOME/data", home + "/data"},
        {"/tmp/$LOGNAME", "/tmp/" + name},
        {"$HOME$LOGNAME", home + name},
        {"$HOMEX", home + "X"},
        {"$home", "$home"},
        {"$LOGNAME/$HOME/$LOGNAME", name + "/" + home + "/" + name},
        {"$$HOME$", "$" + home + "$"},
        {"$LOGNAM$HOME", "$LOGNAM" + home},
        {"", ""},
    };
    for (const auto &[path, expected] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(evaluate(path), expected);
    }
    const std::string many = replace_all(std::string(10000, 'x'), "xxxxxxxxxx", "$HOME/$LOGNAME");
    EXPECT_EQ(evaluate(many), replace_all(replace_all(many, "$HOME", home), "$LOGNAME", name));
}

// Linear in the path: twice the tokens take about twice the time, where a
// search to the end per token took four times as long.
TEST_F(EvaluatePath, TracesOnlyItsExit)
{
    TraceCapture capture;
    (void) evaluate("$HOME");
    EXPECT_EQ(capture.text(),
              TraceCapture::prefix("TRACE", "ostrel_google_drive_evaluate_path") + "exit: result=OSTREL_SUCCESS\n");
}

}  // namespace

namespace {

// A user id the user database does not know: the child becomes it (only
// root can), so the parent's identity stays untouched.
int evaluate_as_unknown_user()
{
    if (setuid(54321) != 0) {
        return 2;
    }
    if (getpwuid(54321) != nullptr) {
        return 3;
    }
    char *out = reinterpret_cast<char *>(1);
    const ostrel_result_t result = ostrel_google_drive_evaluate_path("$HOME/data", &out);
    ostrel_object_t *error = ostrel_error_get(result);
    char *text = ostrel_error_print_friendly(error);
    const bool refused = result != OSTREL_SUCCESS && out == nullptr && ostrel_error_get_errno(error) == ENOENT
                         && std::string(text).find("getpwuid_r") != std::string::npos;
    std::free(text);
    ostrel_object_free(error);
    // A path without a variable needs no entry.
    char *plain = nullptr;
    const bool kept = ostrel_google_drive_evaluate_path("/a/b", &plain) == OSTREL_SUCCESS && std::string(plain) == "/a/b";
    std::free(plain);
    return refused && kept ? 0 : 1;
}

TEST(EvaluatePathDeathTest, AUserWithoutAnEntryIsRefused)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to change the user id";
    }
    EXPECT_EXIT(std::exit(evaluate_as_unknown_user()), ::testing::ExitedWithCode(0), "");
}

}  // namespace

namespace {

// A system user whose home is shorter than "$HOME" itself, such as "bin"
// with "/bin": the result is shorter than the path.
int evaluate_with_a_short_home(uid_t uid)
{
    const passwd *user = getpwuid(uid);
    if (user == nullptr || setuid(uid) != 0) {
        return 2;
    }
    const std::string expected = std::string(user->pw_dir) + "/x/" + user->pw_name;
    char *out = nullptr;
    const ostrel_result_t result = ostrel_google_drive_evaluate_path("$HOME/x/$LOGNAME", &out);
    const bool right = result == OSTREL_SUCCESS && out != nullptr && expected == out;
    std::free(out);
    return right ? 0 : 1;
}

TEST(EvaluatePathDeathTest, AHomeShorterThanTheVariable)
{
    const passwd *user = getpwnam("bin");
    if (geteuid() != 0 || user == nullptr || std::string(user->pw_dir).size() >= 5) {
        GTEST_SKIP() << "needs root and a user \"bin\" with a home shorter than five characters";
    }
    const uid_t uid = user->pw_uid;
    EXPECT_EXIT(std::exit(evaluate_with_a_short_home(uid)), ::testing::ExitedWithCode(0), "");
}

}  // namespace
