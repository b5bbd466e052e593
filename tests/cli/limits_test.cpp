// Image dimensions at and beyond their limits, and inputs that cannot be
// opened: reported through the assertion report, status 2, nothing written
// of the image at hand.
#include "support.h"

#include <filesystem>
#include <regex>

namespace cli {
namespace {

class Limits : public Wsq1Test {
protected:
    // Whether `text` is exactly the assertion report of `expression`.
    static bool assertion_report(const std::string &text, const std::string &expression)
    {
        return std::regex_match(
            text, std::regex("wsq1\\.cpp:[0-9]+: failed assertion `" + expression + "'\n"));
    }
};

TEST_F(Limits, DimensionsOutside32To32767StopTheRun)
{
    write("in.raw", noise_image(512, 512));
    const std::string lines_warning = warning_line("fewer than 400 lines in the image");
    struct Case {
        const char *size;
        bool few_lines;  // a height below 400 is warned about first
        const char *expression;
    };
    for (Case c :
         {Case{"-r32,31", false, "rows > 31"}, Case{"-r32,32768", false, "rows < 32768u"},
          Case{"-r100,-1", false, "rows > 31"}, Case{"-r500,70000", false, "rows < 32768u"},
          Case{"-r31,32", true, "cols > 31"}, Case{"-r32768,32", true, "cols < 32768u"},
          Case{"-r-7,500", false, "cols > 31"}, Case{"-r32768,400", false, "cols < 32768u"}}) {
        SCOPED_TRACE(c.size);
        Outcome run = wsq1({"-v1", c.size, "in.raw"});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        std::string log = past_banner(run.err);
        std::string warned = c.few_lines ? lines_warning : "";
        ASSERT_EQ(log.substr(0, warned.size()), warned);
        EXPECT_TRUE(assertion_report(log.substr(warned.size()), c.expression)) << log;
    }
}

TEST_F(Limits, TheLargestDimensionsAreAccepted)
{
    write("in.raw", noise_image(32767, 81));
    for (const char *size : {"-r32767,81", "-r81,32767"}) {
        SCOPED_TRACE(size);
        Outcome run = wsq1({size, "in.raw"});
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<ImageStream> images = parsed(run.out);
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(hex(images[0].find(0xA2)->bytes.substr(6, 4)),
                  size[2] == '3' ? "00 51 7F FF" : "7F FF 00 51");
    }
    // 32 and 32767 pass the dimension checks (the image is refused later).
    Outcome narrow = wsq1({"-r32767,32", "in.raw"});
    EXPECT_EQ(narrow.status, 1);
    EXPECT_EQ(past_banner(narrow.err),
              fatal_line("image of 32 lines by 32767 samples too small for the subband "
                         "variances"));
}

TEST_F(Limits, AMissingInputStopsTheRunAfterTheImagesBeforeIt)
{
    write("a.raw", noise_image(512, 512, 1));
    write("b.raw", noise_image(512, 512, 2));
    Outcome run = wsq1({"a.raw", "b.raw", "missing.raw", "a.raw"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, wsq1({"a.raw", "b.raw"}).out);
    EXPECT_EQ(summaries(run.err).size(), 2u);
    EXPECT_TRUE(assertion_report(last_line(run.err), "infile")) << run.err;

    Outcome first = wsq1({"-oout", "missing.raw", "a.raw"});
    EXPECT_EQ(first.status, 2);
    EXPECT_TRUE(assertion_report(past_banner(first.err), "infile")) << first.err;
    EXPECT_EQ(read("out.wsq"), "");
}

TEST_F(Limits, AnInputThatOpensButCannotBeReadIsFatal)
{
    std::filesystem::create_directory(path("folder"));
    Outcome run = wsq1({"folder"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(past_banner(run.err).rfind("Error! Fatal input flaw: could not read folder: ", 0), 0u)
        << run.err;
}

}  // namespace
}  // namespace cli
