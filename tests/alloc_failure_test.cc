// Allocation failures: for every operation that allocates, the k-th
// allocation (the library's own and Jansson's) fails, k = 1, 2, ... until
// the operation completes without one. Each failure must give the "malloc"
// system error (or the operation's documented fallback), leave no output
// half-filled and leak nothing (LeakSanitizer and valgrind watch).
#include <gtest/gtest.h>

#include "support/temp_path.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "memory.h"
#include "support/drive_model.h"
#include "support/names.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::ModuleTest;
using ostrel::test::OwnedError;

long countdown = 0;
bool fail_kth() noexcept
{
    return countdown > 0 && --countdown == 0;
}

}  // namespace

// The host's safe allocator stops the process when it fails; nothing but
// ostrel_google_drive_name_out itself may reach it.
extern "C" bool (*ostrel_stand_in_safe_malloc_fails)(void) noexcept;

namespace {

void *json_malloc(size_t size)
{
    return ostrel::gdc::alloc_fails() ? nullptr : std::malloc(size);
}

long total_points = 0;

bool is_malloc_error(ostrel_result_t result);

// No allocation fails while it lives: for what the test itself allocates.
struct Paused {
    Paused() : saved(countdown) { countdown = 0; }
    ~Paused() { countdown = saved; }
    Paused(const Paused &) = delete;
    Paused &operator=(const Paused &) = delete;
    long saved;
};

class AllocFailure : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        json_get_alloc_funcs(&saved_malloc_, &saved_free_);
        json_set_alloc_funcs(json_malloc, std::free);
        ASSERT_EQ(ostrel_google_drive_export_set_config("pdf", nullptr, nullptr, nullptr), OSTREL_SUCCESS);
    }
    void TearDown() override
    {
        std::printf("[ points   ] allocation failure points in this test: %ld\n", total_points);
        RecordProperty("failure_points", std::to_string(total_points));
        total_points = 0;
        ostrel::gdc::alloc_fail_hook = nullptr;
        json_set_alloc_funcs(saved_malloc_, saved_free_);
        EXPECT_EQ(ostrel_google_drive_export_set_config(nullptr, nullptr, nullptr, nullptr), OSTREL_SUCCESS);
        ModuleTest::TearDown();
    }

    // Runs op with its k-th allocation failing until it runs without a
    // failure; op returns whether what it saw is acceptable. Gives the
    // number of failure points.
    long failure_points(const char *what, const std::function<bool(bool)> &op)
    {
        for (long k = 1; k < 100000; ++k) {
            countdown = k;
            ostrel::gdc::alloc_fail_hook = fail_kth;
            ostrel_stand_in_safe_malloc_fails = fail_kth;
            const bool acceptable = op(true);
            ostrel::gdc::alloc_fail_hook = nullptr;
            ostrel_stand_in_safe_malloc_fails = nullptr;
            const bool injected = countdown == 0;
            EXPECT_TRUE(acceptable || injected) << what << ": failed without an allocation failure";
            if (!injected) {
                total_points += k - 1;
                std::printf("[ points   ] %-40s %ld\n", what, k - 1);
                return k - 1;
            }
        }
        ADD_FAILURE() << what << " never completed";
        return 0;
    }

    // Runs op (the call; it frees what it is handed and returns a summary
    // of its outputs) with its k-th allocation failing, k = 1, 2, ...: each
    // run ends as the undisturbed run does, or with the "malloc" error and
    // the outputs summarised as absent.
    long same_or_malloc(const char *what, const std::string &absent,
                        const std::function<std::string(ostrel_result_t *)> &op)
    {
        ostrel_result_t result = OSTREL_SUCCESS;
        std::string expected = op(&result);
        expected += OwnedError(result).chain();
        return failure_points(what, [&](bool) {
            ostrel_result_t failed = OSTREL_SUCCESS;
            const std::string outputs = op(&failed);
            const Paused paused;
            if (ostrel_error_get_errno(ostrel_error_peek(failed)) == ENOMEM) {
                EXPECT_EQ(outputs, absent) << what;
                return is_malloc_error(failed) && outputs == absent;
            }
            const std::string seen = outputs + OwnedError(failed).chain();
            EXPECT_EQ(seen, expected) << what;
            return seen == expected;
        });
    }

