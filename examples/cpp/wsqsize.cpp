// wsqsize: decodes each WSQ file named on the command line with libwsq and
// prints the size of every image in it (a file may hold several streams back
// to back). Exit status: 0 when every file decoded, 1 otherwise.
//
// Build it against an installed libwsq with the CMakeLists.txt beside it:
//     cmake -S examples/cpp -B build-example-cpp -DCMAKE_PREFIX_PATH=/usr/local
//     cmake --build build-example-cpp
// or with pkg-config:
//     c++ -std=c++17 wsqsize.cpp $(pkg-config --cflags --libs wsq) -o wsqsize
#include <wsq.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs("usage: wsqsize FILE...\n", stderr);
        return 1;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
        if (!file || bytes.empty()) {
            std::fprintf(stderr, "wsqsize: %s: cannot read it, or it is empty\n", argv[i]);
            status = 1;
            continue;
        }
        wsq_info info;
        for (size_t at = 0; at < bytes.size(); at += info.stream_bytes) {
            std::uint8_t *pixels = nullptr;
            wsq_error error;
            int result = wsq_decode(&pixels, &info, &error, bytes.data() + at, bytes.size() - at,
                                    nullptr);
            if (result != WSQ_OK) {
                std::fprintf(stderr, "wsqsize: %s: %s at byte %zu: %s\n", argv[i],
                             wsq_strerror(result), at + error.offset, error.message);
                status = 1;
                break;
            }
            std::printf("%s: %d x %d pixels, %zu bytes\n", argv[i], info.width, info.height,
                        info.stream_bytes);
            wsq_free(pixels);
        }
    }
    return status;
}
