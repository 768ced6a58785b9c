// Shared by the fuzz targets: module activation once, and reading the
// fuzzer's bytes as choices followed by a text.
#ifndef OSTREL_FUZZ_SUPPORT_H
#define OSTREL_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ostrel_i_google_drive_common.h"

namespace ostrel::fuzz {

// A failed property: say which and stop, so the fuzzer keeps the input.
[[noreturn]] inline void broken(const char *property, const std::string &detail)
{
    std::fprintf(stderr, "property broken: %s: %s\n", property, detail.c_str());
    std::abort();
}

// Whether text holds a byte below 0x20, DEL or a C1 control (U+0080-U+009F),
// by the definition rather than the library's scanner.
[[nodiscard]] inline bool has_control(std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f
            || (c == 0xc2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80)) {
            return true;
        }
    }
    return false;
}

inline void activate_once()
{
    static const bool active = [] {
        unsetenv("OSTREL_GOOGLE_DRIVE_DEBUG");
        return ostrel_module_activate(&ostrel_i_google_drive_common_module) == 0;
    }();
    if (!active) {
        broken("activation", "the module did not activate");
    }
}

// Takes choices off the front of the input; the rest is text.
class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    [[nodiscard]] uint8_t take()
    {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }
    // The rest up to its first NUL, as C texts end there.
    [[nodiscard]] std::string rest() const
    {
        const std::string_view all(reinterpret_cast<const char *>(data_), size_);
        return std::string(all.substr(0, all.find('\0')));
    }

private:
    const uint8_t *data_;
    size_t size_;
};

constexpr const char *export_choices[4][5] = {
    {nullptr, "pdf", "docx", "txt", "gdoc"},
    {nullptr, "pdf", "xlsx", "csv", "gsheet"},
    {nullptr, "pdf", "pptx", "txt", "gslides"},
    {nullptr, "pdf", "png", "svg", "gdraw"},
};

// One export configuration chosen by a byte.
inline void configure(uint8_t choice)
{
    const char *chosen[4];
    for (int k = 0; k < 4; ++k) {
        chosen[k] = export_choices[k][(choice >> (2 * k)) % 5];
    }
    if (ostrel_google_drive_export_set_config(chosen[0], chosen[1], chosen[2], chosen[3]) != OSTREL_SUCCESS) {
        broken("configuration", "a valid export configuration was refused");
    }
}

constexpr const char *mime_choices[] = {
    nullptr,
    "application/pdf",
    "application/vnd.google-apps.folder",
    "application/vnd.google-apps.document",
    "application/vnd.google-apps.spreadsheet",
    "application/vnd.google-apps.presentation",
    "application/vnd.google-apps.drawing",
    "application/vnd.google-apps.map",
    "application/vnd.google-apps.form",
    "application/vnd.google-apps.site",
    "application/vnd.google-apps.jam",
    "application/vnd.google-apps.shortcut",
};

inline std::string text_or_null(const char *text)
{
    return text != nullptr ? text : "NULL";
}

}  // namespace ostrel::fuzz

#endif
