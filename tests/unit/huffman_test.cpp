/* Huffman tables, entropy-coded segment coding and decoding. */
#include "unit_helpers.h"

#include <map>

using wsqtest::Bytes;
using wsqtest::Stream;

namespace {

Bytes table_of(const ui32 *counts)
{
    ui8 body[WSQ_DHT_BYTES];
    return Bytes(body, makedht(body, counts, 16));
}

Bytes table_from_counts(const std::map<int, ui32> &nonzero)
{
    ui32 counts[256] = {};
    for (const auto &entry : nonzero)
        counts[entry.first] = entry.second;
    return table_of(counts);
}

Bytes table_for(const Bytes &symbols)
{
    ui32 counts[256];
    wsqcsym(counts, symbols.data(), symbols.size());
    return table_of(counts);
}

Bytes with_counts(std::initializer_list<ui8> lengths, std::initializer_list<ui8> values)
{
    Bytes body(lengths);
    body.resize(16, 0);
    body.insert(body.end(), values);
    return body;
}

/* Values 1, 179, 181, 2 with the codewords 00, 01, 10, 110. */
const Bytes small_table = with_counts({0, 3, 1}, {1, 179, 181, 2});

struct Code {
    ui32 code[256];
    int size[256];
};

Code codewords(const Bytes &dht)
{
    Code table;
    dht2cwbl(table.code, table.size, dht.data(), 16);
    return table;
}

int literal_bytes(ui8 symbol)
{
    switch (symbol) {
    case 101: case 102: case 105: return 1;
    case 103: case 104: case 106: return 2;
    default: return 0;
    }
}

/* The coded stream of a symbol stream and its number of bits before padding. */
struct Coded {
    Bytes bytes;
    ui32 databits;
};

Coded encode(const Bytes &symbols, const Bytes &dht)
{
    const Code table = codewords(dht);
    Coded coded{Bytes(4 * symbols.size() + 8, 0), 0};
    for (std::size_t n = 0; n < symbols.size(); n += 1 + literal_bytes(symbols[n]))
        coded.databits += table.size[symbols[n]] + 8 * literal_bytes(symbols[n]);

    Stream stream(makebitio(coded.bytes.data(), 0));
    EXPECT_EQ(wsqwecs(stream.get(), symbols.data(), symbols.size(), dht.data()),
              symbols.data() + symbols.size());
    EXPECT_EQ(stream->nextbit, (coded.databits + 7) / 8 * 8) << "padded to a byte";
    coded.bytes.resize(stream->nextbit / 8);
    return coded;
}

std::vector<int32> decode(const Bytes &coded, ui32 limit, const Bytes &dht, std::size_t room,
                          ui32 *nextbit = nullptr)
{
    Bytes copy = coded;
    Stream stream(makebitio(copy.data(), 8 * copy.size()));
    std::vector<int32> out(room + 2 * 65536, 12345); /* slack for a wrong run */
    int32 *end = wsqrecs(out.data(), stream.get(), limit, dht.data());
    EXPECT_LE(end - out.data(), ptrdiff_t(room));
    EXPECT_EQ(out[end - out.data()], 12345) << "wrote past the returned end";
    if (nextbit)
        *nextbit = stream->nextbit;
    out.resize(end - out.data());
    return out;
}

/* 181, 179, 1, 2, 181, 181, then escapes with literals, then 254, 107, 181. */
const Bytes escape_stream = {181, 179, 1,    2,   181,  181,  101, 0x90, 105, 0xC8, 106, 0x01,
                             0x2C, 103, 0x01, 0x00, 104, 0x12, 0x34, 102,  0x4A, 254,  107, 181};

std::vector<int32> escape_values()
{
    std::vector<int32> values = {1, -1, 0, 0, 0, 1, 1, 144};
    values.insert(values.end(), 500, 0);
    values.insert(values.end(), {256, -4660, -74, 74, -73, 1});
    return values;
}

}  // namespace

TEST(Makedht, FourSymbols)
{
    const Bytes body = table_from_counts({{181, 5}, {179, 5}, {1, 3}, {2, 1}});
    EXPECT_EQ(body, small_table);
    EXPECT_EQ(body.size(), 20u);

    const Code table = codewords(body);
    EXPECT_EQ(table.size[1], 2);
    EXPECT_EQ(table.code[1], 0u);
    EXPECT_EQ(table.size[179], 2);
    EXPECT_EQ(table.code[179], 1u);
    EXPECT_EQ(table.size[181], 2);
    EXPECT_EQ(table.code[181], 2u);
    EXPECT_EQ(table.size[2], 3);
    EXPECT_EQ(table.code[2], 6u);
    EXPECT_EQ(table.size[3], 0);
    EXPECT_EQ(table.code[3], 0u);
}

TEST(Makedht, ReservedLeafMergesFirstOnTies)
{
    const Bytes body = table_from_counts({{10, 1}, {20, 1}, {30, 1}, {40, 1}});
    EXPECT_EQ(body, with_counts({0, 3, 1}, {10, 20, 30, 40}));
    EXPECT_EQ(codewords(body).size[40], 3);
}

TEST(Makedht, SingleSymbolGetsOneBit)
{
    const Bytes body = table_from_counts({{77, 9}});
    EXPECT_EQ(body, with_counts({1}, {77}));
    EXPECT_EQ(body.size(), 17u);
    const Code table = codewords(body);
    EXPECT_EQ(table.size[77], 1);
    EXPECT_EQ(table.code[77], 0u);
}

TEST(Makedht, NoSymbols)
{
    EXPECT_EQ(table_from_counts({}), Bytes(16, 0));
}

TEST(Makedht, LimitsADeepTreeToSixteenBits)
{
    /* Counts 1, 1, 2, 3, 5, ... (each the sum of the two before) for symbols
     * 1 to 40 give an unlimited tree 21 levels deep. */
    std::map<int, ui32> counts;
    ui32 a = 1, b = 1;
    for (int s = 1; s <= 40; s++) {
        counts[s] = a;
        const ui32 next = a + b;
        a = b;
        b = next;
    }
    const Bytes body = table_from_counts(counts);
    const Bytes expected = with_counts(
        {0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 2, 0, 15},
        {39, 40, 37, 38, 35, 36, 33, 34, 31, 32, 29, 30, 27, 28, 25, 26, 23, 24, 21, 22,
         19, 20, 17, 18, 15, 16, 13, 14, 11, 12, 9, 10,  7,  8,  5,  6,  1,  3,  4,  2});
    EXPECT_EQ(body, expected);
    EXPECT_EQ(body.size(), 56u);

    const Code table = codewords(body);
    for (int s = 1; s <= 40; s++) {
        EXPECT_GT(table.size[s], 0) << s;
        EXPECT_LE(table.size[s], 16) << s;
        EXPECT_FALSE(table.size[s] == 16 && table.code[s] == 0xFFFF) << "all-ones codeword";
    }
}

TEST(Wsqcsym, CountsSymbolsAndSkipsLiterals)
{
    const Bytes stream = {181, 101, 0, 105, 255, 106, 0, 255, 103, 181, 181, 179, 181};
    ui32 counts[256];
    std::fill(counts, counts + 256, 99u);
    EXPECT_EQ(wsqcsym(counts, stream.data(), stream.size()), stream.data() + stream.size());
    std::map<int, ui32> nonzero;
    for (int s = 0; s < 256; s++)
        if (counts[s])
            nonzero[s] = counts[s];
    EXPECT_EQ(nonzero, (std::map<int, ui32>{{101, 1}, {103, 1}, {105, 1}, {106, 1},
                                            {179, 1}, {181, 2}}));
}

TEST(Wsqcsym, StopsAtAnEndSymbol)
{
    for (ui8 end : {0, 255}) {
        const Bytes stream = {181, 179, end, 181, 181};
        ui32 counts[256];
        EXPECT_EQ(wsqcsym(counts, stream.data(), stream.size()), stream.data() + 3);
        EXPECT_EQ(counts[181], 1u);
        EXPECT_EQ(counts[179], 1u);
        EXPECT_EQ(counts[end], 0u);
    }
}

TEST(Wsqwecs, CodesAndPadsWithOnes)
{
    EXPECT_EQ(encode({181, 179, 1, 2}, small_table).bytes, (Bytes{0x93, 0x7F}));
    EXPECT_EQ(encode({2, 2, 2, 181, 181, 181, 181}, small_table).bytes,
              (Bytes{0xDB, 0x55, 0x7F}));
}

TEST(Wsqwecs, ByteBoundaryNeedsNoPadding)
{
    const Coded coded = encode({181, 179, 1, 181}, small_table);
    EXPECT_EQ(coded.bytes, (Bytes{0x92}));
    EXPECT_EQ(coded.databits, 8u);
}

TEST(Wsqwecs, StopsAtAnEndSymbolAndStillPads)
{
    for (ui8 end : {0, 255}) {
        const Bytes symbols = {181, end, 179};
        ui8 bytes[2] = {0, 0x55};
        Stream stream(makebitio(bytes, 0));
        EXPECT_EQ(wsqwecs(stream.get(), symbols.data(), symbols.size(), small_table.data()),
                  symbols.data() + 2);
        EXPECT_EQ(stream->nextbit, 8u);
        EXPECT_EQ(bytes[0], 0xBF);
        EXPECT_EQ(bytes[1], 0x55);
    }
}

TEST(EntropyCoding, TableAndBytesOfAStreamWithEscapes)
{
    ASSERT_EQ(escape_stream.size(), 24u);
    const Bytes dht = table_for(escape_stream);
    EXPECT_EQ(dht, with_counts({0, 1, 0, 11},
                               {181, 1, 2, 101, 102, 103, 104, 105, 106, 107, 179, 254}));
    const Code table = codewords(dht);
    EXPECT_EQ(table.size[181], 2);
    EXPECT_EQ(table.code[181], 0u);
    EXPECT_EQ(table.size[1], 4);
    EXPECT_EQ(table.code[1], 4u);
    EXPECT_EQ(table.size[254], 4);
    EXPECT_EQ(table.code[254], 14u);

    const Coded coded = encode(escape_stream, dht);
    EXPECT_EQ(coded.databits, 124u);
    EXPECT_EQ(coded.bytes, (Bytes{0x35, 0x14, 0x1A, 0x42, 0xB2, 0x2C, 0x04, 0xB2, 0x00, 0x40,
                                  0x24, 0x48, 0xD1, 0xD2, 0xBB, 0x0F}));
}

