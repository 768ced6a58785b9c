// Stand-in for the host's common runtime: module reference counts, debug
// setup, the typed object system and the error table. Small, but it must
// behave as the host's does where the library relies on it.
#pragma GCC visibility push(default)
#include "ostrel_common.h"
#pragma GCC visibility pop

#include <pthread.h>

#include <cerrno>
#include <cctype>
#include <cinttypes>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base_error.h"
#include "text.h"

namespace {

using ostrel::stand_in::dup_or_null;
using ostrel::stand_in::vformat;

// One view per type level; view 0 is the most derived type. Upcasting
// returns the view of the asked level, so each level has its own data slot.
struct View {
    const ostrel_object_type_t *type;
    void *data;
    View *first;
    size_t levels;
};

[[noreturn]] void out_of_memory() noexcept
{
    std::fputs("ostrel_common: out of memory\n", stderr);
    std::abort();
}

std::string errno_text(int system_errno)
{
    char buf[256];
    return strerror_r(system_errno, buf, sizeof buf);
}

// Base error level

void base_copy(void *src_data, void **dst_data) noexcept
{
    if (src_data == nullptr || dst_data == nullptr) {
        return;
    }
    const auto *src = static_cast<const ostrel_stand_in_base_error *>(src_data);
    auto *dst = static_cast<ostrel_stand_in_base_error *>(std::malloc(sizeof *src));
    if (dst == nullptr) {
        *dst_data = nullptr;
        return;
    }
    *dst = *src;
    dst->text = dup_or_null(src->text);
    dst->cause = src->cause != nullptr ? ostrel_object_copy(src->cause) : nullptr;
    if ((src->text != nullptr && dst->text == nullptr)
        || (src->cause != nullptr && dst->cause == nullptr)) {
        std::free(dst->text);
        ostrel_object_free(dst->cause);
        std::free(dst);
        dst = nullptr;
    }
    *dst_data = dst;
}

void base_free(void *data) noexcept
{
    auto *base = static_cast<ostrel_stand_in_base_error *>(data);
    if (base == nullptr) {
        return;
    }
    ostrel_object_free(base->cause);
    std::free(base->text);
    std::free(base);
}

ostrel_stand_in_base_error *base_of(ostrel_object_t *error) noexcept
{
    ostrel_object_t *base = ostrel_object_upcast(error, &OSTREL_ERROR_TYPE_BASE_DEFINITION);
    return base != nullptr
               ? static_cast<ostrel_stand_in_base_error *>(ostrel_object_get_local_instance_data(base))
               : nullptr;
}

char *base_printable(ostrel_object_t *error) noexcept
{
    const ostrel_stand_in_base_error *base = base_of(error);
    return strdup(base != nullptr && base->text != nullptr ? base->text : "");
}

char *errno_printable(ostrel_object_t *error) noexcept
{
    const ostrel_stand_in_base_error *base = base_of(error);
    try {
        return strdup(errno_text(base != nullptr ? base->system_errno : 0).c_str());
    } catch (...) {
        return nullptr;
    }
}

const ostrel_object_type_t errno_error_type = {
    &OSTREL_ERROR_TYPE_BASE_DEFINITION, nullptr, nullptr, errno_printable};

ostrel_object_t *construct_base(const ostrel_object_type_t *type,
                                const ostrel_module_descriptor_t *module, ostrel_object_t *cause,
                                int error_type, int system_errno, char *text, const char *file,
                                const char *func, int line) noexcept
{
    ostrel_object_t *error = ostrel_object_construct(type);
    auto *base = static_cast<ostrel_stand_in_base_error *>(std::malloc(sizeof(ostrel_stand_in_base_error)));
    if (error == nullptr || base == nullptr) {
        ostrel_object_free(error);
        ostrel_object_free(cause);
        std::free(base);
        std::free(text);
        return nullptr;
    }
    *base = {module, cause, error_type, system_errno, text, file, func, line};
    ostrel_object_set_local_instance_data(ostrel_object_upcast(error, &OSTREL_ERROR_TYPE_BASE_DEFINITION), base);
    return error;
}

// Error table and module counts

struct Runtime {
    std::mutex errors_lock;
    std::unordered_map<ostrel_result_t, ostrel_object_t *> errors;
    ostrel_result_t next_handle = 1;
    std::recursive_mutex modules_lock;
    std::map<const ostrel_module_descriptor_t *, int> active;
    std::mutex warned_lock;
    std::set<std::string> warned;
};

Runtime &runtime()
{
    static Runtime *const instance = new Runtime;  // never destroyed: used from atexit paths
    return *instance;
}

// Debug setup

bool parse_levels(std::string_view text, const char *level_names, uint32_t *levels)
{
    if (text == "ALL") {
        *levels = UINT32_MAX;
        return true;
    }
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos) {
        errno = 0;
        const unsigned long value = std::strtoul(std::string(text).c_str(), nullptr, 10);
        if (errno != 0 || value > UINT32_MAX) {
            return false;
        }
        *levels = static_cast<uint32_t>(value);
        return true;
    }
    uint32_t result = 0;
    while (!text.empty()) {
        const size_t bar = text.find('|');
        const std::string_view word = text.substr(0, bar);
        std::string_view names = level_names != nullptr ? level_names : "";
        uint32_t bit = 1;
        bool found = false;
        while (!names.empty() && bit != 0) {
            const size_t blank = names.find(' ');
            if (names.substr(0, blank) == word) {
                found = true;
                break;
            }
            if (blank == std::string_view::npos) {
                break;
            }
            names.remove_prefix(blank + 1);
            bit <<= 1;
        }
        if (!found || word.empty()) {
            return false;
        }
        result |= bit;
        text = bar == std::string_view::npos ? std::string_view() : text.substr(bar + 1);
        if (bar != std::string_view::npos && text.empty()) {
            return false;
        }
    }
    *levels = result;
    return true;
}

