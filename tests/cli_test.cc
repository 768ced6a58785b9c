// The ostrel-gdrive tool, run as a program: whole outputs against golden
// files in tests/cli (OSTREL_UPDATE_GOLDEN=1 rewrites them), every error
// path with its exit status, and a streamed listing in bounded memory.
#include <gtest/gtest.h>

#include "support/temp_path.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <jansson.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string source_dir = OSTREL_SOURCE_DIR;
const std::string example = source_dir + "/examples/my-drive.json";
const std::string tree = source_dir + "/examples/my-drive-tree.json";

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string quoted(const std::string &arg)
{
    std::string out = "'";
    for (const char c : arg) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs the tool with args (and stdin from a file when given), tracing off;
// env is put before it, stdout redirected to out_target when one is given.
Outcome run(const std::vector<std::string> &args, const std::string &input = "/dev/null", const std::string &env = "",
            const std::string &out_target = "")
{
    const std::string out = ostrel::test::temp_path("cli.out");
    const std::string err = ostrel::test::temp_path("cli.err");
    std::ofstream(out, std::ios::trunc).close();
    std::string command = "env -u OSTREL_GOOGLE_DRIVE_DEBUG " + env + " " + quoted(OSTREL_TOOL_FILE);
    for (const std::string &arg : args) {
        command += " " + quoted(arg);
    }
    command += " <" + quoted(input) + (out_target.empty() ? " >" + quoted(out) : " " + out_target) + " 2>"
               + quoted(err);
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(out), read_file(err)};
}

void expect_golden(const std::string &name, const std::string &actual)
{
    const std::string path = source_dir + "/tests/cli/" + name;
    if (std::getenv("OSTREL_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(path, std::ios::binary) << actual;
    }
    EXPECT_EQ(actual, read_file(path)) << "golden file tests/cli/" << name;
}

std::string write_temp(const std::string &name, const std::string &text)
{
    const std::string path = ostrel::test::temp_path(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

struct GoldenCase {
    const char *golden;
    std::vector<std::string> args;
};

TEST(Cli, ExampleListingAndCommandsMatchTheirGoldenOutputs)
{
    const GoldenCase cases[] = {
        {"ls.out", {"ls", example}},
        {"ls-long-export.out", {"ls", "-l", "--export", "documents=pdf,spreadsheets=xlsx", example}},
        {"ls-json-trashed.out", {"ls", "--json", "--trashed", example}},
        {"ls-ids.out", {"--export", "presentations=pptx", "ls", "--ids", example}},
        {"in.out", {"in", "notes{export-gdoc}.pdf", "a{slash}b.{IDx1}", "{dot}.gdoc", "{dot+}", "caf\xc3\xa9.gsheet"}},
        {"split.out", {"split", "/docs/x.{IDab}/notes{export-gsheet}.csv"}},
        {"formats.out", {"formats", "--export", "documents=docx,drawings=svg"}},
        {"help.out", {"--help"}},
        {"help-formats.out", {"formats", "--help"}},
        {"ls-hostile.out", {"ls", source_dir + "/tests/cli/hostile.ndjson"}},
        {"ls-long-hostile.out", {"ls", "-l", source_dir + "/tests/cli/hostile.ndjson"}},
        {"ls-json-hostile.out", {"ls", "--json", source_dir + "/tests/cli/hostile.ndjson"}},
        {"in-bytes.out", {"in", "c1{x85} and \xc2\xa9", "back\\slash"}},
        {"ls-tree-path.out", {"ls", "-l", "--ids", "--path", "/Projects/2024", tree}},
        {"resolve.out", {"resolve", tree, "/Projects/2024/notes.{ID1T014notes}.gdoc", "/Shared with partners/''"}},
        {"query.out", {"query", "--parent", "root", "notes.gdoc", "it's", "a{slash}b", "C:\\temp", "report.pdf"}},
        {"ls-long-trashed.out", {"ls", "-l", "--trashed", example}},
        {"in-json.out", {"in", "--json", "notes{export-gdoc}.pdf", "a{slash}b.{IDx1}", "{dot+}", "caf\xc3\xa9.gsheet"}},
        {"out-json.out", {"out", "--json", "--name", "C:\\temp\xe2\x80\x8b", "--id", "1x"}},
        {"split-json.out", {"split", "--json", "/docs/x.{IDab}/notes{export-gsheet}.csv"}},
        {"query-json.out", {"query", "--json", "--parent", "root", "notes.gdoc", "it's", "C:\\temp"}},
        {"resolve-json.out",
         {"resolve", "--json", tree, "/Projects/2024/notes.{ID1T014notes}.gdoc", "/", "/Shared with partners/''"}},
        {"formats-json.out", {"formats", "--json", "--export", "documents=docx,drawings=svg"}},
    };
    for (const GoldenCase &c : cases) {
        SCOPED_TRACE(c.golden);
        const Outcome result = run(c.args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        expect_golden(c.golden, result.out);
    }
}

// Generated names over controls, invisible, bidirectional, private-use and
// unassigned characters: --json gives each back exactly, and neither output
// carries one of them raw; no two names print alike.
TEST(Cli, GeneratedNamesAreExactInJsonAndNeverPrintAlike)
{
    struct Piece {
        const char *utf8;
        bool escaped;
    };
    const Piece pieces[] = {
        {"a", false}, {".", false}, {"{", false}, {"}", false}, {"\\", false}, {"\"", false}, {" ", false},
        {"\xc3\xa9", false}, {"\xe6\x97\xa5", false}, {"\xf0\x9f\x98\x80", false}, {"\x01", true}, {"\n", true},
        {"\x1b", true}, {"\x7f", true}, {"\xc2\x85", true}, {"\xc2\xa0", true}, {"\xc2\xad", true},
        {"\xcd\x8f", true}, {"\xcd\xb8", true}, {"\xe1\xa0\x8e", true}, {"\xe2\x80\x8b", true},
        {"\xe2\x80\x8d", true}, {"\xe2\x80\xae", true}, {"\xe2\x81\xa0", true}, {"\xe2\x81\xa6", true},
        {"\xe2\x80\xa8", true}, {"\xe3\x80\x80", true}, {"\xee\x80\x80", true}, {"\xef\xb8\x8f", true},
        {"\xef\xbb\xbf", true}, {"\xf3\xa0\x80\x81", true}, {"\xf3\xa0\x81\x81", true}, {"\xf4\x8f\xbf\xbd", true},
    };
    std::mt19937 random(20);
    std::set<std::string> names;
    while (names.size() < 1500) {
        std::string name;
        for (size_t n = 1 + random() % 6; n > 0; --n) {
            name += pieces[random() % std::size(pieces)].utf8;
        }
        names.insert(name);
    }
    std::string listing;
    for (const std::string &name : names) {
        json_t *file = json_pack("{s:s%, s:s}", "name", name.data(), name.size(), "mimeType", "text/plain");
        char *line = json_dumps(file, JSON_COMPACT);
        listing += std::string(line) + "\n";
        std::free(line);
        json_decref(file);
    }
    const std::string path = write_temp("generated.ndjson", listing);
    const auto carries_raw = [&pieces](const std::string &text) {
        for (const Piece &piece : pieces) {
            if (piece.escaped && text.find(piece.utf8) != std::string::npos) {
                return true;
            }
        }
        return false;
    };

    const Outcome json = run({"ls", "--json", path});
    ASSERT_EQ(json.status, 0) << json.err;
    std::istringstream json_lines(json.out);
    auto name = names.begin();
    for (std::string line; std::getline(json_lines, line); ++name) {
        ASSERT_NE(name, names.end());
        EXPECT_FALSE(carries_raw(line)) << line;
        json_error_t error;
        json_t *entry = json_loads(line.c_str(), JSON_ALLOW_NUL, &error);
        ASSERT_NE(entry, nullptr) << line;
        const json_t *drive_name = json_object_get(entry, "driveName");
        EXPECT_EQ(std::string(json_string_value(drive_name), json_string_length(drive_name)), *name) << line;
        json_decref(entry);
    }
    EXPECT_EQ(name, names.end());

    const Outcome text = run({"ls", path});
    ASSERT_EQ(text.status, 0) << text.err;
    std::istringstream text_lines(text.out);
    std::set<std::string> shown;
    for (std::string line; std::getline(text_lines, line);) {
        EXPECT_FALSE(carries_raw(line)) << line;
        EXPECT_TRUE(shown.insert(line).second) << line;
    }
    EXPECT_EQ(shown.size(), names.size());
}

TEST(Cli, AllThreeListingFormatsGiveTheSameNames)
{
    const std::string a = R"({"id": "1a", "name": "x/y", "mimeType": "text/plain"})";
    const std::string b = R"({"id": "1b", "name": "Plan", "mimeType": "application/vnd.google-apps.drawing"})";
    const std::string expected = "x{slash}y\nPlan{export-gdraw}.png\n";
    for (const std::string &text : {"{\"files\": [" + a + ", " + b + "]}", "[" + a + ",\n" + b + "]",
                                    "\n" + a + "\n\n" + b + "\n", "{\"files\": [" + a + "]}\n{\"files\": [" + b + "]}"}) {
        SCOPED_TRACE(text);
        const std::string listing = write_temp("listing.json", text);
        Outcome result = run({"ls", "--export", "drawings=png", listing});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, expected);
        result = run({"ls", "--export", "drawings=png", "-"}, listing);
        EXPECT_EQ(result.out, expected);
    }
    const Outcome single = run({"ls", write_temp("one.json", "{\n  \"name\": \".\"\n}\n")});
    EXPECT_EQ(single.out, "{dot}\n");
}

// Pages written one after another are one listing; a last page that is not
// the last, or a search Drive did not finish, is said, without failing.
TEST(Cli, PagesAreOneListingAndIncompleteOnesAreSaid)
{
    const std::string pages = write_temp(
        "pages.json", "\xef\xbb\xbf{\n \"nextPageToken\": \"t1\",\n \"files\": [{\"name\": \"a\"}]\n}\n"
                      "{\"incompleteSearch\": true, \"files\": [{\"name\": \"b\"}], \"nextPageToken\": \"t2\"}");
    Outcome result = run({"ls", pages});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "a\nb\n");
    EXPECT_EQ(result.err, "ostrel-gdrive: " + pages
                              + ": warning: the listing ends with a page that has a nextPageToken: it is one page of "
                                "several, and the files of the pages after it are missing\nostrel-gdrive: "
                              + pages + ": warning: Drive did not search everything (incompleteSearch): files may be "
                                        "missing\n");
    const std::string last = write_temp("last.ndjson", "{\"nextPageToken\": \"t\", \"files\": []}\n"
                                                       "{\"kind\": \"drive#fileList\", \"files\": [{\"name\": \"c\"}]}\n");
    result = run({"ls", last});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "c\n");
    EXPECT_EQ(result.err, "");

    // Several files are one listing, each in its own layout; a warning
    // names the file of its page.
    result = run({"ls", "-", last, pages}, pages);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "a\nb\nc\na\nb\n");
    EXPECT_EQ(result.err, "ostrel-gdrive: " + pages
                              + ": warning: the listing ends with a page that has a nextPageToken: it is one page of "
                                "several, and the files of the pages after it are missing\nostrel-gdrive: <stdin>: "
                                "warning: Drive did not search everything (incompleteSearch): files may be missing\n");
    result = run({"ls", "-l", "-l", "--ids", "--ids", "--trashed", "--trashed", last, last});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, run({"ls", "-l", "--ids", "--trashed", last, last}).out);
    EXPECT_EQ(result.out, "file                   -  -                 c\nfile                   -  -                 c\n");
}

