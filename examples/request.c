/* A plug-in's LIST, RETR and STOR on the library's Drive layer, served
 * against a recorded Drive session instead of Drive itself:
 *
 *   request SESSION
 *
 * SESSION (such as drive-session.json) holds the plug-in's configuration and,
 * for each FTP command a client sent, the answers Drive gave, in order. The
 * library builds every request and reads every answer; this program only
 * moves them, as a plug-in does with its HTTP client. It prints each request
 * it would send, and what it concluded: listings, bytes, FTP replies.
 *
 * Build: cc -std=c11 request.c $(pkg-config --cflags --libs ostrel-google-drive-common)
 */
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ostrel_i_google_drive_common.h>

/* Tries of each request. The library's default (0) is 5; fewer keep the
 * recording short. */
#define ATTEMPTS 3
/* Upload chunks: 0 would be the default 8 MiB; the smallest shows chunking. */
#define CHUNK_SIZE OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT

/* One client's session: its recorded answers and the walker that serves
 * all of its paths, which learns the root's id once. */
struct session {
    json_t *answers; /* the current command's */
    size_t next;
    char *body;      /* the last answer's body, when recorded as JSON */
    ostrel_google_drive_walk_t *walk;
};

/* Prints a failed result as the client's FTP reply, and frees the error:
 * the code and error text, then each detail of the Drive error behind it
 * (GD-Operation, GD-Path, GD-Details, GD-Reason, GD-HTTP-Status). */
static void reply_error(ostrel_result_t result)
{
    ostrel_object_t *error = ostrel_error_get(result);
    const int code = ostrel_gfs_error_get_ftp_response_code(error);
    if (code == 0) { /* not an FTP reply: out of memory, a bad argument */
        char *text = ostrel_error_print_friendly(error);
        const char *line = text != NULL ? strtok(text, "\n") : NULL;
        printf("451 %s\n", line != NULL ? line : "Local error");
        free(text);
        ostrel_object_free(error);
        return;
    }
    const char *text = ostrel_gfs_error_get_ftp_response_error_code(error);
    const char *message = ostrel_gfs_error_get_ftp_response_message(error);
    printf("%d-%s %s\n", code, text, message != NULL ? message : "");
    for (size_t i = 0; i < ostrel_google_drive_error_get_info_count(error); i++) {
        const char *key, *value;
        if (ostrel_google_drive_error_get_info_entry(error, i, &key, &value) && key != NULL && value != NULL) {
            printf("%d-%s: %s\n", code, key, value);
        }
    }
    printf("%d %s\n", code, text);
    ostrel_object_free(error);
}

/* The recorded request's "METHOD /path" against the request built. */
static int matches(const char *recorded, const ostrel_google_drive_request_t *request)
{
    const char *path = strchr(strstr(request->url, "://") + 3, '/');
    const size_t method = strlen(request->method);
    const size_t length = strcspn(path, "?");
    return strncmp(recorded, request->method, method) == 0 && recorded[method] == ' '
           && strlen(recorded + method + 1) == length && strncmp(recorded + method + 1, path, length) == 0;
}

/* Sends a request: here, prints it and takes the next recorded answer. A
 * plug-in waits delay_ms, adds "Authorization: Bearer TOKEN", sends the
 * body, or for an upload chunk its own bytes from data_offset on, and fills
 * the answer from what comes back (status 0 when nothing does). */