void warn_once(const char *env_name, const char *value, const char *why)
{
    Runtime &rt = runtime();
    std::lock_guard guard(rt.warned_lock);
    if (rt.warned.insert(env_name).second) {
        std::fprintf(stderr, "%s: tracing off, cannot use \"%s\": %s\n", env_name, value, why);
    }
}

}  // namespace

const ostrel_object_type_t OSTREL_ERROR_TYPE_BASE_DEFINITION = {
    nullptr, base_copy, base_free, base_printable};

int ostrel_module_activate(ostrel_module_descriptor_t *module) noexcept
{
    if (module == nullptr) {
        return static_cast<int>(ostrel_error_put(ostrel_error_construct_error(
            nullptr, nullptr, 1, __FILE__, __func__, __LINE__, "no module")));
    }
    Runtime &rt = runtime();
    std::lock_guard guard(rt.modules_lock);
    int &count = rt.active[module];
    if (count == 0 && module->activation_func != nullptr) {
        const int rc = module->activation_func();
        if (rc != 0) {
            rt.active.erase(module);
            return rc;
        }
    }
    ++count;
    return 0;
}

int ostrel_module_deactivate(ostrel_module_descriptor_t *module) noexcept
{
    Runtime &rt = runtime();
    std::lock_guard guard(rt.modules_lock);
    const auto found = rt.active.find(module);
    if (found == rt.active.end()) {
        return static_cast<int>(ostrel_error_put(ostrel_error_construct_error(
            nullptr, nullptr, 1, __FILE__, __func__, __LINE__, "module %s is not active",
            module != nullptr && module->module_name != nullptr ? module->module_name : "(unnamed)")));
    }
    if (--found->second > 0) {
        return 0;
    }
    rt.active.erase(found);
    return module->deactivation_func != nullptr ? module->deactivation_func() : 0;
}

void ostrel_debug_init(const char *env_name, const char *level_names,
                                              ostrel_debug_handle_t *handle) noexcept
{
    if (handle == nullptr) {
        return;
    }
    *handle = ostrel_debug_handle_t{};
    const char *value = env_name != nullptr ? std::getenv(env_name) : nullptr;
    if (value == nullptr || *value == '\0') {
        return;
    }
    try {
        const std::string_view text = value;
        const size_t comma = text.find(',');
        const std::string_view levels_text = text.substr(0, comma);
        std::string file;
        std::string_view flags_text;
        if (comma != std::string_view::npos) {
            const std::string_view rest = text.substr(comma + 1);
            const size_t second = rest.find(',');
            file = rest.substr(0, second);
            if (second != std::string_view::npos) {
                flags_text = rest.substr(second + 1);
            }
        }
        uint32_t levels = 0;
        if (!parse_levels(levels_text, level_names, &levels)) {
            warn_once(env_name, value, "LEVELS must be a decimal mask, level names joined by \"|\", or ALL");
            return;
        }
        unsigned long flags = 0;
        if (!flags_text.empty()) {
            char *end = nullptr;
            errno = 0;
            const std::string flags_copy(flags_text);
            flags = std::strtoul(flags_copy.c_str(), &end, 10);
            if (errno != 0 || *end != '\0' || flags > 3 || !std::isdigit(static_cast<unsigned char>(flags_copy[0]))) {
                warn_once(env_name, value, "FLAGS must be 0 to 3 (1 thread ids, 2 time stamps)");
                return;
            }
        }
        FILE *stream = stderr;
        if (!file.empty()) {
            stream = std::fopen(file.c_str(), "a");
            if (stream == nullptr) {
                warn_once(env_name, value, errno_text(errno).c_str());
                return;
            }
            handle->owns_stream = 1;
        }
        handle->enabled_levels = levels;
        handle->timestamped_levels = (flags & 2) != 0 ? levels : 0;
        handle->thread_ids_on = (flags & 1) != 0 ? 1 : 0;
        handle->stream = stream;
    } catch (...) {
        *handle = ostrel_debug_handle_t{};
    }
}