// What the library leaves out of a resource it cannot read is said, with
// the resource's place, the key and the value; the rest is shown.
TEST(Cli, SizesAndMimeTypesThatAreNoneAreWarnedOf)
{
    const std::string listing = write_temp(
        "sizes.json", "{\"files\": [{\"id\": \"1a\", \"name\": \"a\", \"size\": \"-5\"}, {\"name\": \"b\", \"size\": \"1e3\"},\n"
                      "{\"name\": \"c\", \"size\": 12, \"mimeType\": 5}, {\"name\": \"d\", \"size\": \"12\", \"mimeType\": \"x/y\"}]}");
    const Outcome result = run({"ls", "-l", listing});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "file                   -  -                 a\nfile                   -  -                 b\n"
                          "file                   -  -                 c\nfile                  12  -                 d\n");
    const std::string at = "ostrel-gdrive: " + listing + ": page 1, item ";
    EXPECT_EQ(result.err, at + "1: file 1a: warning: \"size\": not a decimal text (\"-5\"): shown without it\n" + at
                              + "2: warning: \"size\": not a decimal text (\"1e3\"): shown without it\n" + at
                              + "3: warning: \"size\": not a decimal text (12): shown without it\n" + at
                              + "3: warning: \"mimeType\": not a text (5): shown without it\n");
}

