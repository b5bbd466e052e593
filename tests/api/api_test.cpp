// The whole-image calls of wsq.h: how the encoder refuses what it cannot
// code, the decoder's caller-owned buffer and comments, and any number of
// threads encoding and decoding at once.
#include "wsq.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct image {
    std::string pixels;
    int width, height;
};

image bundled(const char *name, int width, int height)
{
    std::ifstream file(std::string(WSQ_TEST_DATA) + "/" + name + ".raw", std::ios::binary);
    return {{std::istreambuf_iterator<char>(file), {}}, width, height};
}

const image &fingerprint()
{
    static const image sd04 = bundled("sd04_f0001_01", 512, 512);
    return sd04;
}

struct encoding {
    int status;
    std::string stream;
    wsq_error error;
};

encoding encode(const std::string &pixels, int width, int height,
                const wsq_encode_options *options = nullptr, size_t size = std::string::npos)
{
    encoding e;
    uint8_t *stream = nullptr;
    size_t length = 1;
    e.status = wsq_encode(&stream, &length, &e.error, (const uint8_t *)pixels.data(),
                          std::min(size, pixels.size()), width, height, options);
    EXPECT_EQ(e.status, e.error.status);
    EXPECT_EQ(stream == nullptr, e.status != WSQ_OK);
    EXPECT_EQ(length == 0, e.status != WSQ_OK);
    e.stream.assign((const char *)stream, stream ? length : 0);
    wsq_free(stream);
    return e;
}

std::string decode(const std::string &stream, wsq_info *info = nullptr, int threads = 1,
                   int reduce = 1)
{
    uint8_t *pixels = nullptr;
    wsq_info facts;
    wsq_error error;
    wsq_decode_options options;
    wsq_decode_defaults(&options);
    options.threads = threads;
    options.reduce = reduce;
    EXPECT_EQ(wsq_decode(&pixels, &facts, &error, (const uint8_t *)stream.data(), stream.size(),
                         &options),
              WSQ_OK)
        << error.message;
    size_t count = (size_t)WSQ_REDUCED_SIZE(facts.width, reduce) * WSQ_REDUCED_SIZE(facts.height, reduce);
    std::string out((const char *)pixels, pixels ? count : 0);
    wsq_free(pixels);
    if (info)
        *info = facts;
    return out;
}

