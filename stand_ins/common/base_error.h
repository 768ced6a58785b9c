// Data of the base error type level, shared by the two stand-ins: the
// server stand-in builds its errors on it, the common stand-in copies, frees
// and reads it. Every field is owned by the error; allocate with malloc.
#ifndef OSTREL_STAND_IN_BASE_ERROR_H
#define OSTREL_STAND_IN_BASE_ERROR_H

#include "ostrel_common.h"

struct ostrel_stand_in_base_error {
    const ostrel_module_descriptor_t *module;
    ostrel_object_t *cause;
    int type;
    int system_errno;
    char *text;  // the error's own description, or NULL
    const char *source_file;
    const char *source_func;
    int source_line;
};

#endif