private:
    json_malloc_t saved_malloc_ = nullptr;
    json_free_t saved_free_ = nullptr;
};

// A failed result is the "malloc" system error with ENOMEM.
bool is_malloc_error(ostrel_result_t result)
{
    OwnedError error(result);
    char *text = ostrel_error_print_chain(error.error);
    const bool ok = ostrel_error_get_errno(error.error) == ENOMEM && text != nullptr
                    && std::strncmp(text, "System error in malloc", 22) == 0;
    std::free(text);
    EXPECT_TRUE(ok) << error.chain();
    return ok;
}

TEST_F(AllocFailure, NameTranslationBothWays)
{
    const std::string long_name = std::string(300, 'x') + "{slash}.{IDlong}.gdoc";
    for (const std::string &name : {std::string("plain.txt"), std::string("n{slash}.{IDab}.gdoc"),
                                    std::string("x{export-gdoc}.pdf"), std::string("{dot}"), long_name}) {
        EXPECT_GT(failure_points(("translate_in " + name.substr(0, 20)).c_str(), [&](bool) {
            char *out = reinterpret_cast<char *>(1);
            char *id = reinterpret_cast<char *>(1);
            const char *mime = nullptr;
            const ostrel_result_t result = ostrel_google_drive_name_translate_in(name.c_str(), &out, &mime, &id, false);
            if (result == OSTREL_SUCCESS) {
                // Success hands out the name, whatever failed on the way.
                const bool whole = out != nullptr && out != reinterpret_cast<char *>(1)
                                   && id != reinterpret_cast<char *>(1);
                EXPECT_TRUE(whole);
                std::free(out);
                std::free(id);
                return whole;
            }
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(id, nullptr);
            return is_malloc_error(result);
        }), 0);
    }
    const std::string long_drive = std::string(300, '/');
    const std::string long_plain = std::string(300, 'p');
    for (const char *name : {"a/b", "Notes", ".", long_drive.c_str(), long_plain.c_str()}) {
        ostrel_google_metadata_t metadata = {};
        metadata.name = const_cast<char *>(name);
        metadata.mime_type = const_cast<char *>("application/vnd.google-apps.document");
        metadata.id = const_cast<char *>("1AbC");
        for (const bool append_id : {true, false}) {
            metadata.append_id = append_id;
            const std::string expected = ostrel::test::translate_out(name, metadata.mime_type,
                                                                     append_id ? metadata.id : nullptr);
            failure_points("translate_out", [&](bool) {
                char *out = reinterpret_cast<char *>(1);
                const ostrel_result_t result = ostrel_google_drive_name_translate_out(&metadata, &out);
                if (result == OSTREL_SUCCESS) {
                    // Success hands out the whole name, whatever failed on the way.
                    const bool whole = out != nullptr && out != reinterpret_cast<char *>(1) && out == expected;
                    EXPECT_TRUE(whole) << name;
                    if (out != reinterpret_cast<char *>(1)) {
                        std::free(out);
                    }
                    return whole;
                }
                EXPECT_EQ(out, nullptr);
                return is_malloc_error(result);
            });
        }
    }
}