// Output that cannot be written, and input that cannot be read after its
// first line, are failures; a reader that goes away is not.
TEST(Cli, FailedWritesAndReadsAreErrors)
{
    Outcome result = run({"ls", example}, "/dev/null", "", ">/dev/full");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "ostrel-gdrive: standard output: No space left on device\n");
    for (const std::vector<std::string> &args : {std::vector<std::string>{"--help"}, {"--version"}, {"ls", "--help"}}) {
        result = run(args, "/dev/null", "", ">/dev/full");
        EXPECT_EQ(result.status, 1) << args.back();
        EXPECT_EQ(result.err, "ostrel-gdrive: standard output: No space left on device\n");
    }
    result = run({"formats"}, "/dev/null", "", ">&-");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "ostrel-gdrive: standard output: Bad file descriptor\n");
    std::string lines;
    for (int i = 0; i < 20000; ++i) {
        lines += "{\"name\": \"file " + std::to_string(i) + "\"}\n";
    }
    const std::string many = write_temp("many.ndjson", lines);
    result = run({"ls", many}, "/dev/null", "", "| head -n 1 >/dev/null");
    EXPECT_EQ(result.err, "");
    // A read error after the first line, read whole and streamed.
    const std::string fail_read = std::string("LD_PRELOAD=") + OSTREL_FAIL_READ_FILE
                                  + " ASAN_OPTIONS=verify_asan_link_order=0 OSTREL_TEST_READ_LIMIT=30";
    const std::string array = write_temp("array.json", "[\n{\"name\": \"a\"},\n{\"name\": \"b\"},\n{\"name\": \"c\"}\n]\n");
    result = run({"ls", array}, "/dev/null", fail_read);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "ostrel-gdrive: " + array + ": Input/output error\n");
    result = run({"ls", many}, "/dev/null", fail_read);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "file 0\n");
    EXPECT_EQ(result.err, "ostrel-gdrive: " + many + ": Input/output error\n");
}

// The man page and the README describe what --help does: every command,
// every option and the exit statuses; the man page also every stub.
TEST(Cli, TheManualAndReadmeCoverEveryCommandOptionAndExitStatus)
{
    const std::string manual = read_file(source_dir + "/tools/ostrel-gdrive/ostrel-gdrive.1");
    const std::string readme = read_file(source_dir + "/README.md");
    auto roff_of = [](std::string text) {
        std::string out;
        for (const char c : text) {
            out += c == '-' ? std::string("\\-") : std::string(1, c);
        }
        return out;
    };
    const std::vector<std::string> commands = {"ls",     "resolve", "query", "in",  "out", "split", "expand", "formats",
                                               "stat",   "get",     "put",   "mkdir", "rm", "rmdir", "mv",   "md5"};
    std::vector<std::string> words = commands;
    const std::string tool_help = run({"--help"}).out;
    for (const char *status : {"0 success", "1 refused input", "2 usage error"}) {
        ASSERT_NE(tool_help.find(status), std::string::npos) << status;
        words.emplace_back(status);
    }
    for (const std::string &command : commands) {
        ASSERT_NE(tool_help.find("  " + command + " "), std::string::npos) << command;
        const std::string command_help = run({command, "--help"}).out;
        for (const char *common : {"\nOptions of every command:\n", "\n  --export ", "\n  --config ", "\n  --debug "}) {
            EXPECT_NE(command_help.find(common), std::string::npos) << command << " --help: " << common;
        }
        const std::string help = tool_help + command_help;
        for (size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
            const size_t end = help.find_first_of(" ,\n=", at);
            words.push_back(help.substr(at, end - at));
        }
    }
    for (const std::string &word : words) {
        EXPECT_NE(manual.find(roff_of(word)), std::string::npos) << "man page: " << word;
        EXPECT_NE(readme.find(word), std::string::npos) << "README: " << word;
    }
    // What a repeated option says, in the tool's own words.
    const std::string repeated = run({"ls", "--path", "/", "--path", "/", tree}).err;
    const std::string said = repeated.substr(repeated.find(" times; "), repeated.find(')') + 1 - repeated.find(" times; "));
    EXPECT_EQ(said, " times; give it once (see --help)");
    EXPECT_NE(manual.find(roff_of(said)), std::string::npos);
    EXPECT_NE(readme.find(said), std::string::npos);
    EXPECT_NE(tool_help.find("A flag may repeat; an option that takes a value, or a kind within --export, given twice "
                             "is a usage error."),
              std::string::npos);
    for (const char *words : {"no listing in", "A flag may repeat", "password database"}) {
        EXPECT_NE(manual.find(words), std::string::npos) << words;
        EXPECT_NE(readme.find(words), std::string::npos) << words;
    }
    for (const char *stub : {".gdoc", ".gsheet", ".gslides", ".gdraw", ".gmap", ".gform", ".gsite", ".gjam",
                             ".gshortcut"}) {
        EXPECT_NE(manual.find(stub), std::string::npos) << stub;
    }
    EXPECT_NE(manual.find("no-content"), std::string::npos);
}

// Completes the command line typed so far as bash would with the tool's
// completion: one reply a line.
std::string completed(const std::string &typed)
{
    const std::string out = ostrel::test::temp_path("completion.out");
    const std::string line = std::string(OSTREL_TOOL_FILE) + " " + typed;
    const std::string script = "source " + quoted(source_dir + "/tools/ostrel-gdrive/ostrel-gdrive.bash")
                               + " && complete -p ostrel-gdrive && COMP_LINE=$1 && COMP_POINT=${#1} && _ostrel_gdrive"
                                 " && printf '%s\\n' \"${COMPREPLY[@]}\"";
    const std::string command = "bash -c " + quoted(script) + " _ " + quoted(line) + " >" + quoted(out);
    EXPECT_EQ(std::system(command.c_str()), 0) << typed;
    const std::string text = read_file(out);
    const std::string registered = "complete -F _ostrel_gdrive ostrel-gdrive\n";
    EXPECT_EQ(text.substr(0, registered.size()), registered);
    return text.substr(std::min(text.size(), registered.size()));
}

