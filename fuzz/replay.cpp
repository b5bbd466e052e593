// Runs a fuzz target once over each file named, or each file of each
// directory named, without libFuzzer: the seed corpora and regression inputs
// as an ordinary test. A finding aborts the run; a path that cannot be read
// is an error.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace fs = std::filesystem;

namespace {

bool replay(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    // Exactly the input's size, so that reads past it are caught.
    std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay: %s\n", file.c_str());
    LLVMFuzzerTestOneInput(input.data(), input.size());
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    int files = 0;
    bool ok = argc > 1;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (fs::is_directory(argv[i], error)) {
            std::vector<fs::path> paths;
            for (const fs::directory_entry &entry : fs::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    paths.push_back(entry.path());
            std::sort(paths.begin(), paths.end());
            for (const fs::path &path : paths) {
                ok = replay(path) && ok;
                ++files;
            }
        } else {
            ok = replay(argv[i]) && ok;
            ++files;
        }
    }
    std::fprintf(stderr, "replay: %d inputs\n", files);
    return ok ? 0 : 1;
}