TEST_F(AllocFailure, PathsAndEvaluation)
{
    const char *const path = "/a/b.{IDq}/c{slash}d/e.gsheet";
    EXPECT_GT(failure_points("path_split", [&](bool) {
        ostrel_google_drive_path_t split = {9, reinterpret_cast<ostrel_google_drive_path_element_t *>(1)};
        const ostrel_result_t result = ostrel_google_drive_path_split(path, &split, false);
        if (result != OSTREL_SUCCESS) {
            EXPECT_EQ(split.count, 0u);
            EXPECT_EQ(split.elements, nullptr);
            return is_malloc_error(result);
        }
        for (uint64_t i = 0; i < split.count; ++i) {
            std::free(split.elements[i].name);
            std::free(split.elements[i].id);
        }
        std::free(split.elements);
        return true;
    }), 0);
    ostrel_google_drive_path_t split = {0, nullptr};
    ASSERT_EQ(ostrel_google_drive_path_split(path, &split, false), OSTREL_SUCCESS);
    EXPECT_GT(failure_points("partial_path_construct", [&](bool) {
        char *partial = reinterpret_cast<char *>(1);
        const ostrel_result_t result = ostrel_google_drive_partial_path_construct(&split, split.count, &partial);
        if (result != OSTREL_SUCCESS) {
            EXPECT_EQ(partial, nullptr);
            return is_malloc_error(result);
        }
        std::free(partial);
        return true;
    }), 0);
    for (uint64_t i = 0; i < split.count; ++i) {
        std::free(split.elements[i].name);
        std::free(split.elements[i].id);
    }
    std::free(split.elements);
    for (const char *unevaluated : {"$HOME/x/$LOGNAME", "/no/variable"}) {
        char *whole = nullptr;
        ASSERT_EQ(ostrel_google_drive_evaluate_path(unevaluated, &whole), OSTREL_SUCCESS);
        const std::string expected = whole;
        std::free(whole);
        EXPECT_GT(failure_points("evaluate_path", [&](bool) {
            char *out = reinterpret_cast<char *>(1);
            const ostrel_result_t result = ostrel_google_drive_evaluate_path(unevaluated, &out);
            if (result != OSTREL_SUCCESS) {
                EXPECT_EQ(out, nullptr);
                return is_malloc_error(result);
            }
            const bool same = out != nullptr && out == expected;
            EXPECT_TRUE(same);
            std::free(out);
            return same;
        }), 0);
    }
}

const char *const resource = R"({"id": "1a", "name": "n", "driveId": "d", "mimeType": "m",
    "modifiedTime": "2021-03-04T05:06:07Z", "viewedByMeTime": "2021-03-04T05:06:07Z", "ownedByMe": true,
    "owners": [{"emailAddress": "a@x"}, {}], "canEdit": true, "starred": false, "trashed": false,
    "explicitlyTrashed": false, "md5Checksum": "abc", "size": "12", "parents": ["p1", "p2"]})";

TEST_F(AllocFailure, MetadataParseCopyConvert)
{
    json_set_alloc_funcs(std::malloc, std::free);
    json_t *json = json_loads(resource, 0, nullptr);
    json_set_alloc_funcs(json_malloc, std::free);
    const ostrel_google_metadata_t empty = {};
    EXPECT_GT(failure_points("metadata_parse", [&](bool) {
        ostrel_google_metadata_t m;
        const ostrel_result_t result = ostrel_google_metadata_parse(json, &m);
        if (result != OSTREL_SUCCESS) {
            EXPECT_EQ(std::memcmp(&m, &empty, sizeof m), 0);
            return is_malloc_error(result);
        }
        ostrel_google_metadata_destroy(&m);
        return true;
    }), 0);
    ostrel_google_metadata_t parsed;
    ASSERT_EQ(ostrel_google_metadata_parse(json, &parsed), OSTREL_SUCCESS);
    const ostrel_google_metadata_t &source = parsed;
    EXPECT_GT(failure_points("metadata_copy", [&](bool) {
        ostrel_google_metadata_t m;
        const ostrel_result_t result = ostrel_google_metadata_copy(&m, &source);
        if (result != OSTREL_SUCCESS) {
            EXPECT_EQ(std::memcmp(&m, &empty, sizeof m), 0);
            return is_malloc_error(result);
        }
        ostrel_google_metadata_destroy(&m);
        return true;
    }), 0);
    for (const ostrel_google_metadata_t *converted : {&source, &empty}) {
        json_set_alloc_funcs(std::malloc, std::free);
        json_t *expected = nullptr;
        ASSERT_EQ(ostrel_google_metadata_convert(converted, &expected), OSTREL_SUCCESS);
        json_set_alloc_funcs(json_malloc, std::free);
        EXPECT_GT(failure_points("metadata_convert (with Jansson's)", [&](bool) {
            json_t *out = json_object();
            json_t *const sentinel = out;
            const ostrel_result_t result = ostrel_google_metadata_convert(converted, &out);
            if (result != OSTREL_SUCCESS) {
                EXPECT_EQ(out, nullptr);
                json_decref(sentinel);
                return is_malloc_error(result);
            }
            // Success hands out the whole object, whatever failed on the way.
            const bool whole = out != nullptr && out != sentinel && json_equal(out, expected);
            EXPECT_TRUE(whole);
            json_decref(out);
            json_decref(sentinel);
            return whole;
        }), converted == &empty ? 0 : 20);
        json_decref(expected);
    }
    ostrel_google_metadata_destroy(&parsed);
    json_decref(json);
}

