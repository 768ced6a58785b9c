// The commands other than ls, each in a file of its own. Each returns its
// exit status or throws Failure; json: one JSON object a line for each row
// of the table it prints otherwise.
#ifndef OSTREL_GDRIVE_COMMANDS_H
#define OSTREL_GDRIVE_COMMANDS_H

#include <string>
#include <vector>

namespace ostrel::gdrive {

int run_in(const std::vector<std::string> &names, bool for_write, bool json);
int run_out(const std::string &name, const std::string &mime_type, const std::string &id, bool json);
int run_split(const std::string &path, bool for_write, bool json);
int run_expand(const std::string &path);
int run_formats(bool json);
// paths_from: a file of paths, one a line ("-" standard input), resolved
// after paths as they are read.
int run_resolve(const std::string &listing, const std::vector<std::string> &paths, const std::string &paths_from,
                const std::string &root, bool json);
int run_query(const std::string &parent, const std::vector<std::string> &names, bool json);

}  // namespace ostrel::gdrive

#endif
