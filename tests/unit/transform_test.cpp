/* Convolution-decimation, its adjoint and the in-place 2-D transforms. */
#include "unit_helpers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

using wsqtest::Filter;
using wsqtest::FilterBank;
using wsqtest::Hedge;

namespace {

const int kWide = 8; /* one-hot probes have taps -8 .. 8 */

/* A filter whose only non-zero tap is j: it reads one extended sample. */
Filter one_hot(int j, int type)
{
    std::vector<real> taps(2 * kWide + 1, 0.0f);
    taps[j + kWide] = 1.0f;
    return Filter(makepqf("probe", taps.data(), -kWide, kWide, type));
}

/* Extended input sample read by cds at indices -8 .. 9, for x[k] = k. */
std::vector<real> analysis_extension(int type, int ilen)
{
    std::vector<real> in(ilen);
    for (int k = 0; k < ilen; k++)
        in[k] = static_cast<real>(k);
    std::vector<real> read(18, -1.0f);
    for (int j : {8, 7}) { /* output i reads index 2i - j */
        real out[9];
        cds(out, 9, 1, in.data(), ilen, 1, one_hot(j, type).get(), 1);
        for (int i = 0; i < 9; i++)
            read[2 * i - j + 8] = out[i];
    }
    return read;
}

/* Extended input sample read by acds at indices -4 .. (olen + 7) / 2, for
 * y[i] = i + 1 (0 where a term is left out); outputs that pair no tap with
 * an input must be 0. */
std::vector<real> synthesis_extension(int type, int olen, int ilen)
{
    std::vector<real> in(ilen);
    for (int i = 0; i < ilen; i++)
        in[i] = static_cast<real>(i + 1);
    std::vector<real> read((olen + 7) / 2 + 5, -100.0f);
    for (int j = -kWide; j <= kWide; j++) {
        std::vector<real> out(olen, -100.0f);
        acds(out.data(), olen, 1, in.data(), ilen, 1, one_hot(j, type).get(), 1);
        for (int n = 0; n < olen; n++) {
            if ((n + j) % 2 == 0)
                read[(n + j) / 2 + 4] = out[n];
            else
                EXPECT_EQ(out[n], 0.0f) << "type " << type << " tap " << j << " output " << n;
        }
    }
    return read;
}

/* A filter with taps exact in binary, so sums are free of rounding. */
Filter dyadic(int type)
{
    const real taps[5] = {0.25f, -0.5f, 1.0f, 0.75f, 0.125f};
    return Filter(makepqf("dyadic", taps, -2, 2, type));
}

/* The 4-tap orthogonal pair with periodic extension (types 0 and 1); being
 * orthogonal, it serves for synthesis too. */
void orthogonal4(Filter &low, Filter &high)
{
    const double s3 = std::sqrt(3.0), norm = 4.0 * std::sqrt(2.0);
    const real h[4] = {real((1 + s3) / norm), real((3 + s3) / norm), real((3 - s3) / norm),
                       real((1 - s3) / norm)};
    const real g[4] = {h[3], -h[2], h[1], -h[0]}; /* g[j] = (-1)^j h[1 - j], j = -2 .. 1 */
    low.reset(makepqf("O4 H", h, 0, 3, 0));
    high.reset(makepqf("O4 G", g, -2, 1, 1));
}

/* A node filled by cbwp2: the split array and its block starts. */
struct Split {
    std::vector<real> data;
    std::vector<ptrdiff_t> offsets;
    int next;
};

Split analyse(std::vector<real> data, int rows, int cols, const ui8 *levels, int blocks)
{
    Filter h = wsqtest::wsq_lowpass(), g = wsqtest::wsq_highpass();
    Hedge graph(makehedge(blocks, nullptr, levels, nullptr));
    std::vector<real> work(data.size());
    graph->contents[0] = data.data();
    Split split;
    split.next = cbwp2(graph.get(), rows, cols, 0, 0, work.data(), h.get(), g.get(), h.get(),
                       g.get());
    for (int b = 0; b < blocks; b++)
        split.offsets.push_back(static_cast<real *>(graph->contents[b]) - data.data());
    split.data = std::move(data);
    return split;
}

const ui8 one_split[4] = {1, 1, 1, 1};

/* Largest difference after a 64-block WSQ analysis and its synthesis. */
double wsq_round_trip_error(const std::vector<real> &samples, int rows, int cols)
{
    FilterBank bank = wsqtest::wsq_filter_bank();
    Hedge graph = wsqtest::wsq_hedge();
    std::vector<real> data = samples, work(samples.size());
    graph->contents[0] = data.data();
    EXPECT_EQ(cbwp2(graph.get(), rows, cols, 0, 0, work.data(), bank.h0.get(), bank.h1.get(),
                    bank.h0.get(), bank.h1.get()),
              64);
    EXPECT_NE(data, samples) << "the analysis changed nothing";
    EXPECT_EQ(rbwp2(graph.get(), rows, cols, 0, 0, work.data(), bank.f0.get(), bank.f1.get(),
                    bank.f0.get(), bank.f1.get()),
              64);
    double error = 0.0;
    for (std::size_t n = 0; n < samples.size(); n++)
        error = std::max(error, std::fabs(double(data[n]) - samples[n]));
    return error;
}

}  // namespace

