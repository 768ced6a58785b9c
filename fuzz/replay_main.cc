// Runs a fuzz target over files and folders of inputs, as an ordinary
// program: the corpora are replayed by the test suite without libFuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

size_t replay(const std::string &path)
{
    struct stat info = {};
    if (stat(path.c_str(), &info) != 0) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 0;
    }
    if (S_ISDIR(info.st_mode)) {
        size_t count = 0;
        if (DIR *dir = opendir(path.c_str())) {
            while (const dirent *entry = readdir(dir)) {
                if (entry->d_name[0] != '.') {
                    count += replay(path + "/" + entry->d_name);
                }
            }
            closedir(dir);
        }
        return count;
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        count += replay(argv[i]);
    }
    std::printf("replayed %zu inputs\n", count);
    return count > 0 ? 0 : 1;
}
