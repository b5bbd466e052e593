/* Block sizes of wavelet-packet trees, convolution-decimation, its adjoint
 * and the in-place 2-D transforms. */
#include "unit_helpers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>

using wsqtest::Filter;

namespace {

/* Analysis low and high pass, synthesis low and high pass. */
struct FilterBank {
    Filter h0, h1, f0, f1;
};

/* The filter bank that a decoder rebuilds from the transform table of an
 * analysis pair. */
FilterBank read_filter_bank(const pqf *hqf, const pqf *gqf)
{
    ui8 body[3074];
    wsqwdtt(body, hqf, gqf);
    pqf *filters[4] = {};
    wsqrdtt(filters, body);
    return {Filter(filters[0]), Filter(filters[1]), Filter(filters[2]), Filter(filters[3])};
}

FilterBank wsq_filter_bank()
{
    return read_filter_bank(wsqtest::wsq_lowpass().get(), wsqtest::wsq_highpass().get());
}

/* Deterministic pseudo-random samples in [-amplitude, amplitude]. */
std::vector<real> noise(std::size_t count, real amplitude, ui32 seed = 12345)
{
    std::vector<real> samples(count);
    for (real &sample : samples) {
        seed = seed * 1664525u + 1013904223u;
        sample = amplitude * (static_cast<real>(seed >> 8) / 8388608.0f - 1.0f);
    }
    return samples;
}

typedef std::vector<std::pair<int, int>> Sizes;
const ui8 one_split[4] = {1, 1, 1, 1};

/* Block sizes (rows, cols) of a tree split with the WSQ filters on both axes. */
Sizes block_sizes(const ui8 *levels, int blocks, int rows, int cols)
{
    Filter h = wsqtest::wsq_lowpass(), g = wsqtest::wsq_highpass();
    std::vector<int> xs(blocks), ys(blocks);
    EXPECT_EQ(xywp2(xs.data(), ys.data(), rows, cols, levels, 0, 0, h.get(), g.get(), h.get(), g.get()),
              blocks);
    Sizes sizes;
    for (int b = 0; b < blocks; b++)
        sizes.push_back({xs[b], ys[b]});
    return sizes;
}

/* The even-length pair (types 4 and 5) as a decoder rebuilds it. */
FilterBank two_tap_bank()
{
    const real s = 0.70710678f, low[2] = {s, s}, high[2] = {s, -s};
    Filter h(makepqf("two-tap H", low, -1, 0, 4)), g(makepqf("two-tap G", high, -1, 0, 5));
    return read_filter_bank(h.get(), g.get());
}

/* cbwp2 in place with bank x along x and y along y, then (with synthesis)
 * rbwp2; returns the block starts after the analysis. */
std::vector<ptrdiff_t> transform(std::vector<real> &data, int rows, int cols, const ui8 *levels,
                                 int blocks, bool synthesis, const FilterBank &x, const FilterBank &y)
{
    wsqtest::Hedge graph(makehedge(blocks, nullptr, levels, nullptr));
    std::vector<real> work(data.size());
    graph->contents[0] = data.data();
    EXPECT_EQ(cbwp2(graph.get(), rows, cols, 0, 0, work.data(), x.h0.get(), x.h1.get(), y.h0.get(),
                    y.h1.get()),
              blocks);
    std::vector<ptrdiff_t> offsets;
    for (int b = 0; b < blocks; b++)
        offsets.push_back(static_cast<real *>(graph->contents[b]) - data.data());
    if (synthesis) {
        EXPECT_EQ(rbwp2(graph.get(), rows, cols, 0, 0, work.data(), x.f0.get(), x.f1.get(), y.f0.get(),
                        y.f1.get()),
                  blocks);
    }
    return offsets;
}

std::vector<ptrdiff_t> analyse(std::vector<real> &data, int rows, int cols, const ui8 *levels, int blocks)
{
    const FilterBank wsq = wsq_filter_bank();
    return transform(data, rows, cols, levels, blocks, false, wsq, wsq);
}

/* Largest difference after an analysis and its synthesis (x along x, y along y). */
double round_trip_error(const std::vector<real> &samples, int rows, int cols, const FilterBank &x,
                        const FilterBank &y, const ui8 *levels = wsqlevels, int blocks = WSQ_SUBBANDS)
{
    std::vector<real> data = samples;
    transform(data, rows, cols, levels, blocks, true, x, y);
    double error = 0.0;
    for (std::size_t n = 0; n < samples.size(); n++)
        error = std::max(error, std::fabs(double(data[n]) - samples[n]));
    return error;
}

/* The pixels of rows x cols noise split by the tree `levels`, the blocks
 * `zeros` made zeros, and rebuilt into pixels (as large): by rbwp2b (with
 * team and sink, the blocks of zeros flagged and left full of 1e30), or by
 * rbwp2 and then wsqr2b. */
void rebuild(wsqtest::Bytes &pixels, int rows, int cols, const ui8 *levels, int blocks,
             bool by_rbwp2b, wsqteam *team = nullptr, const wsq_row_sink *sink = nullptr,
             const std::vector<int> &zeros = {})
{
    const FilterBank wsq = wsq_filter_bank();
    std::vector<real> data = noise(std::size_t(rows) * cols, 150.0f, rows), work(data.size());
    wsqtest::Hedge graph(makehedge(blocks, nullptr, levels, nullptr));
    graph->contents[0] = data.data();
    cbwp2(graph.get(), rows, cols, 0, 0, work.data(), wsq.h0.get(), wsq.h1.get(), wsq.h0.get(), wsq.h1.get());
    std::fill(work.begin(), work.end(), 1e30f);  /* nothing the analysis left there may count */
    std::vector<int> xs(blocks), ys(blocks);
    xywp2(xs.data(), ys.data(), rows, cols, levels, 0, 0, wsq.h0.get(), wsq.h1.get(), wsq.h0.get(), wsq.h1.get());
    std::unique_ptr<bool[]> flags(new bool[blocks]());
    for (int b : zeros) {
        std::fill_n((real *)graph->contents[b], xs[b] * ys[b], by_rbwp2b ? 1e30f : 0.0f);
        flags[b] = true;
    }
    if (by_rbwp2b) {
        rbwp2b(graph.get(), rows, cols, 0, 0, work.data(), wsq.f0.get(), wsq.f1.get(), wsq.f0.get(),
               wsq.f1.get(), team, pixels.data(), 128.0f, 1.0f, sink, flags.get());
    } else {
        rbwp2(graph.get(), rows, cols, 0, 0, work.data(), wsq.f0.get(), wsq.f1.get(), wsq.f0.get(), wsq.f1.get());
        wsqr2b(pixels.data(), data.data(), (ui32)data.size(), 128.0f, 1.0f);
    }
}

wsqtest::Bytes rebuilt_pixels(int rows, int cols, const ui8 *levels, int blocks, bool by_rbwp2b)
{
    wsqtest::Bytes pixels(std::size_t(rows) * cols);
    rebuild(pixels, rows, cols, levels, blocks, by_rbwp2b);
    return pixels;
}

}  // namespace

