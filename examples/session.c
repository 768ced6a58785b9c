/* A plug-in's nine FTP commands on the Drive session, with libcurl as its
 * HTTP client:
 *
 *   session URL TOKEN COMMAND ARG...
 *
 * COMMAND is LIST, RETR (ARG: path [offset]), STOR (path local-file), DELE,
 * MKD, RMD, RNFR (from to), SIZE or MDTM; and what GridFTP adds: MLSD,
 * MFMT (path YYYYMMDDHHMMSS), CKSM (algorithm offset length path) and
 * ESTO (path local-file streams: the file's blocks sent over that many
 * "streams" in a scrambled order, through the reorder window, as MODE E
 * delivers them). Each command is a few lines; the
 * plumbing they share (one loop for every operation, retries and resumes
 * included, and the reply line) is send() and finish() below. Against the
 * project's emulator:
 *
 *   python3 tests/drive/emulator.py --tree examples/my-drive-tree.json &
 *   session http://127.0.0.1:PORT emulator-token LIST /
 *
 * Build: cc -std=c11 session.c $(pkg-config --cflags --libs ostrel-google-drive-common) -lcurl
 */
#define _DEFAULT_SOURCE /* timegm */
#define _XOPEN_SOURCE 700 /* strptime */
#include <curl/curl.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include <ostrel_i_google_drive_common.h>

static const char *token;

static uint64_t now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t) t.tv_sec * 1000 + (uint64_t) t.tv_nsec / 1000000;
}

/* --- the plumbing: one transfer, for every operation ------------------- */
struct transfer {
    CURL *curl;
    ostrel_google_drive_op_t *op;
    char head[8192], *body;     /* the answer's headers and (collected) body */
    size_t head_length, body_length;
    bool head_fed, deliver;     /* a read's head: fed before its body comes */
    uint64_t skip, count, received;
    ostrel_result_t result;
    FILE *in, *out;             /* STOR's source, RETR's sink */
    ostrel_google_drive_checksum_t *sum;  /* CKSM: the read's bytes go here instead */
    ostrel_google_drive_window_t *window; /* ESTO: chunks come from the window */
    const char *upload;
    size_t upload_left;
};

static size_t on_header(char *data, size_t size, size_t n, void *user)
{
    struct transfer *t = user;
    size_t length = size * n;
    long status = 0;
    curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
    if (t->head_length + length < sizeof t->head) {
        memcpy(t->head + t->head_length, data, length);
        t->head[t->head_length += length] = '\0';
    }
    if (length <= 2 && status >= 200 && ostrel_google_drive_op_streams(t->op)) { /* the head's end */
        t->result = ostrel_google_drive_op_feed_head(t->op, (int) status, t->head, (unsigned) rand() % 1000,
                                                     now_ms(), &t->deliver, &t->skip, &t->count);
        t->head_fed = true;
    } else if (length <= 2) {
        t->head_length = 0; /* a 100 Continue's */
    }
    return length;
}

static size_t on_body(char *data, size_t size, size_t n, void *user)
{
    struct transfer *t = user;
    size_t length = size * n;
    if (t->head_fed && t->deliver) { /* content: drop skip bytes, pass on count */
        uint64_t start = t->received < t->skip ? t->skip - t->received : 0;
        t->received += length;
        if (start < length && t->count > 0) {
            size_t piece = length - (size_t) start < t->count ? length - (size_t) start : (size_t) t->count;
            if (t->sum != NULL) {
                ostrel_google_drive_checksum_update(t->sum, data + start, piece);
            } else {
                fwrite(data + start, 1, piece, t->out);
            }
            t->count -= piece;
        }
        return length;
    }
    char *grown = realloc(t->body, t->body_length + length + 1);
    if (grown == NULL) {
        return 0;
    }
    memcpy(grown + t->body_length, data, length);
    t->body = grown;
    t->body_length += length;
    return length;
}

static size_t on_upload(char *data, size_t size, size_t n, void *user)
{
    struct transfer *t = user;
    if (t->upload == NULL) {
        return fread(data, 1, size * n, t->in);
    }
    size_t piece = size * n < t->upload_left ? size * n : t->upload_left;
    memcpy(data, t->upload, piece);
    t->upload += piece;
    t->upload_left -= piece;
    return piece;
}

