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

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string source_dir = OSTREL_SOURCE_DIR;
const std::string example = source_dir + "/examples/my-drive.json";

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

// Runs the tool with args (and stdin from a file when given), tracing off.
Outcome run(const std::vector<std::string> &args, const std::string &input = "/dev/null")
{
    const std::string out = ostrel::test::temp_path("cli.out");
    const std::string err = ostrel::test::temp_path("cli.err");
    std::string command = "env -u OSTREL_GOOGLE_DRIVE_DEBUG " + quoted(OSTREL_TOOL_FILE);
    for (const std::string &arg : args) {
        command += " " + quoted(arg);
    }
    command += " <" + quoted(input) + " >" + quoted(out) + " 2>" + quoted(err);
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
    };
    for (const GoldenCase &c : cases) {
        SCOPED_TRACE(c.golden);
        const Outcome result = run(c.args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        expect_golden(c.golden, result.out);
    }
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

TEST(Cli, OutExpandAndConfiguration)
{
    Outcome result = run({"out", "--name", "a/b", "--mime", "application/vnd.google-apps.document", "--id", "1x"});
    EXPECT_EQ(result.out, "a{slash}b.{ID1x}.gdoc\n");
    const passwd *user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    result = run({"expand", "$HOME/data/$LOGNAME"});
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
        {"slash in a name", {"in", "a/b"}, 1,
         "ostrel-gdrive: in: \"a/b\" refused: a name cannot hold \"/\"; see \"ostrel-gdrive split\" for paths\n"},
        {"bad configuration", {"--config", bad_config, "formats"}, 1,
         "ostrel-gdrive: " + bad_config + ": Syntax error line 2\n"},
        {"unknown option", {"ls", "--bogus", example}, 2,
         "ostrel-gdrive: The following argument was not expected: --bogus (see --help)\n"},
        {"no command", {}, 2, "ostrel-gdrive: A subcommand is required (see --help)\n"},
        {"missing argument", {"split"}, 2, "ostrel-gdrive: PATH is required (see --help)\n"},
        {"unknown kind", {"--export", "books=pdf", "formats"}, 2,
         "ostrel-gdrive: --export: \"books=pdf\" is not KIND=FORMAT with KIND one of documents, spreadsheets, "
         "presentations, drawings\n"},
        {"format not allowed", {"--export", "documents=epub", "formats"}, 2,
         "ostrel-gdrive: export formats refused: Not a valid extension for documents types (see \"ostrel-gdrive "
         "formats\")\n"},
        {"unknown format", {"--export", "drawings=bmp", "formats"}, 2,
         "ostrel-gdrive: export formats refused: unsupported extension (see \"ostrel-gdrive formats\")\n"},
        {"long and json", {"ls", "-l", "--json", example}, 2, "ostrel-gdrive: ls: choose one of -l and --json\n"},
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
}

// Runs the tool on a listing and gives its peak resident size in KiB.
long peak_kib(const std::string &listing)
{
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        setenv("ASAN_OPTIONS", "quarantine_size_mb=1", 1);
        execl(OSTREL_TOOL_FILE, OSTREL_TOOL_FILE, "ls", "-l", listing.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
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
    const long baseline = peak_kib(small);
    const long streamed = peak_kib(ostrel::test::temp_path("big.ndjson"));
    // The listing is about 70 MB; one entry at a time needs next to nothing.
    EXPECT_LT(streamed - baseline, 8 * 1024) << "baseline " << baseline << " KiB, streamed " << streamed << " KiB";
}

}  // namespace
