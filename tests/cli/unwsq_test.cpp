// The unwsq program: output formats and names, files of several streams,
// --info, standard streams, and how failures are reported.
#include "unwsq_fixture.h"

#include <unistd.h>

namespace cli {
namespace {

typedef UnwsqTest unwsq_cli;

std::string pgm(int width, int height, const std::string &pixels)
{
    return "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" + pixels;
}

unsigned field32(const std::string &bytes, size_t at)
{
    return be16(bytes, at) << 16 | be16(bytes, at + 2);
}

TEST_F(unwsq_cli, WritesPgmTiffAndRawBesideTheInput)
{
    const BundledImage &image = odd_image();
    encode_image(image, "x.wsq");
    for (const char *format : {"raw", "pgm", "tiff"})
        ASSERT_EQ(unwsq({"-f", format, "x.wsq"}).status, 0) << format;
    EXPECT_EQ(files(), (std::set<std::string>{"x.wsq", "x.raw", "x.pgm", "x.tif"}));
    std::string pixels = read("x.raw");
    ASSERT_EQ(pixels.size(), (size_t)image.width * image.height);
    EXPECT_EQ(read("x.pgm"), pgm(image.width, image.height, pixels));

    std::string tiff = read("x.tif");
    ASSERT_EQ(tiff.size(), 162 + pixels.size());
    EXPECT_EQ(hex(tiff.substr(0, 10)), "4D 4D 00 2A 00 00 00 08 00 0B");
    EXPECT_EQ(field32(tiff, 10 + 8), (unsigned)image.width);        // ImageWidth
    EXPECT_EQ(field32(tiff, 10 + 12 + 8), (unsigned)image.height);  // ImageLength
    EXPECT_EQ(be16(tiff, 10 + 5 * 12 + 8), 162u);                // StripOffsets
    EXPECT_EQ(tiff.substr(162), pixels);
}

TEST_F(unwsq_cli, WritesTiffThatTiffinfoReadsCleanly)
{
    const char tiffinfo[] = "/usr/bin/tiffinfo";
    if (::access(tiffinfo, X_OK) != 0)
        GTEST_SKIP() << tiffinfo << " is not installed";
    encode_image(odd_image(), "x.wsq");
    ASSERT_EQ(unwsq({"-o", "x.tif", "x.wsq"}).status, 0);
    Outcome check = run(tiffinfo, {"x.tif"}, dir.path());
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.err, "");
}

TEST_F(unwsq_cli, TakesTheFormatFromTheOptionThenTheExtension)
{
    encode_image(odd_image(), "x.wsq");
    for (const char *format : {"raw", "pgm", "tiff"})
        ASSERT_EQ(unwsq({"-f", format, "x.wsq"}).status, 0) << format;
    struct Case {
        std::vector<std::string> options;
        std::string output, same_as;
    };
    for (const Case &c : {Case{{"-o", "a.TIFF"}, "a.TIFF", "x.tif"}, Case{{"-ob.tif"}, "b.tif", "x.tif"},
                          Case{{"-o", "c.raw"}, "c.raw", "x.raw"}, Case{{"-o", "d.out"}, "d.out", "x.pgm"},
                          Case{{"-f", "pgm", "-o", "e.raw"}, "e.raw", "x.pgm"},
                          Case{{"-ftiff", "-o", "f.pgm"}, "f.pgm", "x.tif"}}) {
        SCOPED_TRACE(c.output);
        std::vector<std::string> args = c.options;
        args.push_back("x.wsq");
        ASSERT_EQ(unwsq(args).status, 0);
        EXPECT_EQ(read(c.output), read(c.same_as));
    }
    EXPECT_EQ(unwsq({"-o", "-", "x.wsq"}).out, read("x.pgm"));
    EXPECT_EQ(unwsq({"-f", "tiff", "-o", "-", "x.wsq"}).out, read("x.tif"));
}

TEST_F(unwsq_cli, NumbersTheImagesOfAFileOfSeveralStreams)
{
    const BundledImage &image = odd_image();
    std::string inverse = image.pixels();
    for (char &p : inverse)
        p = (char)~p;
    write("inverse.raw", inverse);
    std::string one = encode_image(image, "one.wsq");
    ASSERT_EQ(wsq1({image.size_option(), "-otwo.wsq", "inverse.raw"}).status, 0);
    ASSERT_EQ(wsq1({image.size_option(), "-oboth.wsq", image.path(), "inverse.raw"}).status, 0);
    ASSERT_EQ(read("both.wsq"), one + read("two.wsq"));

    ASSERT_EQ(unwsq({"-f", "raw", "one.wsq", "two.wsq", "both.wsq"}).status, 0);
    EXPECT_FALSE(exists("both.raw"));
    EXPECT_EQ(read("both-1.raw"), read("one.raw"));
    EXPECT_EQ(read("both-2.raw"), read("two.raw"));
    ASSERT_EQ(unwsq({"-o", "out.raw", "both.wsq"}).status, 0);
    EXPECT_EQ(read("out-1.raw") + read("out-2.raw"), read("one.raw") + read("two.raw"));
    EXPECT_EQ(unwsq({"-f", "raw", "-o", "-", "both.wsq"}).out, read("one.raw") + read("two.raw"));

    std::string info = unwsq({"--info", "both.wsq"}).out;
    EXPECT_NE(info.find("stream: 1 of 2\noffset: 0\n"), std::string::npos) << info;
    EXPECT_NE(info.find("stream: 2 of 2\noffset: " + std::to_string(one.size()) + "\n"),
              std::string::npos)
        << info;
}

TEST_F(unwsq_cli, InfoStatesTheHeaderFactsAndWritesNoImage)
{
    Outcome run = unwsq({"--info", test_data("wsq-original.wsq")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(files().empty());
    for (const char *fact : {"width: 832\n", "height: 768\n", "Ev: 0\n", "Sf: 0\n", "L0: 9\n",
                             "L1: 7\n", "Huffman tables: 0 1\n", "block 2: Huffman table 1, ",
                             "stream bytes: 35058\n", "bits per pixel: 0.4389\n"})
        EXPECT_NE(run.out.find(fact), std::string::npos) << fact << " in\n" << run.out;

    ASSERT_EQ(wsq1({odd_image().size_option(), "-cfirst\nsecond", "-ox.wsq", odd_image().path()})
                  .status,
              0);
    std::string ours = unwsq({"--info", "x.wsq"}).out;
    for (const char *fact : {"Ev: 1\n", "Sf: 55297\n", "comment: first\\nsecond\n"})
        EXPECT_NE(ours.find(fact), std::string::npos) << fact << " in\n" << ours;
}

TEST_F(unwsq_cli, ReadsStandardInputAndReportsAFullStandardOutput)
{
    const BundledImage &image = odd_image();
    std::string wsq = encode_image(image, "x.wsq");
    ASSERT_EQ(unwsq({"x.wsq"}).status, 0);
    RunOptions from_stdin;
    from_stdin.stdin_bytes = wsq;
    Outcome piped = unwsq({"-"}, from_stdin);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, read("x.pgm"));
    ASSERT_EQ(unwsq({"-o", "in.pgm", "-"}, from_stdin).status, 0);
    EXPECT_EQ(read("in.pgm"), read("x.pgm"));

    RunOptions full;
    full.stdout_file = "/dev/full";
    Outcome to_full = unwsq({"-o", "-", "x.wsq"}, full);
    EXPECT_EQ(to_full.status, 1);
    EXPECT_EQ(to_full.err, "unwsq: x.wsq: cannot write standard output: No space left on device\n");
    EXPECT_EQ(unwsq({"-o", "/dev/full", "x.wsq"}).status, 1);
}

TEST_F(unwsq_cli, ReportsEachFailedInputAndStillDecodesTheOthers)
{
    std::string wsq = encode_image(odd_image(), "good.wsq");
    write("empty.wsq", "");
    write("text.wsq", "P5\n1 1\n255\n\x80");
    write("cut.wsq", wsq.substr(0, wsq.size() / 2));
    write("cut.pgm", "older");
    write("in.pgm", wsq);  // would be replaced by its own image
    Outcome run = unwsq({"missing.wsq", "empty.wsq", "text.wsq", "cut.wsq", "in.pgm", "good.wsq"});
    EXPECT_EQ(run.status, 1);
    std::vector<std::string> errors = lines(run.err);
    ASSERT_EQ(errors.size(), 5u) << run.err;
    const char *starts[] = {"unwsq: missing.wsq: cannot open: No such file or directory",
                            "unwsq: empty.wsq: not a WSQ stream at byte 0: ",
                            "unwsq: text.wsq: not a WSQ stream at byte 0: ",
                            "unwsq: cut.wsq: truncated stream at byte ",
                            "unwsq: in.pgm: the output in.pgm would replace the input"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(errors[i].rfind(starts[i], 0), 0u) << errors[i];
    EXPECT_EQ(files(), (std::set<std::string>{"good.wsq", "good.pgm", "empty.wsq", "text.wsq",
                                              "cut.wsq", "cut.pgm", "in.pgm"}));
    EXPECT_EQ(read("cut.pgm"), "older");
    EXPECT_EQ(read("in.pgm"), wsq);
}

TEST_F(unwsq_cli, AnswersHelpAndVersionAndRefusesBadUsage)
{
    Outcome help = unwsq({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: unwsq [options] FILE...\n", 0), 0u);
    EXPECT_EQ(unwsq({"-h"}).out, help.out);
    EXPECT_EQ(unwsq({"--version"}).out.rfind("unwsq ", 0), 0u);
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"-x", "a.wsq"}, {"-o", "o.pgm", "a.wsq", "b.wsq"},
          {"-f", "png", "a.wsq"}, {"a.wsq", "-o"}, {"--info", "-o", "o.pgm", "a.wsq"}}) {
        Outcome bad = unwsq(args);
        EXPECT_EQ(bad.status, 1);
        EXPECT_EQ(bad.out, "");
        EXPECT_EQ(bad.err.rfind("unwsq: ", 0), 0u) << bad.err;
        EXPECT_NE(bad.err.find("\nUsage: unwsq"), std::string::npos) << bad.err;
    }
    EXPECT_TRUE(files().empty());
}

}  // namespace
}  // namespace cli