TEST(Hedge, HoldsCopiesAndReleasesThroughTheCallersFunctions)
{
    static int released_blocks, released_tags;
    int a, b, tag;
    void *const contents[2] = {&a, &b};
    const ui8 levels[2] = {1, 2};
    hedge *graph = makehedge(2, contents, levels, &tag);
    EXPECT_EQ(std::vector<void *>(graph->contents, graph->contents + 2), std::vector<void *>({&a, &b}));
    EXPECT_EQ(wsqtest::Bytes(graph->levels, graph->levels + 2), wsqtest::Bytes({1, 2}));
    freehedge(graph, [](void **, int blocks) -> void * { return released_blocks += blocks, nullptr; },
              [](void *) -> void * { return ++released_tags, nullptr; });
    EXPECT_EQ(released_blocks, 2);
    EXPECT_EQ(released_tags, 1);
    wsqtest::Hedge empty(makehedge(0, nullptr, nullptr, &tag));
    EXPECT_EQ(empty->blocks, 0);
    EXPECT_EQ(empty->tag, &tag);
}

TEST(Xywp2, BlockSizes)
{
    EXPECT_EQ(block_sizes(one_split, 4, 5, 7), (Sizes{{3, 4}, {3, 3}, {2, 4}, {2, 3}}));
    const ui8 two_levels[7] = {2, 2, 2, 2, 1, 1, 1};
    EXPECT_EQ(block_sizes(two_levels, 7, 8, 8), (Sizes{{2, 2}, {2, 2}, {2, 2}, {2, 2}, {4, 4}, {4, 4}, {4, 4}}));
    const Sizes odd = block_sizes(wsqlevels, WSQ_SUBBANDS, 33, 35);
    EXPECT_EQ(Sizes(odd.begin(), odd.begin() + 7), (Sizes{{2, 2}, {2, 1}, {1, 2}, {1, 1}, {3, 2}, {2, 3}, {2, 2}}));
    EXPECT_EQ(Sizes(odd.begin() + 51, odd.begin() + 53), (Sizes{{8, 9}, {9, 9}}));
    EXPECT_EQ(odd[63], (std::pair<int, int>{8, 8}));
    for (int side : {512, 32}) {
        const Sizes sizes = block_sizes(wsqlevels, WSQ_SUBBANDS, side, side);
        for (int b = 0; b < WSQ_SUBBANDS; b++) {
            const int expected = side / (b < 4 ? 32 : b < 51 ? 16 : 4);
            EXPECT_EQ(sizes[b], (std::pair<int, int>{expected, expected})) << side << " block " << b;
        }
    }
    for (auto root : Sizes{{32, 33}, {47, 63}, {100, 37}, {391, 437}, {768, 832}}) {
        long area = 0;
        for (auto size : block_sizes(wsqlevels, WSQ_SUBBANDS, root.first, root.second))
            area += long(size.first) * size.second;
        EXPECT_EQ(area, long(root.first) * root.second) << root.first << " x " << root.second;
    }
}

