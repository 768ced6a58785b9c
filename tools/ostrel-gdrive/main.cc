// ostrel-gdrive: what GridFTP clients see of a Drive folder, and which
// Drive file a client's name opens, answered by the plug-in's own library.
#include <CLI/CLI.hpp>
#include <jansson.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "listing.h"
#include "ostrel_i_google_drive_common.h"

namespace {

constexpr int exit_refused = 1;
constexpr int exit_usage = 2;

constexpr const char *folder_type = "application/vnd.google-apps.folder";

// The four exportable kinds, as --export and the configuration file name them.
struct Kind {
    const char *word;
    const char *config_key;
    const char *mime_type;
};
constexpr Kind kinds[4] = {
    {"documents", "export_documents", "application/vnd.google-apps.document"},
    {"spreadsheets", "export_spreadsheets", "application/vnd.google-apps.spreadsheet"},
    {"presentations", "export_presentations", "application/vnd.google-apps.presentation"},
    {"drawings", "export_drawings", "application/vnd.google-apps.drawing"},
};

// A failure that ends the command with a message and an exit status.
struct Failure {
    int status;
    std::string message;
};

void say(const std::string &message)
{
    std::fprintf(stderr, "ostrel-gdrive: %s\n", message.c_str());
}

// Takes the error of result and gives its text on one line.
std::string error_text(ostrel_result_t result)
{
    ostrel_object_t *error = ostrel_error_get(result);
    char *chain = ostrel_error_print_chain(error);
    std::string text = chain != nullptr ? chain : "unknown error";
    std::free(chain);
    ostrel_object_free(error);
    for (char &c : text) {
        if (c == '\n') {
            c = ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

// Length of the UTF-8 sequence at text[i], or 0 when it is not one.
size_t utf8_length(std::string_view text, size_t i)
{
    const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char c = byte(i);
    const size_t length = c < 0x80 ? 1 : c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// Names may hold any byte: control characters and bytes that are not UTF-8
// are shown as \xNN.
std::string shown(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = utf8_length(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        if (length == 0 || c < 0x20 || c == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

// Columns count characters, not bytes.
size_t width_of(std::string_view text)
{
    size_t width = 0;
    for (const char c : text) {
        width += (static_cast<unsigned char>(c) & 0xc0) != 0x80 ? 1 : 0;
    }
    return width;
}

void print_table(const std::vector<std::vector<std::string>> &rows)
{
    std::vector<size_t> widths;
    for (const auto &row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], width_of(row[i]));
        }
    }
    for (const auto &row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line.append(widths[i] - width_of(row[i]) + 2, ' ');
            }
        }
        std::printf("%s\n", line.c_str());
    }
}

// Options every command takes.
struct Common {
    std::string export_formats;
    std::string config;
    std::string debug;
};

// Sets the export configuration from --config and --export (which wins).
void configure(const Common &common)
{
    std::string chosen[4];
    bool given[4] = {false, false, false, false};
    if (!common.config.empty()) {
        char *values[4] = {nullptr, nullptr, nullptr, nullptr};
        ostrel_google_drive_config_key_t keys[5];
        for (size_t k = 0; k < 4; ++k) {
            keys[k] = {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, kinds[k].config_key, &values[k], nullptr, nullptr};
        }
        keys[4] = {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, nullptr, nullptr, nullptr, nullptr};
        // A plug-in's configuration file holds other options too.
        const ostrel_result_t result = ostrel_i_google_drive_config_parse_file(common.config.c_str(), keys, true);
        if (result != OSTREL_SUCCESS) {
            ostrel_object_t *error = ostrel_error_peek(result);
            const char *details = ostrel_google_drive_error_get_info(error, "GD-Details");
            const char *operation = ostrel_google_drive_error_get_info(error, "GD-Operation");
            const std::string why = details != nullptr ? details : operation != nullptr ? operation : "unreadable";
            ostrel_object_free(ostrel_error_get(result));
            throw Failure{exit_refused, common.config + ": " + why};
        }
        for (size_t k = 0; k < 4; ++k) {
            if (values[k] != nullptr) {
                chosen[k] = values[k];
                given[k] = true;
                std::free(values[k]);
            }
        }
    }
    std::string_view formats = common.export_formats;
    while (!formats.empty()) {
        const std::string_view item = formats.substr(0, formats.find(','));
        formats.remove_prefix(std::min(formats.size(), item.size() + 1));
        const size_t equals = item.find('=');
        const std::string_view word = item.substr(0, equals);
        size_t k = 0;
        while (k < 4 && word != kinds[k].word) {
            ++k;
        }
        if (equals == std::string_view::npos || k == 4) {
            throw Failure{exit_usage, "--export: \"" + std::string(item) +
                                          "\" is not KIND=FORMAT with KIND one of documents, spreadsheets, "
                                          "presentations, drawings"};
        }
        chosen[k] = item.substr(equals + 1);
        given[k] = true;
    }
    const ostrel_result_t result = ostrel_google_drive_export_set_config(
        given[0] ? chosen[0].c_str() : nullptr, given[1] ? chosen[1].c_str() : nullptr,
        given[2] ? chosen[2].c_str() : nullptr, given[3] ? chosen[3].c_str() : nullptr);
    if (result != OSTREL_SUCCESS) {
        throw Failure{exit_usage, "export formats refused: " + error_text(result) +
                                      " (see \"ostrel-gdrive formats\")"};
    }
}

// One parsed file of a listing.
struct File {
    ostrel_google_metadata_t metadata = {};
    File() = default;
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    File(File &&other) noexcept : metadata(other.metadata) { other.metadata = {}; }
    ~File() { ostrel_google_metadata_destroy(&metadata); }
};

std::string client_name_of(const ostrel_google_metadata_t &metadata)
{
    char *name = nullptr;
    const ostrel_result_t result = ostrel_google_drive_name_translate_out(&metadata, &name);
    if (result != OSTREL_SUCCESS) {
        throw Failure{exit_refused, "cannot list \"" + shown(metadata.name) + "\": " + error_text(result)};
    }
    std::string out = name;
    std::free(name);
    return out;
}

struct LsOptions {
    std::string listing;
    bool long_format = false;
    bool json = false;
    bool ids = false;
    bool trashed = false;
};

const char *kind_of(const ostrel_google_metadata_t &m, const char **export_mime)
{
    *export_mime = nullptr;
    if (m.mime_type != nullptr && std::strcmp(m.mime_type, folder_type) == 0) {
        return "folder";
    }
    if (ostrel_google_drive_mime_type_is_google_docs(m.mime_type)) {
        *export_mime = ostrel_google_drive_exported_get_export_mime(m.mime_type);
        return *export_mime != nullptr ? "export" : "stub";
    }
    return "file";
}

std::string utc(time_t time, const char *format)
{
    tm broken_down = {};
    char text[64] = "-";
    if (gmtime_r(&time, &broken_down) != nullptr) {
        std::strftime(text, sizeof text, format, &broken_down);
    }
    return text;
}

void print_entry(const LsOptions &options, const ostrel_google_metadata_t &m, const std::string &client)
{
    if (!options.json && !options.long_format) {
        std::string line = shown(client);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
        return;
    }
    const char *export_mime = nullptr;
    const char *kind = kind_of(m, &export_mime);
    if (options.json) {
        json_t *entry = json_object();
        json_object_set_new(entry, "driveName", json_string(m.name));
        json_object_set_new(entry, "clientName", json_stringn(client.data(), client.size()));
        json_object_set_new(entry, "type", json_string(kind));
        json_object_set_new(entry, "mimeType", m.mime_type != nullptr ? json_string(m.mime_type) : json_null());
        json_object_set_new(entry, "exportMimeType", export_mime != nullptr ? json_string(export_mime) : json_null());
        json_object_set_new(entry, "id", m.id != nullptr ? json_string(m.id) : json_null());
        json_object_set_new(entry, "size", m.size_set ? json_string(std::to_string(m.size).c_str()) : json_null());
        json_object_set_new(entry, "modifiedTime", m.modified_time_set
                                                       ? json_string(utc(m.modified_time, "%Y-%m-%dT%H:%M:%SZ").c_str())
                                                       : json_null());
        char *text = json_dumps(entry, JSON_COMPACT | JSON_PRESERVE_ORDER);
        std::fputs(text, stdout);
        std::fputc('\n', stdout);
        std::free(text);
        json_decref(entry);
        return;
    }
    const std::string size = m.size_set ? std::to_string(m.size) : "-";
    const std::string modified = m.modified_time_set ? utc(m.modified_time, "%Y-%m-%d %H:%M") : "-";
    std::string line;
    char head[96];
    std::snprintf(head, sizeof head, "%-6s  %12s  %-16s  ", kind, size.c_str(), modified.c_str());
    line += head;
    line += shown(client);
    if (export_mime != nullptr) {
        line += "  [";
        line += export_mime;
        line += ']';
    }
    if (client != m.name) {
        line += "  <- ";
        line += shown(m.name);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

// Reads the listing's next file, parsed; false at the end.
bool next_file(ostrel::gdrive::Listing &listing, File *file)
{
    std::string error;
    json_t *resource = listing.next(&error);
    if (resource == nullptr) {
        if (!error.empty()) {
            throw Failure{exit_refused, error};
        }
        return false;
    }
    ostrel_google_metadata_destroy(&file->metadata);
    const ostrel_result_t result = ostrel_google_metadata_parse(resource, &file->metadata);
    json_decref(resource);
    if (result != OSTREL_SUCCESS) {
        throw Failure{exit_refused, "cannot read a file resource: " + error_text(result)};
    }
    return true;
}

bool listed(const LsOptions &options, const ostrel_google_metadata_t &m)
{
    return m.name != nullptr && (options.trashed || !(m.trashed_set && m.trashed));
}

void run_ls(const LsOptions &options)
{
    ostrel::gdrive::Listing listing;
    std::string error;
    if (!listing.open(options.listing, &error)) {
        throw Failure{exit_refused, error};
    }
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    File file;
    if (!options.ids) {
        // Streamed: one file in memory at a time.
        while (next_file(listing, &file)) {
            if (listed(options, file.metadata)) {
                print_entry(options, file.metadata, client_name_of(file.metadata));
            }
        }
        return;
    }
    // Collisions are known only once the whole folder has been read.
    std::vector<File> files;
    std::unordered_map<std::string, size_t> uses;
    std::vector<std::string> names;
    while (next_file(listing, &file)) {
        if (listed(options, file.metadata)) {
            names.push_back(client_name_of(file.metadata));
            ++uses[names.back()];
            files.push_back(std::move(file));
        }
    }
    for (size_t i = 0; i < files.size(); ++i) {
        ostrel_google_metadata_t &m = files[i].metadata;
        if (uses[names[i]] > 1 && m.id != nullptr) {
            m.append_id = true;
            names[i] = client_name_of(m);
        }
        print_entry(options, m, names[i]);
    }
}

// The refusal of a client name, as FTP code, error code and details.
std::string refusal(ostrel_result_t result)
{
    ostrel_object_t *error = ostrel_error_peek(result);
    const int code = ostrel_gfs_error_get_ftp_response_code(error);
    if (code == 0) {
        return error_text(result);
    }
    const char *error_code = ostrel_gfs_error_get_ftp_response_error_code(error);
    const char *details = ostrel_google_drive_error_get_info(error, "GD-Details");
    std::string text = std::to_string(code) + " " + (error_code != nullptr ? error_code : "");
    if (details != nullptr) {
        text += ": " + shown(details);
    }
    ostrel_object_free(ostrel_error_get(result));
    return text;
}

std::string or_dash(const char *text)
{
    return text != nullptr ? shown(text) : "-";
}

int run_in(const std::vector<std::string> &names, bool for_write)
{
    std::vector<std::vector<std::string>> rows = {{"CLIENT NAME", "DRIVE NAME", "MIME TYPE", "ID"}};
    int status = 0;
    for (const std::string &name : names) {
        if (name.find('/') != std::string::npos) {
            say("in: \"" + shown(name) + "\" refused: a name cannot hold \"/\"; see \"ostrel-gdrive split\" for paths");
            status = exit_refused;
            continue;
        }
        char *drive_name = nullptr;
        const char *mime_type = nullptr;
        char *id = nullptr;
        const ostrel_result_t result =
            ostrel_google_drive_name_translate_in(name.c_str(), &drive_name, &mime_type, &id, for_write);
        if (result != OSTREL_SUCCESS) {
            say("in: \"" + shown(name) + "\" refused: " + refusal(result));
            status = exit_refused;
            continue;
        }
        rows.push_back({shown(name), "\"" + shown(drive_name) + "\"", or_dash(mime_type), or_dash(id)});
        std::free(drive_name);
        std::free(id);
    }
    if (rows.size() > 1) {
        print_table(rows);
    }
    return status;
}

int run_split(const std::string &path, bool for_write)
{
    ostrel_google_drive_path_t split = {0, nullptr};
    const ostrel_result_t result = ostrel_google_drive_path_split(path.c_str(), &split, for_write);
    if (result != OSTREL_SUCCESS) {
        say("split: \"" + shown(path) + "\" refused: " + refusal(result));
        return exit_refused;
    }
    std::vector<std::vector<std::string>> rows = {{"#", "DRIVE NAME", "MIME TYPE", "ID"}};
    for (uint64_t i = 0; i < split.count; ++i) {
        const ostrel_google_drive_path_element_t &e = split.elements[i];
        rows.push_back({std::to_string(i + 1), "\"" + shown(e.name) + "\"", or_dash(e.mime_type), or_dash(e.id)});
        std::free(e.name);
        std::free(e.id);
    }
    std::free(split.elements);
    print_table(rows);
    return 0;
}

int run_out(const std::string &name, const std::string &mime_type, const std::string &id)
{
    ostrel_google_metadata_t metadata = {};
    metadata.name = const_cast<char *>(name.c_str());
    metadata.mime_type = mime_type.empty() ? nullptr : const_cast<char *>(mime_type.c_str());
    metadata.id = id.empty() ? nullptr : const_cast<char *>(id.c_str());
    metadata.append_id = !id.empty();
    std::printf("%s\n", shown(client_name_of(metadata)).c_str());
    return 0;
}

int run_expand(const std::string &path)
{
    char *expanded = nullptr;
    const ostrel_result_t result = ostrel_google_drive_evaluate_path(path.c_str(), &expanded);
    if (result != OSTREL_SUCCESS) {
        throw Failure{exit_refused, "expand: " + error_text(result)};
    }
    std::printf("%s\n", expanded);
    std::free(expanded);
    return 0;
}

// The formats each kind may use, learned from the library by trying each
// row of its export table; the configuration is put back afterwards.
int run_formats()
{
    const char *current[4];
    for (size_t k = 0; k < 4; ++k) {
        current[k] = ostrel_google_drive_exported_get_extension(kinds[k].mime_type);
    }
    for (size_t k = 0; k < 4; ++k) {
        std::printf("%s (%s):\n", kinds[k].word, kinds[k].mime_type);
        std::vector<std::vector<std::string>> rows;
        for (const ostrel_google_drive_doc_type_t *row = ostrel_l_google_drive_export_mimes; row->description != nullptr;
             ++row) {
            const char *trial[4] = {current[0], current[1], current[2], current[3]};
            trial[k] = row->extension;
            const ostrel_result_t result = ostrel_google_drive_export_set_config(trial[0], trial[1], trial[2], trial[3]);
            if (result != OSTREL_SUCCESS) {
                ostrel_object_free(ostrel_error_get(result));
                continue;
            }
            const bool chosen = std::strcmp(row->extension, current[k]) == 0;
            rows.push_back({chosen ? "  *" : "   ", row->extension + 1, row->description,
                            row->mime_type != nullptr ? row->mime_type : "(shown as a stub file, not exported)"});
        }
        print_table(rows);
    }
    const ostrel_result_t result = ostrel_google_drive_export_set_config(current[0], current[1], current[2], current[3]);
    if (result != OSTREL_SUCCESS) {
        ostrel_object_free(ostrel_error_get(result));
    }
    std::printf("(* marks the format in use; choose with --export KIND=FORMAT)\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    CLI::App app{"ostrel-gdrive: see a Google Drive folder as GridFTP clients will, through the plug-in's own "
                 "name translation.",
                 "ostrel-gdrive"};
    app.set_version_flag("--version", std::string("ostrel-gdrive ") + OSTREL_GDRIVE_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    Common common;
    app.add_option("--export", common.export_formats,
                   "Export formats: KIND=FORMAT,... with KIND documents, spreadsheets, presentations or drawings "
                   "(e.g. documents=pdf,spreadsheets=xlsx); kinds not named are shown as stub files")
        ->type_name("KIND=FORMAT,...");
    app.add_option("--config", common.config,
                   "Plug-in configuration file to read export_documents, export_spreadsheets, "
                   "export_presentations and export_drawings from; --export wins over it")
        ->type_name("FILE");
    app.add_option("--debug", common.debug,
                   "Trace the library to standard error: LEVELS[,FILE[,FLAGS]] as OSTREL_GOOGLE_DRIVE_DEBUG takes "
                   "it, e.g. ALL or TRACE|ERROR")
        ->type_name("LEVELS");
    app.footer(
        "Exit status: 0 success, 1 refused input (bad listing, refused name, bad configuration file), 2 usage error.\n"
        "Examples:\n"
        "  ostrel-gdrive ls -l --export documents=pdf,spreadsheets=xlsx my-drive.json\n"
        "  ostrel-gdrive in --write 'notes{export-gdoc}.pdf'\n"
        "  ostrel-gdrive split /projects/report.{ID1AbC}.gdoc\n");

    LsOptions ls;
    CLI::App *ls_command = app.add_subcommand(
        "ls", "List the names GridFTP clients see for a Drive file listing: a files.list response, a JSON array of "
              "file resources, or one resource per line (streamed); - reads standard input");
    ls_command->add_option("LISTING", ls.listing, "The listing file, or - for standard input")->required();
    ls_command->add_flag("-l,--long", ls.long_format,
                         "Show type (folder, file, export [export MIME type], stub), size, modification time (UTC) "
                         "and, after <-, the Drive name when it differs");
    ls_command->add_flag("--json", ls.json,
                         "One JSON object per entry: driveName, clientName, type, mimeType, exportMimeType, id, size, "
                         "modifiedTime");
    ls_command->add_flag("--ids", ls.ids,
                         "Append the ID token to entries whose names collide (reads the whole listing first)");
    ls_command->add_flag("--trashed", ls.trashed, "Include trashed files");

    std::vector<std::string> in_names;
    bool in_write = false;
    CLI::App *in_command = app.add_subcommand("in", "Translate client names into Drive name, implied MIME type and id");
    in_command->add_option("NAME", in_names, "Client names (single path elements)")->required();
    in_command->add_flag("--write", in_write, "The names are to be written (export suffixes are refused)");

    std::string out_name;
    std::string out_mime;
    std::string out_id;
    CLI::App *out_command = app.add_subcommand("out", "The client name of one Drive file");
    out_command->add_option("--name", out_name, "The Drive name")->required();
    out_command->add_option("--mime", out_mime, "The Drive MIME type")->type_name("TYPE");
    out_command->add_option("--id", out_id, "The Drive file id, appended as an ID token")->type_name("ID");

    std::string split_path;
    bool split_write = false;
    CLI::App *split_command = app.add_subcommand("split", "Split a client path into translated elements");
    split_command->add_option("PATH", split_path, "The client path")->required();
    split_command->add_flag("--write", split_write, "The path is to be written (export suffixes are refused)");

    std::string expand_path;
    CLI::App *expand_command = app.add_subcommand("expand", "Expand $HOME and $LOGNAME of the current user in a path");
    expand_command->add_option("PATH", expand_path, "The path")->required();

    CLI::App *formats_command =
        app.add_subcommand("formats", "The export formats each document kind may use, the one in use marked");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);
        }
        say(std::string(e.what()) + " (see --help)");
        return exit_usage;
    }

    if (!common.debug.empty()) {
        setenv("OSTREL_GOOGLE_DRIVE_DEBUG", common.debug.c_str(), 1);
    }
    if (ostrel_module_activate(&ostrel_i_google_drive_common_module) != 0) {
        say("the library did not activate");
        return exit_refused;
    }
    int status = 0;
    try {
        configure(common);
        if (*ls_command) {
            if (ls.json && ls.long_format) {
                throw Failure{exit_usage, "ls: choose one of -l and --json"};
            }
            run_ls(ls);
        } else if (*in_command) {
            status = run_in(in_names, in_write);
        } else if (*out_command) {
            status = run_out(out_name, out_mime, out_id);
        } else if (*split_command) {
            status = run_split(split_path, split_write);
        } else if (*expand_command) {
            status = run_expand(expand_path);
        } else if (*formats_command) {
            status = run_formats();
        }
    } catch (const Failure &failure) {
        std::fflush(stdout);
        say(failure.message);
        status = failure.status;
    }
    std::fflush(stdout);
    ostrel_module_deactivate(&ostrel_i_google_drive_common_module);
    return status;
}
