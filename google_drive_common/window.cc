// The reorder window in front of a write: blocks of parallel streams arrive
// in any order, the upload needs its bytes contiguous, and memory is the
// caller's bound, never the sender's.
#include <cerrno>
#include <cstring>
#include <new>

#include "api.h"
#include "error_shapes.h"
#include "memory.h"
#include "stop.h"

namespace {

using namespace ostrel::gdc;

// Bytes held, as [start, end) offsets of the whole content, sorted, apart.
struct Span {
    uint64_t start;
    uint64_t end;
};

}  // namespace

struct ostrel_google_drive_window_s {
    uint64_t capacity = 0;
    uint64_t base = 0;  // the committed offset: buffer[0] is this byte
    ostrel::gdc::Owned<char> buffer;
    Span *spans = nullptr;
    size_t span_count = 0;
    size_t span_capacity = 0;

    ~ostrel_google_drive_window_s() { std::free(spans); }

    [[nodiscard]] bool insert(size_t at, Span span) noexcept
    {
        if (span_count == span_capacity) {
            const size_t grown = span_capacity == 0 ? 16 : span_capacity * 2;
            auto *block = static_cast<Span *>(ostrel::gdc::mem_realloc(spans, grown * sizeof(Span)));
            if (block == nullptr) {
                return false;
            }
            spans = block;
            span_capacity = grown;
        }
        std::memmove(spans + at + 1, spans + at, (span_count - at) * sizeof(Span));
        spans[at] = span;
        ++span_count;
        return true;
    }

    void erase(size_t at, size_t count) noexcept
    {
        std::memmove(spans + at, spans + at + count, (span_count - at - count) * sizeof(Span));
        span_count -= count;
    }
};

ostrel_result_t ostrel_google_drive_window_create(uint64_t capacity, ostrel_google_drive_window_t **windowp) noexcept
{
    OSTREL_GDC_REQUIRE(windowp != NULL);
    *windowp = nullptr;
    if (capacity < OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_SIZE || capacity > (uint64_t{1} << 40)) {
        errno = EINVAL;  // the upload's chunk must fit
        return system_error("ostrel_google_drive_window_create");
    }
    void *block = mem_malloc(sizeof(ostrel_google_drive_window_t));
    if (block == nullptr) {
        return system_error("malloc");
    }
    auto *window = new (block) ostrel_google_drive_window_t;
    window->capacity = capacity;
    window->buffer.reset(static_cast<char *>(mem_malloc(static_cast<size_t>(capacity))));
    if (window->buffer == nullptr) {
        ostrel_google_drive_window_free(window);
        return system_error("malloc");
    }
    *windowp = window;
    return OSTREL_SUCCESS;
}

ostrel_result_t ostrel_google_drive_window_put(ostrel_google_drive_window_t *window, uint64_t offset,
                                               const void *data, size_t length, bool *waitp) noexcept
{
    OSTREL_GDC_REQUIRE(window != NULL);
    OSTREL_GDC_REQUIRE(data != NULL || length == 0);
    OSTREL_GDC_REQUIRE(waitp != NULL);
    *waitp = false;
    if (length == 0 || offset > UINT64_MAX - length) {
        return OSTREL_SUCCESS;
    }
    uint64_t start = offset;
    uint64_t end = offset + length;
    const auto *bytes = static_cast<const char *>(data);
    // Bytes already committed went to Drive: nothing left to keep of them.
    if (end <= window->base) {
        return OSTREL_SUCCESS;
    }
    if (start < window->base) {
        bytes += window->base - start;
        start = window->base;
    }
    if (end - window->base > window->capacity) {
        *waitp = true;  // beyond the window: the sender waits for a commit
        return OSTREL_SUCCESS;
    }
    // The same bytes again are taken once; other bytes are a conflict.
    size_t first = 0;
    while (first < window->span_count && window->spans[first].end < start) {
        ++first;
    }
    size_t last = first;
    for (; last < window->span_count && window->spans[last].start <= end; ++last) {
        const uint64_t from = window->spans[last].start > start ? window->spans[last].start : start;
        const uint64_t to = window->spans[last].end < end ? window->spans[last].end : end;
        if (from < to && std::memcmp(window->buffer.get() + (from - window->base), bytes + (from - start), to - from) != 0) {
            return drive_ftp_error(451, "CONFLICTING_BLOCKS", nullptr,
                                   {{"GD-Operation", "Uploading a file"},
                                    {"GD-Details", "Two blocks of the same bytes hold different content"}});
        }
    }
    std::memcpy(window->buffer.get() + (start - window->base), bytes, end - start);
    Span merged = {start, end};
    if (last > first) {
        merged.start = window->spans[first].start < start ? window->spans[first].start : start;
        merged.end = window->spans[last - 1].end > end ? window->spans[last - 1].end : end;
        window->erase(first, last - first);
    }
    if (!window->insert(first, merged)) {
        return system_error("malloc");
    }
    return OSTREL_SUCCESS;
}

uint64_t ostrel_google_drive_window_ready(const ostrel_google_drive_window_t *window) noexcept
{
    OSTREL_GDC_REQUIRE(window != NULL);
    return window->span_count != 0 && window->spans[0].start == window->base ? window->spans[0].end : window->base;
}

const char *ostrel_google_drive_window_bytes(const ostrel_google_drive_window_t *window, uint64_t offset,
                                             uint64_t length) noexcept
{
    OSTREL_GDC_REQUIRE(window != NULL);
    if (offset < window->base || length > ostrel_google_drive_window_ready(window) - window->base
        || offset - window->base > ostrel_google_drive_window_ready(window) - window->base - length) {
        return nullptr;
    }
    return window->buffer.get() + (offset - window->base);
}

void ostrel_google_drive_window_commit(ostrel_google_drive_window_t *window, uint64_t committed) noexcept
{
    OSTREL_GDC_REQUIRE(window != NULL);
    const uint64_t ready = ostrel_google_drive_window_ready(window);
    if (committed <= window->base) {
        return;
    }
    // Drive never confirms bytes it was not sent, which only ready ones were.
    OSTREL_GDC_REQUIRE(committed <= ready);
    const uint64_t dropped = committed - window->base;
    // Only the bytes held move, not the whole window.
    const uint64_t held_end = window->spans[window->span_count - 1].end;
    std::memmove(window->buffer.get(), window->buffer.get() + dropped, static_cast<size_t>(held_end - committed));
    window->base = committed;
    size_t gone = 0;
    while (gone < window->span_count && window->spans[gone].end <= committed) {
        ++gone;
    }
    window->erase(0, gone);
    if (window->span_count != 0 && window->spans[0].start < committed) {
        window->spans[0].start = committed;
    }
}

uint64_t ostrel_google_drive_window_committed(const ostrel_google_drive_window_t *window) noexcept
{
    OSTREL_GDC_REQUIRE(window != NULL);
    return window->base;
}

void ostrel_google_drive_window_free(ostrel_google_drive_window_t *window) noexcept
{
    if (window != nullptr) {
        window->~ostrel_google_drive_window_s();
        std::free(window);
    }
}
