/* The bit allocation on variances set by hand: the quality factor and the
 * bin widths it gives, worked out independently to five figures. */
#include "unit_helpers.h"

#include <cmath>
#include <string>
#include <vector>

namespace {

/* A value rounded to five significant figures. */
std::string five(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.5g", value);
    return text;
}

std::vector<double> variances(double first4, double middle, double last)
{
    std::vector<double> variance(WSQ_SUBBANDS);
    for (int k = 0; k < WSQ_SUBBANDS; ++k)
        variance[k] = k < 4 ? first4 : k < 51 ? middle : k < 60 ? last : 0.0;
    return variance;
}

TEST(BinWidths, DropSubbandsOfNonPositiveRate)
{
    real qs[WSQ_SUBBANDS] = {}, zs[WSQ_SUBBANDS] = {};
    double quality = binwidths(qs, zs, variances(1000000.0, 1000.0, 2.0).data(), 0.75);
    EXPECT_EQ(five(quality), "0.13527");
    for (int k = 0; k < 51; ++k) {
        EXPECT_EQ(five(qs[k]), k < 4 ? "7.3924" : "10.702") << k;
        EXPECT_EQ(five(zs[k]), k < 4 ? "8.8709" : "12.842") << k;
    }
    EXPECT_EQ(five(qs[51]) + " " + five(zs[51]) + " " + five(qs[52]), "106.65 127.98 80.795");
    for (int k = 60; k < 64; ++k)
        EXPECT_EQ(qs[k] + zs[k], 0.0f) << k;
}

TEST(BinWidths, ASingleActiveSubbandTakesTheWholeRate)
{
    // Subbands 0 to 3 are coded at 1/q but take no part in the rate; a
    // variance of exactly 1.01 is coded, one just below it is not.
    std::vector<double> variance = variances(0.5, 0.5, 0.5);
    variance[20] = 1.01;
    variance[21] = std::nextafter(1.01, 0.0);
    real qs[WSQ_SUBBANDS] = {}, zs[WSQ_SUBBANDS] = {};
    double quality = binwidths(qs, zs, variance.data(), 0.01);  // 0.01 * 256 bits per coefficient
    EXPECT_EQ(five(qs[20]), "0.85211");  // 5 sqrt(1.01) 2^-2.56
    EXPECT_EQ(five(qs[0]), five(1.0 / quality));
    EXPECT_EQ(qs[21] + zs[21], 0.0f);
}

TEST(BinWidths, NoActiveSubbandGivesNoQuality)
{
    real qs[WSQ_SUBBANDS] = {}, zs[WSQ_SUBBANDS] = {};
    EXPECT_EQ(binwidths(qs, zs, variances(0.5, 0.5, 0.5).data(), 0.75), 0.0);
}

}  // namespace
