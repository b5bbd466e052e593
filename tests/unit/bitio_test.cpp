/* Bit streams: most significant bit first, padding, bounds, rewinding. */
#include "unit_helpers.h"

using wsqtest::Bytes;
using wsqtest::Stream;

namespace {

/* position and mask always follow nextbit. */
void expect_consistent(const bitio *stream)
{
    EXPECT_EQ(stream->position, stream->buffer + stream->nextbit / 8);
    EXPECT_EQ(stream->mask, 128 >> (stream->nextbit % 8));
}

}  // namespace

TEST(Putbits, FieldsPaddedWithOnes)
{
    ui8 bytes[2] = {0x00, 0x3C};
    Stream stream(makebitio(bytes, 0));
    putbits(stream.get(), 5, 3);
    putbits(stream.get(), 0xFFFFFFF1u, 1); /* only the low bits are written */
    expect_consistent(stream.get());
    EXPECT_EQ(padbits(stream.get(), 1), 4u);
    EXPECT_EQ(Bytes(bytes, bytes + 2), (Bytes{0xBF, 0x3C})) << "padding stays in its byte";
    EXPECT_EQ(stream->nextbit, 8u);
    expect_consistent(stream.get());
    EXPECT_EQ(padbits(stream.get(), 1), 8u) << "at a byte boundary: nothing";
    EXPECT_EQ(rewbits(stream.get()), 8u);
    EXPECT_EQ(stream->nextbit, 0u);
    expect_consistent(stream.get());
}

TEST(Putbits, FieldsAcrossBytesReadBack)
{
    ui8 bytes[5] = {};
    Stream stream(makebitio(bytes, 40));
    putbits(stream.get(), 0x5, 3);
    putbits(stream.get(), 0xDEADBEEFu, 32);
    EXPECT_EQ(stream->nextbit, 35u);
    expect_consistent(stream.get());
    /* 101 then DEADBEEF: 1011 1011 1101 0101 1011 0111 1101 1101 111 */
    EXPECT_EQ(Bytes(bytes, bytes + 5), (Bytes{0xBB, 0xD5, 0xB7, 0xDD, 0xE0}));
    rewbits(stream.get());
    EXPECT_EQ(getbits(stream.get(), 3), 0x5u);
    EXPECT_EQ(getbits(stream.get(), 32), 0xDEADBEEFu);
    const int expected[5] = {1, 0, 1, 1, 1};
    rewbits(stream.get());
    for (int n = 0; n < 5; n++) {
        EXPECT_EQ(getbit(stream.get()), expected[n]) << "bit " << n;
        expect_consistent(stream.get());
    }
    EXPECT_EQ(getbits(stream.get(), 6), 0x1Eu); /* 011 110 */
}

TEST(Putbits, ZeroPaddingAndAStreamsOwnBuffer)
{
    ui8 bytes[1] = {0xFF};
    Stream stream(makebitio(bytes, 0));
    putbits(stream.get(), 5, 3);
    EXPECT_EQ(padbits(stream.get(), 0), 3u);
    EXPECT_EQ(bytes[0], 0xA0) << "the rest of the byte cleared";
    bitio *own = makebitio(nullptr, 12);
    EXPECT_EQ(Bytes(own->buffer, own->buffer + 2), (Bytes{0, 0}));
    putbits(own, 0xFFF, 12);
    EXPECT_EQ(Bytes(own->buffer, own->buffer + 2), (Bytes{0xFF, 0xF0}));
    EXPECT_EQ(freebitio(own, freevoid), nullptr); /* the leak checkers see the buffer go */
}
