// The error shapes the library reports, each built in one place so that
// their texts are the same everywhere. Each returns the stored handle.
#ifndef OSTREL_GDC_ERROR_SHAPES_H
#define OSTREL_GDC_ERROR_SHAPES_H

#include <initializer_list>

#include "api.h"

namespace ostrel::gdc {

// One detail of a Drive error; a NULL value leaves the detail out.
struct Detail {
    const char *key;
    const char *value;
};

// "System error in CALL" with the current errno.
[[nodiscard]] ostrel_result_t system_error(const char *call) noexcept;

// A generic error (type 6) of the export area, raised in func.
[[nodiscard]] ostrel_result_t export_error(const char *func, int line, const char *text) noexcept;

// A refused name: FTP 553 "INVALID_PATH_NAME" naming path; with details,
// its cause is a Drive error carrying them as "GD-Details".
[[nodiscard]] ostrel_result_t invalid_path_error(const char *path, const char *details) noexcept;

// A client path element holding "/": the invalid-path error naming it.
// Clients send such text; translation takes single elements only.
[[nodiscard]] ostrel_result_t slash_in_element_error(const char *name) noexcept;

// A client name holding a raw control character: the invalid-path error
// saying how the first one is written.
[[nodiscard]] ostrel_result_t control_character_error(const char *name) noexcept;

// A refused Drive file id: the invalid-path error for path whose details
// name the id and what an id may hold. what says whose id it is ("file",
// "parent").
[[nodiscard]] ostrel_result_t invalid_id_error(const char *path, const char *what, const char *id) noexcept;

// A client name that names no file of a folder, or several: FTP 550 with
// error_code, whose cause is a Drive error with "GD-Operation" "Looking up
// a GridFTP name", "GD-Path" path and "GD-Details" details.
[[nodiscard]] ostrel_result_t lookup_error(const char *error_code, const char *path, const char *details) noexcept;

// A configuration error: FTP 500 "CONFIGURATION_ERROR" whose cause is a
// Drive error with "GD-Path", "GD-Operation" and "GD-Details" (may be NULL).
[[nodiscard]] ostrel_result_t configuration_error(const char *path, const char *operation,
                                                  const char *details) noexcept;

// FTP code with error_code ("GridFTP-Path: PATH" when path is given) whose
// cause is a Drive error holding the details that have a value, in order.
[[nodiscard]] ostrel_result_t drive_ftp_error(int code, const char *error_code, const char *path,
                                              std::initializer_list<Detail> details) noexcept;

// An answer from Drive the library cannot read: FTP 451 "DRIVE_ERROR" with
// GD-Details saying what is wrong.
[[nodiscard]] ostrel_result_t bad_answer_error(const char *details) noexcept;

}  // namespace ostrel::gdc

#endif
