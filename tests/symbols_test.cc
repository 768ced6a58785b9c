// The shared library exports exactly the names its headers declare (those
// built so far) and exports.map lists exactly the headers' names.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Names declared at file scope in the library's two headers: functions and
// extern data.
std::set<std::string> declared_names()
{
    std::set<std::string> names;
    const std::regex function(R"(^[A-Za-z][^#(]*?\b((?:ostrel|OSTREL)_\w+)\s*\()");
    const std::regex data(R"(^extern [^(]*?\b((?:ostrel|OSTREL)_\w+)\s*(\[\d+\])?;)");
    for (const char *header : {"ostrel_google_drive_common.h", "ostrel_i_google_drive_common.h"}) {
        std::istringstream in(read_file(std::string(OSTREL_SOURCE_DIR) + "/include/" + header));
        for (std::string line; std::getline(in, line);) {
            std::smatch match;
            if (line.rfind("static", 0) == 0 || line.rfind("typedef", 0) == 0) {
                continue;
            }
            if (std::regex_search(line, match, data) || std::regex_search(line, match, function)) {
                names.insert(match[1]);
            }
        }
    }
    return names;
}

std::set<std::string> version_script_names()
{
    std::set<std::string> names;
    const std::string script = read_file(std::string(OSTREL_SOURCE_DIR) + "/google_drive_common/exports.map");
    const std::regex entry(R"(^\s+((?:ostrel|OSTREL)_\w+);)");
    std::istringstream in(script);
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        if (std::regex_search(line, match, entry)) {
            names.insert(match[1]);
        }
    }
    return names;
}

std::set<std::string> exported_names()
{
    std::set<std::string> names;
    FILE *nm = popen("nm -D --defined-only " OSTREL_LIBRARY_FILE, "r");
    if (nm == nullptr) {
        return names;
    }
    char line[512];
    while (std::fgets(line, sizeof line, nm) != nullptr) {
        char address[64];
        char kind[8];
        char name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3) {
            names.insert(name);
        }
    }
    EXPECT_EQ(pclose(nm), 0);
    return names;
}

// Declared in the headers, to be filled in by later work.
const std::set<std::string> not_built_yet = {};

TEST(Symbols, VersionScriptListsExactlyTheDeclaredNames)
{
    const std::set<std::string> declared = declared_names();
    // 40 of the first interface, 3 of lookup, 2 to read every detail, 43 talking to Drive, 36 of the session, 7 of its window, 8 to read a request, 11 of facts and checksums
    EXPECT_EQ(declared.size(), 157u);
    EXPECT_EQ(version_script_names(), declared);
}

TEST(Symbols, LibraryExportsTheDeclaredNamesBuiltSoFarAndNothingElse)
{
    std::set<std::string> expected;
    for (const std::string &name : declared_names()) {
        if (not_built_yet.count(name) == 0) {
            expected.insert(name);
        }
    }
    EXPECT_EQ(exported_names(), expected);
}

}  // namespace
