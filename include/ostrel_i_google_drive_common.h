/**
 * @file ostrel_i_google_drive_common.h
 * @brief Names shared inside the Google Drive plug-in: the module, tracing,
 * configuration parsing and the export type word lookup. Includes the
 * public header.
 */
#ifndef OSTREL_I_GOOGLE_DRIVE_COMMON_H
#define OSTREL_I_GOOGLE_DRIVE_COMMON_H

#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

#include "ostrel_google_drive_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * The library's module, version 0.88. Activate it with
 * ostrel_module_activate() before any other call, and deactivate it with
 * ostrel_module_deactivate() when done; activation is reference counted.
 * The first activation activates the host's server module and reads
 * tracing from OSTREL_GOOGLE_DRIVE_DEBUG; the last deactivation closes a
 * trace file. Not to be called concurrently with other calls.
 */
extern ostrel_module_descriptor_t ostrel_i_google_drive_common_module;
/** Where and what the library traces, as read at activation from
 * OSTREL_GOOGLE_DRIVE_DEBUG ("LEVELS[,FILE[,FLAGS]]"). Read-only to callers. */
extern ostrel_debug_handle_t ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle;
/** Level names indexed by level bit (1 "TRACE", 2 "DEBUG", 4 "INFO", 8
 * "WARN", 16 "ERROR"); other entries are NULL. */
extern const char *ostrel_i_google_drive_debug_level_names[17];
/** Writes formatted text to the trace stream, if there is one. Used by the
 * trace macros; safe from any thread (each macro line holds the lock). */
void ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf(const char *format, ...)
    OSTREL_NOTHROW __attribute__((format(printf, 1, 2)));
/** As ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf(), behind a time stamp. */
void ostrel_i_OSTREL_GOOGLE_DRIVE_debug_time_printf(const char *format, ...)
    OSTREL_NOTHROW __attribute__((format(printf, 1, 2)));
/** Writes count items of size bytes to the trace stream, if there is one. */
void ostrel_i_OSTREL_GOOGLE_DRIVE_debug_fwrite(const void *data, size_t size, size_t count) OSTREL_NOTHROW;

/** The type of a configuration option's value. */
typedef enum {
    OSTREL_GOOGLE_DRIVE_CONFIG_STRING = 0, /**< a text, stored as a malloc'ed copy */
    OSTREL_GOOGLE_DRIVE_CONFIG_INT = 1,    /**< a decimal number from 0 to INT32_MAX */
    OSTREL_GOOGLE_DRIVE_CONFIG_OFF_T = 2   /**< a decimal number from 0 to INT64_MAX */
} ostrel_google_drive_config_type_t;
/** One option of the caller's key table; a table ends with a row whose
 * name is NULL. Only the destination of the row's own type is used. */
typedef struct ostrel_google_drive_config_key_s {
    ostrel_google_drive_config_type_t value_type; /**< the value's type */
    const char *name;       /**< the key, compared exactly */
    char **string_dest;     /**< STRING: holds NULL or a malloc'ed text, replaced (and freed) on store */
    int32_t *int_dest;      /**< INT: the destination */
    off_t *off_t_dest;      /**< OFF_T: the destination */
} ostrel_google_drive_config_key_t;
/**
 * @brief Stores one option through the first row named key.
 * @param path names the source in errors ("GD-Path"); may be NULL.
 * @param line the line or option number named in errors.
 * @param key required. @param val required.
 * @param config_keys the key table; required.
 * @param parsed_option receives whether a row took the option; required.
 * @return OSTREL_SUCCESS (also when no row matches); or FTP 500
 * "CONFIGURATION_ERROR" with GD-Path, GD-Operation and GD-Details "Invalid
 * value on line N \"VAL\" (expected int)" (or off_t), or the strdup
 * failure's text. Clears nothing on failure.
 * @par Concurrency
 *     one call a table at a time.
 */
ostrel_result_t ostrel_i_google_drive_config_parse_key(
    const char *path, int line, const char *key, const char *val,
    const ostrel_google_drive_config_key_t *config_keys, bool *parsed_option) OSTREL_NOTHROW;
/**
 * @brief Parses a configuration file: one "key = value" option a line; "#"
 * starts a comment.
 * @param path required.
 * @param config_keys the key table; required.
 * @param ignore_unknown skip options no row takes, rather than fail.
 * @return OSTREL_SUCCESS; or FTP 500 "CONFIGURATION_ERROR" whose Drive error
 * cause has GD-Path (the path), GD-Operation and GD-Details: the strerror
 * text when the file cannot be opened or read (the table is then
 * untouched), "Syntax error line N" (a line without key and value, or
 * longer than any key and value allow), "Unknown configuration option
 * \"KEY\" on line N", or a value's refusal. After any other failure every
 * STRING destination is freed and NULL. Memory use is fixed whatever the
 * file holds.
 * @par Tracing
 *     none.
 * @par Concurrency
 *     one call a table at a time.
 */
