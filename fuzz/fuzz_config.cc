// Configuration: any text, as a string and as a file, against a table of
// STRING, INT and OFF_T keys: numbers are stored only when valid, and after
// a failure no STRING destination holds a text.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "fuzz_support.h"

namespace {

using namespace ostrel::fuzz;

void check(const std::string &text, bool as_file, bool ignore_unknown)
{
    char *name = nullptr;
    char *path = nullptr;
    int32_t count = -1;
    off_t size = -1;
    const ostrel_google_drive_config_key_t keys[] = {
        {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, "name", &name, nullptr, nullptr},
        {OSTREL_GOOGLE_DRIVE_CONFIG_INT, "count", nullptr, &count, nullptr},
        {OSTREL_GOOGLE_DRIVE_CONFIG_OFF_T, "size", nullptr, nullptr, &size},
        {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, "path", &path, nullptr, nullptr},
        {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, nullptr, nullptr, nullptr, nullptr},
    };
    ostrel_result_t result = OSTREL_SUCCESS;
    if (as_file) {
        static const std::string file = "/tmp/ostrel-fuzz-config-" + std::to_string(getpid());
        FILE *out = std::fopen(file.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
        result = ostrel_i_google_drive_config_parse_file(file.c_str(), keys, ignore_unknown);
    } else {
        result = ostrel_i_google_drive_config_parse_string(text.c_str(), keys, ignore_unknown);
    }
    if (count < -1 || size < -1) {
        broken("only valid numbers are stored", text);
    }
    if (result != OSTREL_SUCCESS) {
        ostrel_object_t *error = ostrel_error_get(result);
        if (name != nullptr || path != nullptr) {
            broken("a failure leaves no STRING text", text);
        }
        if (ostrel_gfs_error_get_ftp_response_code(error) != 500
            || ostrel_google_drive_error_get_info(error, "GD-Operation") == nullptr) {
            broken("failures are configuration errors", text);
        }
        ostrel_object_free(error);
    }
    std::free(name);
    std::free(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    activate_once();
    Input input(data, size);
    const uint8_t choice = input.take();
    check(input.rest(), choice % 2 == 1, choice % 4 >= 2);
    return 0;
}
