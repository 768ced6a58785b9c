// A resumable upload, one request at a time: a session, then chunks; after
// a failed chunk Drive is asked what it holds and the upload goes on from
// there, so no stored byte is sent twice.
#include <cerrno>
#include <cstring>
#include <new>

#include "api.h"
#include "drive_request.h"
#include "error_shapes.h"
#include "memory.h"
#include "stop.h"

namespace {

using namespace ostrel::gdc;
using Metadata = ostrel_google_metadata_t;

constexpr const char *upload_operation = "Uploading a file";

enum class Step { session, chunk, status, done };

// An answer Drive should not have given: FTP 451 "DRIVE_ERROR".
[[nodiscard]] ostrel_result_t odd_answer(const char *path, const char *details) noexcept
{
    return drive_ftp_error(451, "DRIVE_ERROR", nullptr,
                           {{"GD-Operation", upload_operation}, {"GD-Path", path}, {"GD-Details", details}});
}

// "bytes=0-N" of a 308: Drive holds N + 1 bytes.
[[nodiscard]] bool read_range(const char *range, uint64_t *storedp) noexcept
{
    if (std::strncmp(range, "bytes=0-", 8) != 0 || range[8] < '0' || range[8] > '9') {
        return false;
    }
    uint64_t last = 0;
    for (const char *c = range + 8; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || last > (UINT64_MAX - 9) / 10) {
            return false;
        }
        last = last * 10 + static_cast<uint64_t>(*c - '0');
    }
    *storedp = last + 1;
    return true;
}

}  // namespace

struct ostrel_google_drive_upload_s {
    Owned<char> base_url;
    Owned<char> parent_id;
    Owned<char> client_name;
    uint64_t total = 0;
    uint64_t chunk_size = 0;
    unsigned attempts = 0;

    Step step = Step::session;
    Owned<char> session_uri;  // the session's, from Location
    uint64_t stored = 0;
    unsigned failures = 0;  // since Drive last took bytes
    unsigned long delay_ms = 0;
    unsigned restarts = 0;
    Metadata file{};

    ~ostrel_google_drive_upload_s() { ostrel_google_metadata_destroy(&file); }

    [[nodiscard]] ostrel_result_t request(ostrel_google_drive_request_t **requestp) const noexcept
    {
        switch (step) {
        case Step::session:
            return request_upload_start(base_url.get(), parent_id.get(), client_name.get(), requestp);
        case Step::chunk: {
            const uint64_t length = total - stored < chunk_size ? total - stored : chunk_size;
            return request_upload_chunk(session_uri.get(), stored, length, total, requestp);
        }
        case Step::status:
            return request_upload_status(session_uri.get(), total, requestp);
        case Step::done:
            break;
        }
        *requestp = nullptr;
        return OSTREL_SUCCESS;
    }

    void restart() noexcept
    {
        session_uri.reset();
        stored = 0;
        ++restarts;
        step = Step::session;
    }
};

