// A small Drive in the process: a tree of files that answers the requests
// the library's machines build (files.get, files.list with q, pageToken and
// short pages), so walks can be driven to their end without a network.
#ifndef OSTREL_TESTS_DRIVE_MODEL_H
#define OSTREL_TESTS_DRIVE_MODEL_H

#include <jansson.h>

#include <algorithm>
#include <cstdint>
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
    std::string content;
    std::string modified = "2024-04-30T17:02:00.000Z";
    unsigned capabilities = ~0u;  // OSTREL_GOOGLE_DRIVE_CAN_* granted
};

// A whole answer as a session is fed it.
struct Served {
    int status = 0;
    std::string headers;
    std::string body;
};

class DriveModel {
public:
    static constexpr const char *base_url = "http://drive.test";
    static constexpr const char *folder_type = "application/vnd.google-apps.folder";

    DriveModel() { files.push_back({"0Root", "My Drive", folder_type, "", false, "", "2024-04-30T17:02:00.000Z", ~0u}); }

    std::string add(const std::string &parent, const std::string &name, const char *mime_type = "text/plain")
    {
        const std::string id = "id" + std::to_string(files.size());
        files.push_back({id, name, mime_type, parent, false, "", "2024-04-30T17:02:00.000Z", ~0u});
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

    // The answer to any request a session makes: files.get, files.list,
    // generateIds, creates with a generated id (409 for one in use), content
    // with Range, exports, resumable uploads (chunks from content at the
    // request's data_offset), updates, trash and delete.
    Served serve(const ostrel_google_drive_request_t &request, const std::string &content = "",
                 const char *chunk_bytes = nullptr)
    {
        chunk_ = chunk_bytes;
        ++requests;
        body_.clear();
        Served out;
        const std::string method = request.method;
        const std::string url = request.url;
        const std::string base = base_url;
        if (url.rfind(base, 0) != 0) {
            out.status = 400;
            return out;
        }
        const size_t mark = url.find('?');
        const std::string path = url.substr(base.size(), mark == std::string::npos ? std::string::npos : mark - base.size());
        const std::string query = mark == std::string::npos ? "" : url.substr(mark + 1);
        const std::string files_path = "/drive/v3/files";
        json_error_t error;
        json_t *body = request.body != nullptr ? json_loadb(request.body, request.body_length, 0, &error) : nullptr;
        struct Owner {
            json_t *json;
            ~Owner() { json_decref(json); }
        } owner{body};
        const auto text_of = [body](const char *key) {
            const char *value = json_string_value(json_object_get(body, key));
            return value != nullptr ? std::string(value) : std::string();
        };
        if (path == "/drive/v3/files/generateIds") {
            json_t *ids = json_array();
            for (int i = 0; i < 10; ++i) {
                generated_.push_back("gen" + std::to_string(next_id_++));
                json_array_append_new(ids, json_string(generated_.back().c_str()));
            }
            set_body(json_pack("{s:o}", "ids", ids));
            return done(200, out);
        }
        if (method == "POST" && (path == files_path || path == "/upload/drive/v3/files")) {
            const std::string id = text_of("id");
            if (find(id) != nullptr) {
                return error_answer(409, "fileIdInUse", "A file already exists with the provided ID.", out);
            }
            if (!id.empty() && std::find(generated_.begin(), generated_.end(), id) == generated_.end()) {
                return error_answer(400, "invalid", "The provided file ID is not usable.", out);
            }
            const char *parent = json_string_value(json_array_get(json_object_get(body, "parents"), 0));
            DriveFile file = {id.empty() ? "new" + std::to_string(next_id_++) : id, text_of("name"),
                              text_of("mimeType").empty() ? "application/octet-stream" : text_of("mimeType"),
                              parent != nullptr ? parent : "0Root", false, "",
                              text_of("modifiedTime").empty() ? "2024-05-01T00:00:00.000Z" : text_of("modifiedTime"), ~0u};
            if (path == files_path) {
                files.push_back(file);
                set_body(resource(files.back()));
                return done(200, out);
            }
            return open_session(file, "", out);
        }
        if (method == "PATCH" && path.rfind("/upload/drive/v3/files/", 0) == 0) {
            const DriveFile *file = find(decoded(path.substr(std::strlen("/upload/drive/v3/files/"))));
            if (file == nullptr) {
                return error_answer(404, "notFound", "File not found", out);
            }
            return open_session(*file, file->id, out, text_of("modifiedTime"));
        }
        if (method == "PUT" && path.rfind("/upload/session/", 0) == 0) {
            return chunk(request, std::stoul(path.substr(std::strlen("/upload/session/"))), content, out);
        }
        if (path.rfind(files_path + "/", 0) == 0) {
            std::string id = decoded(path.substr(files_path.size() + 1));
            const bool exporting = id.size() > 7 && id.compare(id.size() - 7, 7, "/export") == 0;
            id = exporting ? id.substr(0, id.size() - 7) : id;
            DriveFile *file = find(id);
            if (file == nullptr) {
                return error_answer(404, "notFound", "File not found", out);
            }
            if (method == "DELETE") {
                files.erase(files.begin() + (file - files.data()));
                return done(204, out);
            }
            if (method == "PATCH") {
                if (json_object_get(body, "trashed") != nullptr) {
                    file->trashed = json_is_true(json_object_get(body, "trashed"));
                }
                if (!text_of("name").empty()) {
                    file->name = text_of("name");
                }
                if (!text_of("modifiedTime").empty()) {
                    file->modified = text_of("modifiedTime");
                }
                if (!parameter(query, "addParents").empty()) {
                    file->parent = parameter(query, "addParents");
                }
                set_body(resource(*file));
                return done(200, out);
            }
            if (exporting) {
                out.body = "EXPORT of " + file->name;
                out.status = 200;
                return out;
            }
            if (parameter(query, "alt") == "media") {
                return media(request, *file, out);
            }
        }
        out.status = respond(url);
        out.body = body_;
        return out;
    }

    // Sessions of uploads under way.
    struct Upload {
        DriveFile file;
        std::string replaces;  // the id whose content is replaced, or ""
        std::string data;
        bool done = false;
    };
    std::vector<Upload> uploads;

private:
    std::string body_;
    const char *chunk_ = nullptr;
    std::vector<std::string> generated_;
    size_t next_id_ = 1;

    DriveFile *find(const std::string &id)
    {
        for (DriveFile &file : files) {
            if (file.id == id || (id == "root" && file.parent.empty())) {
                return &file;
            }
        }
        return nullptr;
    }

    Served &done(int status, Served &out)
    {
        out.status = status;
        out.body = body_;
        return out;
    }

    Served &error_answer(int status, const char *reason, const char *message, Served &out)
    {
        set_body(json_pack("{s:{s:i, s:s, s:[{s:s, s:s}]}}", "error", "code", status, "message", message, "errors",
                           "reason", reason, "message", message));
        return done(status, out);
    }

    Served &open_session(const DriveFile &file, const std::string &replaces, Served &out, const std::string &modified = "")
    {
        uploads.push_back({file, replaces, "", false});
        if (!modified.empty()) {
            uploads.back().file.modified = modified;
        }
        out.headers = "Location: " + std::string(base_url) + "/upload/session/" + std::to_string(uploads.size() - 1)
                      + "\r\n";
        return done(200, out);
    }

    static std::string header(const ostrel_google_drive_request_t &request, const char *name)
    {
        for (size_t i = 0; i < request.header_count; ++i) {
            if (std::strcmp(request.headers[i].name, name) == 0) {
                return request.headers[i].value;
            }
        }
        return {};
    }

    Served &chunk(const ostrel_google_drive_request_t &request, size_t session, const std::string &content,
                  Served &out)
    {
        if (session >= uploads.size()) {
            return error_answer(404, "notFound", "No such session", out);
        }
        Upload &upload = uploads[session];
        const std::string range = header(request, "Content-Range");
        const size_t slash = range.find('/');
        const bool unknown = range.substr(slash + 1) == "*";
        const uint64_t total = unknown ? UINT64_MAX : std::stoull(range.substr(slash + 1));
        if (range.rfind("bytes */", 0) != 0) {
            const uint64_t first = std::stoull(range.substr(6));
            if (first == upload.data.size() && request.data_offset == first) {
                upload.data += chunk_ != nullptr ? std::string(chunk_, request.data_length)
                                                 : content.substr(request.data_offset, request.data_length);
            }
        }
        if (!upload.done && upload.data.size() == total) {
            upload.done = true;
            upload.file.content = upload.data;
            if (DriveFile *old = find(upload.replaces)) {
                old->content = upload.data;
                old->modified = upload.file.modified;
                set_body(resource(*old));
                return done(200, out);
            }
            files.push_back(upload.file);
        }
        if (upload.done) {
            const DriveFile *file = find(upload.replaces.empty() ? upload.file.id : upload.replaces);
            set_body(resource(*file));
            return done(200, out);
        }
        if (!upload.data.empty()) {
            out.headers = "Range: bytes=0-" + std::to_string(upload.data.size() - 1) + "\r\n";
        }
        return done(308, out);
    }

    Served &media(const ostrel_google_drive_request_t &request, const DriveFile &file, Served &out)
    {
        const std::string range = header(request, "Range");
        if (range.empty()) {
            out.body = file.content;
            out.status = 200;
            return out;
        }
        const uint64_t first = std::stoull(range.substr(6));
        const size_t dash = range.find('-');
        uint64_t last = dash + 1 < range.size() ? std::stoull(range.substr(dash + 1)) : file.content.size() - 1;
        last = last < file.content.size() ? last : file.content.size() - 1;
        out.body = file.content.substr(first, last - first + 1);
        out.headers = "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/"
                      + std::to_string(file.content.size()) + "\r\n";
        out.status = 206;
        return out;
    }

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
        if (file.mime_type != folder_type) {
            json_object_set_new(object, "size", json_string(std::to_string(file.content.size()).c_str()));
        }
        json_object_set_new(object, "modifiedTime", json_string(file.modified.c_str()));
        static const char *const names[] = {"canDownload", "canEdit", "canTrash", "canDelete", "canRename",
                                            "canListChildren", "canAddChildren", "canRemoveChildren"};
        json_t *capabilities = json_object();
        for (unsigned bit = 0; bit < 8; ++bit) {
            json_object_set_new(capabilities, names[bit], json_boolean((file.capabilities >> bit & 1) != 0));
        }
        json_object_set_new(object, "capabilities", capabilities);
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
        const bool with_trash = parameter(query, "q").find("trashed = false") == std::string::npos;
        for (const DriveFile &file : files) {
            bool named = words.size() == 1;
            for (size_t k = 1; k < words.size(); ++k) {
                named = named || (file.name == words[k] && !(odd && mishandles_names));
            }
            if (file.parent == words[0] && (!file.trashed || with_trash) && named) {
                selected.push_back(&file);
            }
        }
        const std::string token = parameter(query, "pageToken");
        char *token_end = nullptr;
        const size_t first = token.empty() ? 0 : std::strtoul(token.c_str(), &token_end, 10);
        if (!token.empty() && *token_end != '\0') {
            set_body(json_pack("{s:{s:i, s:s}}", "error", "code", 400, "message", "Invalid pageToken"));
            return 400;
        }
        const std::string asked = parameter(query, "pageSize");
        const size_t page_size = asked.empty() ? this->page_size : std::min<size_t>(this->page_size, std::stoul(asked));
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