ostrel_result_t ostrel_i_google_drive_config_parse_file(
    const char *path, const ostrel_google_drive_config_key_t *config_keys,
    bool ignore_unknown) OSTREL_NOTHROW;
/**
 * @brief Parses a configuration string: options "key=value" separated by
 * ";".
 * @param text may be NULL (a configuration error).
 * @param config_keys the key table; required.
 * @param ignore_unknown skip options no row takes, rather than fail.
 * @return OSTREL_SUCCESS, or FTP 500 "CONFIGURATION_ERROR" as for files,
 * with the option's text as GD-Path and "Syntax error parsing option N"
 * (an option without key and value, or one holding a line feed) or
 * "Unknown configuration option (N) \"KEY\"". After a failure every STRING
 * destination is freed and NULL.
 * @par Tracing
 *     none.
 * @par Concurrency
 *     one call a table at a time.
 */
ostrel_result_t ostrel_i_google_drive_config_parse_string(
    const char *text, const ostrel_google_drive_config_key_t *config_keys,
    bool ignore_unknown) OSTREL_NOTHROW;

/**
 * @brief The Google-Apps MIME type of an export type word.
 * @param export_type "gdoc", "gsheet", "gslides" or "gdraw"; may be NULL.
 * @param extension only shown in the DEBUG line; may be NULL.
 * @return the MIME type (a constant), or NULL for any other word.
 * @par Concurrency
 *     safe.
 */
const char *ostrel_i_google_drive_escape_name_to_mime(const char *export_type,
                                                      const char *extension) OSTREL_NOTHROW;

/** The values of the export options of a configuration, as the parser
 * stores them: NULL, or a malloc'ed format extension such as "pdf". */
typedef struct ostrel_google_drive_export_options_s {
    char *documents;      /**< "export_documents" */
    char *spreadsheets;   /**< "export_spreadsheets" */
    char *presentations;  /**< "export_presentations" */
    char *drawings;       /**< "export_drawings" */
    char *debug;          /**< "debug": trace levels, as OSTREL_GOOGLE_DRIVE_DEBUG takes them */
} ostrel_google_drive_export_options_t;
/**
 * @brief Fills a key table for the configuration parser whose rows store
 * into options: export_documents, export_spreadsheets, export_presentations,
 * export_drawings and debug, then the ending row.
 * @param options required; its texts are the caller's to release with
 * ostrel_i_google_drive_export_options_destroy().
 * @param table required.
 */
void ostrel_i_google_drive_export_config_keys(ostrel_google_drive_export_options_t *options,
                                              ostrel_google_drive_config_key_t table[6]) OSTREL_NOTHROW;
/**
 * @brief Applies stored export options with
 * ostrel_google_drive_export_set_config() (an absent kind stays a stub) and,
 * when debug is set, the trace levels.
 * @param options required.
 * @return OSTREL_SUCCESS, or FTP 500 "CONFIGURATION_ERROR" naming the
 * option and value a kind does not allow, or a debug value that cannot be
 * read; nothing is changed then.
 * @par Concurrency
 *     not while other calls run.
 */
ostrel_result_t ostrel_i_google_drive_export_apply_config(
    const ostrel_google_drive_export_options_t *options) OSTREL_NOTHROW;
/** Frees the texts of options and sets them NULL. */
void ostrel_i_google_drive_export_options_destroy(ostrel_google_drive_export_options_t *options) OSTREL_NOTHROW;
/**
 * @brief Sets the trace levels and stream from a value of the form that
 * OSTREL_GOOGLE_DRIVE_DEBUG takes; the environment stays the default at
 * activation.
 * @param value required.
 * @return OSTREL_SUCCESS, or FTP 500 "CONFIGURATION_ERROR" naming the value
 * (and the file that cannot be opened); the tracing is unchanged then.
 * @par Concurrency
 *     not while other calls trace.
 */
ostrel_result_t ostrel_i_google_drive_debug_configure(const char *value) OSTREL_NOTHROW;

#ifdef __cplusplus
}
#endif

/** Trace level of entries, exits and outcomes. */
#define OSTREL_GOOGLE_DRIVE_LEVEL_TRACE 1u
/** Trace level of the steps of an operation. */
#define OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG 2u
/** Trace level of notable events. */
#define OSTREL_GOOGLE_DRIVE_LEVEL_INFO 4u
/** Trace level of warnings. */
#define OSTREL_GOOGLE_DRIVE_LEVEL_WARN 8u
/** Trace level of failures (exit lines of failed operations). */
#define OSTREL_GOOGLE_DRIVE_LEVEL_ERROR 16u

/* Tracing helpers: every trace line is "google_drive: LEVEL: PID: FUNC: "
 * followed by the caller's format, written under the stream's lock. A line
 * whose level is off costs one load and a branch; nothing is formatted.
 * They need POSIX stdio (flockfile), so they exist only where the
 * translation unit is compiled with POSIX interfaces. */
#if defined(__cplusplus) || (defined(_POSIX_C_SOURCE) && _POSIX_C_SOURCE >= 199506L)