TEST_F(AllocFailure, ConfigurationExportAndErrors)
{
    char *text = nullptr;
    int32_t number = 0;
    const ostrel_google_drive_config_key_t keys[] = {
        {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, "name", &text, nullptr, nullptr},
        {OSTREL_GOOGLE_DRIVE_CONFIG_INT, "count", nullptr, &number, nullptr},
        {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, nullptr, nullptr, nullptr, nullptr},
    };
    const std::string file = ostrel::test::temp_path("ostrel_alloc.conf");
    std::ofstream(file) << "# c\nname = " << std::string(600, 'v').substr(0, 200) << "\ncount = 3\n";
    for (const bool from_file : {false, true}) {
        EXPECT_GT(failure_points(from_file ? "config_parse_file" : "config_parse_string", [&](bool) {
            const ostrel_result_t result =
                from_file ? ostrel_i_google_drive_config_parse_file(file.c_str(), keys, false)
                          : ostrel_i_google_drive_config_parse_string("name=abc;count=3", keys, false);
            if (result == OSTREL_SUCCESS) {
                std::free(text);
                text = nullptr;
                return true;
            }
            EXPECT_EQ(text, nullptr);
            OwnedError error(result);
            const char *details = ostrel_google_drive_error_get_info(error.error, "GD-Details");
            // The copy of a value fails as a configuration error naming strdup.
            return (details != nullptr && std::strncmp(details, "System error in strdup", 22) == 0)
                   || ostrel_error_get_errno(error.error) == ENOMEM;
        }), 0);
    }
    EXPECT_GT(failure_points("export_set_config", [&](bool) {
        const ostrel_result_t result = ostrel_google_drive_export_set_config("docx", "csv", "odp", "svg");
        if (result != OSTREL_SUCCESS) {
            EXPECT_STREQ(ostrel_google_drive_exported_get_extension("application/vnd.google-apps.document"), ".pdf");
            return is_malloc_error(result);
        }
        return true;
    }), 0);
    EXPECT_GT(failure_points("name_in", [&](bool) {
        char *type = reinterpret_cast<char *>(1);
        char *extension = reinterpret_cast<char *>(1);
        char *out = ostrel_google_drive_name_in("a{export-gdoc}.pdf", false, &type, &extension);
        const bool whole = out != nullptr && type != nullptr && extension != nullptr;
        EXPECT_TRUE(out != nullptr || (type == nullptr && extension == nullptr));
        std::free(out);
        std::free(type);
        std::free(extension);
        return whole;
    }), 0);
    // A refused id: its details text, then the Drive error that carries it.
    EXPECT_GT(failure_points("refused id", [&](bool) {
        ostrel_google_metadata_t metadata = {};
        metadata.name = const_cast<char *>("n");
        metadata.id = const_cast<char *>("x/y");
        metadata.append_id = true;
        char *out = reinterpret_cast<char *>(1);
        const ostrel_result_t result = ostrel_google_drive_name_translate_out(&metadata, &out);
        EXPECT_EQ(out, nullptr);
        if (ostrel_gfs_error_get_ftp_response_code(ostrel_error_peek(result)) != 553) {
            return is_malloc_error(result);
        }
        OwnedError error(result);
        return ostrel_google_drive_error_get_info(error.error, "GD-Details") != nullptr;
    }), 0);
    ostrel_google_drive_error_info_entry_t entries[] = {{const_cast<char *>("K"), const_cast<char *>("V")},
                                                        {const_cast<char *>("L"), const_cast<char *>("W\n")}};
    const ostrel_google_drive_error_info_t info = {2, entries};
    EXPECT_GT(failure_points("drive error construct, add, print", [&](bool) {
        ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, nullptr, &info);
        ostrel_google_drive_error_add_info(error, &info);
        char *printed = ostrel_object_printable_to_string(error);
        const bool whole = printed != nullptr && std::strcmp(printed, "K: \"V\"\nL: \"W\\n\"") == 0;
        std::free(printed);
        ostrel_object_free(error);
        return whole;
    }), 0);
}