TEST(Cds, WholeSampleSymmetricExtension)
{
    const std::vector<real> five = {0, 1, 2, 3, 4, 3, 2, 1, 0, 1, 2, 3, 4, 3, 2, 1, 0, 1};
    std::vector<real> two;
    for (int k = -8; k <= 9; k++)
        two.push_back(static_cast<real>(std::abs(k) % 2));
    for (int type : {2, 3}) {
        EXPECT_EQ(analysis_extension(type, 5), five) << "type " << type;
        EXPECT_EQ(analysis_extension(type, 2), two) << "type " << type;
    }
}

TEST(Cds, HalfSampleSymmetricExtension)
{
    const std::vector<real> four = {0, 1, 2, 3, 3, 2, 1, 0, 0, 1, 2, 3, 3, 2, 1, 0, 0, 1};
    for (int type : {4, 5})
        EXPECT_EQ(analysis_extension(type, 4), four) << "type " << type;

    /* Two taps 0 and 1: output i reads indices 2i and 2i - 1. */
    const real taps[2] = {1.0f, 2.0f};
    const real in[4] = {10.0f, 20.0f, 30.0f, 40.0f};
    Filter pair(makepqf("pair", taps, 0, 1, 4));
    real out[3];
    cds(out, 3, 1, in, 4, 1, pair.get(), 1);
    EXPECT_EQ(out[0], 30.0f) << "index -1 reads x0";
    EXPECT_EQ(out[1], 70.0f);
    EXPECT_EQ(out[2], 120.0f) << "index 4 reads x3";
}

TEST(Cds, PeriodicExtension)
{
    const std::vector<real> three = {1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0};
    for (int type : {0, 1})
        EXPECT_EQ(analysis_extension(type, 3), three) << "type " << type;
}

TEST(Cds, WsqLowPassOnTwoSamplesRepeatsThem)
{
    Filter h0 = wsqtest::wsq_lowpass();
    const real *f = h0->f;
    const real in[2] = {1.0f, 0.0f};
    real out[2];
    cds(out, 2, 1, in, 2, 1, h0.get(), 1);
    const real even = f[-4] + f[-2] + f[0] + f[2] + f[4];
    EXPECT_NEAR(out[0], even, 1e-6);
    EXPECT_NEAR(out[1], even, 1e-6);
}

