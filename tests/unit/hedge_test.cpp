/* Hedge records and the block geometry of wavelet-packet trees. */
#include "unit_helpers.h"

#include <cstdlib>

using wsqtest::Filter;
using wsqtest::Hedge;

namespace {

struct Size {
    int rows, cols;
};

/* Block sizes of a tree split with the WSQ filters on both axes. */
class BlockSizes {
public:
    BlockSizes(const ui8 *levels, int blocks, int ix, int iy)
        : xs(blocks, -1), ys(blocks, -1)
    {
        Filter h = wsqtest::wsq_lowpass(), g = wsqtest::wsq_highpass();
        next = xywp2(xs.data(), ys.data(), ix, iy, levels, 0, 0, h.get(), g.get(), h.get(),
                     g.get());
    }

    Size operator[](int block) const { return {xs[block], ys[block]}; }
    long area() const
    {
        long sum = 0;
        for (std::size_t b = 0; b < xs.size(); b++)
            sum += long(xs[b]) * ys[b];
        return sum;
    }

    std::vector<int> xs, ys;
    int next;
};

void expect_size(const BlockSizes &sizes, int block, int rows, int cols)
{
    EXPECT_EQ(sizes[block].rows, rows) << "block " << block;
    EXPECT_EQ(sizes[block].cols, cols) << "block " << block;
}

int calls_contents, calls_tag;
void **seen_contents;
int seen_count;
void *seen_tag;

void *record_contents(void **contents, int count)
{
    calls_contents++;
    seen_contents = contents;
    seen_count = count;
    return nullptr;
}

void *record_tag(void *tag)
{
    calls_tag++;
    seen_tag = tag;
    return nullptr;
}

}  // namespace

TEST(MakeHedge, EmptyHedgeKeepsOnlyTheTag)
{
    int owner = 0;
    hedge *graph = makehedge(0, nullptr, nullptr, &owner);
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->blocks, 0);
    EXPECT_EQ(graph->contents, nullptr);
    EXPECT_EQ(graph->levels, nullptr);
    EXPECT_EQ(graph->tag, &owner);

    calls_contents = calls_tag = 0;
    seen_count = -1;
    seen_contents = reinterpret_cast<void **>(&owner);
    EXPECT_EQ(freehedge(graph, record_contents, record_tag), nullptr);
    EXPECT_EQ(calls_contents, 1);
    EXPECT_EQ(seen_contents, nullptr);
    EXPECT_EQ(seen_count, 0);
    EXPECT_EQ(calls_tag, 1);
    EXPECT_EQ(seen_tag, &owner);
}

TEST(MakeHedge, CopiesContentsAndLevels)
{
    int a = 0, b = 0;
    void *contents[2] = {&a, &b};
    ui8 levels[2] = {3, 7};
    hedge *graph = makehedge(2, contents, levels, nullptr);
    contents[0] = nullptr;
    levels[0] = 0;
    EXPECT_EQ(graph->blocks, 2);
    EXPECT_EQ(graph->contents[0], &a);
    EXPECT_EQ(graph->contents[1], &b);
    EXPECT_EQ(graph->levels[0], 3);
    EXPECT_EQ(graph->levels[1], 7);

    calls_contents = calls_tag = 0;
    void **held = graph->contents;
    EXPECT_EQ(freehedge(graph, record_contents, nullptr), nullptr);
    EXPECT_EQ(calls_contents, 1);
    EXPECT_EQ(seen_contents, held);
    EXPECT_EQ(seen_count, 2);
    EXPECT_EQ(calls_tag, 0);
}

TEST(MakeHedge, WithoutLevelsEveryBlockIsTheRoot)
{
    Hedge graph(makehedge(3, nullptr, nullptr, nullptr));
    for (int b = 0; b < 3; b++) {
        EXPECT_EQ(graph->levels[b], 0);
        EXPECT_EQ(graph->contents[b], nullptr);
    }
    BlockSizes sizes(graph->levels, 3, 11, 13);
    EXPECT_EQ(sizes.next, 1);
    expect_size(sizes, 0, 11, 13);
    EXPECT_EQ(sizes.xs[1], -1) << "only the root block is sized";
}