// Lookup: a failure marks nothing, finds nothing and writes no query.
TEST_F(AllocFailure, LookupMarkingAndQuery)
{
    const std::string long_name(300, 'n');
    std::vector<ostrel_google_metadata_t> children(4);
    const char *names[] = {"a/b", "a/b", "x.gdoc", long_name.c_str()};
    const char *ids[] = {"i0", "i1", "i2", "i3"};
    for (size_t i = 0; i < children.size(); ++i) {
        children[i].name = const_cast<char *>(names[i]);
        children[i].id = const_cast<char *>(ids[i]);
    }
    EXPECT_GT(failure_points("mark_collisions", [&](bool) {
        for (ostrel_google_metadata_t &child : children) {
            child.append_id = false;
        }
        const ostrel_result_t result = ostrel_google_drive_mark_collisions(children.data(), children.size());
        if (result == OSTREL_SUCCESS) {
            return children[0].append_id && children[1].append_id && !children[2].append_id;
        }
        EXPECT_FALSE(children[0].append_id || children[1].append_id);
        return is_malloc_error(result);
    }), 0);
    for (const std::string &client : {std::string("a{slash}b.{IDi1}"), std::string("x.gdoc"), long_name}) {
        EXPECT_GT(failure_points(("lookup " + client.substr(0, 20)).c_str(), [&](bool) {
            size_t index = 99;
            const ostrel_result_t result =
                ostrel_google_drive_lookup(client.c_str(), children.data(), children.size(), &index);
            if (result == OSTREL_SUCCESS) {
                return index != 99;
            }
            EXPECT_EQ(index, 99u);
            return is_malloc_error(result);
        }), 0);
        EXPECT_GT(failure_points(("lookup_query " + client.substr(0, 20)).c_str(), [&](bool) {
            char *query = reinterpret_cast<char *>(1);
            bool whole_folder = false;
            const ostrel_result_t result = ostrel_google_drive_lookup_query("p", client.c_str(), &query, &whole_folder);
            if (result == OSTREL_SUCCESS) {
                const bool present = query != nullptr && query != reinterpret_cast<char *>(1);
                std::free(query);
                return present;
            }
            EXPECT_EQ(query, nullptr);
            return is_malloc_error(result);
        }), 0);
    }
}

// Refusals too: an error that cannot hold its details is the "malloc" one.
TEST_F(AllocFailure, LookupRefusalsAndErrorDetails)
{
    std::vector<ostrel_google_metadata_t> children(3);
    const char *names[] = {"a", "a", "b"};
    const char *ids[] = {"i0", "i1", "x/y"};
    for (size_t i = 0; i < children.size(); ++i) {
        children[i].name = const_cast<char *>(names[i]);
        children[i].id = const_cast<char *>(ids[i]);
    }
    for (const char *client : {"a", "nothing", "a/b", "bad\xff", "a.{IDi1}"}) {
        EXPECT_GT(same_or_malloc(client, "99", [&](ostrel_result_t *result) {
            size_t index = 99;
            *result = ostrel_google_drive_lookup(client, children.data(), children.size(), &index);
            return std::to_string(index);
        }), 0);
    }
    ostrel_google_drive_error_info_entry_t entries[] = {{const_cast<char *>("K"), const_cast<char *>("V")},
                                                        {const_cast<char *>("L"), const_cast<char *>("W")}};
    const ostrel_google_drive_error_info_t first = {1, entries};
    const ostrel_google_drive_error_info_t both = {2, entries};
    // Construction gives all details or no error; adding adds all or none.
    EXPECT_GT(failure_points("drive error construct and add", [&](bool) {
        ostrel_object_t *error = ostrel_google_drive_error_construct(nullptr, nullptr, &first);
        if (error == nullptr || ostrel_google_drive_error_get_info_count(error) != 1) {
            ostrel_object_free(error);
            return false;
        }
        ostrel_google_drive_error_add_info(error, &both);
        const Paused paused;
        const size_t count = ostrel_google_drive_error_get_info_count(error);
        char *printed = ostrel_object_printable_to_string(error);
        const bool whole = printed != nullptr && std::strcmp(printed, "K: \"V\"\nL: \"W\"") == 0;
        const bool unchanged = count == 1 && (printed == nullptr || std::strcmp(printed, "K: \"V\"") == 0);
        EXPECT_TRUE(whole || unchanged) << count << " " << ostrel::test::text_or_null(printed);
        std::free(printed);
        ostrel_object_free(error);
        return whole;
    }), 0);
}

