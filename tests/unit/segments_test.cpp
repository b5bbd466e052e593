/* Table segment bodies: transform, quantization and frame values. */
#include "unit_helpers.h"

#include <cstring>

using wsqtest::Bytes;
using wsqtest::Filter;
using wsqtest::FilterBank;

namespace {

Bytes fix48(real value)
{
    ui8 bytes[6];
    writefix48(bytes, value);
    return Bytes(bytes, bytes + 6);
}

Bytes fix24(real value)
{
    ui8 bytes[3];
    writefix24(bytes, value);
    return Bytes(bytes, bytes + 3);
}

Bytes dtt_body(const pqf *hqf, const pqf *gqf)
{
    ui8 body[3074];
    return Bytes(body, wsqwdtt(body, hqf, gqf));
}

void expect_filter(const pqf *filter, const char *name, int alpha, int omega, int type)
{
    ASSERT_NE(filter, nullptr) << name;
    EXPECT_STREQ(filter->name, name);
    EXPECT_EQ(filter->alpha, alpha) << name;
    EXPECT_EQ(filter->omega, omega) << name;
    EXPECT_EQ(filter->type, type) << name;
}

/* Synthesis taps from the analysis taps: F0(n) = (-1)^n H1(-1 - n) and
 * F1(n) = (-1)^(n + 1) H0(-1 - n); only signs change. */
void expect_synthesis_from_analysis(const FilterBank &bank)
{
    for (int n = bank.f0->alpha; n <= bank.f0->omega; n++)
        EXPECT_EQ(bank.f0->f[n], (n % 2 ? -1.0f : 1.0f) * bank.h1->f[-1 - n]) << "F0 " << n;
    for (int n = bank.f1->alpha; n <= bank.f1->omega; n++)
        EXPECT_EQ(bank.f1->f[n], (n % 2 ? 1.0f : -1.0f) * bank.h0->f[-1 - n]) << "F1 " << n;
}

void expect_same_taps(const pqf *read, const pqf *written)
{
    ASSERT_EQ(read->alpha, written->alpha);
    ASSERT_EQ(read->omega, written->omega);
    for (int n = read->alpha; n <= read->omega; n++)
        EXPECT_EQ(read->f[n], written->f[n]) << read->name << " tap " << n;
}

}  // namespace

TEST(Wsqwdtt, WsqFiltersStoreTheirRightHalves)
{
    Filter h0 = wsqtest::wsq_lowpass(), h1 = wsqtest::wsq_highpass();
    const Bytes body = dtt_body(h0.get(), h1.get());
    ASSERT_EQ(body.size(), 56u);
    EXPECT_EQ(body[0], 9);
    EXPECT_EQ(body[1], 7);
    Bytes expected = {9, 7};
    for (int n = 0; n <= 4; n++) {
        const Bytes number = fix48(h0->f[n]);
        expected.insert(expected.end(), number.begin(), number.end());
    }
    for (int n = -1; n <= 2; n++) {
        const Bytes number = fix48(h1->f[n]);
        expected.insert(expected.end(), number.begin(), number.end());
    }
    EXPECT_EQ(body, expected);
    EXPECT_EQ(Bytes(body.begin() + 2, body.begin() + 8),
              (Bytes{0x00, 0x09, 0x32, 0xD3, 0x26, 0x3B}));
    EXPECT_EQ(Bytes(body.begin() + 14, body.begin() + 20),
              (Bytes{0x01, 0x0A, 0x41, 0xEF, 0xF1, 0xBB}));
    EXPECT_EQ(Bytes(body.begin() + 32, body.begin() + 38),
              (Bytes{0x00, 0x09, 0x2E, 0xFF, 0x55, 0xD2}));
    EXPECT_EQ(Bytes(body.begin() + 44, body.begin() + 50),
              (Bytes{0x01, 0x0B, 0xF2, 0x87, 0x1F, 0x36}));
}

TEST(Wsqwdtt, AsymmetricTypesStoreEveryTap)
{
    const real taps[5] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
    Filter h(makepqf("h", taps, -1, 2, 0)), g(makepqf("g", taps, -2, 2, 1));
    const Bytes body = dtt_body(h.get(), g.get());
    ASSERT_EQ(body.size(), 2u + 6 * (4 + 5));
    EXPECT_EQ(body[0], 4);
    EXPECT_EQ(body[1], 5);
    EXPECT_EQ(Bytes(body.begin() + 2, body.begin() + 8), fix48(0.1f)) << "h starts at alpha";
    EXPECT_EQ(Bytes(body.begin() + 26, body.begin() + 32), fix48(0.1f)) << "g starts at alpha";
    EXPECT_EQ(Bytes(body.end() - 6, body.end()), fix48(0.5f));
}