TEST(FreeHedge, NullReleasesNothing)
{
    calls_contents = calls_tag = 0;
    EXPECT_EQ(freehedge(nullptr, record_contents, record_tag), nullptr);
    EXPECT_EQ(calls_contents + calls_tag, 0);
    EXPECT_EQ(freevoid(nullptr), nullptr);
    EXPECT_EQ(freevoid(std::malloc(16)), nullptr);
}

TEST(Xywp2, OneSplitOfAnOddRoot)
{
    const ui8 levels[4] = {1, 1, 1, 1};
    BlockSizes sizes(levels, 4, 5, 7);
    EXPECT_EQ(sizes.next, 4);
    expect_size(sizes, 0, 3, 4);
    expect_size(sizes, 1, 3, 3);
    expect_size(sizes, 2, 2, 4);
    expect_size(sizes, 3, 2, 3);
}

TEST(Xywp2, SecondSplitOfTheLowBand)
{
    const ui8 levels[7] = {2, 2, 2, 2, 1, 1, 1};
    BlockSizes sizes(levels, 7, 8, 8);
    EXPECT_EQ(sizes.next, 7);
    for (int b = 0; b < 4; b++)
        expect_size(sizes, b, 2, 2);
    for (int b = 4; b < 7; b++)
        expect_size(sizes, b, 4, 4);
}

TEST(Xywp2, WsqTree512)
{
    BlockSizes sizes(wsqlevels, WSQ_SUBBANDS, 512, 512);
    EXPECT_EQ(sizes.next, 64);
    for (int b = 0; b < 64; b++) {
        const int side = b < 4 ? 16 : b < 51 ? 32 : 128;
        expect_size(sizes, b, side, side);
    }
    long before51 = 0;
    for (int b = 0; b < 51; b++)
        before51 += long(sizes.xs[b]) * sizes.ys[b];
    EXPECT_EQ(before51, 3L * 128 * 128);
    EXPECT_EQ(sizes.area(), 512L * 512);
}

TEST(Xywp2, WsqTreeSmallest)
{
    BlockSizes sizes(wsqlevels, WSQ_SUBBANDS, 32, 32);
    for (int b = 0; b < 64; b++) {
        const int side = b < 4 ? 1 : b < 51 ? 2 : 8;
        expect_size(sizes, b, side, side);
    }
}

TEST(Xywp2, WsqTreeOddSides)
{
    BlockSizes sizes(wsqlevels, WSQ_SUBBANDS, 33, 35);
    EXPECT_EQ(sizes.next, 64);
    expect_size(sizes, 0, 2, 2);
    expect_size(sizes, 1, 2, 1);
    expect_size(sizes, 2, 1, 2);
    expect_size(sizes, 3, 1, 1);
    expect_size(sizes, 4, 3, 2);
    expect_size(sizes, 6, 2, 2);
    expect_size(sizes, 51, 8, 9);
    expect_size(sizes, 52, 9, 9);
    expect_size(sizes, 63, 8, 8);
    EXPECT_EQ(sizes.area(), 1155);
}

TEST(Xywp2, WsqBlocksCoverTheImage)
{
    const Size roots[] = {{32, 33}, {33, 32}, {47, 63}, {64, 64}, {100, 37},
                          {256, 364}, {374, 388}, {391, 437}, {479, 299}, {768, 832}};
    for (Size root : roots) {
        BlockSizes sizes(wsqlevels, WSQ_SUBBANDS, root.rows, root.cols);
        EXPECT_EQ(sizes.next, 64);
        EXPECT_EQ(sizes.area(), long(root.rows) * root.cols)
            << root.rows << " x " << root.cols;
    }
}

TEST(WsqTables, SubbandOrderIsADepthPreservingPermutation)
{
    std::vector<int> uses(WSQ_SUBBANDS, 0);
    for (int k = 0; k < WSQ_SUBBANDS; k++) {
        ASSERT_GE(wsqorder[k], 0);
        ASSERT_LT(wsqorder[k], WSQ_SUBBANDS);
        uses[wsqorder[k]]++;
        const int depth = k < 4 ? 5 : k < 51 ? 4 : 2;
        EXPECT_EQ(wsqlevels[wsqorder[k]], depth) << "subband " << k;
    }
    for (int b = 0; b < WSQ_SUBBANDS; b++)
        EXPECT_EQ(uses[b], 1) << "block " << b;
}