static void send_request(struct session *s, const ostrel_google_drive_request_t *request, unsigned long delay_ms,
                         ostrel_google_drive_answer_t *answer)
{
    if (delay_ms != 0) {
        printf("  (waits %lu ms)\n", delay_ms);
    }
    printf("  > %s %s\n", request->method, request->url);
    for (size_t i = 0; i < request->header_count; i++) {
        printf("  >   %s: %s\n", request->headers[i].name, request->headers[i].value);
    }
    if (request->body != NULL) {
        printf("  >   %.*s\n", (int) request->body_length, request->body);
    }
    if (request->data_length != 0) {
        printf("  >   (%" PRIu64 " bytes of the file from byte %" PRIu64 ")\n", request->data_length,
               request->data_offset);
    }
    memset(answer, 0, sizeof *answer);
    answer->random_ms = 250; /* a plug-in draws it: rand() % 1000 */
    free(s->body);
    s->body = NULL;
    const json_t *recorded = json_array_get(s->answers, s->next++);
    const char *expected = json_string_value(json_object_get(recorded, "request"));
    if (expected == NULL || !matches(expected, request)) {
        printf("  < no answer (the recording expected %s)\n", expected != NULL ? expected : "nothing");
        return;
    }
    const json_t *body = json_object_get(recorded, "body");
    if (json_is_string(body)) {
        answer->body = json_string_value(body);
        answer->length = json_string_length(body);
    } else if (body != NULL) {
        s->body = json_dumps(body, JSON_COMPACT | JSON_PRESERVE_ORDER);
        answer->body = s->body;
        answer->length = s->body != NULL ? strlen(s->body) : 0;
    }
    answer->status = (int) json_integer_value(json_object_get(recorded, "status"));
    answer->range = json_string_value(json_object_get(recorded, "range"));
    answer->location = json_string_value(json_object_get(recorded, "location"));
    printf("  < %d%s%s%s%s\n", answer->status, answer->range != NULL ? " Range: " : "",
           answer->range != NULL ? answer->range : "", answer->location != NULL ? " Location: " : "",
           answer->location != NULL ? answer->location : "");
}

/* The file a client path opens (to_parent: the folder it goes into), owned
 * by the walker; NULL after replying the failure. Every Drive state machine
 * runs this loop: next request, send, feed its answer, until none is left. */
static const ostrel_google_metadata_t *walk_to(struct session *s, const char *path, bool to_parent)
{
    ostrel_google_drive_request_t *request;
    unsigned long delay_ms;
    ostrel_result_t r = ostrel_google_drive_walk_start(s->walk, path, to_parent);
    while (r == OSTREL_SUCCESS && (r = ostrel_google_drive_walk_next(s->walk, &request, &delay_ms)) == OSTREL_SUCCESS
           && request != NULL) {
        ostrel_google_drive_answer_t answer;
        send_request(s, request, delay_ms, &answer);
        r = ostrel_google_drive_walk_feed(s->walk, &answer);
        ostrel_google_drive_request_free(request);
    }
    if (r != OSTREL_SUCCESS) {
        reply_error(r);
        return NULL;
    }
    const ostrel_google_metadata_t *file = ostrel_google_drive_walk_file(s->walk);
    printf("  walked to %s (%s)\n", file->id, file->name != NULL ? file->name : "");
    return file;
}

/* One line of a listing: its kind, as the library tells it, its size (a
 * stub's is known without Drive) and its client name. */
static void print_entry(const ostrel_google_metadata_t *file)
{
    static const char *const kinds[] = {"file", "folder", "export", "stub", "no-content"};
    const ostrel_google_drive_kind_t kind = ostrel_google_drive_kind(file, NULL);
    char size[24] = "-";
    size_t stub_length;
    if (kind == OSTREL_GOOGLE_DRIVE_KIND_STUB
        && ostrel_google_drive_stub_content(file, NULL, &stub_length) == OSTREL_SUCCESS) {
        snprintf(size, sizeof size, "%zu", stub_length);
    } else if (file->size_set) {
        snprintf(size, sizeof size, "%" PRIu64, file->size);
    }
    char *name = NULL;
    const ostrel_result_t r = ostrel_google_drive_name_translate_out(file, &name);
    if (r != OSTREL_SUCCESS) {
        reply_error(r);
        return;
    }
    printf("  %-10s %8s  %s\n", kinds[kind], size, name);
    free(name);
}

/* LIST: the folder's files across all of Drive's pages, colliding names
 * marked so that each gets its ID token. */
