// The bit allocation stage of the encoder, run on variances set by hand. The
// encoder's source is compiled into this test so that its stages and state
// (file-level, in an unnamed namespace) can be reached directly; this file
// therefore builds into an executable of its own.
#include "wsq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#define main wsq1_main
#include "../../src/wsq1.cpp"
#undef main

namespace {

// A value rounded to five significant figures.
std::string five(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.5g", value);
    return text;
}

void set_variances(double first4, double middle, double last)
{
    for (int k = 0; k < WSQ_SUBBANDS; ++k)
        variance[k] = k < 4 ? first4 : k < 51 ? middle : k < 60 ? last : 0.0;
}

TEST(SeekQuality, DropsSubbandsOfNonPositiveRateAndKeepsTheirWidths)
{
    set_variances(1000000.0, 1000.0, 2.0);
    bitrate = 0.75;
    seek_quality();
    EXPECT_EQ(five(quality), "0.13527");
    for (int k = 0; k < 51; ++k) {
        EXPECT_EQ(five(qs[k]), k < 4 ? "7.3924" : "10.702") << k;
        EXPECT_EQ(five(zs[k]), k < 4 ? "8.8709" : "12.842") << k;
    }
    EXPECT_EQ(five(qs[51]) + " " + five(zs[51]) + " " + five(qs[52]), "106.65 127.98 80.795");
    for (int k = 0; k < 64; ++k)  // the zero bin in single precision
        EXPECT_EQ(zs[k], k < 60 ? (real)((double)qs[k] * 1.2) : 0.0f) << k;
}

TEST(SeekQuality, ASingleActiveSubbandTakesTheWholeRate)
{
    // Subbands 0 to 3 are coded at 1/q but take no part in the rate; a
    // variance of exactly 1.01 is coded, one just below it is not.
    set_variances(0.5, 0.5, 0.5);
    variance[20] = 1.01;
    variance[21] = std::nextafter(1.01, 0.0);
    bitrate = 0.01;  // rate of subband 20: 0.01 * 256 bits per coefficient
    seek_quality();
    EXPECT_EQ(five(qs[20]), five(5.0 * std::sqrt(1.01) * std::pow(2.0, -0.01 * 256)));
    EXPECT_EQ(five(qs[0]), five(1.0 / quality));
    EXPECT_EQ(qs[21] + zs[21], 0.0f);
}

TEST(SeekQuality, NoActiveSubbandIsFatal)
{
    set_variances(0.5, 0.5, 0.5);
    bitrate = 0.75;
    EXPECT_EXIT(seek_quality(), ::testing::ExitedWithCode(1),
                "^Error! Fatal input flaw: no active subbands after wavelet packet transform\\.\n$");
}

}  // namespace