TEST(Cli, BashCompletionOffersCommandsOptionsAndExportFormats)
{
    const struct {
        const char *typed;
        const char *replies;
    } cases[] = {
        {"", "ls\nresolve\nquery\nin\nout\nsplit\nexpand\nformats\nstat\nget\nput\nmkdir\nrm\nrmdir\nmv\nmd5\n"},
        {"--export documents=pdf s", "split\nstat\n"},
        {"ls -", "--export\n--config\n--debug\n-h\n--help\n-l\n--long\n--json\n--ids\n--trashed\n--path\n--root\n"
                 "--token-file\n--token-command\n--api-url\n--retries\n--max-wait\n"},
        {"--export ", "documents=\nspreadsheets=\npresentations=\ndrawings=\n"},
        // Readline replaces what follows the last "=".
        {"--export documents=p", "pdf\n"},
        {"formats --export documents=pdf,dr", "pdf,drawings=\n"},
        {"--export presentations=pptx,spreadsheets=", "pdf\nzip\nxlsx\nods\ncsv\ntsv\ngsheet\n"},
        {"--debug ", "ALL\nTRACE\nDEBUG\nINFO\nWARN\nERROR\n"},
        {"out --name ", "\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(completed(c.typed), c.replies);
    }
    // Every option a command's --help names is offered.
    for (const char *command :
         {"ls", "resolve", "query", "in", "out", "split", "expand", "formats", "stat", "get", "put", "mkdir", "rm", "rmdir",
          "mv", "md5"}) {
        SCOPED_TRACE(command);
        const std::string offered = "\n" + completed(std::string(command) + " -");
        std::istringstream help(run({command, "--help"}).out);
        for (std::string line; std::getline(help, line);) {
            if (!line.starts_with("  -")) {
                continue;
            }
            std::istringstream names(line.substr(2, line.find(' ', 2) - 2));
            for (std::string name; std::getline(names, name, ',');) {
                EXPECT_NE(offered.find("\n" + name + "\n"), std::string::npos) << name;
            }
        }
    }
}

// roff reads every line of the man page as meant: no warning at all.
TEST(Cli, TheManualFormatsWithoutWarnings)
{
    const std::string err = ostrel::test::temp_path("groff.err");
    const std::string command = "groff -man -ww -z " + quoted(source_dir + "/tools/ostrel-gdrive/ostrel-gdrive.1")
                                + " 2>" + quoted(err);
    const int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
    EXPECT_EQ(read_file(err), "");
}

// Every file of the tree example: the path under which ls --ids --path
// lists it resolves back to it.
TEST(Cli, EveryListedPathOfTheTreeResolvesToItsFile)
{
    std::vector<std::string> folders = {""};
    size_t resolved = 0;
    for (size_t f = 0; f < folders.size(); ++f) {
        const Outcome listed = run({"ls", "--json", "--ids", "--path", folders[f].empty() ? "/" : folders[f], tree});
        ASSERT_EQ(listed.status, 0) << listed.err;
        std::istringstream lines(listed.out);
        for (std::string line; std::getline(lines, line);) {
            json_error_t error;
            json_t *entry = json_loads(line.c_str(), 0, &error);
            ASSERT_NE(entry, nullptr) << line;
            const std::string path = folders[f] + "/" + json_string_value(json_object_get(entry, "clientName"));
            const std::string id = json_string_value(json_object_get(entry, "id"));
            if (std::string(json_string_value(json_object_get(entry, "type"))) == "folder") {
                folders.push_back(path);
            }
            json_decref(entry);
            const Outcome result = run({"resolve", tree, path});
            ASSERT_EQ(result.status, 0) << path << ": " << result.err;
            const std::string last_row = result.out.substr(result.out.rfind('\n', result.out.size() - 2) + 1);
            EXPECT_NE(last_row.find("  " + id + "  "), std::string::npos) << path << "\n" << result.out;
            ++resolved;
        }
    }
    EXPECT_EQ(resolved, 59u);  // the 60 files less the trashed one
}

// A file without a name is said with its place and id and left out of a
// tree; the command goes on and fails at its end. Paths also come one a
// line from a file or standard input, as deep as a tree goes.
TEST(Cli, TreesGoOnWithoutNamelessFilesAndTakePathsFromAFile)
{
    const std::string folder = R"(, "mimeType": "application/vnd.google-apps.folder")";
    std::string text = R"({"id": "f", "name": "f", "parents": ["r"])" + folder + "}\n" + R"({"id": "x", "parents": ["f"]})"
                       + "\n" + R"({"id": "y", "name": "y", "parents": ["f"]})" + "\n";
    const std::string listing = write_temp("nameless.ndjson", text);
    const std::string said = "ostrel-gdrive: " + listing + ":2: file x: no \"name\": left out (the listing must be "
                             "fetched with the name field)\n";
    const std::string failed = "ostrel-gdrive: " + listing + ": 1 file was left out for want of a name\n";
    Outcome result = run({"ls", "--path", "/f", listing});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "y\n");
    EXPECT_EQ(result.err, said + failed);
    result = run({"resolve", "--json", "--paths-from", "-", listing, "/f/y"},
                 write_temp("paths.txt", "/f\n\n/f/x\n/f/y"));
    EXPECT_EQ(result.status, 1);
    const std::string f_step = R"({"clientName":"f","id":"f","driveName":"f","mimeType":"application/vnd.google-apps.folder"})";
    const std::string y_line = R"({"path":"/f/y","root":"r","steps":[)" + f_step
                               + R"(,{"clientName":"y","id":"y","driveName":"y","mimeType":null}]})" + "\n";
    EXPECT_EQ(result.out, y_line + R"({"path":"/f","root":"r","steps":[)" + f_step + "]}\n" + y_line);
    EXPECT_EQ(result.err, said + "ostrel-gdrive: resolve: \"/f/x\": 550 PATH_NOT_FOUND: No file in the folder has this "
                                 "name (at \"/f/x\")\n" + failed);

    // A path of 10 000 folders.
    constexpr int depth = 10000;
    std::string deep_text;
    std::string path;
    for (int i = 1; i <= depth; ++i) {
        deep_text += "{\"id\": \"d" + std::to_string(i) + "\", \"name\": \"" + std::to_string(i) + "\", \"parents\": [\""
                     + (i == 1 ? std::string("root") : "d" + std::to_string(i - 1)) + "\"]" + folder + "}\n";
        path += "/" + std::to_string(i);
    }
    result = run({"resolve", "--paths-from", write_temp("deep.txt", path + "\n"), write_temp("deep.ndjson", deep_text)});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), depth + 3);
    EXPECT_TRUE(result.out.ends_with("\n10000        d10000  \"10000\"     application/vnd.google-apps.folder\n"));
}