TEST(Encode, RefusalsGiveAStatusAMessageAndNoStream)
{
    const image &sd04 = fingerprint();
    const std::string flat(100 * 100, '\7'), small(80 * 80, '\0');
    struct row {
        const char *what;
        const std::string &pixels;
        int width, height;
        void (*set)(wsq_encode_options &);
        size_t size;
        int status;
        const char *message;
    } rows[] = {
        {"width 31", flat, 31, 100, nullptr, std::string::npos, WSQ_ERR_ARGUMENT,
         "image of 100 lines by 31 samples: width and height must be 32 to 32767"},
        {"height 32768", flat, 32, 32768, nullptr, std::string::npos, WSQ_ERR_ARGUMENT,
         "image of 32768 lines by 32 samples: width and height must be 32 to 32767"},
        {"a short buffer", sd04.pixels, 512, 512, nullptr, 512 * 512 - 1, WSQ_ERR_ARGUMENT,
         "a buffer of 262143 bytes holds fewer than the 262144 pixels of the image"},
        {"a calibration of 256", sd04.pixels, 512, 512, [](wsq_encode_options &o) { o.white = 256; },
         std::string::npos, WSQ_ERR_ARGUMENT, "scanner calibrations A=0 and B=256: each must be 0 to 255"},
        {"a comment of 65534 bytes", sd04.pixels, 512, 512,
         [](wsq_encode_options &o) {
             static const std::string text(65534, 'c');
             o.comment = text.c_str();
         },
         std::string::npos, WSQ_ERR_ARGUMENT, "comment longer than 65533 bytes"},
        {"80 x 80", small, 80, 80, nullptr, std::string::npos, WSQ_ERR_IMAGE,
         "image of 80 lines by 80 samples too small for the subband variances"},
        {"a flat image", flat, 100, 100, nullptr, std::string::npos, WSQ_ERR_IMAGE,
         "every pixel has the value 7, nothing to compress"},
        {"a calibration of -1", sd04.pixels, 512, 512, [](wsq_encode_options &o) { o.black = -1; },
         std::string::npos, WSQ_ERR_ARGUMENT, "scanner calibrations A=-1 and B=255: each must be 0 to 255"},
        {"257 threads", sd04.pixels, 512, 512, [](wsq_encode_options &o) { o.threads = WSQ_MAX_THREADS + 1; },
         std::string::npos, WSQ_ERR_ARGUMENT, "257 threads: give 0 (one per core) to 256"},
        {"bit rate NaN", sd04.pixels, 512, 512, [](wsq_encode_options &o) { o.bitrate = NAN; },
         std::string::npos, WSQ_ERR_BITRATE, "bit rate nan out of range: no usable quality factor"},
        {"bit rate 1e9", sd04.pixels, 512, 512, [](wsq_encode_options &o) { o.bitrate = 1e9; },
         std::string::npos, WSQ_ERR_BITRATE, "bit rate 1e+09 out of range: no usable quality factor"},
        {"bit rate 0", sd04.pixels, 512, 512, [](wsq_encode_options &o) { o.bitrate = 0; },
         std::string::npos, WSQ_ERR_BITRATE,
         "bit rate 0 leaves no active subbands after wavelet packet transform"},
        {"bit rate 20", sd04.pixels, 512, 512, [](wsq_encode_options &o) { o.bitrate = 20; },
         std::string::npos, WSQ_ERR_BITRATE,
         "bit rate 20 too high: a coefficient of subband 0 needs more than 65535 bins"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        wsq_encode_options options;
        wsq_encode_defaults(&options);
        if (r.set)
            r.set(options);
        encoding e = encode(r.pixels, r.width, r.height, &options, r.size);
        EXPECT_EQ(e.status, r.status);
        EXPECT_STREQ(e.error.message, r.message);
    }
}

// Which rates at or below 0 are honoured depends on the image: sd04's 0 is
// refused above, while a ramp still gives a stream at 0, -0.0 and -1e-300,
// the 531 bytes wsq1 writes for it.
TEST(Encode, ARampIsCodedAtRatesOfZeroOrBelowAndRefusedAtTwo)
{
    const int side = 100;
    std::string ramp((size_t)side * side, '\0');
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            ramp[(size_t)y * side + x] = (char)((x + y) * 255 / (2 * side - 2));
    for (double rate : {0.0, -0.0, -1e-300}) {
        SCOPED_TRACE(rate);
        wsq_encode_options options;
        wsq_encode_defaults(&options);
        options.bitrate = rate;
        encoding e = encode(ramp, side, side, &options);
        EXPECT_EQ(e.status, WSQ_OK);
        EXPECT_EQ(e.stream.size(), 531u);
    }
    // At 2 its first subband's bin width is too narrow to store.
    wsq_encode_options options;
    wsq_encode_defaults(&options);
    options.bitrate = 2;
    encoding e = encode(ramp, side, side, &options);
    EXPECT_EQ(e.status, WSQ_ERR_BITRATE);
    EXPECT_STREQ(e.error.message, "bit rate 2 out of range: bin width of subband 0 not storable");
}

// Whichever argument is wrong, a failed call leaves every output it was given
// null or 0, never what the caller's variable held before.
TEST(Arguments, AFailedCallEmptiesEveryOutputItWasGiven)
{
    static uint8_t held[1];
    const uint8_t *data = held;
    uint8_t *stream = held, *pixels = held;
    const uint8_t *text = held;
    size_t size = 1, length = 1;
    EXPECT_EQ(wsq_encode(&stream, &size, nullptr, nullptr, 0, 512, 512, nullptr), WSQ_ERR_ARGUMENT);
    EXPECT_TRUE(stream == nullptr && size == 0);
    stream = held;
    EXPECT_EQ(wsq_encode(&stream, nullptr, nullptr, data, 1, 512, 512, nullptr), WSQ_ERR_ARGUMENT);
    EXPECT_EQ(stream, nullptr);
    size = 1;
    EXPECT_EQ(wsq_encode(nullptr, &size, nullptr, data, 1, 512, 512, nullptr), WSQ_ERR_ARGUMENT);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(wsq_comment(&text, nullptr, nullptr, data, 1, 0), WSQ_ERR_ARGUMENT);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(wsq_comment(nullptr, &length, nullptr, data, 1, 0), WSQ_ERR_ARGUMENT);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(wsq_decode(&pixels, nullptr, nullptr, data, 1, nullptr), WSQ_ERR_ARGUMENT);
    EXPECT_EQ(pixels, nullptr);
}

// The decoder names the argument it refuses.
TEST(Arguments, TheDecoderRefusesNullPointersAndThreadCountsByName)
{
    const uint8_t byte = 0;
    uint8_t pixel;
    wsq_info info;
    wsq_error error;
    EXPECT_EQ(wsq_decode(nullptr, &info, &error, &byte, 1, nullptr), WSQ_ERR_ARGUMENT);
    EXPECT_STREQ(error.message, "a null pixels pointer");
    EXPECT_EQ(wsq_decode_into(nullptr, 1, &info, &error, &byte, 1, nullptr), WSQ_ERR_ARGUMENT);
    EXPECT_STREQ(error.message, "a null pixels pointer");
    EXPECT_EQ(wsq_decode_into(&pixel, 1, &info, &error, nullptr, 1, nullptr), WSQ_ERR_ARGUMENT);
    EXPECT_STREQ(error.message, "a null info or data pointer");
    wsq_decode_options options;
    wsq_decode_defaults(&options);
    options.threads = -1;
    EXPECT_EQ(wsq_decode_into(&pixel, 1, &info, &error, &byte, 1, &options), WSQ_ERR_ARGUMENT);
    EXPECT_STREQ(error.message, "-1 threads: give 0 (one per core) to 256");
}

// The option structures grow at their end: a program compiled against an
// older header passes a smaller structure, whose size ends with its last
// field (what lies beyond is the program's, neither written nor read), and
// one compiled against a newer header a larger one, accepted while the
// fields this library does not know are zero.
TEST(Options, OlderAndNewerStructuresAreReadWithinTheirSize)
{
    const image &sd04 = fingerprint();
    wsq_encode_options plain;
    wsq_encode_defaults(&plain);
    plain.bitrate = 1.5;
    std::string expected = encode(sd04.pixels, 512, 512, &plain).stream;

    struct {
        wsq_encode_options options;
        unsigned char beyond[16];
    } older;
    std::memset(&older, 0xA5, sizeof older);
    size_t size = offsetof(wsq_encode_options, threads) + sizeof older.options.threads;
    (wsq_encode_defaults)(&older.options, size);
    const unsigned char *bytes = (const unsigned char *)&older;
    EXPECT_EQ(std::count(bytes + size, bytes + sizeof older, 0xA5), (long)(sizeof older - size));
    older.options.bitrate = 1.5;
    EXPECT_EQ(encode(sd04.pixels, 512, 512, &older.options).stream, expected);
    // A size too small to hold itself, or no structure: nothing is written.
    std::memset(&older, 0xA5, sizeof older);
    (wsq_encode_defaults)(&older.options, sizeof older.options.size - 1);
    EXPECT_EQ(std::count(bytes, bytes + sizeof older, 0xA5), (long)sizeof older);
    (wsq_encode_defaults)(nullptr, sizeof older.options);

    struct {
        wsq_encode_options options;
        int64_t later;
    } newer;
    (wsq_encode_defaults)(&newer.options, sizeof newer);
    EXPECT_EQ(newer.options.size, sizeof newer);
    EXPECT_EQ(newer.later, 0);
    newer.options.bitrate = 1.5;
    EXPECT_EQ(encode(sd04.pixels, 512, 512, &newer.options).stream, expected);
    newer.later = 1;
    encoding refused = encode(sd04.pixels, 512, 512, &newer.options);
    EXPECT_EQ(refused.status, WSQ_ERR_ARGUMENT);
    EXPECT_STREQ(refused.error.message,
                 ("options of " + std::to_string(sizeof newer) + " bytes set fields beyond the " +
                  std::to_string(size) + " bytes this library knows").c_str());

    plain.size = 8;
    EXPECT_EQ(encode(sd04.pixels, 512, 512, &plain).status, WSQ_ERR_ARGUMENT);
    wsq_decode_options decoding;
    wsq_decode_defaults(&decoding);
    decoding.size = offsetof(wsq_decode_options, threads);
    uint8_t *pixels = nullptr;
    wsq_info info;
    wsq_error error;
    EXPECT_EQ(wsq_decode(&pixels, &info, &error, (const uint8_t *)expected.data(),
                         expected.size(), &decoding),
              WSQ_ERR_ARGUMENT);
    EXPECT_STREQ(error.message, ("options of " + std::to_string(decoding.size) +
                                 " bytes: fewer than the " +
                                 std::to_string(offsetof(wsq_decode_options, threads) + 4) +
                                 " of the first version with a size")
                                    .c_str());
}

TEST(Decode, IntoTheCallersBufferAndItsComments)
{
    const image &sd04 = fingerprint();
    wsq_encode_options options;
    wsq_encode_defaults(&options);
    options.comment = "second";
    std::string stream = encode(sd04.pixels, 512, 512, &options).stream;
    stream.insert(2, std::string("\xFF\xA8\x00\x07" "first", 9));  // a comment before ours
    const uint8_t *data = (const uint8_t *)stream.data();
    wsq_info info;
    const std::string pixels = decode(stream, &info);
    ASSERT_EQ(info.comments, 2u);

    std::vector<uint8_t> into(pixels.size() + 1, 0xEE);
    wsq_error error;
    EXPECT_EQ(wsq_decode_into(into.data(), pixels.size() - 1, &info, &error, data, stream.size(),
                              nullptr),
              WSQ_ERR_ARGUMENT);
    EXPECT_EQ(wsq_decode_into(into.data(), pixels.size(), &info, &error, data, stream.size(),
                              nullptr),
              WSQ_OK);
    EXPECT_TRUE(std::string(into.begin(), into.end() - 1) == pixels);
    EXPECT_EQ(into.back(), 0xEE);

    const char *expected[] = {"first", "second"};
    for (uint32_t c = 0; c < 2; ++c) {
        const uint8_t *text;
        size_t length;
        ASSERT_EQ(wsq_comment(&text, &length, &error, data, stream.size(), c), WSQ_OK);
        EXPECT_EQ(std::string((const char *)text, length), expected[c]);
    }
    const uint8_t *text;
    size_t length;
    EXPECT_EQ(wsq_comment(&text, &length, &error, data, stream.size(), 2), WSQ_ERR_ARGUMENT);
    EXPECT_EQ(text, nullptr);
}

// Every bundled print (MANIFEST.tsv) as wsq_encode codes it, and the stream
// of another encoder.
std::vector<std::pair<std::string, std::string>> bundled_streams()
{
    std::ifstream manifest(std::string(WSQ_TEST_DATA) + "/MANIFEST.tsv");
    std::string line, name;
    std::getline(manifest, line);  // the column names
    std::vector<std::pair<std::string, std::string>> streams;
    int width, height;
    while (std::getline(manifest, line) && std::istringstream(line) >> name >> width >> height) {
        const image im = bundled(name.c_str(), width, height);
        streams.emplace_back(name, encode(im.pixels, width, height).stream);
    }
    std::ifstream other(std::string(WSQ_TEST_DATA) + "/wsq-original.wsq", std::ios::binary);
    streams.emplace_back("wsq-original.wsq", std::string(std::istreambuf_iterator<char>(other), {}));
    return streams;
}

// Peak signal-to-noise ratio of a preview at 1/r against the whole image
// averaged over r x r squares, the one of preview pixel (y, x) beginning at
// (r y + shift, r x + shift); the parts of squares within the image.
double preview_psnr(const std::string &whole, int width, int height, const std::string &preview,
                    int r, int shift)
{
    int columns = WSQ_REDUCED_SIZE(width, r), rows = WSQ_REDUCED_SIZE(height, r);
    double squared = 0;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x) {
            double sum = 0;
            int count = 0;
            for (int v = std::max(0, r * y + shift); v < std::min(height, r * y + shift + r); ++v)
                for (int u = std::max(0, r * x + shift); u < std::min(width, r * x + shift + r); ++u, ++count)
                    sum += (uint8_t)whole[(size_t)v * width + u];
            double error = sum / count - (uint8_t)preview[(size_t)y * columns + x];
            squared += error * error;
        }
    }
    return 10 * std::log10(255.0 * 255.0 * rows * columns / squared);
}

