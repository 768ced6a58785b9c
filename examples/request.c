/* One GridFTP request served the way the Google Drive plug-in serves it,
 * on a Drive tree listing read from a file instead of Drive itself:
 *
 *   request LISTING ROOT_ID PATH [CONFIGURATION]
 *
 * It activates the library, reads the plug-in's configuration string and
 * sets the export formats, splits the client path, and for each element
 * builds the Drive query and looks the element up among that folder's
 * files. It then lists the folder the path opens (or the file) with
 * colliding names marked, and writes the record back as JSON. Every
 * failure is printed as the FTP reply the client would get.
 *
 * Build: cc -std=c11 request.c $(pkg-config --cflags --libs ostrel-google-drive-common)
 */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ostrel_i_google_drive_common.h>

/* The folder listing Drive would answer with: every file of the tree. */
struct tree {
    ostrel_google_metadata_t *files;
    size_t count;
};

/* Prints a failed result as the reply to the client, and frees the error.
 * An error that carries no FTP reply of its own is answered with
 * local_code. */
static void reply_error(const char *step, ostrel_result_t result, int local_code)
{
    ostrel_object_t *error = ostrel_error_get(result);
    const int code = ostrel_gfs_error_get_ftp_response_code(error);
    const char *error_code = ostrel_gfs_error_get_ftp_response_error_code(error);
    const char *message = ostrel_gfs_error_get_ftp_response_message(error);
    const char *details = ostrel_google_drive_error_get_info(error, "GD-Details");
    if (code != 0) {
        printf("%s: reply %d %s%s%s%s%s\n", step, code, error_code != NULL ? error_code : "",
               message != NULL ? " " : "", message != NULL ? message : "", details != NULL ? " - " : "",
               details != NULL ? details : "");
    } else {
        char *text = ostrel_error_print_friendly(error);
        size_t length = text != NULL ? strlen(text) : 0;
        while (length > 0 && text[length - 1] == '\n') {
            text[--length] = '\0';
        }
        printf("%s: reply %d %s\n", step, local_code, text != NULL ? text : "local error");
        free(text);
    }
    ostrel_object_free(error);
}

/* Reads every files.list page of the file into one array of records. */
static int read_tree(const char *path, struct tree *tree)
{
    FILE *in = fopen(path, "r");
    if (in == NULL) {
        perror(path);
        return 0;
    }
    json_t *page;
    json_error_t json_error;
    size_t capacity = 0;
    while ((page = json_loadf(in, JSON_DISABLE_EOF_CHECK, &json_error)) != NULL) {
        json_t *files = json_object_get(page, "files");
        for (size_t i = 0; i < json_array_size(files); ++i) {
            if (tree->count == capacity) {
                capacity = capacity == 0 ? 64 : capacity * 2;
                ostrel_google_metadata_t *grown = realloc(tree->files, capacity * sizeof *grown);
                if (grown == NULL) {
                    json_decref(page);
                    fclose(in);
                    return 0;
                }
                tree->files = grown;
            }
            ostrel_google_metadata_t *file = &tree->files[tree->count];
            memset(file, 0, sizeof *file);
            const ostrel_result_t result = ostrel_google_metadata_parse(json_array_get(files, i), file);
            if (result != OSTREL_SUCCESS) {
                reply_error("listing", result, 451);
                continue;
            }
            ++tree->count;
        }
        json_decref(page);
    }
    fclose(in);
    return 1;
}

/* The files of a folder, as Drive lists them for the plug-in; they share
 * the tree's texts. Trashed files take no part. */
static ostrel_google_metadata_t *children_of(const struct tree *tree, const char *folder_id, size_t *count)
{
    ostrel_google_metadata_t *children = calloc(tree->count + 1, sizeof *children);
    *count = 0;
    for (size_t i = 0; children != NULL && i < tree->count; ++i) {
        const ostrel_google_metadata_t *file = &tree->files[i];
        for (size_t p = 0; p < file->parent_count; ++p) {
            if (strcmp(file->parents[p], folder_id) == 0 && !(file->trashed_set && file->trashed)) {
                children[(*count)++] = *file;
                break;
            }
        }
    }
    return children;
}

static int is_folder(const ostrel_google_metadata_t *file)
{
    return file->mime_type != NULL && strcmp(file->mime_type, "application/vnd.google-apps.folder") == 0;
}

