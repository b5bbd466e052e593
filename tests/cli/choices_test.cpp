// Inputs and settings at the edge of what can be coded: short and flat
// images, images too small, empty blocks, bit rates that cannot be honoured,
// over-long texts and names, and an output that cannot be written.
#include "support.h"

#include <cmath>
#include <filesystem>

namespace cli {
namespace {

class Choices : public Wsq1Test {
protected:
    // The header segments written before the coefficients are known (SOI,
    // DTT, SOF): those of a stream of the same image at a low bit rate.
    std::string header_of(const std::string &pixels) const
    {
        Outcome run = encode(pixels, 512, 512, {"-Z0.01"}, "header.raw");
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out.substr(0, 2 + 60 + 19);
    }
};

TEST_F(Choices, AShortInputIsFilledWithWhite)
{
    std::string pixels = bundled("sd04_f0001_01").pixels();
    std::string part = pixels.substr(0, 200000);
    std::string filled = part + std::string(pixels.size() - part.size(), '\xFF');
    std::string expected = encode(filled, 512, 512).out;
    ASSERT_FALSE(expected.empty());

    Outcome quiet = encode(part, 512, 512);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, expected);
    EXPECT_EQ(past_banner(quiet.err).find("Warning!"), std::string::npos);

    Outcome warned = encode(part, 512, 512, {"-v2"}, "short.raw");
    EXPECT_EQ(warned.status, 0);
    EXPECT_EQ(warned.out, expected);
    EXPECT_EQ(past_banner(warned.err)
                  .find(mention_line("Read 262144 bytes of raw data from short.raw") +
                        warning_line("only 200000 of 262144 bytes read from short.raw, the missing "
                                     "pixels are set to 255")),
              0u);

    // Nothing of an earlier image shows through.
    write("full.raw", noise_image(512, 512));
    Outcome after = wsq1({"full.raw", "short.raw"});
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.out, wsq1({"full.raw"}).out + expected);
}

