// Metadata: any JSON text that parses into a record converts, and the
// converted object parses into an equal record.
#include <jansson.h>

#include <cstring>
#include <vector>

#include "fuzz_support.h"

namespace {

using namespace ostrel::fuzz;
using Metadata = ostrel_google_metadata_t;

std::vector<std::string> texts(char **array, size_t count)
{
    std::vector<std::string> out;
    for (size_t i = 0; array != nullptr && i < count; ++i) {
        out.push_back(text_or_null(array[i]));
    }
    return out;
}

bool same(const Metadata &a, const Metadata &b)
{
    const auto flag = [](bool value, bool is_set) { return is_set ? (value ? 2 : 1) : 0; };
    const auto time = [](time_t value, bool is_set) { return is_set ? value : 0; };
    return text_or_null(a.id) == text_or_null(b.id) && text_or_null(a.name) == text_or_null(b.name)
           && text_or_null(a.drive_id) == text_or_null(b.drive_id)
           && text_or_null(a.mime_type) == text_or_null(b.mime_type)
           && time(a.viewed_by_me_time, a.viewed_by_me_time_set) == time(b.viewed_by_me_time, b.viewed_by_me_time_set)
           && a.viewed_by_me_time_set == b.viewed_by_me_time_set
           && time(a.modified_time, a.modified_time_set) == time(b.modified_time, b.modified_time_set)
           && a.modified_time_set == b.modified_time_set
           && flag(a.owned_by_me, a.owned_by_me_set) == flag(b.owned_by_me, b.owned_by_me_set)
           && flag(a.can_edit, a.can_edit_set) == flag(b.can_edit, b.can_edit_set)
           && flag(a.starred, a.starred_set) == flag(b.starred, b.starred_set)
           && flag(a.trashed, a.trashed_set) == flag(b.trashed, b.trashed_set)
           && flag(a.explicitly_trashed, a.explicitly_trashed_set)
                  == flag(b.explicitly_trashed, b.explicitly_trashed_set)
           && texts(a.owners, a.owner_count) == texts(b.owners, b.owner_count)
           && std::strcmp(a.md5_checksum, b.md5_checksum) == 0 && a.size_set == b.size_set
           && (!a.size_set || a.size == b.size) && texts(a.parents, a.parent_count) == texts(b.parents, b.parent_count);
}

// Reserved names are no parents: converting them is a caller's error.
bool has_reserved_parent(const Metadata &m)
{
    for (size_t i = 0; i < m.parent_count; ++i) {
        for (const char *reserved : {OSTREL_GOOGLE_DRIVE_NAME_TRASH, OSTREL_GOOGLE_DRIVE_NAME_STARRED,
                                     OSTREL_GOOGLE_DRIVE_NAME_SHARED_WITH_ME}) {
            if (std::strcmp(m.parents[i], reserved) == 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    activate_once();
    json_t *json = json_loadb(reinterpret_cast<const char *>(data), size, JSON_DECODE_ANY | JSON_ALLOW_NUL, nullptr);
    if (json == nullptr) {
        return 0;
    }
    Metadata first;
    const ostrel_result_t result = ostrel_google_metadata_parse(json, &first);
    json_decref(json);
    if (result != OSTREL_SUCCESS) {
        ostrel_object_free(ostrel_error_get(result));
        const Metadata empty = {};
        if (std::memcmp(&first, &empty, sizeof first) != 0) {
            broken("a failed parse leaves the empty record", "");
        }
        return 0;
    }
    if (!has_reserved_parent(first)) {
        json_t *converted = nullptr;
        if (ostrel_google_metadata_convert(&first, &converted) != OSTREL_SUCCESS) {
            broken("a parsed record converts", "");
        }
        Metadata second;
        if (ostrel_google_metadata_parse(converted, &second) != OSTREL_SUCCESS || !same(first, second)) {
            broken("parse(convert(parse(x))) == parse(x)", "");
        }
        json_decref(converted);
        ostrel_google_metadata_destroy(&second);
    }
    Metadata copy;
    if (ostrel_google_metadata_copy(&copy, &first) != OSTREL_SUCCESS || !same(first, copy)) {
        broken("copy(x) == x", "");
    }
    ostrel_google_metadata_destroy(&copy);
    ostrel_google_metadata_destroy(&first);
    return 0;
}
