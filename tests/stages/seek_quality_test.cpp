// The bit allocation stage of the encoder, run on variances set by hand. The
// encoder's source is compiled into this test so that its stages and state
// (file-level, in an unnamed namespace) can be reached directly; this file
// therefore builds into an executable of its own.
#include "wsq.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
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
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(five(qs[k]), "7.3924") << k;
        EXPECT_EQ(five(zs[k]), "8.8709") << k;
    }
    for (int k = 4; k <= 50; ++k) {
        EXPECT_EQ(five(qs[k]), "10.702") << k;
        EXPECT_EQ(five(zs[k]), "12.842") << k;
    }
    EXPECT_EQ(five(qs[51]), "106.65");  // taken out, yet coded
    EXPECT_EQ(five(zs[51]), "127.98");
    EXPECT_EQ(five(qs[52]), "80.795");
    for (int k = 60; k < 64; ++k)
        EXPECT_EQ(qs[k], 0.0f);
}

TEST(SeekQuality, ZeroBinIsTheBinWidthTimesOnePointTwoInSinglePrecision)
{
    set_variances(1000000.0, 1000.0, 2.0);
    bitrate = 0.75;
    seek_quality();
    for (int k = 0; k < 60; ++k)
        EXPECT_EQ(zs[k], (real)((double)qs[k] * 1.2)) << k;
}

TEST(SeekQuality, AVarianceOfExactlyOnePointZeroOneIsCoded)
{
    set_variances(1000000.0, 1000.0, 2.0);
    variance[20] = 1.01;
    variance[21] = std::nextafter(1.01, 0.0);
    bitrate = 0.75;
    seek_quality();
    EXPECT_GT(qs[20], 0.0f);
    EXPECT_EQ(qs[21], 0.0f);
    EXPECT_EQ(zs[21], 0.0f);
}

TEST(SeekQuality, ASingleActiveSubbandTakesTheWholeRate)
{
    // Subbands 0 to 3 are coded at 1/q but take no part in the rate.
    set_variances(0.5, 0.5, 0.5);
    variance[30] = 400.0;
    bitrate = 0.01;  // rate of subband 30: 0.01 * 256 bits per coefficient
    seek_quality();
    double expected = 5.0 * std::sqrt(400.0) * std::pow(2.0, -0.01 * 256);
    EXPECT_EQ(five(qs[30]), five(expected));
    EXPECT_EQ(five(qs[0]), five(1.0 / quality));
}

TEST(SeekQuality, NoActiveSubbandIsFatal)
{
    set_variances(0.5, 0.5, 0.5);
    bitrate = 0.75;
    EXPECT_EXIT(
        seek_quality(), ::testing::ExitedWithCode(1),
        "^Error! Fatal input flaw: no active subbands after wavelet packet transform\\.\n$");
}

}  // namespace
