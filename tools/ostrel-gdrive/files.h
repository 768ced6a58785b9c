// The files of a listing, parsed by the library, each with where it stands.
// A resource the library refuses stops the command with the key at fault;
// one without a name is reported and left out.
#ifndef OSTREL_GDRIVE_FILES_H
#define OSTREL_GDRIVE_FILES_H

#include <cstdint>
#include <optional>
#include <string>

#include "listing.h"
#include "tool.h"

namespace ostrel::gdrive {

class FileReader {
public:
    explicit FileReader(Listing &listing) : listing_(listing) {}
    // The next file that has a name and, for trashed ones, is wanted;
    // false at the end. Throws Failure when the listing or a resource is
    // refused.
    [[nodiscard]] bool next(File *file, bool with_trashed);
    // How many resources had no name (each was reported).
    [[nodiscard]] size_t unnamed() const { return unnamed_; }

private:
    Listing &listing_;
    size_t unnamed_ = 0;
};

// Says the listing's warnings; gives what to fail with when resources
// were left out, or "".
[[nodiscard]] std::string finish_listing(const Listing &listing, const FileReader &files);

// What kind of entry a file is for a client: folder, file, export (with its
// export MIME type), stub, or no-content (a Google-Apps file without bytes).
[[nodiscard]] const char *kind_of(const ostrel_google_metadata_t &m, const char **export_mime);

// The size a client sees: a stub's is the length of the content the library
// writes for it, known without Drive; otherwise Drive's size, when given.
[[nodiscard]] std::optional<uintmax_t> client_size(const ostrel_google_metadata_t &m);

}  // namespace ostrel::gdrive

#endif
