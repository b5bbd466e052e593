/* Uncompressed big-endian gray-scale TIFF files. */
#include "unit_helpers.h"

#include <cstdio>

using wsqtest::Bytes;

namespace {

/* Everything written so far to a stream opened with tmpfile(). */
Bytes file_bytes(std::FILE *file)
{
    std::fflush(file);
    std::rewind(file);
    Bytes bytes;
    for (int c; (c = std::fgetc(file)) != EOF;)
        bytes.push_back(static_cast<ui8>(c));
    return bytes;
}

void put(Bytes &bytes, ui32 value, int width)
{
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
        bytes.push_back(static_cast<ui8>(value >> shift));
}

/* A 12-byte directory entry of count 1; SHORT values are left-justified. */
void entry(Bytes &bytes, ui16 tag, ui16 type, ui32 value)
{
    put(bytes, tag, 2);
    put(bytes, type, 2);
    put(bytes, 1, 4);
    put(bytes, type == 3 ? value << 16 : value, 4);
}

Bytes tiff_file(const Bytes &pixels, ui32 height, ui32 width)
{
    std::FILE *file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    puttiffg(file, pixels.data(), height, width);
    Bytes bytes = file_bytes(file);
    std::fclose(file);
    return bytes;
}

Bytes field(const Bytes &bytes, std::size_t offset, std::size_t count)
{
    return Bytes(bytes.begin() + offset, bytes.begin() + offset + count);
}

}  // namespace

TEST(Puttiffg, SmallImageLayout)
{
    Bytes pixels;
    for (int n = 0; n < 24; n++)
        pixels.push_back(static_cast<ui8>(10 * n + 3));
    Bytes expected = {0x4D, 0x4D, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08, 0x00, 0x0B};
    entry(expected, 256, 4, 6);
    entry(expected, 257, 4, 4);
    entry(expected, 258, 3, 8);
    entry(expected, 259, 3, 1);
    entry(expected, 262, 3, 1);
    entry(expected, 273, 3, 162);
    entry(expected, 278, 3, 4);
    entry(expected, 279, 4, 24);
    entry(expected, 282, 5, 146);
    entry(expected, 283, 5, 154);
    entry(expected, 296, 3, 2);
    put(expected, 0, 4);
    for (int axis = 0; axis < 2; axis++) {
        put(expected, 6, 4);
        put(expected, 4, 4);
    }
    ASSERT_EQ(expected.size(), 162u);
    expected.insert(expected.end(), pixels.begin(), pixels.end());
    EXPECT_EQ(tiff_file(pixels, 4, 6), expected);
}

TEST(Puttiffg, ResolutionFollowsTheLongerSide)
{
    EXPECT_EQ(field(tiff_file(Bytes(500 * 600, 0), 600, 500), 146, 16),
              (Bytes{0, 0, 2, 0x58, 0, 0, 0, 4, 0, 0, 2, 0x58, 0, 0, 0, 4}));
}
