/* Huffman tables, entropy-coded segment coding and decoding. */
#include "unit_helpers.h"

#include <cstring>
#include <map>
#include <numeric>

using wsqtest::Bytes;
using wsqtest::Stream;

namespace {

Bytes table_of(const ui32 *counts)
{
    ui8 body[WSQ_DHT_BYTES];
    return Bytes(body, makedht(body, counts, WSQ_MAXBITS));
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

/* A table body: the counts of lengths 1.., then the values. */
Bytes body(Bytes counts, std::initializer_list<ui8> values)
{
    counts.resize(16, 0);
    counts.insert(counts.end(), values);
    return counts;
}

/* Values 1, 179, 181, 2 with the codewords 00, 01, 10, 110. */
const Bytes small_table = body({0, 3, 1}, {1, 179, 181, 2});

/* Codeword and length of every symbol. */
std::map<int, std::pair<ui32, int>> codewords(const Bytes &dht)
{
    ui32 code[256];
    int size[256];
    dht2cwbl(code, size, dht.data(), WSQ_MAXBITS);
    std::map<int, std::pair<ui32, int>> out;
    for (int s = 0; s < 256; s++)
        if (size[s])
            out[s] = {code[s], size[s]};
    return out;
}

/* The coded bytes of a symbol stream; its bits before padding in *databits. */
Bytes encode(const Bytes &symbols, const Bytes &dht, ui32 *databits = nullptr)
{
    Bytes bytes(4 * symbols.size() + 8, 0);
    Stream stream(makebitio(bytes.data(), 0));
    EXPECT_EQ(wsqwecs(stream.get(), symbols.data(), symbols.size(), dht.data()),
              symbols.data() + symbols.size());
    bytes.resize(stream->nextbit / 8);
    const auto code = codewords(dht);
    for (std::size_t n = 0; databits && n < symbols.size(); n++) {
        const ui8 s = symbols[n];
        const int literal = s == 103 || s == 104 || s == 106 ? 2 : s == 101 || s == 102 || s == 105;
        *databits += code.at(s).second + 8 * literal;
        n += literal;
    }
    return bytes;
}

/* The values wsqrecs decodes up to limit bits; the bits it read in *nextbit. */
std::vector<int32> decode(Bytes coded, ui32 limit, const Bytes &dht, ui32 *nextbit = nullptr,
                          std::size_t room = 1000)
{
    Stream stream(makebitio(coded.data(), 8 * coded.size()));
    std::vector<int32> out(room + 2 * 65536, 12345); /* slack for a wrong run */
    int32 *end = wsqrecs(out.data(), stream.get(), limit, dht.data());
    EXPECT_EQ(*end, 12345) << "wrote past the returned end";
    if (nextbit)
        *nextbit = stream->nextbit;
    out.resize(end - out.data());
    return out;
}

}  // namespace

TEST(Makedht, TableBodies)
{
    EXPECT_EQ(table_from_counts({{181, 5}, {179, 5}, {1, 3}, {2, 1}}), small_table);
    EXPECT_EQ(table_from_counts({{10, 1}, {20, 1}, {30, 1}, {40, 1}}),
              body({0, 3, 1}, {10, 20, 30, 40}))
        << "the reserved leaf merges first on ties";
    EXPECT_EQ(table_from_counts({{77, 9}}), body({1}, {77}));
    EXPECT_EQ(table_from_counts({}), Bytes(16, 0));
    EXPECT_EQ(codewords(small_table),
              (std::map<int, std::pair<ui32, int>>{{1, {0, 2}}, {179, {1, 2}}, {181, {2, 2}},
                                                   {2, {6, 3}}}));

    /* Counts 1, 1, 2, 3, 5, ... (each the sum of the two before) for symbols
     * 1 to 40 give an unlimited tree 21 levels deep. */
    std::map<int, ui32> counts;
    for (ui32 s = 1, a = 1, b = 1; s <= 40; s++, b += a, a = b - a)
        counts[s] = a;
    const Bytes limited = table_from_counts(counts);
    EXPECT_EQ(limited, body({0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 2, 0, 15},
                            {39, 40, 37, 38, 35, 36, 33, 34, 31, 32, 29, 30, 27, 28,
                             25, 26, 23, 24, 21, 22, 19, 20, 17, 18, 15, 16, 13, 14,
                             11, 12, 9,  10, 7,  8,  5,  6,  1,  3,  4,  2}));
    const auto code = codewords(limited);
    EXPECT_EQ(code.size(), 40u);
    for (const auto &entry : code)
        EXPECT_NE(entry.second, (std::pair<ui32, int>{0xFFFF, 16})) << "all-ones codeword";
}

TEST(Wsqwecs, CodesAndPadsWithOnes)
{
    EXPECT_EQ(encode({181, 179, 1, 2}, small_table), (Bytes{0x93, 0x7F}));
    EXPECT_EQ(encode({2, 2, 2, 181, 181, 181, 181}, small_table), (Bytes{0xDB, 0x55, 0x7F}));
    EXPECT_EQ(encode({181, 179, 1, 181}, small_table), (Bytes{0x92})) << "no padding byte";
    for (ui8 end : {0, 255}) {
        const Bytes symbols = {181, end, 179};
        ui8 bytes[2] = {0, 0x55};
        Stream stream(makebitio(bytes, 0));
        EXPECT_EQ(wsqwecs(stream.get(), symbols.data(), symbols.size(), small_table.data()),
                  symbols.data() + 2);
        EXPECT_EQ(Bytes(bytes, bytes + 2), (Bytes{0xBF, 0x55}));
    }
    /* A bounded stream is coded bit by bit: the same bytes, literal fields and end included. */
    const Bytes escapes = body({0, 3, 1}, {1, 179, 101, 2}), symbols = {101, 0x5A, 179, 0, 2};
    for (ui32 bound : {0, 64}) {
        Bytes bytes(8, 0);
        Stream stream(makebitio(bytes.data(), bound));
        EXPECT_EQ(wsqwecs(stream.get(), symbols.data(), symbols.size(), escapes.data()),
                  symbols.data() + 4);
        EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 3), (Bytes{0x96, 0x9F, 0})) << bound;
    }
}

