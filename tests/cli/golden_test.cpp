// Exact outputs of wsq1 for real fingerprints, and the exact pixels the
// library decodes from them, kept as lengths and SHA-256 digests in
// golden.tsv beside this file, so that no change of a single byte goes
// unnoticed; the library's encoder must write the same bytes for the same
// pixels and settings, and its decoder give the same pixels, with any number
// of threads (shown on a mosaic large enough for eight). After an intended change, WSQ_UPDATE_GOLDEN=1 rewrites the
// length and digests of every row (a new row may hold "-" in their place). WSQ_GOLDEN_IMAGES="NAME ..." checks
// only the rows of those bundled images (the quick tier).
#include "library_calls.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

namespace {

const std::string data = WSQ_TEST_DATA;

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> fields(const std::string &line, char separator)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);)
        if (separator != ' ' || !field.empty())
            out.push_back(field);
    return out;
}

// An argument as one word of the shell that popen runs, and that shell's way
// to discard standard error.
#if defined(_WIN32)
std::string word(const std::string &arg) { return "\"" + arg + "\""; }
const char quiet[] = " 2>NUL";
#else
std::string word(const std::string &arg) { return "'" + arg + "'"; }
const char quiet[] = " 2>/dev/null";
#endif

// What wsq1 writes on standard output with these arguments; it must end with
// status 0.
std::string wsq1_output(const std::string &args)
{
#if defined(_WIN32)
    // The command's own quotes survive the shell only inside a pair of its own.
    std::FILE *pipe = _popen(("\"" + std::string(WSQ1_PATH) + args + quiet + "\"").c_str(), "rb");
#else
    std::FILE *pipe = popen((WSQ1_PATH + args + quiet).c_str(), "r");
#endif
    std::string out;
    char buffer[65536];
    for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    EXPECT_TRUE(pipe && pclose(pipe) == 0) << args;
    return out;
}

// The bundled images' sizes, from tests/data/MANIFEST.tsv.
std::map<std::string, std::pair<int, int>> bundled_sizes()
{
    std::map<std::string, std::pair<int, int>> sizes;
    std::istringstream manifest(read_file(data + "/MANIFEST.tsv"));
    std::string line;
    for (std::getline(manifest, line); std::getline(manifest, line);) {
        const std::vector<std::string> f = fields(line, '\t');
        sizes[f.at(0)] = {std::stoi(f.at(1)), std::stoi(f.at(2))};
    }
    return sizes;
}

// What wsq_encode writes for the pixels with wsq1's options -Z, -S and -c.
std::string library_stream(const std::string &pixels, int width, int height,
                           const std::vector<std::string> &args, int threads)
{
    wsq_encode_options options;
    wsq_encode_defaults(&options);
    options.threads = threads;
    for (const std::string &arg : args) {
        if (arg.compare(0, 2, "-Z") == 0)
            options.bitrate = std::stod(arg.substr(2));
        else if (arg.compare(0, 2, "-S") == 0)
            std::sscanf(arg.c_str(), "-S%d,%d", &options.black, &options.white);
        else if (arg.compare(0, 2, "-c") == 0)
            options.comment = arg.c_str() + 2;
    }
    uint8_t *stream = nullptr;
    size_t size = 0;
    wsq_error error;
    EXPECT_EQ(wsq_encode(&stream, &size, &error, (const uint8_t *)pixels.data(), pixels.size(), width, height,
                         &options),
              WSQ_OK)
        << error.message;
    std::string bytes((const char *)stream, size);
    wsq_free(stream);
    return bytes;
}

std::string decoded_pixels(const std::string &stream, int threads)
{
    const decoding d = decode(stream, threads);
    EXPECT_EQ(d.status, WSQ_OK) << d.error.message;
    return d.pixels;
}

class Golden : public ::testing::Test {
protected:
    Golden()
    {
        std::filesystem::path room = std::filesystem::temp_directory_path() /
                                     ("wsq_golden." + std::to_string(std::random_device()()));
        dir = std::filesystem::create_directory(room) ? room.string() : "";
    }
    ~Golden() override { std::filesystem::remove_all(dir); }

    std::string dir;
};