TEST(Cds, StridesAndAccumulation)
{
    Filter filter = dyadic(2);
    const real in[7] = {3, -1, 4, 1, -5, 9, 2};
    real strided_in[14];
    for (int k = 0; k < 7; k++) {
        strided_in[2 * k] = in[k];
        strided_in[2 * k + 1] = 1000.0f;
    }
    real once[4], twice[4] = {}, strided[12];
    std::fill(strided, strided + 12, 77.0f);
    cds(once, 4, 1, in, 7, 1, filter.get(), 1);
    cds(twice, 4, 1, in, 7, 1, filter.get(), 0);
    cds(twice, 4, 1, in, 7, 1, filter.get(), 0);
    cds(strided, 4, 3, strided_in, 7, 2, filter.get(), 1);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(twice[i], 2 * once[i]) << i;
        EXPECT_EQ(strided[3 * i], once[i]) << i;
        EXPECT_EQ(strided[3 * i + 1], 77.0f) << "wrote between outputs";
    }
}

TEST(Acds, StridesAndAccumulation)
{
    Filter filter = dyadic(3);
    const real in[3] = {3, -1, 4};
    real once[7], twice[7] = {}, strided[14];
    std::fill(strided, strided + 14, 77.0f);
    acds(once, 7, 1, in, 3, 1, filter.get(), 1);
    acds(twice, 7, 1, in, 3, 1, filter.get(), 0);
    acds(twice, 7, 1, in, 3, 1, filter.get(), 0);
    acds(strided, 7, 2, in, 3, 1, filter.get(), 1);
    for (int n = 0; n < 7; n++) {
        EXPECT_EQ(twice[n], 2 * once[n]) << n;
        EXPECT_EQ(strided[2 * n], once[n]) << n;
        EXPECT_EQ(strided[2 * n + 1], 77.0f) << "wrote between outputs";
    }
}

