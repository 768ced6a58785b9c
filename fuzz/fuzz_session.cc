// The session: an operation fed answers the fuzzer chooses (statuses,
// headers, bodies, cuts) ends within its bound, never succeeds on answers
// none of which was a success, and asks nothing beyond the API's origin.
#include <cstring>
#include <string>

#include "fuzz_support.h"

namespace {

using namespace ostrel::fuzz;

constexpr const char *base = "http://drive.test";
constexpr int statuses[] = {0, 200, 201, 204, 206, 308, 400, 401, 403, 404, 409, 410, 416, 429, 500, 503, 199, 302};
constexpr const char *headers[] = {
    "", "Location: http://drive.test/upload/s\r\n", "Location: http://other.test/s\r\n", "Range: bytes=0-0\r\n",
    "Range: bytes=0-262143\r\n", "Range: bytes=5-9\r\n", "Content-Range: bytes 0-2/3\r\n",
    "Content-Range: bytes 1-2/3\r\n", "Retry-After: 2\r\n", "Retry-After: 99999999999\r\n"};
constexpr const char *bodies[] = {
    "", "{}", "[", "{\"files\": []}", "{\"files\": [], \"nextPageToken\": \"t\"}",
    "{\"files\": [{\"id\": \"a\", \"name\": \"x\", \"parents\": [\"r\"]}]}",
    "{\"files\": [{\"name\": \"x\"}], \"nextPageToken\": \"\"}",
    "{\"id\": \"r\", \"name\": \"x\", \"mimeType\": \"application/vnd.google-apps.folder\"}",
    "{\"id\": \"r\", \"mimeType\": \"application/vnd.google-apps.folder\"}", "{\"ids\": [\"g1\", \"g/2\"]}",
    "{\"id\": \"g1\", \"name\": \"y\", \"size\": \"3\", \"parents\": [\"r\"], \"trashed\": true}",
    "{\"error\": {\"code\": 403, \"message\": \"m\\r\\n\", \"errors\": [{\"reason\": \"rateLimitExceeded\"}]}}"};
constexpr const char *paths[] = {"/x", "/x/y", "/", "", "/..", "/x.{IDab}", "/a\nb", "/x{export-gdoc}.pdf",
                                 "/a/b/c/d", "//x/./y/../z"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    activate_once();
    Input input(data, size);
    configure(input.take());
    ostrel_google_drive_session_t *session = nullptr;
    if (ostrel_google_drive_session_create(base, nullptr, &session) != OSTREL_SUCCESS) {
        broken("a session is made", "");
    }
    ostrel_google_drive_session_set_limits(session, 1 + input.take() % 3, 1 + input.take(), 0, 1 + input.take() % 4);
    const uint8_t kind = input.take() % 10;
    const char *path = paths[input.take() % std::size(paths)];
    const char *other = paths[input.take() % std::size(paths)];
    ostrel_google_drive_op_t *op = nullptr;
    const uint64_t a = input.take() % 8;
    const uint64_t b = input.take() % 8;
    switch (kind) {
    case 0: (void) ostrel_google_drive_op_stat(session, path, 0, &op); break;
    case 1: (void) ostrel_google_drive_op_list(session, path, 0, &op); break;
    case 2: (void) ostrel_google_drive_op_read(session, path, a, b, (a & 1) != 0, 0, &op); break;
    case 3:
        if (ostrel_google_drive_op_write(session, path, a, OSTREL_GOOGLE_DRIVE_NO_TIME, 0, &op) == OSTREL_SUCCESS) {
            if ((b & 1) != 0) {
                ostrel_google_drive_op_set_create_only(op);
            }
            ostrel_google_drive_op_set_chunk_size(op, b << 18);
        }
        break;
    case 4: (void) ostrel_google_drive_op_mkdir(session, path, 0, &op); break;
    case 5: (void) ostrel_google_drive_op_rename(session, path, other, 0, &op); break;
    case 6: (void) ostrel_google_drive_op_delete(session, path, (a & 1) != 0, 0, &op); break;
    case 7: (void) ostrel_google_drive_op_rmdir(session, path, (a & 1) != 0, 0, &op); break;
    case 8: (void) ostrel_google_drive_op_list_trashed(session, path, 0, &op); break;
    default: (void) ostrel_google_drive_op_get(session, "abc", 0, &op); break;
    }
    if (op == nullptr) {
        broken("an operation is made", "");
    }
    bool any_success = false;
    bool failed = false;
    ostrel_result_t result = OSTREL_SUCCESS;
    size_t requests = 0;
    for (;; ++requests) {
        const ostrel_google_drive_request_t *request = nullptr;
        unsigned long delay = 0;
        result = ostrel_google_drive_op_next(op, &request, &delay);
        if (result != OSTREL_SUCCESS || request == nullptr) {
            break;
        }
        if (std::strncmp(request->url, base, std::strlen(base)) != 0) {
            broken("no request beyond the API's origin", request->url);
        }
        if (requests > 100000) {
            broken("an operation ends within its bound", path);
        }
        const int status = statuses[input.take() % std::size(statuses)];
        const char *header = headers[input.take() % std::size(headers)];
        const char *body = bodies[input.take() % std::size(bodies)];
        const bool cut = (input.take() & 1) != 0;
        any_success = any_success || (status >= 200 && status < 300) || status == 308;
        ostrel_result_t fed = OSTREL_SUCCESS;
        if (ostrel_google_drive_op_streams(op)) {
            bool deliver = false;
            uint64_t skip = 0;
            uint64_t count = 0;
            fed = ostrel_google_drive_op_feed_head(op, status, header, 0, 0, &deliver, &skip, &count);
            if (fed == OSTREL_SUCCESS && deliver) {
                fed = ostrel_google_drive_op_feed_end(op, std::strlen(body), !cut);
            } else if (fed == OSTREL_SUCCESS) {
                fed = ostrel_google_drive_op_feed_body(op, body, std::strlen(body));
            }
        } else {
            fed = ostrel_google_drive_op_feed(op, status, header, body, std::strlen(body), 0, 0);
        }
        if (fed != OSTREL_SUCCESS) {
            const bool token = ostrel_gfs_error_get_ftp_response_code(ostrel_error_peek(fed)) == 530;
            ostrel_object_free(ostrel_error_get(fed));
            if (!token) {
                failed = true;
                break;
            }
        }
    }
    if (!failed && result == OSTREL_SUCCESS && !any_success && requests != 0) {
        broken("no success without a successful answer", path);
    }
    for (size_t i = 0; i < ostrel_google_drive_op_step_count(op); ++i) {
        if (ostrel_google_drive_op_step(op, i)->id == nullptr) {
            broken("every step has an id", path);
        }
    }
    bool incomplete = false;
    (void) ostrel_google_drive_op_left_out(op, &incomplete);
    (void) ostrel_google_drive_op_restarts(op);
    ostrel_object_free(ostrel_error_get(result));
    ostrel_google_drive_op_free(op);
    ostrel_google_drive_session_free(session);
    return 0;
}