TEST(Wsqrdtt, RebuildsTheWsqFilterBank)
{
    Filter h0 = wsqtest::wsq_lowpass(), h1 = wsqtest::wsq_highpass();
    const Bytes body = dtt_body(h0.get(), h1.get());
    pqf *filters[4] = {};
    EXPECT_EQ(wsqrdtt(filters, body.data()), body.data() + 56);
    FilterBank bank{Filter(filters[0]), Filter(filters[1]), Filter(filters[2]),
                    Filter(filters[3])};
    expect_filter(bank.h0.get(), "H0", -4, 4, 2);
    expect_filter(bank.h1.get(), "H1", -4, 2, 3);
    expect_filter(bank.f0.get(), "F0", -3, 3, 2);
    expect_filter(bank.f1.get(), "F1", -5, 3, 3);
    expect_same_taps(bank.h0.get(), h0.get());
    expect_same_taps(bank.h1.get(), h1.get());
    expect_synthesis_from_analysis(bank);
    EXPECT_EQ(bank.f0->f[0], WSQh1gbqf[3]);
    EXPECT_EQ(bank.f0->f[1], -WSQh1gbqf[2]);
    EXPECT_EQ(bank.f1->f[-1], WSQh0hbqf[4]);
    EXPECT_EQ(bank.f1->f[0], -WSQh0hbqf[3]);
}

TEST(Wsqrdtt, RebuildsAnEvenLengthBank)
{
    /* Low pass symmetric about -1/2 (type 4), high pass antisymmetric (type 5). */
    const real low[4] = {0.25f, 0.75f, 0.75f, 0.25f};
    const real high[4] = {0.125f, -0.5f, 0.5f, -0.125f};
    Filter h(makepqf("h", low, -2, 1, 4)), g(makepqf("g", high, -2, 1, 5));
    const Bytes body = dtt_body(h.get(), g.get());
    ASSERT_EQ(body.size(), 2u + 6 * (2 + 2));
    EXPECT_EQ(Bytes(body.begin() + 2, body.begin() + 8), fix48(0.75f)) << "stored from tap 0";

    const FilterBank bank = wsqtest::read_filter_bank(h.get(), g.get());
    expect_filter(bank.h0.get(), "H0", -2, 1, 4);
    expect_filter(bank.h1.get(), "H1", -2, 1, 5);
    expect_filter(bank.f0.get(), "F0", -2, 1, 4);
    expect_filter(bank.f1.get(), "F1", -2, 1, 5);
    expect_same_taps(bank.h0.get(), h.get());
    expect_same_taps(bank.h1.get(), g.get());
    expect_synthesis_from_analysis(bank);
}

TEST(QuantizationTable, RoundTrip)
{
    real qs[64], zs[64];
    for (int k = 0; k < 64; k++) {
        qs[k] = k < 60 ? 0.37f * k + 0.011f : 0.0f;
        zs[k] = 1.2f * qs[k];
    }
    qs[17] = zs[17] = 0.0f;
    ui8 body[400];
    std::memset(body, 0xEE, sizeof body);
    ASSERT_EQ(wsqwdqt(body, 0.44f, qs, zs, 64), body + 387);
    EXPECT_EQ(body[387], 0xEE);
    EXPECT_EQ(Bytes(body, body + 3), (Bytes{0x05, 0xAB, 0xE0}));
    EXPECT_EQ(Bytes(body + 3, body + 6), fix24(qs[0]));
    EXPECT_EQ(Bytes(body + 6, body + 9), fix24(zs[0]));
    EXPECT_EQ(Bytes(body + 3 + 6 * 17, body + 9 + 6 * 17), Bytes(6, 0));

    real center = 0.0f, qs_read[64], zs_read[64];
    ASSERT_EQ(wsqrdqt(&center, qs_read, zs_read, 64, body), body + 387);
    EXPECT_EQ(center, 0.44f);
    for (int k = 0; k < 64; k++) {
        EXPECT_NEAR(qs_read[k], qs[k], 1.6e-4 * qs[k]) << "subband " << k;
        EXPECT_NEAR(zs_read[k], zs[k], 1.6e-4 * zs[k]) << "subband " << k;
    }
    EXPECT_EQ(qs_read[17], 0.0f);
    EXPECT_EQ(zs_read[63], 0.0f);
}

TEST(QuantizationTable, FewerBlocks)
{
    const real qs[2] = {1.0f, 65535.0f}, zs[2] = {12.345f, 0.0f};
    ui8 body[15];
    ASSERT_EQ(wsqwdqt(body, 0.5f, qs, zs, 2), body + 15);
    EXPECT_EQ(Bytes(body + 3, body + 15),
              (Bytes{0x04, 0x27, 0x10, 0x03, 0x30, 0x39, 0x00, 0xFF, 0xFF, 0, 0, 0}));
    real center, qs_read[2], zs_read[2];
    EXPECT_EQ(wsqrdqt(&center, qs_read, zs_read, 2, body), body + 15);
    EXPECT_EQ(center, 0.5f);
    EXPECT_EQ(qs_read[1], 65535.0f);
    EXPECT_EQ(zs_read[0], 12.345f);
}

TEST(FrameValues, MidpointAndRescale)
{
    ui8 body[7];
    body[6] = 0xEE;
    ASSERT_EQ(wsqwmr(body, 127.5f, 0.99609375f), body + 6);
    EXPECT_EQ(body[6], 0xEE);
    EXPECT_EQ(Bytes(body, body + 3), fix24(127.5f));
    EXPECT_EQ(Bytes(body + 3, body + 6), fix24(0.99609375f));
    EXPECT_EQ(Bytes(body, body + 3), (Bytes{0x02, 0x31, 0xCE}));

    real midpoint = 0.0f, rescale = 0.0f;
    EXPECT_EQ(wsqrmr(body, &midpoint, &rescale), body + 6);
    EXPECT_EQ(midpoint, 127.5f);
    EXPECT_EQ(rescale, 0.996f) << "four decimals of the fix24 number";
}