TEST(Wsqcsym, CountsSymbolsUpToTheEndSkippingLiterals)
{
    const Bytes symbols = {181, 101, 181, 103, 181, 181, 0, 181};
    ui32 counts[256];
    EXPECT_EQ(wsqcsym(counts, symbols.data(), symbols.size()), symbols.data() + 7);
    EXPECT_EQ(counts[181], 1u);
    EXPECT_EQ(counts[101], 1u);
    EXPECT_EQ(counts[103], 1u);
    EXPECT_EQ(std::accumulate(counts, counts + 256, 0u), 3u);
}

TEST(EntropyCoding, AStreamWithEscapes)
{
    /* 181, 179, 1, 2, 181, 181, then escapes with literals, then 254, 107, 181. */
    const Bytes symbols = {181,  179, 1,    2,    181, 181,  101, 0x90, 105, 0xC8, 106, 0x01,
                           0x2C, 103, 0x01, 0x00, 104, 0x12, 0x34, 102, 0x4A, 254,  107, 181};
    const Bytes dht = table_for(symbols);
    EXPECT_EQ(dht, body({0, 1, 0, 11}, {181, 1, 2, 101, 102, 103, 104, 105, 106, 107, 179, 254}));
    const auto code = codewords(dht);
    EXPECT_EQ(code.at(181), (std::pair<ui32, int>{0, 2}));
    EXPECT_EQ(code.at(1), (std::pair<ui32, int>{4, 4}));
    EXPECT_EQ(code.at(254), (std::pair<ui32, int>{14, 4}));

    ui32 databits = 0, nextbit = 0;
    const Bytes coded = encode(symbols, dht, &databits);
    EXPECT_EQ(databits, 124u);
    EXPECT_EQ(coded, (Bytes{0x35, 0x14, 0x1A, 0x42, 0xB2, 0x2C, 0x04, 0xB2, 0x00, 0x40, 0x24,
                            0x48, 0xD1, 0xD2, 0xBB, 0x0F}));
    std::vector<int32> values = {1, -1, 0, 0, 0, 1, 1, 144};
    values.insert(values.end(), 500, 0);
    values.insert(values.end(), {256, -4660, -74, 74, -73, 1});
    EXPECT_EQ(decode(coded, databits, dht, &nextbit), values);
    EXPECT_EQ(nextbit, 124u);
}

