// The export configuration from --config and --export. The library is the
// judge of every format: the tool only asks it.
#include <cstring>
#include <fstream>
#include <string_view>

#include "output.h"
#include "tool.h"

namespace ostrel::gdrive {

const Kind kinds[4] = {
    {"documents", "export_documents", "application/vnd.google-apps.document"},
    {"spreadsheets", "export_spreadsheets", "application/vnd.google-apps.spreadsheet"},
    {"presentations", "export_presentations", "application/vnd.google-apps.presentation"},
    {"drawings", "export_drawings", "application/vnd.google-apps.drawing"},
};

namespace {

// Whether the library takes format for the kind alone.
bool kind_takes(size_t kind, const char *format)
{
    const char *trial[4] = {nullptr, nullptr, nullptr, nullptr};
    trial[kind] = format;
    const ostrel_result_t result = ostrel_google_drive_export_set_config(trial[0], trial[1], trial[2], trial[3]);
    if (result != OSTREL_SUCCESS) {
        ostrel_object_free(ostrel_error_get(result));
        return false;
    }
    return true;
}

std::string joined(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

// Why format is refused for the kind, or empty when it is taken.
std::string refused_format(size_t kind, const std::string &format)
{
    if (kind_takes(kind, format.c_str())) {
        return "";
    }
    return "\"" + shown(format) + "\" is not a format for " + kinds[kind].word + "; allowed: "
           + joined(allowed_formats(kind));
}

// The plug-in ignores keys it does not know, so a misspelt export key would
// silently leave its kind as stubs: one that starts as the export keys do
// is said. A key is what stands before the "=", comment cut, blanks trimmed.
void warn_unknown_export_keys(const std::string &path)
{
    std::ifstream file(path);
    std::string line;
    for (size_t number = 1; std::getline(file, line); ++number) {
        std::string_view text = std::string_view(line).substr(0, line.find('#'));
        text = text.substr(0, text.find('='));
        const auto blank = [](char c) { return std::strchr(" \t\n\v\f\r", c) != nullptr; };
        while (!text.empty() && blank(text.front())) {
            text.remove_prefix(1);
        }
        while (!text.empty() && blank(text.back())) {
            text.remove_suffix(1);
        }
        if (!text.starts_with("export_")) {
            continue;
        }
        bool known = false;
        std::string keys;
        for (const Kind &kind : kinds) {
            known = known || text == kind.config_key;
            keys += std::string(keys.empty() ? "" : ", ") + kind.config_key;
        }
        if (!known) {
            say(shown(path) + ":" + std::to_string(number) + ": warning: unknown key \"" + shown(text)
                + "\" is ignored; the export keys are " + keys);
        }
    }
}

// The export options of a plug-in configuration file; other options are
// the plug-in's and left alone.
void read_config(const std::string &path, std::string chosen[4], bool given[4])
{
    char *values[4] = {nullptr, nullptr, nullptr, nullptr};
    ostrel_google_drive_config_key_t keys[5];
    for (size_t k = 0; k < 4; ++k) {
        keys[k] = {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, kinds[k].config_key, &values[k], nullptr, nullptr};
    }
    keys[4] = {OSTREL_GOOGLE_DRIVE_CONFIG_STRING, nullptr, nullptr, nullptr, nullptr};
    const ostrel_result_t result = ostrel_i_google_drive_config_parse_file(path.c_str(), keys, true);
    if (result != OSTREL_SUCCESS) {
        ostrel_object_t *error = ostrel_error_peek(result);
        const char *details = ostrel_google_drive_error_get_info(error, "GD-Details");
        const char *operation = ostrel_google_drive_error_get_info(error, "GD-Operation");
        const std::string why = details != nullptr ? details : operation != nullptr ? operation : "cannot be read";
        ostrel_object_free(ostrel_error_get(result));
        throw Failure{exit_refused, shown(path) + ": " + safe(why)};
    }
    warn_unknown_export_keys(path);
    std::string refusal;
    for (size_t k = 0; k < 4; ++k) {
        if (values[k] != nullptr) {
            chosen[k] = values[k];
            given[k] = true;
            std::free(values[k]);
            const std::string why = refused_format(k, chosen[k]);
            if (refusal.empty() && !why.empty()) {
                refusal = shown(path) + ": " + kinds[k].config_key + " = " + shown(chosen[k]) + ": " + why;
            }
        }
    }
    if (!refusal.empty()) {
        throw Failure{exit_refused, refusal};
    }
}

}  // namespace

std::vector<std::string> allowed_formats(size_t kind)
{
    std::vector<std::string> formats;
    for (const ostrel_google_drive_doc_type_t *row = ostrel_l_google_drive_export_mimes; row->description != nullptr;
         ++row) {
        if (kind_takes(kind, row->extension)) {
            formats.emplace_back(row->extension + 1);
        }
    }
    return formats;
}

void configure(const Common &common)
{
    std::string chosen[4];
    bool given[4] = {false, false, false, false};
    if (!common.config.empty()) {
        read_config(common.config, chosen, given);
    }
    std::string_view formats = common.export_formats;
    size_t named[4] = {0, 0, 0, 0};  // by --export: which of two was meant cannot be known
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
            throw Failure{exit_usage, "--export: \"" + shown(item)
                                          + "\" is not KIND=FORMAT with KIND one of documents, spreadsheets, "
                                            "presentations, drawings"};
        }
        ++named[k];
        chosen[k] = item.substr(equals + 1);
        given[k] = true;
        if (const std::string why = refused_format(k, chosen[k]); !why.empty()) {
            throw Failure{exit_usage, "--export: " + why};
        }
    }
    for (size_t k = 0; k < 4; ++k) {
        if (named[k] > 1) {
            throw Failure{exit_usage, std::string("--export ") + kinds[k].word + "= given " + std::to_string(named[k])
                                          + " times; give it once (see --help)"};
        }
    }
    const ostrel_result_t result = ostrel_google_drive_export_set_config(
        given[0] ? chosen[0].c_str() : nullptr, given[1] ? chosen[1].c_str() : nullptr,
        given[2] ? chosen[2].c_str() : nullptr, given[3] ? chosen[3].c_str() : nullptr);
    if (result != OSTREL_SUCCESS) {
        throw Failure{exit_usage, "export formats refused: " + error_text(result)};
    }
}

std::string error_text(ostrel_result_t result)
{
    ostrel_object_t *error = ostrel_error_get(result);
    char *chain = ostrel_error_print_chain(error);
    std::string text = chain != nullptr ? chain : "unknown error";
    std::free(chain);
    ostrel_object_free(error);
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    for (char &c : text) {
        if (c == '\n') {
            c = ' ';
        }
    }
    return safe(text);
}

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
        text += ": " + safe(details);
    }
    ostrel_object_free(ostrel_error_get(result));
    return text;
}

std::string client_name_of(const ostrel_google_metadata_t &metadata)
{
    char *name = nullptr;
    const ostrel_result_t result = ostrel_google_drive_name_translate_out(&metadata, &name);
    if (result != OSTREL_SUCCESS) {
        throw Failure{exit_refused, "cannot list \"" + shown(metadata.name) + "\": " + refusal(result)};
    }
    std::string out = name;
    std::free(name);
    return out;
}

}  // namespace ostrel::gdrive
