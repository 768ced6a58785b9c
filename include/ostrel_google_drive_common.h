/**
 * @file ostrel_google_drive_common.h
 * @brief Common logic of the Google Drive storage plug-in of the GridFTP
 * server: name translation, document types and exports, metadata records,
 * paths, folder lookup and the Drive error type.
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

/** One detail of a Drive error: "GD-Path", "GD-Operation", "GD-Details"... */
typedef struct ostrel_google_drive_error_info_entry_s {
    char *key;   /**< the detail's name; never NULL in a list handed in */
    char *value; /**< its text; never NULL in a list handed in */
} ostrel_google_drive_error_info_entry_t;
/** An ordered list of details, as handed to the Drive error functions. */
typedef struct ostrel_google_drive_error_info_s {
    size_t detail_count;                              /**< entries in details */
    ostrel_google_drive_error_info_entry_t *details;  /**< the entries; may be NULL when detail_count is 0 */
} ostrel_google_drive_error_info_t;
/**
 * The Drive error type, derived from the host's base error type. Its copy
 * function copies the details deeply, its free function releases them,
 * and its printable text is one "key: \"value\"" line a detail whose key
 * is neither NULL nor empty and whose value is not NULL. In a printed value
 * a backslash and a double quote stand behind a backslash, a line feed
 * prints as `\\n`, a carriage return as `\\r`, every other control character
 * below 0x20 and 0x7f as `\\xNN` and a C1 control (U+0080 to U+009F) as
 * `\\u00NN`, in lower-case hexadecimal, so that a value never starts a line
 * of its own nor drives a terminal; other bytes print as they are. The
 * library's "GridFTP-Path: PATH" messages and its trace lines show the
 * texts they interpolate the same way, without the quote and backslash
 * escapes.
 */
extern const ostrel_object_type_t OSTREL_GOOGLE_DRIVE_ERROR_TYPE_DEFINITION;
/**
 * @brief A new Drive error: an error object carrying ordered key/value
 * details.
 * @param module the reporting module, recorded in the base error; may be
 * NULL.
 * @param cause the error this one wraps, or NULL. It is taken over in every
 * case, as the host's error constructors take it: it becomes the new
 * error's cause (ostrel_error_get_cause()), freed with it; when the new
 * error cannot be made, it is freed at once.
 * @param info the details, copied deeply; may be NULL for none.
 * @return the new error, which the caller owns (usually by passing it as
 * the cause of an FTP response error, or to ostrel_error_put()); NULL when
 * memory for the object, or for recording module and cause, cannot be had.
 * When only the copy of the details fails, the error is made without
 * details.
 * @par Tracing
 *     none.
 * @par Concurrency
 *     safe.
 */
ostrel_object_t *ostrel_google_drive_error_construct(
    const ostrel_module_descriptor_t *module, ostrel_object_t *cause,
    const ostrel_google_drive_error_info_t *info) OSTREL_NOTHROW;
/**
 * @brief Makes a freshly constructed object of the Drive error type (or of a
 * type derived from it) a Drive error with a copy of info.
 * @param error the object; may be NULL (then the result is NULL).
 * @param module the reporting module, recorded in the object's base error;
 * may be NULL.
 * @param cause the wrapped error, or NULL; taken over in every case, as by
 * ostrel_google_drive_error_construct(): it becomes the object's cause, or
 * is freed when the result is NULL. When module or cause is given, they
 * replace what the base error held before (its cause is freed).
 * @param info the details, copied deeply; may be NULL for none.
 * @return error seen as a Drive error; NULL when it is no Drive error or
 * memory for recording module and cause cannot be had (the caller then
 * frees the object). When only the copy of the details fails, the error
 * keeps no details.
 * @par Tracing
 *     none.
 * @par Concurrency
 *     safe on distinct objects.
 */
ostrel_object_t *ostrel_google_drive_error_initialize(
    ostrel_object_t *error, const ostrel_module_descriptor_t *module,
    ostrel_object_t *cause, const ostrel_google_drive_error_info_t *info) OSTREL_NOTHROW;
/**
 * @brief Adds details to the first Drive error of a cause chain (the one
 * ostrel_google_drive_error_get_info() reads), replacing the value of the
 * first detail with the same key and appending the others in order.
 * @param error a Drive error, or an error with a Drive error in its cause
 * chain; may be NULL or hold none (then nothing is done).
 * @param info the details to add, copied; may be NULL, and its details may
 * be NULL when detail_count is 0. Every key and value in it is required.
 * When memory runs out, the details appended so far are taken out again and
 * the replaced values stay replaced; nothing is reported.
 * @par Tracing
 *     none.
 * @par Concurrency
 *     not on the same error from two threads.
 */
void ostrel_google_drive_error_add_info(ostrel_object_t *error,
                                        const ostrel_google_drive_error_info_t *info) OSTREL_NOTHROW;
/**
 * @brief The value of a detail in the first Drive error of a cause chain.
 * @param error the outermost error of the chain; may be NULL.
 * @param key the detail's name, such as "GD-Details"; may be NULL.
 * @return the value of the first detail with that key, owned by the error
 * (valid while it lives and no details are added), or NULL when the chain
 * holds no Drive error, it has no such detail or the detail has no value.
 * Causes below the first Drive error are not searched.
 * @par Tracing
 *     none.
 * @par Concurrency
 *     safe while no thread adds details to the error.
 */
const char *ostrel_google_drive_error_get_info(ostrel_object_t *error, const char *key) OSTREL_NOTHROW;
/**
 * @brief The number of details of the first Drive error of a cause chain,
 * for reading them all with ostrel_google_drive_error_get_info_entry().
 * @param error the outermost error of the chain; may be NULL.
 * @return the number of details, those without key or value included; 0
 * when the chain holds no Drive error or it has no details.
 * @par Tracing
 *     none.
 * @par Concurrency
 *     safe while no thread adds details to the error.
 */
size_t ostrel_google_drive_error_get_info_count(ostrel_object_t *error) OSTREL_NOTHROW;
/**
 * @brief One detail, by position, of the first Drive error of a cause
 * chain: the error's details in order, as the printable text and
 * ostrel_google_drive_error_get_info() see them.
 *
 * For example, a reply text of every detail:
 * @code
 * for (size_t i = 0; i < ostrel_google_drive_error_get_info_count(error); i++) {
 *     const char *key, *value;
 *     if (ostrel_google_drive_error_get_info_entry(error, i, &key, &value)
 *         && key != NULL && value != NULL)
 *         add_reply_line(key, value);
 * }
 * @endcode
 * @param error the outermost error of the chain; may be NULL.
 * @param index from 0 to the count less one.
 * @param keyp receives the detail's key, owned by the error (valid while it
 * lives and no details are added); NULL for a detail made without one, and
 * on failure; required.
 * @param valuep receives the detail's value likewise; required.
 * @return true; false when the chain holds no Drive error or index is not
 * below the count (both outputs are then NULL).
 * @par Tracing
 *     none.
 * @par Concurrency
 *     safe while no thread adds details to the error.
 */
bool ostrel_google_drive_error_get_info_entry(ostrel_object_t *error, size_t index, const char **keyp,
                                              const char **valuep) OSTREL_NOTHROW;

/** One row of the export table: a format a Google-Apps document can be
 * exported to, or the stub row of an exportable kind. */
typedef struct ostrel_google_drive_doc_type_s {
    const char *description; /**< for people, such as "Microsoft Word" */
    const char *mime_type;   /**< the export MIME type; NULL on a stub row */
    const char *extension;   /**< with its ".", such as ".docx" or ".gdoc" */
} ostrel_google_drive_doc_type_t;
/** The export table: 17 export formats, the four stub rows (".gdoc",
 * ".gsheet", ".gslides", ".gdraw") and a last row whose fields are all NULL.
 * Constant; never freed. */
extern const ostrel_google_drive_doc_type_t ostrel_l_google_drive_export_mimes[22];
/**
 * @brief The stub extension of a Google-Apps MIME type.
 * @param mime_type may be NULL.
 * @return ".gdoc", ".gsheet", ".gslides", ".gdraw", ".gmap", ".gform",
 * ".gsite", ".gjam" or ".gshortcut" (a constant), or "" for any other type
 * and for NULL; never NULL.
 * @par Tracing
 *     entry, DEBUG "Checking mime type ...", exit.
 * @par Concurrency
 *     safe.
 */
const char *ostrel_google_drive_doc_extension(const char *mime_type) OSTREL_NOTHROW;
/**
 * @brief The Google-Apps MIME type of a stub extension.
 * @param extension with its leading ".", such as ".gsheet"; may be NULL.
 * @return the MIME type (a constant), or NULL when it is no stub extension.
 * @par Tracing
 *     entry and exit.
 * @par Concurrency
 *     safe.
 */
const char *ostrel_google_drive_extension_mime_type(const char *extension) OSTREL_NOTHROW;
/**
 * @brief The Google-Apps MIME type a name's stub extension stands for.
 * @param name a client name; required.
 * @return the MIME type of the text from the name's last "." on (a
 * constant), or NULL when that is no stub extension.
 * @par Tracing
 *     entry and exit.
 * @par Concurrency
 *     safe.
 */
const char *ostrel_google_drive_doc_mime_type(const char *name) OSTREL_NOTHROW;
/**
 * @brief Whether a MIME type is one of the nine Google-Apps document types
 * that have a stub extension (folders and other Google-Apps types are not).
 * @param mime_type may be NULL (false).
 * @par Tracing
 *     entry and exit.
 * @par Concurrency
 *     safe.
 */
bool ostrel_google_drive_mime_type_is_google_docs(const char *mime_type) OSTREL_NOTHROW;
/**
 * @brief Whether a name ends in a stub extension.
 * @param name may be NULL (false).
 * @par Tracing
 *     entry and exit.
 * @par Concurrency
 *     safe.
 */
bool ostrel_google_drive_is_stub(const char *name) OSTREL_NOTHROW;

/**
 * @brief Sets the export format of the four exportable kinds, all or
 * nothing.
 * @param doc_extension documents: an extension with or without its leading
 * ".", such as "pdf"; NULL for the stub (".gdoc").
 * @param sheet_extension spreadsheets, likewise (stub ".gsheet").
 * @param presentation_extension presentations (stub ".gslides").
 * @param drawing_extension drawings (stub ".gdraw").
 * @return OSTREL_SUCCESS; or a generic error "unsupported extension" for an
 * extension outside the export table, or "Not a valid extension for KIND
 * types" for one the kind may not use; or the "malloc" system error. On
 * failure the configuration stays as it was.
 * @par Tracing
 *     entry, DEBUG lines per kind, exit with the result.
 * @par Concurrency
 *     call at start-up, before other threads translate names; the
 *     configuration is process-wide.
 */
ostrel_result_t ostrel_google_drive_export_set_config(
    const char *doc_extension, const char *sheet_extension,
    const char *presentation_extension, const char *drawing_extension) OSTREL_NOTHROW;
/**
 * @brief The export table row of an extension.
 * @param extension with its leading "."; required.
 * @param doc_typep receives the row (a constant); required; untouched on
 * failure.
 * @return OSTREL_SUCCESS, or the generic error "unsupported extension".
 * @par Concurrency
 *     safe.
 */
ostrel_result_t ostrel_google_drive_export_find_ext(
    const char *extension, const ostrel_google_drive_doc_type_t **doc_typep) OSTREL_NOTHROW;
/**
 * @brief The Google-Apps MIME type a file name stands for under the export
 * configuration: a name ending in a kind's configured extension stands for
 * that kind, one ending in a stub extension for the stub's kind.
 * @param name required.
 * @return the MIME type (a constant), or NULL.
 * @par Concurrency
 *     safe once configured.
 */
const char *ostrel_google_drive_export_get_mime(const char *name) OSTREL_NOTHROW;
/**
 * @brief The extension (with its ".") under which documents of a MIME type
 * are shown: the configured export format, or the stub extension.
 * @param mime_type may be NULL.
 * @return a constant; never NULL ("" for types that are not exported).
 * @par Concurrency
 *     safe once configured.
 */
const char *ostrel_google_drive_exported_get_extension(const char *mime_type) OSTREL_NOTHROW;
/**
 * @brief The MIME type documents of a MIME type are exported to.
 * @param mime_type may be NULL.
 * @return a constant, or NULL when they are shown as stubs or not exported.
 * @par Concurrency
 *     safe once configured.
 */