unsigned long ostrel_thread_self(void) noexcept
{
    return static_cast<unsigned long>(pthread_self());
}

// Not the host's: tests set it to make chosen object constructions fail, as
// the host's do without memory.
extern "C" __attribute__((visibility("default"))) bool (*ostrel_stand_in_object_construct_fails)(void) noexcept;
bool (*ostrel_stand_in_object_construct_fails)(void) noexcept = nullptr;

ostrel_object_t *ostrel_object_construct(const ostrel_object_type_t *type) noexcept
{
    if (type == nullptr
        || (ostrel_stand_in_object_construct_fails != nullptr && ostrel_stand_in_object_construct_fails())) {
        return nullptr;
    }
    size_t levels = 0;
    for (const ostrel_object_type_t *t = type; t != nullptr; t = t->parent_type) {
        ++levels;
    }
    auto *views = static_cast<View *>(std::calloc(levels, sizeof(View)));
    if (views == nullptr) {
        return nullptr;
    }
    const ostrel_object_type_t *t = type;
    for (size_t i = 0; i < levels; ++i, t = t->parent_type) {
        views[i] = View{t, nullptr, views, levels};
    }
    return reinterpret_cast<ostrel_object_t *>(views);
}

ostrel_object_t *ostrel_object_copy(const ostrel_object_t *object) noexcept
{
    if (object == nullptr) {
        return nullptr;
    }
    const View *src = reinterpret_cast<const View *>(object);
    const View *first = src->first;
    ostrel_object_t *copy = ostrel_object_construct(first->type);
    if (copy == nullptr) {
        return nullptr;
    }
    View *views = reinterpret_cast<View *>(copy);
    for (size_t i = 0; i < first->levels; ++i) {
        if (first[i].data == nullptr) {
            continue;
        }
        if (first[i].type->copy_func != nullptr) {
            first[i].type->copy_func(first[i].data, &views[i].data);
        }
        if (views[i].data == nullptr) {
            ostrel_object_free(copy);
            return nullptr;
        }
    }
    return reinterpret_cast<ostrel_object_t *>(&views[src - first]);
}

ostrel_object_t *ostrel_object_upcast(ostrel_object_t *object,
                                                             const ostrel_object_type_t *type) noexcept
{
    if (object == nullptr || type == nullptr) {
        return nullptr;
    }
    View *view = reinterpret_cast<View *>(object);
    for (View *end = view->first + view->first->levels; view != end; ++view) {
        if (view->type == type) {
            return reinterpret_cast<ostrel_object_t *>(view);
        }
    }
    return nullptr;
}

void ostrel_object_set_local_instance_data(ostrel_object_t *object, void *data) noexcept
{
    if (object != nullptr) {
        reinterpret_cast<View *>(object)->data = data;
    }
}

void *ostrel_object_get_local_instance_data(const ostrel_object_t *object) noexcept
{
    return object != nullptr ? reinterpret_cast<const View *>(object)->data : nullptr;
}

void ostrel_object_free(ostrel_object_t *object) noexcept
{
    if (object == nullptr) {
        return;
    }
    View *first = reinterpret_cast<View *>(object)->first;
    for (size_t i = 0; i < first->levels; ++i) {
        if (first[i].data != nullptr && first[i].type->free_func != nullptr) {
            first[i].type->free_func(first[i].data);
        }
    }
    std::free(first);
}

