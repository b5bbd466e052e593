/* Bit streams: most significant bit first, padding, bounds, rewinding. */
#include "unit_helpers.h"

#include <cstdlib>

using wsqtest::Bytes;
using wsqtest::Stream;

namespace {

/* position and mask always follow nextbit. */
void expect_consistent(const bitio *stream)
{
    EXPECT_EQ(stream->position, stream->buffer + stream->nextbit / 8);
    EXPECT_EQ(stream->mask, 128 >> (stream->nextbit % 8));
}

int released;
void *released_buffer;

void *record_release(void *buffer)
{
    released++;
    released_buffer = buffer;
    return nullptr;
}

}  // namespace

TEST(MakeBitio, UsesOrAllocatesTheBuffer)
{
    ui8 bytes[2] = {0x12, 0x34};
    Stream given(makebitio(bytes, 16));
    EXPECT_EQ(given->buffer, bytes);
    EXPECT_EQ(given->length, 16u);
    EXPECT_EQ(given->nextbit, 0u);
    expect_consistent(given.get());
    EXPECT_EQ(bytes[0], 0x12) << "a given buffer is not cleared";

    Stream none(makebitio(nullptr, 0));
    EXPECT_EQ(none->buffer, nullptr);
    EXPECT_EQ(none->position, nullptr);
    EXPECT_EQ(none->mask, 128);

    released = 0;
    bitio *own = makebitio(nullptr, 20);
    ASSERT_NE(own->buffer, nullptr);
    EXPECT_EQ(Bytes(own->buffer, own->buffer + 3), (Bytes{0, 0, 0}));
    EXPECT_EQ(own->length, 20u);
    ui8 *buffer = own->buffer;
    putbits(own, 0xFFFFF, 20);
    EXPECT_EQ(freebitio(own, record_release), nullptr);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(released_buffer, buffer);
    std::free(buffer);
}

TEST(FreeBitio, NullAndBufferLeftAlone)
{
    released = 0;
    EXPECT_EQ(freebitio(nullptr, record_release), nullptr);
    EXPECT_EQ(released, 0);

    ui8 bytes[1] = {0};
    bitio *stream = makebitio(bytes, 8);
    putbits(stream, 0xA5, 8);
    EXPECT_EQ(freebitio(stream, nullptr), nullptr);
    EXPECT_EQ(bytes[0], 0xA5);
}

TEST(Putbits, FieldsPaddedWithOnes)
{
    ui8 bytes[2] = {0x00, 0x3C};
    Stream stream(makebitio(bytes, 0));
    putbits(stream.get(), 5, 3);
    putbits(stream.get(), 1, 1);
    EXPECT_EQ(stream->nextbit, 4u);
    expect_consistent(stream.get());
    EXPECT_EQ(padbits(stream.get(), 1), 4u);
    EXPECT_EQ(bytes[0], 0xBF);
    EXPECT_EQ(bytes[1], 0x3C) << "padding stays in its byte";
    expect_consistent(stream.get());
    EXPECT_EQ(rewbits(stream.get()), 8u);
    EXPECT_EQ(stream->nextbit, 0u);
    EXPECT_EQ(stream->length, 0u);
    expect_consistent(stream.get());
}

TEST(Putbits, OnlyTheLowBitsAreWritten)
{
    ui8 bytes[1] = {0};
    Stream stream(makebitio(bytes, 8));
    putbits(stream.get(), 0xFFFFFFF2u, 4);
    putbits(stream.get(), 0x10, 4);
    EXPECT_EQ(bytes[0], 0x20);
}

TEST(Padbits, AtAByteBoundaryChangesNothing)
{
    ui8 bytes[3] = {0x00, 0x5A, 0x5A};
    Stream stream(makebitio(bytes, 24));
    putbits(stream.get(), 0x81, 8);
    EXPECT_EQ(padbits(stream.get(), 1), 8u);
    EXPECT_EQ(padbits(stream.get(), 0), 8u);
    EXPECT_EQ(stream->nextbit, 8u);
    expect_consistent(stream.get());
    EXPECT_EQ(Bytes(bytes, bytes + 3), (Bytes{0x81, 0x5A, 0x5A}));
}

TEST(Padbits, ZeroPaddingClearsTheRestOfTheByte)
{
    ui8 bytes[2] = {0xFF, 0xFF};
    Stream stream(makebitio(bytes, 16));
    putbits(stream.get(), 1, 1);
    EXPECT_EQ(padbits(stream.get(), 0), 1u);
    EXPECT_EQ(bytes[0], 0x80);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(stream->nextbit, 8u);
    expect_consistent(stream.get());

    putbits(stream.get(), 0, 7); /* one bit left before the boundary */
    EXPECT_EQ(padbits(stream.get(), 0), 15u);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(stream->nextbit, 16u);
}

TEST(Putbits, ThirtyTwoBitFieldsAcrossBytes)
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
    EXPECT_EQ(stream->nextbit, 35u);
    expect_consistent(stream.get());
}

TEST(Putbits, OverwritesOnlyTheBitsWritten)
{
    ui8 bytes[2] = {0xAA, 0x0F};
    Stream stream(makebitio(bytes, 16));
    putbits(stream.get(), 0xC, 4);  /* 1100 over 1010 */
    EXPECT_EQ(bytes[0], 0xCA);
    putbits(stream.get(), 0x1E, 6); /* 0111 over 1010, then 10 over 00 */
    EXPECT_EQ(bytes[0], 0xC7);
    EXPECT_EQ(bytes[1], 0x8F);
}

TEST(Getbit, ReadsMostSignificantFirst)
{
    const ui8 bytes[2] = {0xA0, 0x01};
    Stream stream(makebitio(const_cast<ui8 *>(bytes), 16));
    const int expected[16] = {1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (int n = 0; n < 16; n++) {
        EXPECT_EQ(getbit(stream.get()), expected[n]) << "bit " << n;
        EXPECT_EQ(stream->nextbit, ui32(n + 1));
        expect_consistent(stream.get());
    }
}

TEST(Getbits, RightAlignsTheField)
{
    const ui8 bytes[3] = {0xFF, 0x80, 0x00};
    Stream stream(makebitio(const_cast<ui8 *>(bytes), 24));
    EXPECT_EQ(getbits(stream.get(), 3), 7u);
    EXPECT_EQ(getbits(stream.get(), 6), 0x3Fu);
    EXPECT_EQ(getbits(stream.get(), 15), 0u);
    EXPECT_EQ(stream->nextbit, 24u);
    EXPECT_EQ(rewbits(stream.get()), 24u);
    EXPECT_EQ(getbits(stream.get(), 9), 0x1FFu);
}

TEST(Getbit, UnboundedStreamReadsOnWithoutLimit)
{
    const ui8 bytes[2] = {0x00, 0xFF};
    Stream stream(makebitio(const_cast<ui8 *>(bytes), 0));
    EXPECT_EQ(getbits(stream.get(), 8), 0u);
    for (int n = 0; n < 8; n++)
        EXPECT_EQ(getbit(stream.get()), 1);
    EXPECT_EQ(stream->nextbit, 16u);
}

TEST(Rewbits, FollowsANewBuffer)
{
    ui8 first[1] = {0}, second[2] = {0, 0};
    Stream stream(makebitio(first, 0));
    putbits(stream.get(), 3, 2);
    stream->buffer = second;
    stream->length = 16;
    EXPECT_EQ(rewbits(stream.get()), 2u);
    expect_consistent(stream.get());
    putbits(stream.get(), 0xFFFF, 16);
    EXPECT_EQ(Bytes(second, second + 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(first[0], 0xC0);
}