const char *ostrel_google_drive_exported_get_export_mime(const char *mime_type) OSTREL_NOTHROW;
/**
 * @brief Whether documents of a MIME type are shown as stub files: an
 * exportable kind configured as its stub, or any other Google-Apps document
 * type (maps, forms, sites...).
 * @param mime_type may be NULL (false).
 * @par Concurrency
 *     safe once configured.
 */
bool ostrel_google_drive_exported_type_is_stub(const char *mime_type) OSTREL_NOTHROW;

/**
 * @brief The export suffix parts of a MIME type: an exported document is
 * listed as name "{export-" type "}." extension.
 * @param mime_type may be NULL.
 * @param export_type receives "gdoc", "gsheet", "gslides" or "gdraw" (a
 * constant), or NULL when the type is not exported; required.
 * @param export_extension receives the configured extension without its
 * "." (a constant), or NULL; required.
 * @par Tracing
 *     entry, DEBUG lines, exit.
 * @par Concurrency
 *     safe once configured.
 */
void ostrel_google_drive_export_escape_type(const char *mime_type,
                                            const char **export_type,
                                            const char **export_extension) OSTREL_NOTHROW;
/**
 * @brief A name with an export suffix appended, or protected when it only
 * looks like one.
 *
 * A name carries an export suffix when, with its last "." and its last
 * "{", the "{" stands before the dot and opens "{export-", and the first
 * "}" after it stands before the dot too. Without a type word, such a name
 * gets one "+" before that "}" (name_in removes it again).
 * @param name may be NULL (then the result is NULL).
 * @param in_type the type word, or NULL for none.
 * @param in_extension the extension without its "."; required when in_type
 * is given, not written otherwise.
 * @return a new text (the host's safe allocator; the caller frees it). An
 * untyped result has room for 10 more characters and a terminator, for a
 * stub extension the caller appends.
 * @par Tracing
 *     entry, DEBUG "Incoming name=...", exit.
 * @par Concurrency
 *     safe.
 */
char *ostrel_google_drive_name_out(const char *name, const char *in_type,
                                   const char *in_extension) OSTREL_NOTHROW;
/**
 * @brief A name without its export suffix, or without the "+" that
 * protects a look-alike; undoes ostrel_google_drive_name_out().
 * @param name required.
 * @param for_write not used.
 * @param export_type receives a new text with the type word when a suffix
 * was removed, else NULL; required.
 * @param export_extension receives a new text with the extension, likewise;
 * required.
 * @return a new text the caller frees, or NULL when memory cannot be had
 * (then both outputs are NULL). An output whose own copy fails is NULL.
 * @par Tracing
 *     entry and exit.
 * @par Concurrency
 *     safe.
 */
char *ostrel_google_drive_name_in(const char *name, bool for_write,
                                  char **export_type, char **export_extension) OSTREL_NOTHROW;

/** The plug-in's virtual folder of trashed files; never a Drive parent. */
#define OSTREL_GOOGLE_DRIVE_NAME_TRASH "Trash"
/** The plug-in's virtual folder of starred files; never a Drive parent. */
#define OSTREL_GOOGLE_DRIVE_NAME_STARRED "Starred"
/** The plug-in's virtual folder of files shared with the user; never a Drive parent. */
#define OSTREL_GOOGLE_DRIVE_NAME_SHARED_WITH_ME "Shared With Me"
/** The metadata of one Drive file. Texts are owned by the record (released
 * by ostrel_google_metadata_destroy()); a field whose _set flag is false
 * was absent from the resource. */
typedef struct ostrel_google_metadata_s {
    char *id;                     /**< Drive file id, or NULL */
    char *name;                   /**< Drive name, or NULL (such a record takes no part in lookup) */
    char *drive_id;               /**< shared drive id, or NULL */
    char *mime_type;              /**< MIME type, or NULL */
    time_t created_time;          /**< "createdTime", UTC */
    bool created_time_set;        /**< whether created_time was given */
    time_t viewed_by_me_time;     /**< "viewedByMeTime", UTC */
    bool viewed_by_me_time_set;   /**< whether viewed_by_me_time was given */
    time_t modified_time;         /**< "modifiedTime", UTC */
    bool modified_time_set;       /**< whether modified_time was given */
    bool owned_by_me;             /**< "ownedByMe" */
    bool owned_by_me_set;         /**< whether owned_by_me was given */
    size_t owner_count;           /**< entries in owners */
    char **owners;                /**< owners' e-mail addresses; an entry is NULL for an owner without one */
    bool can_edit;                /**< "canEdit" */
    bool can_edit_set;            /**< whether can_edit was given */
    bool starred;                 /**< "starred" */
    bool starred_set;             /**< whether starred was given */
    bool trashed;                 /**< "trashed" */
    bool trashed_set;             /**< whether trashed was given */
    bool explicitly_trashed;      /**< "explicitlyTrashed" */
    bool explicitly_trashed_set;  /**< whether explicitly_trashed was given */
    char md5_checksum[33];        /**< "md5Checksum", or "" */
    uintmax_t size;               /**< "size": decimal digits that fit */
    bool size_set;                /**< whether size was given as such */
    size_t parent_count;          /**< entries in parents */
    char **parents;               /**< parent folder ids, none NULL */
    bool plugin_flag;     /**< the plug-in's own; never read or set here */
    bool append_id;               /**< whether the client name carries the ID token */
} ostrel_google_metadata_t;
/**
 * @brief Fills an empty record from a Drive file resource.
 * @param json the resource (a JSON object; anything else gives an empty
 * record); only read, not retained.
 * @param metadata the record to fill, which should be empty; NULL: nothing
 * is done and the result is OSTREL_SUCCESS.
 * Times are read as RFC 3339 writes them, Drive's form:
 * "YYYY-MM-DDThh:mm:ss", an optional fraction of a second (dropped), then
 * "Z" or an offset "+hh:mm" or "-hh:mm" (applied), nothing else; second 60
 * counts as the first second of the next minute.
 * @return OSTREL_SUCCESS; or a system error "strptime": EINVAL for a time
 * in another form or on a date that does not exist (such as 2023-02-29),
 * EOVERFLOW for one before 0000-01-01T00:00:00Z or after
 * 9999-12-31T23:59:59Z, which ostrel_google_metadata_convert() could not
 * write; or "malloc" for want of memory or for a parent that is not a
 * text. On failure the record is left empty.
 * @par Tracing
 *     entry and exit.
 * @par Concurrency
 *     safe on distinct records.
 */
ostrel_result_t ostrel_google_metadata_parse(json_t *json, ostrel_google_metadata_t *metadata) OSTREL_NOTHROW;
/**
 * @brief Copies a record deeply; plugin_flag and append_id start false.
 * @param dst the empty record to fill; required.
 * @param src required.
 * @return OSTREL_SUCCESS, or the "malloc" system error (then dst is empty).
 * @par Concurrency
 *     safe on distinct records.
 */
ostrel_result_t ostrel_google_metadata_copy(ostrel_google_metadata_t *dst,
                                            const ostrel_google_metadata_t *src) OSTREL_NOTHROW;
/**
 * @brief Releases what a record owns and leaves it empty (all zero).
 * @param metadata may be NULL.
 */
void ostrel_google_metadata_destroy(ostrel_google_metadata_t *metadata) OSTREL_NOTHROW;
/**
 * @brief Destroys a record allocated with malloc and frees it, for lists
 * that take a destructor.
 * @param metadata may be NULL.
 */
void ostrel_google_metadata_destroy_void(void *metadata) OSTREL_NOTHROW;
/**
 * @brief A record as a Drive file resource: a new JSON object of its
 * present fields (createdTime is not written).
 * @param metadata required.
 * @param jsonp receives the object (json_decref() it), or NULL on failure;
 * required.
 * @return OSTREL_SUCCESS; or a system error: "gmtime_r" (EOVERFLOW) for a
 * time outside the years 0000 to 9999,
 * "ostrel_l_meta_set_parents_array" (EINVAL) for a parent named "Trash",
 * "Starred" or "Shared With Me", "malloc" with EILSEQ for a text that is
 * not UTF-8, or "malloc" for want of memory.
 * @par Tracing
 *     entry, one entry and exit per member written, exit.
 * @par Concurrency
 *     safe.
 */
ostrel_result_t ostrel_google_metadata_convert(const ostrel_google_metadata_t *metadata,
                                               json_t **jsonp) OSTREL_NOTHROW;

/**
 * @brief The Drive name, implied MIME type and id of a client name.
 *
 * Undoes the stub extension or export suffix, then the escapes "{dot}",
 * "{dotdot}", "{slash}", the control escapes "{xHH}" (and their
 * "+"-protected forms) and the ID token ".{IDid}". "{xHH}" is an escape only
 * with two lower-case hexadecimal digits of a control character of Unicode
 * category Cc (01 to 1f, 7f to 9f): "{x0a}" is a line feed, "{x0a+}" the
 * text "{x0a}"; "{x0A}", "{x41}", "{x00}" and "{x0a" are text as they stand.
 * A raw control character is refused: each Drive name has one client
 * spelling.
 * @param input_name one client path element; required; must not hold "/".
 * @param output_namep receives the Drive name (new; the caller frees it),
 * or NULL on failure; required.
 * @param output_mime_typep receives the implied Google-Apps MIME type (a
 * constant) or NULL, on failure too; may be NULL.
 * @param output_idp receives the id of the ID token (new) or NULL; may be
 * NULL.
 * @param for_write the name is to be written: an export suffix is refused.
 * @return OSTREL_SUCCESS; or FTP 553 "INVALID_PATH_NAME" ("GridFTP-Path:
 * NAME", the name printable) for an export suffix when writing (GD-Details
 * says why), a raw control character (GD-Details names the first and its
 * escape), a second ID token (no cause) or a Drive name that is not well-formed UTF-8 (RFC
 * 3629: no overlong forms, surrogates, code points above U+10FFFF or 5- and
 * 6-byte forms; GD-Details: the text of EILSEQ, or of EINVAL for a
 * character the name's end cuts short); or the "malloc" system error.
 * @par Tracing
 *     entry, DEBUG steps, TRACE outcome line, exit with the result.
 * @par Concurrency
 *     safe once the export configuration is set.
 */
ostrel_result_t ostrel_google_drive_name_translate_in(
    const char *input_name, char **output_namep, const char **output_mime_typep,
    char **output_idp, bool for_write) OSTREL_NOTHROW;
/**
 * @brief The name under which GridFTP clients see a Drive file.
 *
 * The escaped Drive name, then the ID token when append_id is set, then the
 * export suffix or stub extension of a Google-Apps document. The escapes:
 * "/" is "{slash}", the names "." and ".." are "{dot}" and "{dotdot}", and
 * every control character of Unicode category Cc (U+0001 to U+001F, U+007F
 * to U+009F) is "{xHH}" with two lower-case hexadecimal digits ("{x0a}" for
 * a line feed, "{x85}" for NEL); Drive text that already reads as one of
 * these gets one more "+" before its "}" ("{x0a}" shows as "{x0a+}"). So no
 * client name holds a byte below 0x20, 0x7f or a C1 control, and a name
 * without any of these shows as it is.
 * @param metadata the file; required; its id is read only when append_id is
 * set, and must then be present.
 * @param output_namep receives the client name (new; the caller frees it),
 * or NULL on failure; required.
 * @return OSTREL_SUCCESS; or FTP 553 "INVALID_PATH_NAME" when append_id is
 * set and the id is empty or holds a character outside letters, digits,
 * "_", "-" and blank (GD-Details names the id); the system error EINVAL
 * naming ostrel_google_drive_name_translate_out for a record without a name
 * (Drive leaves it out when asked for other fields); or the "malloc" system
 * error.
 * @par Tracing
 *     entry, DEBUG new name, TRACE outcome, exit with the result.
 * @par Concurrency
 *     safe once the export configuration is set.
 */
ostrel_result_t ostrel_google_drive_name_translate_out(
    const ostrel_google_metadata_t *metadata, char **output_namep) OSTREL_NOTHROW;