/** The level a line is written at: a level without a name is TRACE. */
static inline uint32_t ostrel_i_google_drive_debug_level(uint32_t level)
{
    return (level < 17 && ostrel_i_google_drive_debug_level_names[level] != NULL) ? level : 1u;
}

/** Whether a line at level would be written now. */
static inline bool ostrel_i_google_drive_debug_wanted(uint32_t level)
{
    return (ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.enabled_levels
            & ostrel_i_google_drive_debug_level(level)) != 0
        && ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.stream != NULL;
}

/** Locks the trace stream and writes a line's prefix; returns the locked
 * stream (the caller writes the rest and unlocks it), or NULL when nothing
 * is to be written. */
static inline FILE *ostrel_i_google_drive_debug_begin(uint32_t level, const char *func)
{
    const uint32_t used = ostrel_i_google_drive_debug_level(level);
    FILE *const stream = ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.stream;
    if ((ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.enabled_levels & used) == 0 || stream == NULL) {
        return NULL;
    }
    flockfile(stream);
    if ((ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.enabled_levels & used) != 0) {
        const char *name = ostrel_i_google_drive_debug_level_names[used];
        if (name == NULL) {
            name = "TRACE";
        }
        if ((ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.timestamped_levels & used) != 0) {
            ostrel_i_OSTREL_GOOGLE_DRIVE_debug_time_printf(
                "google_drive: %5s: %li: %s: ", name, (long) getpid(), func);
        } else {
            ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf(
                "google_drive: %5s: %li: %s: ", name, (long) getpid(), func);
        }
    }
    return stream;
}

/** One trace line at level under the function name func; the arguments
 * are a printf format and its values, not evaluated when the level is off. */
#define OSTREL_GOOGLE_DRIVE_DEBUG_LINE_AS(func, level, ...)                                 \
    do {                                                                                     \
        if (__builtin_expect((ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.enabled_levels       \
                              & ((uint32_t) (level) | OSTREL_GOOGLE_DRIVE_LEVEL_TRACE)) != 0, \
                             0)) {                                                           \
            FILE *const ostrel_l_trace_stream_ = ostrel_i_google_drive_debug_begin((level), (func)); \
            if (ostrel_l_trace_stream_ != NULL) {                                            \
                ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf(__VA_ARGS__);                      \
                funlockfile(ostrel_l_trace_stream_);                                         \
            }                                                                                \
        }                                                                                    \
    } while (0)

/** One trace line at level under the enclosing function's name. */
#define OSTREL_GOOGLE_DRIVE_DEBUG_LINE(level, ...) \
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE_AS(__func__, level, __VA_ARGS__)

/** The TRACE line "enter" of a function. */
#define OSTREL_GOOGLE_DRIVE_TRACE_ENTER() \
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, "enter\n")
/** The TRACE line "exit" of a function without a result. */
#define OSTREL_GOOGLE_DRIVE_TRACE_EXIT() \
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, "exit\n")
/** The TRACE line "exit: TEXT" of a function returning a text. */
#define OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT(text) \
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, "exit: %s\n", (text))
/** The TRACE line "exit: true" or "exit: false". */
#define OSTREL_GOOGLE_DRIVE_TRACE_EXIT_BOOL(value) \
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT((value) ? "true" : "false")

/** The exit line of a function returning a result handle under func: the
 * success form at TRACE, or the handle and its printed error chain at ERROR. */
#define OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT_AS(func, result)                                   \
    do {                                                                                          \
        const ostrel_result_t ostrel_l_trace_result_ = (result);                                  \
        if (ostrel_l_trace_result_ == OSTREL_SUCCESS) {                                           \
            OSTREL_GOOGLE_DRIVE_DEBUG_LINE_AS((func), OSTREL_GOOGLE_DRIVE_LEVEL_TRACE,            \
                                              "exit: result=OSTREL_SUCCESS\n");                  \
        } else if (ostrel_i_google_drive_debug_wanted(OSTREL_GOOGLE_DRIVE_LEVEL_ERROR)) {         \
            char *const ostrel_l_trace_chain_ =                                                   \
                ostrel_error_print_chain(ostrel_error_peek(ostrel_l_trace_result_));              \
            OSTREL_GOOGLE_DRIVE_DEBUG_LINE_AS((func), OSTREL_GOOGLE_DRIVE_LEVEL_ERROR,            \
                                              "exit: result=%#x message=%s\n",                   \
                                              (unsigned int) ostrel_l_trace_result_,              \
                                              ostrel_l_trace_chain_ != NULL ? ostrel_l_trace_chain_ \
                                                                            : "(unprintable)");  \
            free(ostrel_l_trace_chain_);                                                          \
        }                                                                                         \
    } while (0)
/** The exit line of a function returning a result, under its own name. */
#define OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result) \
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT_AS(__func__, result)

#endif /* POSIX stdio */

#endif /* OSTREL_I_GOOGLE_DRIVE_COMMON_H */
