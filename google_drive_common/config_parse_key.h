// The configuration file parser on a file already open.
#ifndef OSTREL_GDC_CONFIG_PARSE_KEY_H
#define OSTREL_GDC_CONFIG_PARSE_KEY_H

#include <cstdint>
#include <cstdio>

#include "api.h"

namespace ostrel::gdc {

// The options of file, whose next line is numbered first_line (1 for a
// whole file; tests start near the ends of narrower counters). GD-Path
// names path. As ostrel_i_google_drive_config_parse_file() once the file is
// open.
[[nodiscard]] ostrel_result_t parse_config_lines(FILE *file, const char *path,
                                                 const ostrel_google_drive_config_key_t *config_keys,
                                                 bool ignore_unknown, intmax_t first_line) noexcept;

}  // namespace ostrel::gdc

#endif