TEST(Acds, ExtensionByTypeAndParity)
{
    struct Case {
        int type, olen, ilen;
        std::vector<real> read; /* indices -4 .. (olen + 7) / 2 */
    };
    const Case cases[] = {
        {0, 8, 4, {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}},
        {1, 8, 4, {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}},
        {2, 8, 4, {4, 4, 3, 2, 1, 2, 3, 4, 4, 3, 2, 1}},
        {2, 9, 5, {5, 4, 3, 2, 1, 2, 3, 4, 5, 4, 3, 2, 1}},
        {3, 8, 4, {4, 3, 2, 1, 1, 2, 3, 4, 3, 2, 1, 1}},
        {3, 9, 4, {4, 3, 2, 1, 1, 2, 3, 4, 4, 3, 2, 1, 1}},
        {4, 8, 4, {4, 3, 2, 1, 1, 2, 3, 4, 4, 3, 2, 1}},
        {4, 9, 5, {4, 3, 2, 1, 1, 2, 3, 4, 5, 4, 3, 2, 1}},
        {5, 8, 4, {-4, -3, -2, -1, 1, 2, 3, 4, -4, -3, -2, -1}},
        {5, 9, 4, {-4, -3, -2, -1, 1, 2, 3, 4, 0, -4, -3, -2, -1}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(synthesis_extension(c.type, c.olen, c.ilen), c.read)
            << "type " << c.type << " olen " << c.olen;
}

TEST(Acds, PeriodicTypesAreTheExactTranspose)
{
    const real taps[5] = {0.3f, -0.7f, 1.1f, 0.45f, -0.2f};
    const int n = 16, half = n / 2;
    for (int type : {0, 1}) {
        Filter filter(makepqf("any", taps, -3, 1, type));
        for (int k = 0; k < n; k++) {
            std::vector<real> unit(n, 0.0f), column(half);
            unit[k] = 1.0f;
            cds(column.data(), half, 1, unit.data(), n, 1, filter.get(), 1);
            for (int i = 0; i < half; i++) {
                std::vector<real> impulse(half, 0.0f), row(n);
                impulse[i] = 1.0f;
                acds(row.data(), n, 1, impulse.data(), half, 1, filter.get(), 1);
                EXPECT_EQ(row[k], column[i]) << "type " << type << " (" << i << ", " << k << ")";
            }
        }
    }
}

TEST(Acds, OrthogonalPairReconstructsEveryEvenLength)
{
    Filter low, high;
    orthogonal4(low, high);
    for (int n = 2; n <= 20; n += 2) {
        const std::vector<real> in = wsqtest::noise(n, 100.0f, n);
        std::vector<real> a(n / 2), d(n / 2), out(n);
        cds(a.data(), n / 2, 1, in.data(), n, 1, low.get(), 1);
        cds(d.data(), n / 2, 1, in.data(), n, 1, high.get(), 1);
        acds(out.data(), n, 1, a.data(), n / 2, 1, low.get(), 1);
        acds(out.data(), n, 1, d.data(), n / 2, 1, high.get(), 0);
        for (int k = 0; k < n; k++)
            EXPECT_NEAR(out[k], in[k], 1e-4) << "length " << n << " sample " << k;
    }
}

namespace {

/* Largest error of one split and one merge of every length from 2 to 40. */
double one_level_error(const FilterBank &bank)
{
    double worst = 0.0;
    for (int n = 2; n <= 40; n++) {
        const int low = cdplength(n, bank.h0->type), high = cdplength(n, bank.h1->type);
        const std::vector<real> in = wsqtest::noise(n, 128.0f, 7 * n);
        std::vector<real> a(low), d(high), out(n, 1e9f);
        cds(a.data(), low, 1, in.data(), n, 1, bank.h0.get(), 1);
        cds(d.data(), high, 1, in.data(), n, 1, bank.h1.get(), 1);
        acds(out.data(), n, 1, a.data(), low, 1, bank.f0.get(), 1);
        acds(out.data(), n, 1, d.data(), high, 1, bank.f1.get(), 0);
        for (int k = 0; k < n; k++) {
            EXPECT_NEAR(out[k], in[k], 2e-4) << "length " << n << " sample " << k;
            worst = std::max(worst, std::fabs(double(out[k]) - in[k]));
        }
    }
    return worst;
}

}  // namespace

TEST(Acds, WsqFilterBankReconstructsEveryLength)
{
    RecordProperty("max_error", std::to_string(one_level_error(wsqtest::wsq_filter_bank())));
}

TEST(Acds, EvenLengthFilterBankReconstructsEveryLength)
{
    const real s = 0.70710678f;
    const real low[2] = {s, s}, high[2] = {s, -s};
    Filter h(makepqf("two-tap H", low, -1, 0, 4)), g(makepqf("two-tap G", high, -1, 0, 5));
    one_level_error(wsqtest::read_filter_bank(h.get(), g.get()));
}

TEST(Cbwp2, DepthZeroLeavesTheArray)
{
    const ui8 levels[1] = {0};
    const std::vector<real> samples = wsqtest::noise(35, 50.0f);
    Split split = analyse(samples, 5, 7, levels, 1);
    EXPECT_EQ(split.next, 1);
    EXPECT_EQ(split.data, samples);

    FilterBank bank = wsqtest::wsq_filter_bank();
    Hedge graph(makehedge(1, nullptr, levels, nullptr));
    std::vector<real> data = samples, work(35);
    graph->contents[0] = data.data();
    EXPECT_EQ(rbwp2(graph.get(), 5, 7, 0, 0, work.data(), bank.f0.get(), bank.f1.get(),
                    bank.f0.get(), bank.f1.get()),
              1);
    EXPECT_EQ(data, samples);
}

TEST(Cbwp2, QuarterBandsOfAnOddNode)
{
    Split split = analyse(wsqtest::noise(35, 50.0f), 5, 7, one_split, 4);
    EXPECT_EQ(split.next, 4);
    EXPECT_EQ(split.offsets, (std::vector<ptrdiff_t>{0, 12, 21, 29}));
}

TEST(Cbwp2, BlocksLieDenselyInBlockOrder)
{
    Filter h = wsqtest::wsq_lowpass(), g = wsqtest::wsq_highpass();
    for (int rows : {33, 64}) {
        const int cols = 35;
        std::vector<int> xs(64), ys(64);
        xywp2(xs.data(), ys.data(), rows, cols, wsqlevels, 0, 0, h.get(), g.get(), h.get(),
              g.get());
        Split split = analyse(wsqtest::noise(rows * cols, 100.0f), rows, cols, wsqlevels, 64);
        EXPECT_EQ(split.next, 64);
        ptrdiff_t start = 0;
        for (int b = 0; b < 64; b++) {
            EXPECT_EQ(split.offsets[b], start) << rows << " x " << cols << " block " << b;
            start += xs[b] * ys[b];
        }
        EXPECT_EQ(start, rows * cols);
    }
}

TEST(Cbwp2, FirstLetterIsTheRowAxis)
{
    const int rows = 6, cols = 8; /* quarter-bands 3 x 4 at offsets 0, 12, 24, 36 */
    const std::vector<real> wave = wsqtest::noise(8, 50.0f);
    std::vector<real> by_row(rows * cols), by_col(rows * cols);
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < cols; c++) {
            by_row[r * cols + c] = wave[r];
            by_col[r * cols + c] = wave[c];
        }
    const std::vector<real> a = analyse(by_row, rows, cols, one_split, 4).data;
    const std::vector<real> b = analyse(by_col, rows, cols, one_split, 4).data;
    real a_gh = 0.0f, b_hg = 0.0f;
    for (int n = 0; n < 12; n++) {
        EXPECT_NEAR(a[12 + n], 0.0f, 1e-4) << "HG of a signal constant along rows";
        EXPECT_NEAR(a[36 + n], 0.0f, 1e-4) << "GG of a signal constant along rows";
        EXPECT_NEAR(b[24 + n], 0.0f, 1e-4) << "GH of a signal constant along columns";
        EXPECT_NEAR(b[36 + n], 0.0f, 1e-4) << "GG of a signal constant along columns";
        a_gh += std::fabs(a[24 + n]);
        b_hg += std::fabs(b[12 + n]);
    }
    EXPECT_GT(a_gh, 10.0f) << "GH carries the change from row to row";
    EXPECT_GT(b_hg, 10.0f) << "HG carries the change along a row";
}

TEST(Cbwp2, ConstantNodeSplitOnce)
{
    const real c = 3.5f;
    const int shapes[][2] = {{2, 2}, {5, 7}, {8, 9}, {3, 2}};
    for (const auto &shape : shapes) {
        const int rows = shape[0], cols = shape[1];
        Split split = analyse(std::vector<real>(rows * cols, c), rows, cols, one_split, 4);
        const ptrdiff_t hh = split.offsets[1];
        for (ptrdiff_t n = 0; n < rows * cols; n++) {
            const real expected = n < hh ? 2 * c : 0.0f;
            EXPECT_NEAR(split.data[n], expected, 2e-5) << rows << " x " << cols << " at " << n;
        }
    }
}

TEST(Cbwp2, ConstantImageCollectsInBlockZero)
{
    const real c = -2.25f;
    for (int side : {33, 64}) {
        Split split = analyse(std::vector<real>(side * 35, c), side, 35, wsqlevels, 64);
        const ptrdiff_t block1 = split.offsets[1];
        for (ptrdiff_t n = 0; n < side * 35; n++) {
            const real expected = n < block1 ? 32 * c : 0.0f;
            EXPECT_NEAR(split.data[n], expected, 1e-3) << side << " x 35 at " << n;
        }
    }
}

TEST(Rbwp2, OneMergeRestoresAnOddNode)
{
    FilterBank bank = wsqtest::wsq_filter_bank();
    const std::vector<real> samples = wsqtest::noise(35, 128.0f);
    Split split = analyse(samples, 5, 7, one_split, 4);
    Hedge graph(makehedge(4, nullptr, one_split, nullptr));
    std::vector<real> work(35);
    for (int b = 0; b < 4; b++)
        graph->contents[b] = split.data.data() + split.offsets[b];
    EXPECT_EQ(rbwp2(graph.get(), 5, 7, 0, 0, work.data(), bank.f0.get(), bank.f1.get(),
                    bank.f0.get(), bank.f1.get()),
              4);
    for (int n = 0; n < 35; n++)
        EXPECT_NEAR(split.data[n], samples[n], 2e-4) << n;
}

TEST(Rbwp2, EachAxisUsesItsOwnFilters)
{
    /* Rows: the WSQ pair on 5 samples; columns: a periodic orthogonal pair on 8. */
    Filter hy, gy;
    orthogonal4(hy, gy);
    FilterBank bank = wsqtest::wsq_filter_bank();
    Hedge graph(makehedge(4, nullptr, one_split, nullptr));
    const std::vector<real> samples = wsqtest::noise(40, 100.0f);
    std::vector<real> data = samples, work(40);
    graph->contents[0] = data.data();
    EXPECT_EQ(cbwp2(graph.get(), 5, 8, 0, 0, work.data(), bank.h0.get(), bank.h1.get(),
                    hy.get(), gy.get()),
              4);
    EXPECT_EQ(static_cast<real *>(graph->contents[1]) - data.data(), 12); /* HH 3 x 4 */
    EXPECT_EQ(static_cast<real *>(graph->contents[3]) - data.data(), 32); /* GH 2 x 4 */
    EXPECT_EQ(rbwp2(graph.get(), 5, 8, 0, 0, work.data(), bank.f0.get(), bank.f1.get(),
                    hy.get(), gy.get()),
              4);
    for (int n = 0; n < 40; n++)
        EXPECT_NEAR(data[n], samples[n], 2e-4) << n;
}

TEST(Rbwp2, WsqTreeRestoresNoiseOfManySizes)
{
    const int shapes[][2] = {{32, 32}, {33, 35}, {32, 47}, {63, 40}, {77, 64}};
    for (const auto &shape : shapes) {
        const int rows = shape[0], cols = shape[1];
        const double error =
            wsq_round_trip_error(wsqtest::noise(rows * cols, 128.0f, rows), rows, cols);
        EXPECT_LT(error, 1e-3) << rows << " x " << cols;
    }
}

namespace {

struct Image {
    const char *name;
    int cols, rows;
};

void PrintTo(const Image &image, std::ostream *os) { *os << image.name; }

class WsqImageRoundTrip : public ::testing::TestWithParam<Image> {};

}  // namespace

TEST_P(WsqImageRoundTrip, RestoresSamples)
{
    const Image image = GetParam();
    const std::size_t count = std::size_t(image.rows) * image.cols;
    const wsqtest::Bytes pixels = wsqtest::read_image(image.name, count);
    ASSERT_EQ(pixels.size(), count) << "cannot read " << image.name;
    std::vector<real> samples(count);
    wsqb2r(samples.data(), pixels.data(), count, 128.0f, 1.0f);

    const double error = wsq_round_trip_error(samples, image.rows, image.cols);
    std::printf("    largest reconstruction error of %s: %.3g\n", image.name, error);
    RecordProperty("max_error", std::to_string(error));
    EXPECT_LT(error, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(
    TestImages, WsqImageRoundTrip,
    ::testing::Values(Image{"sd04_f0001_01.raw", 512, 512},
                      Image{"sd04_f0001_01_crop437x391.raw", 437, 391},
                      Image{"fvc04db3_101_1_crop299x479.raw", 299, 479},
                      Image{"fvc02db1_102_1.raw", 388, 374},
                      Image{"mcc_sample_1_1.raw", 256, 364}),
    [](const ::testing::TestParamInfo<Image> &info) {
        std::string name = info.param.name;
        name = name.substr(0, name.find('.'));
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });
