/* Common logic of the Google Drive storage plug-in of the GridFTP server.
 *
 * Conventions:
 *  1. Operations that can fail return an ostrel_result_t: OSTREL_SUCCESS (0)
 *     or the handle of the error the host runtime keeps for it.
 *  2. Texts handed out (names, paths, ids, copies) are malloc'ed and belong
 *     to the caller, who free()s them.
 *  3. MIME types, extensions, type words and table rows handed out are
 *     constants of the library; never free them.
 *  4. Texts handed in are only read. A required argument that is absent
 *     stops the process with an assertion naming the source file and line.
 *  5. Out-parameters end in "p".
 *  6. Activate ostrel_i_google_drive_common_module before any other call and
 *     set the export configuration before concurrent use.
 */
#ifndef OSTREL_GOOGLE_DRIVE_COMMON_H
#define OSTREL_GOOGLE_DRIVE_COMMON_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include <jansson.h>

#include "ostrel_common.h"
#include "ostrel_gridftp_server.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Drive error: an error object carrying ordered key/value details. */
typedef struct ostrel_google_drive_error_info_entry_s {
    char *key;
    char *value;
} ostrel_google_drive_error_info_entry_t;
typedef struct ostrel_google_drive_error_info_s {
    size_t detail_count;
    ostrel_google_drive_error_info_entry_t *details;
} ostrel_google_drive_error_info_t;
extern const ostrel_object_type_t OSTREL_GOOGLE_DRIVE_ERROR_TYPE_DEFINITION;
/* A new Drive error holding a deep copy of info (may be NULL); NULL without
 * memory. The caller owns it, usually as the cause of another error. */
ostrel_object_t *ostrel_google_drive_error_construct(
    const ostrel_module_descriptor_t *module, ostrel_object_t *cause,
    const ostrel_google_drive_error_info_t *info) OSTREL_NOTHROW;
/* Makes a freshly constructed object a Drive error with a copy of info;
 * returns it seen as a Drive error, or NULL when it is not one. */
ostrel_object_t *ostrel_google_drive_error_initialize(
    ostrel_object_t *error, const ostrel_module_descriptor_t *module,
    ostrel_object_t *cause, const ostrel_google_drive_error_info_t *info) OSTREL_NOTHROW;
/* Adds details, replacing the value of a key the error already has. */
void ostrel_google_drive_error_add_info(ostrel_object_t *error,
                                        const ostrel_google_drive_error_info_t *info) OSTREL_NOTHROW;
/* The value of key in the first Drive error of the cause chain, or NULL;
 * owned by that error. */
const char *ostrel_google_drive_error_get_info(ostrel_object_t *error, const char *key) OSTREL_NOTHROW;

/* Document types: one row of the export table. */
typedef struct ostrel_google_drive_doc_type_s {
    const char *description;
    const char *mime_type;
    const char *extension;
} ostrel_google_drive_doc_type_t;
/* 21 formats and a terminating row whose fields are all NULL. */
extern const ostrel_google_drive_doc_type_t ostrel_l_google_drive_export_mimes[22];
/* Stub extension of a Google-Apps MIME type; "" for anything else. */
const char *ostrel_google_drive_doc_extension(const char *mime_type) OSTREL_NOTHROW;
/* Google-Apps MIME type of a stub extension (with its "."), or NULL. */
const char *ostrel_google_drive_extension_mime_type(const char *extension) OSTREL_NOTHROW;
/* Google-Apps MIME type of the stub suffix of name, or NULL. */
const char *ostrel_google_drive_doc_mime_type(const char *name) OSTREL_NOTHROW;
/* True for the nine Google-Apps document MIME types. */
bool ostrel_google_drive_mime_type_is_google_docs(const char *mime_type) OSTREL_NOTHROW;
/* True when the suffix of name is a stub extension. */
bool ostrel_google_drive_is_stub(const char *name) OSTREL_NOTHROW;

/* Export configuration: each argument an extension with or without its
 * leading "." or NULL for the kind's stub default. */
ostrel_result_t ostrel_google_drive_export_set_config(
    const char *doc_extension, const char *sheet_extension,
    const char *presentation_extension, const char *drawing_extension) OSTREL_NOTHROW;
/* The export table row of extension (with its "."), into *doc_typep. */
ostrel_result_t ostrel_google_drive_export_find_ext(
    const char *extension, const ostrel_google_drive_doc_type_t **doc_typep) OSTREL_NOTHROW;
/* Google-Apps MIME type a file name stands for under the configuration. */
const char *ostrel_google_drive_export_get_mime(const char *name) OSTREL_NOTHROW;
/* Extension under which documents of mime_type are shown; never NULL. */
const char *ostrel_google_drive_exported_get_extension(const char *mime_type) OSTREL_NOTHROW;
/* MIME type documents of mime_type are exported to; NULL for stubs. */
const char *ostrel_google_drive_exported_get_export_mime(const char *mime_type) OSTREL_NOTHROW;
/* True when documents of mime_type are shown as stub files. */
bool ostrel_google_drive_exported_type_is_stub(const char *mime_type) OSTREL_NOTHROW;

