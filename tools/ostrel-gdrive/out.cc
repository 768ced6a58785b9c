// ostrel-gdrive out: the client name of one Drive file.
#include "commands.h"
#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

int run_out(const std::string &name, const std::string &mime_type, const std::string &id, bool json)
{
    ostrel_google_metadata_t metadata = {};
    metadata.name = const_cast<char *>(name.c_str());
    metadata.mime_type = mime_type.empty() ? nullptr : const_cast<char *>(mime_type.c_str());
    metadata.id = const_cast<char *>(id.c_str());
    metadata.append_id = !id.empty();
    const std::string client_name = client_name_of(metadata);
    if (json) {
        JsonLine()
            .text("driveName", name)
            .text_or_null("mimeType", metadata.mime_type)
            .text_or_null("id", metadata.append_id ? metadata.id : nullptr)
            .text("clientName", client_name)
            .write();
    } else {
        write_out(shown(client_name) + "\n");
    }
    return 0;
}

}  // namespace ostrel::gdrive
