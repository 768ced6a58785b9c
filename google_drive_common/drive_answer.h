// What a file resource says beyond the record: the session keeps it beside
// each record for the listing facts.
#ifndef OSTREL_GDC_DRIVE_ANSWER_H
#define OSTREL_GDC_DRIVE_ANSWER_H

#include "api.h"

namespace ostrel::gdc {

struct Extra {
    unsigned capabilities = 0;  // OSTREL_GOOGLE_DRIVE_CAN_* bits
    int modified_ms = -1;       // -1: no fraction given
    int created_ms = -1;
};

// ostrel_google_drive_page_parse(), with *extrasp (malloc'ed, one entry a
// record of the page; NULL for none) when extrasp is given.
[[nodiscard]] ostrel_result_t page_parse(const char *body, size_t length, ostrel_google_drive_page_t *page,
                                         Extra **extrasp) noexcept;

// ostrel_google_drive_file_parse(), with *extra when given.
[[nodiscard]] ostrel_result_t file_parse(const char *body, size_t length, ostrel_google_metadata_t *file,
                                         Extra *extra) noexcept;

}  // namespace ostrel::gdc

#endif
