// The untraced core of the fixed document-type lookups, for callers inside
// the library that must not trace and for measuring what tracing costs.
#ifndef OSTREL_GDC_DOC_TYPES_H
#define OSTREL_GDC_DOC_TYPES_H

namespace ostrel::gdc {

// Whether the suffix of name is one of the nine stub extensions.
[[nodiscard]] bool is_stub_name(const char *name) noexcept;

}  // namespace ostrel::gdc

#endif