TEST(Wsqrecs, StopsAtTheLimitTheStreamOrTheCodes)
{
    ui32 nextbit = 0;
    EXPECT_EQ(decode({0x93, 0x7F}, 9, small_table, &nextbit), (std::vector<int32>{1, -1, 0, 0, 0}));
    EXPECT_EQ(nextbit, 9u);
    /* The padding leads through the unassigned code 111 to node 1. */
    EXPECT_EQ(decode({0x93, 0x7F}, 16, small_table, &nextbit),
              (std::vector<int32>{1, -1, 0, 0, 0, -1}));
    EXPECT_EQ(nextbit, 16u);

    ui8 bytes[2] = {0x93, 0x7F};
    int32 out[4] = {7, 7, 7, 7};
    Stream empty(makebitio(bytes, 0)), short_stream(makebitio(bytes, 4));
    EXPECT_EQ(wsqrecs(out, empty.get(), 16, small_table.data()), out) << "a stream of no bits";
    EXPECT_EQ(wsqrecs(out, short_stream.get(), 16, small_table.data()), out + 2);
    EXPECT_EQ(std::vector<int32>(out, out + 3), (std::vector<int32>{1, -1, 7}));

    EXPECT_TRUE(decode({0xAB, 0xCD}, 16, Bytes(16, 0), &nextbit).empty());
    EXPECT_EQ(nextbit, 16u);
    const Bytes runs = {105, 0, 181, 106, 0, 0, 179}; /* empty runs write nothing */
    ui32 databits = 0;
    const Bytes coded = encode(runs, table_for(runs), &databits);
    EXPECT_EQ(decode(coded, databits, table_for(runs)), (std::vector<int32>{1, -1}));
}

TEST(EntropyCoding, SymbolStreamsRoundTrip)
{
    std::vector<std::vector<int32>> blocks = {
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
    blocks.push_back(mixed);
    for (const std::vector<int32> &values : blocks) {
        Bytes symbols(3 * values.size() + 3);
        symbols.resize(wsqwsym(symbols.data(), values.data(), values.size()) - symbols.data());
        const Bytes dht = table_for(symbols);
        ui32 databits = 0;
        const Bytes coded = encode(symbols, dht, &databits);
        EXPECT_EQ(decode(coded, databits, dht, nullptr, values.size()), values) << values.size() << " values";
    }
}

namespace {

/* Tables whose windows hold several symbols, codes longer than a window,
 * unassigned codes and escapes; random coded bytes. */
std::vector<Bytes> decoding_tables()
{
    ui32 counts[256] = {}, seed = 5;
    for (int s = 1; s < 255; s++) {
        seed = seed * 1664525u + 1013904223u;
        counts[s] = s >= 101 && s <= 106 ? 1 + (seed >> 30) : (seed >> 16) % (s < 100 ? 40 : 900);
    }
    return {table_of(counts), small_table,
            body({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1}, {181, 105, 2, 103})};
}

Bytes random_bytes(std::size_t n, ui32 seed)
{
    Bytes bytes(n + 2, 0); /* the decoder's two bytes of slack */
    for (std::size_t i = 0; i < n; i++) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = (ui8)(seed >> 24);
    }
    return bytes;
}

struct decoded {
    std::vector<int32> values;
    recsstop stop;
    ui32 nextbit;
};

decoded decode_bounded(Bytes coded, ui32 limit, const codewalk &walk, const Bytes &dht,
                       std::size_t room, bool padding)
{
    bitio stream = {coded.data(), coded.data(), 128, 0, 0};
    decoded d;
    d.values.resize(room + 65536);
    int32 *end = wsqrecsb(d.values.data(), room, &stream, limit, &walk, dht.data() + WSQ_MAXBITS,
                          padding, &d.stop);
    d.values.resize(end - d.values.data());
    d.nextbit = stream.nextbit;
    return d;
}

}  // namespace