// Tree listings say what makes their paths misleading: folders that are
// their own ancestors, a file listed twice (the second is left out), and
// --ids over the whole tree; the listing is still shown.
TEST(Cli, TreeListingsWarnOfCyclesRepeatedIdsAndIdsAcrossFolders)
{
    const std::string folder = R"(, "mimeType": "application/vnd.google-apps.folder", "parents": [")";
    std::string text = R"({"id": "f1", "name": "top")" + folder + R"(root"]})" + "\n"
                       + R"({"id": "a", "name": "a")" + folder + R"(f1", "b"]})" + "\n"
                       + R"({"id": "b", "name": "b")" + folder + R"(a"]})" + "\n"
                       + R"({"id": "x", "name": "x", "parents": ["f1"]})" + "\n"
                       + R"({"id": "x", "name": "x again", "parents": ["f1"]})" + "\n";
    for (int i = 1; i <= 7; ++i) {
        text += R"({"id": "c)" + std::to_string(i) + R"(", "name": "c")" + folder + "c" + std::to_string(i % 7 + 1)
                + "\"]}\n";
    }
    for (int i = 0; i < 6; ++i) {
        const std::string d = "d" + std::to_string(i), e = "e" + std::to_string(i);
        text += R"({"id": ")" + d + R"(", "name": "d")" + folder + e + "\"]}\n" + R"({"id": ")" + e
                + R"(", "name": "e")" + folder + d + "\"]}\n";
    }
    const std::string listing = write_temp("cycles.ndjson", text);
    const std::string warnings
        = "ostrel-gdrive: " + listing + ":5: warning: file x is listed twice; this one is left out\n"
          "ostrel-gdrive: " + listing + ": warning: a parent cycle: \"a\" (a) in \"b\" (b) in \"a\" (a); paths "
          "through it go on forever\n"
          "ostrel-gdrive: " + listing + ": warning: a parent cycle: \"c\" (c1) in \"c\" (c2) in \"c\" (c3) in \"c\" "
          "(c4) in \"c\" (c5) in ... in \"c\" (c1); paths through it go on forever\n"
          "ostrel-gdrive: " + listing + ": warning: a parent cycle: \"d\" (d0) in \"e\" (e0) in \"d\" (d0); paths "
          "through it go on forever\n"
          "ostrel-gdrive: " + listing + ": warning: a parent cycle: \"d\" (d1) in \"e\" (e1) in \"d\" (d1); paths "
          "through it go on forever\n"
          "ostrel-gdrive: " + listing + ": warning: a parent cycle: \"d\" (d2) in \"e\" (e2) in \"d\" (d2); paths "
          "through it go on forever\n"
          "ostrel-gdrive: " + listing + ": warning: 3 more parent cycles\n";
    Outcome result = run({"ls", "--path", "/top", listing});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "a\nx\n");
    EXPECT_EQ(result.err, warnings);
    result = run({"resolve", "--json", listing, "/top/a/b/a"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.substr(0, result.out.find(",\"steps\"")), "{\"path\":\"/top/a/b/a\",\"root\":\"root\"");
    EXPECT_EQ(result.err, warnings);

    const std::string across = "ostrel-gdrive: " + tree
                               + ": warning: --ids over files of several folders marks names of different folders "
                                 "against each other; list one folder of a tree with --path\n";
    result = run({"ls", "--ids", tree});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 59);
    EXPECT_EQ(result.err, across);
    // One folder's files share their parent, even with a second one.
    const std::string folder_listing = write_temp(
        "folder.ndjson", "{\"name\": \"n\", \"parents\": [\"p\", \"q\"]}\n{\"name\": \"n\", \"parents\": [\"p\"]}\n"
                         "{\"name\": \"m\"}\n");
    result = run({"ls", "--ids", folder_listing});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
}

