// Pieces of Drive requests shared by the request builders and the state
// machines: quoting for queries and JSON, and the resumable upload's
// requests, which only the upload machine builds.
#ifndef OSTREL_GDC_DRIVE_REQUEST_H
#define OSTREL_GDC_DRIVE_REQUEST_H

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "api.h"

namespace ostrel::gdc {

// text between the quotes of a Drive query literal: Drive's grammar knows
// only the escapes \' and \\.
template <class Sink>
void put_query_quoted(Sink &out, std::string_view text) noexcept
{
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\'' || text[i] == '\\') {
            out.put(text.substr(run, i - run));
            out.put('\\');
            run = i;
        }
    }
    out.put(text.substr(run));
}

// text between the quotes of a JSON string. Control characters become
// \u00XX; everything else, UTF-8 included, stays as it is.
template <class Sink>
void put_json_escaped(Sink &out, std::string_view text) noexcept
{
    static constexpr char hex[] = "0123456789abcdef";
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') {
            continue;
        }
        out.put(text.substr(run, i - run));
        run = i + 1;
        out.put('\\');
        if (c == '"' || c == '\\') {
            out.put(static_cast<char>(c));
            continue;
        }
        out.put("u00");
        out.put(hex[c >> 4]);
        out.put(hex[c & 15]);
    }
    out.put(text.substr(run));
}

// Opens a resumable upload session: POST /upload/drive/v3/files?
// uploadType=resumable&fields=id,name,mimeType,md5Checksum,size with
// {"name", "parents": [parent_id]}, the name translated inbound for writing.
// Errors as the public builders give them.
[[nodiscard]] ostrel_result_t request_upload_start(const char *base_url, const char *parent_id,
                                                   const char *client_name,
                                                   ostrel_google_drive_request_t **requestp) noexcept;

// The chunk of length bytes from offset of total: PUT session_uri with
// "Content-Range: bytes OFFSET-LAST/TOTAL", data_offset and data_length
// set. A chunk of no bytes (the whole of an empty file) is sent with
// "Content-Range: bytes */TOTAL". A total of UINT64_MAX, not known yet, is
// written "*". FTP 451 "DRIVE_ERROR" for a session URI
// that is no absolute http(s) URL.
[[nodiscard]] ostrel_result_t request_upload_chunk(const char *session_uri, uint64_t offset, uint64_t length,
                                                   uint64_t total, ostrel_google_drive_request_t **requestp) noexcept;

// Where a session stands: PUT session_uri with "Content-Range: bytes */TOTAL"
// and no body. Errors as for chunks.
[[nodiscard]] ostrel_result_t request_upload_status(const char *session_uri, uint64_t total,
                                                    ostrel_google_drive_request_t **requestp) noexcept;

// One query parameter of request_api().
struct ApiParam {
    std::string_view name;
    std::string_view value;  // percent-encoded when written
};

// METHOD base + path + id (percent-encoded) + tail ? params, with a JSON
// body when body is not empty. For the session's requests that have no
// public builder.
[[nodiscard]] ostrel_result_t request_api(const char *method, const char *base_url, std::string_view path,
                                          std::string_view id, std::string_view tail,
                                          std::initializer_list<ApiParam> params, std::string_view body,
                                          ostrel_google_drive_request_t **requestp) noexcept;

// The Drive fields an upload's final answer carries.
constexpr const char *upload_fields = "id,name,mimeType,md5Checksum,size";

}  // namespace ostrel::gdc

#endif
