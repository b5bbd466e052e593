// The bytes of the produced streams: segments, coded data, byte counts,
// several images in one output, standard input and output.
#include "support.h"

#include "wsq.h"

namespace cli {
namespace {

class Stream : public Wsq1Test {};

const std::vector<unsigned> plain_order{0xA0, 0xA4, 0xA2, 0xA5, 0xA6, 0xA3, 0xA3, 0xA3, 0xA1};

TEST_F(Stream, EverySegmentOfADefaultStreamHasItsLayout)
{
    Outcome run = wsq1({bundled("sd04_f0001_01").path()});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<ImageStream> images = parsed(run.out);
    ASSERT_EQ(images.size(), 1u);
    const ImageStream &image = images[0];
    ASSERT_EQ(image.markers(), plain_order);  // no comment segment without -c
    EXPECT_EQ(hex(image.segments[0].bytes), "FF A0");
    EXPECT_EQ(hex(run.out.substr(run.out.size() - 2)), "FF A1");

    // Transform table: both filter lengths, then the stored taps from the
    // centre on, each read back exactly.
    const std::string &dtt = image.find(0xA4)->bytes;
    ASSERT_EQ(dtt.size(), 60u);
    EXPECT_EQ(hex(dtt.substr(0, 6)), "FF A4 00 3A 09 07");
    EXPECT_EQ(hex(dtt.substr(6, 6)), "00 09 32 D3 26 3B");
    EXPECT_EQ(hex(dtt.substr(18, 6)), "01 0A 41 EF F1 BB");
    EXPECT_EQ(hex(dtt.substr(36, 6)), "00 09 2E FF 55 D2");
    EXPECT_EQ(hex(dtt.substr(48, 6)), "01 0B F2 87 1F 36");
    for (int i = 0; i < 9; ++i) {
        real tap;
        readfix48(&tap, (const ui8 *)dtt.data() + 6 + 6 * i);
        EXPECT_EQ(tap, i < 5 ? WSQh0hbqf[4 + i] : WSQh1gbqf[3 + i - 5]) << "stored tap " << i;
    }

    const std::string &sof = image.find(0xA2)->bytes;
    ASSERT_EQ(sof.size(), 19u);
    EXPECT_EQ(hex(sof.substr(0, 10)), "FF A2 00 11 00 FF 02 00 02 00");
    EXPECT_EQ(hex(sof.substr(16)), "01 D8 01");

    const std::string &dqt = image.find(0xA5)->bytes;
    ASSERT_EQ(dqt.size(), 391u);
    EXPECT_EQ(hex(dqt.substr(0, 7)), "FF A5 01 85 05 AB E0");
    EXPECT_EQ(dqt.substr(7 + 6 * 60), std::string(24, '\0'));  // subbands 60 to 63
    for (int k = 0; k < 60; ++k) {
        double qs = fix24(dqt, 7 + 6 * k), zs = fix24(dqt, 10 + 6 * k);
        EXPECT_GT(qs, 0) << "subband " << k;  // every subband of this image is coded
        EXPECT_NEAR(zs / qs, 1.2, 1e-3) << "subband " << k;
    }

    const std::string &dht = image.find(0xA6)->bytes;
    std::map<int, std::string> tables;
    ASSERT_EQ(huffman_tables(*image.find(0xA6), tables), "");
    ASSERT_EQ(tables.size(), 2u);
    ASSERT_EQ(tables.count(0) + tables.count(1), 2u);
    EXPECT_EQ(be16(dht, 2), tables[0].size() + tables[1].size() + 4);
    EXPECT_EQ(hex(dht.substr(4, 1)), "00");
    EXPECT_EQ(hex(dht.substr(5 + tables[0].size(), 1)), "01");

    for (int b = 0; b < 3; ++b)
        EXPECT_EQ(hex(image.find(0xA3, b)->bytes), b ? "FF A3 00 03 01" : "FF A3 00 03 00");
}

TEST_F(Stream, CommentSegmentFollowsTheStartOfImage)
{
    std::string pixels = bundled("sd04_f0001_01").pixels();
    std::string plain = encode(pixels, 512, 512).out;
    for (const char *text : {"", "Hello, world", "x"}) {
        SCOPED_TRACE(text);
        Outcome run = encode(pixels, 512, 512, {std::string("-c") + text});
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<ImageStream> images = parsed(run.out);
        ASSERT_EQ(images.size(), 1u);
        ASSERT_EQ(images[0].segments.size(), 10u);
        const std::string &com = images[0].segments[1].bytes;
        EXPECT_EQ(images[0].segments[1].marker, 0xA8u);
        EXPECT_EQ(be16(com, 2), std::string(text).size() + 2);
        EXPECT_EQ(com.substr(4), text);
        // Nothing else changes.
        EXPECT_EQ(run.out.substr(0, 2) + run.out.substr(2 + com.size()), plain);
    }
    EXPECT_EQ(hex(parsed(encode(pixels, 512, 512, {"-c"}).out)[0].segments[1].bytes),
              "FF A8 00 02");
}

TEST_F(Stream, FrameHeaderStoresSizeMidpointRescaleAndCalibration)
{
    // 0 and 255 in equal numbers: M = 127.5, R = 127.5/128.
    std::string pixels = two_level_image(640, 480);
    Outcome run = encode(pixels, 640, 480, {"-S300,0"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(hex(parsed(run.out).at(0).find(0xA2)->bytes),
              "FF A2 00 11 2C 00 01 E0 02 80 02 31 CE 04 26 E8 01 D8 01");
    EXPECT_NE(line_starting(run.err, "   Scanner black calibration:  A= 300;   "
                                     "Scanner white calibration:  B=   0;"),
              "");
}

TEST_F(Stream, EveryBlockDecodesToTheCoefficientsOfItsCodedSubbands)
{
    size_t stuffed = 0;  // coded FF bytes, each stored as FF 00
    for (const BundledImage &source : bundled_images()) {
        SCOPED_TRACE(source.name);
        Outcome run = wsq1({source.size_option(), source.path()});
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<ImageStream> images = parsed(run.out);
        ASSERT_EQ(images.size(), 1u);
        ASSERT_EQ(images[0].markers(), plain_order);
        const std::string &dqt = images[0].find(0xA5)->bytes;
        std::map<int, std::string> tables;
        ASSERT_EQ(huffman_tables(*images[0].find(0xA6), tables), "");
        std::vector<long> sizes = subband_sizes(source.height, source.width);
        int k = 0;
        for (int b = 0; b < 3; ++b) {
            long expected = 0;
            for (; k < ecsbreak[b]; ++k)
                if (fix24(dqt, 7 + 6 * k) != 0)
                    expected += sizes[k];
            const Segment &sob = *images[0].find(0xA3, b);
            for (size_t at = 0; (at = sob.coded.find("\xFF\x00", at, 2)) != std::string::npos;
                 at += 2)
                ++stuffed;
            std::string flaw;
            EXPECT_EQ(coded_coefficients(tables[byte_at(sob.bytes, 4)], sob.coded, flaw), expected)
                << "block " << b << " " << flaw;
        }
    }
    EXPECT_GT(stuffed, 0u);
}

TEST_F(Stream, SummaryCountsEveryByteOfTheStream)
{
    for (const BundledImage &source : bundled_images()) {
        SCOPED_TRACE(source.name);
        Outcome run = wsq1({source.size_option(), source.path()});
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<Summary> done = summaries(run.err);
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0].bytes, (long)run.out.size());
        EXPECT_EQ(done[0].output, "(stdout)");
        float pixels = (float)(source.width * source.height);
        EXPECT_EQ(done[0].compression, format("%5.1f", pixels / (float)run.out.size()));
    }
}

TEST_F(Stream, SeveralInputsGiveStreamsBackToBack)
{
    write("a.raw", bundled("sd04_f0001_01").pixels());
    write("b.raw", noise_image(512, 512));
    write("c.raw", two_level_image(512, 512));
    std::string a = wsq1({"a.raw"}).out, b = wsq1({"b.raw"}).out, c = wsq1({"c.raw"}).out;
    Outcome two = wsq1({"a.raw", "b.raw"});
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(two.out, a + b);
    std::vector<Summary> done = summaries(two.err);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].number, 1);
    EXPECT_EQ(done[0].bytes, (long)a.size());
    EXPECT_EQ(done[1].number, 2);
    EXPECT_EQ(done[1].bytes, (long)b.size());