// A preview at 1/2, 1/4 or 1/8 has each dimension divided and rounded up,
// and is the whole image scaled down. Its pixel y of a line stands for
// samples around r y of the whole image's, the centre of the low band's
// filters; against the squares centred half a sample from there, every
// bundled print's previews keep at least 19 dB (the hardest print, the
// thermal sweep capture, keeps 21 dB through a whole round trip at 0.75
// bits per pixel). The figures against both squares are printed.
TEST(Decode, AWorkspaceServesImagesOfAnySizeInTurn)
{
    const image &sd04 = fingerprint();
    const std::string large = encode(sd04.pixels, 512, 512).stream;
    const std::string small = encode(sd04.pixels.substr(0, 256 * 512), 256, 512).stream;
    wsq_workspace *workspace = wsq_workspace_new();
    ASSERT_NE(workspace, nullptr);
    wsq_info info;
    wsq_error error;
    for (const std::string *stream : {&small, &large, &small, &large}) {
        const std::string expected = decode(*stream);
        std::string into(expected.size(), '\0');
        EXPECT_EQ(wsq_decode_into_reusing(workspace, (uint8_t *)&into[0], into.size(), &info,
                                          &error, (const uint8_t *)stream->data(),
                                          stream->size(), nullptr),
                  WSQ_OK);
        EXPECT_TRUE(into == expected);
        const std::string cut = stream->substr(0, stream->size() / 2);
        EXPECT_EQ(wsq_decode_into_reusing(workspace, (uint8_t *)&into[0], into.size(), &info,
                                          &error, (const uint8_t *)cut.data(), cut.size(),
                                          nullptr),
                  WSQ_ERR_TRUNCATED);
    }
    wsq_workspace_free(workspace);
    uint8_t pixel;
    EXPECT_EQ(wsq_decode_into_reusing(nullptr, &pixel, 1, &info, &error,
                                      (const uint8_t *)large.data(), large.size(), nullptr),
              WSQ_ERR_ARGUMENT);
}