// The exported functions that talk to Drive, each with the outputs it hands out.
TEST_F(AllocFailure, TalkingToDrive)
{
    const auto request_text = [](ostrel_google_drive_request_t *request) {
        std::string out = request == nullptr ? "NULL" : std::string(request->method) + " " + request->url;
        ostrel_google_drive_request_free(request);
        return out;
    };
    EXPECT_GT(same_or_malloc("request_list", "NULL", [&](ostrel_result_t *result) {
        ostrel_google_drive_request_t *request = nullptr;
        *result = ostrel_google_drive_request_list("http://d", "'p' in parents", "tok en", &request);
        return request_text(request);
    }), 0);
    EXPECT_GT(same_or_malloc("request_get", "NULL", [&](ostrel_result_t *result) {
        ostrel_google_drive_request_t *request = nullptr;
        *result = ostrel_google_drive_request_get("http://d", "f1", "id,name", &request);
        return request_text(request);
    }), 0);
    const std::string error_body = R"({"error": {"code": 404, "message": "File not found: x.", "errors": [{"reason": "notFound"}]}})";
    for (const int status : {404, 403, 500}) {
        EXPECT_GT(same_or_malloc("answer_error", "", [&](ostrel_result_t *result) {
            bool retry = false;
            *result = ostrel_google_drive_answer_error(status, error_body.data(), error_body.size(), "Reading",
                                                       "/a/b", &retry);
            return std::string();
        }), 0);
    }
    const std::string page_body = R"({"files": [{"id": "1", "name": "a", "mimeType": "text/plain"}, 7,
        {"id": "2", "name": "b"}], "nextPageToken": "n"})";
    EXPECT_GT(same_or_malloc("page_parse", "0 NULL 0", [&](ostrel_result_t *result) {
        ostrel_google_drive_page_t page;
        *result = ostrel_google_drive_page_parse(page_body.data(), page_body.size(), &page);
        const std::string out = std::to_string(page.file_count) + " " + ostrel::test::text_or_null(page.next_page_token)
                                + " " + std::to_string(page.refusal_count);
        ostrel_google_drive_page_destroy(&page);
        return out;
    }), 0);
    // A listing of one page, and a walk and an upload start, against the
    // in-process Drive (whose own allocations are left alone).
    ostrel::test::DriveModel drive;
    const std::string folder = drive.add("0Root", "f", ostrel::test::DriveModel::folder_type);
    drive.add(folder, "x");
    drive.add(folder, "x");
    drive.add(folder, "y.txt");
    // next, send, feed, until no request; the model's answers allocate nothing counted.
    const auto run_machine = [&drive](auto *machine, auto next, auto feed) {
        for (;;) {
            ostrel_google_drive_request_t *request = nullptr;
            unsigned long delay = 0;
            ostrel_result_t result = next(machine, &request, &delay);
            if (result != OSTREL_SUCCESS || request == nullptr) {
                return result;
            }
            const ostrel_google_drive_answer_t answer = [&] {
                const Paused paused;
                return drive.answer(*request);
            }();
            ostrel_google_drive_request_free(request);
            result = feed(machine, &answer);
            if (result != OSTREL_SUCCESS) {
                return result;
            }
        }
    };
    EXPECT_GT(same_or_malloc("listing", "NULL", [&](ostrel_result_t *result) {
        ostrel_google_drive_listing_t *listing = nullptr;
        *result = ostrel_google_drive_listing_create(ostrel::test::DriveModel::base_url, folder.c_str(), false, 3,
                                                     &listing);
        std::string out = listing == nullptr ? "NULL" : "";
        if (*result == OSTREL_SUCCESS) {
            *result = run_machine(listing, ostrel_google_drive_listing_next, ostrel_google_drive_listing_feed);
        }
        if (*result == OSTREL_SUCCESS) {
            ostrel_google_metadata_t *children = nullptr;
            size_t count = 0;
            const ostrel_google_drive_refusal_t *refusals = nullptr;
            size_t refusal_count = 0;
            bool incomplete = false;
            *result = ostrel_google_drive_listing_take(listing, &children, &count, &refusals, &refusal_count,
                                                       &incomplete);
            out = std::to_string(count);
            for (size_t i = 0; i < count; ++i) {
                ostrel_google_metadata_destroy(&children[i]);
            }
            std::free(children);
        }
        ostrel_google_drive_listing_free(listing);
        return *result == OSTREL_SUCCESS ? out : "NULL";
    }), 0);
    for (const char *path : {"/f/y.txt", "/f/x", "/f/none"}) {
        EXPECT_GT(same_or_malloc(path, "NULL", [&](ostrel_result_t *result) {
            ostrel_google_drive_walk_t *walk = nullptr;
            *result = ostrel_google_drive_walk_create(ostrel::test::DriveModel::base_url, "root", 3, &walk);
            if (*result == OSTREL_SUCCESS) {
                *result = ostrel_google_drive_walk_start(walk, path, false);
            }
            if (*result == OSTREL_SUCCESS) {
                *result = run_machine(walk, ostrel_google_drive_walk_next, ostrel_google_drive_walk_feed);
            }
            const ostrel_google_metadata_t *file = *result == OSTREL_SUCCESS ? ostrel_google_drive_walk_file(walk)
                                                                              : nullptr;
            const std::string out = file != nullptr ? ostrel::test::text_or_null(file->id) : "NULL";
            ostrel_google_drive_walk_free(walk);
            return out;
        }), 0);
    }
    EXPECT_GT(same_or_malloc("upload start", "NULL", [&](ostrel_result_t *result) {
        ostrel_google_drive_upload_t *upload = nullptr;
        *result = ostrel_google_drive_upload_create(ostrel::test::DriveModel::base_url, folder.c_str(), "new.txt", 10,
                                                    1 << 18, 3, &upload);
        std::string out = "NULL";
        if (*result == OSTREL_SUCCESS) {
            ostrel_google_drive_request_t *request = nullptr;
            unsigned long delay = 0;
            *result = ostrel_google_drive_upload_next(upload, &request, &delay);
            out = request_text(request);
        }
        ostrel_google_drive_upload_free(upload);
        return *result == OSTREL_SUCCESS ? out : "NULL";
    }), 0);
}

