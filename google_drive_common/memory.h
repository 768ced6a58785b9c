// The one way library code takes heap memory. Blocks come from the malloc
// family, so callers release what they are handed with free(). Tests may set
// alloc_fail_hook to make chosen allocations fail (errno ENOMEM).
#ifndef OSTREL_GDC_MEMORY_H
#define OSTREL_GDC_MEMORY_H

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace ostrel::gdc {

// Returns true when the allocation about to happen is to fail.
extern bool (*alloc_fail_hook)() noexcept;

[[nodiscard]] inline bool alloc_fails() noexcept
{
    if (alloc_fail_hook != nullptr && alloc_fail_hook()) [[unlikely]] {
        errno = ENOMEM;
        return true;
    }
    return false;
}

[[nodiscard]] inline void *mem_malloc(size_t size) noexcept
{
    return alloc_fails() ? nullptr : std::malloc(size);
}

[[nodiscard]] inline void *mem_calloc(size_t count, size_t size) noexcept
{
    return alloc_fails() ? nullptr : std::calloc(count, size);
}

[[nodiscard]] inline void *mem_realloc(void *block, size_t size) noexcept
{
    return alloc_fails() ? nullptr : std::realloc(block, size);
}

// mem_malloc where a plain function is wanted.
[[nodiscard]] void *mem_malloc_fn(size_t size) noexcept;

// A NUL-terminated copy of text.
[[nodiscard]] inline char *mem_strdup(std::string_view text) noexcept
{
    auto *copy = static_cast<char *>(mem_malloc(text.size() + 1));
    if (copy != nullptr) {
        if (!text.empty()) {
            std::memcpy(copy, text.data(), text.size());
        }
        copy[text.size()] = '\0';
    }
    return copy;
}

struct FreeDeleter {
    void operator()(void *block) const noexcept { std::free(block); }
};

// A malloc'ed block that is released unless handed out with release().
template <class T>
using Owned = std::unique_ptr<T, FreeDeleter>;

// A malloc'ed block that grows on demand and keeps what it holds.
class GrowingBlock {
public:
    // Room for at least size bytes; NULL without memory (the block stays).
    [[nodiscard]] char *reserve(size_t size) noexcept
    {
        if (size > capacity_) {
            char *grown = static_cast<char *>(mem_realloc(block_.get(), size));
            if (grown == nullptr) {
                return nullptr;
            }
            (void) block_.release();
            block_.reset(grown);
            capacity_ = size;
        }
        return block_.get();
    }
    [[nodiscard]] char *data() const noexcept { return block_.get(); }
    [[nodiscard]] size_t capacity() const noexcept { return capacity_; }

private:
    Owned<char> block_;
    size_t capacity_ = 0;
};

// Writes text and a terminator at *at and moves *at past them.
inline const char *put_text(char **at, std::string_view text) noexcept
{
    char *const start = *at;
    if (!text.empty()) {
        std::memcpy(start, text.data(), text.size());
    }
    start[text.size()] = '\0';
    *at = start + text.size() + 1;
    return start;
}

}  // namespace ostrel::gdc

#endif