TEST(Reduce, PreviewsAreTheImageScaledDown)
{
    for (const auto &[name, stream] : bundled_streams()) {
        wsq_info info;
        const std::string whole = decode(stream, &info);
        EXPECT_EQ(decode(stream, nullptr, 1, 1), whole);
        for (int r : {2, 4, 8}) {
            wsq_info facts;
            const std::string preview = decode(stream, &facts, 1, r);
            EXPECT_EQ(facts.width, info.width);
            EXPECT_EQ(preview.size(), (size_t)((info.width + r - 1) / r) * ((info.height + r - 1) / r));
            double aligned = preview_psnr(whole, info.width, info.height, preview, r, 0);
            double centred = preview_psnr(whole, info.width, info.height, preview, r, 1 - r / 2);
            std::printf("%-28s 1/%d: %5.2f dB against aligned squares, %5.2f dB centred\n",
                        name.c_str(), r, aligned, centred);
            EXPECT_GE(centred, 19.0) << name << " at 1/" << r;
        }
    }
}

// The caller's buffer needs the preview's pixels only; a reduce other than
// 1, 2, 4 and 8 is refused.
TEST(Reduce, IntoTheCallersBufferAndRefusedReductions)
{
    const std::string stream = encode(fingerprint().pixels, 512, 512).stream;
    const uint8_t *data = (const uint8_t *)stream.data();
    const std::string preview = decode(stream, nullptr, 1, 8);
    ASSERT_EQ(preview.size(), 64u * 64u);
    wsq_decode_options options;
    wsq_decode_defaults(&options);
    EXPECT_EQ(options.reduce, 1);
    options.reduce = 8;
    std::string into(preview.size(), '\0');
    wsq_info info;
    wsq_error error;
    EXPECT_EQ(wsq_decode_into((uint8_t *)&into[0], into.size() - 1, &info, &error, data,
                              stream.size(), &options),
              WSQ_ERR_ARGUMENT);
    EXPECT_EQ(wsq_decode_into((uint8_t *)&into[0], into.size(), &info, &error, data,
                              stream.size(), &options),
              WSQ_OK);
    EXPECT_EQ(into, preview);
    EXPECT_EQ(info.width, 512);
    for (int reduce : {0, 3, 16, -8}) {
        options.reduce = reduce;
        uint8_t *pixels = nullptr;
        EXPECT_EQ(wsq_decode(&pixels, &info, &error, data, stream.size(), &options),
                  WSQ_ERR_ARGUMENT);
        EXPECT_EQ(pixels, nullptr);
        EXPECT_EQ(std::string(error.message), "reduce " + std::to_string(reduce) + ": give 1, 2, 4 or 8");
    }
}

