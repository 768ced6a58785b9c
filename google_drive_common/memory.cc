#include "memory.h"

namespace ostrel::gdc {

bool (*alloc_fail_hook)() noexcept = nullptr;

void *mem_malloc_fn(size_t size) noexcept
{
    return mem_malloc(size);
}

}  // namespace ostrel::gdc
