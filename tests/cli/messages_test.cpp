// What wsq1 tells its user: levels, order, the log file, the parameter report
// and the summary lines.
#include "support.h"

#include <cmath>
#include <regex>

namespace cli {
namespace {

class Messages : public Wsq1Test {};

const std::string rule =
    "=============================== Parameters  ================================";

TEST_F(Messages, AQuietRunWritesTheBannerOneReportAndOneSummary)
{
    write("in.raw", noise_image(512, 512));
    Outcome run = wsq1({"in.raw"});
    ASSERT_EQ(run.status, 0);
    std::vector<std::string> log = lines(past_banner(run.err));
    ASSERT_EQ(log.size(), 32u);  // 30 report lines, 2 summary lines
    EXPECT_EQ(log[0], rule);
    EXPECT_EQ(log[29], std::string(76, '='));
    EXPECT_EQ(summaries(run.err).size(), 1u);
}

TEST_F(Messages, TheParameterReportShowsTheSettingsAndTheStoredBinWidths)
{
    // As many 0 as 255 pixels: midpoint 127.5, rescale 127.5/128.
    write("in.raw", two_level_image(512, 512));
    Outcome run = wsq1({"-S300,-1", "in.raw"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> log = lines(past_banner(run.err));
    ASSERT_EQ(log.size(), 32u);
    const char *fixed[] = {
        rule.c_str(),
        "   Input file name: in.raw",
        "   Image lines or height: Y= 512 rows;   Samples/line or width: X= 512 cols;",
        "   Pixel rescale value: (R,Er)= 0.996;   Pixel midpoint value: (M,Em)=127.5;",
        "   Scanner black calibration:  A= 300;   Scanner white calibration:  B=  -1;",
        "   Encoder parameterization:   Ev=  1;   Software version number: Sf= 55297;",
        "   Analysis lo-pass H0: 9 tap WSQh0htype;   Analysis hi-pass H1: 7 tap WSQh1gtype;",
        "   Number of Huffman tables:        2;   Number of ECS blocks:    SOBs=   3;",
        nullptr,  // bit rate and quality, below
        "   Restart interval length: Ri=     0;   Nominal bin center:       C= 0.440;",
        "   --- Subband quantization bin widths (qs for nonzeroes, zs for zeroes) ---",
        "    k  qs[k]  zs[k] |  k  qs[k]  zs[k] |  k  qs[k]  zs[k] |  k  qs[k]  zs[k]",
        "   -- ------ ------ | -- ------ ------ | -- ------ ------ | -- ------ ------"};
    for (size_t i = 0; i < std::size(fixed); ++i) {
        if (fixed[i]) {
            EXPECT_EQ(log[i], fixed[i]);
        }
    }
    for (size_t i : {0, 10, 11, 12})
        EXPECT_EQ(log[i].size(), 76u);
    EXPECT_TRUE(
        std::regex_match(log[8], std::regex("   Nominal bit rate:        Z=  0\\.750;   "
                                            "Selected quality factor: Q= [ 0-9]{1,3}\\.[0-9]{4};")))
        << log[8];

    // The table, read down the columns, lists what the quantization table stores.
    std::vector<ImageStream> images = parsed(run.out);
    ASSERT_EQ(images.size(), 1u);
    const std::string &dqt = images[0].find(0xA5)->bytes;
    std::regex row("   ([ 0-9]{2}) ([ .0-9]{6}) ([ .0-9]{6}) \\| ([ 0-9]{2}) ([ .0-9]{6}) "
                   "([ .0-9]{6}) \\| ([ 0-9]{2}) ([ .0-9]{6}) ([ .0-9]{6}) \\| ([ 0-9]{2}) "
                   "([ .0-9]{6}) ([ .0-9]{6})");
    for (int r = 0; r < 16; ++r) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(log[13 + r], m, row)) << log[13 + r];
        for (int column = 0; column < 4; ++column) {
            int k = r + 16 * column;
            EXPECT_EQ(std::stoi(m[1 + 3 * column]), k);
            // Printed rounded to 0.01; stored truncated to its decimal scale.
            for (int field : {0, 1}) {
                size_t at = 7 + 6 * k + 3 * field;
                EXPECT_NEAR(std::stod(m[2 + 3 * column + field]), fix24(dqt, at),
                            0.005 + std::pow(10.0, -(int)byte_at(dqt, at)))
                    << "subband " << k;
            }
        }
    }
    EXPECT_EQ(log[29], std::string(76, '='));
}

TEST_F(Messages, MentionsFollowThePipelineAroundTheReport)
{
    write("in.raw", noise_image(512, 512));
    Outcome run = wsq1({"-v2", "-S1,2", "-Z1", "-Zx", "-r512,512", "-chello", "in.raw"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string log = past_banner(run.err);
    std::string report =
        log.substr(log.find(rule), log.find(" <> Define-Quantization") - log.find(rule));
    EXPECT_EQ(log,
              mention_line("Using custom scanner calibration") +
                  mention_line("Using custom bit rate") +  // also when nothing converts
                  mention_line("Using custom bit rate") +
                  mention_line("Setting dimensions of raw grayscale input") +
                  mention_line("Inserting comment into output") +
                  mention_line("Read 262144 bytes of raw data from in.raw") +
                  mention_line("Start-Of-Image written") + mention_line("Comment written") +
                  mention_line("Define-Transform-Table written") +
                  mention_line("Start-Of-Frame and frame header written") +
                  mention_line("Subband sizes computed") +
                  mention_line("Variances of subband middles computed") + report +
                  mention_line("Define-Quantization-Table written") +
                  mention_line("Define-Huffman-Table written") +
                  mention_line("Start-Of-Block written") + mention_line("Start-Of-Block written") +
                  mention_line("Start-Of-Block written") + mention_line("End-Of-Image written") +
                  log.substr(log.find(" ++ Compress image 1")));
    EXPECT_EQ(lines(report).size(), 30u);
}

TEST_F(Messages, AnOptionIsMentionedOnlyAfterVerbosityIsRaised)
{
    write("in.raw", noise_image(640, 480));
    const std::string mentioned = mention_line("Setting dimensions of raw grayscale input");
    Outcome late = wsq1({"-r640,480", "-v2", "in.raw"});
    Outcome early = wsq1({"-v2", "-r640,480", "in.raw"});
    ASSERT_EQ(late.status, 0);
    ASSERT_EQ(early.status, 0);
    EXPECT_EQ(past_banner(late.err).find(mentioned), std::string::npos);
    EXPECT_EQ(past_banner(early.err).find(mentioned), 0u);
    EXPECT_EQ(late.out, early.out);
}

TEST_F(Messages, WarningsFromLevelOneOnForEveryImage)
{
    write("a.raw", noise_image(300, 300, 1));
    write("b.raw", noise_image(300, 300, 2));
    const std::string lines_warning = warning_line("fewer than 400 lines in the image");
    const std::string samples_warning = warning_line("fewer than 400 samples per line");
    Outcome run = wsq1({"-v1", "-r300,300", "a.raw", "b.raw"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string log = past_banner(run.err);
    size_t second = log.find(" ++ Compress image 1");
    EXPECT_EQ(log.find(lines_warning + samples_warning + rule), 0u);
    EXPECT_NE(log.find(lines_warning + samples_warning + rule, second), std::string::npos);
    // Only the short side draws a warning.
    write("c.raw", noise_image(300, 500));
    std::string tall = past_banner(wsq1({"-v1", "-r300,500", "c.raw"}).err);
    EXPECT_EQ(tall.find(samples_warning + rule), 0u);
    std::string wide = past_banner(wsq1({"-v1", "-r500,300", "c.raw"}).err);
    EXPECT_EQ(wide.find(lines_warning + rule), 0u);
}

TEST_F(Messages, BitRatesAbove32DrawAWarning)
{
    write("in.raw", noise_image(512, 512));
    const std::string warned = warning_line("Too high bit rate for compression");
    for (const char *rate : {"-Z32", "-Z0.75", "-Z-3"})
        EXPECT_EQ(wsq1({"-v1", rate, "in.raw"}).err.find(warned), std::string::npos) << rate;
    for (const char *rate : {"-Z32.001", "-Z1e9", "-Zinf", "-Znan"})
        EXPECT_EQ(past_banner(wsq1({"-v1", rate, "in.raw"}).err).find(warned), 0u) << rate;
}

TEST_F(Messages, ALogFileTakesEverythingButTheBannerAndFatalMessages)
{
    write("in.raw", noise_image(300, 300));
    Outcome quiet = wsq1({"-v2", "-r300,300", "in.raw"});
    Outcome logged = wsq1({"-v2", "-lrun", "-oout", "-r300,300", "in.raw"});
    ASSERT_EQ(logged.status, 0);
    EXPECT_EQ(past_banner(logged.err), "");
    std::string log = read("run.log");
    // The same texts as on standard error, but for the output name.
    EXPECT_EQ(log.substr(0, log.find(" ++ ")),
              past_banner(quiet.err).substr(0, past_banner(quiet.err).find(" ++ ")));
    ASSERT_EQ(summaries(log).size(), 1u);
    EXPECT_EQ(summaries(log)[0].output, "out.wsq");
    EXPECT_NE(log.find(warning_line("fewer than 400 lines in the image")), std::string::npos);

    // A fatal message during an image goes to standard error all the same.
    write("flat.raw", std::string(300 * 300, '\x80'));
    Outcome failed = wsq1({"-v2", "-lflat", "-r300,300", "flat.raw"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(past_banner(failed.err),
              fatal_line("every pixel of flat.raw has the value 128, nothing to compress"));
    EXPECT_EQ(read("flat.log"), mention_line("Setting dimensions of raw grayscale input") +
                                    warning_line("fewer than 400 lines in the image") +
                                    warning_line("fewer than 400 samples per line") +
                                    mention_line("Read 90000 bytes of raw data from flat.raw"));

    // So does the fatal message of a later option.
    Outcome refused = wsq1({"-lopts", "-Z", "in.raw"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(past_banner(refused.err), fatal_line("-Z: unable to decipher r"));
    EXPECT_EQ(read("opts.log"), "");
}

TEST_F(Messages, SummariesCountTheImagesAndNameTheirInputs)
{
    for (const char *name : {"one.raw", "two.raw", "three.raw"})
        write(name, noise_image(512, 512, name[1]));
    Outcome run = wsq1({"-oout", "one.raw", "two.raw", "three.raw"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<Summary> done = summaries(run.err);
    ASSERT_EQ(done.size(), 3u);
    const char *names[] = {"one.raw", "two.raw", "three.raw"};
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(done[i].number, i + 1);
        EXPECT_EQ(done[i].input, names[i]);
        EXPECT_EQ(done[i].output, "out.wsq");
        // Each report names the input of its own image, before its summary.
        at = run.err.find(std::string("   Input file name: ") + names[i] + "\n", at);
        EXPECT_LT(at, run.err.find(format(" ++ Compress image %d:", i + 1)));
    }
}

}  // namespace
}  // namespace cli
