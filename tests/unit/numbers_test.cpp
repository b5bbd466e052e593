/* The fused multiply-add from double arithmetic, fix24 and fix48 numbers, big-endian integers
 * in buffers and on streams. */
#include "unit_helpers.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

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

namespace {

std::mt19937_64 next(20261207);

float from_bits(std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint32_t bits_of(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

/* A float of random sign and significand whose exponent lies within spread of 127 (1.0). */
float near_one(int spread)
{
    std::uint32_t bits = (std::uint32_t)next();
    std::uint32_t exponent = (std::uint32_t)(127 - spread + (int)(next() % (2 * spread + 1)));
    return from_bits((bits & 0x807FFFFFu) | exponent << 23);
}

/* wsqfma(a, b, c) against std::fma(a, b, c): the same bits, or both not a number. */
::testing::AssertionResult same_as_fma(float a, float b, float c)
{
    float expected = std::fma(a, b, c), got = wsqfma(a, b, c);
    if (bits_of(expected) == bits_of(got) || (std::isnan(expected) && std::isnan(got)))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hexfloat << "fma(" << a << ", " << b << ", " << c
                                         << ") is " << expected << ", not " << got;
}

}  // namespace

TEST(FusedMultiplyAdd, EqualsStdFmaToTheBit)
{
#if defined(__MINGW32__)
    GTEST_SKIP() << "mingw-w64's fmaf does not always round once: the kernels take wsqfma there";
#endif
    using limits = std::numeric_limits<float>;
    const float edges[] = {0.0f, -0.0f, limits::denorm_min(), -limits::denorm_min(),
                           from_bits(0x007FFFFF), limits::min(), -limits::min(), limits::max(),
                           -limits::max(), limits::infinity(), -limits::infinity(),
                           limits::quiet_NaN(), 1.0f, -1.0f, 1.0f + limits::epsilon(),
                           1.0f - limits::epsilon() / 2, 0.5f, 3.0f, 0x1p-75f, 0x1p64f};
    for (float a : edges)
        for (float b : edges)
            for (float c : edges)
                ASSERT_TRUE(same_as_fma(a, b, c));
    for (int i = 0; i < 2000000; ++i) {
        /* Any bits; operands of nearby size, whose sums round in every way; a product
         * cancelled by its own rounding, or nearly (the error alone is left); and results
         * in and below the subnormal range. */
        float x = from_bits((std::uint32_t)next()), y = from_bits((std::uint32_t)next());
        ASSERT_TRUE(same_as_fma(x, y, from_bits((std::uint32_t)next())));
        float a = near_one(12), b = near_one(12);
        ASSERT_TRUE(same_as_fma(a, b, near_one(30)));
        float product = a * b;
        ASSERT_TRUE(same_as_fma(a, b, -product));
        ASSERT_TRUE(same_as_fma(a, b, -std::nextafter(product, 0.0f)));
        ASSERT_TRUE(same_as_fma(a, b, std::ldexp(near_one(0), -(int)(next() % 60))));
        ASSERT_TRUE(same_as_fma(a * 0x1p-70f, b * 0x1p-70f, near_one(3) * 0x1p-140f));
        /* A product halfway between two floats (25 significant bits), and an addend too
         * small for a double to keep beside it: only its error tells which way to round. */
        float odd13 = (float)(4097 + 2 * (next() % 2048));
        float odd12 = (float)(2049 + 2 * (next() % 1024));
        ASSERT_TRUE(same_as_fma(odd13, odd12, next() & 1 ? 0x1p-31f : -0x1p-31f));
    }
}
