// A small Drive in the process: a tree of files that answers the requests
// the library's machines build (files.get, files.list with q, pageToken and
// short pages), so walks can be driven to their end without a network.
#ifndef OSTREL_TESTS_DRIVE_MODEL_H
#define OSTREL_TESTS_DRIVE_MODEL_H

#include <jansson.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ostrel_google_drive_common.h"

namespace ostrel::test {

struct DriveFile {
    std::string id;
    std::string name;
    std::string mime_type;
    std::string parent;  // "" for the root
    bool trashed = false;
};

class DriveModel {
public:
    static constexpr const char *base_url = "http://drive.test";
    static constexpr const char *folder_type = "application/vnd.google-apps.folder";

    DriveModel() { files.push_back({"0Root", "My Drive", folder_type, ""}); }

    std::string add(const std::string &parent, const std::string &name, const char *mime_type = "text/plain")
    {
        const std::string id = "id" + std::to_string(files.size());
        files.push_back({id, name, mime_type, parent});
        return id;
    }

    // Files a page; Drive itself gives up to 1000.
    size_t page_size = 2;
    // Like Drive, whose comparison of such names is undocumented: a name
    // query with an escape or a non-ASCII character finds nothing.
    bool mishandles_names = true;
    // Statuses to answer, first to last, before answering properly.
    std::vector<int> faults;
    size_t requests = 0;

    // The answer to request; body is kept until the next call.
    ostrel_google_drive_answer_t answer(const ostrel_google_drive_request_t &request)
    {
        ++requests;
        body_.clear();
        ostrel_google_drive_answer_t out = {};
        out.random_ms = 500;
        if (!faults.empty()) {
            out.status = faults.front();
            faults.erase(faults.begin());
            return out;
        }
        out.status = respond(request.url);
        out.body = body_.c_str();
        out.length = body_.size();
        return out;
    }

    std::vector<DriveFile> files;

private:
    std::string body_;

    static std::string decoded(const std::string &text)
    {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '%' && i + 2 < text.size()) {
                out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
                i += 2;
            } else {
                out += text[i];
            }
        }
        return out;
    }

    static std::string parameter(const std::string &query, const std::string &key)
    {
        for (size_t at = 0; at < query.size();) {
            size_t end = query.find('&', at);
            end = end == std::string::npos ? query.size() : end;
            const std::string pair = query.substr(at, end - at);
            if (pair.rfind(key + "=", 0) == 0) {
                return decoded(pair.substr(key.size() + 1));
            }
            at = end + 1;
        }
        return {};
    }

    // The literals of q, unescaped; *odd when one needed an escape or is not ASCII.
    static std::vector<std::string> literals(const std::string &q, bool *odd)
    {
        std::vector<std::string> out;
        for (size_t i = 0; i < q.size(); ++i) {
            if (q[i] != '\'') {
                continue;
            }
            std::string text;
            for (++i; i < q.size() && q[i] != '\''; ++i) {
                if (q[i] == '\\') {
                    *odd = true;
                    ++i;
                }
                *odd = *odd || static_cast<unsigned char>(q[i]) >= 0x80;
                text += q[i];
            }
            out.push_back(text);
        }
        return out;
    }

    json_t *resource(const DriveFile &file) const
    {
        json_t *object = json_pack("{s:s, s:s, s:s, s:b}", "id", file.id.c_str(), "name", file.name.c_str(),
                                   "mimeType", file.mime_type.c_str(), "trashed", file.trashed);
        if (!file.parent.empty()) {
            json_object_set_new(object, "parents", json_pack("[s]", file.parent.c_str()));
        }
        return object;
    }

    void set_body(json_t *json)
    {
        char *text = json_dumps(json, JSON_COMPACT);
        body_ = text;
        std::free(text);
        json_decref(json);
    }

    int respond(const std::string &url)
    {
        const std::string prefix = std::string(base_url) + "/drive/v3/files";
        if (url.rfind(prefix, 0) != 0) {
            return 400;
        }
        const size_t mark = url.find('?');
        const std::string path = url.substr(prefix.size(), mark - prefix.size());
        const std::string query = mark == std::string::npos ? "" : url.substr(mark + 1);
        if (!path.empty()) {
            const std::string id = decoded(path.substr(1));
            for (const DriveFile &file : files) {
                if (file.id == id || (id == "root" && file.parent.empty())) {
                    set_body(resource(file));
                    return 200;
                }
            }
            set_body(json_pack("{s:{s:i, s:s}}", "error", "code", 404, "message", "File not found"));
            return 404;
        }
        bool odd = false;
        const std::vector<std::string> words = literals(parameter(query, "q"), &odd);
        if (words.empty()) {
            return 400;
        }
        std::vector<const DriveFile *> selected;
        for (const DriveFile &file : files) {
            bool named = words.size() == 1;
            for (size_t k = 1; k < words.size(); ++k) {
                named = named || (file.name == words[k] && !(odd && mishandles_names));
            }
            if (file.parent == words[0] && !file.trashed && named) {
                selected.push_back(&file);
            }
        }
        const std::string token = parameter(query, "pageToken");
        const size_t first = token.empty() ? 0 : std::stoul(token);
        json_t *page_files = json_array();
        for (size_t i = first; i < selected.size() && i < first + page_size; ++i) {
            json_array_append_new(page_files, resource(*selected[i]));
        }
        json_t *page = json_pack("{s:o}", "files", page_files);
        if (first + page_size < selected.size()) {
            json_object_set_new(page, "nextPageToken", json_string(std::to_string(first + page_size).c_str()));
        }
        set_body(page);
        return 200;
    }
};

}  // namespace ostrel::test

#endif
