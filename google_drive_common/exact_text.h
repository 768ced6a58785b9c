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
        const size_t room = count_ < capacity_ ? capacity_ - count_ : 0;
        const size_t size = text.size() < room ? text.size() : room;
        if (size <= 16) {
            // The runs between tokens are short: a call to memcpy costs more.
            for (size_t i = 0; i < size; ++i) {
                buffer_[count_ + i] = text[i];
            }
        } else {
            std::memcpy(buffer_ + count_, text.data(), size);
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
    char *text;      // NUL-terminated; NULL without memory
    size_t counted;  // length the counting run gave
    size_t written;  // length the writing run gave; callers assert it equals counted
};

// The writing run into text, which has room for counted + 1 bytes.
template <class Write>
[[nodiscard]] ExactText fill_exact(char *text, size_t counted, Write &write) noexcept
{
    FillSink filler(text, counted);
    write(filler);
    // A writing run that disagrees with the count leaves a text whose strlen
    // differs from counted, so the caller's length assertion catches it.
    text[filler.count() <= counted ? filler.count() : 0] = '\0';
    return {text, counted, filler.count()};
}

template <class Write>
[[nodiscard]] size_t count_exact(Write &write) noexcept
{
    CountSink counter;
    write(counter);
    return counter.count();
}

// Runs write(sink) to count, takes counted + 1 bytes from reserve(size),
// then runs it again to fill them.
template <class Reserve, class Write>
[[nodiscard]] ExactText exact_text_in(Reserve &&reserve, Write &write) noexcept
{
    const size_t counted = count_exact(write);
    char *text = reserve(counted + 1);
    if (text == nullptr) {
        return {nullptr, counted, 0};
    }
    return fill_exact(text, counted, write);
}

// The text malloc'ed: the caller's to keep.
template <class Write>
[[nodiscard]] ExactText exact_text(Write &&write) noexcept
{
    return exact_text_in([](size_t size) { return static_cast<char *>(mem_malloc(size)); }, write);
}

// Room for a text that lives only during a call: on the stack when short,
// on the heap otherwise.
class ScratchText {
public:
    ScratchText() noexcept = default;
    ScratchText(const ScratchText &) = delete;
    ScratchText &operator=(const ScratchText &) = delete;

    // Room for size bytes, or NULL without memory.
    [[nodiscard]] char *reserve(size_t size) noexcept
    {
        if (size <= sizeof local_) {
            return local_;
        }
        heap_.reset(static_cast<char *>(mem_malloc(size)));
        return heap_.get();
    }

private:
    char local_[256];
    Owned<char> heap_;
};

// The text kept in scratch for the length of the call.
template <class Write>
[[nodiscard]] ExactText exact_text(ScratchText &scratch, Write &&write) noexcept
{
    return exact_text_in([&scratch](size_t size) { return scratch.reserve(size); }, write);
}

}  // namespace ostrel::gdc

#endif