/** One element of a split client path. */
typedef struct ostrel_google_drive_path_element_s {
    char *name;             /**< the Drive name (the caller frees it) */
    void *caller_data;      /**< the caller's own; never read or set here */
    char *id;               /**< the id of its ID token (the caller frees it), or NULL */
    const char *mime_type;  /**< implied MIME type (a constant): the folder type for all but the last */
    bool append_id;         /**< for partial_path_construct: write the ID token */
} ostrel_google_drive_path_element_t;
/** A split client path. */
typedef struct ostrel_google_drive_path_s {
    uint64_t count;                                /**< elements */
    ostrel_google_drive_path_element_t *elements;  /**< the elements (the caller frees the array) */
} ostrel_google_drive_path_t;
/**
 * @brief Splits a client path at "/" and translates each element inbound;
 * the first element of an absolute path is the empty root.
 *
 * Every element but the last is read as a folder's name: its escapes and ID
 * token are taken off, and a "+" that protects an export-suffix look-alike,
 * but no stub extension or export suffix, which folders never carry. So
 * "/x.gdoc/y" has the folder "x.gdoc", and the partial path of all elements
 * splits into the same elements again.
 * @param path required.
 * @param result_path receives the elements; {0, NULL} on failure; required.
 * The caller frees each element's name and id, then the array.
 * @param for_write the last element is to be written (see
 * ostrel_google_drive_name_translate_in()); folders are never refused.
 * @return OSTREL_SUCCESS, an element's refusal as translation gives it, or
 * the "malloc" system error; nothing is left allocated on failure.
 * @par Tracing
 *     entry, per element as translation traces, exit.
 * @par Concurrency
 *     safe once the export configuration is set.
 */
ostrel_result_t ostrel_google_drive_path_split(const char *path,
                                               ostrel_google_drive_path_t *result_path,
                                               bool for_write) OSTREL_NOTHROW;
/**
 * @brief The client path of the first elements of a split path, each
 * element translated outbound (with its ID token when append_id is set).
 * @param path required.
 * @param element_count at most path->count.
 * @param partial_path receives the path (new; the caller frees it), or NULL
 * on failure; required.
 * @return OSTREL_SUCCESS, an element's refusal as outbound translation
 * gives it, FTP 553 "INVALID_PATH_NAME" for an element with append_id set
 * and no id (GD-Details "The element is to carry an ID token but has no
 * id"), or the "malloc" system error.
 * @par Tracing
 *     entry and exit.
 * @par Concurrency
 *     safe once configured.
 */
ostrel_result_t ostrel_google_drive_partial_path_construct(
    const ostrel_google_drive_path_t *path, uint64_t element_count, char **partial_path) OSTREL_NOTHROW;
/**
 * @brief A path with "$HOME" and "$LOGNAME" of the process's user expanded,
 * left to right, in time linear in the path.
 * @param path required.
 * @param evaluated_pathp receives the path (new; the caller frees it), or
 * NULL on failure; required.
 * @return OSTREL_SUCCESS; the "getpwuid_r" system error (ENOENT when the
 * user has no entry) for a path with a variable; or the "malloc" system
 * error. A path without a variable needs no user entry.
 * @par Tracing
 *     exit.
 * @par Concurrency
 *     safe.
 */
ostrel_result_t ostrel_google_drive_evaluate_path(const char *path, char **evaluated_pathp) OSTREL_NOTHROW;

/**
 * @brief Gives the files of a folder whose client names collide their ID
 * tokens.
 *
 * Sets append_id on every record whose client name (without the token,
 * under the current export configuration) another record shares, and
 * whose id can stand in an ID token; clears it on the rest. Records
 * without a name are left alone. Afterwards the client names are pairwise
 * distinct wherever the ids allow it. Costs n log n.
 * @param children the folder's files as parsed; may be NULL when count is 0.
 * @param count records in children.
 * @return OSTREL_SUCCESS, or the "malloc" system error (then no record is
 * changed).
 * @par Tracing
 *     entry, DEBUG count, each translation's own lines, exit.
 * @par Concurrency
 *     safe on distinct arrays once configured.
 */
ostrel_result_t ostrel_google_drive_mark_collisions(ostrel_google_metadata_t *children, size_t count) OSTREL_NOTHROW;
/**
 * @brief The one file of a folder that a client name names: the inverse of
 * listing.
 *
 * A record is named by C through the ID token when its id is the token's
 * and C is its client name with the token, or when its Drive name and the
 * MIME type its client name shows are those inbound translation reads from
 * C (the token may stand anywhere in C). When records are named through the
 * token, one is the answer and several are AMBIGUOUS_PATH. Otherwise the
 * candidates are the records whose client name without the token is C: one
 * is the answer; of several, the one whose id cannot stand in a token is
 * (listing shows the others with their tokens); else AMBIGUOUS_PATH. The
 * records' append_id is not read. Narrows by Drive name before it
 * translates.
 * @param client_name one client path element; required.
 * @param children the folder's files; may be NULL when count is 0.
 * Records without a name take no part.
 * @param count records in children.
 * @param indexp receives the index of the file; untouched on failure;
 * required.
 * @return OSTREL_SUCCESS; FTP 550 "PATH_NOT_FOUND" (GD-Details "No file in
 * the folder has this name") or 550 "AMBIGUOUS_PATH" (GD-Details "N files
 * in the folder have this name; list the folder to see their names with ID
 * tokens"), each with GD-Operation "Looking up a GridFTP name" and GD-Path
 * the name; FTP 553 "INVALID_PATH_NAME" for a name holding "/" (GD-Details
 * "A path element cannot hold \"/\""); a refusal of
 * ostrel_google_drive_name_translate_in(), unchanged; or the "malloc"
 * system error.
 * @par Tracing
 *     entry, DEBUG, TRACE outcome, exit with the result.
 * @par Concurrency
 *     safe once configured.
 */
ostrel_result_t ostrel_google_drive_lookup(const char *client_name,
                                          const ostrel_google_metadata_t *children, size_t count,
                                          size_t *indexp) OSTREL_NOTHROW;
/**
 * @brief The Drive files.list query that selects every file of a folder
 * that a client name can name.
 *
 * "'P' in parents and trashed = false and name = 'N'", with N the Drive
 * name translation gives; or "... and (name = 'N' or name = 'M')" when the
 * name ends in a stub extension and can also be the name M of an ordinary
 * file; or, when the name or N holds "'" or "\", which Drive mishandles in
 * name queries, the whole folder "'P' in parents and trashed = false".
 * @param parent_id the folder's id (Drive's alias "root" qualifies);
 * required.
 * @param client_name required.
 * @param queryp receives the query (new; the caller frees it), or NULL on
 * failure; required.
 * @param whole_folderp receives whether the query lists the whole folder
 * (false on failure); required.
 * @return OSTREL_SUCCESS; FTP 553 "INVALID_PATH_NAME" for a parent id that
 * is empty or holds a character outside the ID set (GD-Details names it) or
 * a client name holding "/" (as lookup gives it); a refusal of ostrel_google_drive_name_translate_in(), unchanged; or the
 * "malloc" system error.
 * @par Tracing
 *     entry, DEBUG query, exit with the result.
 * @par Concurrency
 *     safe once configured.
 */
ostrel_result_t ostrel_google_drive_lookup_query(const char *parent_id, const char *client_name,
                                                char **queryp, bool *whole_folderp) OSTREL_NOTHROW;

/*
 * Talking to Drive.
 *
 * The library builds every request the plug-in sends to Drive's REST API v3
 * and reads every answer, but never sends or receives anything itself: it
 * opens no socket, sleeps, reads no clock and draws no random number. The
 * caller moves the bytes with whatever HTTP client it has, adds its own
 * "Authorization: Bearer TOKEN" header (the library never sees the token),
 * and hands in the randomness that retry delays need.
 *
 * Multi-step jobs (following a folder's pages, walking a path, a resumable
 * upload) are state machines with one loop:
 *
 *     while ((r = X_next(x, &request, &delay_ms)) == OSTREL_SUCCESS && request != NULL) {
 *         wait delay_ms; send request; fill an ostrel_google_drive_answer_t;
 *         r = X_feed(x, &answer);
 *         ostrel_google_drive_request_free(request);
 *         if (r != OSTREL_SUCCESS) break;
 *     }
 *
 * A machine that fails stays where it was: X_next() then gives the same
 * request again, so a caller that can mend the cause (a fresh token after a
 * 530, which is what Drive's 401 becomes) may go on, and any other caller
 * frees the machine. Retryable answers (429, 5xx, rate-limit 403s, a dropped
 * connection) do not fail the machine until its attempts are spent: X_next()
 * gives the same request again with the delay to wait first.
 */

/** Drive's API base URL, used where the caller gives none. */
#define OSTREL_GOOGLE_DRIVE_API_URL "https://www.googleapis.com"
/** Files asked for in one files.list page (Drive's maximum). */
#define OSTREL_GOOGLE_DRIVE_PAGE_SIZE 1000
/** Attempts at one request, the first included, where the caller gives 0. */
#define OSTREL_GOOGLE_DRIVE_RETRY_ATTEMPTS 5
/** Resumable upload chunks are multiples of this many bytes (256 KiB). */
#define OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT 262144u
/** The chunk size used where the caller gives 0 (8 MiB). */
#define OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_SIZE 8388608u
/** The File fields that ostrel_google_metadata_parse() reads, as a v3 field
 * mask for files.get and inside files(...) of files.list. */
#define OSTREL_GOOGLE_DRIVE_FILE_FIELDS \
    "id,name,driveId,mimeType,createdTime,viewedByMeTime,modifiedTime,ownedByMe," \
    "owners/emailAddress,capabilities/canEdit,capabilities/canDownload,capabilities/canTrash," \
    "capabilities/canDelete,capabilities/canRename,capabilities/canListChildren," \
    "capabilities/canAddChildren,capabilities/canRemoveChildren,starred,trashed,explicitlyTrashed," \
    "md5Checksum,size,parents"
/** The files.list field mask: a page's files and how to go on. */
#define OSTREL_GOOGLE_DRIVE_LIST_FIELDS \
    "nextPageToken,incompleteSearch,files(" OSTREL_GOOGLE_DRIVE_FILE_FIELDS ")"

/** One HTTP header of a request. */
typedef struct ostrel_google_drive_header_s {
    const char *name;  /**< "Range", "Content-Type", "Content-Range", ... */
    const char *value; /**< its value */
} ostrel_google_drive_header_t;
/**
 * One HTTP request to Drive, built by the library. The whole record, its
 * texts and its headers are one allocation that
 * ostrel_google_drive_request_free() releases; never free a member.
 */
typedef struct ostrel_google_drive_request_s {
    const char *method;       /**< "GET", "POST", "PUT", "PATCH" or "DELETE" */
    const char *url;          /**< absolute: base URL, path and query, percent-encoded (RFC 3986) */
    size_t header_count;      /**< entries in headers */
    const ostrel_google_drive_header_t *headers; /**< headers to send besides Authorization; NULL when none */
    const char *body;         /**< a JSON body (Content-Type application/json; charset=UTF-8), or NULL */
    size_t body_length;       /**< bytes of body */
    uint64_t data_offset;     /**< upload chunks: the first byte of the caller's content to send as the body */
    uint64_t data_length;     /**< upload chunks: bytes of the caller's content to send; 0 otherwise */
} ostrel_google_drive_request_t;
/** Releases a request and everything it holds; NULL is allowed. */
void ostrel_google_drive_request_free(ostrel_google_drive_request_t *request) OSTREL_NOTHROW;
/* A request's parts one call each, for bindings that rather not mirror the
 * record's layout; request is required in each. */
/** The method: "GET", "POST", "PUT", "PATCH" or "DELETE". */
const char *ostrel_google_drive_request_method(const ostrel_google_drive_request_t *request) OSTREL_NOTHROW;
/** The absolute URL. */
const char *ostrel_google_drive_request_url(const ostrel_google_drive_request_t *request) OSTREL_NOTHROW;
/** Headers besides Authorization. */
size_t ostrel_google_drive_request_header_count(const ostrel_google_drive_request_t *request) OSTREL_NOTHROW;
/** Header index's name, or NULL beyond the count. */
const char *ostrel_google_drive_request_header_name(const ostrel_google_drive_request_t *request,
                                                    size_t index) OSTREL_NOTHROW;
/** Header index's value, or NULL beyond the count. */
const char *ostrel_google_drive_request_header_value(const ostrel_google_drive_request_t *request,
                                                     size_t index) OSTREL_NOTHROW;
/** The JSON body, or NULL; its length in *lengthp (required). */
const char *ostrel_google_drive_request_body(const ostrel_google_drive_request_t *request,
                                             size_t *lengthp) OSTREL_NOTHROW;
/** The first byte of the caller's content an upload chunk sends. */
uint64_t ostrel_google_drive_request_data_offset(const ostrel_google_drive_request_t *request) OSTREL_NOTHROW;
/** Bytes of the caller's content an upload chunk sends; 0 for other requests. */
uint64_t ostrel_google_drive_request_data_length(const ostrel_google_drive_request_t *request) OSTREL_NOTHROW;