/* Sets the export formats from the plug-in's configuration string. */
static int configure(const char *configuration)
{
    char *formats[4] = {NULL, NULL, NULL, NULL};
    const ostrel_google_drive_config_key_t keys[] = {
        {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, "export_documents", &formats[0], NULL, NULL},
        {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, "export_spreadsheets", &formats[1], NULL, NULL},
        {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, "export_presentations", &formats[2], NULL, NULL},
        {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, "export_drawings", &formats[3], NULL, NULL},
        {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, NULL, NULL, NULL, NULL},
    };
    ostrel_result_t result = ostrel_i_google_drive_config_parse_string(configuration, keys, true);
    if (result == OSTREL_SUCCESS) {
        result = ostrel_google_drive_export_set_config(formats[0], formats[1], formats[2], formats[3]);
    }
    for (int k = 0; k < 4; ++k) {
        free(formats[k]);
    }
    if (result != OSTREL_SUCCESS) {
        reply_error("configuration", result, 500);
        return 0;
    }
    printf("configuration: %s\n", configuration);
    return 1;
}

/* Walks the path from the root: query, Drive's answer, lookup. Returns the
 * file the path opens, or NULL after replying the failure. */
static const ostrel_google_metadata_t *resolve(const struct tree *tree, const char *root_id, const char *path,
                                               ostrel_google_metadata_t *found)
{
    ostrel_google_drive_path_t split = {0, NULL};
    ostrel_result_t result = ostrel_google_drive_path_split(path, &split, false);
    if (result != OSTREL_SUCCESS) {
        reply_error("split", result, 451);
        return NULL;
    }
    for (uint64_t i = 0; i < split.count; ++i) {
        free(split.elements[i].name);
        free(split.elements[i].id);
    }
    free(split.elements);
    printf("split: %llu elements\n", (unsigned long long) split.count);

    char *elements = strdup(path);
    const char *folder_id = root_id;
    const ostrel_google_metadata_t *file = NULL;
    char *saved = NULL;
    for (char *element = strtok_r(elements, "/", &saved); element != NULL; element = strtok_r(NULL, "/", &saved)) {
        if (file != NULL && !is_folder(file)) {
            printf("lookup %s: reply 550 NOT_A_DIRECTORY\n", element);
            file = NULL;
            break;
        }
        char *query = NULL;
        bool whole_folder = false;
        result = ostrel_google_drive_lookup_query(folder_id, element, &query, &whole_folder);
        if (result != OSTREL_SUCCESS) {
            reply_error("query", result, 451);
            file = NULL;
            break;
        }
        printf("query %s: %s%s\n", element, query, whole_folder ? " (the whole folder)" : "");
        free(query);
        size_t count = 0;
        ostrel_google_metadata_t *children = children_of(tree, folder_id, &count);
        size_t index = 0;
        result = ostrel_google_drive_lookup(element, children, count, &index);
        if (result != OSTREL_SUCCESS) {
            reply_error("lookup", result, 451);
            free(children);
            file = NULL;
            break;
        }
        *found = children[index];
        file = found;
        folder_id = file->id;
        printf("lookup %s: %s (%s)\n", element, file->id, file->name);
        free(children);
    }
    free(elements);
    return file;
}

/* The folder's files as the client sees them. */
static void list_folder(const struct tree *tree, const char *folder_id)
{
    size_t count = 0;
    ostrel_google_metadata_t *children = children_of(tree, folder_id, &count);
    ostrel_result_t result = ostrel_google_drive_mark_collisions(children, count);
    if (result != OSTREL_SUCCESS) {
        reply_error("list", result, 451);
        free(children);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        char *name = NULL;
        result = ostrel_google_drive_name_translate_out(&children[i], &name);
        if (result != OSTREL_SUCCESS) {
            reply_error("list", result, 451);
            continue;
        }
        printf("list: %s\n", name);
        free(name);
    }
    free(children);
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: %s LISTING ROOT_ID PATH [CONFIGURATION]\n", argv[0]);
        return 2;
    }
    if (ostrel_module_activate(&ostrel_i_google_drive_common_module) != 0) {
        fputs("the library did not activate\n", stderr);
        return 1;
    }
    int status = 1;
    struct tree tree = {NULL, 0};
    ostrel_google_metadata_t found;
    const ostrel_google_metadata_t *file = NULL;
    if (configure(argc > 4 ? argv[4] : "export_documents=pdf") && read_tree(argv[1], &tree)) {
        file = resolve(&tree, argv[2], argv[3], &found);
    }
    if (file != NULL) {
        if (is_folder(file) || strcmp(argv[3], "/") == 0) {
            list_folder(&tree, file->id);
        }
        json_t *json = NULL;
        const ostrel_result_t result = ostrel_google_metadata_convert(file, &json);
        if (result == OSTREL_SUCCESS) {
            char *text = json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER);
            printf("record: %s\n", text);
            free(text);
            json_decref(json);
            status = 0;
        } else {
            reply_error("record", result, 451);
        }
    } else if (strcmp(argv[3], "/") == 0 && tree.files != NULL) {
        list_folder(&tree, argv[2]);
        status = 0;
    }
    for (size_t i = 0; i < tree.count; ++i) {
        ostrel_google_metadata_destroy(&tree.files[i]);
    }
    free(tree.files);
    ostrel_module_deactivate(&ostrel_i_google_drive_common_module);
    return status;
}
