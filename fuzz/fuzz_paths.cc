// Paths: any text splits cleanly or is refused with nothing left; every
// prefix of a split builds a partial path, and the whole path split again
// gives the same names and ids.
#include <vector>

#include "fuzz_support.h"

namespace {

using namespace ostrel::fuzz;

struct Element {
    std::string name;
    std::string id;
    bool operator==(const Element &) const = default;
};

std::vector<Element> elements_of(const ostrel_google_drive_path_t &split)
{
    std::vector<Element> out;
    for (uint64_t i = 0; i < split.count; ++i) {
        out.push_back({split.elements[i].name, text_or_null(split.elements[i].id)});
    }
    return out;
}

void release(ostrel_google_drive_path_t *split)
{
    for (uint64_t i = 0; i < split->count; ++i) {
        std::free(split->elements[i].name);
        std::free(split->elements[i].id);
    }
    std::free(split->elements);
}

// Whether partial path construction shows an element as an ordinary name
// that ends like a stub, which reads back as a stub by design.
bool shows_a_stub_look_alike(const ostrel_google_drive_path_t &split)
{
    for (uint64_t i = 0; i < split.count; ++i) {
        const ostrel_google_drive_path_element_t &e = split.elements[i];
        ostrel_google_metadata_t metadata = {};
        metadata.name = e.name;
        metadata.mime_type = const_cast<char *>(e.mime_type != nullptr ? e.mime_type
                                                                       : "application/vnd.google-apps.folder");
        metadata.id = e.id;
        metadata.append_id = e.id != nullptr;
        char *shown = nullptr;
        if (ostrel_google_drive_name_translate_out(&metadata, &shown) != OSTREL_SUCCESS) {
            broken("outbound succeeds", e.name);
        }
        const bool look_alike = !ostrel_google_drive_mime_type_is_google_docs(metadata.mime_type)
                                && ostrel_google_drive_is_stub(shown);
        std::free(shown);
        if (look_alike) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    activate_once();
    Input input(data, size);
    configure(input.take());
    const bool for_write = input.take() % 2 == 1;
    const std::string path = input.rest();
    ostrel_google_drive_path_t split = {7, reinterpret_cast<ostrel_google_drive_path_element_t *>(&split)};
    const ostrel_result_t result = ostrel_google_drive_path_split(path.c_str(), &split, for_write);
    if (result != OSTREL_SUCCESS) {
        ostrel_object_free(ostrel_error_get(result));
        if (split.count != 0 || split.elements != nullptr) {
            broken("a refused path leaves no elements", path);
        }
        return 0;
    }
    std::string whole;
    for (uint64_t n = 0; n <= split.count; ++n) {
        char *partial = nullptr;
        if (ostrel_google_drive_partial_path_construct(&split, n, &partial) != OSTREL_SUCCESS) {
            broken("every prefix builds", path);
        }
        whole = partial;
        std::free(partial);
    }
    // A last element with an empty name ("a//") vanishes in the joined path.
    const bool empty_last = split.count >= 2 && split.elements[split.count - 1].name[0] == '\0';
    if (!empty_last && !shows_a_stub_look_alike(split)) {
        ostrel_google_drive_path_t again = {0, nullptr};
        if (ostrel_google_drive_path_split(whole.c_str(), &again, false) != OSTREL_SUCCESS
            || elements_of(again) != elements_of(split)) {
            broken("split(partial(split(x))) == split(x)", "\"" + path + "\" rebuilt as \"" + whole + "\"");
        }
        release(&again);
    }
    release(&split);
    return 0;
}