TEST_F(Golden, OutputsAndTheirDecodedPixelsAreUnchanged)
{
    ASSERT_FALSE(dir.empty());
    const std::string table_path = data + "/../cli/golden.tsv";
    const bool update = std::getenv("WSQ_UPDATE_GOLDEN") && std::string(std::getenv("WSQ_UPDATE_GOLDEN")) == "1";
    const auto sizes = bundled_sizes();
    const char *only = std::getenv("WSQ_GOLDEN_IMAGES");
    const std::vector<std::string> images = fields(only ? only : "", ' ');
    std::string table;  // as an update rewrites it
    int checked = 0;
    std::istringstream rows(read_file(table_path));
    for (std::string line; std::getline(rows, line);) {
        if (line.empty() || line[0] == '#') {
            table += line + "\n";
            continue;
        }
        // name, image (NAME or NAME@X,Y,WxH, a part of it), arguments, length, digests of stream and pixels
        const std::vector<std::string> f = fields(line, '\t');
        ASSERT_EQ(f.size(), 6u) << "a golden row of six tab-separated fields: " << line;
        SCOPED_TRACE(f[0]);
        const std::string name = f[1].substr(0, f[1].find('@'));
        if (only && std::find(images.begin(), images.end(), name) == images.end()) {
            table += line + "\n";
            continue;
        }
        const auto [width, height] = sizes.at(name);
        int x = 0, y = 0, w = width, h = height;
        if (f[1].find('@') != std::string::npos) {
            ASSERT_EQ(std::sscanf(f[1].c_str() + f[1].find('@'), "@%d,%d,%dx%d", &x, &y, &w, &h), 4);
        }
        const std::string image = read_file(data + "/" + name + ".raw");
        std::string pixels;
        for (int row = y; row < y + h; ++row)
            pixels += image.substr((size_t)row * width + x, (size_t)w);
        write_file(dir + "/in.raw", pixels);
        std::string words;
        const std::vector<std::string> args = fields(f[2], ' ');
        for (const std::string &arg : args)
            words += " " + word(arg);
        const std::string stream = wsq1_output(words + " " + word(dir + "/in.raw"));
        const std::string decoded = decoded_pixels(stream, 1);
        EXPECT_TRUE(library_stream(pixels, w, h, args, 1) == stream);
        const std::string now = std::to_string(stream.size()) + "\t" + sha256_hex(stream) + "\t" + sha256_hex(decoded);
        EXPECT_TRUE(update || now == f[3] + "\t" + f[4] + "\t" + f[5]) << now;
        table += f[0] + "\t" + f[1] + "\t" + f[2] + "\t" + now + "\n";
        ++checked;
    }
    EXPECT_GT(checked, 0) << "no golden row of the images in WSQ_GOLDEN_IMAGES";
    if (update)
        write_file(table_path, table);
    // The stream of another encoder decodes to the same pixels every time.
    EXPECT_EQ(sha256_hex(decoded_pixels(read_file(data + "/wsq-original.wsq"), 1)),
              "e931963e467408dcab345bc2cf2daec9ceaf2ed6d8db0859373993b45ab84912");
}

// A call takes a thread for each half megapixel at most: 2048 x 1024 pixels
// (tiles of a print, each shifted so that no two are alike) keep four busy.
TEST_F(Golden, AnyNumberOfThreadsGivesTheSameBytesAndPixels)
{
    ASSERT_FALSE(dir.empty());
    const std::string print = read_file(data + "/sd04_f0001_01.raw");
    const int width = 2048, height = 1024, tile = 512;
    std::string pixels(width * height, 0);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            pixels[r * width + c] = print[(r % tile * tile + c % tile + (r / tile * 4 + c / tile) * 37) % print.size()];
    write_file(dir + "/mosaic.raw", pixels);
    const std::string stream = wsq1_output(" -r2048,1024 " + word(dir + "/mosaic.raw"));
    const std::string decoded = decoded_pixels(stream, 1);
    for (int threads : {1, 2, 3, 8}) {
        EXPECT_TRUE(library_stream(pixels, width, height, {}, threads) == stream) << threads << " threads";
        EXPECT_TRUE(decoded_pixels(stream, threads) == decoded) << threads << " threads";
    }
}

}  // namespace
