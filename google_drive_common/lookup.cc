// Folder listing and lookup, defined as the inverse of listing: a client
// name names the records whose client name it is, so lookup cannot drift
// from the names clients see.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "api.h"
#include "drive_request.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "grammar.h"
#include "lookup.h"
#include "memory.h"
#include "stop.h"

namespace {

using namespace ostrel::gdc;
using Metadata = ostrel_google_metadata_t;

// The record's client name with append_id as given.
[[nodiscard]] ostrel_result_t client_name_of(const Metadata &record, bool append_id, char **namep) noexcept
{
    Metadata view = record;  // read only; it shares the record's texts
    view.append_id = append_id;
    return ostrel_google_drive_name_translate_out(&view, namep);
}

// Whether client_name is the record's client name with append_id as given.
[[nodiscard]] ostrel_result_t names_record(const Metadata &record, bool append_id, const char *client_name,
                                           bool *named) noexcept
{
    char *name = nullptr;
    const ostrel_result_t result = client_name_of(record, append_id, &name);
    *named = result == OSTREL_SUCCESS && std::strcmp(name, client_name) == 0;
    std::free(name);
    return result;
}

// What a client name can stand for: the Drive name and id that translation
// gives, and for a name that ends in a stub extension, also the Drive name
// of an ordinary file listed under it (an ordinary "notes.gdoc" and the
// document "notes" shown as a stub share one client name).
struct Readings {
    Owned<char> drive_name;
    const char *mime_type = nullptr;  // the type translation implies, or NULL
    Owned<char> id;
    Owned<char> ordinary_name;  // NULL when there is no second reading
};

[[nodiscard]] ostrel_result_t read_client_name(const char *client_name, Readings *readings) noexcept
{
    const std::string_view name = client_name;
    if (name.find('/') != std::string_view::npos) {
        return slash_in_element_error(client_name);
    }
    char *drive_name = nullptr;
    char *id = nullptr;
    ostrel_result_t result = ostrel::gdc::ostrel_google_drive_name_translate_in(name, &drive_name,
                                                                                &readings->mime_type, &id, false);
    readings->drive_name.reset(drive_name);
    readings->id.reset(id);
    if (result != OSTREL_SUCCESS || !ostrel_google_drive_is_stub(client_name)) {
        return result;
    }
    // An ordinary file's name with an export suffix's shape goes out
    // protected, so an unprotected suffix names documents only.
    const std::optional<ExportSuffix> suffix = find_export_suffix(name);
    if (suffix && !is_protected(name, *suffix)) {
        return result;
    }
    char *ordinary = nullptr;
    result = ostrel::gdc::ostrel_google_drive_name_translate_in(name, &ordinary, nullptr, nullptr, false,
                                                                Reading::ordinary_file);
    // The ordinary reading keeps the stub extension, so it never equals
    // the first.
    readings->ordinary_name.reset(ordinary);
    return result;
}

// The MIME type inbound translation gives for the record's client name:
// the record's own when that name ends in an export suffix or a stub
// extension, else NULL.
[[nodiscard]] const char *shown_type(const Metadata &record) noexcept
{
    const char *export_type = nullptr;
    const char *export_extension = nullptr;
    ostrel_google_drive_export_escape_type(record.mime_type, &export_type, &export_extension);
    if (export_type != nullptr) {
        return ostrel_i_google_drive_escape_name_to_mime(export_type, export_extension);
    }
    const char *const stub_extension = ostrel_google_drive_doc_extension(record.mime_type);
    return stub_extension[0] != '\0' ? ostrel_google_drive_doc_mime_type(stub_extension) : nullptr;
}

[[nodiscard]] bool same_text(const char *a, const char *b) noexcept
{
    return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
}

// Whether the record is the one the client name's ID token stands for: its
// client name with the token, or the Drive name and type translation reads
// from the name (the token may stand anywhere in it).
[[nodiscard]] ostrel_result_t named_through_token(const Metadata &record, const Readings &readings,
                                                  const char *client_name, bool *named) noexcept
{
    *named = false;
    if (record.name == nullptr || record.id == nullptr || std::strcmp(record.id, readings.id.get()) != 0) {
        return OSTREL_SUCCESS;
    }
    if (std::strcmp(record.name, readings.drive_name.get()) == 0 && same_text(shown_type(record), readings.mime_type)) {
        *named = true;
        return OSTREL_SUCCESS;
    }
    if (readings.ordinary_name != nullptr && std::strcmp(record.name, readings.ordinary_name.get()) == 0
        && shown_type(record) == nullptr) {
        *named = true;
        return OSTREL_SUCCESS;
    }
    // The token's id is in the ID set, so an equal id is too.
    return names_record(record, true, client_name, named);
}

[[nodiscard]] bool may_be_named(const Metadata &record, const Readings &readings) noexcept
{
    return record.name != nullptr
           && (std::strcmp(record.name, readings.drive_name.get()) == 0
               || (readings.ordinary_name != nullptr && std::strcmp(record.name, readings.ordinary_name.get()) == 0));
}

// The client names of a folder's records, released with it.
class ClientNames {
public:
    ClientNames(const ClientNames &) = delete;
    ClientNames &operator=(const ClientNames &) = delete;
    explicit ClientNames(size_t count) noexcept
        : names_(static_cast<char **>(mem_calloc(count, sizeof(char *)))), count_(count)
    {
    }
    ~ClientNames()
    {
        for (size_t i = 0; names_ != nullptr && i < count_; ++i) {
            std::free(names_[i]);
        }
        std::free(names_);
    }
    [[nodiscard]] char **get() const noexcept { return names_; }

private:
    char **names_;
    size_t count_;
};

[[nodiscard]] bool holds_quote_or_backslash(const char *text) noexcept
{
    return text != nullptr && std::strpbrk(text, "'\\") != nullptr;
}

}  // namespace