ostrel_result_t ostrel_google_drive_upload_create(const char *base_url, const char *parent_id, const char *client_name,
                                                  uint64_t total_size, uint64_t chunk_size, unsigned attempts,
                                                  ostrel_google_drive_upload_t **uploadp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(parent_id != NULL);
    OSTREL_GDC_REQUIRE(client_name != NULL);
    OSTREL_GDC_REQUIRE(uploadp != NULL);
    *uploadp = nullptr;
    ostrel_result_t result = OSTREL_SUCCESS;
    if (chunk_size % OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT != 0) {
        errno = EINVAL;
        result = system_error("ostrel_google_drive_upload_create");
    } else {
        // The session's request refuses a bad parent or an export suffix
        // before anything is sent.
        ostrel_google_drive_request_t *session = nullptr;
        result = request_upload_start(base_url, parent_id, client_name, &session);
        ostrel_google_drive_request_free(session);
    }
    void *block = result == OSTREL_SUCCESS ? mem_malloc(sizeof(ostrel_google_drive_upload_t)) : nullptr;
    if (result == OSTREL_SUCCESS && block == nullptr) {
        result = system_error("malloc");
    }
    if (result == OSTREL_SUCCESS) {
        auto *upload = new (block) ostrel_google_drive_upload_t;
        upload->total = total_size;
        upload->chunk_size = chunk_size != 0 ? chunk_size : OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_SIZE;
        upload->attempts = attempts != 0 ? attempts : OSTREL_GOOGLE_DRIVE_RETRY_ATTEMPTS;
        upload->client_name.reset(mem_strdup(client_name));
        upload->parent_id.reset(mem_strdup(parent_id));
        if (base_url != nullptr) {
            upload->base_url.reset(mem_strdup(base_url));
        }
        if (upload->client_name == nullptr || upload->parent_id == nullptr
            || (base_url != nullptr && upload->base_url == nullptr)) {
            result = system_error("malloc");
            ostrel_google_drive_upload_free(upload);
        } else {
            *uploadp = upload;
        }
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_upload_next(ostrel_google_drive_upload_t *upload,
                                                ostrel_google_drive_request_t **requestp,
                                                unsigned long *delay_msp) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(upload != NULL);
    OSTREL_GDC_REQUIRE(requestp != NULL);
    OSTREL_GDC_REQUIRE(delay_msp != NULL);
    *requestp = nullptr;
    *delay_msp = 0;
    ostrel_result_t result = OSTREL_SUCCESS;
    if (upload->step != Step::done) {
        result = upload->request(requestp);
        *delay_msp = upload->delay_ms;
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

ostrel_result_t ostrel_google_drive_upload_feed(ostrel_google_drive_upload_t *upload,
                                                const ostrel_google_drive_answer_t *answer) noexcept
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GDC_REQUIRE(upload != NULL);
    OSTREL_GDC_REQUIRE(answer != NULL);
    OSTREL_GDC_REQUIRE(upload->step != Step::done);
    const char *const path = upload->client_name.get();
    bool retry = false;
    ostrel_result_t result =
        ostrel_google_drive_answer_error(answer->status, answer->body, answer->length, upload_operation, path, &retry);
    const bool on_session = upload->step != Step::session;
    if (result != OSTREL_SUCCESS && on_session && (answer->status == 404 || answer->status == 410)) {
        // The session expired: everything again, in a new one.
        if (upload->restarts + 1 < upload->attempts) {
            ostrel_object_free(ostrel_error_get(result));
            result = OSTREL_SUCCESS;
            upload->restart();
            upload->failures = 0;
            upload->delay_ms = 0;
            OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_INFO, "Session of %s expired; restarting\n",
                                           path);
        }
    } else if (result != OSTREL_SUCCESS) {
        if (retry && ++upload->failures < upload->attempts) {
            upload->delay_ms =
                ostrel_google_drive_retry_delay_ms(upload->failures, answer->random_ms, answer->retry_after);
            ostrel_object_free(ostrel_error_get(result));
            result = OSTREL_SUCCESS;
            // Drive may have kept part of a chunk it failed to answer.
            if (on_session && (answer->status == 0 || answer->status >= 500)) {
                upload->step = Step::status;
            }
        } else {
            upload->failures = 0;
            upload->delay_ms = 0;
        }
    } else if (upload->step == Step::session) {
        upload->delay_ms = 0;
        upload->failures = 0;
        if (answer->location == nullptr || answer->location[0] == '\0') {
            result = odd_answer(path, "Drive opened no upload session (no Location)");
        } else {
            upload->session_uri.reset(mem_strdup(answer->location));
            result = upload->session_uri != nullptr ? OSTREL_SUCCESS : system_error("malloc");
            upload->step = result == OSTREL_SUCCESS ? Step::chunk : Step::session;
            upload->stored = 0;
        }
    } else if (answer->status == 308) {
        upload->delay_ms = 0;
        uint64_t stored = 0;
        if (answer->range != nullptr && (!read_range(answer->range, &stored) || stored > upload->total)) {
            result = odd_answer(path, "Drive's Range header is not \"bytes=0-N\" within the file");
        } else if (stored > upload->stored || upload->step == Step::status) {
            upload->failures = stored > upload->stored ? 0 : upload->failures;
            upload->stored = stored;
            upload->step = Step::chunk;
        } else if (++upload->failures < upload->attempts) {
            upload->stored = stored;  // a chunk Drive took nothing of is sent again
        } else {
            upload->failures = 0;
            result = odd_answer(path, "Drive took none of the chunk, again and again");
        }
    } else if (answer->status == 200 || answer->status == 201) {
        Metadata file{};
        result = ostrel_google_drive_file_parse(answer->body, answer->length, &file);
        if (result == OSTREL_SUCCESS) {
            ostrel_google_metadata_destroy(&upload->file);
            upload->file = file;
            upload->stored = upload->total;
            upload->step = Step::done;
            upload->delay_ms = 0;
        }
    } else {
        result = odd_answer(path, "Drive answered a chunk with neither 308 nor the file");
    }
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result);
    return result;
}

uint64_t ostrel_google_drive_upload_stored(const ostrel_google_drive_upload_t *upload) noexcept
{
    OSTREL_GDC_REQUIRE(upload != NULL);
    return upload->stored;
}

unsigned ostrel_google_drive_upload_restarts(const ostrel_google_drive_upload_t *upload) noexcept
{
    OSTREL_GDC_REQUIRE(upload != NULL);
    return upload->restarts;
}

const ostrel_google_metadata_t *ostrel_google_drive_upload_file(const ostrel_google_drive_upload_t *upload) noexcept
{
    OSTREL_GDC_REQUIRE(upload != NULL);
    return upload->step == Step::done ? &upload->file : nullptr;
}

void ostrel_google_drive_upload_free(ostrel_google_drive_upload_t *upload) noexcept
{
    if (upload != nullptr) {
        upload->~ostrel_google_drive_upload_s();
        std::free(upload);
    }
}
