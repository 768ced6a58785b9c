// Partial path construction: the client path of the first N elements of a
// split path, each element translated outbound again.
#include <cstring>
#include <iterator>
#include <string_view>

#include "api.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "memory.h"
#include "stop.h"

namespace {

constexpr const char *folder_type = "application/vnd.google-apps.folder";

// A translated name and its length, measured once for both passes.
struct Name {
    char *text;
    size_t length;
};

void release_names(Name *names, uint64_t count) noexcept
{
    for (uint64_t i = 0; i < count; ++i) {
        std::free(names[i].text);
    }
}

// The names joined by "/"; a single name is followed by one.
template <class Sink>
void join(const Name *names, uint64_t count, Sink &out) noexcept
{
    for (uint64_t i = 0; i < count; ++i) {
        if (i != 0) {
            out.put('/');
        }
        out.put(std::string_view(names[i].text, names[i].length));
    }
    if (count == 1) {
        out.put('/');
    }
}

}  // namespace

ostrel_result_t ostrel_google_drive_partial_path_construct(const ostrel_google_drive_path_t *path,
                                                           uint64_t element_count, char **partial_path) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(path != NULL);
    OSTREL_GDC_REQUIRE(partial_path != NULL);
    OSTREL_GDC_REQUIRE(element_count <= path->count);
    *partial_path = nullptr;
    ostrel_result_t result = OSTREL_SUCCESS;
    // The translated names: on the stack for the usual depths, on the heap
    // beyond.
    Name local_names[16];
    ostrel::gdc::Owned<Name> heap_names;
    Name *names = local_names;
    if (element_count > std::size(local_names)) {
        heap_names.reset(static_cast<Name *>(ostrel::gdc::mem_calloc(element_count, sizeof(Name))));
        names = heap_names.get();
        if (names == nullptr) {
            result = ostrel::gdc::system_error("malloc");
        }
    }
    uint64_t translated = 0;
    // One empty record serves every element: only the four fields outbound
    // translation reads change (zeroing a record costs as much as
    // translating a short name).
    ostrel_google_metadata_t metadata = {};
    for (; result == OSTREL_SUCCESS && translated < element_count; ++translated) {
        const ostrel_google_drive_path_element_t &element = path->elements[translated];
        names[translated] = {nullptr, 0};
        if (element.append_id && element.id == nullptr) {
            // A token without an id would name no file.
            result = ostrel::gdc::invalid_path_error(element.name != nullptr ? element.name : "",
                                                     "The element is to carry an ID token but has no id");
            break;
        }
        metadata.id = element.id;
        metadata.name = element.name;
        metadata.mime_type = const_cast<char *>(element.mime_type != nullptr ? element.mime_type : folder_type);
        metadata.append_id = element.id != nullptr;
        result = ostrel_google_drive_name_translate_out(&metadata, &names[translated].text);
        if (result == OSTREL_SUCCESS) {
            names[translated].length = std::strlen(names[translated].text);
        }
    }
    if (result == OSTREL_SUCCESS) {
        const ostrel::gdc::ExactText text =
            ostrel::gdc::exact_text([&](auto &sink) { join(names, element_count, sink); });
        if (text.text == nullptr) {
            result = ostrel::gdc::system_error("malloc");
        } else {
            OSTREL_GDC_REQUIRE(text.written == text.counted);
            *partial_path = text.text;
        }
    }
    if (names != nullptr) {
        release_names(names, translated);
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}
