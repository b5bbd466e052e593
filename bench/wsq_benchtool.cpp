// Helper of the benchmark scripts.
//
//     wsq_benchtool mosaic WIDTH HEIGHT OUT.raw
//         a WIDTH x HEIGHT mosaic of the bundled fingerprints (see images.h)
//     wsq_benchtool pgm IN.raw WIDTH HEIGHT OUT.pgm
//         raw pixels with a binary PGM header
//     wsq_benchtool psnr ORIGINAL.raw WIDTH HEIGHT DECODED
//         peak signal-to-noise ratio in dB of DECODED (raw, or binary PGM of
//         the same size) against the original; "inf" when they are equal
//     wsq_benchtool encode IN.raw WIDTH HEIGHT OUT.wsq [THREADS [RATE]]
//         one wsq_encode() of raw pixels with THREADS threads (1; 0: one per
//         core) at RATE bits per pixel (0.75), so that the library encoder's
//         time and memory can be measured as a whole process's (wsq1 has one
//         thread)
//     wsq_benchtool time IN.raw WIDTH HEIGHT RUNS
//         "encode MS decode MS": the median processor milliseconds of RUNS
//         wsq_encode() and wsq_decode() calls on the pixels, one thread,
//         within the process (js/bench.mjs sets them beside the WebAssembly
//         build's)
#include "images.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const std::string &message)
{
    std::fprintf(stderr, "wsq_benchtool: %s\n", message.c_str());
    std::exit(1);
}

int usage()
{
    std::fprintf(stderr,
                 "usage: wsq_benchtool mosaic WIDTH HEIGHT OUT.raw\n"
                 "       wsq_benchtool pgm IN.raw WIDTH HEIGHT OUT.pgm\n"
                 "       wsq_benchtool psnr ORIGINAL.raw WIDTH HEIGHT DECODED\n"
                 "       wsq_benchtool encode IN.raw WIDTH HEIGHT OUT.wsq [THREADS [RATE]]\n"
                 "       wsq_benchtool time IN.raw WIDTH HEIGHT RUNS\n");
    return 2;
}

std::vector<ui8> read_all(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        die(std::string("cannot read ") + path);
    return std::vector<ui8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The count pixels of a raw file read as wsq1 reads them: at once, into
// memory in huge pages, so that the process's time compares with wsq1's.
std::unique_ptr<ui8, decltype(&std::free)> read_raw(const char *path, size_t count)
{
    std::unique_ptr<ui8, decltype(&std::free)> pixels((ui8 *)imagebuffer(count), std::free);
    std::FILE *file = std::fopen(path, "rb");
    bool read = pixels && file && std::fread(pixels.get(), 1, count, file) == count;
    if (file)
        std::fclose(file);
    if (!read)
        die(std::string("cannot read ") + std::to_string(count) + " pixels from " + path);
    return pixels;
}

void write_all(const char *path, const std::string &header, const ui8 *bytes, size_t size)
{
    std::ofstream out(path, std::ios::binary);
    out << header;
    out.write((const char *)bytes, (std::streamsize)size);
    if (!out.flush())
        die(std::string("cannot write ") + path);
}

void write_all(const char *path, const std::string &header, const std::vector<ui8> &pixels)
{
    write_all(path, header, pixels.data(), pixels.size());
}

int dimension(const char *text)
{
    int n = std::atoi(text);
    if (n < 1 || n > 32767)
        die(std::string("bad dimension ") + text);
    return n;
}

// The pixels of a binary 8-bit PGM, or of raw bytes when there is no header.
std::vector<ui8> read_pixels(const char *path, size_t count)
{
    std::vector<ui8> bytes = read_all(path);
    if (bytes.size() == count)
        return bytes;
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '5')
        die(std::string(path) + " is neither raw pixels of the size nor a binary PGM");
    // P5, width, height, maxval, each after white space (and comments), then
    // one white-space byte and the pixels.
    size_t at = 2;
    for (int field = 0; field < 3; ++field) {
        for (;;) {
            while (at < bytes.size() && std::strchr(" \t\r\n", bytes[at]))
                ++at;
            if (at < bytes.size() && bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n')
                    ++at;
                continue;
            }
            break;
        }
        while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9')
            ++at;
    }
    ++at;
    if (bytes.size() < at || bytes.size() - at != count)
        die(std::string(path) + " does not hold the original's number of pixels");
    return std::vector<ui8>(bytes.begin() + (std::ptrdiff_t)at, bytes.end());
}

