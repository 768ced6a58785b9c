#include "tree.h"

#include <cstring>
#include <set>

#include "output.h"

namespace ostrel::gdrive {

namespace {

std::string file_named(const ostrel_google_metadata_t &file)
{
    return "\"" + shown(file.name) + "\" (" + shown(file.id) + ")";
}

// Folders that are their own ancestors make paths through them go on
// forever; each cycle is said once, the first five in full. The walk up the
// parents is iterative: a tree may be deeper than the stack allows.
void warn_cycles(const std::string &listing, const std::vector<File> &files,
                 const std::unordered_map<std::string_view, size_t> &index_of)
{
    enum : unsigned char { unseen, on_walk, done };
    std::vector<unsigned char> state(files.size(), unseen);
    struct Frame {
        size_t file;
        size_t next_parent;
    };
    std::vector<Frame> walk;
    size_t cycles = 0;
    for (size_t start = 0; start < files.size(); ++start) {
        if (state[start] != unseen) {
            continue;
        }
        walk.push_back({start, 0});
        state[start] = on_walk;
        while (!walk.empty()) {
            Frame &frame = walk.back();
            const ostrel_google_metadata_t &m = files[frame.file].metadata;
            if (frame.next_parent == m.parent_count) {
                state[frame.file] = done;
                walk.pop_back();
                continue;
            }
            const auto parent = index_of.find(m.parents[frame.next_parent++]);
            if (parent == index_of.end() || state[parent->second] == done) {
                continue;
            }
            if (state[parent->second] == unseen) {
                state[parent->second] = on_walk;
                walk.push_back({parent->second, 0});
                continue;
            }
            if (++cycles > 5) {
                continue;
            }
            size_t from = walk.size() - 1;
            while (walk[from].file != parent->second) {
                --from;
            }
            std::string text;
            for (size_t i = from; i < walk.size() && i < from + 5; ++i) {
                text += file_named(files[walk[i].file].metadata) + " in ";
            }
            text += walk.size() - from > 5 ? "... in " : "";
            text += file_named(files[parent->second].metadata);
            say(listing + ": warning: a parent cycle: " + text + "; paths through it go on forever");
        }
    }
    if (cycles > 5) {
        say(listing + ": warning: " + std::to_string(cycles - 5) + " more parent cycles");
    }
}

}  // namespace

bool is_folder(const ostrel_google_metadata_t &file)
{
    return ostrel_google_drive_kind(&file, nullptr) == OSTREL_GOOGLE_DRIVE_KIND_FOLDER;
}

Tree::Tree(const std::vector<std::string> &listings, const std::string &root_id, bool with_trashed)
{
    Listing listing;
    std::string error;
    if (!listing.open(listings, &error)) {
        throw Failure{exit_refused, error};
    }
    FileReader reader(listing);
    File file;
    // The ids point into the files' own texts, which stay put.
    std::unordered_map<std::string_view, size_t> index_of;
    while (reader.next(&file, with_trashed)) {
        const char *id = file.metadata.id;
        if (id != nullptr && !index_of.emplace(id, files_.size()).second) {
            say(listing.where() + ": warning: file " + shown(id) + " is listed twice; this one is left out");
            continue;
        }
        files_.push_back(std::move(file));
    }
    left_out_ = finish_listing(listing, reader);
    for (size_t i = 0; i < files_.size(); ++i) {
        const ostrel_google_metadata_t &m = files_[i].metadata;
        for (size_t p = 0; p < m.parent_count; ++p) {
            children_[m.parents[p]].push_back(i);
        }
    }
    warn_cycles(listing.name(), files_, index_of);
    if (!root_id.empty()) {
        // A root is a parent of listed files, or a listed folder (maybe empty).
        const auto listed = index_of.find(root_id);
        if (listed != index_of.end() && !is_folder(files_[listed->second].metadata)) {
            throw Failure{exit_refused, listing.name() + ": --root " + shown(root_id) + ": "
                                            + file_named(files_[listed->second].metadata) + " is not a folder"};
        }
        if (listed == index_of.end() && children_.find(root_id) == children_.end()) {
            throw Failure{exit_refused, listing.name() + ": --root " + shown(root_id)
                                            + ": no listed file has this id or this parent"};
        }
        root_ = root_id;
        return;
    }
    std::set<std::string> roots;
    for (const auto &[parent, children] : children_) {
        if (index_of.find(parent) == index_of.end()) {
            roots.insert(parent);
        }
    }
    if (roots.size() != 1) {
        // A whole account's listing has a root per shared file: a count and
        // a few of them say enough.
        std::string which;
        size_t named = 0;
        for (auto root = roots.begin(); root != roots.end() && named < 5; ++root, ++named) {
            which += (which.empty() ? "" : ", ") + shown(*root);
        }
        which += roots.size() > named ? ", ..." : "";
        throw Failure{exit_refused, listing.name()
                                        + (roots.empty() ? ": no root: every parent is a listed file; choose one with "
                                                           "--root"
                                                         : ": " + std::to_string(roots.size()) + " roots (" + which
                                                               + "); --root ID picks the one to walk")};
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
