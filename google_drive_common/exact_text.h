// Count, allocate exactly, write: a text is produced by one writer run twice,
// once into a counting sink and once into a filling sink, so the size and
// the content can never come from two different scanners.
#ifndef OSTREL_GDC_EXACT_TEXT_H
#define OSTREL_GDC_EXACT_TEXT_H

#include <cstddef>
#include <cstring>
#include <string_view>

#include "memory.h"

namespace ostrel::gdc {

class CountSink {
public:
    void put(char) noexcept { ++count_; }
    void put(std::string_view text) noexcept { count_ += text.size(); }
    [[nodiscard]] size_t count() const noexcept { return count_; }

private:
    size_t count_ = 0;
};

// Writes at most capacity characters but counts all of them.
class FillSink {
public:
    FillSink(char *buffer, size_t capacity) noexcept : buffer_(buffer), capacity_(capacity) {}
    void put(char c) noexcept
    {
        if (count_ < capacity_) {
            buffer_[count_] = c;
        }
        ++count_;
    }
    void put(std::string_view text) noexcept
    {
        if (count_ < capacity_ && !text.empty()) {
            const size_t room = capacity_ - count_;
            std::memcpy(buffer_ + count_, text.data(), text.size() < room ? text.size() : room);
        }
        count_ += text.size();
    }
    [[nodiscard]] size_t count() const noexcept { return count_; }

private:
    char *buffer_;
    size_t capacity_;
    size_t count_ = 0;
};

struct ExactText {
    char *text;      // malloc'ed, NUL-terminated; NULL without memory
    size_t counted;  // length the counting run gave
    size_t written;  // length the writing run gave; callers assert it equals counted
};

// Runs write(sink) to count, allocates counted + 1 bytes (+ extra spare
// bytes after the terminator for the caller), then runs it again to fill.
template <class Write>
[[nodiscard]] ExactText exact_text(Write &&write, size_t extra = 0) noexcept
{
    CountSink counter;
    write(counter);
    const size_t counted = counter.count();
    auto *text = static_cast<char *>(mem_malloc(counted + 1 + extra));
    if (text == nullptr) {
        return {nullptr, counted, 0};
    }
    FillSink filler(text, counted);
    write(filler);
    // A writing run that disagrees with the count leaves a text whose strlen
    // differs from counted, so the caller's length assertion catches it.
    text[filler.count() <= counted ? filler.count() : 0] = '\0';
    return {text, counted, filler.count()};
}

}  // namespace ostrel::gdc

#endif