/** Drive's answer to one request, as the caller received it. Only read. */
typedef struct ostrel_google_drive_answer_s {
    int status;               /**< the HTTP status; 0 when no answer came (connection refused or dropped, timeout) */
    const char *body;         /**< the body; may be NULL when length is 0 */
    size_t length;            /**< bytes of body */
    const char *range;        /**< the "Range" header (308 answers of uploads), or NULL */
    const char *location;     /**< the "Location" header (an upload session's URI), or NULL */
    const char *retry_after;  /**< the "Retry-After" header, or NULL */
    unsigned random_ms;       /**< a random number in [0, 1000) drawn by the caller for the retry delay */
} ostrel_google_drive_answer_t;

/** What a Drive file is to a GridFTP client. */
typedef enum ostrel_google_drive_kind_e {
    OSTREL_GOOGLE_DRIVE_KIND_FILE = 0,       /**< bytes of its own, read with alt=media */
    OSTREL_GOOGLE_DRIVE_KIND_FOLDER = 1,     /**< a folder */
    OSTREL_GOOGLE_DRIVE_KIND_EXPORT = 2,     /**< a Google-Apps document exported in the configured format */
    OSTREL_GOOGLE_DRIVE_KIND_STUB = 3,       /**< a Google-Apps file shown as a small JSON stub */
    OSTREL_GOOGLE_DRIVE_KIND_NO_CONTENT = 4  /**< another Google-Apps type: listed, but nothing to read */
} ostrel_google_drive_kind_t;
/**
 * @brief The kind of a record under the current export configuration.
 * @param file required.
 * @param export_mimep receives the export MIME type (a constant) for
 * OSTREL_GOOGLE_DRIVE_KIND_EXPORT, NULL for every other kind; may be NULL.
 * @return the kind; a record without a MIME type is a FILE.
 * @par Concurrency
 *     safe once configured.
 */
ostrel_google_drive_kind_t ostrel_google_drive_kind(const ostrel_google_metadata_t *file,
                                                    const char **export_mimep) OSTREL_NOTHROW;
/**
 * @brief The content of a stub: {"url": "https://drive.google.com/open?id=ID",
 * "id": "ID", "mimeType": "TYPE"} and a line feed, with JSON escapes.
 * @param file a record with an id and a MIME type; required.
 * @param contentp receives the text (new; the caller frees it), or NULL on
 * failure; may be NULL to learn only the length.
 * @param lengthp receives its length in bytes, the size a listing shows;
 * required.
 * @return OSTREL_SUCCESS; the system error EINVAL for a record without id or
 * MIME type; or the "malloc" system error.
 * @par Concurrency
 *     safe.
 */
ostrel_result_t ostrel_google_drive_stub_content(const ostrel_google_metadata_t *file,
                                                 char **contentp, size_t *lengthp) OSTREL_NOTHROW;

/*
 * Requests. base_url may be NULL everywhere (then OSTREL_GOOGLE_DRIVE_API_URL);
 * a trailing "/" is ignored. Every request carries supportsAllDrives=true, so
 * that items of shared drives are found; only an export does not, since
 * files.export takes no such parameter. Each builder returns
 * OSTREL_SUCCESS with *requestp set (new; the caller frees it with
 * ostrel_google_drive_request_free()), or an error with *requestp NULL:
 * FTP 553 "INVALID_PATH_NAME" for an id that is empty or outside the ID set
 * or a client name holding "/" (GD-Details "A path element cannot hold
 * \"/\""), a refusal of inbound translation for a client name, or the
 * "malloc" system error. All are safe to call concurrently once configured.
 */
/**
 * @brief A page of files.list: GET /drive/v3/files with q, fields
 * (OSTREL_GOOGLE_DRIVE_LIST_FIELDS), pageSize=1000,
 * includeItemsFromAllDrives=true and pageToken when given.
 * @param base_url may be NULL.
 * @param query a Drive query, such as ostrel_google_drive_lookup_query()
 * gives; required.
 * @param page_token the previous page's nextPageToken, or NULL for the first.
 * @param requestp receives the request (new; free it with
 * ostrel_google_drive_request_free()), or NULL on failure; required.
 */
ostrel_result_t ostrel_google_drive_request_list(const char *base_url, const char *query,
                                                 const char *page_token,
                                                 ostrel_google_drive_request_t **requestp) OSTREL_NOTHROW;
/**
 * @brief The whole-folder query "'ID' in parents and trashed = false", or
 * "'ID' in parents" when trashed files are wanted too.
 * @param folder_id required; "root" qualifies.
 * @param queryp receives the query (new; the caller frees it); required.
 * @param include_trashed whether trashed files are wanted too.
 */
ostrel_result_t ostrel_google_drive_folder_query(const char *folder_id, bool include_trashed,
                                                 char **queryp) OSTREL_NOTHROW;
/**
 * @brief files.get of one file's metadata: GET /drive/v3/files/ID?fields=...
 * @param file_id required; "root" qualifies.
 * @param fields a v3 field mask, or NULL for OSTREL_GOOGLE_DRIVE_FILE_FIELDS.
 * @param base_url may be NULL (then OSTREL_GOOGLE_DRIVE_API_URL).
 * @param requestp receives the request (new; free it with
 * ostrel_google_drive_request_free()), or NULL on failure; required.
 */
ostrel_result_t ostrel_google_drive_request_get(const char *base_url, const char *file_id,
                                                const char *fields,
                                                ostrel_google_drive_request_t **requestp) OSTREL_NOTHROW;
/**
 * @brief The request that reads a file's content from offset on.
 *
 * A FILE: GET .../files/ID?alt=media, with "Range: bytes=OFFSET-END" when
 * offset or length ask for less than the whole file. When its size is known
 * and offset equals it (an empty file, or a client restarting a finished
 * transfer), nothing is left to read: no request (*requestp NULL,
 * OSTREL_SUCCESS, *skipp 0), rather than one Drive answers 416 (any range
 * of an empty file) or one that reads the whole file to drop it. An EXPORT: GET .../files/ID/export?mimeType=TYPE with
 * the configured export type; exports have no ranges, so *skipp tells how
 * many leading bytes of the answer the caller drops. A STUB: no request
 * (*requestp NULL, OSTREL_SUCCESS); its content is
 * ostrel_google_drive_stub_content() from *skipp on. Shortcuts are stubs,
 * not followed. So with no request, a STUB gives its content and any other
 * kind gives no bytes.
 * @param file the file's record; required.
 * @param offset the first byte wanted.
 * @param length bytes wanted; 0 for all to the end.
 * @param skipp receives the bytes to drop from the answer's start; required.
 * @return also FTP 550 "NOT_A_FILE" (a FOLDER) or 550 "NO_CONTENT" (a
 * NO_CONTENT type), with GD-Details naming the MIME type; 554
 * "INVALID_RESTART" for an offset beyond a known size.
 * @param base_url may be NULL (then OSTREL_GOOGLE_DRIVE_API_URL).
 * @param requestp receives the request (new; free it with
 * ostrel_google_drive_request_free()), or NULL on failure; required.
 */
ostrel_result_t ostrel_google_drive_request_read(const char *base_url,
                                                 const ostrel_google_metadata_t *file,
                                                 uint64_t offset, uint64_t length,
                                                 ostrel_google_drive_request_t **requestp,
                                                 uint64_t *skipp) OSTREL_NOTHROW;
/**
 * @brief Creates a folder: POST /drive/v3/files?fields=... with the body
 * {"name", "mimeType": folder type, "parents": [parent_id]}.
 * @param parent_id required.
 * @param client_name one client path element; its Drive name comes from
 * inbound translation for writing; required.
 * @param base_url may be NULL (then OSTREL_GOOGLE_DRIVE_API_URL).
 * @param requestp receives the request (new; free it with
 * ostrel_google_drive_request_free()), or NULL on failure; required.
 */
ostrel_result_t ostrel_google_drive_request_create_folder(const char *base_url, const char *parent_id,
                                                          const char *client_name,
                                                          ostrel_google_drive_request_t **requestp) OSTREL_NOTHROW;
/**
 * @brief Renames and/or moves a file: PATCH /drive/v3/files/ID with
 * {"name"} and/or removeParents=OLD&addParents=NEW. A move always pairs the
 * two, because Drive no longer lets a file have a second parent.
 * @param file_id required.
 * @param client_name the new client name (translated inbound for writing),
 * or NULL to keep the name.
 * @param old_parent_id, new_parent_id both NULL (no move) or both given;
 * one alone stops the process.
 * @param base_url may be NULL (then OSTREL_GOOGLE_DRIVE_API_URL).
 * @param requestp receives the request (new; free it with
 * ostrel_google_drive_request_free()), or NULL on failure; required.
 */
ostrel_result_t ostrel_google_drive_request_update(const char *base_url, const char *file_id,
                                                   const char *client_name,
                                                   const char *old_parent_id, const char *new_parent_id,
                                                   ostrel_google_drive_request_t **requestp) OSTREL_NOTHROW;
/**
 * @brief Moves a file to the trash: PATCH {"trashed": true}. Recoverable for
 * 30 days, and the owner sees it in Drive's trash: this is what a plug-in's
 * DELE should send, since a GridFTP client cannot undo a delete.
 * @param file_id required.
 * @param base_url may be NULL (then OSTREL_GOOGLE_DRIVE_API_URL).
 * @param requestp receives the request (new; free it with
 * ostrel_google_drive_request_free()), or NULL on failure; required.
 */
ostrel_result_t ostrel_google_drive_request_trash(const char *base_url, const char *file_id,
                                                  ostrel_google_drive_request_t **requestp) OSTREL_NOTHROW;
/**
 * @brief Deletes a file permanently, skipping the trash: DELETE, answered 204.
 * Only the owner may; for an explicit purge, not for DELE.
 * @param file_id required.
 * @param base_url may be NULL (then OSTREL_GOOGLE_DRIVE_API_URL).
 * @param requestp receives the request (new; free it with
 * ostrel_google_drive_request_free()), or NULL on failure; required.
 */
ostrel_result_t ostrel_google_drive_request_delete(const char *base_url, const char *file_id,
                                                   ostrel_google_drive_request_t **requestp) OSTREL_NOTHROW;

/*
 * Answers.
 */
/**
 * Reads Drive's answer to one request. 2xx, and 308 (a resumable upload's
 * "Resume Incomplete"): OSTREL_SUCCESS and *retryp false.
 * Otherwise: an FTP response error whose code follows the table below, with
 * a Drive error as its cause holding GD-Operation (operation), GD-Path
 * (client_path), GD-Details (Drive's message, or an escaped excerpt of a
 * body that is not Drive's error JSON), GD-Reason (Drive's first reason;
 * absent when there is none) and GD-HTTP-Status (the status in decimal).
 * *retryp tells whether the same request may be sent again. body may be
 * NULL when length is 0; operation and client_path may be NULL (then that
 * detail is absent).
 *
 * | Drive answer                                   | FTP | error text      | retry |
 * |------------------------------------------------|-----|-----------------|-------|
 * | 400 any                                        | 501 | BAD_REQUEST     | no    |
 * | 401                                            | 530 | NOT_AUTHORIZED  | no    |
 * | 403 userRateLimitExceeded, rateLimitExceeded; 429 | 421 | RATE_LIMITED | yes   |
 * | 403 dailyLimitExceeded                         | 421 | RATE_LIMITED    | no    |
 * | 403 storageQuotaExceeded, teamDriveFileLimitExceeded, numChildrenInNonRootLimitExceeded, activeItemCreationLimitExceeded | 552 | QUOTA_EXCEEDED | no |
 * | 403 any other reason or none; 404              | 550 | PERMISSION_DENIED (403), PATH_NOT_FOUND (404) | no |
 * | 416                                            | 554 | INVALID_RESTART | no    |
 * | 500, 502, 503, 504                             | 451 | DRIVE_UNAVAILABLE | yes |
 * | 0 (no answer)                                  | 451 | DRIVE_UNAVAILABLE | yes |
 * | any other                                      | 451 | DRIVE_ERROR     | no    |
 *
 * Why: a 400 is a request Drive cannot parse, a syntax error to FTP (501).
 * A 401 is a token that expired or was revoked: 530 tells the client it is
 * not logged in, and the plug-in refreshes the token and asks again rather
 * than waiting. Rate limits are temporary (421, service not available now)
 * and Drive asks for exponential backoff, but the daily quota only comes
 * back tomorrow. Quota and item-count limits are storage exhaustion (552).
 * Other refusals and missing files are "file unavailable" (550). 416 is a
 * restart offset past the end (554, invalid REST). Server errors are
 * transient (451, local error in processing) and Drive asks for retries.
 *
 * @par Tracing
 *     DEBUG status and reason.
 * @par Concurrency
 *     safe.
 */