// Tiles of the print, 2 megapixels: enough for a call to take four threads.
image mosaic(int width, int height)
{
    image m{std::string((size_t)width * height, 0), width, height};
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            m.pixels[(size_t)r * width + c] = fingerprint().pixels[r % 512 * 512 + c % 512];
    return m;
}

// Calls on several threads at once, each sharing its work with threads of
// its own, give what one call at a time gives.
TEST(Threads, EncodeAndDecodeAtOnceAsOneAtATime)
{
    const image images[] = {fingerprint(), bundled("fvc02db1_102_1", 388, 374),
                            bundled("mcc_sample_1_1", 256, 364), mosaic(1024, 2048)};
    const int count = sizeof images / sizeof images[0];
    std::string streams[count], pixels[count];
    for (int i = 0; i < count; ++i) {
        streams[i] = encode(images[i].pixels, images[i].width, images[i].height).stream;
        pixels[i] = decode(streams[i]);
    }
    std::vector<std::thread> threads;
    int mismatches[count] = {};
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            wsq_encode_options options;
            wsq_encode_defaults(&options);
            options.threads = 1 + t % 4;
            for (int round = 0; round < count; ++round) {
                int i = (t + round) % count;  // every thread on another image at a time
                const image &im = images[i];
                mismatches[t] += encode(im.pixels, im.width, im.height, &options).stream != streams[i];
                mismatches[t] += decode(streams[i], nullptr, options.threads) != pixels[i];
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < count; ++t)
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST(Status, EveryStatusHasAName)
{
    for (int status = WSQ_OK; status <= WSQ_ERR_BITRATE; ++status)
        EXPECT_STRNE(wsq_strerror(status), wsq_strerror(-1)) << status;
}

}  // namespace