static void list(struct session *s, const char *path)
{
    const ostrel_google_metadata_t *folder = walk_to(s, path, false);
    ostrel_google_drive_listing_t *listing = NULL;
    ostrel_google_drive_request_t *request;
    unsigned long delay_ms;
    if (folder == NULL) {
        return;
    }
    ostrel_result_t r = ostrel_google_drive_listing_create(NULL, folder->id, false, ATTEMPTS, &listing);
    while (r == OSTREL_SUCCESS && (r = ostrel_google_drive_listing_next(listing, &request, &delay_ms)) == OSTREL_SUCCESS
           && request != NULL) {
        ostrel_google_drive_answer_t answer;
        send_request(s, request, delay_ms, &answer);
        r = ostrel_google_drive_listing_feed(listing, &answer);
        ostrel_google_drive_request_free(request);
    }
    ostrel_google_metadata_t *children = NULL;
    size_t count = 0;
    if (r == OSTREL_SUCCESS) {
        r = ostrel_google_drive_listing_take(listing, &children, &count, NULL, NULL, NULL);
    }
    ostrel_google_drive_listing_free(listing);
    if (r != OSTREL_SUCCESS) {
        reply_error(r);
        return;
    }
    for (size_t i = 0; i < count; i++) {
        print_entry(&children[i]);
        ostrel_google_metadata_destroy(&children[i]);
    }
    free(children);
    printf("226 %zu files listed\n", count);
}

/* RETR from a restart offset: an ordinary file's bytes from Drive with a
 * Range, an export whole (the leading bytes are dropped here), a stub's
 * content from the library with no request at all. */
static void retrieve(struct session *s, const char *path, uint64_t offset)
{
    const ostrel_google_metadata_t *file = walk_to(s, path, false);
    ostrel_google_drive_request_t *request = NULL;
    uint64_t skip = 0;
    if (file == NULL) {
        return;
    }
    ostrel_result_t r = ostrel_google_drive_request_read(NULL, file, offset, 0, &request, &skip);
    if (r == OSTREL_SUCCESS && request == NULL && ostrel_google_drive_kind(file, NULL) != OSTREL_GOOGLE_DRIVE_KIND_STUB) {
        printf("  nothing left to read from byte %" PRIu64 "\n", offset);
    } else if (r == OSTREL_SUCCESS && request == NULL) {
        char *content = NULL;
        size_t length = 0;
        r = ostrel_google_drive_stub_content(file, &content, &length);
        if (r == OSTREL_SUCCESS) {
            printf("  stub: %s", content + skip);
        }
        free(content);
    } else if (r == OSTREL_SUCCESS) {
        /* A single request: a plug-in sends a retryable one again, after
         * ostrel_google_drive_retry_delay_ms(). */
        ostrel_google_drive_answer_t answer;
        bool retry;
        send_request(s, request, 0, &answer);
        r = ostrel_google_drive_answer_error(answer.status, answer.body, answer.length, "Reading a file", path, &retry);
        if (r == OSTREL_SUCCESS) {
            const size_t dropped = skip < answer.length ? (size_t) skip : answer.length;
            size_t sent = answer.length - dropped;
            while (sent > 0 && answer.body[dropped + sent - 1] == '\n') { /* not shown */
                sent--;
            }
            printf("  received %zu bytes, dropped %zu; the client gets \"%.*s\"\n", answer.length, dropped,
                   (int) sent, answer.body + dropped);
        }
    }
    ostrel_google_drive_request_free(request);
    if (r != OSTREL_SUCCESS) {
        reply_error(r);
        return;
    }
    printf("226 Transfer complete\n");
}

