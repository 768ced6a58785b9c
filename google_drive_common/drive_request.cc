// Drive requests as records: method, URL, headers and body, each request one
// allocation. Nothing here sends anything.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "drive_request.h"
#include "error_shapes.h"
#include "exact_text.h"
#include "grammar.h"
#include "memory.h"
#include "stop.h"

namespace {

using namespace ostrel::gdc;
using Request = ostrel_google_drive_request_t;
using Header = ostrel_google_drive_header_t;
using Metadata = ostrel_google_metadata_t;

constexpr std::string_view folder_type = "application/vnd.google-apps.folder";
constexpr std::string_view apps_prefix = "application/vnd.google-apps.";
constexpr std::string_view files_path = "/drive/v3/files";
constexpr const char *json_type = "application/json; charset=UTF-8";

struct Param {
    std::string_view name;
    std::string_view value;
};

struct HeaderText {
    std::string_view name;
    std::string_view value;
};

// What a request is made of before it is laid out in its one block.
struct Spec {
    const char *method = nullptr;
    std::string_view base;       // without a trailing "/"
    std::string_view path;       // written as it is
    std::string_view id;         // a path segment, percent-encoded; may be empty
    std::string_view path_tail;  // after the id, written as it is
    const Param *params = nullptr;
    size_t param_count = 0;
    HeaderText headers[3];
    size_t header_count = 0;
    std::string_view body;
    uint64_t data_offset = 0;
    uint64_t data_length = 0;
};

[[nodiscard]] constexpr bool is_unreserved(unsigned char c) noexcept
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
           || c == '_' || c == '~';
}

template <class Sink>
void put_encoded(Sink &out, std::string_view text) noexcept
{
    static constexpr char hex[] = "0123456789ABCDEF";
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (is_unreserved(c)) {
            continue;
        }
        out.put(text.substr(run, i - run));
        out.put('%');
        out.put(hex[c >> 4]);
        out.put(hex[c & 15]);
        run = i + 1;
    }
    out.put(text.substr(run));
}

[[nodiscard]] std::string_view base_of(const char *base_url) noexcept
{
    std::string_view base = base_url != nullptr ? base_url : OSTREL_GOOGLE_DRIVE_API_URL;
    while (!base.empty() && base.back() == '/') {
        base.remove_suffix(1);
    }
    return base;
}

// The texts of a request in order, each with its terminator; where each
// begins is noted in starts (the same on the counting and the writing run).
constexpr size_t max_texts = 3 + 2 * std::size(Spec{}.headers);

template <class Sink>
void write_texts(Sink &out, const Spec &spec, size_t (&starts)[max_texts]) noexcept
{
    size_t n = 0;
    starts[n++] = out.count();
    out.put(spec.method);
    out.put('\0');
    starts[n++] = out.count();
    out.put(spec.base);
    out.put(spec.path);
    put_encoded(out, spec.id);
    out.put(spec.path_tail);
    for (size_t i = 0; i < spec.param_count; ++i) {
        out.put(i == 0 ? '?' : '&');
        out.put(spec.params[i].name);
        out.put('=');
        put_encoded(out, spec.params[i].value);
    }
    out.put('\0');
    for (size_t i = 0; i < spec.header_count; ++i) {
        starts[n++] = out.count();
        out.put(spec.headers[i].name);
        out.put('\0');
        starts[n++] = out.count();
        out.put(spec.headers[i].value);
        out.put('\0');
    }
    starts[n++] = out.count();
    out.put(spec.body);
    out.put('\0');
}

