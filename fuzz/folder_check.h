// A folder made from a stream of choices, and the lookup guarantee checked
// on it: after collision marking every record whose id allows it has a
// client name of its own, lookup of each client name gives its record (a
// name records of one id share gives one of them or is ambiguous), so does
// the name with the ID token put first, and the lookup query selects it. The fuzz target and the property test share
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
    "\xc3\xa9", "\xe6\x97\xa5", "{dot+}", "+}", "notes", ".{ID+q}", "\n", "\t", "\xc2\x85", "{x0a}",
    "{x0a+}", "{x09}",
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
        // Ids Drive does not give but a record may hold: none, ones that
        // cannot stand in a token, and another record's.
        const uint8_t id_shape = input.take() % 16;
        folder.has_id.push_back(id_shape != 0);
        folder.ids.push_back(id_shape == 1   ? "i/" + std::to_string(i)
                             : id_shape == 2 ? ""
                             : id_shape == 3 ? "i}" + std::to_string(i)
                             : id_shape == 4 && i > 0 ? folder.ids[input.take() % i]
                                                      : "id" + std::to_string(i));
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

// Lookup of name gives record i; when shared, through the token a record
// of i's id or AMBIGUOUS_PATH, else AMBIGUOUS_PATH. The query selects what
// lookup gives.
inline void check_lookup(const std::vector<ostrel_google_metadata_t> &records, const std::string &name, size_t i,
                         bool shared, bool through_token, const std::string &listing)
{
    const size_t count = records.size();
    size_t index = count;
    const ostrel_result_t result = ostrel_google_drive_lookup(name.c_str(), records.data(), count, &index);
    const char *code = ostrel_gfs_error_get_ftp_response_error_code(ostrel_error_peek(result));
    const bool ambiguous = code != nullptr && std::strcmp(code, "AMBIGUOUS_PATH") == 0;
    take_error(result);
    if (!shared && (result != OSTREL_SUCCESS || index != i)) {
        broken("lookup of a record's client name gives the record", name + " in" + listing);
    }
    if (shared && !through_token && !ambiguous) {
        broken("a shared client name is ambiguous", name + " in" + listing);
    }
    if (shared && through_token && !ambiguous
        && (result != OSTREL_SUCCESS || std::strcmp(records[index].id, records[i].id) != 0)) {
        broken("a token shared by records of one id leads to one of them or is ambiguous", name + " in" + listing);
    }
    if (result != OSTREL_SUCCESS) {
        return;
    }
    char *query = nullptr;
    bool whole_folder = false;
    if (ostrel_google_drive_lookup_query("0Parent", name.c_str(), &query, &whole_folder) != OSTREL_SUCCESS) {
        broken("lookup_query succeeds for a listed name", name);
    }
    const bool selected = query_selects(query, "0Parent", records[index].name);
    std::free(query);
    // "'" and "\\" never stand in a query: their folder is listed whole.
    const bool needs_whole = std::strpbrk(name.c_str(), "'\\") != nullptr
                             || std::strpbrk(records[index].name, "'\\") != nullptr;
    if (!selected || whole_folder != needs_whole) {
        broken("the query selects the record lookup gives", name + " in" + listing);
    }
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
    const auto tokenable = [&records](size_t i) {
        return records[i].id != nullptr && ostrel::gdc::is_id(records[i].id);
    };
    const auto same_id = [&records](size_t i, size_t j) {
        return records[i].id != nullptr && records[j].id != nullptr && std::strcmp(records[i].id, records[j].id) == 0;
    };
    for (size_t i = 0; i < count; ++i) {
        // An untokened name shared with another untokened record stays
        // ambiguous; a tokened one is shared only by records of its id.
        size_t sharing = 0;
        for (size_t j = 0; j < count; ++j) {
            if (j == i) {
                continue;
            }
            sharing += records[i].append_id ? (same_id(i, j) ? 1 : 0)
                                            : (!tokenable(j) && bare_names[j] == bare_names[i] ? 1 : 0);
            if (names[j] == names[i] && (tokenable(i) || tokenable(j)) && !same_id(i, j)) {
                broken("client names are distinct where ids allow", names[i] + " in" + listing);
            }
        }
        check_lookup(records, names[i], i, sharing != 0, records[i].append_id, listing);
        // An alias: the token put first, where translation takes it too.
        if (tokenable(i)) {
            const std::string alias = std::string(".{ID") + records[i].id + "}" + bare_names[i];
            char *drive_name = nullptr;
            char *id = nullptr;
            const char *mime_type = nullptr;
            const char *bare_mime_type = nullptr;
            char *bare_drive_name = nullptr;
            ostrel_result_t result = ostrel_google_drive_name_translate_in(alias.c_str(), &drive_name, &mime_type, &id,
                                                                           false);
            take_error(result);
            take_error(ostrel_google_drive_name_translate_in(bare_names[i].c_str(), &bare_drive_name,
                                                             &bare_mime_type, nullptr, false));
            const bool reads_back = drive_name != nullptr && id != nullptr
                                    && std::strcmp(drive_name, records[i].name) == 0
                                    && std::strcmp(id, records[i].id) == 0 && bare_drive_name != nullptr
                                    && std::strcmp(bare_drive_name, records[i].name) == 0
                                    && mime_type == bare_mime_type;
            std::free(drive_name);
            std::free(id);
            std::free(bare_drive_name);
            size_t duplicates = 0;
            for (size_t j = 0; j < count; ++j) {
                duplicates += j != i && same_id(i, j) ? 1 : 0;
            }
            if (reads_back) {
                check_lookup(records, alias, i, duplicates != 0, true, listing);
            }
        }
    }
}

}  // namespace ostrel::fuzz

#endif
