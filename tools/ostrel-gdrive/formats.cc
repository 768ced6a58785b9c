// ostrel-gdrive formats: the export formats of each kind, learned from the
// library by trying each row of its export table.
#include <cstring>

#include "commands.h"
#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

int run_formats(bool json)
{
    const char *current[4];
    for (size_t k = 0; k < 4; ++k) {
        current[k] = ostrel_google_drive_exported_get_extension(kinds[k].mime_type);
    }
    for (size_t k = 0; k < 4; ++k) {
        if (!json) {
            write_out(std::string(kinds[k].word) + " (" + kinds[k].mime_type + "):\n");
        }
        std::vector<std::vector<std::string>> rows;
        const std::vector<std::string> allowed = allowed_formats(k);
        for (const ostrel_google_drive_doc_type_t *row = ostrel_l_google_drive_export_mimes; row->description != nullptr;
             ++row) {
            bool is_allowed = false;
            for (const std::string &format : allowed) {
                is_allowed = is_allowed || format == row->extension + 1;
            }
            if (!is_allowed) {
                continue;
            }
            const bool chosen = std::strcmp(row->extension, current[k]) == 0;
            if (json) {
                JsonLine()
                    .text("kind", kinds[k].word)
                    .text("kindMimeType", kinds[k].mime_type)
                    .text("format", row->extension + 1)
                    .text("description", row->description)
                    .text_or_null("exportMimeType", row->mime_type)
                    .boolean("inUse", chosen)
                    .write();
                continue;
            }
            rows.push_back({chosen ? "  *" : "   ", row->extension + 1, row->description,
                            row->mime_type != nullptr ? row->mime_type : "(shown as a stub file, not exported)"});
        }
        print_table(rows);
    }
    // Trying the formats changed the configuration: put it back.
    const ostrel_result_t result = ostrel_google_drive_export_set_config(current[0], current[1], current[2], current[3]);
    if (result != OSTREL_SUCCESS) {
        ostrel_object_free(ostrel_error_get(result));
    }
    if (!json) {
        write_out("(* marks the format in use; choose with --export KIND=FORMAT)\n");
    }
    return 0;
}

}  // namespace ostrel::gdrive
