/* Uncompressed big-endian gray-scale TIFF files. */
#include "unit_helpers.h"

using wsqtest::Bytes;
using wsqtest::file_bytes;

namespace {

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

template <typename Write>
Bytes written_by(Write write, int expected_count)
{
    std::FILE *file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    EXPECT_EQ(write(file), expected_count);
    Bytes bytes = file_bytes(file);
    std::fclose(file);
    return bytes;
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

    const Bytes file = tiff_file(pixels, 4, 6);
    EXPECT_EQ(file.size(), 186u);
    EXPECT_EQ(file, expected);
}

TEST(Puttiffg, LargeImageFields)
{
    const Bytes file = tiff_file(Bytes(600 * 400, 0x80), 400, 600);
    ASSERT_EQ(file.size(), 162u + 600 * 400);
    EXPECT_EQ(field(file, 18, 4), (Bytes{0x00, 0x00, 0x02, 0x58})) << "ImageWidth";
    EXPECT_EQ(field(file, 30, 4), (Bytes{0x00, 0x00, 0x01, 0x90})) << "ImageLength";
    EXPECT_EQ(field(file, 90, 4), (Bytes{0x01, 0x90, 0x00, 0x00})) << "RowsPerStrip";
    EXPECT_EQ(field(file, 102, 4), (Bytes{0x00, 0x03, 0xA9, 0x80})) << "StripByteCounts";
    const Bytes resolution = {0x00, 0x00, 0x02, 0x58, 0x00, 0x00, 0x00, 0x04};
    EXPECT_EQ(field(file, 146, 8), resolution);
    EXPECT_EQ(field(file, 154, 8), resolution);
    EXPECT_EQ(file[162], 0x80);
}

TEST(Puttiffg, ResolutionFollowsTheLongerSide)
{
    const Bytes file = tiff_file(Bytes(4 * 10, 0), 10, 4);
    const Bytes resolution = {0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x04};
    EXPECT_EQ(field(file, 146, 8), resolution);
    EXPECT_EQ(field(file, 154, 8), resolution);

    const Bytes square = tiff_file(Bytes(512 * 512, 1), 512, 512);
    EXPECT_EQ(square.size(), 162u + 512 * 512);
    EXPECT_EQ(field(square, 102, 4), (Bytes{0x00, 0x04, 0x00, 0x00}));
    EXPECT_EQ(field(square, 146, 8), (Bytes{0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x04}));
}

TEST(TiffStructures, SizesOfValues)
{
    EXPECT_EQ(tiffsiz(3, 1), 2u);
    EXPECT_EQ(tiffsiz(3, 5), 10u);
    EXPECT_EQ(tiffsiz(4, 1), 4u);
    EXPECT_EQ(tiffsiz(4, 3), 12u);
    EXPECT_EQ(tiffsiz(5, 1), 8u);
    EXPECT_EQ(tiffsiz(1, 1), 0u);
    EXPECT_EQ(tiffsiz(7, 9), 0u);
}

TEST(TiffStructures, EntryValueFields)
{
    const auto entry_of = [](ui16 type, ui32 count, ui32 value) {
        return written_by([&](std::FILE *f) { return tiffent(f, 0x0102, type, count, value); },
                          12);
    };
    EXPECT_EQ(entry_of(3, 1, 0x12345678),
              (Bytes{0x01, 0x02, 0x00, 0x03, 0, 0, 0, 1, 0x56, 0x78, 0x00, 0x00}));
    EXPECT_EQ(entry_of(4, 1, 0x12345678),
              (Bytes{0x01, 0x02, 0x00, 0x04, 0, 0, 0, 1, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(entry_of(3, 3, 0x00000200),
              (Bytes{0x01, 0x02, 0x00, 0x03, 0, 0, 0, 3, 0x00, 0x00, 0x02, 0x00}));
    EXPECT_EQ(entry_of(7, 1, 0x12345678),
              (Bytes{0x01, 0x02, 0x00, 0x07, 0, 0, 0, 1, 0x00, 0x00, 0x00, 0x00}));
}

TEST(TiffStructures, HeaderAndSmallWriters)
{
    EXPECT_EQ(written_by([](std::FILE *f) { return tiffhdr(f, 0x01020304); }, 8),
              (Bytes{0x4D, 0x4D, 0x00, 0x2A, 0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(written_by([](std::FILE *f) { return tiffifd(f, 0x0B0C); }, 2),
              (Bytes{0x0B, 0x0C}));
    EXPECT_EQ(written_by([](std::FILE *f) { return tiffnio(f, 0xA0B0C0D0u); }, 4),
              (Bytes{0xA0, 0xB0, 0xC0, 0xD0}));
    EXPECT_EQ(written_by([](std::FILE *f) { return tiffrat(f, 600, 4); }, 8),
              (Bytes{0, 0, 0x02, 0x58, 0, 0, 0, 4}));
}
