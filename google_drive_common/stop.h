// Programming errors stop the process, whatever NDEBUG says. The message
// names the source file (relative to the source tree), the line, the
// function and the expression text exactly as written.
#ifndef OSTREL_GDC_STOP_H
#define OSTREL_GDC_STOP_H

// glibc's, declared here because <assert.h> hides it under NDEBUG.
extern "C" [[noreturn]] void __assert_fail(const char *assertion, const char *file, unsigned int line,
                                           const char *function) noexcept;

#define OSTREL_GDC_REQUIRE(expr) \
    ((expr) ? static_cast<void>(0) : __assert_fail(#expr, __FILE__, __LINE__, __func__))

#endif
