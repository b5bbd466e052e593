// Exact outputs of wsq1 for real fingerprints, and the exact pixels the
// library decodes from them, kept as lengths and SHA-256 digests in
// golden.tsv beside this file, so that no change of a single byte goes
// unnoticed; the library's encoder must write the same bytes for the same
// pixels and settings, and so must the library's calls with any number of
// threads. After an intended change, WSQ_UPDATE_GOLDEN=1
// rewrites the length and digests of every row (a new row may hold "-" in
// their place).
#include "support.h"

#include "libwsq.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace cli {
namespace {

std::vector<std::string> fields(const std::string &line, char separator)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);)
        if (separator != ' ' || !field.empty())
            out.push_back(field);
    return out;
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
    ui8 *stream = nullptr;
    size_t size = 0;
    wsq_error error;
    EXPECT_EQ(wsq_encode(&stream, &size, &error, (const ui8 *)pixels.data(), pixels.size(), width,
                         height, &options),
              WSQ_OK)
        << error.message;
    std::string bytes((const char *)stream, size);
    wsq_free(stream);
    return bytes;
}

class Golden : public Wsq1Test {
protected:
    std::string sha256(const std::string &bytes) const
    {
        RunOptions input;
        input.stdin_bytes = bytes;
        return run("/usr/bin/sha256sum", {}, dir.path(), input).out.substr(0, 64);
    }

    std::string sha256_of_pixels(const std::string &stream) const  // as the library decodes them
    {
        wsq_error error;
        std::string pixels = decoded_pixels(stream, error);
        EXPECT_FALSE(pixels.empty()) << error.message;
        return sha256(pixels);
    }
};

TEST_F(Golden, OutputsAndTheirDecodedPixelsAreUnchanged)
{
    const std::string table_path = test_data("../cli/golden.tsv");
    const bool update = std::getenv("WSQ_UPDATE_GOLDEN") && std::string(std::getenv("WSQ_UPDATE_GOLDEN")) == "1";
    std::string table;  // as an update rewrites it
    for (const std::string &line : lines(read_file(table_path))) {
        // name, image (NAME or NAME@X,Y,WxH, a part of it), arguments, length, digests of stream and pixels
        const std::vector<std::string> f = fields(line, '\t');
        if (line.empty() || line[0] == '#') {
            table += line + "\n";
            continue;
        }
        ASSERT_EQ(f.size(), 6u) << "a golden row of six tab-separated fields: " << line;
        SCOPED_TRACE(f[0]);
        const BundledImage &source = bundled(f[1].substr(0, f[1].find('@')));
        int x = 0, y = 0, w = source.width, h = source.height;
        if (f[1].find('@') != std::string::npos) {
            ASSERT_EQ(std::sscanf(f[1].c_str() + f[1].find('@'), "@%d,%d,%dx%d", &x, &y, &w, &h), 4);
        }
        const std::string pixels = crop(source.pixels(), source.width, x, y, w, h);
        wsq_error error;
        write("in.raw", pixels);
        std::vector<std::string> args = fields(f[2], ' ');
        args.push_back("in.raw");
        Outcome run = wsq1(args);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string decoded = decoded_pixels(run.out, error);
        for (int threads : {1, 2, 3, 8}) {
            EXPECT_TRUE(library_stream(pixels, w, h, args, threads) == run.out) << threads;
            EXPECT_TRUE(decoded_pixels(run.out, error, WSQ_DEFAULT_MAX_PIXELS, threads) == decoded) << threads;
        }
        ASSERT_EQ(parsed(run.out).size(), 1u);
        ASSERT_EQ(summaries(run.err).size(), 1u);  // it counts every byte of the stream
        EXPECT_EQ(summaries(run.err)[0].bytes, (long)run.out.size());
        EXPECT_EQ(summaries(run.err)[0].compression, format("%5.1f", (float)(w * h) / (float)run.out.size()));
        const std::string now =
            std::to_string(run.out.size()) + "\t" + sha256(run.out) + "\t" + sha256_of_pixels(run.out);
        EXPECT_TRUE(update || now == f[3] + "\t" + f[4] + "\t" + f[5]) << now;
        table += f[0] + "\t" + f[1] + "\t" + f[2] + "\t" + now + "\n";
    }
    if (update)
        write_file(table_path, table);
    // The stream of another encoder decodes to the same pixels every time.
    EXPECT_EQ(sha256_of_pixels(read_file(test_data("wsq-original.wsq"))),
              "e931963e467408dcab345bc2cf2daec9ceaf2ed6d8db0859373993b45ab84912");
}

}  // namespace
}  // namespace cli
