// ostrel-gdrive ls: the names GridFTP clients see for a Drive listing.
#ifndef OSTREL_GDRIVE_LS_H
#define OSTREL_GDRIVE_LS_H

#include <string>
#include <vector>

namespace ostrel::gdrive {

struct LsOptions {
    std::vector<std::string> listings;  // read one after another as one listing
    bool long_format = false;
    bool json = false;
    bool ids = false;
    bool trashed = false;
    std::string path;  // one folder of a tree listing
    std::string root;  // the tree's root folder id
};

void run_ls(const LsOptions &options);

}  // namespace ostrel::gdrive

#endif
