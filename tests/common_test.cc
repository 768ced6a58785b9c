// The host common runtime stand-in: what the library relies on it for.
#include <gtest/gtest.h>

#include "support/temp_path.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ostrel_common.h"
#include "support/trace_capture.h"

namespace {

using ostrel::test::OwnedError;

ostrel_object_t *generic_error(const char *text)
{
    return ostrel_error_construct_error(nullptr, nullptr, 6, "test", "generic_error", 1, "%s", text);
}

TEST(ErrorTable, ConcurrentPutPeekGetKeepsHandlesUniqueAndObjectsApart)
{
    constexpr int threads = 8;
    constexpr int per_thread = 2000;
    std::atomic<int> failures{0};
    std::vector<std::vector<ostrel_result_t>> held(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t, &held, &failures] {
            for (int i = 0; i < per_thread; ++i) {
                ostrel_object_t *error = generic_error("x");
                const ostrel_result_t handle = ostrel_error_put(error);
                if (handle == OSTREL_SUCCESS || ostrel_error_peek(handle) != error) {
                    ++failures;
                }
                if (i % 2 == 0) {
                    ostrel_object_t *taken = ostrel_error_get(handle);
                    if (taken != error || ostrel_error_peek(handle) != nullptr) {
                        ++failures;
                    }
                    ostrel_object_free(taken);
                } else {
                    held[t].push_back(handle);
                }
            }
        });
    }
    for (std::thread &worker : workers) {
        worker.join();
    }
    EXPECT_EQ(failures.load(), 0);
    std::set<ostrel_result_t> unique;
    for (const auto &list : held) {
        for (const ostrel_result_t handle : list) {
            unique.insert(handle);
            ostrel_object_t *error = ostrel_error_get(handle);
            EXPECT_NE(error, nullptr);
            ostrel_object_free(error);
        }
    }
    EXPECT_EQ(unique.size(), static_cast<size_t>(threads * per_thread / 2));
}

TEST(ErrorTable, SuccessAndUnknownHandlesHoldNothing)
{
    EXPECT_EQ(ostrel_error_peek(OSTREL_SUCCESS), nullptr);
    EXPECT_EQ(ostrel_error_get(OSTREL_SUCCESS), nullptr);
    const ostrel_result_t handle = ostrel_error_put(generic_error("gone"));
    ostrel_object_free(ostrel_error_get(handle));
    EXPECT_EQ(ostrel_error_peek(handle), nullptr);
    EXPECT_EQ(ostrel_error_get(handle), nullptr);
}

TEST(Errors, GenericAndErrnoErrorsPrintTheirOwnTextsInChainOrder)
{
    ostrel_object_t *inner = ostrel_error_construct_errno_error(nullptr, nullptr, ENOENT);
    ostrel_object_t *outer = ostrel_error_construct_error(nullptr, inner, 6, "f", "g", 3, "open %s", "a.conf");
    OwnedError owned(ostrel_error_put(outer));
    EXPECT_EQ(ostrel_error_get_type(owned.error), 6);
    EXPECT_EQ(ostrel_error_get_errno(owned.error), 0);
    EXPECT_EQ(ostrel_error_get_cause(owned.error), inner);
    EXPECT_EQ(ostrel_error_get_errno(inner), ENOENT);
    EXPECT_EQ(owned.chain(), std::string("open a.conf\n") + std::strerror(ENOENT));
    char *friendly = ostrel_error_print_friendly(owned.error);
    EXPECT_STREQ(friendly, "open a.conf");
    std::free(friendly);
    char *printable = ostrel_object_printable_to_string(inner);
    EXPECT_STREQ(printable, std::strerror(ENOENT));
    std::free(printable);
}

TEST(Errors, CopyIsDeepAndIndependent)
{
    ostrel_object_t *original = ostrel_error_construct_error(
        nullptr, ostrel_error_construct_errno_error(nullptr, nullptr, EACCES), 6, "f", "g", 1, "%s", "top");
    ostrel_object_t *copy = ostrel_object_copy(original);
    ostrel_object_free(original);
    OwnedError owned(ostrel_error_put(copy));
    EXPECT_EQ(owned.chain(), std::string("top\n") + std::strerror(EACCES));
}

// A two-level type whose levels count their copies and frees.
int copies = 0;
int frees = 0;
void level_copy(void *src, void **dst)
{
    ++copies;
    *dst = strdup(static_cast<const char *>(src));
}
void level_free(void *data)
{
    ++frees;
    std::free(data);
}
const ostrel_object_type_t parent_type = {nullptr, level_copy, level_free, nullptr};
const ostrel_object_type_t child_type = {&parent_type, level_copy, level_free, nullptr};
const ostrel_object_type_t unrelated_type = {nullptr, nullptr, nullptr, nullptr};

TEST(Objects, EachTypeLevelHasItsOwnDataSlot)
{
    copies = frees = 0;
    ostrel_object_t *child = ostrel_object_construct(&child_type);
    ostrel_object_t *parent = ostrel_object_upcast(child, &parent_type);
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(ostrel_object_upcast(child, &child_type), child);
    EXPECT_EQ(ostrel_object_upcast(child, &unrelated_type), nullptr);
    EXPECT_EQ(ostrel_object_upcast(parent, &child_type), nullptr);  // no downcast
    ostrel_object_set_local_instance_data(child, strdup("child"));
    ostrel_object_set_local_instance_data(parent, strdup("parent"));
    EXPECT_STREQ(static_cast<const char *>(ostrel_object_get_local_instance_data(child)), "child");
    EXPECT_STREQ(static_cast<const char *>(ostrel_object_get_local_instance_data(parent)), "parent");

    ostrel_object_t *copy = ostrel_object_copy(parent);
    EXPECT_EQ(copies, 2);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(static_cast<const char *>(ostrel_object_get_local_instance_data(copy)), "parent");
    EXPECT_NE(ostrel_object_upcast(copy, &parent_type), nullptr);
    ostrel_object_free(child);
    ostrel_object_free(copy);
    EXPECT_EQ(frees, 4);
    ostrel_object_free(nullptr);
}