[[nodiscard]] ostrel_result_t build(const Spec &spec, Request **requestp) noexcept
{
    *requestp = nullptr;
    const size_t head = sizeof(Request) + spec.header_count * sizeof(Header);
    size_t starts[max_texts] = {};
    char *block = nullptr;
    auto write = [&spec, &starts](auto &out) { write_texts(out, spec, starts); };
    const ExactText texts = exact_text_in(
        [&block, head](size_t size) {
            block = static_cast<char *>(mem_malloc(head + size));
            return block != nullptr ? block + head : nullptr;
        },
        write);
    if (texts.text == nullptr) {
        return system_error("malloc");
    }
    OSTREL_GDC_REQUIRE(texts.written == texts.counted);
    auto *request = reinterpret_cast<Request *>(block);
    auto *headers = reinterpret_cast<Header *>(block + sizeof(Request));
    size_t n = 0;
    request->method = texts.text + starts[n++];
    request->url = texts.text + starts[n++];
    for (size_t i = 0; i < spec.header_count; ++i) {
        headers[i].name = texts.text + starts[n++];
        headers[i].value = texts.text + starts[n++];
    }
    request->header_count = spec.header_count;
    request->headers = spec.header_count != 0 ? headers : nullptr;
    request->body = spec.body.empty() ? nullptr : texts.text + starts[n];
    request->body_length = spec.body.size();
    request->data_offset = spec.data_offset;
    request->data_length = spec.data_length;
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG, "%s %s\n", request->method, request->url);
    *requestp = request;
    return OSTREL_SUCCESS;
}

// A JSON body is announced as such.
void add_json_body(Spec &spec, std::string_view body) noexcept
{
    spec.body = body;
    spec.headers[spec.header_count++] = {"Content-Type", json_type};
}

[[nodiscard]] ostrel_result_t check_id(const char *id, const char *what, const char *path) noexcept
{
    return is_id(id) ? OSTREL_SUCCESS : invalid_id_error(path != nullptr ? path : id, what, id);
}

// A client name's Drive name for writing.
[[nodiscard]] ostrel_result_t name_for_writing(const char *client_name, Owned<char> *namep) noexcept
{
    if (std::strchr(client_name, '/') != nullptr) {
        return slash_in_element_error(client_name);
    }
    char *name = nullptr;
    const ostrel_result_t result = ostrel_google_drive_name_translate_in(client_name, &name, nullptr, nullptr, true);
    namep->reset(name);
    return result;
}

// {"name": NAME[, "mimeType": TYPE][, "parents": [PARENT]]}
[[nodiscard]] ExactText metadata_body(ScratchText &scratch, std::string_view name, std::string_view mime_type,
                                      std::string_view parent) noexcept
{
    return exact_text(scratch, [&](auto &out) {
        out.put("{\"name\": \"");
        put_json_escaped(out, name);
        out.put('"');
        if (!mime_type.empty()) {
            out.put(", \"mimeType\": \"");
            put_json_escaped(out, mime_type);
            out.put('"');
        }
        if (!parent.empty()) {
            out.put(", \"parents\": [\"");
            put_json_escaped(out, parent);
            out.put("\"]");
        }
        out.put('}');
    });
}

[[nodiscard]] ostrel_result_t session_uri_error(const char *session_uri) noexcept
{
    const ExactText details = exact_text([session_uri](auto &out) {
        out.put("The upload session's URI \"");
        put_json_escaped(out, std::string_view(session_uri).substr(0, 200));
        out.put("\" is not an absolute http or https URL");
    });
    if (details.text == nullptr) {
        return system_error("malloc");
    }
    const Owned<char> owned(details.text);
    return bad_answer_error(owned.get());
}

// Drive's Location header is used as it is; only what no URL holds is refused.
[[nodiscard]] bool is_session_uri(std::string_view uri) noexcept
{
    if (!uri.starts_with("https://") && !uri.starts_with("http://")) {
        return false;
    }
    for (const char c : uri) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) {
            return false;
        }
    }
    return true;
}

// "bytes */TOTAL" when length is 0, else "bytes FIRST-LAST/TOTAL".
void content_range(char (&text)[80], uint64_t offset, uint64_t length, uint64_t total) noexcept
{
    // A total not known yet is "*" until the last chunk.
    char total_text[24] = "*";
    if (total != UINT64_MAX) {
        std::snprintf(total_text, sizeof total_text, "%" PRIu64, total);
    }
    if (length == 0) {
        std::snprintf(text, sizeof text, "bytes */%s", total_text);
    } else {
        std::snprintf(text, sizeof text, "bytes %" PRIu64 "-%" PRIu64 "/%s", offset, offset + length - 1,
                      total_text);
    }
}

