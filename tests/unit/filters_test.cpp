/* Filter records: taps, periodized tables, half lengths and type pairs. */
#include "unit_helpers.h"

#include <cstring>

using wsqtest::Filter;

namespace {

/* Block of period q = 2m: its second copy starts at element 2m*m. */
const real *period_block(const pqf *filter, int q) { return filter->fp + q * q / 2; }

real tap_sum(const pqf *filter)
{
    real sum = 0.0f;
    for (int j = filter->alpha; j <= filter->omega; j++)
        sum += filter->f[j];
    return sum;
}

/* Each copy of every period block repeats the period and sums to the taps' sum. */
void expect_period_blocks_consistent(const pqf *filter)
{
    const int blocks = (filter->omega - filter->alpha) / 2;
    for (int q = 2; q <= 2 * blocks; q += 2) {
        const real *block = period_block(filter, q);
        real sum = 0.0f;
        for (int k = 0; k < q; k++) {
            EXPECT_EQ(block[k - q], block[k]) << "period " << q << " entry " << k;
            sum += block[k];
        }
        EXPECT_NEAR(sum, tap_sum(filter), 1e-6) << "period " << q;
    }
}

}  // namespace

TEST(MakePqf, CopiesNameTapsAndRange)
{
    const char name[] = "WSQ h0 H";
    Filter h0(makepqf(name, WSQh0hbqf, -4, 4, 2));
    ASSERT_NE(h0, nullptr);
    ASSERT_NE(h0->name, nullptr);
    EXPECT_NE(h0->name, name);
    EXPECT_STREQ(h0->name, name);
    EXPECT_EQ(h0->alpha, -4);
    EXPECT_EQ(h0->omega, 4);
    EXPECT_EQ(h0->type, 2);
    for (int j = -4; j <= 4; j++)
        EXPECT_EQ(h0->f[j], WSQh0hbqf[j + 4]) << "tap " << j;

    real coefs[3] = {1.0f, 2.0f, 3.0f};
    Filter unnamed(makepqf(nullptr, coefs, -2, 0, 7));
    EXPECT_EQ(unnamed->name, nullptr);
    EXPECT_EQ(unnamed->type, 7) << "the type is stored unchecked";
    coefs[0] = 9.0f;
    EXPECT_EQ(unnamed->f[-2], 1.0f) << "taps are copied";
}

TEST(MakePqf, LowPassPeriodTable)
{
    Filter h0 = wsqtest::wsq_lowpass();
    ASSERT_NE(h0->fp, nullptr);
    const real *f = h0->f;

    /* Period 8 occupies elements 24 to 39, the end of the 40-real table. */
    const real *p8 = period_block(h0.get(), 8);
    EXPECT_EQ(p8 - 8, h0->fp + 24);
    const real expected8[8] = {f[0], f[1], f[2], f[3], f[-4] + f[4], f[-3], f[-2], f[-1]};
    for (int k = 0; k < 8; k++)
        EXPECT_EQ(p8[k], expected8[k]) << "k " << k;

    const real *p2 = period_block(h0.get(), 2);
    EXPECT_EQ(p2 - 2, h0->fp);
    EXPECT_EQ(p2[0], (((0.0f + f[-4]) + f[-2]) + f[0]) + f[2] + f[4]);
    EXPECT_EQ(p2[1], ((0.0f + f[-3]) + f[-1]) + f[1] + f[3]);

    expect_period_blocks_consistent(h0.get());
}

TEST(MakePqf, HighPassPeriodTable)
{
    Filter h1 = wsqtest::wsq_highpass();
    ASSERT_NE(h1->fp, nullptr);
    const real *f = h1->f;
    const real *p6 = period_block(h1.get(), 6);
    EXPECT_EQ(p6 - 6, h1->fp + 12) << "24 reals for periods 2, 4, 6";
    const real expected6[6] = {f[0], f[1], f[-4] + f[2], f[-3], f[-2], f[-1]};
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(p6[k], expected6[k]) << "k " << k;
    expect_period_blocks_consistent(h1.get());
}

TEST(MakePqf, ThreeTapTable)
{
    const real coefs[3] = {1.0f, 2.0f, 4.0f};
    Filter filter(makepqf("three", coefs, -1, 1, 0));
    ASSERT_NE(filter->fp, nullptr);
    const real expected[4] = {2.0f, 5.0f, 2.0f, 5.0f};
    for (int k = 0; k < 4; k++)
        EXPECT_EQ(filter->fp[k], expected[k]);
}

TEST(MakePqf, ShortFiltersHaveNoTable)
{
    const real coefs[2] = {0.5f, 0.5f};
    Filter one(makepqf("one", coefs, 0, 0, 0));
    Filter two(makepqf("two", coefs, -1, 0, 4));
    EXPECT_EQ(one->fp, nullptr);
    EXPECT_EQ(two->fp, nullptr);
    EXPECT_EQ(two->f[-1], 0.5f);
}

TEST(Periodize, SumsCongruentTapsInIncreasingIndex)
{
    const real coefs[7] = {1.0f, 10.0f, 100.0f, 1000.0f, 10000.0f, 100000.0f, 1000000.0f};
    const real *f = coefs + 5; /* taps -5 .. 1 */
    real fq[5] = {-1.0f, -1.0f, -1.0f, -1.0f, -7.0f};
    periodize(fq, 4, f, -5, 1);
    EXPECT_EQ(fq[0], 10.0f + 100000.0f);
    EXPECT_EQ(fq[1], 100.0f + 1000000.0f);
    EXPECT_EQ(fq[2], 1000.0f);
    EXPECT_EQ(fq[3], 1.0f + 10000.0f);
    EXPECT_EQ(fq[4], -7.0f) << "wrote past the period";
}

TEST(FreePqf, ReturnsNull)
{
    EXPECT_EQ(freepqf(nullptr), nullptr);
    const real coefs[1] = {1.0f};
    EXPECT_EQ(freepqf(makepqf(nullptr, coefs, 0, 0, 0)), nullptr);
    EXPECT_EQ(freepqf(makepqf("named", WSQh1gbqf, -4, 2, 3)), nullptr);
}

TEST(Cdplength, HalfLengthsByType)
{
    EXPECT_EQ(cdplength(9, 2), 5);
    EXPECT_EQ(cdplength(9, 3), 4);
    EXPECT_EQ(cdplength(9, 4), 5);
    EXPECT_EQ(cdplength(9, 5), 4);
    EXPECT_EQ(cdplength(1, 2), 1);
    EXPECT_EQ(cdplength(1, 3), 0);
    for (int type : {-1, 0, 1, 2, 3, 4, 5, 7})
        EXPECT_EQ(cdplength(8, type), 4) << "type " << type;
}

TEST(Cdplength, PairedHalvesAddUpToTheLength)
{
    for (int low : {2, 4})
        for (int length = 1; length <= 40; length++)
            EXPECT_EQ(cdplength(length, low) + cdplength(length, cpqftype(low)), length)
                << "type " << low << " length " << length;
}

TEST(Cpqftype, PairsTypes)
{
    const int partner[6] = {1, 0, 3, 2, 5, 4};
    for (int type = 0; type < 6; type++)
        EXPECT_EQ(cpqftype(type), partner[type]);
}
