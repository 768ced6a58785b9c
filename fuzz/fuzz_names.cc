// Names: outbound then inbound gives back every Drive name, its id and its
// MIME type; any client name is refused cleanly or reads back the same way.
#include <jansson.h>

#include <cstring>

#include "fuzz_support.h"

namespace {

using namespace ostrel::fuzz;

struct Inbound {
    ostrel_result_t result;
    std::string name;
    std::string mime_type;
    std::string id;
};

Inbound translate_in(const std::string &client)
{
    char *name = nullptr;
    const char *mime_type = nullptr;
    char *id = nullptr;
    const ostrel_result_t result = ostrel_google_drive_name_translate_in(client.c_str(), &name, &mime_type, &id, false);
    Inbound in{result, text_or_null(name), text_or_null(mime_type), text_or_null(id)};
    if (result != OSTREL_SUCCESS && (name != nullptr || id != nullptr)) {
        broken("refusal hands out nothing", client);
    }
    std::free(name);
    std::free(id);
    ostrel_object_free(ostrel_error_get(result));
    return in;
}

std::string translate_out(const std::string &name, const char *mime_type, const char *id)
{
    ostrel_google_metadata_t metadata = {};
    metadata.name = const_cast<char *>(name.c_str());
    metadata.mime_type = const_cast<char *>(mime_type);
    metadata.id = const_cast<char *>(id);
    metadata.append_id = id != nullptr;
    char *out = nullptr;
    if (ostrel_google_drive_name_translate_out(&metadata, &out) != OSTREL_SUCCESS) {
        broken("outbound succeeds", name);
    }
    std::string client = out;
    std::free(out);
    if (has_control(client)) {
        broken("no control character out", client);
    }
    return client;
}

// Outbound then inbound gives back name, id and, for documents, the type.
void check_round_trip(const std::string &name, const char *mime_type, const char *id)
{
    const std::string client = translate_out(name, mime_type, id);
    const bool document = ostrel_google_drive_mime_type_is_google_docs(mime_type);
    if (!document && ostrel_google_drive_is_stub(client.c_str())) {
        return;  // an ordinary file named like a stub reads back as one, by design
    }
    const Inbound back = translate_in(client);
    if (back.result != OSTREL_SUCCESS || back.name != name || back.id != text_or_null(id)
        || back.mime_type != (document ? mime_type : "NULL")) {
        broken("inbound(outbound(x)) == x", "\"" + name + "\" listed as \"" + client + "\" read back as \"" +
                                               back.name + "\" " + back.mime_type + " " + back.id);
    }
}

// Drive names come from JSON: what Jansson takes as a string.
bool is_utf8(const std::string &text)
{
    json_t *string = json_stringn(text.data(), text.size());
    json_decref(string);
    return string != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    activate_once();
    Input input(data, size);
    configure(input.take());
    const uint8_t mime_choice = input.take();
    const uint8_t id_length = input.take() % 8;
    std::string id;
    for (uint8_t i = 0; i < id_length; ++i) {
        id += "aZ0_- 9x"[input.take() % 8];
    }
    const std::string text = input.rest();
    const char *mime_type = mime_choices[mime_choice % std::size(mime_choices)];

    // The text as a Drive name: Drive names are UTF-8.
    if (is_utf8(text)) {
        check_round_trip(text, mime_type, id.empty() ? nullptr : id.c_str());
    }

    // The text as a client name: refused cleanly, or read back the same way.
    std::string client = text;
    for (char &c : client) {
        c = c == '/' ? '{' : c;
    }
    const Inbound in = translate_in(client);
    if (in.result == OSTREL_SUCCESS) {
        const char *in_mime = in.mime_type == "NULL" ? nullptr : in.mime_type.c_str();
        check_round_trip(in.name, in_mime, in.id == "NULL" ? nullptr : in.id.c_str());
    }
    return 0;
}