// Activation and deactivation counts of a test module.
int activations = 0;
int deactivations = 0;
int activation_result = 0;
int test_activate()
{
    ++activations;
    return activation_result;
}
int test_deactivate()
{
    ++deactivations;
    return 0;
}

TEST(Modules, ActivationIsReferenceCounted)
{
    ostrel_module_descriptor_t module = {"test", test_activate, test_deactivate, nullptr, nullptr, nullptr, nullptr};
    activations = deactivations = 0;
    activation_result = 0;
    EXPECT_EQ(ostrel_module_activate(&module), 0);
    EXPECT_EQ(ostrel_module_activate(&module), 0);
    EXPECT_EQ(activations, 1);
    EXPECT_EQ(ostrel_module_deactivate(&module), 0);
    EXPECT_EQ(deactivations, 0);
    EXPECT_EQ(ostrel_module_deactivate(&module), 0);
    EXPECT_EQ(deactivations, 1);
    const int extra = ostrel_module_deactivate(&module);
    EXPECT_NE(extra, 0);
    ostrel_object_free(ostrel_error_get(static_cast<ostrel_result_t>(extra)));
}

TEST(Modules, FailedActivationReturnsItsResultAndLeavesTheModuleInactive)
{
    ostrel_module_descriptor_t module = {"test", test_activate, test_deactivate, nullptr, nullptr, nullptr, nullptr};
    activations = deactivations = 0;
    activation_result = 42;
    EXPECT_EQ(ostrel_module_activate(&module), 42);
    activation_result = 0;
    EXPECT_EQ(ostrel_module_activate(&module), 0);
    EXPECT_EQ(activations, 2);
    EXPECT_EQ(ostrel_module_deactivate(&module), 0);
    EXPECT_EQ(deactivations, 1);
}

struct DebugCase {
    const char *value;  // NULL: unset
    uint32_t enabled;
    uint32_t timestamped;
    int thread_ids;
    bool has_stream;
    bool owns_stream;
};

TEST(DebugInit, ReadsLevelsFileAndFlags)
{
    const std::string file = ostrel::test::temp_path("ostrel_debug_init.log");
    std::remove(file.c_str());
    const std::string with_file = "DEBUG|INFO," + file;
    const DebugCase cases[] = {
        {nullptr, 0, 0, 0, false, false},
        {"", 0, 0, 0, false, false},
        {"31", 31, 0, 0, true, false},
        {"TRACE|ERROR", 17, 0, 0, true, false},
        {"WARN", 8, 0, 0, true, false},
        {"ALL", UINT32_MAX, 0, 0, true, false},
        {"3,", 3, 0, 0, true, false},
        {"3,,1", 3, 0, 1, true, false},
        {"3,,2", 3, 3, 0, true, false},
        {"16,,3", 16, 16, 1, true, false},
        {with_file.c_str(), 6, 0, 0, true, true},
        // Unreadable values leave tracing off.
        {"trace", 0, 0, 0, false, false},
        {"TRACE|", 0, 0, 0, false, false},
        {"1x", 0, 0, 0, false, false},
        {"99999999999", 0, 0, 0, false, false},
        {"3,,4", 0, 0, 0, false, false},
        {"3,,x", 0, 0, 0, false, false},
        {"3,/nonexistent-dir/x.log", 0, 0, 0, false, false},
    };
    for (const DebugCase &c : cases) {
        SCOPED_TRACE(c.value != nullptr ? c.value : "(unset)");
        if (c.value != nullptr) {
            setenv("OSTREL_TEST_DEBUG", c.value, 1);
        } else {
            unsetenv("OSTREL_TEST_DEBUG");
        }
        ostrel_debug_handle_t handle;
        std::memset(&handle, 0x5a, sizeof handle);
        ostrel_debug_init("OSTREL_TEST_DEBUG", "TRACE DEBUG INFO WARN ERROR", &handle);
        EXPECT_EQ(handle.enabled_levels, c.enabled);
        EXPECT_EQ(handle.timestamped_levels, c.timestamped);
        EXPECT_EQ(handle.thread_ids_on, c.thread_ids);
        EXPECT_EQ(handle.stream != nullptr, c.has_stream);
        EXPECT_EQ(handle.owns_stream != 0, c.owns_stream);
        if (c.owns_stream && handle.stream != nullptr) {
            std::fputs("appended\n", handle.stream);
            std::fclose(handle.stream);
            std::ifstream in(file);
            std::string line;
            std::getline(in, line);
            EXPECT_EQ(line, "appended");
        } else if (c.has_stream) {
            EXPECT_EQ(handle.stream, stderr);
        }
    }
    unsetenv("OSTREL_TEST_DEBUG");
}

TEST(SafeMalloc, GivesABlockEvenForSizeZero)
{
    void *block = ostrel_libc_safe_malloc(0);
    EXPECT_NE(block, nullptr);
    std::free(block);
}

}  // namespace