// Every refused call clears the outputs it documents as cleared on failure,
// whatever the caller left in them (lookup's index stays untouched).
TEST_F(AllocFailure, RefusedCallsClearTheirOutputs)
{
    using Clears = std::function<bool(ostrel_result_t *)>;
    char *const junk = reinterpret_cast<char *>(1);
    ostrel_google_metadata_t nameless = {};
    nameless.id = const_cast<char *>("i");
    char *trash[] = {const_cast<char *>("Trash")};
    ostrel_google_metadata_t in_trash = nameless;
    in_trash.name = const_cast<char *>("n");
    in_trash.parent_count = 1;
    in_trash.parents = trash;
    const auto zero = [](const auto &record) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(&record);
        return std::all_of(bytes, bytes + sizeof record, [](unsigned char b) { return b == 0; });
    };
    const std::pair<const char *, Clears> calls[] = {
        {"name_translate_in", [&](ostrel_result_t *result) {
             char *name = junk;
             char *id = junk;
             *result = ostrel_google_drive_name_translate_in("a.{IDx}.{IDy}", &name, nullptr, &id, false);
             return name == nullptr && id == nullptr;
         }},
        {"name_translate_out", [&](ostrel_result_t *result) {
             char *name = junk;
             *result = ostrel_google_drive_name_translate_out(&nameless, &name);
             return name == nullptr;
         }},
        {"path_split", [&](ostrel_result_t *result) {
             ostrel_google_drive_path_t split = {9, reinterpret_cast<ostrel_google_drive_path_element_t *>(junk)};
             *result = ostrel_google_drive_path_split("/a/b.{IDx}.{IDy}", &split, false);
             return split.count == 0 && split.elements == nullptr;
         }},
        {"partial_path_construct", [&](ostrel_result_t *result) {
             ostrel_google_drive_path_element_t element = {};
             element.name = const_cast<char *>("f");
             element.append_id = true;
             const ostrel_google_drive_path_t path = {1, &element};
             char *partial = junk;
             *result = ostrel_google_drive_partial_path_construct(&path, 1, &partial);
             return partial == nullptr;
         }},
        {"metadata_convert", [&](ostrel_result_t *result) {
             json_t *json = reinterpret_cast<json_t *>(junk);
             *result = ostrel_google_metadata_convert(&in_trash, &json);
             return json == nullptr;
         }},
        {"lookup_query", [&](ostrel_result_t *result) {
             char *query = junk;
             bool whole_folder = true;
             *result = ostrel_google_drive_lookup_query("", "x", &query, &whole_folder);
             return query == nullptr && !whole_folder;
         }},
        {"lookup", [&](ostrel_result_t *result) {
             size_t index = 99;
             *result = ostrel_google_drive_lookup("x", &in_trash, 1, &index);
             return index == 99;
         }},
        {"stub_content", [&](ostrel_result_t *result) {
             char *content = junk;
             size_t length = 0;
             *result = ostrel_google_drive_stub_content(&in_trash, &content, &length);
             return content == nullptr;
         }},
        {"request_get", [&](ostrel_result_t *result) {
             auto *request = reinterpret_cast<ostrel_google_drive_request_t *>(junk);
             *result = ostrel_google_drive_request_get(nullptr, "a/b", nullptr, &request);
             return request == nullptr;
         }},
        {"answer_error", [&](ostrel_result_t *result) {
             bool retry = true;
             *result = ostrel_google_drive_answer_error(404, nullptr, 0, nullptr, nullptr, &retry);
             return !retry;
         }},
        {"page_parse", [&](ostrel_result_t *result) {
             ostrel_google_drive_page_t page;
             std::memset(&page, 0xab, sizeof page);
             *result = ostrel_google_drive_page_parse("{", 1, &page);
             return zero(page);
         }},
        {"file_parse", [&](ostrel_result_t *result) {
             ostrel_google_metadata_t file;
             std::memset(&file, 0xab, sizeof file);
             *result = ostrel_google_drive_file_parse("[]", 2, &file);
             return zero(file);
         }},
        {"listing_create", [&](ostrel_result_t *result) {
             auto *listing = reinterpret_cast<ostrel_google_drive_listing_t *>(junk);
             *result = ostrel_google_drive_listing_create(nullptr, "a/b", false, 0, &listing);
             return listing == nullptr;
         }},
        {"upload_create", [&](ostrel_result_t *result) {
             auto *upload = reinterpret_cast<ostrel_google_drive_upload_t *>(junk);
             *result = ostrel_google_drive_upload_create(nullptr, "p", "n{export-gdoc}.pdf", 1, 0, 0, &upload);
             return upload == nullptr;
         }},
    };
    for (const auto &[name, call] : calls) {
        ostrel_result_t result = OSTREL_SUCCESS;
        EXPECT_TRUE(call(&result)) << name;
        EXPECT_NE(result, OSTREL_SUCCESS) << name;
        OwnedError taken(result);
    }
    const char *key = junk;
    const char *value = junk;
    EXPECT_FALSE(ostrel_google_drive_error_get_info_entry(nullptr, 0, &key, &value));
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(value, nullptr);
}

}  // namespace