ostrel_result_t ostrel_google_drive_mark_collisions(ostrel_google_metadata_t *children, size_t count) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(children != NULL || count == 0);
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Marking the collisions of %zu files\n", count);
    ostrel_result_t result = OSTREL_SUCCESS;
    const ClientNames names(count);
    const Owned<size_t> order(static_cast<size_t *>(mem_calloc(count + 1, sizeof(size_t))));
    if (count != 0 && names.get() == nullptr) {
        result = system_error("malloc");
    } else if (order == nullptr) {
        result = system_error("malloc");
    }
    size_t named = 0;
    for (size_t i = 0; result == OSTREL_SUCCESS && i < count; ++i) {
        if (children[i].name != nullptr) {
            result = client_name_of(children[i], false, &names.get()[i]);
            order.get()[named++] = i;
        }
    }
    if (result == OSTREL_SUCCESS) {
        // Equal names side by side: n log n, and no allocation in the sort.
        char **const name = names.get();
        std::sort(order.get(), order.get() + named, [name](size_t a, size_t b) {
            const int compared = std::strcmp(name[a], name[b]);
            return compared < 0 || (compared == 0 && a < b);
        });
        for (size_t first = 0; first < named;) {
            size_t end = first + 1;
            while (end < named && std::strcmp(name[order.get()[end]], name[order.get()[first]]) == 0) {
                ++end;
            }
            for (size_t k = first; k < end; ++k) {
                Metadata &record = children[order.get()[k]];
                record.append_id = end - first > 1 && record.id != nullptr && is_id(record.id);
            }
            first = end;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_lookup(const char *client_name, const ostrel_google_metadata_t *children,
                                           size_t count, size_t *indexp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(client_name != NULL);
    OSTREL_GDC_REQUIRE(children != NULL || count == 0);
    OSTREL_GDC_REQUIRE(indexp != NULL);
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "Looking up %s among %zu files\n", client_name,
                                   count);
    Readings readings;
    ostrel_result_t result = read_client_name(client_name, &readings);
    size_t found = 0;
    size_t matches = 0;
    // Through the ID token: the record of that id, when the name is its
    // client name with the token, wins over any that share the bare name.
    for (size_t i = 0; result == OSTREL_SUCCESS && readings.id != nullptr && i < count; ++i) {
        bool named = false;
        result = named_through_token(children[i], readings, client_name, &named);
        if (named) {
            ++matches;
            found = i;
        }
    }
    if (matches == 0) {
        // The candidates are narrowed by Drive name first; only they are
        // translated to confirm. Listing gives the candidates whose id can
        // stand in a token their tokens, so one without is named alone.
        size_t untokened = 0;
        size_t untokened_found = 0;
        for (size_t i = 0; result == OSTREL_SUCCESS && i < count; ++i) {
            bool named = false;
            if (may_be_named(children[i], readings)) {
                result = names_record(children[i], false, client_name, &named);
            }
            if (named) {
                ++matches;
                found = i;
                if (children[i].id == nullptr || !is_id(children[i].id)) {
                    ++untokened;
                    untokened_found = i;
                }
            }
        }
        if (matches > 1 && untokened == 1) {
            matches = 1;
            found = untokened_found;
        } else if (untokened > 1) {
            matches = untokened;
        }
    }
    if (result == OSTREL_SUCCESS && matches == 0) {
        result = lookup_error("PATH_NOT_FOUND", client_name, "No file in the folder has this name");
    } else if (result == OSTREL_SUCCESS && matches > 1) {
        char details[128];
        std::snprintf(details, sizeof details,
                      "%zu files in the folder have this name; list the folder to see their names with ID tokens",
                      matches);
        result = lookup_error("AMBIGUOUS_PATH", client_name, details);
    }
    if (result == OSTREL_SUCCESS) {
        OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, "client_name=\"%s\" index=%zu\n", client_name,
                                       found);
        *indexp = found;
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

namespace ostrel::gdc {

ostrel_result_t name_query(const char *parent_id, const char *client_name, bool escaped, char **queryp,
                           bool *whole_folderp) noexcept
{
    OSTREL_GDC_REQUIRE(parent_id != NULL);
    OSTREL_GDC_REQUIRE(client_name != NULL);
    OSTREL_GDC_REQUIRE(queryp != NULL);
    OSTREL_GDC_REQUIRE(whole_folderp != NULL);
    *queryp = nullptr;
    *whole_folderp = false;
    Readings readings;
    ostrel_result_t result = OSTREL_SUCCESS;
    if (!is_id(parent_id)) {
        // The id stands in the query between quotes: it must be one.
        result = invalid_id_error(client_name, "parent", parent_id);
    } else {
        result = read_client_name(client_name, &readings);
    }
    if (result == OSTREL_SUCCESS) {
        // Drive mishandles "'" and "\" in name queries, escaped or not: such
        // a folder is listed whole and the lookup made here, unless the
        // caller asks for the escaped form and confirms a miss itself.
        const bool needs_escapes =
            holds_quote_or_backslash(client_name) || holds_quote_or_backslash(readings.drive_name.get());
        const bool whole_folder = needs_escapes && !escaped;
        const char *const drive_name = readings.drive_name.get();
        const char *const ordinary_name = readings.ordinary_name.get();
        const ExactText query = exact_text([&](auto &out) {
            const auto put_name = [&out, escaped](const char *name) {
                if (escaped) {
                    put_query_quoted(out, name);
                } else {
                    out.put(name);
                }
            };
            out.put('\'');
            out.put(parent_id);
            out.put("' in parents and trashed = false");
            if (whole_folder) {
                return;
            }
            out.put(ordinary_name == nullptr ? " and name = '" : " and (name = '");
            put_name(drive_name);
            if (ordinary_name == nullptr) {
                out.put('\'');
                return;
            }
            out.put("' or name = '");
            put_name(ordinary_name);
            out.put("')");
        });
        if (query.text == nullptr) {
            result = system_error("malloc");
        } else {
            OSTREL_GDC_REQUIRE(query.written == query.counted);
            OSTREL_GOOGLE_DRIVE_DEBUG_LINE_AS("ostrel_google_drive_lookup_query", OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG,
                                              "Query for %s: %s%s\n", client_name, query.text,
                                              whole_folder ? " (the whole folder)" : "");
            *queryp = query.text;
            *whole_folderp = escaped ? needs_escapes : whole_folder;
        }
    }
    return result;
}

}  // namespace ostrel::gdc

ostrel_result_t ostrel_google_drive_lookup_query(const char *parent_id, const char *client_name, char **queryp,
                                                 bool *whole_folderp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(parent_id != NULL);
    OSTREL_GDC_REQUIRE(client_name != NULL);
    OSTREL_GDC_REQUIRE(queryp != NULL);
    OSTREL_GDC_REQUIRE(whole_folderp != NULL);
    const ostrel_result_t result = name_query(parent_id, client_name, false, queryp, whole_folderp);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}
