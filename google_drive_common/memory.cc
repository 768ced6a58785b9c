#include "memory.h"

namespace ostrel::gdc {

bool (*alloc_fail_hook)() noexcept = nullptr;

}  // namespace ostrel::gdc
