/* Filter records: periodized tables, half lengths and type pairs. */
#include "unit_helpers.h"

using wsqtest::Filter;

namespace {

/* Block of period q = 2m: its second copy starts at element 2m*m. */
const real *period_block(const pqf *filter, int q) { return filter->fp + q * q / 2; }

}  // namespace

TEST(MakePqf, PeriodTables)
{
    Filter h0 = wsqtest::wsq_lowpass(), h1 = wsqtest::wsq_highpass();
    const real *f = h0->f;
    /* Period 8 occupies elements 24 to 39, the end of the 40-real table. */
    const real *p8 = period_block(h0.get(), 8);
    EXPECT_EQ(std::vector<real>(p8, p8 + 8),
              (std::vector<real>{f[0], f[1], f[2], f[3], f[-4] + f[4], f[-3], f[-2], f[-1]}));
    const real *p2 = period_block(h0.get(), 2);
    EXPECT_EQ(p2[0], (((0.0f + f[-4]) + f[-2]) + f[0]) + f[2] + f[4]);
    EXPECT_EQ(p2[1], ((0.0f + f[-3]) + f[-1]) + f[1] + f[3]);

    const real *g = h1->f, *p6 = period_block(h1.get(), 6);
    EXPECT_EQ(std::vector<real>(p6 - 6, p6 + 6),
              (std::vector<real>{g[0], g[1], g[-4] + g[2], g[-3], g[-2], g[-1], g[0], g[1],
                                 g[-4] + g[2], g[-3], g[-2], g[-1]}))
        << "each period block is stored twice";

    const real three[3] = {1.0f, 2.0f, 4.0f};
    Filter small(makepqf("three", three, -1, 1, 0));
    EXPECT_EQ(std::vector<real>(small->fp, small->fp + 4), (std::vector<real>{2, 5, 2, 5}));
    Filter two(makepqf("two", three, -1, 0, 4));
    EXPECT_EQ(two->fp, nullptr) << "no period below the filter's length";
}

TEST(Cdplength, HalfLengthsByTypeAndPairs)
{
    EXPECT_EQ(cdplength(9, 2), 5);
    EXPECT_EQ(cdplength(9, 3), 4);
    EXPECT_EQ(cdplength(9, 4), 5);
    EXPECT_EQ(cdplength(9, 5), 4);
    EXPECT_EQ(cdplength(1, 3), 0);
    for (int type : {0, 1, 2, 3, 4, 5})
        EXPECT_EQ(cdplength(8, type), 4) << "type " << type;
    const int partner[6] = {1, 0, 3, 2, 5, 4};
    for (int type = 0; type < 6; type++)
        EXPECT_EQ(cpqftype(type), partner[type]);
    for (int low : {2, 4})
        for (int length = 1; length <= 40; length++)
            EXPECT_EQ(cdplength(length, low) + cdplength(length, cpqftype(low)), length);
}