TEST(EntropyCoding, DecodesTheStreamWithEscapes)
{
    const Bytes dht = table_for(escape_stream);
    const Coded coded = encode(escape_stream, dht);
    ui32 nextbit = 0;
    EXPECT_EQ(decode(coded.bytes, coded.databits, dht, 600, &nextbit), escape_values());
    EXPECT_EQ(nextbit, 124u);
}

TEST(Dht2caht, CanonicalTreeBreadthFirst)
{
    int tree[512];
    EXPECT_EQ(dht2caht(tree, small_table.data(), 16), tree);
    const int expected[8] = {1, 2, 0, -1, -2, 3, -3, 4};
    for (int slot = 0; slot < 8; slot++)
        EXPECT_EQ(tree[slot], expected[slot]) << "slot " << slot;
    for (int slot = 8; slot < 512; slot++)
        ASSERT_EQ(tree[slot], 1) << "slot " << slot;

    const Bytes empty(16, 0);
    std::fill(tree, tree + 512, 0);
    dht2caht(tree, empty.data(), 16);
    for (int slot = 0; slot < 512; slot++)
        ASSERT_EQ(tree[slot], 1) << "slot " << slot;
}

TEST(Wsqrecs, StopsAtTheLimit)
{
    ui32 nextbit = 0;
    EXPECT_EQ(decode({0x93, 0x7F}, 9, small_table, 16, &nextbit),
              (std::vector<int32>{1, -1, 0, 0, 0}));
    EXPECT_EQ(nextbit, 9u);
}

TEST(Wsqrecs, PaddingLeadsThroughTheUnassignedCodeToNodeOne)
{
    ui32 nextbit = 0;
    EXPECT_EQ(decode({0x93, 0x7F}, 16, small_table, 16, &nextbit),
              (std::vector<int32>{1, -1, 0, 0, 0, -1}));
    EXPECT_EQ(nextbit, 16u);
}

TEST(Wsqrecs, StreamCapacityBoundsTheLimit)
{
    ui8 bytes[2] = {0x93, 0x7F};
    Stream empty(makebitio(bytes, 0));
    int32 out[4] = {7, 7, 7, 7};
    EXPECT_EQ(wsqrecs(out, empty.get(), 16, small_table.data()), out);
    EXPECT_EQ(out[0], 7);

    Stream short_stream(makebitio(bytes, 4));
    EXPECT_EQ(wsqrecs(out, short_stream.get(), 16, small_table.data()), out + 2);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], -1);
    EXPECT_EQ(short_stream->nextbit, 4u);
}

TEST(Wsqrecs, EmptyRunsWriteNothing)
{
    const Bytes symbols = {105, 0, 181, 106, 0, 0, 179};
    const Bytes dht = table_for(symbols);
    const Coded coded = encode(symbols, dht);
    EXPECT_EQ(decode(coded.bytes, coded.databits, dht, 4), (std::vector<int32>{1, -1}));
}

TEST(Wsqrecs, EmptyTableDecodesNothing)
{
    ui32 nextbit = 0;
    EXPECT_TRUE(decode({0xAB, 0xCD}, 16, Bytes(16, 0), 0, &nextbit).empty());
    EXPECT_EQ(nextbit, 16u);
}

TEST(EntropyCoding, SymbolStreamsRoundTrip)
{
    const std::vector<std::vector<int32>> blocks = {
        {5},
        {0, 0, 0, 5, -1, 0, 300, -80},
        std::vector<int32>(70000, 0),
        {74, 75, -73, -74, 255, 256, -255, -256, 65535, -65535, 0, 0, 1},
    };
    std::vector<int32> mixed;
    ui32 seed = 99;
    for (int n = 0; n < 5000; n++) {
        seed = seed * 1664525u + 1013904223u;
        const ui32 kind = seed >> 29, value = (seed >> 8) & 0xFFFF;
        if (kind < 4)
            mixed.insert(mixed.end(), value % 300, 0);
        else
            mixed.push_back(kind == 4 ? int32(value % 20) - 10 : int32(value) - 32768);
    }
    std::vector<std::vector<int32>> all = blocks;
    all.push_back(mixed);

    for (const std::vector<int32> &values : all) {
        Bytes symbols(3 * values.size() + 3);
        symbols.resize(wsqwsym(symbols.data(), values.data(), values.size()) - symbols.data());
        const Bytes dht = table_for(symbols);
        const Coded coded = encode(symbols, dht);
        EXPECT_EQ(decode(coded.bytes, coded.databits, dht, values.size()), values)
            << values.size() << " values";
    }
}
