/* fix24 and fix48 numbers, big-endian integers in buffers and on streams. */
#include "unit_helpers.h"

using wsqtest::Bytes;

TEST(Fix24, WritesAndReadsScaleAndSinglePrecisionMantissa)
{
    const struct {
        real value;
        Bytes bytes;
    } rows[] = {{0.0f, {0x00, 0x00, 0x00}},   {0.44f, {0x05, 0xAB, 0xE0}},
                {1.0f, {0x04, 0x27, 0x10}},   {12.345f, {0x03, 0x30, 0x39}},
                {65535.0f, {0x00, 0xFF, 0xFF}}, {0.001f, {0x07, 0x27, 0x10}}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.value);
        Bytes bytes(4, 0xAA);
        EXPECT_EQ(writefix24(bytes.data(), row.value), bytes.data() + 3);
        EXPECT_EQ(bytes, (Bytes{row.bytes[0], row.bytes[1], row.bytes[2], 0xAA}));
        real value = -1.0f;
        EXPECT_EQ(readfix24(&value, row.bytes.data()), row.bytes.data() + 3);
        EXPECT_EQ(value, row.value);
    }
}

TEST(Fix48, WritesAndReadsTheExactTaps)
{
    const struct {
        real value;
        Bytes bytes;
    } rows[] = {{WSQh0hbqf[4], {0x00, 0x09, 0x32, 0xD3, 0x26, 0x3B}},
                {WSQh0hbqf[2], {0x01, 0x0A, 0x41, 0xEF, 0xF1, 0xBB}},
                {WSQh1gbqf[3], {0x00, 0x09, 0x2E, 0xFF, 0x55, 0xD2}},
                {WSQh1gbqf[1], {0x01, 0x0B, 0xF2, 0x87, 0x1F, 0x36}},
                {0.0f, {0, 0, 0, 0, 0, 0}}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.value);
        Bytes bytes(6, 0xAA);
        EXPECT_EQ(writefix48(bytes.data(), row.value), bytes.data() + 6);
        EXPECT_EQ(bytes, row.bytes);
        real value = -1.0f;
        EXPECT_EQ(readfix48(&value, row.bytes.data()), row.bytes.data() + 6);
        EXPECT_EQ(value, row.value);
    }
}

TEST(BigEndian, IntegersInBuffersAndOnStreams)
{
    ui8 buffer[6];
    ui8 *end = sput4(sput2(buffer, 0xA1B2), 0xC3D4E5F6);
    EXPECT_EQ(Bytes(buffer, end), (Bytes{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}));
    ui16 two;
    ui32 four;
    EXPECT_EQ(sget4(&four, sget2(&two, buffer)), buffer + 6);
    EXPECT_EQ(two, 0xA1B2);
    EXPECT_EQ(four, 0xC3D4E5F6u);

    std::FILE *file = std::tmpfile();
    ASSERT_TRUE(file);
    fput2(0xFFA0, file);
    fput4(0x01020304, file);
    std::rewind(file);
    EXPECT_EQ(fget2(file), 0xFFA0);
    EXPECT_EQ(fget2(file), 0x0102);
    EXPECT_EQ(fget2(file), 0x0304);
    std::fclose(file);
}