// The median processor milliseconds of runs calls of call(): on a shared
// machine, what a call costs, whatever else runs.
template <class Call>
double median_ms(int runs, const Call &call)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        std::clock_t start = std::clock();
        call();
        times.push_back(1000.0 * (double)(std::clock() - start) / CLOCKS_PER_SEC);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Prints the median times of encoding the pixels and decoding their stream.
void time_calls(const ui8 *pixels, int width, int height, int runs)
{
    size_t count = (size_t)width * height;
    ui8 *stream = nullptr, *decoded = nullptr;
    size_t size = 0;
    wsq_error error;
    wsq_info info;
    double encode = median_ms(runs, [&] {
        wsq_free(stream);
        if (wsq_encode(&stream, &size, &error, pixels, count, width, height, nullptr) != WSQ_OK)
            die(std::string("wsq_encode: ") + error.message);
    });
    double decode = median_ms(runs, [&] {
        wsq_free(decoded);
        if (wsq_decode(&decoded, &info, &error, stream, size, nullptr) != WSQ_OK)
            die(std::string("wsq_decode: ") + error.message);
    });
    wsq_free(stream);
    wsq_free(decoded);
    std::printf("encode %.3f decode %.3f\n", encode, decode);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && std::strcmp(argv[1], "mosaic") == 0) {
        int width = dimension(argv[2]), height = dimension(argv[3]);
        write_all(argv[4], "", wsqbench::fingerprint_mosaic(width, height));
        return 0;
    }
    if (argc == 6 && std::strcmp(argv[1], "pgm") == 0) {
        int width = dimension(argv[3]), height = dimension(argv[4]);
        std::vector<ui8> pixels = read_all(argv[2]);
        if (pixels.size() != (size_t)width * (size_t)height)
            die(std::string(argv[2]) + " does not hold " + argv[3] + "x" + argv[4] + " pixels");
        write_all(argv[5], "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n",
                  pixels);
        return 0;
    }
    if (argc == 6 && std::strcmp(argv[1], "psnr") == 0) {
        size_t count = (size_t)dimension(argv[3]) * (size_t)dimension(argv[4]);
        std::vector<ui8> original = read_pixels(argv[2], count);
        std::vector<ui8> decoded = read_pixels(argv[5], count);
        double squares = 0;
        for (size_t i = 0; i < count; ++i) {
            double e = (double)original[i] - decoded[i];
            squares += e * e;
        }
        if (squares == 0)
            std::printf("inf\n");
        else
            std::printf("%.2f\n", 10 * std::log10(255.0 * 255.0 * (double)count / squares));
        return 0;
    }
    if (argc >= 6 && argc <= 8 && std::strcmp(argv[1], "encode") == 0) {
        int width = dimension(argv[3]), height = dimension(argv[4]);
        size_t count = (size_t)width * height;
        auto pixels = read_raw(argv[2], count);
        wsq_encode_options options;
        wsq_encode_defaults(&options);
        options.threads = argc >= 7 ? std::atoi(argv[6]) : 1;
        if (argc == 8)
            options.bitrate = std::atof(argv[7]);
        ui8 *stream = nullptr;
        size_t size = 0;
        wsq_error error;
        if (wsq_encode(&stream, &size, &error, pixels.get(), count, width, height,
                       &options) != WSQ_OK)
            die(std::string("wsq_encode: ") + error.message);
        write_all(argv[5], "", stream, size);
        wsq_free(stream);
        return 0;
    }
    if (argc == 6 && std::strcmp(argv[1], "time") == 0) {
        int width = dimension(argv[3]), height = dimension(argv[4]);
        time_calls(read_raw(argv[2], (size_t)width * height).get(), width, height,
                   std::max(1, std::atoi(argv[5])));
        return 0;
    }
    return usage();
}
