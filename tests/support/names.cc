#include "support/names.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace ostrel::test {

std::string text_or_null(const char *text)
{
    return text != nullptr ? text : "NULL";
}

Inbound translate_in(const std::string &name, bool for_write)
{
    char *drive_name = reinterpret_cast<char *>(1);
    const char *mime_type = "unset";
    char *id = reinterpret_cast<char *>(1);
    const ostrel_result_t result = ostrel_google_drive_name_translate_in(name.c_str(), &drive_name, &mime_type, &id,
                                                                         for_write);
    Inbound inbound{result, text_or_null(drive_name), text_or_null(mime_type), text_or_null(id)};
    std::free(drive_name);
    std::free(id);
    return inbound;
}

std::string translate_out(const char *name, const char *mime_type, const char *id)
{
    ostrel_google_metadata_t metadata = {};
    metadata.name = const_cast<char *>(name);
    metadata.mime_type = const_cast<char *>(mime_type);
    metadata.id = const_cast<char *>(id);
    metadata.append_id = id != nullptr;
    char *out = nullptr;
    EXPECT_EQ(ostrel_google_drive_name_translate_out(&metadata, &out), OSTREL_SUCCESS);
    std::string result = text_or_null(out);
    std::free(out);
    return result;
}

}  // namespace ostrel::test
