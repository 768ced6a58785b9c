// A listing of a whole tree (every file with its parents, as files.list
// gives it without a folder query) walked by client paths, element by
// element, with the library's lookup among each folder's children marked
// as ls --ids shows them.
#ifndef OSTREL_GDRIVE_TREE_H
#define OSTREL_GDRIVE_TREE_H

#include <string>
#include <unordered_map>
#include <vector>

#include "files.h"

namespace ostrel::gdrive {

class Tree {
public:
    // Reads every file of the listing; root_id empty: the one parent id
    // that no listed file has as its own.
    Tree(const std::vector<std::string> &listings, const std::string &root_id, bool with_trashed);

    // What to fail with once the command is done, when files without a
    // name were left out (each was said); "" otherwise.
    [[nodiscard]] const std::string &left_out() const { return left_out_; }

    // A folder's children as records marked for collisions, as ls --ids
    // shows them (they share the files' texts), kept for the next path
    // through the folder. The root's id is root().
    [[nodiscard]] const std::vector<ostrel_google_metadata_t> &children_of(const std::string &folder_id) const;
    [[nodiscard]] const std::string &root() const { return root_; }

    // One element of a resolved path: the client name and the file.
    struct Step {
        std::string client_name;
        const ostrel_google_metadata_t *file;
    };
    // The files a client path leads through; a path that does not resolve
    // throws Failure with the refusal.
    [[nodiscard]] std::vector<Step> resolve(const std::string &path) const;

private:
    std::vector<File> files_;
    std::unordered_map<std::string, std::vector<size_t>> children_;
    mutable std::unordered_map<std::string, std::vector<ostrel_google_metadata_t>> marked_;
    std::string root_;
    std::string left_out_;
};

[[nodiscard]] bool is_folder(const ostrel_google_metadata_t &file);

}  // namespace ostrel::gdrive

#endif
