/* Preloaded into the tool by the CLI tests: once OSTREL_TEST_READ_LIMIT
 * bytes have been read from files (descriptors above standard error),
 * every further read fails with EIO, as a failing disk would. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

__attribute__((visibility("default"))) ssize_t read(int fd, void *buffer, size_t count)
{
    static ssize_t (*real_read)(int, void *, size_t);
    static long long total;
    if (real_read == NULL) {
        real_read = (ssize_t(*)(int, void *, size_t)) dlsym(RTLD_NEXT, "read");
    }
    const char *limit_text = getenv("OSTREL_TEST_READ_LIMIT");
    if (limit_text == NULL || fd <= 2) {
        return real_read(fd, buffer, count);
    }
    const long long limit = atoll(limit_text);
    if (total >= limit) {
        errno = EIO;
        return -1;
    }
    if ((long long) count > limit - total) {
        count = (size_t) (limit - total);
    }
    const ssize_t got = real_read(fd, buffer, count);
    if (got > 0) {
        total += got;
    }
    return got;
}
