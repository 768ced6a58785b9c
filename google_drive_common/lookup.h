// Lookup's queries, shared with the walker.
#ifndef OSTREL_GDC_LOOKUP_H
#define OSTREL_GDC_LOOKUP_H

#include "api.h"

namespace ostrel::gdc {

// ostrel_google_drive_lookup_query(), untraced. With escaped, a name that
// holds "'" or "\" is asked by name all the same, those characters escaped
// with "\" as Drive's query grammar has it, and *whole_folderp tells that
// Drive's answer to it cannot be trusted to be complete.
[[nodiscard]] ostrel_result_t name_query(const char *parent_id, const char *client_name, bool escaped,
                                         char **queryp, bool *whole_folderp) noexcept;

}  // namespace ostrel::gdc

#endif
