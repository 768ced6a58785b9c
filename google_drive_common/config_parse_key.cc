// The configuration parser: options from a file (one per line) or a string
// (separated by ";") stored through the caller's key table.
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <array>
#include <cstring>
#include <string_view>

#include "api.h"
#include "config_parse_key.h"
#include "error_shapes.h"
#include "memory.h"
#include "stop.h"

namespace {

using namespace ostrel::gdc;
using Key = ostrel_google_drive_config_key_t;

constexpr const char *parsing_file = "Parsing Google Drive DSI configuration file";
constexpr const char *opening_file = "Opening Google Drive DSI configuration file";
constexpr const char *parsing_string = "Parsing Google Drive DSI configuration string";
constexpr const char *parsing = "Parsing Google Drive DSI configuration";

// Longest key and value the parser takes.
constexpr size_t max_text = 256;

constexpr std::string_view white_space = " \t\n\v\f\r";

// A configuration error whose details are formatted; without memory for the
// details, the system error of the allocation.
[[nodiscard]] ostrel_result_t configuration_errorf(const char *path, const char *operation, const char *format,
                                                   ...) noexcept __attribute__((format(printf, 3, 4)));

ostrel_result_t configuration_errorf(const char *path, const char *operation, const char *format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    Owned<char> details(length >= 0 ? static_cast<char *>(mem_malloc(static_cast<size_t>(length) + 1)) : nullptr);
    if (details != nullptr) {
        std::vsnprintf(details.get(), static_cast<size_t>(length) + 1, format, again);
    }
    va_end(again);
    return details != nullptr ? configuration_error(path, operation, details.get()) : system_error("malloc");
}

[[nodiscard]] std::string_view trim_end(std::string_view text) noexcept
{
    const size_t last = text.find_last_not_of(white_space);
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

[[nodiscard]] std::string_view trim_start(std::string_view text) noexcept
{
    const size_t first = text.find_first_not_of(white_space);
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

[[nodiscard]] std::string_view cut_at_nul(std::string_view text) noexcept
{
    return text.substr(0, text.find('\0'));
}

struct Option {
    std::string_view key;
    std::string_view value;
};

// "key = value": the key is what stands before the first "=", without the
// white space around it; the value runs from the first character after the
// "=" and the white space that follows it up to a line feed. Both must be
// present and at most 256 characters long.
[[nodiscard]] bool scan_option(std::string_view text, Option *option) noexcept
{
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return false;
    }
    // Key and value are handed on as C texts, which end at a NUL.
    const std::string_view key = trim_end(cut_at_nul(trim_start(text.substr(0, equals))));
    std::string_view value = trim_start(text.substr(equals + 1));
    value = cut_at_nul(value.substr(0, value.find('\n')));
    if (key.empty() || key.size() > max_text || value.empty() || value.size() > max_text) {
        return false;
    }
    *option = {key, value};
    return true;
}

// Key, value and the source's name as NUL-terminated texts in one block.
class OptionTexts {
public:
    [[nodiscard]] bool assign(std::string_view key, std::string_view value, std::string_view source) noexcept
    {
        char *at = block_.reserve(key.size() + value.size() + source.size() + 3);
        if (at == nullptr) {
            return false;
        }
        key_ = put_text(&at, key);
        value_ = put_text(&at, value);
        source_ = put_text(&at, source);
        return true;
    }
    [[nodiscard]] const char *key() const noexcept { return key_; }
    [[nodiscard]] const char *value() const noexcept { return value_; }
    [[nodiscard]] const char *source() const noexcept { return source_; }

private:
    GrowingBlock block_;
    const char *key_ = nullptr;
    const char *value_ = nullptr;
    const char *source_ = nullptr;
};

// After a failed parse no STRING destination holds a text.
void clear_strings(const Key *config_keys) noexcept
{
    for (const Key *row = config_keys; row->name != nullptr; ++row) {
        if (row->value_type == OSTREL_GOOGLE_DRIVE_CONFIG_STRING && row->string_dest != nullptr) {
            std::free(*row->string_dest);
            *row->string_dest = nullptr;
        }
    }
}

// A decimal number that is all of text, not negative and at most max.
[[nodiscard]] bool parse_number(const char *text, intmax_t max, intmax_t *value) noexcept
{
    errno = 0;
    char *end = nullptr;
    const intmax_t number = std::strtoimax(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || number < 0 || number > max) {
        return false;
    }
    *value = number;
    return true;
}

// One option stored; line is as wide as the file parser counts.
[[nodiscard]] ostrel_result_t store_option(const char *path, intmax_t line, const char *key, const char *val,
                                           const Key *config_keys, bool *parsed_option) noexcept
{
    *parsed_option = false;
    size_t i = 0;
    while (config_keys[i].name != nullptr && std::strcmp(config_keys[i].name, key) != 0) {
        ++i;
    }
    if (config_keys[i].name == nullptr) {
        return OSTREL_SUCCESS;
    }
    OSTREL_GDC_REQUIRE(config_keys[i].value_type == OSTREL_GOOGLE_DRIVE_CONFIG_STRING ||
                       config_keys[i].value_type == OSTREL_GOOGLE_DRIVE_CONFIG_INT ||
                       config_keys[i].value_type == OSTREL_GOOGLE_DRIVE_CONFIG_OFF_T);
    const Key &row = config_keys[i];
    intmax_t number = 0;
    switch (row.value_type) {
    case OSTREL_GOOGLE_DRIVE_CONFIG_STRING:
        if (*row.string_dest == nullptr || std::strcmp(*row.string_dest, val) != 0) {
            char *copy = mem_strdup(val);
            if (copy == nullptr) {
                ostrel_object_t *why = ostrel_i_gfs_error_system(nullptr, errno, "System error%s%s", " in ", "strdup");
                char *details = ostrel_error_print_friendly(why);
                const ostrel_result_t result = configuration_error(path, parsing_file, details);
                std::free(details);
                ostrel_object_free(why);
                return result;
            }
            std::free(*row.string_dest);
            *row.string_dest = copy;
        }
        break;
    case OSTREL_GOOGLE_DRIVE_CONFIG_INT:
        if (!parse_number(val, INT32_MAX, &number)) {
            return configuration_errorf(path, parsing_file, "Invalid value on line %jd \"%s\" (expected int)", line,
                                        val);
        }
        *row.int_dest = static_cast<int32_t>(number);
        break;
    case OSTREL_GOOGLE_DRIVE_CONFIG_OFF_T:
        if (!parse_number(val, INTMAX_MAX, &number)) {
            return configuration_errorf(path, parsing_file, "Invalid value on line %jd \"%s\" (expected off_t)", line,
                                        val);
        }
        *row.off_t_dest = static_cast<off_t>(number);
        break;
    }
    *parsed_option = true;
    return OSTREL_SUCCESS;
}

// Longest text a line may hold between its leading white space and its
// comment: a key and a value of the longest, an "=" and room for blanks.
constexpr size_t max_line = 4 * max_text;

enum class LineRead { line, end, too_long, read_error };

// Reads a file line by line at a fixed memory cost: leading white space and
// comments pass as a stream, and a line whose text outgrows max_line is
// reported as soon as it does, so a file without line feeds cannot grow it.
class LineReader {
public:
    explicit LineReader(FILE *file) noexcept : file_(file) {}
    [[nodiscard]] LineRead next(std::string_view *line) noexcept
    {
        size_t length = 0;
        size_t consumed = 0;
        bool started = false;
        bool comment = false;
        int c = 0;
        while ((c = std::getc(file_)) != EOF && c != '\n') {
            ++consumed;
            if (comment || (!started && white_space.find(static_cast<char>(c)) != std::string_view::npos)) {
                continue;
            }
            if (c == '#') {
                comment = true;
                continue;
            }
            started = true;
            if (length == line_.size()) {
                // Trailing blanks go with the line's end; anything else is too much.
                if (white_space.find(static_cast<char>(c)) == std::string_view::npos) {
                    return LineRead::too_long;
                }
                continue;
            }
            line_[length++] = static_cast<char>(c);
        }
        if (c == EOF && std::ferror(file_)) {
            return LineRead::read_error;
        }
        if (c == EOF && consumed == 0) {
            return LineRead::end;
        }
        *line = std::string_view(line_.data(), length);
        return LineRead::line;
    }

private:
    FILE *file_;
    std::array<char, max_line> line_;
};

struct FileCloser {
    void operator()(FILE *file) const noexcept { std::fclose(file); }
};

// A file that cannot be read at all (a directory, say) fails like one that
// cannot be opened: the table is left as it was.
struct LinesParsed {
    ostrel_result_t result;
    bool table_touched;
};

[[nodiscard]] LinesParsed parse_lines(FILE *file, const char *path, const Key *config_keys, bool ignore_unknown,
                                      intmax_t number) noexcept
{
    LineReader reader(file);
    OptionTexts texts;
    std::string_view line;
    bool stored_any = false;
    // A line takes at least one byte, and a file fewer than INTMAX_MAX
    // (off_t): the count cannot overflow.
    for (;; ++number) {
        const LineRead read = reader.next(&line);
        if (read == LineRead::end) {
            return {OSTREL_SUCCESS, true};
        }
        if (read == LineRead::read_error) {
            return {configuration_error(path, parsing_file, std::strerror(errno)), stored_any};
        }
        line = trim_end(line);
        if (read == LineRead::line && line.empty()) {
            continue;
        }
        Option option;
        if (read == LineRead::too_long || !scan_option(line, &option)) {
            return {configuration_errorf(path, parsing_file, "Syntax error line %jd", number), true};
        }
        if (!texts.assign(option.key, option.value, {})) {
            return {system_error("malloc"), true};
        }
        bool parsed = false;
        if (const ostrel_result_t result =
                store_option(path, number, texts.key(), texts.value(), config_keys, &parsed)) {
            return {result, true};
        }
        stored_any = true;
        if (!parsed && !ignore_unknown) {
            return {configuration_errorf(path, parsing_file, "Unknown configuration option \"%s\" on line %jd",
                                         texts.key(), number),
                    true};
        }
    }
}

[[nodiscard]] ostrel_result_t parse_options(std::string_view text, const Key *config_keys, bool ignore_unknown) noexcept
{
    OptionTexts texts;
    for (int number = 1;; ++number) {
        const size_t end = text.find(';');
        const std::string_view source = text.substr(0, end);
        Option option = {};
        // An option ends at its ";" alone: one that holds a line feed is not
        // cut short there.
        const bool scanned = source.find('\n') == std::string_view::npos && scan_option(source, &option);
        if (!texts.assign(option.key, option.value, source)) {
            return system_error("malloc");
        }
        if (!scanned) {
            return configuration_errorf(texts.source(), parsing_string, "Syntax error parsing option %d", number);
        }
        bool parsed = false;
        if (const ostrel_result_t result =
                store_option(texts.source(), number, texts.key(), texts.value(), config_keys, &parsed)) {
            return result;
        }
        if (!parsed && !ignore_unknown) {
            return configuration_errorf(texts.source(), parsing, "Unknown configuration option (%d) \"%s\"", number,
                                        texts.key());
        }
        if (end == std::string_view::npos) {
            return OSTREL_SUCCESS;
        }
        text.remove_prefix(end + 1);
    }
}

}  // namespace

ostrel_result_t ostrel::gdc::parse_config_lines(FILE *file, const char *path, const Key *config_keys,
                                                bool ignore_unknown, intmax_t first_line) noexcept
{
    const LinesParsed parsed = parse_lines(file, path, config_keys, ignore_unknown, first_line);
    if (parsed.result != OSTREL_SUCCESS && parsed.table_touched) {
        clear_strings(config_keys);
    }
    return parsed.result;
}

ostrel_result_t ostrel_i_google_drive_config_parse_key(const char *path, int line, const char *key, const char *val,
                                                       const ostrel_google_drive_config_key_t *config_keys,
                                                       bool *parsed_option) noexcept
{
    OSTREL_GDC_REQUIRE(key != NULL);
    OSTREL_GDC_REQUIRE(val != NULL);
    OSTREL_GDC_REQUIRE(config_keys != NULL);
    OSTREL_GDC_REQUIRE(parsed_option != NULL);
    return store_option(path, line, key, val, config_keys, parsed_option);
}

ostrel_result_t ostrel_i_google_drive_config_parse_file(const char *path,
                                                        const ostrel_google_drive_config_key_t *config_keys,
                                                        bool ignore_unknown) noexcept
{
    OSTREL_GDC_REQUIRE(path != NULL);
    OSTREL_GDC_REQUIRE(config_keys != NULL);
    const std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "r"));
    if (file == nullptr) {
        return ostrel::gdc::configuration_error(path, opening_file, std::strerror(errno));
    }
    return ostrel::gdc::parse_config_lines(file.get(), path, config_keys, ignore_unknown, 1);
}

ostrel_result_t ostrel_i_google_drive_config_parse_string(const char *text,
                                                          const ostrel_google_drive_config_key_t *config_keys,
                                                          bool ignore_unknown) noexcept
{
    OSTREL_GDC_REQUIRE(config_keys != NULL);
    if (text == nullptr) {
        return ostrel::gdc::configuration_error("", parsing_string, nullptr);
    }
    const ostrel_result_t result = parse_options(text, config_keys, ignore_unknown);
    if (result != OSTREL_SUCCESS) {
        clear_strings(config_keys);
    }
    return result;
}