/* Sends one request and feeds its answer: the library's send callback. */
static ostrel_result_t send_one(void *user, ostrel_google_drive_op_t *op, const ostrel_google_drive_request_t *r,
                            unsigned long delay_ms)
{
    struct transfer *t = user;
    struct timespec wait = {(time_t) (delay_ms / 1000), (long) (delay_ms % 1000) * 1000000L};
    nanosleep(&wait, NULL);
    struct curl_slist *headers = NULL;
    char line[4096];
    for (size_t i = 0; i < r->header_count; ++i) {
        snprintf(line, sizeof line, "%s: %s", r->headers[i].name, r->headers[i].value);
        headers = curl_slist_append(headers, line);
    }
    if (strcmp(r->method, "PUT") != 0) { /* a session URI is the capability */
        snprintf(line, sizeof line, "Authorization: Bearer %s", token);
        headers = curl_slist_append(headers, line);
    }
    t->curl = curl_easy_init();
    t->op = op, t->head_length = t->body_length = 0, t->received = 0, t->head_fed = false;
    curl_easy_setopt(t->curl, CURLOPT_URL, r->url);
    curl_easy_setopt(t->curl, CURLOPT_CUSTOMREQUEST, r->method);
    curl_easy_setopt(t->curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(t->curl, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(t->curl, CURLOPT_HEADERDATA, t);
    curl_easy_setopt(t->curl, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(t->curl, CURLOPT_WRITEDATA, t);
    if (r->body != NULL) {
        curl_easy_setopt(t->curl, CURLOPT_POSTFIELDS, r->body);
        curl_easy_setopt(t->curl, CURLOPT_POSTFIELDSIZE, (long) r->body_length);
    } else if (strcmp(r->method, "PUT") == 0) {
        t->upload = t->window != NULL ? ostrel_google_drive_window_bytes(t->window, r->data_offset, r->data_length) : NULL;
        t->upload_left = (size_t) r->data_length;
        fseek(t->in, (long) r->data_offset, SEEK_SET);
        curl_easy_setopt(t->curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(t->curl, CURLOPT_READFUNCTION, on_upload);
        curl_easy_setopt(t->curl, CURLOPT_READDATA, t);
        curl_easy_setopt(t->curl, CURLOPT_INFILESIZE_LARGE, (curl_off_t) r->data_length);
    }
    CURLcode done = curl_easy_perform(t->curl);
    long status = 0;
    curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(t->curl);
    if (!ostrel_google_drive_op_streams(op) && !t->head_fed) {
        return ostrel_google_drive_op_feed(op, done == CURLE_OK ? (int) status : 0, t->head, t->body, t->body_length,
                                           (unsigned) rand() % 1000, now_ms());
    }
    if (!t->head_fed) { /* no answer came */
        t->result = ostrel_google_drive_op_feed_head(op, 0, NULL, (unsigned) rand() % 1000, now_ms(), &t->deliver,
                                                     &t->skip, &t->count);
        t->deliver = false;
    }
    if (t->result != OSTREL_SUCCESS) {
        return t->result;
    }
    return t->deliver ? ostrel_google_drive_op_feed_end(op, t->received, done == CURLE_OK)
                      : ostrel_google_drive_op_feed_body(op, t->body, t->body_length);
}

/* Runs op and prints the FTP reply; 0 when it succeeded. */
static int finish(ostrel_google_drive_op_t *op, struct transfer *t, const char *success)
{
    ostrel_result_t result = ostrel_google_drive_op_run(op, send_one, t);
    int code = 0;
    char *text = result != OSTREL_SUCCESS ? ostrel_google_drive_reply(result, &code, false) : NULL;
    if (result != OSTREL_SUCCESS) {
        printf("%d %s\n", code, text != NULL ? text : "Local error");
        ostrel_object_free(ostrel_error_get(result));
    } else if (success != NULL) {
        printf("%s\n", success);
    }
    free(text);
    return result != OSTREL_SUCCESS;
}
/* --- end of the plumbing ------------------------------------------------ */

int main(int argc, char **argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: session URL TOKEN COMMAND ARG...\n");
        return 2;
    }
    token = argv[2];
    const char *command = argv[3], *path = argv[4];
    if (ostrel_google_drive_start(getenv("OSTREL_GDRIVE_CONFIG"), false) != OSTREL_SUCCESS) {
        return 1;
    }
    ostrel_google_drive_session_t *session = NULL;
    if (ostrel_google_drive_session_create(argv[1], NULL, &session) != OSTREL_SUCCESS) {
        return 1;
    }
    struct transfer t = {0};
    t.out = stdout;
    ostrel_google_drive_op_t *op = NULL;
    int failed = 0;
    if (strcmp(command, "LIST") == 0) {
        ostrel_google_drive_op_list(session, path, now_ms(), &op);
        if (!(failed = finish(op, &t, "226 Listed"))) {
            for (size_t i = 0; i < ostrel_google_drive_op_entry_count(op); ++i) {
                printf("%s\n", ostrel_google_drive_op_entry_name(op, i));
            }
        }
    } else if (strcmp(command, "RETR") == 0) {
        ostrel_google_drive_op_read(session, path, argc > 5 ? strtoull(argv[5], NULL, 10) : 0, 0, false, now_ms(), &op);
        failed = finish(op, &t, "226 Sent");
        size_t length = 0;
        const char *stub = ostrel_google_drive_op_content(op, &length);
        fwrite(stub != NULL ? stub : "", 1, length, stdout);
    } else if (strcmp(command, "STOR") == 0 && argc > 5 && (t.in = fopen(argv[5], "rb")) != NULL) {
        fseek(t.in, 0, SEEK_END);
        ostrel_google_drive_op_write(session, path, (uint64_t) ftell(t.in), OSTREL_GOOGLE_DRIVE_NO_TIME, now_ms(), &op);
        failed = finish(op, &t, "226 Stored");
        fclose(t.in);
    } else if (strcmp(command, "DELE") == 0) {
        ostrel_google_drive_op_delete(session, path, false, now_ms(), &op);
        failed = finish(op, &t, "250 Deleted (in the trash)");
    } else if (strcmp(command, "MKD") == 0) {
        ostrel_google_drive_op_mkdir(session, path, now_ms(), &op);
        failed = finish(op, &t, "257 Created");
    } else if (strcmp(command, "RMD") == 0) {
        ostrel_google_drive_op_rmdir(session, path, false, now_ms(), &op);
        failed = finish(op, &t, "250 Removed");
    } else if (strcmp(command, "RNFR") == 0 && argc > 5) {
        ostrel_google_drive_op_rename(session, path, argv[5], now_ms(), &op);
        failed = finish(op, &t, "250 Renamed");
    } else if (strcmp(command, "MLSD") == 0) {
        ostrel_google_drive_op_list(session, path, now_ms(), &op);
        if (!(failed = finish(op, &t, "226 Listed"))) {
            for (size_t i = 0; i < ostrel_google_drive_op_entry_count(op); ++i) {
                char *facts = ostrel_google_drive_op_facts(op, i);
                printf("%s %s\n", facts != NULL ? facts : "", ostrel_google_drive_op_entry_name(op, i));
                free(facts);
            }
        }
    } else if (strcmp(command, "MFMT") == 0 && argc > 5) {
        struct tm when = {0};
        if (strptime(argv[5], "%Y%m%d%H%M%S", &when) == NULL) {
            return 2;
        }
        ostrel_google_drive_op_set_time(session, path, (int64_t) timegm(&when) * 1000, now_ms(), &op);
        failed = finish(op, &t, "213 Modified");
    } else if (strcmp(command, "CKSM") == 0 && argc > 7) { /* CKSM ALGORITHM OFFSET LENGTH PATH */
        const char *algorithm = argv[4];
        uint64_t offset = strtoull(argv[5], NULL, 10);
        uint64_t length = argv[6][0] == '-' ? UINT64_MAX : strtoull(argv[6], NULL, 10);
        path = argv[7];
        ostrel_google_drive_op_stat(session, path, now_ms(), &op);
        const char *md5 = NULL;
        ostrel_result_t none = OSTREL_SUCCESS;
        if (!(failed = finish(op, &t, NULL)) && strcasecmp(algorithm, "MD5") == 0) {
            none = ostrel_google_drive_drive_md5(ostrel_google_drive_op_file(op), offset, length, &md5);
            ostrel_object_free(ostrel_error_get(none)); /* none: computed below */
        }
        if (!failed && md5 != NULL) {
            printf("213 %s\n", md5); /* Drive's, no download */
        } else if (!failed) {
            ostrel_result_t made = ostrel_google_drive_checksum_create(algorithm, &t.sum);
            if (made != OSTREL_SUCCESS) {
                int code = 0;
                char *line = ostrel_google_drive_reply(made, &code, false);
                printf("%d %s\n", code, line);
                free(line);
                ostrel_object_free(ostrel_error_get(made));
                failed = 1;
            } else {
                ostrel_google_drive_op_free(op);
                ostrel_google_drive_op_read(session, path, offset, length == UINT64_MAX ? 0 : length, true,
                                            now_ms(), &op);
                if (!(failed = finish(op, &t, NULL))) {
                    size_t stub_length = 0;
                    const char *stub = ostrel_google_drive_op_content(op, &stub_length);
                    ostrel_google_drive_checksum_update(t.sum, stub, stub_length);
                    char *text = ostrel_google_drive_checksum_text(t.sum);
                    printf("213 %s\n", text);
                    free(text);
                }
                ostrel_google_drive_checksum_free(t.sum);
            }
        }
    } else if (strcmp(command, "ESTO") == 0 && argc > 6 && (t.in = fopen(argv[5], "rb")) != NULL) {
        /* The blocks of several streams, scrambled, as MODE E delivers them. */
        fseek(t.in, 0, SEEK_END);
        const uint64_t size = (uint64_t) ftell(t.in);
        const uint64_t block = 100000, blocks = (size + block - 1) / block;
        const unsigned streams = (unsigned) atoi(argv[6]) > 0 ? (unsigned) atoi(argv[6]) : 1;
        char *data = malloc(size != 0 ? size : 1);
        fseek(t.in, 0, SEEK_SET);
        if (data == NULL || fread(data, 1, size, t.in) != size
            || ostrel_google_drive_window_create(2 * OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_SIZE, &t.window) != OSTREL_SUCCESS) {
            return 1;
        }
        ostrel_google_drive_op_write(session, path, OSTREL_GOOGLE_DRIVE_SIZE_UNKNOWN, OSTREL_GOOGLE_DRIVE_NO_TIME,
                                     now_ms(), &op);
        uint64_t next[64] = {0}; /* stream k sends blocks k, k + streams, ... */
        const ostrel_google_drive_request_t *request = NULL;
        unsigned long delay = 0;
        ostrel_result_t result;
        bool ended = false;
        while ((result = ostrel_google_drive_op_next(op, &request, &delay)) == OSTREL_SUCCESS && request != NULL) {
            for (unsigned turn = 0; ostrel_google_drive_window_ready(t.window) < request->data_offset + request->data_length
                                    && turn < 64 * streams; ++turn) {
                unsigned k = (unsigned) rand() % (streams < 64 ? streams : 64);
                uint64_t b = next[k] * streams + k;
                bool wait = false;
                if (b < blocks) {
                    uint64_t at = b * block, n = size - at < block ? size - at : block;
                    result = ostrel_google_drive_window_put(t.window, at, data + at, (size_t) n, &wait);
                    next[k] += !wait && result == OSTREL_SUCCESS;
                    turn = 0;
                }
            }
            if (!ended && ostrel_google_drive_window_ready(t.window) == size) {
                ended = true; /* the last block came: the size is known */
                ostrel_google_drive_op_write_end(op, size);
                continue;
            }
            result = send_one(&t, op, request, delay);
            ostrel_google_drive_window_commit(t.window, ostrel_google_drive_op_bytes(op)); /* restart marker */
            if (result != OSTREL_SUCCESS) {
                break;
            }
        }
        printf(result == OSTREL_SUCCESS ? "226 Stored %" PRIu64 " bytes\n" : "451 Not stored (%" PRIu64 ")\n",
               ostrel_google_drive_op_bytes(op));
        failed = result != OSTREL_SUCCESS;
        ostrel_google_drive_window_free(t.window);
        free(data);
        fclose(t.in);
    } else if (strcmp(command, "SIZE") == 0 || strcmp(command, "MDTM") == 0) {
        ostrel_google_drive_op_stat(session, path, now_ms(), &op);
        if (!(failed = finish(op, &t, NULL))) {
            const ostrel_google_metadata_t *file = ostrel_google_drive_op_file(op);
            char when[32];
            strftime(when, sizeof when, "%Y%m%d%H%M%S", gmtime(&file->modified_time));
            if (command[0] == 'M') {
                printf("213 %s\n", when);
            } else if (file->size_set && ostrel_google_drive_kind(file, NULL) == OSTREL_GOOGLE_DRIVE_KIND_FILE) {
                printf("213 %ju\n", file->size);
            } else {
                printf("550 No size: not an ordinary file\n");
            }
        }
    } else {
        fprintf(stderr, "session: unknown command %s\n", command);
        failed = 2;
    }
    ostrel_google_drive_op_free(op);
    ostrel_google_drive_session_free(session);
    free(t.body);
    return failed;
}
