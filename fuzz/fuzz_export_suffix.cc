// Export suffixes: the matcher agrees with the rule written out literally,
// and name_in undoes name_out for any name, with any export type word and
// extension of the export table, or none.
#include <cstring>

#include "export_suffix_reference.h"
#include "fuzz_support.h"

namespace {

constexpr const char *type_words[] = {"gdoc", "gsheet", "gslides", "gdraw"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace ostrel::fuzz;
    activate_once();
    Input input(data, size);
    const uint8_t choice = input.take();
    const std::string name = input.rest();
    if (!same_suffix(ostrel::gdc::find_export_suffix(name), reference_export_suffix(name))) {
        broken("find_export_suffix == reference", "\"" + name + "\"");
    }
    const char *type = nullptr;
    const char *extension = nullptr;
    if (choice % 2 == 1) {
        type = type_words[(choice / 2) % 4];
        extension = ostrel_l_google_drive_export_mimes[(choice / 8) % 21].extension + 1;
    }
    char *out = ostrel_google_drive_name_out(name.c_str(), type, extension);
    char *back_type = nullptr;
    char *back_extension = nullptr;
    char *back = ostrel_google_drive_name_in(out, false, &back_type, &back_extension);
    if (back == nullptr || name != back || text_or_null(type) != text_or_null(back_type)
        || text_or_null(extension) != text_or_null(back_extension)) {
        broken("name_in(name_out(x)) == x", "\"" + name + "\" went out as \"" + out + "\"");
    }
    std::free(out);
    std::free(back);
    std::free(back_type);
    std::free(back_extension);
    return 0;
}
