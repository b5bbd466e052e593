/* Scalar quantization with a dead zone, and pixel normalisation. */
#include "unit_helpers.h"

#include <cmath>
#include <cstdlib>

using wsqtest::Bytes;

namespace {

std::vector<int32> quantize(const std::vector<real> &in, real qbin, real zbin)
{
    std::vector<int32> out(in.size() + 1, 777);
    wsqqnt(out.data(), in.data(), in.size(), qbin, zbin);
    EXPECT_EQ(out.back(), 777) << "wrote past the end";
    out.pop_back();
    return out;
}

std::vector<real> dequantize(const std::vector<int32> &in, real center, real qbin, real zbin)
{
    std::vector<real> out(in.size() + 1, 777.0f);
    wsqunq(out.data(), in.data(), in.size(), center, qbin, zbin);
    EXPECT_EQ(out.back(), 777.0f) << "wrote past the end";
    out.pop_back();
    return out;
}

std::vector<real> to_reals(const Bytes &pixels, real midpoint, real rescale)
{
    std::vector<real> out(pixels.size());
    wsqb2r(out.data(), pixels.data(), pixels.size(), midpoint, rescale);
    return out;
}

Bytes to_bytes(const std::vector<real> &samples, real midpoint, real rescale)
{
    Bytes out(samples.size());
    wsqr2b(out.data(), samples.data(), samples.size(), midpoint, rescale);
    return out;
}

Bytes all_byte_values()
{
    Bytes pixels(256);
    for (int p = 0; p < 256; p++)
        pixels[p] = static_cast<ui8>(p);
    return pixels;
}

}  // namespace

TEST(Wsqqnt, DeadZoneAndBins)
{
    EXPECT_EQ(quantize({0.0f, 1.5f, 1.6f, 3.49f, 3.5f, -1.5f, -2.0f, -3.5f}, 2.0f, 3.0f),
              (std::vector<int32>{0, 0, 1, 1, 2, 0, -1, -2}));
    EXPECT_EQ(quantize({5.4f, -5.6f, 1001.5f, -1001.5f}, 2.0f, 3.0f),
              (std::vector<int32>{2, -3, 501, -501}));
}

TEST(Wsqqnt, ZeroBinWidthWritesZeros)
{
    EXPECT_EQ(quantize({1e6f, -3.0f, 0.5f}, 0.0f, 3.0f), (std::vector<int32>{0, 0, 0}));
}

TEST(Wsqunq, BinCenters)
{
    const std::vector<real> out = dequantize({1, -1, 2, 0, -3}, 0.44f, 2.0f, 3.0f);
    EXPECT_FLOAT_EQ(out[0], 2.62f);
    EXPECT_FLOAT_EQ(out[1], -2.62f);
    EXPECT_FLOAT_EQ(out[2], 4.62f);
    EXPECT_EQ(out[3], 0.0f);
    EXPECT_FLOAT_EQ(out[4], -6.62f);
    EXPECT_EQ(dequantize({5, -5, 0}, 0.44f, 0.0f, 3.0f), (std::vector<real>{0, 0, 0}));
}

TEST(Wsqunq, ValuesReturnInsideTheirBins)
{
    const real qbin = 1.7f, zbin = 2.3f, half = zbin / 2;
    std::vector<real> in;
    for (int n = -400; n <= 400; n++)
        in.push_back(0.0625f * n + 0.01f);
    const std::vector<int32> bins = quantize(in, qbin, zbin);
    const std::vector<real> out = dequantize(bins, 0.44f, qbin, zbin);
    for (std::size_t n = 0; n < in.size(); n++) {
        const int32 k = bins[n];
        if (k == 0) {
            EXPECT_LE(std::fabs(in[n]), half) << in[n];
            continue;
        }
        const real edge = half + (std::abs(k) - 1) * qbin; /* inner edge of the bin */
        EXPECT_GE(std::fabs(in[n]), edge - 1e-4f) << in[n];
        EXPECT_LE(std::fabs(in[n]), edge + qbin + 1e-4f) << in[n];
        EXPECT_NEAR(std::fabs(out[n]), edge + (1 - 0.44f) * qbin, 1e-4f) << in[n];
        EXPECT_EQ(out[n] > 0, in[n] > 0) << in[n];
    }
}

TEST(Wsqb2r, ExtremesOfATwoLevelImage)
{
    const std::vector<real> out = to_reals({0, 255, 127, 128}, 127.5f, 0.99609375f);
    EXPECT_EQ(out[0], -128.0f);
    EXPECT_EQ(out[1], 128.0f);
    EXPECT_FLOAT_EQ(out[2], -0.5f / 0.99609375f);
    EXPECT_FLOAT_EQ(out[3], 0.5f / 0.99609375f);
    EXPECT_EQ(to_reals({100}, 100.0f, 1.3f)[0], 0.0f);
}

TEST(Wsqb2r, MultipliesByTheReciprocal)
{
    const real midpoint = 117.83f, rescale = 0.93f;
    const volatile real reciprocal = 1.0f / rescale;
    const std::vector<real> out = to_reals(all_byte_values(), midpoint, rescale);
    int differs_from_division = 0;
    for (int p = 0; p < 256; p++) {
        const volatile real shifted = static_cast<real>(p) - midpoint;
        const volatile real divided = shifted / rescale;
        EXPECT_EQ(out[p], shifted * reciprocal) << "pixel " << p;
        differs_from_division += divided != shifted * reciprocal;
    }
    EXPECT_GT(differs_from_division, 0) << "these values cannot tell the forms apart";
}

TEST(Wsqr2b, RoundsHalfUpAndClamps)
{
    EXPECT_EQ(to_bytes({254.5f, 254.49f, -0.4f, -3.0f, 300.0f, 0.5f, 0.49f, 127.0f}, 0.0f, 1.0f),
              (Bytes{255, 254, 0, 0, 255, 1, 0, 127}));
    EXPECT_EQ(to_bytes({-1.0f, 1.0f}, 100.0f, 2.0f), (Bytes{98, 102}));
}

TEST(PixelConversion, BytesRoundTrip)
{
    const real pairs[][2] = {{127.5f, 0.99609375f}, {93.7f, 1.2f}, {151.25f, 0.9f},
                             {117.83f, 0.93f},      {200.0f, 1.5625f}};
    const Bytes pixels = all_byte_values();
    for (const auto &pair : pairs)
        EXPECT_EQ(to_bytes(to_reals(pixels, pair[0], pair[1]), pair[0], pair[1]), pixels)
            << "M " << pair[0] << " R " << pair[1];
}
