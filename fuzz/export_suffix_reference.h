// The export suffix's recognition rule written out literally, step by step,
// as the reference the production matcher is checked against.
#ifndef OSTREL_FUZZ_EXPORT_SUFFIX_REFERENCE_H
#define OSTREL_FUZZ_EXPORT_SUFFIX_REFERENCE_H

#include <optional>
#include <string>

#include "grammar.h"

namespace ostrel::fuzz {

inline std::optional<ostrel::gdc::ExportSuffix> reference_export_suffix(const std::string &name)
{
    // 1. The final dot is the last "." of the name.
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        return std::nullopt;
    }
    // 2. The opening brace is the last "{" of the name, before the final dot.
    const size_t open = name.rfind('{');
    if (open == std::string::npos || !(open < dot)) {
        return std::nullopt;
    }
    // 3. It begins the 8 characters "{export-".
    if (name.compare(open, 8, "{export-") != 0) {
        return std::nullopt;
    }
    // 4. The closing brace is the first "}" after it, before the final dot.
    const size_t close = name.find('}', open + 1);
    if (close == std::string::npos || !(close < dot)) {
        return std::nullopt;
    }
    return ostrel::gdc::ExportSuffix{open, close, dot};
}

inline bool same_suffix(const std::optional<ostrel::gdc::ExportSuffix> &a,
                        const std::optional<ostrel::gdc::ExportSuffix> &b)
{
    return a.has_value() == b.has_value()
           && (!a || (a->open == b->open && a->close == b->close && a->dot == b->dot));
}

}  // namespace ostrel::fuzz

#endif
