/* Names shared inside the Google Drive plug-in: module, tracing,
 * configuration parsing and the export type word lookup. */
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

/* Module and tracing */
extern ostrel_module_descriptor_t ostrel_i_google_drive_common_module;
extern ostrel_debug_handle_t ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle;
/* Indexed by level bit; a level without a name is written as TRACE. */
extern const char *ostrel_i_google_drive_debug_level_names[17];
void ostrel_i_OSTREL_GOOGLE_DRIVE_debug_printf(const char *format, ...)
    OSTREL_NOTHROW __attribute__((format(printf, 1, 2)));
void ostrel_i_OSTREL_GOOGLE_DRIVE_debug_time_printf(const char *format, ...)
    OSTREL_NOTHROW __attribute__((format(printf, 1, 2)));
void ostrel_i_OSTREL_GOOGLE_DRIVE_debug_fwrite(const void *data, size_t size, size_t count) OSTREL_NOTHROW;

/* Configuration */
typedef enum {
    OSTREL_GOOGLE_DRIVE_CONFIG_STRING = 0,
    OSTREL_GOOGLE_DRIVE_CONFIG_INT = 1,
    OSTREL_GOOGLE_DRIVE_CONFIG_OFF_T = 2
} ostrel_google_drive_config_type_t;
/* One option: its name, value type and destination; a table ends with a
 * row whose name is NULL. */
typedef struct ostrel_google_drive_config_key_s {
    ostrel_google_drive_config_type_t value_type;
    const char *name;
    char **string_dest;
    int32_t *int_dest;
    off_t *off_t_dest;
} ostrel_google_drive_config_key_t;
/* Stores val through the row named key; *parsed_option tells whether a row
 * matched. path and line only name the source in errors. */
ostrel_result_t ostrel_i_google_drive_config_parse_key(
    const char *path, int line, const char *key, const char *val,
    const ostrel_google_drive_config_key_t *config_keys, bool *parsed_option) OSTREL_NOTHROW;
/* One "key value" option per line; "#" starts a comment. */
ostrel_result_t ostrel_i_google_drive_config_parse_file(
    const char *path, const ostrel_google_drive_config_key_t *config_keys,
    bool ignore_unknown) OSTREL_NOTHROW;
/* Options "key=value" separated by ";". */
ostrel_result_t ostrel_i_google_drive_config_parse_string(
    const char *text, const ostrel_google_drive_config_key_t *config_keys,
    bool ignore_unknown) OSTREL_NOTHROW;

/* Google-Apps MIME type of an export type word ("gdoc", ...), or NULL;
 * extension only appears in the debug line. */
const char *ostrel_i_google_drive_escape_name_to_mime(const char *export_type,
                                                      const char *extension) OSTREL_NOTHROW;

#ifdef __cplusplus
}
#endif

/* Trace levels, as bits of the debug handle's level sets. */
#define OSTREL_GOOGLE_DRIVE_LEVEL_TRACE 1u
#define OSTREL_GOOGLE_DRIVE_LEVEL_DEBUG 2u
#define OSTREL_GOOGLE_DRIVE_LEVEL_INFO 4u
#define OSTREL_GOOGLE_DRIVE_LEVEL_WARN 8u
#define OSTREL_GOOGLE_DRIVE_LEVEL_ERROR 16u

/* Tracing helpers: every trace line is "google_drive: LEVEL: PID: FUNC: "
 * followed by the caller's format, written under the stream's lock. A line
 * whose level is off costs one load and a branch; nothing is formatted.
 * They need POSIX stdio (flockfile), so they exist only where the
 * translation unit is compiled with POSIX interfaces. */
#if defined(__cplusplus) || (defined(_POSIX_C_SOURCE) && _POSIX_C_SOURCE >= 199506L)

/* A level without a name in the table is written as TRACE. */
static inline uint32_t ostrel_i_google_drive_debug_level(uint32_t level)
{
    return (level < 17 && ostrel_i_google_drive_debug_level_names[level] != NULL) ? level : 1u;
}

/* Whether a line at level would be written now. */
static inline bool ostrel_i_google_drive_debug_wanted(uint32_t level)
{
    return (ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.enabled_levels
            & ostrel_i_google_drive_debug_level(level)) != 0
        && ostrel_i_OSTREL_GOOGLE_DRIVE_debug_handle.stream != NULL;
}

/* Locks the stream and writes the prefix; returns the locked stream, or NULL
 * when nothing is to be written. */
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

/* One trace line at level under the function name func. */
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

/* One trace line at level under the enclosing function's name. */
#define OSTREL_GOOGLE_DRIVE_DEBUG_LINE(level, ...) \
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE_AS(__func__, level, __VA_ARGS__)

#define OSTREL_GOOGLE_DRIVE_TRACE_ENTER() \
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, "enter\n")
#define OSTREL_GOOGLE_DRIVE_TRACE_EXIT() \
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, "exit\n")
#define OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT(text) \
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_TRACE, "exit: %s\n", (text))
#define OSTREL_GOOGLE_DRIVE_TRACE_EXIT_BOOL(value) \
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_TEXT((value) ? "true" : "false")

/* The exit line of a function returning a result handle under func: the
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
#define OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(result) \
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT_AS(__func__, result)

#endif /* POSIX stdio */

#endif /* OSTREL_I_GOOGLE_DRIVE_COMMON_H */