TEST_F(Choices, AFlatImageIsRefusedBeforeAnyOfItsBytes)
{
    write("good.raw", noise_image(512, 512));
    for (char value : {'\0', 'M', '\xFF'}) {
        write("flat.raw", std::string(512 * 512, value));
        Outcome run = wsq1({"good.raw", "flat.raw", "good.raw"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, wsq1({"good.raw"}).out);
        EXPECT_EQ(last_line(run.err),
                  fatal_line(format("every pixel of flat.raw has the value %d, nothing to "
                                    "compress",
                                    (unsigned char)value)));
    }
}

TEST_F(Choices, AnImageTooSmallForItsSubbandsIsRefusedAfterTheWarnings)
{
    Outcome run = encode(noise_image(32, 32), 32, 32, {"-v1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(past_banner(run.err),
              warning_line("fewer than 400 lines in the image") +
                  warning_line("fewer than 400 samples per line") +
                  fatal_line("image of 32 lines by 32 samples too small for the subband "
                             "variances"));
}

TEST_F(Choices, TheSmallestAcceptedSizes)
{
    // Accepted: at least 81 x 81, or at least 49 samples by 145 lines.
    struct Case {
        int width, height;
        bool accepted;
    };
    for (Case c :
         {Case{81, 81, true}, Case{80, 81, false}, Case{81, 80, false}, Case{49, 145, true},
          Case{48, 145, false}, Case{49, 144, false}, Case{80, 145, true}, Case{300, 80, false},
          Case{48, 2000, false}, Case{2000, 80, false}}) {
        std::string size = format("%d x %d", c.width, c.height);
        SCOPED_TRACE(size);
        Outcome run = encode(noise_image(c.width, c.height), c.width, c.height);
        EXPECT_EQ(run.status, c.accepted ? 0 : 1);
        if (c.accepted) {
            EXPECT_EQ(parsed(run.out).size(), 1u);
        } else {
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(past_banner(run.err),
                      fatal_line(format("image of %d lines by %d samples too small for the "
                                        "subband variances",
                                        c.height, c.width)));
        }
    }
}

// Encodes, checks the stream and returns its only image.
class EmptyBlocks : public Choices {
protected:
    ImageStream coded(const std::string &pixels, const std::string &rate)
    {
        Outcome run = encode(pixels, 512, 512, {"-Z" + rate});
        EXPECT_EQ(run.status, 0) << run.err;
        std::vector<ImageStream> images = parsed(run.out);
        if (images.size() != 1 ||
            images[0].markers() !=
                std::vector<unsigned>{0xA0, 0xA4, 0xA2, 0xA5, 0xA6, 0xA3, 0xA3, 0xA3, 0xA1}) {
            ADD_FAILURE() << "expected one image of the plain segment order";
            return {};
        }
        EXPECT_EQ(summaries(run.err).at(0).bytes, (long)run.out.size());
        return images[0];
    }

    // Whether any subband from..to-1 has a bin width in the stream.
    static bool coded_subbands(const ImageStream &image, int from, int to)
    {
        for (int k = from; k < to; ++k)
            if (fix24(image.find(0xA5)->bytes, 7 + 6 * k) != 0)
                return true;
        return false;
    }

    static std::string table(const ImageStream &image, int index)
    {
        std::map<int, std::string> tables;
        EXPECT_EQ(huffman_tables(*image.find(0xA6), tables), "");
        return tables[index];
    }
};

TEST_F(EmptyBlocks, ARampHasOnlyBlockZero)
{
    ImageStream image = coded(ramp_image(512, 512), "0.01");
    ASSERT_FALSE(image.segments.empty());
    EXPECT_TRUE(coded_subbands(image, 0, 19));
    EXPECT_FALSE(coded_subbands(image, 19, 64));
    EXPECT_EQ(image.find(0xA3, 1)->coded, "");
    EXPECT_EQ(image.find(0xA3, 2)->coded, "");
    EXPECT_EQ(table(image, 1), std::string(16, '\0'));
    EXPECT_EQ(be16(image.find(0xA6)->bytes, 2), table(image, 0).size() + 16 + 4);
    std::string flaw;
    EXPECT_EQ(coded_coefficients(table(image, 0), image.find(0xA3, 0)->coded, flaw), 4 * 256)
        << flaw;  // subbands 0 to 3 of 16 x 16
}

TEST_F(EmptyBlocks, AWaveHasNoBlockTwo)
{
    ImageStream image = coded(wave_image(512, 512, 24), "0.75");
    ASSERT_FALSE(image.segments.empty());
    EXPECT_TRUE(coded_subbands(image, 19, 52));
    EXPECT_FALSE(coded_subbands(image, 52, 64));
    EXPECT_NE(image.find(0xA3, 1)->coded, "");
    EXPECT_EQ(image.find(0xA3, 2)->coded, "");
}

TEST_F(EmptyBlocks, AFaintFineWaveHasNoBlockOne)
{
    // One white pixel sets the rescale value; the wave stays a few levels high.
    std::string pixels;
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
            pixels +=
                (char)(int)std::lround(128 + 3 * std::sin(2 * 3.14159265358979 * 0.375 * x + 1));
    pixels[0] = '\xFF';
    ImageStream image = coded(pixels, "0.75");
    ASSERT_FALSE(image.segments.empty());
    EXPECT_FALSE(coded_subbands(image, 19, 52));
    EXPECT_TRUE(coded_subbands(image, 52, 64));
    EXPECT_EQ(image.find(0xA3, 1)->coded, "");
    EXPECT_NE(image.find(0xA3, 2)->coded, "");
}

TEST_F(Choices, BitRatesThatCannotBeHonouredAreRefused)
{
    std::string fingerprint = bundled("sd04_f0001_01").pixels();
    std::string ramp = ramp_image(512, 512);
    struct Case {
        const std::string *pixels;
        const char *rate, *message;
    };
    for (Case c :
         {Case{&ramp, "2", "bit rate 2 out of range: no usable quality factor"},
          Case{&fingerprint, "1e9", "bit rate 1e+09 out of range: no usable quality factor"},
          Case{&fingerprint, "nan", "bit rate nan out of range: no usable quality factor"},
          Case{&fingerprint, "12",
               "bit rate 12 too high: a coefficient of subband 0 needs more than 65535 "
               "bins"},
          Case{&fingerprint, "-1", "no active subbands after wavelet packet transform"}}) {
        SCOPED_TRACE(c.rate);
        Outcome run = encode(*c.pixels, 512, 512, {std::string("-Z") + c.rate});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(last_line(run.err), fatal_line(c.message));
        EXPECT_EQ(hex(run.out), hex(header_of(*c.pixels)));
    }
}

TEST_F(Choices, ACommentMustFitItsSegment)
{
    write("in.raw", noise_image(512, 512));
    Outcome longest = wsq1({"-c" + std::string(65533, 'c'), "in.raw"});
    ASSERT_EQ(longest.status, 0) << longest.err;
    std::vector<ImageStream> images = parsed(longest.out);
    ASSERT_EQ(images.size(), 1u);
    const Segment *com = images[0].find(0xA8);
    EXPECT_EQ(hex(com->bytes.substr(0, 4)), "FF A8 FF FF");
    EXPECT_EQ(com->bytes.size(), 65537u);

    Outcome too_long = wsq1({"-c" + std::string(65534, 'c'), "in.raw"});
    EXPECT_EQ(too_long.status, 1);
    EXPECT_EQ(past_banner(too_long.err), fatal_line("-c: comment longer than 65533 bytes"));
    EXPECT_EQ(too_long.out, "");
}

TEST_F(Choices, OutputAndLogNamesMustFitWithTheirExtension)
{
    write("in.raw", noise_image(512, 512));
    // Names of a given length, in directories so that no part is too long.
    auto name = [&](size_t length, const std::string &ending) {
        std::string dirs = std::string(200, 'd') + "/" + std::string(200, 'e') + "/" +
                           std::string(200, 'f') + "/" + std::string(200, 'g') + "/";
        std::filesystem::create_directories(path(dirs));
        return dirs + std::string(length - dirs.size() - ending.size(), 'n') + ending;
    };
    struct Case {
        char option;
        size_t length;
        std::string ending;
        bool fits;
    };
    for (const Case &c :
         {Case{'o', 1024, "", true}, Case{'o', 1025, "", false}, Case{'o', 1028, ".wsq", true},
          Case{'o', 1029, ".wsq", false}, Case{'l', 1024, "", true}, Case{'l', 1025, "", false},
          Case{'l', 1028, ".log", true}, Case{'l', 1029, ".log", false}}) {
        SCOPED_TRACE(std::string(1, c.option) + " " + std::to_string(c.length) + c.ending);
        std::string value = name(c.length, c.ending);
        Outcome run = wsq1({std::string("-") + c.option + value, "in.raw"});
        if (c.fits) {
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_TRUE(
                exists(c.ending.empty() ? value + (c.option == 'o' ? ".wsq" : ".log") : value));
        } else {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(past_banner(run.err),
                      fatal_line(c.option == 'o'
                                     ? "-o: output file name longer than 1028 characters"
                                     : "-l: log file name longer than 1028 characters"));
        }
    }
}

TEST_F(Choices, AFullOutputDeviceIsFatal)
{
    write("in.raw", noise_image(512, 512));
    RunOptions full;
    full.stdout_file = "/dev/full";
    Outcome piped = wsq1({"in.raw"}, full);
    EXPECT_EQ(piped.status, 1);
    EXPECT_EQ(last_line(piped.err).rfind("Error! Fatal input flaw: could not write (stdout): ", 0),
              0u)
        << piped.err;
    EXPECT_TRUE(summaries(piped.err).empty());

    std::filesystem::create_symlink("/dev/full", path("full.wsq"));
    Outcome named = wsq1({"-ofull", "in.raw"});
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(last_line(named.err).rfind("Error! Fatal input flaw: could not write full.wsq: ", 0),
              0u)
        << named.err;
}

}  // namespace
}  // namespace cli