TEST(Cli, OutExpandAndConfiguration)
{
    Outcome result = run({"out", "--name", "a/b", "--mime", "application/vnd.google-apps.document", "--id", "1x"});
    EXPECT_EQ(result.out, "a{slash}b.{ID1x}.gdoc\n");
    const passwd *user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    // From the password database, as the plug-in expands them, not the environment.
    result = run({"expand", "$HOME/data/$LOGNAME"}, "/dev/null", "HOME=/elsewhere LOGNAME=someone");
    EXPECT_EQ(result.out, std::string(user->pw_dir) + "/data/" + user->pw_name + "\n");

    const std::string config = write_temp("plugin.conf",
                                          "# the plug-in's file\nclient_id = abc\nexport_documents = docx\n"
                                          "export_drawings = jpg  # photos\n");
    result = run({"--config", config, "out", "--name", "N", "--mime", "application/vnd.google-apps.document"});
    EXPECT_EQ(result.out, "N{export-gdoc}.docx\n");
    result = run({"out", "--config", config, "--export", "documents=gdoc", "--name", "N", "--mime",
                  "application/vnd.google-apps.drawing"});
    EXPECT_EQ(result.out, "N{export-gdraw}.jpg\n");
    result = run({"--config", config, "--export", "documents=gdoc", "out", "--name", "N", "--mime",
                  "application/vnd.google-apps.document"});
    EXPECT_EQ(result.out, "N.gdoc\n");
    EXPECT_EQ(result.err, "");

    // A misspelt export key is said; other unknown keys are the plug-in's.
    const std::string misspelt = write_temp("misspelt.conf", "client_id = abc\n  export_documnets = pdf # typo\n"
                                                             "export_drawings = png\nexport_ = x\nexported = y\n");
    result = run({"--config", misspelt, "out", "--name", "N", "--mime", "application/vnd.google-apps.document"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "N.gdoc\n");
    const std::string keys = "\" is ignored; the export keys are export_documents, export_spreadsheets, "
                             "export_presentations, export_drawings\n";
    EXPECT_EQ(result.err, "ostrel-gdrive: " + misspelt + ":2: warning: unknown key \"export_documnets" + keys
                              + "ostrel-gdrive: " + misspelt + ":4: warning: unknown key \"export_" + keys);
}

struct ErrorCase {
    const char *name;
    std::vector<std::string> args;
    int status;
    std::string err;
};

TEST(Cli, ErrorsAreOneLineWithTheirExitStatus)
{
    const std::string bad_json = write_temp("bad.json", "{\"files\": [\n  {\"name\": \"a\"},\n  {\"name\": }\n]}\n");
    const std::string bad_line = write_temp("bad.ndjson", "{\"name\": \"a\"}\n{\"name\": \"b\"\n");
    const std::string not_object = write_temp("num.ndjson", "{\"name\": \"a\"}\n42\n");
    const std::string scalar = write_temp("scalar.json", "\"just text\"\n");
    const std::string bad_config = write_temp("bad.conf", "export_documents = pdf\nthis line is wrong\n");
    const std::string missing = ostrel::test::temp_path("missing.json");
    const std::string two_roots = write_temp(
        "roots.ndjson", "{\"id\": \"1\", \"name\": \"x\", \"parents\": [\"0B\"]}\n{\"id\": \"2\", \"name\": \"y\", "
                        "\"parents\": [\"0A\"]}\n");
    const std::string bad_format = write_temp("format.conf", "export_spreadsheets = XLSX\n");
    const std::string drive_error = write_temp(
        "error.json", "{\n  \"error\": {\n    \"code\": 401,\n    \"message\": \"Request had invalid authentication "
                      "credentials.\"\n  }\n}\n");
    const std::string drive_error_line
        = write_temp("error.ndjson", "{\"error\": {\"code\": 403, \"message\": \"Rate \\u009b limit\"}}\n");
    const std::string files_text = write_temp("oops.json", "{\"files\":\n \"oops\"}");
    const std::string files_null = write_temp("null.json", "{\"files\":\n null}");
    const std::string item_number = write_temp("item.json", "{\"files\": [\n{\"name\": \"a\"}, 7]}");
    const std::string bad_time = write_temp(
        "time.ndjson", "{\"name\": \"a\"}\n\n{\"name\": \"b\"}\n{\"id\": \"1AbC\", \"modifiedTime\": \"2021-03-04\"}\n");
    const std::string bad_parent
        = write_temp("parent.json", "[{\"name\": \"a\"},\n {\"id\": \"2x\", \"name\": \"b\", \"parents\": [\"p\", 5]}]");
    const std::string unnamed
        = write_temp("unnamed.ndjson", "{\"id\": \"1a\", \"name\": \"a\"}\n{\"id\": \"1b\"}\n{\"size\": \"3\"}\n");
    const std::string blank_column = write_temp("blank.ndjson", "{\"name\": \"a\"}\n   {\"name\": \"b\"\n");
    const std::string hostile_json = write_temp("hostile.json", "[{\"name\": \"a\xe2\x80\xae\n\"}]");
    const std::string empty = write_temp("empty.json", "");
    const std::string blanks = write_temp("blanks.json", " \n\t\r\n");
    const std::string nul_after_page = write_temp("nul.json", std::string("{\"files\": []}\n  \0\0", 18));
    const std::string nul_in_name = write_temp("nul-name.json", "[{\"name\": \"a\\u0000b\"}]");
    // A page that starts within its line: its columns count from the line's start.
    const std::string second_on_line = write_temp("second.json", "{\"files\": []} {\"files\": [1,}\n");
    const std::string second_line_on = write_temp("second-next.json", "{\"files\": []} {\"files\": [\n1,}\n");
    std::string many_roots_text;
    for (int i = 0; i < 7; ++i) {
        many_roots_text += "{\"id\": \"f" + std::to_string(i) + "\", \"name\": \"x\", \"parents\": [\"0R" + std::to_string(i) + "\"]}\n";
    }
    const std::string many_roots = write_temp("many-roots.ndjson", many_roots_text);
    const ErrorCase cases[] = {
        {"bad JSON", {"ls", bad_json}, 1,
         "ostrel-gdrive: " + bad_json + ":3:12: invalid JSON: unexpected token near '}'\n"},
        {"bad line", {"ls", bad_line}, 1,
         "ostrel-gdrive: " + bad_line + ":2:12: invalid JSON: '}' expected near end of file\n"},
        {"not an object", {"ls", not_object}, 1,
         "ostrel-gdrive: " + not_object + ":2:1: expected one file resource (a JSON object) per line\n"},
        {"not a listing", {"ls", scalar}, 1,
         "ostrel-gdrive: " + scalar +
             ": not a listing: expected a files.list response, an array of files or one file per line\n"},
        {"missing listing", {"ls", missing}, 1, "ostrel-gdrive: " + missing + ": No such file or directory\n"},
        {"folder as listing", {"ls", source_dir}, 1, "ostrel-gdrive: " + source_dir + ": Is a directory\n"},
        {"refused for writing", {"in", "--write", "n{export-gdoc}.pdf", "ok"}, 1,
         "ostrel-gdrive: in: \"n{export-gdoc}.pdf\" refused: 553 INVALID_PATH_NAME: File names cannot end with a "
         "string that matches the regex: \\{export-([A-Za-z0-9]+)\\}\\.([A-Za-z0-9]+), e.g. name{export-gdoc}.pdfIf "
         "you are uploading an exported document then you must change its name first.\n"},
        {"second id", {"in", "a.{IDx}.{IDy}"}, 1, "ostrel-gdrive: in: \"a.{IDx}.{IDy}\" refused: 553 INVALID_PATH_NAME\n"},
        {"not UTF-8", {"split", "/a/b\xff"}, 1,
         "ostrel-gdrive: split: \"/a/b\\xff\" refused: 553 INVALID_PATH_NAME: Invalid or incomplete multibyte or wide "
         "character\n"},
        {"lone byte", {"in", "lone\x80" "byte"}, 1,
         "ostrel-gdrive: in: \"lone\\x80byte\" refused: 553 INVALID_PATH_NAME: Invalid or incomplete multibyte or wide "
         "character\n"},
        {"slash in a name", {"in", "a/b"}, 1,
         "ostrel-gdrive: in: \"a/b\" refused: a name cannot hold \"/\"; see \"ostrel-gdrive split\" for paths\n"},
        {"bad configuration", {"--config", bad_config, "formats"}, 1,
         "ostrel-gdrive: " + bad_config + ": Syntax error line 2\n"},
        {"unknown option", {"ls", "--bogus", example}, 2, "ostrel-gdrive: unknown option \"--bogus\" (see --help)\n"},
        {"unknown option first", {"--bogus"}, 2, "ostrel-gdrive: unknown option \"--bogus\" (see --help)\n"},
        {"unknown short option", {"-V"}, 2, "ostrel-gdrive: unknown option \"-V\" (see --help)\n"},
        {"unknown option with a value", {"out", "--name", "-V", "--mine=x"}, 2,
         "ostrel-gdrive: unknown option \"--mine\" (see --help)\n"},
        {"value option twice", {"ls", "--path", "/a", "--path=/b", tree}, 2,
         "ostrel-gdrive: --path given 2 times; give it once (see --help)\n"},
        {"value option three times", {"out", "--name", "a", "--id", "1", "--id", "2", "--id", "3"}, 2,
         "ostrel-gdrive: --id given 3 times; give it once (see --help)\n"},
        {"kind twice in --export", {"--export", "documents=pdf,drawings=png,documents=odt", "formats"}, 2,
         "ostrel-gdrive: --export documents= given 2 times; give it once (see --help)\n"},
        {"zeros", {"ls", "/dev/zero"}, 1, "ostrel-gdrive: /dev/zero:1:1: invalid JSON: \\x00 cannot start a JSON value\n"},
        {"zeros as a tree", {"resolve", "/dev/zero", "/"}, 1,
         "ostrel-gdrive: /dev/zero:1:1: invalid JSON: \\x00 cannot start a JSON value\n"},
        {"NUL after a page", {"ls", nul_after_page}, 1,
         "ostrel-gdrive: " + nul_after_page + ":2:3: invalid JSON: \\x00 cannot start a JSON value\n"},
        {"NUL in a name", {"ls", nul_in_name}, 1,
         "ostrel-gdrive: " + nul_in_name + ":1:20: invalid JSON: a NUL character (\\u0000) in a JSON string near "
         "'\"a\\\\u0000b\"'\n"},
        {"error on the first line of a later page", {"ls", second_on_line}, 1,
         "ostrel-gdrive: " + second_on_line + ":1:28: invalid JSON: unexpected token near '}'\n"},
        {"error on a later line of a later page", {"ls", second_line_on}, 1,
         "ostrel-gdrive: " + second_line_on + ":2:3: invalid JSON: unexpected token near '}'\n"},
        {"empty listing", {"ls", empty}, 1, "ostrel-gdrive: no listing in " + empty + "\n"},
        {"blank listing", {"ls", blanks}, 1, "ostrel-gdrive: no listing in " + blanks + "\n"},
        {"/dev/null", {"ls", "/dev/null"}, 1, "ostrel-gdrive: no listing in /dev/null\n"},
        {"empty standard input", {"ls", "-"}, 1, "ostrel-gdrive: no listing in -\n"},
        {"empty second file", {"ls", example, empty}, 1, "ostrel-gdrive: no listing in " + empty + "\n"},
        {"empty tree", {"resolve", blanks, "/"}, 1, "ostrel-gdrive: no listing in " + blanks + "\n"},
        {"unknown root", {"ls", "--root", "NOPE", "--path", "/", tree}, 1,
         "ostrel-gdrive: " + tree + ": --root NOPE: no listed file has this id or this parent\n"},
        {"root not a folder", {"resolve", "--root", "1T014notes", tree, "/"}, 1,
         "ostrel-gdrive: " + tree + ": --root 1T014notes: \"notes\" (1T014notes) is not a folder\n"},
        {"root without path", {"ls", "--root", "0AMyDriveRoot", tree}, 2,
         "ostrel-gdrive: ls: --root is for a tree listing and needs --path (see --help)\n"},
        {"many roots", {"ls", "--path", "/", many_roots}, 1,
         "ostrel-gdrive: " + many_roots + ": 7 roots (0R0, 0R1, 0R2, 0R3, 0R4, ...); --root ID picks the one to walk\n"},
        {"no path to resolve", {"resolve", tree}, 2,
         "ostrel-gdrive: resolve: PATH or --paths-from FILE is required (see --help)\n"},
        {"paths and listing both on standard input", {"resolve", "-", "--paths-from", "-"}, 2,
         "ostrel-gdrive: resolve: the listing and --paths-from cannot both be standard input\n"},
        {"paths file missing", {"resolve", tree, "--paths-from", missing}, 1,
         "ostrel-gdrive: --paths-from: " + missing + ": No such file or directory\n"},
        {"no command", {}, 2,
         "ostrel-gdrive: a command is required (commands: ls, resolve, query, in, out, split, expand, formats, stat, get, put, mkdir, rm, rmdir, mv, md5) (see --help)\n"},
        {"unknown command", {"--export", "documents=pdf", "lss", example}, 2,
         "ostrel-gdrive: unknown command \"lss\" (commands: ls, resolve, query, in, out, split, expand, formats, stat, get, put, mkdir, rm, rmdir, mv, md5) (see --help)\n"},
        {"option twice", {"--export", "documents=pdf", "ls", "--export", "drawings=png", example}, 2,
         "ostrel-gdrive: --export given 2 times; give it once (see --help)\n"},
        {"unknown trace level", {"--debug", "FOO", "formats"}, 2,
         "OSTREL_GOOGLE_DRIVE_DEBUG: tracing off, cannot use \"FOO\": LEVELS must be a decimal mask, level names joined "
         "by \"|\", or ALL\nostrel-gdrive: --debug: \"FOO\" is not LEVELS[,FILE[,FLAGS]]: LEVELS a decimal mask, level "
         "names (TRACE, DEBUG, INFO, WARN, ERROR) joined by \"|\", or ALL; FLAGS 0 to 3\n"},
        {"trace file in a missing directory", {"--debug", "ALL," + missing + "/x", "formats"}, 2,
         "OSTREL_GOOGLE_DRIVE_DEBUG: tracing off, cannot use \"ALL," + missing + "/x\": No such file or directory\n"
         "ostrel-gdrive: --debug: cannot write the trace file \"" + missing + "/x\": its directory \"" + missing
             + "\" is missing\n"},
        {"missing argument", {"split"}, 2, "ostrel-gdrive: PATH is required (see --help)\n"},
        {"unknown kind", {"--export", "books=pdf", "formats"}, 2,
         "ostrel-gdrive: --export: \"books=pdf\" is not KIND=FORMAT with KIND one of documents, spreadsheets, "
         "presentations, drawings\n"},
        {"format not allowed", {"--export", "documents=epub", "formats"}, 2,
         "ostrel-gdrive: --export: \"epub\" is not a format for documents; allowed: docx, odt, rtf, pdf, txt, gdoc\n"},
        {"format in capitals", {"--export", "documents=PDF", "formats"}, 2,
         "ostrel-gdrive: --export: \"PDF\" is not a format for documents; allowed: docx, odt, rtf, pdf, txt, gdoc\n"},
        {"unknown format", {"--export", "drawings=bmp", "formats"}, 2,
         "ostrel-gdrive: --export: \"bmp\" is not a format for drawings; allowed: pdf, jpg, png, svg, gdraw\n"},
        {"configuration directory", {"--config", source_dir, "formats"}, 1,
         "ostrel-gdrive: " + source_dir + ": Is a directory\n"},
        {"configuration missing", {"--config", missing, "formats"}, 1,
         "ostrel-gdrive: " + missing + ": No such file or directory\n"},
        {"configuration value", {"--config", bad_format, "formats"}, 1,
         "ostrel-gdrive: " + bad_format
             + ": export_spreadsheets = XLSX: \"XLSX\" is not a format for spreadsheets; allowed: pdf, zip, xlsx, "
               "ods, csv, tsv, gsheet\n"},
        {"Drive error reply", {"ls", drive_error}, 1,
         "ostrel-gdrive: " + drive_error + ":1: Drive answered 401: Request had invalid authentication credentials.\n"},
        {"Drive error reply on one line", {"ls", drive_error_line}, 1,
         "ostrel-gdrive: " + drive_error_line + ":1: Drive answered 403: Rate \\u009b limit\n"},
        {"files not an array", {"ls", files_text}, 1,
         "ostrel-gdrive: " + files_text + ":1: not a listing: \"files\" is not an array of file resources\n"},
        {"files null", {"ls", files_null}, 1,
         "ostrel-gdrive: " + files_null + ":1: not a listing: \"files\" is not an array of file resources\n"},
        {"item not an object", {"ls", item_number}, 1,
         "ostrel-gdrive: " + item_number + ": page 1, item 2: not a file resource (a JSON object)\n"},
        {"bad time", {"ls", bad_time}, 1,
         "ostrel-gdrive: " + bad_time + ":4: file 1AbC: \"modifiedTime\": not a Drive time (2021-03-04)\n"},
        {"parent not a text", {"ls", bad_parent}, 1,
         "ostrel-gdrive: " + bad_parent + ": item 2: file 2x: \"parents\": not a list of file ids ([\"p\",5])\n"},
        {"no name", {"ls", unnamed}, 1,
         "ostrel-gdrive: " + unnamed + ":2: file 1b: no \"name\": left out (the listing must be fetched with the name "
         "field)\nostrel-gdrive: " + unnamed + ":3: no \"name\": left out (the listing must be fetched with the name "
         "field)\nostrel-gdrive: " + unnamed + ": 2 files were left out for want of a name\n"},
        {"column after blanks", {"ls", blank_column}, 1,
         "ostrel-gdrive: " + blank_column + ":2:15: invalid JSON: '}' expected near end of file\n"},
        {"hostile text near", {"ls", hostile_json}, 1,
         "ostrel-gdrive: " + hostile_json + ":1:13: invalid JSON: unexpected newline near '\"a\\u202e'\n"},
        {"id outside the ID set", {"out", "--name", "x", "--id", "a/b"}, 1,
         "ostrel-gdrive: cannot list \"x\": 553 INVALID_PATH_NAME: The file id \"a/b\" is not a Drive file id: an id "
         "is one or more letters, digits, \"_\", \"-\" or blanks\n"},
        {"long and json", {"ls", "-l", "--json", example}, 2, "ostrel-gdrive: ls: choose one of -l and --json\n"},
        {"path that does not resolve", {"resolve", tree, "/Projects/2024/report.pdf", "/Projects/none"}, 1,
         "ostrel-gdrive: resolve: \"/Projects/2024/report.pdf\": 550 AMBIGUOUS_PATH: 2 files in the folder have this "
         "name; list the folder to see their names with ID tokens (at \"/Projects/2024/report.pdf\")\n"
         "ostrel-gdrive: resolve: \"/Projects/none\": 550 PATH_NOT_FOUND: No file in the folder has this name (at "
         "\"/Projects/none\")\n"},
        {"several roots", {"resolve", two_roots, "/x"}, 1,
         "ostrel-gdrive: " + two_roots + ": 2 roots (0A, 0B); --root ID picks the one to walk\n"},
        {"bad parent", {"query", "--parent", "a'b", "x"}, 1,
         "ostrel-gdrive: query: \"x\" refused: 553 INVALID_PATH_NAME: The parent id \"a'b\" is not a Drive file id: "
         "an id is one or more letters, digits, \"_\", \"-\" or blanks\n"},
    };
    for (const ErrorCase &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome result = run(c.args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, c.err);
    }
}

TEST(Cli, DebugTracesTheLibraryToStandardError)
{
    const Outcome result = run({"--debug", "ERROR|DEBUG", "in", "{dot}"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find(": DEBUG: "), std::string::npos);
    EXPECT_NE(result.err.find("ostrel_google_drive_name_translate_in: Translating the input name {dot}\n"),
              std::string::npos);
    EXPECT_EQ(result.err.find(": TRACE: "), std::string::npos);

    // A value that would drive the terminal is shown escaped, not used.
    const std::string hostile = "\x1b[31m\xe2\x80\xae,/tmp/x\xe2\x80\x8b";
    const Outcome given = run({"--debug", hostile, "in", "x"});
    EXPECT_EQ(given.status, 2);
    EXPECT_EQ(given.out, "");
    EXPECT_EQ(given.err, "ostrel-gdrive: --debug: \"\\x1b[31m\\u202e,/tmp/x\\u200b\" holds control, invisible or "
                         "non-UTF-8 characters (see --help)\n");
    const Outcome inherited = run({"in", "x"}, "/dev/null", quoted("OSTREL_GOOGLE_DRIVE_DEBUG=" + hostile));
    EXPECT_EQ(inherited.status, 0);
    EXPECT_NE(inherited.out, "");
    EXPECT_EQ(inherited.err, "ostrel-gdrive: warning: OSTREL_GOOGLE_DRIVE_DEBUG: \"\\x1b[31m\\u202e,/tmp/x\\u200b\" "
                             "holds control, invisible or non-UTF-8 characters: tracing off\n");
}

// Runs the tool with args, standard input a pipe that feed fills, and gives
// its peak resident size in KiB.
long peak_kib(const std::vector<std::string> &args, const std::function<void(int)> &feed = {})
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
        close(fds[1]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        setenv("ASAN_OPTIONS", "quarantine_size_mb=1", 1);
        std::vector<char *> argv = {const_cast<char *>(OSTREL_TOOL_FILE)};
        for (const std::string &arg : args) {
            argv.push_back(const_cast<char *>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(OSTREL_TOOL_FILE, argv.data());
        _exit(127);
    }
    close(fds[0]);
    if (feed) {
        const auto old = std::signal(SIGPIPE, SIG_IGN);
        feed(fds[1]);
        std::signal(SIGPIPE, old);
    }
    close(fds[1]);
    int status = 0;
    rusage usage = {};
    EXPECT_EQ(wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return usage.ru_maxrss;
}

TEST(Cli, ANewlineDelimitedListingStreamsInBoundedMemory)
{
    const std::string small = write_temp("small.ndjson", "{\"id\": \"0\", \"name\": \"f\"}\n");
    std::ofstream big(ostrel::test::temp_path("big.ndjson"));
    for (int i = 0; i < 200000; ++i) {
        big << R"({"kind": "drive#file", "id": "1AbCdEfGhIjKlMnOpQrStUvWxYz)" << i << R"(", "name": "report )" << i
            << R"(.pdf", "mimeType": "application/pdf", "modifiedTime": "2024-04-30T17:02:55.000Z", "size": ")" << i
            << R"(", "md5Checksum": "9e107d9d372bb6826bd81d3542a419d6", "parents": ["0AFolderShared"], )"
            << R"("owners": [{"emailAddress": "ana.ruiz@example.org"}], "trashed": false})" << "\n";
    }
    big.close();
    const long baseline = peak_kib({"ls", "-l", small});
    const long streamed = peak_kib({"ls", "-l", ostrel::test::temp_path("big.ndjson")});
    // The listing is about 70 MB; one entry at a time needs next to nothing.
    EXPECT_LT(streamed - baseline, 8 * 1024) << "baseline " << baseline << " KiB, streamed " << streamed << " KiB";
}

// Pretty-printed pages one after another, as a paging loop writes them, are
// read a page at a time: 1 000 pages of 250 files (about 90 MB, through a
// pipe) in memory for one page.
TEST(Cli, PagesOneAfterAnotherAreReadInMemoryForOnePage)
{
    const long baseline = peak_kib({"ls", "-l", write_temp("small.json", "{\"files\": [{\"name\": \"f\"}]}")});
    const long paged = peak_kib({"ls", "-l", "-"}, [](int fd) {
        size_t n = 0;
        for (int page = 0; page < 1000; ++page) {
            std::string text = "{\n  \"kind\": \"drive#fileList\",\n  \"files\": [\n";
            for (int i = 0; i < 250; ++i, ++n) {
                const std::string number = std::to_string(n);
                text += std::string(i == 0 ? "" : ",\n") + "    {\n      \"kind\": \"drive#file\",\n      \"id\": \"1AbCdEfGh"
                        + number + "\",\n      \"name\": \"report " + number
                        + ".pdf\",\n      \"mimeType\": \"application/pdf\",\n      \"modifiedTime\": "
                          "\"2024-04-30T17:02:55.000Z\",\n      \"size\": \"" + number
                        + "\",\n      \"md5Checksum\": \"9e107d9d372bb6826bd81d3542a419d6\",\n      \"parents\": [\n"
                          "        \"0AFolderShared\"\n      ],\n      \"trashed\": false\n    }";
            }
            text += "\n  ]\n}\n";
            for (size_t done = 0; done < text.size();) {
                const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
                if (wrote <= 0) {
                    return;
                }
                done += static_cast<size_t>(wrote);
            }
        }
    });
    EXPECT_LT(paged - baseline, 64 * 1024) << "baseline " << baseline << " KiB, paged " << paged << " KiB";
}

}  // namespace