    Outcome three = wsq1({"-oall", "c.raw", "a.raw", "c.raw"});
    ASSERT_EQ(three.status, 0) << three.err;
    std::vector<ImageStream> images = parsed(read("all.wsq"));
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[0].bytes, c);
    EXPECT_EQ(images[1].bytes, a);
    EXPECT_EQ(images[2].bytes, c);
}

TEST_F(Stream, StandardInputAndStandardOutput)
{
    std::string pixels = bundled("sd04_f0001_01").pixels();
    write("in.raw", pixels);
    std::string expected = wsq1({"in.raw"}).out;

    RunOptions piped;
    piped.stdin_bytes = pixels;
    Outcome run = wsq1({"-v2", "-"}, piped);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(mentions(run.err).at(0), " <> Read 262144 bytes of raw data from (stdin).");
    EXPECT_NE(run.err.find("   Input file name: (stdin)\n"), std::string::npos);
    ASSERT_EQ(summaries(run.err).size(), 1u);
    EXPECT_EQ(summaries(run.err)[0].input, "(stdin)");
    EXPECT_EQ(summaries(run.err)[0].output, "(stdout)");

    RunOptions from_file;
    from_file.stdin_file = path("in.raw");
    Outcome redirected = wsq1({"-oout", "-"}, from_file);
    ASSERT_EQ(redirected.status, 0) << redirected.err;
    EXPECT_EQ(read("out.wsq"), expected);
    EXPECT_EQ(summaries(redirected.err).at(0).output, "out.wsq");
}

}  // namespace
}  // namespace cli