ostrel_result_t ostrel_google_drive_answer_error(int http_status, const char *body, size_t length,
                                                 const char *operation, const char *client_path,
                                                 bool *retryp) OSTREL_NOTHROW;
/**
 * Milliseconds to wait after attempt `attempt` (1 for the first) failed:
 * min(2^(attempt-1) * 1000 + random_ms, 64000), with random_ms in [0, 1000);
 * any attempt number is valid (the exponent is clamped, never overflows).
 * When retry_after (a Retry-After header's value, or NULL) is a decimal
 * number of seconds, that many seconds instead, at most 3 600 000 ms.
 * @par Concurrency
 *     safe.
 */
unsigned long ostrel_google_drive_retry_delay_ms(unsigned attempt, unsigned random_ms,
                                                 const char *retry_after) OSTREL_NOTHROW;

/** A resource of a page that parse refused: reported, never dropped in silence. */
typedef struct ostrel_google_drive_refusal_s {
    size_t index;   /**< its place in the page's "files" array (in a listing: counted over all pages) */
    char *id;       /**< its id (owned by the page or listing), or NULL when it has none */
    char *reason;   /**< why, one line (owned by the page or listing) */
} ostrel_google_drive_refusal_t;
/** One files.list page, read. Owned by the caller; release it with
 * ostrel_google_drive_page_destroy(). */
typedef struct ostrel_google_drive_page_s {
    ostrel_google_metadata_t *files;          /**< the records, in Drive's order */
    size_t file_count;                        /**< entries in files */
    char *next_page_token;                    /**< "nextPageToken", or NULL on the last page */
    bool incomplete_search;                   /**< "incompleteSearch": Drive did not search every corpus */
    ostrel_google_drive_refusal_t *refusals;  /**< resources left out */
    size_t refusal_count;                     /**< entries in refusals */
} ostrel_google_drive_page_t;
/**
 * @brief Reads a files.list answer's body into records.
 *
 * Each entry of "files" goes through ostrel_google_metadata_parse(), with
 * one addition: v3 sends canEdit inside "capabilities", so can_edit is taken
 * from capabilities.canEdit when no top-level "canEdit" is present. A
 * resource that parse refuses (or that is not an object) is left out and
 * recorded in refusals with its index and id.
 * @param body required unless length is 0.
 * @param page receives the page; all empty on failure; required.
 * @return OSTREL_SUCCESS; FTP 451 "DRIVE_ERROR" with GD-Details saying what
 * is wrong (not JSON, with its place; not an object; "files" not an array;
 * a nextPageToken that is not a text); or the "malloc" system error.
 * @par Concurrency
 *     safe.
 * @param length bytes of body.
 */
ostrel_result_t ostrel_google_drive_page_parse(const char *body, size_t length,
                                               ostrel_google_drive_page_t *page) OSTREL_NOTHROW;
/** Releases what a page holds and empties it; NULL is allowed. */
void ostrel_google_drive_page_destroy(ostrel_google_drive_page_t *page) OSTREL_NOTHROW;
/**
 * @brief Reads one file resource (a files.get, create or upload answer) into
 * an empty record, taking capabilities.canEdit as page parse does.
 * @return as ostrel_google_drive_page_parse(), or parse's own refusal.
 */
ostrel_result_t ostrel_google_drive_file_parse(const char *body, size_t length,
                                               ostrel_google_metadata_t *file) OSTREL_NOTHROW;

/*
 * A folder listing: the LIST of a folder, across all of its pages.
 */
/** A folder listing in progress (opaque). */
typedef struct ostrel_google_drive_listing_s ostrel_google_drive_listing_t;
/**
 * @brief A listing of one folder.
 * @param base_url may be NULL.
 * @param folder_id required; "root" qualifies.
 * @param include_trashed keep trashed files (normally left out, also when
 * Drive sends them).
 * @param attempts tries of each request; 0 for OSTREL_GOOGLE_DRIVE_RETRY_ATTEMPTS.
 * @param listingp receives the listing (free it with
 * ostrel_google_drive_listing_free()); required.
 * @return OSTREL_SUCCESS, 553 "INVALID_PATH_NAME" for a bad id, or "malloc".
 *
 * Only a page without nextPageToken ends the listing: Drive may answer
 * short or empty pages before the last. A page token Drive refuses (400)
 * starts the listing again from the first page, once. Memory: the records,
 * never more than one page's JSON.
 */
ostrel_result_t ostrel_google_drive_listing_create(const char *base_url, const char *folder_id,
                                                   bool include_trashed, unsigned attempts,
                                                   ostrel_google_drive_listing_t **listingp) OSTREL_NOTHROW;
/** The next request (see "Talking to Drive"); *requestp NULL when the listing is complete. */
ostrel_result_t ostrel_google_drive_listing_next(ostrel_google_drive_listing_t *listing,
                                                 ostrel_google_drive_request_t **requestp,
                                                 unsigned long *delay_msp) OSTREL_NOTHROW;
/** Feeds the answer to the last request; an error as ostrel_google_drive_answer_error() gives it. */
ostrel_result_t ostrel_google_drive_listing_feed(ostrel_google_drive_listing_t *listing,
                                                 const ostrel_google_drive_answer_t *answer) OSTREL_NOTHROW;
/** Files taken so far and pages read: for progress. */
size_t ostrel_google_drive_listing_count(const ostrel_google_drive_listing_t *listing,
                                         size_t *pagesp) OSTREL_NOTHROW;
/**
 * @brief Takes the complete listing's records, marked by
 * ostrel_google_drive_mark_collisions().
 * @param childrenp receives the array (the caller destroys each record and
 * frees the array); required.
 * @param countp receives the entries; required.
 * @param refusalsp receives the resources left out (owned by the listing,
 * valid until it is freed); may be NULL.
 * @param refusal_countp may be NULL.
 * @param incompletep receives whether any page said incompleteSearch; may be NULL.
 * @return OSTREL_SUCCESS; the "malloc" system error; a listing that is not
 * complete stops the process.
 * @param listing a complete listing; required.
 */
ostrel_result_t ostrel_google_drive_listing_take(ostrel_google_drive_listing_t *listing,
                                                 ostrel_google_metadata_t **childrenp, size_t *countp,
                                                 const ostrel_google_drive_refusal_t **refusalsp,
                                                 size_t *refusal_countp, bool *incompletep) OSTREL_NOTHROW;
/** Releases a listing; NULL is allowed. */
void ostrel_google_drive_listing_free(ostrel_google_drive_listing_t *listing) OSTREL_NOTHROW;

/*
 * Path walking: a client path to the Drive file it opens.
 */
/** A path walker (opaque). */
typedef struct ostrel_google_drive_walk_s ostrel_google_drive_walk_t;
/**
 * @brief A walker from a root folder. It learns the root's real id first
 * (files.get, once a walker), since "parents" arrays never hold the alias
 * "root"; it asks for the full file fields (OSTREL_GOOGLE_DRIVE_FILE_FIELDS)
 * rather than the id alone, so a walk to the root itself has its record
 * without a second request. The root's record is kept for the walker's
 * life, as are folder listings it had to read whole: each holds its records
 * (a few hundred bytes a file), so walking many paths under one folder
 * lists it once. Narrow answers are not kept. Free the walker to drop them.
 * @param root_id the root folder's id or "root"; required.
 * @param attempts as for listings.
 * @param base_url may be NULL (then OSTREL_GOOGLE_DRIVE_API_URL).
 * @param walkp receives the walker (free it with
 * ostrel_google_drive_walk_free()); required.
 */
ostrel_result_t ostrel_google_drive_walk_create(const char *base_url, const char *root_id,
                                                unsigned attempts,
                                                ostrel_google_drive_walk_t **walkp) OSTREL_NOTHROW;
/**
 * @brief Starts walking a client path (any earlier walk is dropped, the cache
 * is kept).
 *
 * The path is split into client elements (not Drive names, which
 * ostrel_google_drive_path_split() gives): empty elements and "." are
 * skipped, ".." goes up one element and never above the root. Each element
 * is looked up with ostrel_google_drive_lookup_query() and
 * ostrel_google_drive_lookup(). A name holding "'" or "\" is asked first
 * with the escaped name query; for such a name or one with non-ASCII
 * characters, whose comparison by Drive is undocumented, a miss is
 * confirmed by listing the folder whole. For a plain ASCII name a miss is a
 * miss. A narrow query Drive refuses (400) for such a name is answered by
 * the whole listing too. Every element but the last must be a folder.
 * @param client_path required.
 * @param to_parent walk to the folder that holds the last element, which
 * need not exist (for STOR and MKD); its client name is then
 * ostrel_google_drive_walk_last_name().
 * @return OSTREL_SUCCESS, or "malloc".
 */
ostrel_result_t ostrel_google_drive_walk_start(ostrel_google_drive_walk_t *walk, const char *client_path,
                                               bool to_parent) OSTREL_NOTHROW;
/** The next request; *requestp NULL when the walk reached its file. An
 * element of a folder the walker keeps whole is looked up here, without a
 * request: its errors are then those of ostrel_google_drive_walk_feed().
 * Call ostrel_google_drive_walk_start() first. */
ostrel_result_t ostrel_google_drive_walk_next(ostrel_google_drive_walk_t *walk,
                                              ostrel_google_drive_request_t **requestp,
                                              unsigned long *delay_msp) OSTREL_NOTHROW;
/**
 * @brief Feeds the answer to the last request.
 * @return OSTREL_SUCCESS; an answer's error (ostrel_google_drive_answer_error()
 * with GD-Operation "Walking a GridFTP path" and the whole client path as
 * GD-Path); 550 "PATH_NOT_FOUND", "AMBIGUOUS_PATH" as lookup gives them, or
 * 550 "NOT_A_FOLDER" with GD-Details naming the element, each with GD-Path
 * the whole client path; or "malloc".
 */
ostrel_result_t ostrel_google_drive_walk_feed(ostrel_google_drive_walk_t *walk,
                                              const ostrel_google_drive_answer_t *answer) OSTREL_NOTHROW;
/** The file the walk reached (with to_parent: the parent folder), owned by
 * the walker until the next start; NULL while walking. */
const ostrel_google_metadata_t *ostrel_google_drive_walk_file(const ostrel_google_drive_walk_t *walk) OSTREL_NOTHROW;
/** With to_parent: the last element's client name, owned by the walker; else NULL.
 * NULL also for a path with no element below the root. */
const char *ostrel_google_drive_walk_last_name(const ostrel_google_drive_walk_t *walk) OSTREL_NOTHROW;
/** The number of elements the finished walk passed below the root, "."
 * and ".." folded away (with to_parent, the last element is not among them);
 * 0 while walking. */
size_t ostrel_google_drive_walk_step_count(const ostrel_google_drive_walk_t *walk) OSTREL_NOTHROW;
/** The record of the index-th element the finished walk passed, in path
 * order, owned by the walker until the next start; the last one is
 * ostrel_google_drive_walk_file()'s. NULL when index is not below
 * ostrel_google_drive_walk_step_count(). A table of what each element of a
 * path opens then costs one walk, not one per prefix. */
const ostrel_google_metadata_t *ostrel_google_drive_walk_step(const ostrel_google_drive_walk_t *walk,
                                                              size_t index) OSTREL_NOTHROW;
/** Requests the walker asked for since it was created. */
size_t ostrel_google_drive_walk_request_count(const ostrel_google_drive_walk_t *walk) OSTREL_NOTHROW;
/** Releases a walker and its cache; NULL is allowed. */
void ostrel_google_drive_walk_free(ostrel_google_drive_walk_t *walk) OSTREL_NOTHROW;

/*
 * Resumable upload: a new file from the caller's bytes, sent in chunks.
 */
