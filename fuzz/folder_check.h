// A folder made from a stream of choices, and the lookup guarantee checked
// on it: after collision marking every record whose id allows it has a
// client name of its own, lookup of each client name gives its record, and
// the lookup query selects it. The fuzz target and the property test share
// it, the one with the fuzzer's bytes, the other with random ones.
#ifndef OSTREL_FUZZ_FOLDER_CHECK_H
#define OSTREL_FUZZ_FOLDER_CHECK_H

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "grammar.h"

namespace ostrel::fuzz {

// Pieces rich in escapes, ID-token text, stub extensions, export suffixes,
// quotes, backslashes and multi-byte characters.
constexpr const char *name_pieces[] = {
    "a", "b", " ", ".", "..", "{dot}", "{dotdot}", "{slash}", "/", "{", "}", "+", ".{ID", "x}", ".{IDq}",
    ".gdoc", ".gsheet", ".gshortcut", "{export-gdoc}", "{export-gsheet}", ".pdf", ".csv", "'", "\\",
    "\xc3\xa9", "\xe6\x97\xa5", "{dot+}", "+}", "notes", ".{ID+q}",
};

struct Folder {
    std::vector<std::string> names;
    std::vector<std::string> ids;
    std::vector<bool> has_id;
    std::vector<ostrel_google_metadata_t> records;
};

inline Folder make_folder(Input &input)
{
    configure(input.take());
    Folder folder;
    const size_t count = 1 + input.take() % 12;
    folder.names.reserve(count);
    folder.ids.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t shape = input.take();
        if (i > 0 && shape % 3 == 0) {
            folder.names.push_back(folder.names[input.take() % i]);  // a duplicate
        } else {
            std::string name;
            for (size_t k = 0, pieces = 1 + shape % 4; k < pieces; ++k) {
                name += name_pieces[input.take() % std::size(name_pieces)];
            }
            folder.names.push_back(name);
        }
        const uint8_t id_shape = input.take() % 16;
        folder.has_id.push_back(id_shape != 0);
        folder.ids.push_back(id_shape == 1 ? "i/" + std::to_string(i) : id_shape == 2 ? "" : "id" + std::to_string(i));
    }
    for (size_t i = 0; i < count; ++i) {
        ostrel_google_metadata_t record = {};
        record.name = folder.names[i].data();
        record.id = folder.has_id[i] ? folder.ids[i].data() : nullptr;
        const uint8_t mime = input.take() % (std::size(mime_choices) + 1);
        record.mime_type = const_cast<char *>(mime < std::size(mime_choices) ? mime_choices[mime]
                                                                            : "application/vnd.google-apps.script");
        folder.records.push_back(record);
    }
    return folder;
}

// The query subset lookup_query writes: whether it selects a file named
// name of folder parent (never trashed here).
inline bool query_selects(const std::string &query, const std::string &parent, const std::string &name)
{
    const std::string head = "'" + parent + "' in parents and trashed = false";
    if (query.rfind(head, 0) != 0) {
        return false;
    }
    const std::string rest = query.substr(head.size());
    if (rest.empty()) {
        return true;
    }
    const std::string one = " and name = '";
    const std::string two = " and (name = '";
    if (rest.rfind(one, 0) == 0 && rest.back() == '\'') {
        return rest.substr(one.size(), rest.size() - one.size() - 1) == name;
    }
    if (rest.rfind(two, 0) == 0 && rest.size() > two.size() + 2 && rest.substr(rest.size() - 2) == "')") {
        const std::string both = rest.substr(two.size(), rest.size() - two.size() - 2);
        const size_t middle = both.find("' or name = '");
        return middle != std::string::npos
               && (both.substr(0, middle) == name || both.substr(middle + std::strlen("' or name = '")) == name);
    }
    return false;
}

inline std::string client_name(const ostrel_google_metadata_t &record)
{
    char *name = nullptr;
    if (ostrel_google_drive_name_translate_out(&record, &name) != OSTREL_SUCCESS) {
        broken("translate_out", record.name);
    }
    std::string out = name;
    std::free(name);
    return out;
}

inline void take_error(ostrel_result_t result)
{
    ostrel_object_free(ostrel_error_get(result));
}

// Stops with the broken property, naming the folder.
inline void check_folder(Folder &folder)
{
    std::vector<ostrel_google_metadata_t> &records = folder.records;
    const size_t count = records.size();
    std::string listing;
    for (const ostrel_google_metadata_t &r : records) {
        listing += std::string(" \"") + r.name + "\"/" + text_or_null(r.id) + "/" + text_or_null(r.mime_type);
    }
    if (ostrel_google_drive_mark_collisions(records.data(), count) != OSTREL_SUCCESS) {
        broken("mark_collisions succeeds", listing);
    }
    std::vector<std::string> names;
    std::vector<std::string> bare_names;
    for (ostrel_google_metadata_t &r : records) {
        names.push_back(client_name(r));
        const bool marked = r.append_id;
        r.append_id = false;
        bare_names.push_back(client_name(r));
        r.append_id = marked;
    }
    for (size_t i = 0; i < count; ++i) {
        const bool id_allows = records[i].id != nullptr && ostrel::gdc::is_id(records[i].id);
        // A record whose id cannot stand in a token shares its bare name
        // with any record of the same name: that name stays ambiguous.
        size_t sharing = 0;
        for (size_t j = 0; j < count; ++j) {
            sharing += j != i && !id_allows && bare_names[j] == bare_names[i] ? 1 : 0;
            if (j != i && names[j] == names[i]) {
                if (id_allows || (records[j].id != nullptr && ostrel::gdc::is_id(records[j].id))) {
                    broken("client names are distinct where ids allow", names[i] + " in" + listing);
                }
            }
        }
        size_t index = count;
        const ostrel_result_t result = ostrel_google_drive_lookup(names[i].c_str(), records.data(), count, &index);
        if (sharing == 0 && (result != OSTREL_SUCCESS || index != i)) {
            take_error(result);
            broken("lookup of a record's client name gives the record", names[i] + " in" + listing);
        }
        if (sharing != 0) {
            ostrel_object_t *error = ostrel_error_peek(result);
            const char *code = ostrel_gfs_error_get_ftp_response_error_code(error);
            if (code == nullptr || std::strcmp(code, "AMBIGUOUS_PATH") != 0) {
                take_error(result);
                broken("a shared client name is ambiguous", names[i] + " in" + listing);
            }
            take_error(result);
            continue;
        }
        char *query = nullptr;
        bool whole_folder = false;
        if (ostrel_google_drive_lookup_query("0Parent", names[i].c_str(), &query, &whole_folder) != OSTREL_SUCCESS) {
            broken("lookup_query succeeds for a listed name", names[i]);
        }
        const bool selected = query_selects(query, "0Parent", records[i].name);
        std::free(query);
        // "'" and "\\" never stand in a query: their folder is listed whole.
        const bool needs_whole = std::strpbrk(names[i].c_str(), "'\\") != nullptr
                                 || std::strpbrk(records[i].name, "'\\") != nullptr;
        if (!selected || whole_folder != needs_whole) {
            broken("the query selects the record lookup gives", names[i] + " in" + listing);
        }
    }
}

}  // namespace ostrel::fuzz

#endif
