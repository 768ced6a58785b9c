// Path split: a client path becomes its elements, each translated inbound,
// all but the last typed as folders.
#include <cstring>
#include <string_view>

#include "api.h"
#include "error_shapes.h"
#include "grammar.h"
#include "memory.h"
#include "stop.h"

namespace {

constexpr const char *folder_type = "application/vnd.google-apps.folder";

using Element = ostrel_google_drive_path_element_t;

void release_elements(Element *elements, uint64_t count) noexcept
{
    for (uint64_t i = 0; i < count; ++i) {
        std::free(elements[i].name);
        std::free(elements[i].id);
    }
    std::free(elements);
}

// "/" characters, but not one that ends the path, plus one.
[[nodiscard]] uint64_t count_elements(std::string_view path) noexcept
{
    uint64_t count = 1;
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        count += path[i] == '/' ? 1 : 0;
    }
    return count;
}

}  // namespace

ostrel_result_t ostrel_google_drive_path_split(const char *path, ostrel_google_drive_path_t *split,
                                               bool for_write) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(path != NULL);
    OSTREL_GDC_REQUIRE(split != NULL);
    *split = {0, nullptr};
    const std::string_view whole = path;
    const uint64_t count = count_elements(whole);
    auto *elements = static_cast<Element *>(ostrel::gdc::mem_calloc(count, sizeof(Element)));
    // Elements are translated from a copy whose "/" become terminators.
    ostrel::gdc::Owned<char> texts(ostrel::gdc::mem_strdup(whole));
    if (elements == nullptr || texts == nullptr) {
        std::free(elements);
        const ostrel_result_t result = ostrel::gdc::system_error("malloc");
        OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
        return result;
    }
    const size_t length = whole.size();
    ostrel_google_drive_path_t result_path = {0, elements};
    for (size_t start = 0;;) {
        OSTREL_GDC_REQUIRE(result_path.count < count);
        const size_t slash = whole.find('/', start);
        const size_t end = slash != std::string_view::npos ? slash : length;
        texts.get()[end] = '\0';
        Element &element = elements[result_path.count];
        const bool last = end == length || end + 1 == length;
        // A folder's client name has no stub extension or export suffix.
        const ostrel_result_t result = ostrel::gdc::ostrel_google_drive_name_translate_in(
            std::string_view(texts.get() + start, end - start), &element.name, &element.mime_type, &element.id,
            for_write, last ? ostrel::gdc::Reading::client : ostrel::gdc::Reading::folder);
        if (result != OSTREL_SUCCESS) {
            release_elements(elements, result_path.count);
            OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
            return result;
        }
        ++result_path.count;
        if (last) {
            break;
        }
        element.mime_type = folder_type;
        start = end + 1;
    }
    *split = result_path;
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(OSTREL_SUCCESS);
    return OSTREL_SUCCESS;
}