TEST(Wsqrecsb, WindowsOfSymbolsDecodeAsTheWalkOfBits)
{
    for (const Bytes &dht : decoding_tables()) {
        codewalk walk, bitwise;
        makewalk(&walk, dht.data());
        bitwise = walk;
        std::fill_n(bitwise.symbols, 1 << WSQ_SYMBOL_BITS, 0u); /* every symbol walked alone */
        for (ui32 seed = 1; seed <= 6; seed++) {
            const Bytes coded = random_bytes(700, seed);
            for (ui32 limit : {5600u, 5597u, 200u}) {
                const bool padding = seed % 2;
                const decoded whole = decode_bounded(coded, limit, walk, dht, 1 << 22, padding);
                for (std::size_t room : {0, 1, 299, 300, 301, 5000, 40000}) {
                    decoded fast = decode_bounded(coded, limit, walk, dht, room, padding);
                    decoded slow = decode_bounded(coded, limit, bitwise, dht, room, padding);
                    EXPECT_EQ(fast.values, slow.values) << "room " << room << " limit " << limit;
                    EXPECT_EQ(fast.stop, slow.stop);
                    EXPECT_EQ(fast.nextbit, slow.nextbit);
                    const bool cut = fast.stop == RECS_FULL || fast.stop == RECS_OVERFLOW;
                    EXPECT_TRUE(cut ? std::equal(fast.values.begin(), fast.values.end(), whole.values.begin())
                                    : fast.values == whole.values)
                        << "a prefix of the unbounded decoding";
                }
            }
        }
    }
}

TEST(Wsqrecsunq, WritesWhatWsqunqMakesOfTheIntegers)
{
    const Bytes dht = decoding_tables()[0];
    codewalk walk;
    makewalk(&walk, dht.data());
    const ui32 lengths[] = {1, 40, 300, 7, 2000, 150000};
    for (ui32 seed = 1; seed <= 4; seed++) {
        const Bytes first = random_bytes(900, seed), second = random_bytes(900, seed + 10);
        std::vector<real> subbands(std::accumulate(lengths, std::end(lengths), 0u));
        bandcursor cursor;
        startbands(&cursor, 0.44f);
        real *at = subbands.data();
        for (ui32 k = 0; k < 6; k++) {
            addband(&cursor, at, lengths[k], 10.0f + (real)k, 12.5f + (real)k);
            at += lengths[k];
        }
        std::vector<int32> integers(cursor.room + 65536);
        int32 *end = integers.data();
        for (const Bytes &interval : {first, second}) {
            Bytes copy = interval;
            bitio ints = {copy.data(), copy.data(), 128, 0, 0}, reals = ints;
            recsstop stop_ints, stop_reals;
            end = wsqrecsb(end, cursor.room, &ints, 900 * 8, &walk, dht.data() + WSQ_MAXBITS,
                           true, &stop_ints);
            wsqrecsunq(&cursor, &reals, 900 * 8, &walk, dht.data() + WSQ_MAXBITS, true,
                       &stop_reals);
            EXPECT_EQ(stop_ints, stop_reals);
            EXPECT_EQ(ints.nextbit, reals.nextbit);
            EXPECT_EQ(cursor.room, subbands.size() - (std::size_t)(end - integers.data()));
        }
        std::vector<real> expected(subbands.size());
        const int32 *from = integers.data();
        for (ui32 k = 0, offset = 0; k < 6; offset += lengths[k++])
            wsqunq(expected.data() + offset, from + offset, lengths[k], 0.44f, 10.0f + (real)k,
                   12.5f + (real)k);
        const std::size_t written = (std::size_t)(end - integers.data());
        EXPECT_GT(written, 1000u);
        EXPECT_EQ(std::memcmp(expected.data(), subbands.data(), written * sizeof(real)), 0);
    }
}
