// Test support: name translation in both directions as plain values.
#ifndef OSTREL_TESTS_NAMES_H
#define OSTREL_TESTS_NAMES_H

#include <string>

#include "ostrel_google_drive_common.h"

namespace ostrel::test {

std::string text_or_null(const char *text);

// What inbound translation handed out; "NULL" for an absent text.
struct Inbound {
    ostrel_result_t result;
    std::string name;
    std::string mime_type;
    std::string id;
};

// The result is left stored; the caller takes it with OwnedError when set.
Inbound translate_in(const std::string &name, bool for_write = false);

std::string translate_out(const char *name, const char *mime_type = nullptr, const char *id = nullptr);

}  // namespace ostrel::test

#endif