/** A resumable upload in progress (opaque). */
typedef struct ostrel_google_drive_upload_s ostrel_google_drive_upload_t;
/**
 * @brief An upload of total_size bytes into a folder.
 *
 * The machine first opens a session (POST /upload/drive/v3/files?
 * uploadType=resumable&fields=id,name,mimeType,md5Checksum,size with
 * {"name", "parents"}), then sends chunks (PUT to the session's URI with
 * "Content-Range: bytes A-B/TOTAL"; the caller sends bytes A to B of its
 * content: the request's data_offset and data_length). 308 answers tell,
 * in "Range", how much Drive holds (none without it); the last chunk is
 * answered 200 or 201 with the file. After a 5xx or no answer it asks where
 * the session stands ("Content-Range: bytes * /TOTAL", without the blank)
 * and goes on from there, never from the start; only 404 or 410 on the
 * session, an expired session, starts again from byte 0 in a new one.
 * Attempts count the tries since Drive last took bytes (a 308 that shows
 * none of a chunk taken is one), and bound the restarts too.
 * @param parent_id required.
 * @param client_name its Drive name comes from inbound translation for
 * writing, so an export-suffix name is refused here, before any request;
 * required.
 * @param chunk_size 0 for OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_SIZE; otherwise a
 * multiple of OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT (else EINVAL).
 * @param base_url may be NULL (then OSTREL_GOOGLE_DRIVE_API_URL).
 * @param total_size bytes of the caller's content.
 * @param attempts tries of each request; 0 for OSTREL_GOOGLE_DRIVE_RETRY_ATTEMPTS.
 * @param uploadp receives the upload (free it with
 * ostrel_google_drive_upload_free()); required.
 */
ostrel_result_t ostrel_google_drive_upload_create(const char *base_url, const char *parent_id,
                                                  const char *client_name, uint64_t total_size,
                                                  uint64_t chunk_size, unsigned attempts,
                                                  ostrel_google_drive_upload_t **uploadp) OSTREL_NOTHROW;
/** The next request; *requestp NULL when the file is stored. */
ostrel_result_t ostrel_google_drive_upload_next(ostrel_google_drive_upload_t *upload,
                                                ostrel_google_drive_request_t **requestp,
                                                unsigned long *delay_msp) OSTREL_NOTHROW;
/** Feeds the answer to the last request; errors as ostrel_google_drive_answer_error(). */
ostrel_result_t ostrel_google_drive_upload_feed(ostrel_google_drive_upload_t *upload,
                                                const ostrel_google_drive_answer_t *answer) OSTREL_NOTHROW;
/** Bytes Drive holds, as last reported: for progress. */
uint64_t ostrel_google_drive_upload_stored(const ostrel_google_drive_upload_t *upload) OSTREL_NOTHROW;
/** Times the upload started again from byte 0 after its session expired. */
unsigned ostrel_google_drive_upload_restarts(const ostrel_google_drive_upload_t *upload) OSTREL_NOTHROW;
/** The stored file (md5_checksum to compare), owned by the upload; NULL before the end. */
const ostrel_google_metadata_t *ostrel_google_drive_upload_file(const ostrel_google_drive_upload_t *upload) OSTREL_NOTHROW;
/** Releases an upload; NULL is allowed. An open session is left to expire. */
void ostrel_google_drive_upload_free(ostrel_google_drive_upload_t *upload) OSTREL_NOTHROW;

/*
 * The Drive session: every plug-in command as one kind of machine.
 *
 * A session holds the base URL, the root, a cache of folder listings and the
 * retry budget. Each plug-in command is an operation on it, and every
 * operation is driven by the same loop, whatever the command:
 *
 *     ostrel_google_drive_op_t *op = NULL;
 *     ostrel_google_drive_op_stat(session, path, now_ms(), &op);
 *     const ostrel_google_drive_request_t *request;
 *     unsigned long delay_ms;
 *     while ((r = ostrel_google_drive_op_next(op, &request, &delay_ms)) == OSTREL_SUCCESS && request != NULL) {
 *         wait delay_ms; send request with "Authorization: Bearer TOKEN";
 *         r = ostrel_google_drive_op_feed(op, status, header_block, body, length, random_ms, now_ms());
 *         if (r is 530) { refresh the token; continue; }  (the same request comes again)
 *         if (r != OSTREL_SUCCESS) break;
 *     }
 *     ... ostrel_google_drive_op_file(op) ...; ostrel_google_drive_op_free(op);
 *
 * The library still opens no connection, starts no thread, reads no clock
 * and draws no random number: times (milliseconds of the caller's clock,
 * any epoch, never going back) and random numbers come with the calls.
 *
 * Every answer is checked before it is believed: each request takes only
 * the statuses Drive documents for it (anything else, 308 outside an
 * upload and any 2xx it does not take included, is FTP 451 "DRIVE_ERROR");
 * pages may neither repeat a token, give "" as one, hold more files than
 * asked for, nor run empty without end; records without an id are refused
 * (451); a narrow answer whose file has another parent or name, or is
 * trashed, is set aside for the whole folder's listing. Retryable answers
 * (those ostrel_google_drive_answer_error() marks so) ask for the same
 * request again after ostrel_google_drive_retry_delay_ms(); a request is
 * tried at most `attempts` times. A 401 is returned as FTP 530
 * "NOT_AUTHORIZED" without ending the operation: refresh the token and call
 * ostrel_google_drive_op_next() again, which gives the same request.
 *
 * Bounds: with d the path's elements, a the attempts and P the page bound
 * (ostrel_google_drive_session_set_limits()), an operation makes at most
 * a x (2 + (d + 2) x (2P + 1)) requests to find its files (a narrow query
 * and then the whole folder, each element), plus what the
 * command itself asks: a read at most a x (2 + L / 65536) more for L bytes
 * (a resume that brings less than 64 KiB counts as a failed try), a write
 * at most a x (3 + S / 262144) for S bytes (progress of less than one
 * 256 KiB unit counts as a failed try), the others at most 3 x a. An
 * operation that would go beyond its bound fails with 451 "DRIVE_ERROR".
 *
 * Programming errors stop the process: a NULL where a parameter is
 * "required", a feed when the operation waits for none, a streamed feed
 * for a request that is not streamed. Everything a client or Drive can
 * steer ("/", "", "..", names lookup refuses, any answer) is an error
 * result, whose Drive error carries GD-Path, the operation's whole client
 * path, and GD-Operation.
 *
 * Which calls the session supersedes: ostrel_google_drive_walk_*,
 * ostrel_google_drive_listing_* and ostrel_google_drive_upload_* keep
 * working as they are documented, but trust Drive's answers further than a
 * server should; new code uses the operations below.
 */
/*
 * What a GridFTP client sees of a file beyond its name.
 */
/** Drive's capabilities of a file, as bits (Drive v3 File "capabilities"): canDownload. */
#define OSTREL_GOOGLE_DRIVE_CAN_DOWNLOAD 1u
/** canEdit */
#define OSTREL_GOOGLE_DRIVE_CAN_EDIT 2u
/** canTrash */
#define OSTREL_GOOGLE_DRIVE_CAN_TRASH 4u
/** canDelete */
#define OSTREL_GOOGLE_DRIVE_CAN_DELETE 8u
/** canRename */
#define OSTREL_GOOGLE_DRIVE_CAN_RENAME 16u
/** canListChildren */
#define OSTREL_GOOGLE_DRIVE_CAN_LIST_CHILDREN 32u
/** canAddChildren */
#define OSTREL_GOOGLE_DRIVE_CAN_ADD_CHILDREN 64u
/** canRemoveChildren */
#define OSTREL_GOOGLE_DRIVE_CAN_REMOVE_CHILDREN 128u
/**
 * @brief The size a client sees: an ordinary file's size, a stub's content
 * length; none for an export (known only once exported), a folder, or a
 * Google-Apps type with nothing to read.
 * @param file required. @param sizep receives the size, 0 for none; required.
 * @return whether there is one.
 */
bool ostrel_google_drive_client_size(const ostrel_google_metadata_t *file, uint64_t *sizep) OSTREL_NOTHROW;
/** The capabilities a file resource grants, as OSTREL_GOOGLE_DRIVE_CAN_*
 * bits; an absent capability is a bit not set. resource may be NULL. */
unsigned ostrel_google_drive_capabilities(const json_t *resource) OSTREL_NOTHROW;
/** The milliseconds of a resource's modifiedTime and createdTime (-1 where
 * Drive gave no fraction), which records do not keep; both required. */
void ostrel_google_drive_resource_times(const json_t *resource, int *modified_msp, int *created_msp) OSTREL_NOTHROW;
/**
 * @brief The RFC 3659 fact list of a file, as MLST and MLSD show it:
 * "type=file;size=1024;modify=20240430170200;perm=rfwd;unique=1AbC;media-type=application/pdf;".
 *
 * type is file or dir; size is the client size, where there is one; modify
 * and create are YYYYMMDDHHMMSS in UTC, with .sss only when Drive gave
 * milliseconds; unique is the Drive id; media-type is the MIME type, an
 * export's for an export (none for a folder). perm: r when the file can be
 * downloaded (a stub always: its content is the library's), f canRename, w
 * canEdit, d canTrash or canDelete; for a folder e and l canListChildren, c
 * and m canAddChildren, p canRemoveChildren, f and d; never a. A value
 * holding ";", a blank or a control character leaves its fact out.
 * @param file required. @param capabilities OSTREL_GOOGLE_DRIVE_CAN_* bits.
 * @param modified_ms, created_ms milliseconds, or -1.
 * @param factsp receives the text (new; the caller frees it); required.
 * @return OSTREL_SUCCESS or "malloc".
 */
ostrel_result_t ostrel_google_drive_facts(const ostrel_google_metadata_t *file, unsigned capabilities,
                                          int modified_ms, int created_ms, char **factsp) OSTREL_NOTHROW;
/**
 * @brief Drive's MD5 for CKSM, without a download: it applies to the whole
 * of an ordinary file (offset 0, length UINT64_MAX or the size) that has an
 * md5Checksum.
 * @param file required.
 * @param offset, length the range asked for; length UINT64_MAX to the end.
 * @param md5p receives the record's 32 hex digits; required.
 * @return OSTREL_SUCCESS, or 550 "NO_CHECKSUM" saying why there is none
 * (documents, exports and stubs have none, a range is not the whole file,
 * older files may lack one): compute it from a read with a checksum object.
 */
ostrel_result_t ostrel_google_drive_drive_md5(const ostrel_google_metadata_t *file, uint64_t offset,
                                              uint64_t length, const char **md5p) OSTREL_NOTHROW;
/** An incremental checksum (opaque). */
typedef struct ostrel_google_drive_checksum_s ostrel_google_drive_checksum_t;
/**
 * @brief A checksum fed the bytes of a read: "MD5", "ADLER32" or "CRC32"
 * (any case); zlib's adler32 and crc32, OpenSSL's MD5.
 * @param algorithm required. @param checksump receives it; required.
 * @return OSTREL_SUCCESS; FTP 504 "UNKNOWN_ALGORITHM" for another name; or a
 * system error.
 */
ostrel_result_t ostrel_google_drive_checksum_create(const char *algorithm,
                                                    ostrel_google_drive_checksum_t **checksump) OSTREL_NOTHROW;
/** Feeds length bytes (data may be NULL when length is 0). */
void ostrel_google_drive_checksum_update(ostrel_google_drive_checksum_t *checksum, const void *data,
                                         size_t length) OSTREL_NOTHROW;
/** The checksum so far in lower-case hex (8 digits for ADLER32 and CRC32,
 * 32 for MD5), new (the caller frees it); NULL without memory. Feeding may
 * go on after. */
char *ostrel_google_drive_checksum_text(const ostrel_google_drive_checksum_t *checksum) OSTREL_NOTHROW;
/** Releases a checksum; NULL is allowed. */
void ostrel_google_drive_checksum_free(ostrel_google_drive_checksum_t *checksum) OSTREL_NOTHROW;
/**
 * @brief Splits a download of size bytes into stripes for parallel streams,
 * each read by its own read operation with its own range, retries and
 * resume. Equal stripes, each but the last a multiple of 256 KiB and none
 * smaller than min_stripe (0: 256 KiB), at most streams and capacity of
 * them. Exports are not striped: Drive has no ranges for them.
 * @return the stripes written to offsets and lengths.
 */
size_t ostrel_google_drive_stripes(uint64_t size, unsigned streams, uint64_t min_stripe, uint64_t *offsets,
                                   uint64_t *lengths, size_t capacity) OSTREL_NOTHROW;

/**
 * @brief Start-up in one call: activates the library's module (the host
 * runtime counts activations; deactivate it once for each) and applies the
 * export formats and the "debug" trace levels of a configuration.
 * @param configuration the configuration's text ("key=value;..."), the path
 * of its file (is_file), or NULL for none; options other than
 * export_documents, export_spreadsheets, export_presentations,
 * export_drawings and debug are the plug-in's own and are skipped.
 * @param is_file whether configuration is a file's path.
 * @return OSTREL_SUCCESS; the module's activation failure; or FTP 500
 * "CONFIGURATION_ERROR" as the configuration parsers and
 * ostrel_i_google_drive_export_apply_config() give it (the module stays
 * active then).
 * @par Concurrency
 *     before any other call, once.
 */
