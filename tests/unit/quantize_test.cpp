/* Scalar quantization with a dead zone, and pixel normalisation. Each
 * kernel runs on single values (its portable path) and on a whole row of
 * them (eight at a time where the processor allows): both must agree. */
#include "unit_helpers.h"

#include <limits>

using wsqtest::Bytes;

namespace {

/* out = kernel(in) for all of in at once, then for each value alone. */
template <typename In, typename Out, typename Kernel>
void expect_each_and_all(const std::vector<In> &in, const std::vector<Out> &expected, Kernel kernel)
{
    std::vector<Out> out(in.size() + 1, Out(77));
    kernel(out.data(), in.data(), in.size());
    EXPECT_EQ(out.back(), Out(77)) << "wrote past the end";
    out.pop_back();
    EXPECT_EQ(out, expected);
    for (std::size_t n = 0; n < in.size(); n++) {
        kernel(out.data(), &in[n], 1);
        EXPECT_EQ(out[0], expected[n]) << "value " << n << " alone";
    }
}

}  // namespace

TEST(Wsqqnt, DeadZoneAndBins)
{
    const std::vector<real> in = {0.0f, 1.5f, 1.6f, 3.49f, 3.5f, -1.5f, -2.0f, -3.5f,
                                  5.4f, -5.6f, 1001.5f, -1001.5f, 1.5f, 1.6f, -1.5f, -1.6f};
    expect_each_and_all(in, std::vector<int32>{0, 0, 1, 1, 2, 0, -1, -2, 2, -3, 501, -501, 0, 1, 0, -1},
                        [](int32 *out, const real *x, ui32 n) { wsqqnt(out, x, n, 2.0f, 3.0f); });
    /* Indices beyond 2^31 - 1 saturate. */
    expect_each_and_all(std::vector<real>{3e9f, -3e9f}, std::vector<int32>{INT32_MAX, INT32_MIN + 1},
                        [](int32 *out, const real *x, ui32 n) { wsqqnt(out, x, n, 1.0f, 0.0f); });
    expect_each_and_all(std::vector<real>{1e6f, -3.0f, 0.5f}, std::vector<int32>{0, 0, 0},
                        [](int32 *out, const real *x, ui32 n) { wsqqnt(out, x, n, 0.0f, 3.0f); });
}

TEST(Wsqunq, BinCenters)
{
    /* Bin k > 0 returns to 0.44 of the way across it from its inner edge. */
    expect_each_and_all(std::vector<int32>{1, -1, 2, 0, -3, 1, -1, 2, 501},
                        std::vector<real>{2.62f, -2.62f, 4.62f, 0.0f, -6.62f, 2.62f, -2.62f, 4.62f, 1002.62f},
                        [](real *out, const int32 *x, ui32 n) { wsqunq(out, x, n, 0.44f, 2.0f, 3.0f); });
    expect_each_and_all(std::vector<int32>{5, -5, 0}, std::vector<real>{0, 0, 0},
                        [](real *out, const int32 *x, ui32 n) { wsqunq(out, x, n, 0.44f, 0.0f, 3.0f); });
}

TEST(Wsqr2b, RoundsHalfUpAndClamps)
{
    expect_each_and_all(std::vector<real>{254.5f, 254.49f, -0.4f, -3.0f, 300.0f, 0.5f, 0.49f, 127.0f, 1.5f},
                        Bytes{255, 254, 0, 0, 255, 1, 0, 127, 2},
                        [](ui8 *out, const real *x, ui32 n) { wsqr2b(out, x, n, 0.0f, 1.0f); });
    expect_each_and_all(std::vector<real>{-1.0f, 1.0f}, Bytes{98, 102},
                        [](ui8 *out, const real *x, ui32 n) { wsqr2b(out, x, n, 100.0f, 2.0f); });
    /* Sixteen at once: halves that round up only through the narrowing to
     * single precision, extremes, and values that are not numbers. */
    const real inf = std::numeric_limits<real>::infinity(), nan = std::numeric_limits<real>::quiet_NaN();
    expect_each_and_all(std::vector<real>{0.49999997f, 254.49998f, 1.4999999f, 255.49998f, -0.0f, -0.50000006f,
                                          1e30f, -1e30f, inf, -inf, nan, -nan, 3.0e9f, 16777215.0f, 99.99999f, 0.5f},
                        Bytes{1, 254, 1, 255, 0, 0, 255, 0, 255, 0, 0, 0, 255, 255, 100, 1},
                        [](ui8 *out, const real *x, ui32 n) { wsqr2b(out, x, n, 0.0f, 1.0f); });
}

TEST(Wsqb2r, ExtremesOfATwoLevelImage)
{
    expect_each_and_all(Bytes{0, 255, 0, 255, 0, 255, 0, 255, 0},
                        std::vector<real>{-128, 128, -128, 128, -128, 128, -128, 128, -128},
                        [](real *out, const ui8 *x, ui32 n) { wsqb2r(out, x, n, 127.5f, 0.99609375f); });
}
