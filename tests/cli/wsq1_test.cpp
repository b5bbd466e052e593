// The encoder program wsq1: its command line and refusals; what it tells its
// user (levels, order, the log file, the parameter report); the bytes of its
// streams (segments, several images in one output, standard input and
// output); and inputs and settings at the edge of what can be coded (a short
// input, empty blocks, bit rates that cannot be honoured, a full output).
#include "support.h"

#include "libwsq.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>

namespace cli {
namespace {

class Wsq1 : public Wsq1Test {
protected:
    void SetUp() override { write("in.raw", noise_image(512, 512)); }  // the default size
};

const std::string rule = "=============================== Parameters  ================================";
const std::string few_lines = warning_line("fewer than 400 lines in the image");
const std::string few_samples = warning_line("fewer than 400 samples per line");

std::string assertion(const std::string &expression)
{
    return "wsq1.cpp:LINE: failed assertion `" + expression + "'\n";
}

std::string too_small(int width, int height)
{
    return fatal_line(format("image of %d lines by %d samples too small for the subband variances", height, width));
}

// Each row ends the run with its status and exactly its message, and no image.
TEST_F(Wsq1, RefusalsWriteTheirMessageAndNoImage)
{
    std::filesystem::create_directory(path("folder"));
    write("flat.raw", std::string(512 * 512, 'M'));
    const std::string unknown = fatal_line("unknown option flag");
    const struct {
        std::vector<std::string> args;
        std::string err;
        int status = 1;
    } rows[] = {
        {{}, usage_text}, {{"-v5", "in.raw"}, usage_text}, {{"-", "in.raw"}, usage_text}, {{"-", "-v2"}, usage_text},
        {{"-v2", "-r640,480"}, mention_line("Setting dimensions of raw grayscale input") + usage_text},
        {{"-d", "in.raw"}, unknown}, {{"-s1,2", "in.raw"}, unknown},
        {{"-oout", "-lrun", "-d", "in.raw"}, unknown},  // leaves an empty log, no output
        {{"-r", "in.raw"}, fatal_line("-r: could not decipher X,Y")},
        {{"-S\t", "in.raw"}, fatal_line("-S: unable to decipher A,B")},
        {{"-lopts", "-Z", "in.raw"}, fatal_line("-Z: unable to decipher r")},  // not in the log
        {{"-oa", "-ob", "in.raw"}, fatal_line("-o: second occurence")},        // after a.wsq opened
        {{"-la", "-lb", "in.raw"}, fatal_line("-l: second occurence")},
        {{"-ca", "-cb", "in.raw"}, fatal_line("-c: second occurence")},
        {{"-c" + std::string(65534, 'c'), "in.raw"}, fatal_line("-c: comment longer than 65533 bytes")},
        {{"-v1", "-r32,31", "in.raw"}, assertion("rows > 31"), 2},
        {{"-r32,32768", "in.raw"}, assertion("rows < 32768u"), 2},
        {{"-v1", "-r31,32", "in.raw"}, few_lines + assertion("cols > 31"), 2},
        {{"-r32768,400", "in.raw"}, assertion("cols < 32768u"), 2}, {{"-r-7,500", "in.raw"}, assertion("cols > 31"), 2},
        {{"missing.raw", "in.raw"}, assertion("infile"), 2},
        {{"folder"}, fatal_line("could not read folder: Is a directory")},
        {{"flat.raw"}, fatal_line("every pixel of flat.raw has the value 77, nothing to compress")},
        {{"-v1", "-r32,32", "in.raw"}, few_lines + few_samples + too_small(32, 32)},
        {{"-r32767,32", "in.raw"}, too_small(32767, 32)},  // passes the dimension checks
        // The smallest accepted are 81 x 81 and 49 samples by 145 lines.
        {{"-r80,81", "in.raw"}, too_small(80, 81)}, {{"-r81,80", "in.raw"}, too_small(81, 80)},
        {{"-r48,145", "in.raw"}, too_small(48, 145)}, {{"-r49,144", "in.raw"}, too_small(49, 144)},
        {{"-r48,2000", "in.raw"}, too_small(48, 2000)}, {{"-r2000,80", "in.raw"}, too_small(2000, 80)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.empty() ? "" : row.args[0].substr(0, 20) + " " + row.args.back());
        Outcome run = wsq1(row.args);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(past_banner(run.err), row.err);
        EXPECT_EQ(run.out, "");
    }
    for (const char *opened : {"run.log", "opts.log"})
        EXPECT_EQ(read(opened), "") << opened;
    EXPECT_FALSE(exists("out.wsq") || exists("a.wsq") || exists("b.wsq") || exists("b.log"));
}

TEST_F(Wsq1, SizesFromTheSmallestToTheLargestAndPartialScans)
{
    write("big.raw", noise_image(32767, 81));
    const struct {
        std::vector<std::string> options;
        int width, height;
    } rows[] = {{{"-r81,81"}, 81, 81},       {{"-r49,145"}, 49, 145},  {{"-r80,145"}, 80, 145},
                {{"-r32767,81"}, 32767, 81}, {{"-r81,32767"}, 81, 32767},
                {{"-r640", "-rabc", "-r,"}, 640, 512}};  // only what the scan converts changes
    for (const auto &row : rows) {
        std::vector<std::string> args = row.options;
        args.push_back("big.raw");
        Outcome run = wsq1(args);
        ASSERT_EQ(run.status, 0) << row.options[0] << run.err;
        EXPECT_EQ(hex(parsed(run.out).at(0).find(0xA2)->bytes.substr(6, 4)),
                  format("%02X %02X %02X %02X", row.height >> 8, row.height & 255, row.width >> 8, row.width & 255));
    }
}

TEST_F(Wsq1, VerbosityLevelsFilterWarningsAndMentions)
{
    write("small.raw", noise_image(300, 300));  // draws two dimension warnings
    const struct {
        std::vector<std::string> options;
        bool warnings, mentions;
    } rows[] = {{{"-v"}, true, true},     {{"-v0"}, false, false},   {{"-v1"}, true, false},
                {{"-v2"}, true, true},    {{"-v3"}, true, true},     {{"-v4"}, true, true},
                {{"-v4xyz"}, true, true}, {{"-v1v2"}, true, false},  {{"-v4", "-v0"}, false, false},
                {{"-v0", "-v"}, true, true}};
    for (const auto &row : rows) {
        std::vector<std::string> args = row.options;
        args.insert(args.begin(), "-r300,300");
        args.push_back("small.raw");
        Outcome run = wsq1(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(contains(run.err, few_lines), row.warnings) << row.options.back();
        EXPECT_EQ(contains(run.err, " <> "), row.mentions) << row.options.back();
        // An option is mentioned only once verbosity has been raised before it.
        EXPECT_FALSE(contains(run.err, "Setting dimensions")) << row.options.back();
    }
}

TEST_F(Wsq1, OutputAndLogNamesGetTheirExtensionAndMustFit)
{
    const std::string expected = wsq1({"in.raw"}).out;
    std::filesystem::create_directory(path("dir.d"));
    const struct {
        std::string option, file;
    } rows[] = {{"-oout", "out.wsq"}, {"-oout.wsq", "out.wsq"}, {"-oo.WSQ", "o.WSQ.wsq"}, {"-oo.wsqx", "o.wsqx.wsq"},
                {"-oo.b.wsq", "o.b.wsq"}, {"-odir.d/out", "dir.d/out.wsq"}, {"-o", ".wsq"} /* "-o in.raw" */,
                {"-lrun", "run.log"}, {"-lrun.log", "run.log"}, {"-lr.LOG", "r.LOG.log"}, {"-l", ".log"}};
    for (const auto &row : rows) {
        std::filesystem::remove(path(row.file));
        Outcome run = wsq1({row.option, "in.raw"});
        ASSERT_EQ(run.status, 0) << row.option << run.err;
        const bool output = row.option[1] == 'o';
        EXPECT_EQ(output ? read(row.file) : run.out, expected) << row.option;
        const std::vector<Summary> done = summaries(output ? run.err : read(row.file));
        EXPECT_EQ(done.at(0).input + " " + done.at(0).output, "in.raw " + (output ? row.file : "(stdout)"));
    }
    // With their extension, names must fit 1028 characters; directories keep each part short.
    const std::string dirs = std::string(250, 'd') + "/" + std::string(250, 'e') + "/" + std::string(250, 'f') +
                             "/" + std::string(250, 'g') + "/";
    std::filesystem::create_directories(path(dirs));
    for (std::string option : {"o", "l"})
        for (size_t length : {1024, 1025, 1028, 1029}) {
            const std::string extension = option == "o" ? ".wsq" : ".log", ending = length < 1028 ? "" : extension;
            const std::string name = dirs + std::string(length - dirs.size() - ending.size(), 'n') + ending;
            Outcome run = wsq1({"-" + option + name, "in.raw"});
            const std::string refusal = option == "o" ? "-o: output file" : "-l: log file";
            if (length % 2 == 0)
                EXPECT_TRUE(run.status == 0 && exists(ending.empty() ? name + extension : name)) << length << run.err;
            else
                EXPECT_TRUE(run.status == 1 &&
                            past_banner(run.err) == fatal_line(refusal + " name longer than 1028 characters"))
                    << length << run.err;
        }
}

TEST_F(Wsq1, TheParameterReportShowsTheSettingsAndTheStoredBinWidths)
{
    std::string pixels = noise_image(512, 512);  // as many 0 as 255: midpoint 127.5, rescale 127.5/128
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = i % 2 ? (char)~pixels[i - 1] : pixels[i] & 1 ? '\0' : '\xFF';
    write("in.raw", pixels);
    Outcome run = wsq1({"-S300,-1", "-S,5", "-Zabc", "in.raw"});  // what does not convert changes nothing
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> log = lines(past_banner(run.err));
    ASSERT_EQ(log.size(), 32u);  // 30 report lines, 2 summary lines
    const char *fixed[] = {
        rule.c_str(),
        "   Input file name: in.raw",
        "   Image lines or height: Y= 512 rows;   Samples/line or width: X= 512 cols;",
        "   Pixel rescale value: (R,Er)= 0.996;   Pixel midpoint value: (M,Em)=127.5;",
        "   Scanner black calibration:  A= 300;   Scanner white calibration:  B=  -1;",
        "   Encoder parameterization:   Ev=  1;   Software version number: Sf= 55297;",
        "   Analysis lo-pass H0: 9 tap WSQh0htype;   Analysis hi-pass H1: 7 tap WSQh1gtype;",
        "   Number of Huffman tables:        2;   Number of ECS blocks:    SOBs=   3;",
        "   Nominal bit rate:        Z=  0.750;   Selected quality factor: Q= ",
        "   Restart interval length: Ri=     0;   Nominal bin center:       C= 0.440;",
        "   --- Subband quantization bin widths (qs for nonzeroes, zs for zeroes) ---",
        "    k  qs[k]  zs[k] |  k  qs[k]  zs[k] |  k  qs[k]  zs[k] |  k  qs[k]  zs[k]",
        "   -- ------ ------ | -- ------ ------ | -- ------ ------ | -- ------ ------"};
    for (size_t i = 0; i < std::size(fixed); ++i)
        EXPECT_EQ(log[i].substr(0, i == 8 ? std::strlen(fixed[i]) : std::string::npos), fixed[i]);
    EXPECT_TRUE(std::regex_match(log[8].substr(std::strlen(fixed[8])), std::regex("[ 0-9]{1,3}\\.[0-9]{4};")));
    EXPECT_EQ(log[29], std::string(76, '='));
    const ImageStream image = parsed(run.out).at(0);
    EXPECT_EQ(hex(image.find(0xA2)->bytes), "FF A2 00 11 2C FF 02 00 02 00 02 31 CE 04 26 E8 01 D8 01");
    // The table, read down the columns, lists what the quantization table
    // stores: printed rounded to 0.01, stored truncated to its decimal scale.
    const std::string &dqt = image.find(0xA5)->bytes;
    for (int k = 0; k < 64; ++k) {
        int index = -1;
        double qs = -1, zs = -1;
        EXPECT_EQ(std::sscanf(log[13 + k % 16].c_str() + 3 + 19 * (k / 16), "%d %lf %lf", &index, &qs, &zs), 3);
        EXPECT_EQ(index, k);
        EXPECT_NEAR(qs, fix24(dqt, 7 + 6 * k), 0.005 + 2e-4 * qs) << k;
        EXPECT_NEAR(zs, fix24(dqt, 10 + 6 * k), 0.005 + 2e-4 * zs) << k;
    }
}

TEST_F(Wsq1, MentionsFollowThePipelineAroundTheReport)
{
    Outcome run = wsq1({"-v2", "-S1,2", "-Z1", "-Zx", "-r512,512", "-chello", "in.raw"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string log = past_banner(run.err);
    const std::string report = log.substr(log.find(rule), log.find(" <> Define-Quantization") - log.find(rule));
    EXPECT_EQ(lines(report).size(), 30u);
    std::string expected;
    for (const char *mention : std::vector<const char *>{
             "Using custom scanner calibration", "Using custom bit rate", "Using custom bit rate",
             "Setting dimensions of raw grayscale input", "Inserting comment into output",
             "Read 262144 bytes of raw data from in.raw", "Start-Of-Image written", "Comment written",
             "Define-Transform-Table written", "Start-Of-Frame and frame header written", "Subband sizes computed",
             "Variances of subband middles computed", nullptr, "Define-Quantization-Table written",
             "Define-Huffman-Table written", "Start-Of-Block written", "Start-Of-Block written",
             "Start-Of-Block written", "End-Of-Image written"})
        expected += mention ? mention_line(mention) : report;
    EXPECT_EQ(log.substr(0, log.find(" ++ Compress image 1")), expected);
}

TEST_F(Wsq1, WarningsFromLevelOneOnForEveryImage)
{
    write("a.raw", noise_image(300, 500));
    EXPECT_EQ(past_banner(wsq1({"-v1", "-r300,500", "a.raw"}).err).find(few_samples + rule), 0u);
    EXPECT_EQ(past_banner(wsq1({"-v1", "-r500,300", "a.raw"}).err).find(few_lines + rule), 0u);
    write("b.raw", noise_image(300, 300));
    const std::string both = past_banner(wsq1({"-v1", "-r300,300", "b.raw", "b.raw"}).err);
    EXPECT_EQ(both.find(few_lines + few_samples + rule), 0u);
    EXPECT_TRUE(contains(both.substr(both.find(" ++ ")), few_lines + few_samples + rule));
    const std::string high = warning_line("Too high bit rate for compression");
    for (const char *rate : {"-Z32", "-Z0.75", "-Z-3"})
        EXPECT_FALSE(contains(wsq1({"-v1", rate, "in.raw"}).err, high)) << rate;
    for (const char *rate : {"-Z32.001", "-Z1e9", "-Zinf", "-Znan"})
        EXPECT_EQ(past_banner(wsq1({"-v1", rate, "in.raw"}).err).find(high), 0u) << rate;
}

TEST_F(Wsq1, ALogFileTakesEverythingButTheBannerAndFatalMessages)
{
    const std::string quiet = past_banner(wsq1({"-v2", "in.raw"}).err);
    Outcome logged = wsq1({"-v2", "-lrun", "-oout", "in.raw"});
    ASSERT_EQ(logged.status, 0);
    EXPECT_EQ(past_banner(logged.err), "");
    const std::string log = read("run.log");  // the same texts, but for the output name
    EXPECT_EQ(log.substr(0, log.find(" ++ ")), quiet.substr(0, quiet.find(" ++ ")));
    EXPECT_EQ(summaries(log).at(0).output, "out.wsq");

    write("flat.raw", std::string(300 * 300, '\x80'));  // fatal during an image
    Outcome failed = wsq1({"-v2", "-lflat", "-r300,300", "flat.raw"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(past_banner(failed.err), fatal_line("every pixel of flat.raw has the value 128, nothing to compress"));
    EXPECT_EQ(read("flat.log"), mention_line("Setting dimensions of raw grayscale input") + few_lines + few_samples +
                                    mention_line("Read 90000 bytes of raw data from flat.raw"));
}

TEST_F(Wsq1, EverySegmentOfADefaultStreamHasItsLayout)
{
    Outcome run = wsq1({bundled("sd04_f0001_01").path()});
    ASSERT_EQ(run.status, 0) << run.err;
    const ImageStream image = parsed(run.out).at(0);
    std::string markers;  // no comment segment without -c
    for (const Segment &segment : image.segments)
        markers += format("%02X ", segment.marker);
    EXPECT_EQ(markers, "A0 A4 A2 A5 A6 A3 A3 A3 A1 ");
    EXPECT_EQ(image.bytes, run.out);
    const std::string &dtt = image.find(0xA4)->bytes, &sof = image.find(0xA2)->bytes, &dqt = image.find(0xA5)->bytes;
    EXPECT_EQ(dtt.size(), 60u);
    EXPECT_EQ(hex(dtt.substr(0, 12)), "FF A4 00 3A 09 07 00 09 32 D3 26 3B");
    EXPECT_EQ(hex(sof.substr(0, 10)) + " " + hex(sof.substr(16)), "FF A2 00 11 00 FF 02 00 02 00 01 D8 01");
    ASSERT_EQ(dqt.size(), 391u);
    EXPECT_EQ(hex(dqt.substr(0, 7)), "FF A5 01 85 05 AB E0");
    EXPECT_EQ(dqt.substr(7 + 6 * 60), std::string(24, '\0'));  // subbands 60 to 63
    for (int k = 0; k < 60; ++k) {  // every subband of this image is coded
        EXPECT_GT(fix24(dqt, 7 + 6 * k), 0) << k;
        EXPECT_NEAR(fix24(dqt, 10 + 6 * k) / fix24(dqt, 7 + 6 * k), 1.2, 1e-3) << k;
    }
    std::map<int, std::string> tables;
    ASSERT_EQ(huffman_tables(*image.find(0xA6), tables), "");
    ASSERT_EQ(tables.size(), 2u);
    const std::string &dht = image.find(0xA6)->bytes;
    EXPECT_EQ(hex(dht.substr(4, 1)) + hex(dht.substr(5 + tables[0].size(), 1)), "0001");
    for (int b = 0; b < 3; ++b)
        EXPECT_EQ(hex(image.find(0xA3, b)->bytes), b ? "FF A3 00 03 01" : "FF A3 00 03 00");
}

TEST_F(Wsq1, ACommentSegmentFollowsTheStartOfImage)
{
    const std::string plain = wsq1({bundled("sd04_f0001_01").path()}).out;
    for (const std::string &text : {std::string(), std::string("Hello, world"), std::string(65533, 'c')}) {
        Outcome run = wsq1({"-c" + text, bundled("sd04_f0001_01").path()});
        ASSERT_EQ(run.status, 0) << run.err;
        const Segment com = parsed(run.out).at(0).segments.at(1);  // follows the start of image
        const unsigned length = (unsigned)text.size() + 2;
        EXPECT_EQ(hex(com.bytes.substr(0, 4)), format("FF A8 %02X %02X", length >> 8, length & 255));
        EXPECT_EQ(com.bytes.substr(4), text);
        EXPECT_EQ(run.out.substr(0, 2) + run.out.substr(2 + com.bytes.size()), plain) << "nothing else changes";
    }
}

TEST_F(Wsq1, SeveralInputsGiveStreamsBackToBack)
{
    write("-", bundled("sd04_f0001_01").pixels());  // from the first name on, "-" and "-v2"
    write("-v2", noise_image(512, 512));            // are files, not standard input or options
    const std::string a = wsq1({"./-"}).out, b = wsq1({"in.raw"}).out;
    Outcome three = wsq1({"-oall", "in.raw", "-", "-v2"});
    ASSERT_EQ(three.status, 0) << three.err;
    EXPECT_FALSE(contains(three.err, " <> "));
    std::vector<ImageStream> images = parsed(read("all.wsq"));
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[0].bytes + images[1].bytes + images[2].bytes, b + a + b);
    const std::vector<Summary> done = summaries(three.err);
    ASSERT_EQ(done.size(), 3u);
    const char *inputs[] = {"in.raw", "-", "-v2"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(done[i].number, i + 1);
        EXPECT_EQ(done[i].input + " " + done[i].output, inputs[i] + std::string(" all.wsq"));
        EXPECT_EQ(done[i].bytes, (long)images[i].bytes.size());
        // Each report names the input of its own image, before its summary.
        EXPECT_TRUE(contains(three.err.substr(0, three.err.find(format(" ++ Compress image %d", i + 1))),
                             "   Input file name: " + done[i].input + "\n"));
    }
    // An input that cannot be opened stops the run after the images before it.
    Outcome missing = wsq1({"./-", "in.raw", "missing.raw", "in.raw"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, a + b);
    EXPECT_EQ(summaries(missing.err).size(), 2u);
}

TEST_F(Wsq1, StandardInputAndStandardOutput)
{
    RunOptions piped;
    piped.stdin_bytes = bundled("sd04_f0001_01").pixels();
    Outcome run = wsq1({"-v2", "-"}, piped);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, wsq1({bundled("sd04_f0001_01").path()}).out);
    EXPECT_TRUE(contains(run.err, mention_line("Read 262144 bytes of raw data from (stdin)")));
    EXPECT_TRUE(contains(run.err, "   Input file name: (stdin)\n"));
    EXPECT_EQ(summaries(run.err).at(0).input + " " + summaries(run.err).at(0).output, "(stdin) (stdout)");
}

TEST_F(Wsq1, AShortInputIsFilledWithWhite)
{
    const std::string pixels = bundled("sd04_f0001_01").pixels().substr(0, 200000);
    write("short.raw", pixels);
    write("filled.raw", pixels + std::string(512 * 512 - pixels.size(), '\xFF'));
    Outcome run = wsq1({"-v1", "in.raw", "short.raw"});  // nothing of the earlier image shows through
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, wsq1({"in.raw"}).out + wsq1({"filled.raw"}).out);
    EXPECT_TRUE(contains(run.err, warning_line("only 200000 of 262144 bytes read from short.raw, "
                                               "the missing pixels are set to 255")));
}

TEST_F(Wsq1, EmptyBlocksHaveNoCodedDataAndEmptyTables)
{
    // A ramp at a low rate codes block 0 only. A faint fine wave, one white
    // pixel setting the rescale value, codes no subband of block 1.
    std::string wave;
    for (int n = 0; n < 512 * 512; ++n)
        wave += (char)(int)std::lround(128 + 3 * std::sin(2 * 3.14159265358979 * 0.375 * (n % 512) + 1));
    wave[0] = '\xFF';
    const struct {
        std::string pixels, rate;
        bool empty[3];
    } rows[] = {{ramp_image(512, 512), "-Z0.01", {false, true, true}}, {wave, "-Z0.75", {false, true, false}}};
    for (const auto &row : rows) {
        write("in.raw", row.pixels);
        Outcome run = wsq1({row.rate, "in.raw"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(summaries(run.err).at(0).bytes, (long)run.out.size());
        const ImageStream image = parsed(run.out).at(0);
        for (int b = 0, k = 0; b < WSQ_BLOCKS; ++b) {
            bool coded = false;
            for (; k < ecsbreak[b]; ++k)
                coded |= fix24(image.find(0xA5)->bytes, 7 + 6 * k) != 0;
            EXPECT_EQ(coded, !row.empty[b]) << row.rate << " block " << b;
            EXPECT_EQ(image.find(0xA3, b)->coded.empty(), row.empty[b]) << row.rate << " block " << b;
        }
        std::map<int, std::string> tables;
        ASSERT_EQ(huffman_tables(*image.find(0xA6), tables), "");
        EXPECT_EQ(tables[1] == std::string(16, '\0'), row.empty[1] && row.empty[2]);
    }
}

TEST_F(Wsq1, BitRatesThatCannotBeHonouredAreRefusedAfterTheHeader)
{
    write("ramp.raw", ramp_image(512, 512));
    const std::string fingerprint = bundled("sd04_f0001_01").path();
    const struct {
        std::string input, rate, message;
    } rows[] = {{"ramp.raw", "1", "bit rate 1 out of range: bin width of subband 0 not storable"},
                {fingerprint, "1e9", "bit rate 1e+09 out of range: no usable quality factor"},
                {fingerprint, "nan", "bit rate nan out of range: no usable quality factor"},
                {fingerprint, "12", "bit rate 12 too high: a coefficient of subband 0 needs more than 65535 bins"},
                {fingerprint, "-1", "no active subbands after wavelet packet transform"}};
    for (const auto &row : rows) {
        Outcome run = wsq1({"-Z" + row.rate, row.input});
        EXPECT_EQ(run.status, 1) << row.rate;
        EXPECT_EQ(last_line(run.err), fatal_line(row.message));
        // The segments written before the bit allocation stay: SOI, DTT, SOF.
        EXPECT_EQ(hex(run.out), hex(wsq1({"-Z0.01", row.input}).out.substr(0, 2 + 60 + 19))) << row.rate;
    }
}

// A named output is put in place only with the images written in full: a
// refused run leaves the file it names as it was, and no other file.
TEST_F(Wsq1, AFailedRunLeavesTheOutputAsItWas)
{
    const BundledImage &image = bundled("fvc02db1_102_1");
    const std::string good = wsq1({image.size_option(), image.path()}).out;
    write("flat.raw", std::string(388 * 374, '\7'));
    write("ramp.raw", ramp_image(388, 374));
    const struct {
        std::vector<std::string> args;
        std::string kept, message;  // kept: the output's bytes afterwards
    } rows[] = {
        {{"missing.raw"}, "old", "wsq1.cpp:LINE: failed assertion `infile'"},
        {{"flat.raw"}, "old", "Error! Fatal input flaw: every pixel of flat.raw has the value 7, nothing to compress."},
        {{"-r80,80", "in.raw"}, "old",
         "Error! Fatal input flaw: image of 80 lines by 80 samples too small for the subband variances."},
        {{"-Z1", "ramp.raw"}, "old",
         "Error! Fatal input flaw: bit rate 1 out of range: bin width of subband 0 not storable."},
        {{image.path(), "flat.raw"}, good,
         "Error! Fatal input flaw: every pixel of flat.raw has the value 7, nothing to compress."},
        {{image.path(), "missing.raw"}, good, "wsq1.cpp:LINE: failed assertion `infile'"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.back());
        write("out.wsq", "old");
        std::vector<std::string> args = {"-r388,374", "-oout"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        Outcome run = wsq1(args);
        EXPECT_NE(run.status, 0);
        EXPECT_EQ(last_line(past_banner(run.err)), row.message + "\n");
        EXPECT_TRUE(read("out.wsq") == row.kept);
        EXPECT_EQ(files(), (std::set<std::string>{"in.raw", "flat.raw", "ramp.raw", "out.wsq"}));
    }
    // A full device: the file system refuses a write past 2 KB.
    write("out.wsq", "old");
    Outcome full = run("/bin/sh", {"-c", "(ulimit -f 4; trap '' XFSZ; exec \"$0\" \"$@\") 2>&1 | cat", WSQ1_PATH,
                                   image.size_option(), "-oout", image.path()},
                       dir.path());
    EXPECT_EQ(last_line(full.out), fatal_line("could not write out.wsq: File too large"));
    EXPECT_EQ(read("out.wsq"), "old");
    EXPECT_EQ(files(), (std::set<std::string>{"in.raw", "flat.raw", "ramp.raw", "out.wsq"}));
}

// Image files and WSQ streams are no raw samples: each is refused before any
// byte of it is written, with what to do instead; longer raw input is warned of.
TEST_F(Wsq1, ImageFilesAreRefusedWithWhatToDo)
{
    const BundledImage &image = bundled("fvc02db1_102_1");
    const std::string pixels = image.pixels(), pgm = "P5\n388 374\n255\n" + pixels;
    write("scan.pgm", pgm);
    write("cut.pgm", pgm.substr(0, pgm.size() - 1));  // shorter than its header says: raw
    write("plain.pgm", "P2\n# a comment\n2 2\n255\n1 2\n3 4\n");
    write("scan.ppm", "P6\n100 50\n255\n" + std::string(100 * 50 * 3, 'x'));
    write("scan.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x01\x84\0\0\x01\x76", 24) + pixels);
    write("scan.tif", std::string("II*\0\x08\0\0\0\x02\0"
                                  "\0\x01\x03\0\x01\0\0\0\x84\x01\0\0"
                                  "\x01\x01\x03\0\x01\0\0\0\x76\x01\0\0", 34) + pixels);
    std::string bmp = std::string("BM\xF2\x36\x02\0\0\0\0\0\x36\0\0\0", 14) +  // 145138 bytes, pixels at 54
                      std::string("\x28\0\0\0\x84\x01\0\0\x76\x01\0\0", 12) + pixels;
    write("scan.bmp", bmp);
    write("scan.wsq", wsq1({image.size_option(), image.path()}).out);
    const std::string elsewhere = " OUT encodes image files";
    const struct {
        std::string input, refusal;
    } rows[] = {
        {"scan.pgm", "scan.pgm is a PGM image of 388 x 374 pixels, not raw samples; its pixels are its last "
                     "145112 bytes: tail -c 145112 scan.pgm | wsq1 -r388,374 -"},
        {"plain.pgm", "plain.pgm is a PGM image of 2 x 2 pixels, not raw samples; python3 -m wsq encode plain.pgm" + elsewhere},
        {"scan.ppm", "scan.ppm is a PPM image of 100 x 50 pixels, not raw samples; python3 -m wsq encode scan.ppm" + elsewhere},
        {"scan.png", "scan.png is a PNG image of 388 x 374 pixels, not raw samples; python3 -m wsq encode scan.png" + elsewhere},
        {"scan.tif", "scan.tif is a TIFF image of 388 x 374 pixels, not raw samples; python3 -m wsq encode scan.tif" + elsewhere},
        {"scan.bmp", "scan.bmp is a BMP image of 388 x 374 pixels, not raw samples; python3 -m wsq encode scan.bmp" + elsewhere},
        {"scan.wsq", "scan.wsq is a WSQ stream of 388 x 374 pixels, not raw samples; it is compressed already: unwsq decodes it"},
    };
    for (const auto &row : rows) {
        Outcome run = wsq1({image.size_option(), row.input});
        EXPECT_EQ(run.status, 1) << row.input;
        EXPECT_EQ(past_banner(run.err), fatal_line(row.refusal));
        EXPECT_EQ(run.out, "");
    }
    RunOptions pipe;  // from a pipe as from a file
    pipe.stdin_bytes = pgm;
    EXPECT_EQ(last_line(wsq1({image.size_option(), "-"}, pipe).err),
              fatal_line("(stdin) is a PGM image of 388 x 374 pixels, not raw samples; its pixels are its last 145112 "
                         "bytes: tail -c 145112 (stdin) | wsq1 -r388,374 -"));
    Outcome cut = wsq1({"-v1", image.size_option(), "cut.pgm"});
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(last_line(past_banner(cut.err).substr(0, past_banner(cut.err).find(rule))),
              warning_line("only the first 145112 of the 145126 bytes of cut.pgm read, the rest is ignored"));
    pipe.stdin_bytes = pixels + "more";
    EXPECT_TRUE(contains(wsq1({"-v1", image.size_option(), "-"}, pipe).err,
                         warning_line("only the first 145112 of the 145116 bytes of (stdin) read, the rest is ignored")));
}

TEST_F(Wsq1, HelpAndVersionOnStandardOutput)
{
    for (const char *option : {"--help", "-h"}) {
        Outcome help = wsq1({"-v2", option, "in.raw"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.err, "");
        EXPECT_EQ(help.out, usage_text + "\nThe manual: man wsq1 (docs/wsq1.1 in the source tree).\n");
    }
    Outcome version = wsq1({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("wsq1 1.0.0 (libwsq ") + wsq_version() + ")\n");
    EXPECT_FALSE(exists("in.wsq"));
}

TEST_F(Wsq1, AFullOutputDeviceIsFatal)
{
    std::filesystem::create_symlink("/dev/full", path("full.wsq"));
    RunOptions full;
    full.stdout_file = "/dev/full";
    const std::pair<Outcome, std::string> runs[] = {{wsq1({"in.raw"}, full), "(stdout)"},
                                                    {wsq1({"-ofull", "in.raw"}), "full.wsq"}};
    for (const auto &[run, name] : runs) {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(last_line(run.err), fatal_line("could not write " + name + ": No space left on device"));
        EXPECT_TRUE(summaries(run.err).empty());
    }
}

}  // namespace
}  // namespace cli