ostrel_result_t ostrel_google_drive_start(const char *configuration, bool is_file) OSTREL_NOTHROW;

/** A Drive session (opaque). */
typedef struct ostrel_google_drive_session_s ostrel_google_drive_session_t;
/** One operation of a session (opaque). */
typedef struct ostrel_google_drive_op_s ostrel_google_drive_op_t;

/** How long a folder listing is believed, in milliseconds, where the caller
 * sets nothing: one second, so that a client that lists right after another
 * client wrote sees the write, while the commands of one transfer (CWD,
 * SIZE, RETR) share one listing. */
#define OSTREL_GOOGLE_DRIVE_CACHE_AGE_MS 1000u
/** Folder listings a session keeps at most, where the caller sets nothing. */
#define OSTREL_GOOGLE_DRIVE_CACHE_FOLDERS 64u
/** Records a session keeps at most over all of its listings (a few hundred
 * bytes each), where the caller sets nothing. */
#define OSTREL_GOOGLE_DRIVE_CACHE_FILES 200000u
/** Pages of one folder listing at most (P above), where the caller sets nothing. */
#define OSTREL_GOOGLE_DRIVE_PAGE_LIMIT 1000u
/** Empty pages in a row that a listing takes before it fails. */
#define OSTREL_GOOGLE_DRIVE_EMPTY_PAGES 16u

/**
 * @brief A new session.
 * @param base_url the API's base URL, or NULL for OSTREL_GOOGLE_DRIVE_API_URL;
 * uploads are only sent to its origin (scheme, host and port).
 * @param root_id the folder that is "/", or NULL for "root" (My Drive).
 * @param sessionp receives the session; required.
 * @return OSTREL_SUCCESS; 553 "INVALID_PATH_NAME" for a root id outside the
 * ID set, a system error EINVAL for a base URL that is not http(s)://HOST,
 * or "malloc".
 * @par Concurrency
 *     a session and its operations are one thread's at a time; sessions are
 *     independent.
 */
ostrel_result_t ostrel_google_drive_session_create(const char *base_url, const char *root_id,
                                                   ostrel_google_drive_session_t **sessionp) OSTREL_NOTHROW;
/**
 * @brief Sets the session's limits; 0 keeps a value's default.
 * @param session required.
 * @param attempts tries of one request (OSTREL_GOOGLE_DRIVE_RETRY_ATTEMPTS).
 * @param cache_age_ms how long a listing is believed (OSTREL_GOOGLE_DRIVE_CACHE_AGE_MS);
 * UINT64_MAX believes listings until the session's own writes change them.
 * @param cache_files records kept at most (OSTREL_GOOGLE_DRIVE_CACHE_FILES),
 * in at most OSTREL_GOOGLE_DRIVE_CACHE_FOLDERS listings; the least recently
 * used go first. The cache never holds more, and a folder larger than it is
 * listed for each command instead.
 * @param page_limit pages of one listing (OSTREL_GOOGLE_DRIVE_PAGE_LIMIT).
 */
void ostrel_google_drive_session_set_limits(ostrel_google_drive_session_t *session, unsigned attempts,
                                            uint64_t cache_age_ms, size_t cache_files,
                                            size_t page_limit) OSTREL_NOTHROW;
/** Forgets every listing the session keeps; the root's record stays. */
void ostrel_google_drive_session_forget(ostrel_google_drive_session_t *session) OSTREL_NOTHROW;
/** Requests the session's operations asked for so far. */
uint64_t ostrel_google_drive_session_request_count(const ostrel_google_drive_session_t *session) OSTREL_NOTHROW;
/** Releases a session; NULL is allowed. Its operations must be freed first. */
void ostrel_google_drive_session_free(ostrel_google_drive_session_t *session) OSTREL_NOTHROW;

/*
 * Operations. Each starts one plug-in command at the caller's time now_ms
 * and gives it in *opp (free it with ostrel_google_drive_op_free()); only a
 * want of memory fails here ("malloc", *opp NULL). Whatever else goes
 * wrong is the result of ostrel_google_drive_op_next() or _feed().
 */
/** Stat (SIZE, MDTM, MLST): the record of path; ostrel_google_drive_op_file(). */
ostrel_result_t ostrel_google_drive_op_stat(ostrel_google_drive_session_t *session, const char *path,
                                            uint64_t now_ms, ostrel_google_drive_op_t **opp) OSTREL_NOTHROW;
/** List (LIST, NLST, MLSD): the folder's files, marked as listings show
 * them (ostrel_google_drive_op_entry_count(), _entry(), _entry_name()); a
 * file lists as itself. */
ostrel_result_t ostrel_google_drive_op_list(ostrel_google_drive_session_t *session, const char *path,
                                            uint64_t now_ms, ostrel_google_drive_op_t **opp) OSTREL_NOTHROW;
/** List with the trash: as ostrel_google_drive_op_list(), the folder's
 * trashed files among its entries (their trashed field set), for an
 * administrator's view; always asked of Drive, never kept as the session's
 * listing. */
ostrel_result_t ostrel_google_drive_op_list_trashed(ostrel_google_drive_session_t *session, const char *path,
                                                    uint64_t now_ms, ostrel_google_drive_op_t **opp) OSTREL_NOTHROW;
/**
 * @brief Read (RETR, with REST): length bytes (0: to the end) from offset.
 *
 * A FILE is read with a Range; a 206 must carry exactly the Content-Range
 * asked for, a 200 to a Range is taken by skipping the offset's bytes, and
 * the bytes delivered must be what the record's size implies: fewer is a
 * cut, read on from where it stopped; more is 451. An EXPORT is read whole
 * (Drive has no ranges for it), the offset's bytes skipped, and its body
 * must be framed: a cut export cannot be resumed, since Drive may export
 * the document differently next time. With can_restart the operation then
 * asks for it again from byte 0 and ostrel_google_drive_op_discard() tells
 * the caller to drop what it delivered; without, the read fails with 426
 * "TRANSFER_ABORTED". A STUB's content is the library's: no request, the
 * bytes in ostrel_google_drive_op_content(). The bytes of a FILE are only
 * ever streamed: see ostrel_google_drive_op_feed_head().
 * ostrel_google_drive_op_md5() says when an MD5 applies.
 */
ostrel_result_t ostrel_google_drive_op_read(ostrel_google_drive_session_t *session, const char *path,
                                            uint64_t offset, uint64_t length, bool can_restart,
                                            uint64_t now_ms, ostrel_google_drive_op_t **opp) OSTREL_NOTHROW;
/**
 * @brief Write (STOR): size bytes of the caller's content to path.
 *
 * A name no file has: a new file under the Drive name that lists back as
 * exactly the name written ("memo.gdoc" stays "memo.gdoc"; "a{slash}b" is
 * "a/b"); a name with an ID token (it names a file that exists) or an
 * export suffix is 553. A name one ordinary file has: that file's content
 * is replaced, its id kept. A folder, a Google-Apps document and a name
 * two files share (550 "AMBIGUOUS_PATH") are refused: never a second copy.
 * The new file's id comes from files.generateIds, so a create whose answer
 * was lost is never made twice. Chunks are PUT to the upload session's URI,
 * which must have the base URL's origin, else the write fails before any
 * byte is sent; the caller sends its token with every request except those
 * PUTs, whose URI is the capability. The requests' data_offset and
 * data_length say which bytes of its content the caller sends. The end:
 * Drive's size must be size, and its md5Checksum the caller's when
 * ostrel_google_drive_op_set_md5() gave one. A lost last answer is followed
 * by asking the session where it stands, never by a new upload.
 * modified_ms: the client's modification time (milliseconds since the
 * epoch, UTC), so an upload keeps its source's time, checked as Drive keeps
 * it; OSTREL_GOOGLE_DRIVE_NO_TIME lets Drive set its own.
 */
ostrel_result_t ostrel_google_drive_op_write(ostrel_google_drive_session_t *session, const char *path,
                                             uint64_t size, int64_t modified_ms, uint64_t now_ms,
                                             ostrel_google_drive_op_t **opp) OSTREL_NOTHROW;
/** No modification time: Drive sets its own. */
#define OSTREL_GOOGLE_DRIVE_NO_TIME INT64_MIN
/**
 * @brief Set the modification time (MFMT): an update of modifiedTime, sent
 * as Drive's text ("2024-04-30T17:02:00.000Z", UTC) and checked in Drive's
 * answer to the millisecond.
 * @param session required. @param path the client path; required.
 * @param modified_ms milliseconds since 1970-01-01T00:00:00Z, UTC; a time
 * outside the years 0000 to 9999 is 501 "BAD_TIME".
 * @param now_ms the caller's time. @param opp receives the operation; required.
 */
ostrel_result_t ostrel_google_drive_op_set_time(ostrel_google_drive_session_t *session, const char *path,
                                                int64_t modified_ms, uint64_t now_ms,
                                                ostrel_google_drive_op_t **opp) OSTREL_NOTHROW;
/** The MD5 (32 hexadecimal digits) the caller computed of a write's content,
 * checked against Drive's at the end; required; before the last chunk. */
void ostrel_google_drive_op_set_md5(ostrel_google_drive_op_t *op, const char *md5) OSTREL_NOTHROW;
/** Makes a write create only: a name held already is 550 "FILE_EXISTS",
 * before any byte is sent, instead of the file's content being replaced.
 * op required, a write's; before its first ostrel_google_drive_op_next(). */
void ostrel_google_drive_op_set_create_only(ostrel_google_drive_op_t *op) OSTREL_NOTHROW;
/** The bytes of a write's chunks (OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_SIZE where
 * the caller sets none), rounded down to a multiple of
 * OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_UNIT, at least one unit; Drive confirms
 * progress a chunk at a time. op required, a write's; before its first
 * ostrel_google_drive_op_next(). */
void ostrel_google_drive_op_set_chunk_size(ostrel_google_drive_op_t *op, uint64_t bytes) OSTREL_NOTHROW;
/** Make folder (MKD): a new folder, its id generated as for writes; a name
 * held already is 550 "FILE_EXISTS". */
ostrel_result_t ostrel_google_drive_op_mkdir(ostrel_google_drive_session_t *session, const char *path,
                                             uint64_t now_ms, ostrel_google_drive_op_t **opp) OSTREL_NOTHROW;
/** Rename or move (RNFR/RNTO): from's file gets to's name and folder; a
 * name held by another file is 550 "FILE_EXISTS". A document keeps its
 * kind: its new name must show it the same way (stub extension or export
 * suffix), else 553. */
ostrel_result_t ostrel_google_drive_op_rename(ostrel_google_drive_session_t *session, const char *from,
                                              const char *to, uint64_t now_ms,
                                              ostrel_google_drive_op_t **opp) OSTREL_NOTHROW;
/**
 * @brief Delete (DELE): moves a file to the trash, or deletes it for good.
 *
 * Trash is what a plug-in's DELE should do: the owner can take the file
 * back for 30 days, and a GridFTP client cannot undo a delete. permanent
 * skips the trash (only the owner may). A folder is refused (550
 * "IS_A_FOLDER"): FTP's DELE removes files, and trashing a folder takes
 * its whole tree; RMD is ostrel_google_drive_op_rmdir().
 */
ostrel_result_t ostrel_google_drive_op_delete(ostrel_google_drive_session_t *session, const char *path,
                                              bool permanent, uint64_t now_ms,
                                              ostrel_google_drive_op_t **opp) OSTREL_NOTHROW;
/** Remove folder (RMD): an empty folder only, checked with one request
 * (550 "FOLDER_NOT_EMPTY" otherwise); trashed, or deleted when permanent. */
ostrel_result_t ostrel_google_drive_op_rmdir(ostrel_google_drive_session_t *session, const char *path,
                                             bool permanent, uint64_t now_ms,
                                             ostrel_google_drive_op_t **opp) OSTREL_NOTHROW;
/** Get one file by id (files.get); ostrel_google_drive_op_file(). */
ostrel_result_t ostrel_google_drive_op_get(ostrel_google_drive_session_t *session, const char *file_id,
                                           uint64_t now_ms, ostrel_google_drive_op_t **opp) OSTREL_NOTHROW;

/**
 * @brief The next request to send.
 * @param op required.
 * @param requestp receives the request, owned by the operation until the
 * next feed or free; NULL when the operation has ended, and the result is
 * then its outcome (OSTREL_SUCCESS, or the error, given once; later calls
 * give 451). Required.
 * @param delay_msp receives the milliseconds to wait before sending; required.
 */
ostrel_result_t ostrel_google_drive_op_next(ostrel_google_drive_op_t *op,
                                            const ostrel_google_drive_request_t **requestp,
                                            unsigned long *delay_msp) OSTREL_NOTHROW;