[[nodiscard]] ostrel_result_t session_request(const char *session_uri, uint64_t offset, uint64_t length,
                                              uint64_t total, Request **requestp) noexcept
{
    OSTREL_GDC_REQUIRE(session_uri != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    OSTREL_GDC_REQUIRE(length <= total && offset <= total - length);
    *requestp = nullptr;
    if (!is_session_uri(session_uri)) {
        return session_uri_error(session_uri);
    }
    char range[80];
    content_range(range, offset, length, total);
    Spec spec;
    spec.method = "PUT";
    spec.base = session_uri;
    spec.headers[spec.header_count++] = {"Content-Range", range};
    spec.data_offset = length != 0 ? offset : 0;
    spec.data_length = length;
    return build(spec, requestp);
}

[[nodiscard]] ostrel_result_t not_readable(const Metadata &file, const char *error_code, const char *what) noexcept
{
    const char *const mime_type = file.mime_type != nullptr ? file.mime_type : "";
    const ExactText details = exact_text([what, mime_type](auto &out) {
        out.put(what);
        out.put(" (");
        out.put(mime_type);
        out.put(") has no content to read");
    });
    if (details.text == nullptr) {
        return system_error("malloc");
    }
    const Owned<char> owned(details.text);
    const char *const path = file.name != nullptr ? file.name : file.id;
    return drive_ftp_error(550, error_code, path,
                           {{"GD-Operation", "Reading a file"}, {"GD-Path", path}, {"GD-Details", owned.get()}});
}

[[nodiscard]] ostrel_result_t restart_beyond(const Metadata &file, uint64_t offset, uint64_t size) noexcept
{
    char details[128];
    std::snprintf(details, sizeof details, "The restart offset %" PRIu64 " is beyond the file's size %" PRIu64,
                  offset, size);
    const char *const path = file.name != nullptr ? file.name : file.id;
    return drive_ftp_error(554, "INVALID_RESTART", path,
                           {{"GD-Operation", "Reading a file"}, {"GD-Path", path}, {"GD-Details", details}});
}

template <class Sink>
void write_stub(Sink &out, const Metadata &file) noexcept
{
    // The id goes into the URL encoded, and the URL into JSON escaped; for
    // Drive's ids both are the id itself.
    out.put("{\"url\": \"https://drive.google.com/open?id=");
    struct Escaped {
        Sink &sink;
        void put(char c) noexcept { put(std::string_view(&c, 1)); }
        void put(std::string_view text) noexcept { put_json_escaped(sink, text); }
    } escaped{out};
    put_encoded(escaped, file.id);
    out.put("\", \"id\": \"");
    put_json_escaped(out, file.id);
    out.put("\", \"mimeType\": \"");
    put_json_escaped(out, file.mime_type);
    out.put("\"}\n");
}

}  // namespace

namespace ostrel::gdc {

ostrel_result_t request_api(const char *method, const char *base_url, std::string_view path, std::string_view id,
                            std::string_view tail, std::initializer_list<ApiParam> params, std::string_view body,
                            ostrel_google_drive_request_t **requestp) noexcept
{
    Param list[8];
    OSTREL_GDC_REQUIRE(params.size() <= std::size(list));
    size_t count = 0;
    for (const ApiParam &param : params) {
        list[count++] = {param.name, param.value};
    }
    Spec spec;
    spec.method = method;
    spec.base = base_of(base_url);
    spec.path = path;
    spec.id = id;
    spec.path_tail = tail;
    spec.params = list;
    spec.param_count = count;
    if (!body.empty()) {
        add_json_body(spec, body);
    }
    return build(spec, requestp);
}

}  // namespace ostrel::gdc

void ostrel_google_drive_request_free(ostrel_google_drive_request_t *request) noexcept
{
    std::free(request);
}

const char *ostrel_google_drive_request_method(const ostrel_google_drive_request_t *request) noexcept
{
    OSTREL_GDC_REQUIRE(request != NULL);
    return request->method;
}

