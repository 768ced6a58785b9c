/* GridFTP server library: FTP response errors, system errors, the module.
 * Errors constructed here take over their cause; see ostrel_common.h for
 * ownership of results and printed texts. */
#ifndef OSTREL_GRIDFTP_SERVER_H
#define OSTREL_GRIDFTP_SERVER_H

#include "ostrel_common.h"

#ifdef __cplusplus
extern "C" {
#endif

extern ostrel_module_descriptor_t ostrel_i_gfs_module;

/* An FTP response error with code, error code text and an optional message
 * (format may be NULL); NULL without memory. */
ostrel_object_t *ostrel_gfs_ftp_response_error_construct(
    const ostrel_module_descriptor_t *module, ostrel_object_t *cause,
    int response_code, const char *response_error_code,
    const char *format, ...) OSTREL_NOTHROW;                       /* format may be NULL */
/* A system error: the formatted text names the failed call, system_errno why. */
ostrel_object_t *ostrel_i_gfs_error_system(
    const ostrel_module_descriptor_t *module, int system_errno,
    const char *format, ...) OSTREL_NOTHROW;

/* Read the first FTP response error in the chain that starts at error:
 * 0 / NULL when there is none. */
int ostrel_gfs_error_get_ftp_response_code(ostrel_object_t *error) OSTREL_NOTHROW;
const char *ostrel_gfs_error_get_ftp_response_error_code(ostrel_object_t *error) OSTREL_NOTHROW;
const char *ostrel_gfs_error_get_ftp_response_message(ostrel_object_t *error) OSTREL_NOTHROW;  /* NULL when none */

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_GRIDFTP_SERVER_H */
