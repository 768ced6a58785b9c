/* The tracing helpers of the internal header serve C plug-in code built
 * with POSIX interfaces. */
#define _POSIX_C_SOURCE 200809L
#include "ostrel_i_google_drive_common.h"

int ostrel_header_check_trace(void);

int ostrel_header_check_trace(void)
{
    OSTREL_GOOGLE_DRIVE_TRACE_ENTER();
    OSTREL_GOOGLE_DRIVE_DEBUG_LINE(OSTREL_GOOGLE_DRIVE_LEVEL_INFO, "%d\n", 1);
    OSTREL_GOOGLE_DRIVE_TRACE_EXIT_RESULT(OSTREL_SUCCESS);
    return 0;
}
