#include "tree.h"

#include <cstring>
#include <set>
#include <unordered_set>

#include "output.h"

namespace ostrel::gdrive {

bool is_folder(const ostrel_google_metadata_t &file)
{
    return file.mime_type != nullptr && std::strcmp(file.mime_type, "application/vnd.google-apps.folder") == 0;
}

Tree::Tree(const std::string &listing_path, const std::string &root_id, bool with_trashed)
{
    Listing listing;
    std::string error;
    if (!listing.open(listing_path, &error)) {
        throw Failure{exit_refused, error};
    }
    FileReader reader(listing);
    File file;
    while (reader.next(&file, with_trashed)) {
        files_.push_back(std::move(file));
    }
    finish_listing(listing, reader);
    std::unordered_set<std::string_view> own_ids;
    for (size_t i = 0; i < files_.size(); ++i) {
        const ostrel_google_metadata_t &m = files_[i].metadata;
        if (m.id != nullptr) {
            own_ids.insert(m.id);
        }
        for (size_t p = 0; p < m.parent_count; ++p) {
            children_[m.parents[p]].push_back(i);
        }
    }
    if (!root_id.empty()) {
        root_ = root_id;
        return;
    }
    std::set<std::string> roots;
    for (const auto &[parent, children] : children_) {
        if (own_ids.find(parent) == own_ids.end()) {
            roots.insert(parent);
        }
    }
    if (roots.size() != 1) {
        std::string which;
        for (const std::string &root : roots) {
            which += (which.empty() ? "" : ", ") + shown(root);
        }
        throw Failure{exit_refused, listing.name()
                                        + (roots.empty() ? ": no root: every parent is a listed file; choose one with "
                                                           "--root"
                                                         : ": several roots (" + which + "); choose one with --root")};
    }
    root_ = *roots.begin();
}

const std::vector<ostrel_google_metadata_t> &Tree::children_of(const std::string &folder_id) const
{
    const auto cached = marked_.find(folder_id);
    if (cached != marked_.end()) {
        return cached->second;
    }
    std::vector<ostrel_google_metadata_t> children;
    const auto found = children_.find(folder_id);
    if (found != children_.end()) {
        children.reserve(found->second.size());
        for (const size_t i : found->second) {
            children.push_back(files_[i].metadata);
        }
    }
    const ostrel_result_t marked = ostrel_google_drive_mark_collisions(children.data(), children.size());
    if (marked != OSTREL_SUCCESS) {
        throw Failure{exit_refused, "cannot mark the names of folder " + shown(folder_id) + ": " + refusal(marked)};
    }
    return marked_.emplace(folder_id, std::move(children)).first->second;
}

std::vector<Tree::Step> Tree::resolve(const std::string &path) const
{
    std::vector<Step> steps;
    std::string folder = root_;
    std::string walked;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('/', start);
        end = end == std::string::npos ? path.size() : end;
        const std::string element = path.substr(start, end - start);
        start = end + 1;
        if (element.empty()) {
            continue;
        }
        if (!steps.empty() && !is_folder(*steps.back().file)) {
            throw Failure{exit_refused, "\"" + shown(path) + "\": \"" + shown(walked) + "\" is not a folder"};
        }
        walked += "/" + element;
        const std::vector<ostrel_google_metadata_t> &children = children_of(folder);
        size_t index = 0;
        const ostrel_result_t result =
            ostrel_google_drive_lookup(element.c_str(), children.data(), children.size(), &index);
        if (result != OSTREL_SUCCESS) {
            throw Failure{exit_refused, "\"" + shown(path) + "\": " + refusal(result) + " (at \"" + shown(walked)
                                            + "\")"};
        }
        const ostrel_google_metadata_t *file = &children[index];
        steps.push_back({client_name_of(*file), file});
        folder = file->id != nullptr ? file->id : "";
    }
    return steps;
}

}  // namespace ostrel::gdrive
