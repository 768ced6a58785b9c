/* Host common runtime: results, modules, debug setup, objects and errors.
 *
 * Conventions:
 *  1. Operations that can fail return an ostrel_result_t; 0 (OSTREL_SUCCESS)
 *     is success, anything else is the handle of an error object the runtime
 *     keeps until ostrel_error_get takes it back.
 *  2. Texts handed out by the print operations are malloc'ed; free() them.
 *  3. An error handed to ostrel_error_put or used as a cause is owned by the
 *     runtime or by the error that carries it from then on.
 */
#ifndef OSTREL_COMMON_H
#define OSTREL_COMMON_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/* C++ callers may rely on these functions never throwing. */
#ifndef OSTREL_NOTHROW
#ifdef __cplusplus
#define OSTREL_NOTHROW noexcept
#else
#define OSTREL_NOTHROW
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t ostrel_result_t;
#define OSTREL_SUCCESS ((ostrel_result_t) 0)

typedef struct ostrel_version_s {
    int major;
    int minor;
    unsigned long timestamp;
    int branch_id;
} ostrel_version_t;

typedef struct ostrel_module_descriptor_s {
    const char *module_name;
    int (*activation_func)(void);
    int (*deactivation_func)(void);
    void (*atexit_func)(void);              /* unused slot */
    void *(*get_pointer_func)(void);        /* unused slot */
    const ostrel_version_t *version;
    const void *friendly_name;              /* unused slot */
} ostrel_module_descriptor_t;

/* Reference counted: the first activate runs activation_func, the matching
 * last deactivate runs deactivation_func. 0 on success, else a result handle. */
int ostrel_module_activate(ostrel_module_descriptor_t *module) OSTREL_NOTHROW;
int ostrel_module_deactivate(ostrel_module_descriptor_t *module) OSTREL_NOTHROW;

typedef struct ostrel_debug_handle_s {
    uint32_t enabled_levels;
    uint32_t timestamped_levels;
    FILE *stream;
    int thread_ids_on;
    int owns_stream;
} ostrel_debug_handle_t;

/* Fills *handle from the environment variable env_name, whose value reads
 * LEVELS[,FILE[,FLAGS]]. level_names lists the level names separated by
 * blanks, in bit order (1, 2, 4, ...). */
void ostrel_debug_init(const char *env_name, const char *level_names,
                       ostrel_debug_handle_t *handle) OSTREL_NOTHROW;
/* The calling thread's identity. */
unsigned long ostrel_thread_self(void) OSTREL_NOTHROW;

typedef struct ostrel_object_s ostrel_object_t;
typedef struct ostrel_object_type_s ostrel_object_type_t;
struct ostrel_object_type_s {
    const ostrel_object_type_t *parent_type;
    void (*copy_func)(void *src_data, void **dst_data);
    void (*free_func)(void *data);
    char *(*printable_func)(ostrel_object_t *object);
};

/* A new object of type, no data set at any level; NULL without memory. */
ostrel_object_t *ostrel_object_construct(const ostrel_object_type_t *type) OSTREL_NOTHROW;
/* A deep copy through every level's copy_func; NULL without memory. */
ostrel_object_t *ostrel_object_copy(const ostrel_object_t *object) OSTREL_NOTHROW;
/* The object seen as type when it is of it or derived from it, else NULL. */
ostrel_object_t *ostrel_object_upcast(ostrel_object_t *object,
                                      const ostrel_object_type_t *type) OSTREL_NOTHROW;
/* Data of the type level the object is seen as. */
void ostrel_object_set_local_instance_data(ostrel_object_t *object, void *data) OSTREL_NOTHROW;
void *ostrel_object_get_local_instance_data(const ostrel_object_t *object) OSTREL_NOTHROW;
void ostrel_object_free(ostrel_object_t *object) OSTREL_NOTHROW;              /* NULL: no-op */
char *ostrel_object_printable_to_string(ostrel_object_t *object) OSTREL_NOTHROW;  /* free() it */

extern const ostrel_object_type_t OSTREL_ERROR_TYPE_BASE_DEFINITION;

ostrel_result_t ostrel_error_put(ostrel_object_t *error) OSTREL_NOTHROW;      /* takes ownership */
ostrel_object_t *ostrel_error_peek(ostrel_result_t result) OSTREL_NOTHROW;   /* still owned by the runtime */
ostrel_object_t *ostrel_error_get(ostrel_result_t result) OSTREL_NOTHROW;    /* caller owns it now */
ostrel_object_t *ostrel_error_get_cause(ostrel_object_t *error) OSTREL_NOTHROW;
char *ostrel_error_print_chain(ostrel_object_t *error) OSTREL_NOTHROW;       /* free() it */
char *ostrel_error_print_friendly(ostrel_object_t *error) OSTREL_NOTHROW;    /* free() it */
ostrel_object_t *ostrel_error_construct_error(
    const ostrel_module_descriptor_t *module, ostrel_object_t *cause, int type,
    const char *source_file, const char *source_func, int source_line,
    const char *format, ...) OSTREL_NOTHROW;
ostrel_object_t *ostrel_error_construct_errno_error(
    const ostrel_module_descriptor_t *module, ostrel_object_t *cause,
    int system_errno) OSTREL_NOTHROW;
int ostrel_error_get_type(ostrel_object_t *error) OSTREL_NOTHROW;   /* 0 when it has none */
int ostrel_error_get_errno(ostrel_object_t *error) OSTREL_NOTHROW;  /* errno and system errors; else 0 */

void *ostrel_libc_safe_malloc(size_t size) OSTREL_NOTHROW;   /* never NULL: aborts instead */

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_COMMON_H */
