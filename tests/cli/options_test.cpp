// The command line: options, their values and the input names.
#include "support.h"

#include <filesystem>

namespace cli {
namespace {

class Options : public Wsq1Test {
protected:
    // A 512 x 512 image (the default size) in "in.raw".
    void SetUp() override { write("in.raw", noise_image(512, 512)); }
};

TEST_F(Options, NoArgumentsWriteTheUsageText)
{
    Outcome run = wsq1({});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(usage_text.size(), 1066u);
    EXPECT_EQ(past_banner(run.err), usage_text);
    EXPECT_EQ(run.out, "");
}

TEST_F(Options, UnknownOptionLettersAreFatal)
{
    for (const char *option : {"-d", "-x", "--", "-V", "-O", "-s1,2", "-z1"}) {
        SCOPED_TRACE(option);
        Outcome run = wsq1({option, "in.raw"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(past_banner(run.err), fatal_line("unknown option flag"));
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Options, VerbosityLevelsFilterWarningsAndMentions)
{
    write("small.raw", noise_image(300, 300));  // draws two dimension warnings
    struct Case {
        std::vector<std::string> options;
        bool warnings, mentions;
    };
    for (const Case &c :
         {Case{{"-v"}, true, true}, Case{{"-v0"}, false, false}, Case{{"-v1"}, true, false},
          Case{{"-v2"}, true, true}, Case{{"-v3"}, true, true}, Case{{"-v4"}, true, true},
          Case{{"-v4xyz"}, true, true}, Case{{"-v1v2"}, true, false},
          Case{{"-v4", "-v0"}, false, false}, Case{{"-v0", "-v"}, true, true}}) {
        SCOPED_TRACE(c.options.back());
        std::vector<std::string> args = c.options;
        args.insert(args.begin(), "-r300,300");
        args.push_back("small.raw");
        Outcome run = wsq1(args);
        EXPECT_EQ(run.status, 0);
        std::string log = past_banner(run.err);
        EXPECT_EQ(log.find(warning_line("fewer than 400 lines in the image")) != std::string::npos,
                  c.warnings);
        EXPECT_EQ(!mentions(log).empty(), c.mentions);
    }
}

TEST_F(Options, VerbosityDigitsOutsideZeroToFourGiveTheUsageText)
{
    for (const char *option : {"-v5", "-v9", "-vx", "-v-", "-v "}) {
        SCOPED_TRACE(option);
        Outcome run = wsq1({option, "in.raw"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(past_banner(run.err), usage_text);
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Options, SizeWithTheWidthOnlyKeepsTheHeight)
{
    write("wide.raw", noise_image(640, 512));
    Outcome run = wsq1({"-r640", "wide.raw"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(line_starting(run.err, "   Image lines"),
              "   Image lines or height: Y= 512 rows;   Samples/line or width: X= 640 cols;");
    std::vector<ImageStream> images = parsed(run.out);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(hex(images[0].find(0xA2)->bytes.substr(6, 4)), "02 00 02 80");
}

TEST_F(Options, SizeWithoutDigitsChangesNothing)
{
    write("small.raw", noise_image(640, 480));
    for (const char *option : {"-rabc", "-r,", "-rx,100"}) {
        SCOPED_TRACE(option);
        Outcome run = wsq1({"-r640,480", option, "small.raw"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(line_starting(run.err, "   Image lines"),
                  "   Image lines or height: Y= 480 rows;   Samples/line or width: X= 640 cols;");
    }
}

TEST_F(Options, EmptyOrBlankValuesOfRSAndZAreFatal)
{
    struct Case {
        const char *option, *message;
    };
    for (Case c :
         {Case{"-r", "-r: could not decipher X,Y"}, Case{"-r  ", "-r: could not decipher X,Y"},
          Case{"-S", "-S: unable to decipher A,B"}, Case{"-S\t", "-S: unable to decipher A,B"},
          Case{"-Z", "-Z: unable to decipher r"}, Case{"-Z ", "-Z: unable to decipher r"}}) {
        SCOPED_TRACE(c.option);
        Outcome run = wsq1({c.option, "in.raw"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(past_banner(run.err), fatal_line(c.message));
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Options, PartialValuesOfSAndZKeepWhatTheyDoNotConvert)
{
    Outcome run = wsq1({"-S300", "-Z2", "-Zabc", "in.raw"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(line_starting(run.err, "   Scanner black calibration:  A= 300;   "
                                     "Scanner white calibration:  B= 255;"),
              "");
    EXPECT_NE(line_starting(run.err, "   Nominal bit rate:        Z=  2.000;"), "");
}

TEST_F(Options, OutputLogAndCommentRefuseASecondOccurrence)
{
    struct Case {
        std::vector<std::string> args;
        const char *message;
    };
    for (const Case &c :
         {Case{{"-oa", "-ob"}, "-o: second occurence"}, Case{{"-o", "-oa"}, "-o: second occurence"},
          Case{{"-oa.wsq", "-oa"}, "-o: second occurence"},
          Case{{"-la", "-lb"}, "-l: second occurence"}, Case{{"-l", "-l"}, "-l: second occurence"},
          Case{{"-ca", "-cb"}, "-c: second occurence"},
          Case{{"-c", "-c"}, "-c: second occurence"}}) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        std::vector<std::string> args = c.args;
        args.push_back("in.raw");
        Outcome run = wsq1(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(past_banner(run.err), fatal_line(c.message));
        EXPECT_EQ(run.out, "");
    }
    // The first output file was opened before the second option was read.
    EXPECT_TRUE(exists("a.wsq"));
    EXPECT_EQ(read("a.wsq"), "");
    EXPECT_FALSE(exists("b.wsq"));
    EXPECT_FALSE(exists("b.log"));
}

TEST_F(Options, AFileOpenedBeforeAFailingOptionStaysEmpty)
{
    Outcome run = wsq1({"-oout", "-lrun", "-d", "in.raw"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(past_banner(run.err), fatal_line("unknown option flag"));
    EXPECT_EQ(read("out.wsq"), "");
    EXPECT_EQ(read("run.log"), "");
}

TEST_F(Options, OutputNamesGetTheExtensionUnlessTheyEndWithIt)
{
    std::string expected = wsq1({"in.raw"}).out;
    ASSERT_FALSE(expected.empty());
    std::filesystem::create_directory(path("dir.d"));
    struct Case {
        const char *value, *file;
    };
    for (Case c :
         {Case{"out", "out.wsq"}, Case{"out.wsq", "out.wsq"}, Case{"o.WSQ", "o.WSQ.wsq"},
          Case{"o.wsqx", "o.wsqx.wsq"}, Case{"o.wsq.x", "o.wsq.x.wsq"}, Case{"o.b.wsq", "o.b.wsq"},
          Case{"dir.d/out", "dir.d/out.wsq"}, Case{"", ".wsq"}}) {
        SCOPED_TRACE(c.value);
        std::filesystem::remove(path(c.file));
        Outcome run = wsq1({std::string("-o") + c.value, "in.raw"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(read(c.file), expected);
        ASSERT_EQ(summaries(run.err).size(), 1u);
        EXPECT_EQ(summaries(run.err)[0].output, c.file);
    }
}

TEST_F(Options, LogNamesGetTheExtensionUnlessTheyEndWithIt)
{
    struct Case {
        const char *value, *file;
    };
    for (Case c : {Case{"run", "run.log"}, Case{"run.log", "run.log"}, Case{"r.LOG", "r.LOG.log"},
                   Case{"r.logs", "r.logs.log"}, Case{"", ".log"}}) {
        SCOPED_TRACE(c.value);
        std::filesystem::remove(path(c.file));
        Outcome run = wsq1({std::string("-l") + c.value, "in.raw"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(summaries(read(c.file)).size(), 1u);
    }
}

TEST_F(Options, OutputOptionWithASpaceWritesDotWsqAndTakesTheNameAsInput)
{
    Outcome run = wsq1({"-o", "in.raw"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(read(".wsq"), wsq1({"in.raw"}).out);
    ASSERT_EQ(summaries(run.err).size(), 1u);
    EXPECT_EQ(summaries(run.err)[0].input, "in.raw");
    EXPECT_EQ(summaries(run.err)[0].output, ".wsq");
}

TEST_F(Options, ALoneDashBeforeANameGivesTheUsageText)
{
    for (std::vector<std::string> args :
         {std::vector<std::string>{"-", "in.raw"}, std::vector<std::string>{"-v2", "-", "in.raw"},
          std::vector<std::string>{"-", "-v2"}}) {
        Outcome run = wsq1(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(past_banner(run.err), usage_text);
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Options, OptionsWithoutAnInputGiveTheUsageText)
{
    Outcome run = wsq1({"-v2", "-r640,480"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(past_banner(run.err),
              mention_line("Setting dimensions of raw grayscale input") + usage_text);
}

TEST_F(Options, EverythingFromTheFirstNameOnIsAnInputName)
{
    // "-" and "-v2" after a name are files, not standard input or options.
    write("-", noise_image(512, 512, 2));
    write("-v2", noise_image(512, 512, 3));
    Outcome run = wsq1({"in.raw", "-", "-v2"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(mentions(run.err).empty());
    std::vector<Summary> done = summaries(run.err);
    ASSERT_EQ(done.size(), 3u);
    EXPECT_EQ(done[1].input, "-");
    EXPECT_EQ(done[2].input, "-v2");
    EXPECT_EQ(run.out, wsq1({"in.raw"}).out + wsq1({"./-"}).out + wsq1({"./-v2"}).out);
}

}  // namespace
}  // namespace cli