const char *ostrel_google_drive_request_url(const ostrel_google_drive_request_t *request) noexcept
{
    OSTREL_GDC_REQUIRE(request != NULL);
    return request->url;
}

size_t ostrel_google_drive_request_header_count(const ostrel_google_drive_request_t *request) noexcept
{
    OSTREL_GDC_REQUIRE(request != NULL);
    return request->header_count;
}

const char *ostrel_google_drive_request_header_name(const ostrel_google_drive_request_t *request,
                                                    size_t index) noexcept
{
    OSTREL_GDC_REQUIRE(request != NULL);
    return index < request->header_count ? request->headers[index].name : nullptr;
}

const char *ostrel_google_drive_request_header_value(const ostrel_google_drive_request_t *request,
                                                     size_t index) noexcept
{
    OSTREL_GDC_REQUIRE(request != NULL);
    return index < request->header_count ? request->headers[index].value : nullptr;
}

const char *ostrel_google_drive_request_body(const ostrel_google_drive_request_t *request, size_t *lengthp) noexcept
{
    OSTREL_GDC_REQUIRE(request != NULL);
    OSTREL_GDC_REQUIRE(lengthp != NULL);
    *lengthp = request->body_length;
    return request->body;
}

uint64_t ostrel_google_drive_request_data_offset(const ostrel_google_drive_request_t *request) noexcept
{
    OSTREL_GDC_REQUIRE(request != NULL);
    return request->data_offset;
}

uint64_t ostrel_google_drive_request_data_length(const ostrel_google_drive_request_t *request) noexcept
{
    OSTREL_GDC_REQUIRE(request != NULL);
    return request->data_length;
}

ostrel_google_drive_kind_t ostrel_google_drive_kind(const ostrel_google_metadata_t *file,
                                                    const char **export_mimep) noexcept
{
    OSTREL_GDC_REQUIRE(file != NULL);
    const char *export_mime = nullptr;
    ostrel_google_drive_kind_t kind = OSTREL_GOOGLE_DRIVE_KIND_FILE;
    const std::string_view mime_type = file->mime_type != nullptr ? file->mime_type : "";
    if (mime_type == folder_type) {
        kind = OSTREL_GOOGLE_DRIVE_KIND_FOLDER;
    } else if (ostrel_google_drive_mime_type_is_google_docs(file->mime_type)) {
        export_mime = ostrel_google_drive_exported_get_export_mime(file->mime_type);
        kind = export_mime != nullptr ? OSTREL_GOOGLE_DRIVE_KIND_EXPORT : OSTREL_GOOGLE_DRIVE_KIND_STUB;
    } else if (mime_type.starts_with(apps_prefix)) {
        kind = OSTREL_GOOGLE_DRIVE_KIND_NO_CONTENT;
    }
    if (export_mimep != nullptr) {
        *export_mimep = export_mime;
    }
    return kind;
}

ostrel_result_t ostrel_google_drive_stub_content(const ostrel_google_metadata_t *file, char **contentp,
                                                 size_t *lengthp) noexcept
{
    OSTREL_GDC_REQUIRE(file != NULL);
    OSTREL_GDC_REQUIRE(lengthp != NULL);
    if (contentp != nullptr) {
        *contentp = nullptr;
    }
    *lengthp = 0;
    if (file->id == nullptr || file->mime_type == nullptr) {
        errno = EINVAL;
        return system_error("ostrel_google_drive_stub_content");
    }
    auto write = [file](auto &out) { write_stub(out, *file); };
    if (contentp == nullptr) {
        *lengthp = count_exact(write);
        return OSTREL_SUCCESS;
    }
    const ExactText content = exact_text(write);
    if (content.text == nullptr) {
        return system_error("malloc");
    }
    OSTREL_GDC_REQUIRE(content.written == content.counted);
    *contentp = content.text;
    *lengthp = content.counted;
    return OSTREL_SUCCESS;
}

