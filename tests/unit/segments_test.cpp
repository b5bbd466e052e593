/* Table segment bodies: transform, quantization and frame values. */
#include "unit_helpers.h"

using wsqtest::Bytes;
using wsqtest::Filter;

namespace {

/* The transform table of an analysis pair; the filters rebuilt from it must
 * have the ranges and types given (H0, H1, F0, F1) and the analysis taps. */
Bytes transform_table(const pqf *h, const pqf *g, const std::vector<int> &ranges_and_types)
{
    ui8 body[3074];
    const Bytes bytes(body, wsqwdtt(body, h, g));
    pqf *rebuilt[4] = {};
    EXPECT_EQ(wsqrdtt(rebuilt, body), body + bytes.size());
    std::vector<int> read;
    for (pqf *filter : rebuilt)
        read.insert(read.end(), {filter->alpha, filter->omega, filter->type});
    EXPECT_EQ(read, ranges_and_types);
    for (int n = h->alpha; n <= h->omega; n++)
        EXPECT_EQ(rebuilt[0]->f[n], h->f[n]) << "H0 tap " << n;
    for (int n = g->alpha; n <= g->omega; n++)
        EXPECT_EQ(rebuilt[1]->f[n], g->f[n]) << "H1 tap " << n;
    for (pqf *filter : rebuilt)
        freepqf(filter);
    return bytes;
}

}  // namespace

TEST(TransformTable, SymmetricFiltersStoreTheirRightHalvesAndRebuildTheBank)
{
    Filter h0 = wsqtest::wsq_lowpass(), h1 = wsqtest::wsq_highpass();
    // Lengths 9 and 7, then H0 taps 0 to 4 and H1 taps -1 to 2, each as a sign, a scale
    // and four bytes of value.
    const Bytes expected = {
        0x09, 0x07, 0x00, 0x09, 0x32, 0xD3, 0x26, 0x3B, 0x00, 0x0A, 0xE0, 0xF3, 0x1A, 0x84,
        0x01, 0x0A, 0x41, 0xEF, 0xF1, 0xBB, 0x01, 0x0B, 0x8E, 0x27, 0x65, 0x3F, 0x00, 0x0B,
        0xE1, 0x79, 0xA4, 0xDD, 0x00, 0x09, 0x2E, 0xFF, 0x55, 0xD2, 0x01, 0x0A, 0xF9, 0x33,
        0xD1, 0xB6, 0x01, 0x0B, 0xF2, 0x87, 0x1F, 0x36, 0x00, 0x0A, 0x26, 0x77, 0xDA, 0x0B,
    };
    EXPECT_EQ(transform_table(h0.get(), h1.get(), {-4, 4, 2, -4, 2, 3, -3, 3, 2, -5, 3, 3}), expected);
}

TEST(QuantizationTable, RoundTrip)
{
    real qs[64], zs[64];
    for (int k = 0; k < 64; k++) {
        qs[k] = k < 60 && k != 17 ? 0.37f * k + 1.0f : 0.0f;
        zs[k] = k ? 1.2f * qs[k] : 12.345f;
    }
    ui8 body[388];
    body[387] = 0xEE;
    ASSERT_EQ(wsqwdqt(body, 0.44f, qs, zs, 64), body + 387);
    EXPECT_EQ(body[387], 0xEE);
    EXPECT_EQ(Bytes(body, body + 9), (Bytes{0x05, 0xAB, 0xE0, 0x04, 0x27, 0x10, 0x03, 0x30, 0x39}));
    EXPECT_EQ(Bytes(body + 3 + 6 * 17, body + 9 + 6 * 17), Bytes(6, 0));

    real center = 0.0f, qs_read[64], zs_read[64];
    ASSERT_EQ(wsqrdqt(&center, qs_read, zs_read, 64, body), body + 387);
    EXPECT_EQ(center, 0.44f);
    for (int k = 0; k < 64; k++) {
        EXPECT_NEAR(qs_read[k], qs[k], 1.6e-4 * qs[k]) << "subband " << k;
        EXPECT_NEAR(zs_read[k], zs[k], 1.6e-4 * zs[k]) << "subband " << k;
    }
}

TEST(FrameValues, MidpointAndRescale)
{
    ui8 body[7];
    body[6] = 0xEE;
    ASSERT_EQ(wsqwmr(body, 127.5f, 0.99609375f), body + 6);
    EXPECT_EQ(Bytes(body, body + 7), (Bytes{0x02, 0x31, 0xCE, 0x04, 0x26, 0xE8, 0xEE}));
    real midpoint = 0.0f, rescale = 0.0f;
    EXPECT_EQ(wsqrmr(body, &midpoint, &rescale), body + 6);
    EXPECT_EQ(midpoint, 127.5f);
    EXPECT_EQ(rescale, 0.996f) << "four decimals of the fix24 number";
}
