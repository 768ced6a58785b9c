// Lookup: in a folder made from the input, with ids that cannot stand in a
// token ("/", "}", empty, none) and ids two records share, after collision
// marking every record that its id allows has a client name of its own that
// lookup and the lookup query lead back to, and so does the alias with the
// ID token put first.
#include "folder_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace ostrel::fuzz;
    activate_once();
    Input input(data, size);
    Folder folder = make_folder(input);
    check_folder(folder);
    return 0;
}
