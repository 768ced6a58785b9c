// Name translation, path split and metadata parse and convert from eight
// threads at once, tracing every level to a file: every call gives its
// answer, and trace lines never interleave.
#include <gtest/gtest.h>

#include "support/temp_path.h"

#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/names.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::ModuleTest;
using ostrel::test::translate_in;
using ostrel::test::translate_out;
using Concurrency = ModuleTest;

const char *const resource = R"({"id": "1a", "name": "a/b", "mimeType": "application/vnd.google-apps.document",
    "modifiedTime": "2021-03-04T05:06:07Z", "owners": [{"emailAddress": "a@x"}], "parents": ["p"], "size": "7"})";

void work(std::atomic<int> *wrong)
{
    json_t *json = json_loads(resource, 0, nullptr);
    for (int i = 0; i < 200; ++i) {
        ostrel::test::Inbound in = translate_in("n{slash}.{IDab}.gdoc");
        *wrong += in.name != "n/" || in.id != "ab";
        in = translate_in("bad\xff");
        ostrel_object_free(ostrel_error_get(in.result));
        *wrong += translate_out("a/b", "application/vnd.google-apps.drawing") != "a{slash}b{export-gdraw}.png";

        ostrel_google_drive_path_t split = {0, nullptr};
        *wrong += ostrel_google_drive_path_split("/x/y.{IDq}/z.gsheet", &split, false) != OSTREL_SUCCESS || split.count != 4;
        for (uint64_t k = 0; k < split.count; ++k) {
            std::free(split.elements[k].name);
            std::free(split.elements[k].id);
        }
        std::free(split.elements);

        ostrel_google_metadata_t metadata;
        *wrong += ostrel_google_metadata_parse(json, &metadata) != OSTREL_SUCCESS;
        json_t *converted = nullptr;
        *wrong += ostrel_google_metadata_convert(&metadata, &converted) != OSTREL_SUCCESS;
        json_decref(converted);
        ostrel_google_metadata_destroy(&metadata);
    }
    json_decref(json);
}

TEST_F(Concurrency, EightThreadsTracingToOneFile)
{
    ASSERT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, "png"), OSTREL_SUCCESS);
    const std::string path = ostrel::test::temp_path("ostrel_concurrency.log");
    FILE *file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    const ostrel_debug_handle_t saved = ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle;
    ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle = {0x1f, 0x10, file, 1, 0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back(work, &wrong);
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle = saved;
    std::fclose(file);
    EXPECT_EQ(wrong.load(), 0);
    ASSERT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);

    // A line is "TID::google_drive: LEVEL: PID: FUNCTION: TID::text", the
    // ERROR prefix with a time stamp; a refusal's chain continues on a
    // "GD-Details" line of its own.
    const std::regex line_form("^([0-9]+)(:[0-9]+\\.[0-9]{9})?::google_drive: (TRACE|DEBUG| INFO| WARN|ERROR): [0-9]+: "
                               "[A-Za-z_]+: ([0-9]+)::.*$");
    std::ifstream in(path);
    size_t lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
        if (line.rfind("GD-Details: ", 0) == 0) {
            continue;
        }
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, line_form)) << "line " << lines << ": " << line;
        ASSERT_EQ(match[1], match[4]) << "line " << lines << " mixes two threads: " << line;
        ASSERT_EQ(line.find("google_drive: ", line.find("google_drive: ") + 1), std::string::npos) << line;
    }
    EXPECT_GT(lines, 8u * 200u * 20u);
}

}  // namespace