TEST(Acds, OneLevelReconstructsEveryLength)
{
    for (const FilterBank &bank : {wsq_filter_bank(), two_tap_bank()}) {
        for (int n = 2; n <= 40; n++) {
            const int nl = cdplength(n, bank.h0->type), nh = cdplength(n, bank.h1->type);
            const std::vector<real> in = noise(n, 128.0f, 7 * n);
            std::vector<real> a(nl), d(nh), out(n, 1e9f);
            cds(a.data(), nl, 1, in.data(), n, 1, bank.h0.get(), 1);
            cds(d.data(), nh, 1, in.data(), n, 1, bank.h1.get(), 1);
            acds(out.data(), n, 1, a.data(), nl, 1, bank.f0.get(), 1);
            acds(out.data(), n, 1, d.data(), nh, 1, bank.f1.get(), 0);
            for (int k = 0; k < n; k++)
                EXPECT_NEAR(out[k], in[k], 2e-4) << "types " << bank.h0->type << bank.h1->type
                                                 << " length " << n << " at " << k;
        }
    }
}

TEST(Cbwp2, BlocksLieDenselyInBlockOrder)
{
    std::vector<real> node = noise(35, 50.0f);
    EXPECT_EQ(analyse(node, 5, 7, one_split, 4), (std::vector<ptrdiff_t>{0, 12, 21, 29}));
    for (int rows : {33, 64}) {
        std::vector<real> data = noise(rows * 35, 100.0f);
        const std::vector<ptrdiff_t> offsets = analyse(data, rows, 35, wsqlevels, WSQ_SUBBANDS);
        ptrdiff_t start = 0;
        int b = 0;
        for (auto size : block_sizes(wsqlevels, WSQ_SUBBANDS, rows, 35)) {
            EXPECT_EQ(offsets[b++], start) << rows << " x 35 block " << b - 1;
            start += size.first * size.second;
        }
    }
}

TEST(Cbwp2, ConstantImageCollectsInBlockZero)
{
    /* The low pass gains sqrt(2) on a constant: 32 after 5 levels on both axes. */
    std::vector<real> flat(33 * 35, -2.25f);
    const ptrdiff_t block1 = analyse(flat, 33, 35, wsqlevels, WSQ_SUBBANDS)[1];
    for (ptrdiff_t n = 0; n < 33 * 35; n++)
        EXPECT_NEAR(flat[n], n < block1 ? 32 * -2.25f : 0.0f, 1e-3) << "at " << n;
}

TEST(Rbwp2, RestoresNoiseAndEachAxisUsesItsOwnFilters)
{
    const FilterBank wsq = wsq_filter_bank(), even = two_tap_bank();
    for (auto shape : Sizes{{32, 32}, {33, 35}, {32, 47}, {63, 40}, {77, 64}}) {
        const int rows = shape.first, cols = shape.second;
        EXPECT_LT(round_trip_error(noise(rows * cols, 128.0f, rows), rows, cols, wsq, wsq), 1e-3)
            << rows << " x " << cols;
    }
    EXPECT_LT(round_trip_error(noise(35, 100.0f), 5, 7, wsq, even, one_split, 4), 2e-4);
    EXPECT_LT(round_trip_error(noise(35, 100.0f), 5, 7, even, wsq, one_split, 4), 2e-4);
}

