// Test support: capture the library's trace lines in memory, and a fixture
// that runs each test inside an activated module with a fresh capture.
#ifndef OSTREL_TESTS_TRACE_CAPTURE_H
#define OSTREL_TESTS_TRACE_CAPTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ostrel_i_google_drive_common.h"

namespace ostrel::test {

// Points the debug handle at a memory stream for its lifetime and puts the
// previous handle back afterwards.
class TraceCapture {
public:
    explicit TraceCapture(uint32_t levels = 0x1f, uint32_t timestamped = 0, int thread_ids = 0);
    ~TraceCapture();
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    [[nodiscard]] std::string text();
    [[nodiscard]] std::vector<std::string> lines();
    // The prefix of a line at level_name written by func, without time stamp.
    [[nodiscard]] static std::string prefix(const char *level_name, const char *func);
    [[nodiscard]] FILE *stream() const { return stream_; }

private:
    ostrel_debug_handle_t saved_;
    FILE *stream_ = nullptr;
    char *buffer_ = nullptr;
    size_t size_ = 0;
};

// Activates the module with tracing off in the environment, so each test
// chooses its own capture.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// Takes the error of a result handle, so the test owns and frees it.
struct OwnedError {
    explicit OwnedError(ostrel_result_t result);
    ~OwnedError();
    OwnedError(const OwnedError &) = delete;
    OwnedError &operator=(const OwnedError &) = delete;
    ostrel_object_t *error;
    [[nodiscard]] std::string chain() const;
};

}  // namespace ostrel::test

#endif