ostrel_result_t ostrel_google_drive_request_list(const char *base_url, const char *query, const char *page_token,
                                                 ostrel_google_drive_request_t **requestp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(query != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    char page_size[24];
    std::snprintf(page_size, sizeof page_size, "%d", OSTREL_GOOGLE_DRIVE_PAGE_SIZE);
    const Param params[] = {
        {"q", query},
        {"fields", OSTREL_GOOGLE_DRIVE_LIST_FIELDS},
        {"pageSize", page_size},
        {"includeItemsFromAllDrives", "true"},
        {"supportsAllDrives", "true"},
        {"pageToken", page_token != nullptr ? page_token : ""},
    };
    Spec spec;
    spec.method = "GET";
    spec.base = base_of(base_url);
    spec.path = files_path;
    spec.params = params;
    spec.param_count = std::size(params) - (page_token == nullptr ? 1 : 0);
    const ostrel_result_t result = build(spec, requestp);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_folder_query(const char *folder_id, bool include_trashed,
                                                 char **queryp) noexcept
{
    OSTREL_GDC_REQUIRE(folder_id != NULL);
    OSTREL_GDC_REQUIRE(queryp != NULL);
    *queryp = nullptr;
    ostrel_result_t result = check_id(folder_id, "folder", nullptr);
    if (result != OSTREL_SUCCESS) {
        return result;
    }
    const ExactText query = exact_text([folder_id, include_trashed](auto &out) {
        out.put('\'');
        put_query_quoted(out, folder_id);
        out.put("' in parents");
        if (!include_trashed) {
            out.put(" and trashed = false");
        }
    });
    if (query.text == nullptr) {
        return system_error("malloc");
    }
    OSTREL_GDC_REQUIRE(query.written == query.counted);
    *queryp = query.text;
    return OSTREL_SUCCESS;
}

ostrel_result_t ostrel_google_drive_request_get(const char *base_url, const char *file_id, const char *fields,
                                                ostrel_google_drive_request_t **requestp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(file_id != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    *requestp = nullptr;
    ostrel_result_t result = check_id(file_id, "file", nullptr);
    if (result == OSTREL_SUCCESS) {
        const Param params[] = {
            {"fields", fields != nullptr ? fields : OSTREL_GOOGLE_DRIVE_FILE_FIELDS},
            {"supportsAllDrives", "true"},
        };
        Spec spec;
        spec.method = "GET";
        spec.base = base_of(base_url);
        spec.path = "/drive/v3/files/";
        spec.id = file_id;
        spec.params = params;
        spec.param_count = std::size(params);
        result = build(spec, requestp);
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_request_read(const char *base_url, const ostrel_google_metadata_t *file,
                                                 uint64_t offset, uint64_t length,
                                                 ostrel_google_drive_request_t **requestp, uint64_t *skipp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(file != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    OSTREL_GDC_REQUIRE(skipp != NULL);
    *requestp = nullptr;
    *skipp = 0;
    const char *export_mime = nullptr;
    const ostrel_google_drive_kind_t kind = ostrel_google_drive_kind(file, &export_mime);
    ostrel_result_t result = OSTREL_SUCCESS;
    char range[80] = {};
    Spec spec;
    spec.method = "GET";
    spec.base = base_of(base_url);
    spec.path = "/drive/v3/files/";
    if (kind == OSTREL_GOOGLE_DRIVE_KIND_FOLDER) {
        result = not_readable(*file, "NOT_A_FILE", "A folder");
    } else if (kind == OSTREL_GOOGLE_DRIVE_KIND_NO_CONTENT) {
        result = not_readable(*file, "NO_CONTENT", "A Google-Apps file of this type");
    } else if (kind == OSTREL_GOOGLE_DRIVE_KIND_STUB) {
        size_t stub_length = 0;
        result = ostrel_google_drive_stub_content(file, nullptr, &stub_length);
        if (result == OSTREL_SUCCESS && offset > stub_length) {
            result = restart_beyond(*file, offset, stub_length);
        } else if (result == OSTREL_SUCCESS) {
            *skipp = offset;
        }
    } else if (const char *id = file->id != nullptr ? file->id : ""; !is_id(id)) {
        result = check_id(id, "file", file->name);
    } else if (kind == OSTREL_GOOGLE_DRIVE_KIND_EXPORT) {
        // Exports are made anew for each request and take no ranges.
        const Param params[] = {{"mimeType", export_mime}};
        spec.id = id;
        spec.path_tail = "/export";
        spec.params = params;
        spec.param_count = std::size(params);
        result = build(spec, requestp);
        *skipp = result == OSTREL_SUCCESS ? offset : 0;
    } else if (file->size_set && offset > file->size) {
        result = restart_beyond(*file, offset, file->size);
    } else {
        const Param params[] = {{"alt", "media"}, {"supportsAllDrives", "true"}};
        spec.id = id;
        spec.params = params;
        spec.param_count = std::size(params);
        const bool known = file->size_set;
        const uint64_t size = known ? file->size : 0;
        // Nothing is left to read: no request, since Drive answers 416 to
        // any range of an empty file, and a client restarting a finished
        // transfer must not cost the whole file.
        const bool whole = offset == 0 && (length == 0 || (known && length >= size));
        if (known && offset == size) {
            OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
            return result;
        }
        if (!whole) {
            uint64_t last = length != 0 && length - 1 <= UINT64_MAX - offset ? offset + length - 1 : UINT64_MAX;
            if (known && last > size - 1) {
                last = size - 1;
            }
            if (last == UINT64_MAX) {
                std::snprintf(range, sizeof range, "bytes=%" PRIu64 "-", offset);
            } else {
                std::snprintf(range, sizeof range, "bytes=%" PRIu64 "-%" PRIu64, offset, last);
            }
            spec.headers[spec.header_count++] = {"Range", range};
        }
        result = build(spec, requestp);
        if (result != OSTREL_SUCCESS) {
            *skipp = 0;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_request_create_folder(const char *base_url, const char *parent_id,
                                                          const char *client_name,
                                                          ostrel_google_drive_request_t **requestp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(parent_id != NULL);
    OSTREL_GDC_REQUIRE(client_name != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    *requestp = nullptr;
    Owned<char> name;
    ostrel_result_t result = check_id(parent_id, "parent", client_name);
    if (result == OSTREL_SUCCESS) {
        result = name_for_writing(client_name, &name);
    }
    if (result == OSTREL_SUCCESS) {
        ScratchText scratch;
        const ExactText body = metadata_body(scratch, name.get(), folder_type, parent_id);
        if (body.text == nullptr) {
            result = system_error("malloc");
        } else {
            OSTREL_GDC_REQUIRE(body.written == body.counted);
            const Param params[] = {{"fields", OSTREL_GOOGLE_DRIVE_FILE_FIELDS}, {"supportsAllDrives", "true"}};
            Spec spec;
            spec.method = "POST";
            spec.base = base_of(base_url);
            spec.path = files_path;
            spec.params = params;
            spec.param_count = std::size(params);
            add_json_body(spec, {body.text, body.counted});
            result = build(spec, requestp);
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_request_update(const char *base_url, const char *file_id,
                                                   const char *client_name, const char *old_parent_id,
                                                   const char *new_parent_id,
                                                   ostrel_google_drive_request_t **requestp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(file_id != NULL);
    OSTREL_GDC_REQUIRE((old_parent_id == NULL) == (new_parent_id == NULL));
    OSTREL_GDC_REQUIRE(requestp != NULL);
    *requestp = nullptr;
    const bool move = new_parent_id != nullptr;
    Owned<char> name;
    ostrel_result_t result = check_id(file_id, "file", client_name);
    if (result == OSTREL_SUCCESS && move) {
        result = check_id(old_parent_id, "parent", client_name);
    }
    if (result == OSTREL_SUCCESS && move) {
        result = check_id(new_parent_id, "parent", client_name);
    }
    if (result == OSTREL_SUCCESS && client_name != nullptr) {
        result = name_for_writing(client_name, &name);
    }
    if (result == OSTREL_SUCCESS) {
        ScratchText scratch;
        ExactText body = {const_cast<char *>("{}"), 2, 2};
        if (name != nullptr) {
            body = metadata_body(scratch, name.get(), {}, {});
        }
        if (body.text == nullptr) {
            result = system_error("malloc");
        } else {
            OSTREL_GDC_REQUIRE(body.written == body.counted);
            const Param params[] = {
                {"fields", OSTREL_GOOGLE_DRIVE_FILE_FIELDS},
                {"supportsAllDrives", "true"},
                {"addParents", move ? new_parent_id : ""},
                {"removeParents", move ? old_parent_id : ""},
            };
            Spec spec;
            spec.method = "PATCH";
            spec.base = base_of(base_url);
            spec.path = "/drive/v3/files/";
            spec.id = file_id;
            spec.params = params;
            spec.param_count = std::size(params) - (move ? 0 : 2);
            add_json_body(spec, {body.text, body.counted});
            result = build(spec, requestp);
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_request_trash(const char *base_url, const char *file_id,
                                                  ostrel_google_drive_request_t **requestp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(file_id != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    *requestp = nullptr;
    ostrel_result_t result = check_id(file_id, "file", nullptr);
    if (result == OSTREL_SUCCESS) {
        const Param params[] = {{"fields", OSTREL_GOOGLE_DRIVE_FILE_FIELDS}, {"supportsAllDrives", "true"}};
        Spec spec;
        spec.method = "PATCH";
        spec.base = base_of(base_url);
        spec.path = "/drive/v3/files/";
        spec.id = file_id;
        spec.params = params;
        spec.param_count = std::size(params);
        add_json_body(spec, "{\"trashed\": true}");
        result = build(spec, requestp);
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_request_delete(const char *base_url, const char *file_id,
                                                   ostrel_google_drive_request_t **requestp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(file_id != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    *requestp = nullptr;
    ostrel_result_t result = check_id(file_id, "file", nullptr);
    if (result == OSTREL_SUCCESS) {
        const Param params[] = {{"supportsAllDrives", "true"}};
        Spec spec;
        spec.method = "DELETE";
        spec.base = base_of(base_url);
        spec.path = "/drive/v3/files/";
        spec.id = file_id;
        spec.params = params;
        spec.param_count = std::size(params);
        result = build(spec, requestp);
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

namespace ostrel::gdc {

ostrel_result_t request_upload_start(const char *base_url, const char *parent_id, const char *client_name,
                                     ostrel_google_drive_request_t **requestp) noexcept
{
    OSTREL_GDC_REQUIRE(parent_id != NULL);
    OSTREL_GDC_REQUIRE(client_name != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    *requestp = nullptr;
    Owned<char> name;
    ostrel_result_t result = check_id(parent_id, "parent", client_name);
    if (result == OSTREL_SUCCESS) {
        result = name_for_writing(client_name, &name);
    }
    if (result != OSTREL_SUCCESS) {
        return result;
    }
    ScratchText scratch;
    const ExactText body = metadata_body(scratch, name.get(), {}, parent_id);
    if (body.text == nullptr) {
        return system_error("malloc");
    }
    OSTREL_GDC_REQUIRE(body.written == body.counted);
    const Param params[] = {
        {"uploadType", "resumable"},
        {"fields", upload_fields},
        {"supportsAllDrives", "true"},
    };
    Spec spec;
    spec.method = "POST";
    spec.base = base_of(base_url);
    spec.path = "/upload/drive/v3/files";
    spec.params = params;
    spec.param_count = std::size(params);
    add_json_body(spec, {body.text, body.counted});
    return build(spec, requestp);
}

ostrel_result_t request_upload_chunk(const char *session_uri, uint64_t offset, uint64_t length, uint64_t total,
                                     ostrel_google_drive_request_t **requestp) noexcept
{
    return session_request(session_uri, offset, length, total, requestp);
}

ostrel_result_t request_upload_status(const char *session_uri, uint64_t total,
                                      ostrel_google_drive_request_t **requestp) noexcept
{
    return session_request(session_uri, 0, 0, total, requestp);
}

}  // namespace ostrel::gdc