TEST(Rbwp2, RestoresTheBundledImages)
{
    const struct {
        const char *name;
        int cols, rows;
    } images[] = {{"sd04_f0001_01", 512, 512}, {"sd04_f0001_01_crop437x391", 437, 391},
                  {"fvc04db3_101_1_crop299x479", 299, 479}, {"fvc02db1_102_1", 388, 374},
                  {"mcc_sample_1_1", 256, 364}};
    const FilterBank wsq = wsq_filter_bank();
    for (const auto &image : images) {
        const std::size_t count = std::size_t(image.rows) * image.cols;
        wsqtest::Bytes pixels(count + 1);
        std::FILE *file = std::fopen((std::string(WSQ_TEST_DATA) + "/" + image.name + ".raw").c_str(), "rb");
        ASSERT_NE(file, nullptr) << image.name;
        EXPECT_EQ(std::fread(pixels.data(), 1, count + 1, file), count) << image.name;
        std::fclose(file);
        std::vector<real> samples(count);
        wsqb2r(samples.data(), pixels.data(), count, 128.0f, 1.0f);
        EXPECT_LT(round_trip_error(samples, image.rows, image.cols, wsq, wsq), 1e-3) << image.name;
    }
}

/* Whether the HH child's synthesis ends in the scratch (the format's tree)
 * or in place (a leaf), and whatever the other children are. */
TEST(Rbwp2b, GivesThePixelsOfRbwp2ThenWsqr2b)
{
    const ui8 leaf_first[13] = {1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
    const struct {
        const ui8 *levels;
        int blocks;
    } trees[] = {{wsqlevels, WSQ_SUBBANDS}, {leaf_first, 13}, {one_split, 4}};
    for (const auto &tree : trees)
        for (auto shape : Sizes{{64, 64}, {77, 70}})
            EXPECT_TRUE(rebuilt_pixels(shape.first, shape.second, tree.levels, tree.blocks, true) ==
                        rebuilt_pixels(shape.first, shape.second, tree.levels, tree.blocks, false))
                << tree.blocks << " blocks, " << shape.first << " x " << shape.second;
}

/* Rows handed on in order, each once, complete when handed on: with two
 * threads, over two strips of columns (more than a ring holds), in groups
 * of rows that straddle the threads' bands (a copy taken at each hand-on
 * gives the pixels). */
TEST(Rbwp2b, HandsOnEachRowInOrderOnceFinished)
{
    const int rows = 96, cols = 4400;
    struct handed {
        wsqtest::Bytes pixels = wsqtest::Bytes(std::size_t(rows) * cols), copies = pixels;
        std::size_t next = 0;
    } seen;
    wsq_row_sink sink = {[](void *context, std::size_t first, std::size_t count) {
                             handed &h = *(handed *)context;
                             EXPECT_EQ(first, h.next);
                             std::copy_n(h.pixels.begin() + first * cols, count * cols,
                                         h.copies.begin() + first * cols);
                             h.next = first + count;
                         },
                         &seen};
    wsqteam *team = maketeam(2, seen.pixels.size());
    rebuild(seen.pixels, rows, cols, wsqlevels, WSQ_SUBBANDS, true, team, &sink);
    freeteam(team);
    EXPECT_EQ(seen.next, std::size_t(rows));
    EXPECT_TRUE(seen.copies == rebuilt_pixels(rows, cols, wsqlevels, WSQ_SUBBANDS, false));
}

/* Blocks flagged as zeros and left unwritten give the pixels of zeros
 * written: a child other than the HH one of zeros is left unread (GG; GH,
 * whose half along x then holds only GG; all three), and other blocks of
 * zeros are filled (half a child, and some of the HH child's). */
TEST(Rbwp2b, TakesBlocksFlaggedAsZeros)
{
    std::vector<int> all_three(12);
    std::iota(all_three.begin(), all_three.end(), 52);
    for (const std::vector<int> &zeros : {std::vector<int>{60, 61, 62, 63}, std::vector<int>{56, 57, 58, 59},
                                          all_three, std::vector<int>{60, 61}, std::vector<int>{0, 7, 30}}) {
        wsqtest::Bytes flagged(77 * 70), written(77 * 70);
        rebuild(flagged, 77, 70, wsqlevels, WSQ_SUBBANDS, true, nullptr, nullptr, zeros);
        rebuild(written, 77, 70, wsqlevels, WSQ_SUBBANDS, false, nullptr, nullptr, zeros);
        EXPECT_TRUE(flagged == written) << zeros.size() << " blocks from " << zeros[0];
    }
}