/** Whether the pending request's body is to be streamed (the content of a
 * read) rather than collected: then feed its answer with
 * ostrel_google_drive_op_feed_head() and _feed_end(), or with
 * ostrel_google_drive_op_feed() and take the bytes from
 * ostrel_google_drive_op_content(). */
bool ostrel_google_drive_op_streams(const ostrel_google_drive_op_t *op) OSTREL_NOTHROW;
/**
 * @brief Feeds the whole answer to the pending request.
 * @param op required.
 * @param status the HTTP status; 0 when no answer came.
 * @param headers the answer's header block ("Name: value" lines, CR LF or
 * LF; a status line is skipped), or NULL.
 * @param body, length the body; body may be NULL when length is 0.
 * @param random_ms a random number in [0, 1000) for a retry's delay.
 * @param now_ms the caller's time.
 * @return OSTREL_SUCCESS (call ostrel_google_drive_op_next()), 530 for a
 * refused token (refresh it and go on), or the operation's error.
 */
ostrel_result_t ostrel_google_drive_op_feed(ostrel_google_drive_op_t *op, int status, const char *headers,
                                            const char *body, size_t length, unsigned random_ms,
                                            uint64_t now_ms) OSTREL_NOTHROW;
/**
 * @brief Feeds the status and headers of a streamed answer.
 * @param op required.
 * @param status, headers, random_ms, now_ms as for ostrel_google_drive_op_feed().
 * @param deliverp receives true when the body is content: drop its first
 * *skipp bytes, pass on at most *countp (UINT64_MAX: all the rest), then
 * call ostrel_google_drive_op_feed_end(); false when it is not: collect the
 * body (an error's, short) and give it with ostrel_google_drive_op_feed_body().
 * Required.
 * @param skipp receives the bytes to drop; required.
 * @param countp receives the bytes to pass on; required.
 * @return as ostrel_google_drive_op_feed().
 */
ostrel_result_t ostrel_google_drive_op_feed_head(ostrel_google_drive_op_t *op, int status, const char *headers,
                                                 unsigned random_ms, uint64_t now_ms, bool *deliverp,
                                                 uint64_t *skipp, uint64_t *countp) OSTREL_NOTHROW;
/** The body of a streamed answer whose head said not to deliver it. */
ostrel_result_t ostrel_google_drive_op_feed_body(ostrel_google_drive_op_t *op, const char *body,
                                                 size_t length) OSTREL_NOTHROW;
/**
 * @brief The end of a streamed body.
 * @param op required.
 * @param received the body's bytes the caller received, skipped ones included.
 * @param complete whether the body ended as its framing says (its
 * Content-Length reached, or the chunked encoding's last chunk), rather
 * than by a closed or failed connection.
 */
ostrel_result_t ostrel_google_drive_op_feed_end(ostrel_google_drive_op_t *op, uint64_t received,
                                                bool complete) OSTREL_NOTHROW;
/** After a cut export read with can_restart: true once when the caller
 * must drop every byte it delivered, because the export starts again. */
bool ostrel_google_drive_op_discard(ostrel_google_drive_op_t *op) OSTREL_NOTHROW;
/** The content of the last fed answer to deliver (a stub's, or a streamed
 * body fed whole with ostrel_google_drive_op_feed()), valid until the next
 * call on op; *lengthp 0 and NULL when there is none. lengthp required. */
const char *ostrel_google_drive_op_content(const ostrel_google_drive_op_t *op, size_t *lengthp) OSTREL_NOTHROW;
/** Bytes a read delivered, or a write's bytes Drive confirmed. */
uint64_t ostrel_google_drive_op_bytes(const ostrel_google_drive_op_t *op) OSTREL_NOTHROW;
/** A read's expected MD5 (Drive's md5Checksum) when it applies: a whole
 * ordinary file (offset 0, to the end) whose record has one; else NULL.
 * Exports, stubs and ranges have none. */
const char *ostrel_google_drive_op_md5(const ostrel_google_drive_op_t *op) OSTREL_NOTHROW;
/** The operation's file (stat, get, read, write, mkdir, rename; a delete's
 * before it went), owned by the operation; NULL before it is known. */
const ostrel_google_metadata_t *ostrel_google_drive_op_file(const ostrel_google_drive_op_t *op) OSTREL_NOTHROW;
/** A finished list's entries; 0 before. */
size_t ostrel_google_drive_op_entry_count(const ostrel_google_drive_op_t *op) OSTREL_NOTHROW;
/** Entry index of a list (append_id set as the listing marks it); NULL
 * beyond the count. */
const ostrel_google_metadata_t *ostrel_google_drive_op_entry(const ostrel_google_drive_op_t *op,
                                                             size_t index) OSTREL_NOTHROW;
/** Entry index's client name, as LIST shows it; NULL beyond the count. */
const char *ostrel_google_drive_op_entry_name(const ostrel_google_drive_op_t *op, size_t index) OSTREL_NOTHROW;
/** The RFC 3659 facts (ostrel_google_drive_facts()) of entry index of a
 * finished list, or of the operation's file for index SIZE_MAX, with the
 * capabilities and milliseconds Drive gave for it; new (the caller frees
 * it); NULL when there is no such file or no memory. */
char *ostrel_google_drive_op_facts(const ostrel_google_drive_op_t *op, size_t index) OSTREL_NOTHROW;
/** The files the path's elements opened, the root's excluded: one for each
 * element walked, in order, once the path is resolved (a write's, a mkdir's
 * and a rename's last element is not walked, and a rename's steps are its
 * target's); op required. */
size_t ostrel_google_drive_op_step_count(const ostrel_google_drive_op_t *op) OSTREL_NOTHROW;
/** Step index's record, owned by the operation; NULL beyond the count. */
const ostrel_google_metadata_t *ostrel_google_drive_op_step(const ostrel_google_drive_op_t *op,
                                                            size_t index) OSTREL_NOTHROW;
/**
 * @brief What a list had to leave out: the records of the pages it asked
 * for that it set aside (no usable id or name, another folder's, trashed
 * when the trash was not asked for), which a LIST shows nowhere.
 * @param op required.
 * @param incompletep receives whether Drive said it did not search
 * everything (incompleteSearch); may be NULL.
 * @return the records left out; 0 for a listing the session kept.
 */
size_t ostrel_google_drive_op_left_out(const ostrel_google_drive_op_t *op, bool *incompletep) OSTREL_NOTHROW;
/** Times the operation began its transfer again from byte 0: a write whose
 * upload session expired (ostrel_google_drive_op_bytes() is 0 again), a
 * read of a cut export. */
unsigned ostrel_google_drive_op_restarts(const ostrel_google_drive_op_t *op) OSTREL_NOTHROW;
/** Requests the operation asked for so far, repeats included. */
uint64_t ostrel_google_drive_op_request_count(const ostrel_google_drive_op_t *op) OSTREL_NOTHROW;
/** Releases an operation; NULL is allowed. An open upload session is left to expire. */
void ostrel_google_drive_op_free(ostrel_google_drive_op_t *op) OSTREL_NOTHROW;

/** A write's size not known until its end: see ostrel_google_drive_op_write_end(). */
#define OSTREL_GOOGLE_DRIVE_SIZE_UNKNOWN UINT64_MAX
/**
 * @brief The end of a write whose size was OSTREL_GOOGLE_DRIVE_SIZE_UNKNOWN:
 * until then chunks are sent as "bytes A-B/ *" (whole chunks of 8 MiB, as
 * resumable uploads allow), the last as "bytes A-B/TOTAL". Call it when the
 * content's end is known and before sending the chunk that holds it: a
 * pending chunk is rebuilt (ostrel_google_drive_op_next() gives the new one).
 * @param op a write; required. @param total the content's size; not below
 * the bytes the write already had confirmed (that stops the process).
 */
void ostrel_google_drive_op_write_end(ostrel_google_drive_op_t *op, uint64_t total) OSTREL_NOTHROW;

/*
 * The reorder window (GridFTP's MODE E): blocks of several streams arrive
 * as (offset, bytes) in any order; the write takes contiguous chunks.
 *
 *     on a block:  window_put(w, offset, data, n, &wait); wait: stop reading that stream for now
 *     on a chunk request of the write (data_offset, data_length):
 *                  send it once window_ready(w) >= data_offset + data_length,
 *                  its body window_bytes(w, data_offset, data_length)
 *     on each answer: window_commit(w, ostrel_google_drive_op_bytes(op)),
 *                  the offset to report in restart markers: bytes Drive confirmed,
 *                  never bytes merely received
 *
 * Memory: the window's capacity (at least one chunk, 8 MiB) and a list of
 * the spans it holds; the chunk in flight is sent from the window itself.
 */
/** A reorder window (opaque). */
typedef struct ostrel_google_drive_window_s ostrel_google_drive_window_t;
/** A window of capacity bytes, at least OSTREL_GOOGLE_DRIVE_UPLOAD_CHUNK_SIZE
 * and at most 1 TiB (else EINVAL); windowp required. */
ostrel_result_t ostrel_google_drive_window_create(uint64_t capacity,
                                                  ostrel_google_drive_window_t **windowp) OSTREL_NOTHROW;
/**
 * @brief Takes a block. Overlapping or repeated blocks with the same bytes
 * are taken once; bytes already committed are dropped.
 * @param window required. @param offset the block's place in the content.
 * @param data, length the block; data may be NULL when length is 0.
 * @param waitp receives true when the block lies beyond the window, which
 * took none of it: give it again after a commit (backpressure); required.
 * @return OSTREL_SUCCESS; 451 "CONFLICTING_BLOCKS" for bytes that differ
 * from those held; or "malloc".
 */
ostrel_result_t ostrel_google_drive_window_put(ostrel_google_drive_window_t *window, uint64_t offset,
                                               const void *data, size_t length, bool *waitp) OSTREL_NOTHROW;
/** The end of the bytes held contiguously from the committed offset. */
uint64_t ostrel_google_drive_window_ready(const ostrel_google_drive_window_t *window) OSTREL_NOTHROW;
/** The bytes [offset, offset + length) when they are ready, valid until
 * the next put or commit; NULL otherwise. */
const char *ostrel_google_drive_window_bytes(const ostrel_google_drive_window_t *window, uint64_t offset,
                                             uint64_t length) OSTREL_NOTHROW;
/** Drops the bytes below committed, which Drive confirmed; committed
 * beyond the ready bytes stops the process. */
void ostrel_google_drive_window_commit(ostrel_google_drive_window_t *window, uint64_t committed) OSTREL_NOTHROW;
/** The committed offset. */
uint64_t ostrel_google_drive_window_committed(const ostrel_google_drive_window_t *window) OSTREL_NOTHROW;
/** Releases a window; NULL is allowed. */
void ostrel_google_drive_window_free(ostrel_google_drive_window_t *window) OSTREL_NOTHROW;

/**
 * @brief Sends one request and feeds its answer, for ostrel_google_drive_op_run().
 *
 * The callback waits delay_ms, sends the request (with the token), and
 * feeds the answer with ostrel_google_drive_op_feed() (or, for a streamed
 * request, _feed_head(), _feed_body() and _feed_end()), returning what the
 * feed returned; user is the caller's own.
 */
typedef ostrel_result_t (*ostrel_google_drive_send_fn)(void *user, ostrel_google_drive_op_t *op,
                                                       const ostrel_google_drive_request_t *request,
                                                       unsigned long delay_ms);
/** Runs op to its end with send: the loop above, for a caller that blocks.
 * A 530 ends it too: refresh the token and run it again. */
ostrel_result_t ostrel_google_drive_op_run(ostrel_google_drive_op_t *op, ostrel_google_drive_send_fn send,
                                           void *user) OSTREL_NOTHROW;

/**
 * @brief The FTP reply for a failed operation: its code and one line of
 * text, every control character printable (as error details print), so a
 * reply never carries Drive's CR or LF.
 * @param result the operation's result; only read (it stays stored).
 * @param codep receives the FTP code (451 for an error without one); required.
 * @param details false: one line, "ERROR_CODE: MESSAGE[: GD-Details]";
 * true: that line and then one line a Drive detail, "KEY: VALUE", joined
 * by LF, for an RFC 959 multi-line reply ("CODE-" before each line but the
 * last, "CODE " before the last).
 * @return the text (new; the caller frees it), or NULL without memory.
 */
char *ostrel_google_drive_reply(ostrel_result_t result, int *codep, bool details) OSTREL_NOTHROW;

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_GOOGLE_DRIVE_COMMON_H */
