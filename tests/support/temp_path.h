// Test support: files of one test process, in a folder of its own that goes
// when the process ends, so that runs side by side (two checkouts, parallel
// ctest) never share a file.
#ifndef OSTREL_TESTS_TEMP_PATH_H
#define OSTREL_TESTS_TEMP_PATH_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace ostrel::test {

inline std::string temp_path(const std::string &name)
{
    struct Folder {
        Folder() : owner(getpid()), path(::testing::TempDir() + "ostrel-tests-" + std::to_string(owner) + "/")
        {
            std::filesystem::create_directories(path);
        }
        ~Folder()
        {
            // A forked death-test child exits too; only the owner cleans up.
            if (getpid() == owner) {
                std::error_code ignored;
                std::filesystem::remove_all(path, ignored);
            }
        }
        pid_t owner;
        std::string path;
    };
    static const Folder folder;
    return folder.path + name;
}

}  // namespace ostrel::test

#endif
