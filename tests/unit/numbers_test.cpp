/* fix24 and fix48 numbers, big-endian integers in buffers and on streams. */
#include "unit_helpers.h"

#include <cstring>

using wsqtest::Bytes;
using wsqtest::file_bytes;

namespace {

struct Fix24Case {
    real value;
    ui8 bytes[3];
};

const Fix24Case fix24_cases[] = {
    {0.0f, {0x00, 0x00, 0x00}},     {0.44f, {0x05, 0xAB, 0xE0}},
    {1.0f, {0x04, 0x27, 0x10}},     {12.345f, {0x03, 0x30, 0x39}},
    {65535.0f, {0x00, 0xFF, 0xFF}}, {0.001f, {0x07, 0x27, 0x10}},
};

struct Fix48Case {
    real value;
    ui8 bytes[6];
};

/* Taps of the WSQ analysis filters. */
const Fix48Case fix48_cases[] = {
    {WSQh0hbqf[4], {0x00, 0x09, 0x32, 0xD3, 0x26, 0x3B}},
    {WSQh0hbqf[2], {0x01, 0x0A, 0x41, 0xEF, 0xF1, 0xBB}},
    {WSQh1gbqf[3], {0x00, 0x09, 0x2E, 0xFF, 0x55, 0xD2}},
    {WSQh1gbqf[1], {0x01, 0x0B, 0xF2, 0x87, 0x1F, 0x36}},
    {0.0f, {0, 0, 0, 0, 0, 0}},
};

}  // namespace

TEST(Fix24, WritesScaleAndSinglePrecisionMantissa)
{
    for (const Fix24Case &c : fix24_cases) {
        ui8 bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(writefix24(bytes, c.value), bytes + 3);
        EXPECT_EQ(std::memcmp(bytes, c.bytes, 3), 0)
            << c.value << " gave " << std::hex << +bytes[0] << ' ' << +bytes[1] << ' '
            << +bytes[2];
        EXPECT_EQ(bytes[3], 0xAA) << "wrote past the number";
    }
}

TEST(Fix24, ReadsBackTheWrittenValue)
{
    for (const Fix24Case &c : fix24_cases) {
        real value = -1.0f;
        EXPECT_EQ(readfix24(&value, c.bytes), c.bytes + 3);
        EXPECT_EQ(value, c.value);
    }
}

TEST(Fix48, WritesSignScaleAndMantissa)
{
    for (const Fix48Case &c : fix48_cases) {
        ui8 bytes[7] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(writefix48(bytes, c.value), bytes + 6);
        EXPECT_EQ(std::memcmp(bytes, c.bytes, 6), 0) << c.value;
        EXPECT_EQ(bytes[6], 0xAA) << "wrote past the number";
    }
}

TEST(Fix48, ReadsBackTheExactTap)
{
    for (const Fix48Case &c : fix48_cases) {
        real value = -1.0f;
        EXPECT_EQ(readfix48(&value, c.bytes), c.bytes + 6);
        EXPECT_EQ(value, c.value);
    }
}

TEST(Fix48, AnyNonZeroSignByteNegates)
{
    ui8 bytes[6] = {0x00, 0x09, 0x32, 0xD3, 0x26, 0x3B};
    real positive = 0.0f, negative = 0.0f;
    readfix48(&positive, bytes);
    for (ui8 sign : {0x01, 0x80, 0xFF}) {
        bytes[0] = sign;
        readfix48(&negative, bytes);
        EXPECT_EQ(negative, -positive);
    }

    ui8 written[6];
    writefix48(written, -positive);
    EXPECT_EQ(written[0], 1);
    EXPECT_EQ(std::memcmp(written + 1, bytes + 1, 5), 0);
}

TEST(Fix48, MantissaIsUnsigned)
{
    const ui8 bytes[6] = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    real value = 0.0f;
    readfix48(&value, bytes);
    EXPECT_EQ(value, 4294967295.0f);
}

TEST(BufferIntegers, BigEndian)
{
    ui8 bytes[6] = {};
    EXPECT_EQ(sput2(bytes, 0x1234), bytes + 2);
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[1], 0x34);

    EXPECT_EQ(sput4(bytes, 1), bytes + 4);
    EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{0, 0, 0, 1}));
    sput4(bytes, 0x89ABCDEFu);
    EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{0x89, 0xAB, 0xCD, 0xEF}));

    ui32 word = 0;
    EXPECT_EQ(sget4(&word, bytes), bytes + 4);
    EXPECT_EQ(word, 0x89ABCDEFu);

    const ui8 pair[2] = {0x12, 0x34};
    ui16 half = 0;
    EXPECT_EQ(sget2(&half, pair), pair + 2);
    EXPECT_EQ(half, 4660);
    const ui8 high[2] = {0xFE, 0xDC};
    sget2(&half, high);
    EXPECT_EQ(half, 0xFEDC);
}

TEST(StreamIntegers, WriteBigEndianAndSumTheByteResults)
{
    std::FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(fput2(258, file), 1 + 2);
    EXPECT_EQ(fput4(0x01020304u, file), 1 + 2 + 3 + 4);
    EXPECT_EQ(fput4(0xFFFFFFFFu, file), 4 * 255);
    EXPECT_EQ(file_bytes(file), (Bytes{1, 2, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF}));
    std::fclose(file);
}

TEST(StreamIntegers, Fget2ReadsBigEndianAndGivesAllOnesAtTheEnd)
{
    std::FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const ui8 bytes[] = {0x12, 0x34, 0xFF, 0x01, 0xAB};
    std::fwrite(bytes, 1, sizeof bytes, file);
    std::rewind(file);
    EXPECT_EQ(fget2(file), 0x1234);
    EXPECT_EQ(fget2(file), 0xFF01);
    EXPECT_EQ(fget2(file), 0xFFFF) << "second byte missing";
    EXPECT_EQ(fget2(file), 0xFFFF) << "both bytes missing";
    std::fclose(file);
}