/* STOR: a resumable upload into the folder the path's parent names. */
static void store(struct session *s, const char *path, uint64_t size)
{
    const ostrel_google_metadata_t *folder = walk_to(s, path, true);
    ostrel_google_drive_upload_t *upload = NULL;
    ostrel_google_drive_request_t *request;
    unsigned long delay_ms;
    if (folder == NULL) {
        return;
    }
    const char *name = ostrel_google_drive_walk_last_name(s->walk);
    ostrel_result_t r = ostrel_google_drive_upload_create(NULL, folder->id, name, size, CHUNK_SIZE, ATTEMPTS, &upload);
    while (r == OSTREL_SUCCESS && (r = ostrel_google_drive_upload_next(upload, &request, &delay_ms)) == OSTREL_SUCCESS
           && request != NULL) {
        ostrel_google_drive_answer_t answer;
        send_request(s, request, delay_ms, &answer);
        r = ostrel_google_drive_upload_feed(upload, &answer);
        ostrel_google_drive_request_free(request);
    }
    if (r == OSTREL_SUCCESS) {
        const ostrel_google_metadata_t *file = ostrel_google_drive_upload_file(upload);
        /* A plug-in compares md5Checksum with the MD5 of what it sent. */
        printf("  stored %s (%s), %" PRIu64 " bytes, md5Checksum %s\n", file->id, file->name, file->size,
               file->md5_checksum);
        printf("226 Transfer complete\n");
    } else {
        reply_error(r);
    }
    ostrel_google_drive_upload_free(upload);
}

/* The export formats and tracing from the plug-in's configuration string,
 * through the library's own key table. */
static int configure(const char *configuration)
{
    ostrel_google_drive_export_options_t options = {0};
    ostrel_google_drive_config_key_t keys[6];
    ostrel_i_google_drive_export_config_keys(&options, keys);
    ostrel_result_t r = ostrel_i_google_drive_config_parse_string(configuration, keys, true);
    if (r == OSTREL_SUCCESS) {
        r = ostrel_i_google_drive_export_apply_config(&options);
    }
    ostrel_i_google_drive_export_options_destroy(&options);
    if (r != OSTREL_SUCCESS) {
        reply_error(r);
        return 0;
    }
    printf("configuration: %s\n", configuration);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s SESSION\n", argv[0]);
        return 2;
    }
    json_error_t json_error;
    json_t *recording = json_load_file(argv[1], 0, &json_error);
    if (recording == NULL) {
        fprintf(stderr, "%s:%d: %s\n", argv[1], json_error.line, json_error.text);
        return 1;
    }
    if (ostrel_module_activate(&ostrel_i_google_drive_common_module) != 0) {
        fputs("the library did not activate\n", stderr);
        json_decref(recording);
        return 1;
    }
    struct session s = {NULL, 0, NULL, NULL};
    const char *configuration = json_string_value(json_object_get(recording, "configuration"));
    int status = 1;
    if (configure(configuration != NULL ? configuration : "")
        && ostrel_google_drive_walk_create(NULL, "root", ATTEMPTS, &s.walk) == OSTREL_SUCCESS) {
        const json_t *commands = json_object_get(recording, "commands");
        for (size_t i = 0; i < json_array_size(commands); i++) {
            const json_t *command = json_array_get(commands, i);
            const char *verb = json_string_value(json_object_get(command, "command"));
            const char *path = json_string_value(json_object_get(command, "path"));
            const uint64_t offset = (uint64_t) json_integer_value(json_object_get(command, "offset"));
            const uint64_t size = (uint64_t) json_integer_value(json_object_get(command, "size"));
            s.answers = json_object_get(command, "answers");
            s.next = 0;
            if (verb == NULL || path == NULL) {
                continue;
            }
            printf("\n%s %s", verb, path);
            if (strcmp(verb, "LIST") == 0) {
                printf("\n");
                list(&s, path);
            } else if (strcmp(verb, "RETR") == 0) {
                printf(" (from byte %" PRIu64 ")\n", offset);
                retrieve(&s, path, offset);
            } else if (strcmp(verb, "STOR") == 0) {
                printf(" (%" PRIu64 " bytes)\n", size);
                store(&s, path, size);
            }
            if (s.next < json_array_size(s.answers)) {
                printf("  (%zu recorded answers not asked for)\n", json_array_size(s.answers) - s.next);
            }
        }
        printf("\n%zu requests walking paths\n", ostrel_google_drive_walk_request_count(s.walk));
        status = 0;
    }
    ostrel_google_drive_walk_free(s.walk);
    free(s.body);
    json_decref(recording);
    ostrel_module_deactivate(&ostrel_i_google_drive_common_module);
    return status;
}