/* Export suffixes: "{export-" type "}." extension. */
/* The type word and extension (constants) of mime_type's export, or NULLs. */
void ostrel_google_drive_export_escape_type(const char *mime_type,
                                            const char **export_type,
                                            const char **export_extension) OSTREL_NOTHROW;
/* name with its export suffix, or escaped; room left for a stub extension. */
char *ostrel_google_drive_name_out(const char *name, const char *in_type,
                                   const char *in_extension) OSTREL_NOTHROW;
/* name without its export suffix or escape; type and extension are new
 * texts when a suffix was removed. NULL without memory. */
char *ostrel_google_drive_name_in(const char *name, bool for_write,
                                  char **export_type, char **export_extension) OSTREL_NOTHROW;

/* Metadata of one Drive file. */
#define OSTREL_GOOGLE_DRIVE_NAME_TRASH "Trash"
#define OSTREL_GOOGLE_DRIVE_NAME_STARRED "Starred"
#define OSTREL_GOOGLE_DRIVE_NAME_SHARED_WITH_ME "Shared With Me"
typedef struct ostrel_google_metadata_s {
    char *id;
    char *name;
    char *drive_id;
    char *mime_type;
    time_t created_time;
    bool created_time_set;
    time_t viewed_by_me_time;
    bool viewed_by_me_time_set;
    time_t modified_time;
    bool modified_time_set;
    bool owned_by_me;
    bool owned_by_me_set;
    size_t owner_count;
    char **owners;
    bool can_edit;
    bool can_edit_set;
    bool starred;
    bool starred_set;
    bool trashed;
    bool trashed_set;
    bool explicitly_trashed;
    bool explicitly_trashed_set;
    char md5_checksum[33];
    uintmax_t size;
    bool size_set;
    size_t parent_count;
    char **parents;
    bool plugin_flag;     /* the plug-in's own; never read or set here */
    bool append_id;
} ostrel_google_metadata_t;
/* Fills an empty record from a Drive file resource (not retained). */
ostrel_result_t ostrel_google_metadata_parse(json_t *json, ostrel_google_metadata_t *metadata) OSTREL_NOTHROW;
/* Deep copy of src into the empty record dst. */
ostrel_result_t ostrel_google_metadata_copy(ostrel_google_metadata_t *dst,
                                            const ostrel_google_metadata_t *src) OSTREL_NOTHROW;
/* Releases what the record owns and zeroes it; NULL: no-op. */
void ostrel_google_metadata_destroy(ostrel_google_metadata_t *metadata) OSTREL_NOTHROW;
/* Destroys and free()s a heap record; NULL: no-op. */
void ostrel_google_metadata_destroy_void(void *metadata) OSTREL_NOTHROW;
/* A new JSON object of the record's present fields; json_decref it. */
ostrel_result_t ostrel_google_metadata_convert(const ostrel_google_metadata_t *metadata,
                                               json_t **jsonp) OSTREL_NOTHROW;

/* Names and paths. */
/* Drive name (new), implied MIME type (constant) and id (new) of a client name. */
ostrel_result_t ostrel_google_drive_name_translate_in(
    const char *input_name, char **output_namep, const char **output_mime_typep,
    char **output_idp, bool for_write) OSTREL_NOTHROW;
/* Client name (new) of a Drive file. */
ostrel_result_t ostrel_google_drive_name_translate_out(
    const ostrel_google_metadata_t *metadata, char **output_namep) OSTREL_NOTHROW;

typedef struct ostrel_google_drive_path_element_s {
    char *name;
    void *caller_data;
    char *id;
    const char *mime_type;
    bool append_id;
} ostrel_google_drive_path_element_t;
typedef struct ostrel_google_drive_path_s {
    uint64_t count;
    ostrel_google_drive_path_element_t *elements;
} ostrel_google_drive_path_t;
/* Splits a client path into translated elements; the caller frees each
 * element's name and id, then the array. */
ostrel_result_t ostrel_google_drive_path_split(const char *path,
                                               ostrel_google_drive_path_t *result_path,
                                               bool for_write) OSTREL_NOTHROW;
/* The client path (new) of the first element_count elements. */
ostrel_result_t ostrel_google_drive_partial_path_construct(
    const ostrel_google_drive_path_t *path, uint64_t element_count, char **partial_path) OSTREL_NOTHROW;
/* path with "$HOME" and "$LOGNAME" expanded (new). */
ostrel_result_t ostrel_google_drive_evaluate_path(const char *path, char **evaluated_pathp) OSTREL_NOTHROW;

/* Folder listing and lookup. */
ostrel_result_t ostrel_google_drive_mark_collisions(ostrel_google_metadata_t *children, size_t count) OSTREL_NOTHROW;
ostrel_result_t ostrel_google_drive_lookup(const char *client_name,
                                          const ostrel_google_metadata_t *children, size_t count,
                                          size_t *indexp) OSTREL_NOTHROW;
ostrel_result_t ostrel_google_drive_lookup_query(const char *parent_id, const char *client_name,
                                                char **queryp, bool *whole_folderp) OSTREL_NOTHROW;

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_GOOGLE_DRIVE_COMMON_H */