char *ostrel_object_printable_to_string(ostrel_object_t *object) noexcept
{
    if (object == nullptr) {
        return nullptr;
    }
    View *first = reinterpret_cast<View *>(object)->first;
    for (size_t i = 0; i < first->levels; ++i) {
        if (first[i].type->printable_func != nullptr) {
            return first[i].type->printable_func(reinterpret_cast<ostrel_object_t *>(first));
        }
    }
    return strdup("");
}

ostrel_result_t ostrel_error_put(ostrel_object_t *error) noexcept
{
    Runtime &rt = runtime();
    std::lock_guard guard(rt.errors_lock);
    try {
        ostrel_result_t handle = rt.next_handle;
        while (handle == OSTREL_SUCCESS || rt.errors.count(handle) != 0) {
            ++handle;
        }
        rt.next_handle = handle + 1;
        // An error that could not be built (NULL) still gets a failing handle.
        rt.errors.emplace(handle, error);
        return handle;
    } catch (...) {
        out_of_memory();
    }
}

ostrel_object_t *ostrel_error_peek(ostrel_result_t result) noexcept
{
    Runtime &rt = runtime();
    std::lock_guard guard(rt.errors_lock);
    const auto found = rt.errors.find(result);
    return found != rt.errors.end() ? found->second : nullptr;
}

ostrel_object_t *ostrel_error_get(ostrel_result_t result) noexcept
{
    Runtime &rt = runtime();
    std::lock_guard guard(rt.errors_lock);
    const auto found = rt.errors.find(result);
    if (found == rt.errors.end()) {
        return nullptr;
    }
    ostrel_object_t *error = found->second;
    rt.errors.erase(found);
    return error;
}

ostrel_object_t *ostrel_error_get_cause(ostrel_object_t *error) noexcept
{
    const ostrel_stand_in_base_error *base = base_of(error);
    return base != nullptr ? base->cause : nullptr;
}

char *ostrel_error_print_chain(ostrel_object_t *error) noexcept
{
    if (error == nullptr) {
        return strdup("unknown error");
    }
    try {
        std::string chain;
        for (ostrel_object_t *e = error; e != nullptr; e = ostrel_error_get_cause(e)) {
            char *line = ostrel_object_printable_to_string(e);
            if (line == nullptr) {
                return nullptr;
            }
            if (e != error) {
                chain += '\n';
            }
            chain += line;
            std::free(line);
        }
        return strdup(chain.c_str());
    } catch (...) {
        return nullptr;
    }
}

char *ostrel_error_print_friendly(ostrel_object_t *error) noexcept
{
    return error != nullptr ? ostrel_object_printable_to_string(error) : strdup("unknown error");
}

ostrel_object_t *ostrel_error_construct_error(
    const ostrel_module_descriptor_t *module, ostrel_object_t *cause, int type,
    const char *source_file, const char *source_func, int source_line, const char *format, ...) noexcept
{
    char *text = nullptr;
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        text = vformat(format, args);
        va_end(args);
        if (text == nullptr) {
            ostrel_object_free(cause);
            return nullptr;
        }
    }
    return construct_base(&OSTREL_ERROR_TYPE_BASE_DEFINITION, module, cause, type, 0, text,
                          source_file, source_func, source_line);
}

ostrel_object_t *ostrel_error_construct_errno_error(
    const ostrel_module_descriptor_t *module, ostrel_object_t *cause, int system_errno) noexcept
{
    return construct_base(&errno_error_type, module, cause, 0, system_errno, nullptr, nullptr,
                          nullptr, 0);
}

int ostrel_error_get_type(ostrel_object_t *error) noexcept
{
    const ostrel_stand_in_base_error *base = base_of(error);
    return base != nullptr ? base->type : 0;
}

int ostrel_error_get_errno(ostrel_object_t *error) noexcept
{
    const ostrel_stand_in_base_error *base = base_of(error);
    return base != nullptr ? base->system_errno : 0;
}

// Not the host's: tests set it to make chosen safe allocations fail, which
// stops the process as the host's do without memory.
extern "C" __attribute__((visibility("default"))) bool (*ostrel_stand_in_safe_malloc_fails)(void) noexcept;
bool (*ostrel_stand_in_safe_malloc_fails)(void) noexcept = nullptr;

void *ostrel_libc_safe_malloc(size_t size) noexcept
{
    if (ostrel_stand_in_safe_malloc_fails != nullptr && ostrel_stand_in_safe_malloc_fails()) {
        out_of_memory();
    }
    void *block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        out_of_memory();
    }
    return block;
}
