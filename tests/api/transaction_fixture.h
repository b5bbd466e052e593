// Transactions built from the bundled prints, for the transaction tests and
// benchmark (WSQ_TEST_DATA names tests/data): tagged records whose length is counted here, Type-4 records, a
// Type-1 listing them, and WSQ streams of crops of a bundled print.
#pragma once

#include "transaction.h"

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace transaction_fixture {

typedef std::vector<std::pair<std::string, std::string>> fields;  // tag digits, value

struct record {
    int type, idc;
    std::string bytes;
};

const int crop_width = 160, crop_height = 192;

// Crop k (0 to 5) of the bundled 512 x 512 print, crop_width x crop_height.
inline std::string crop_of(int k)
{
    static const std::string print = [] {
        std::ifstream file(std::string(WSQ_TEST_DATA) + "/sd04_f0001_01.raw", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }();
    std::string pixels;
    int x = 16 + k % 3 * crop_width, y = 32 + k / 3 * crop_height;
    for (int row = 0; row < crop_height; ++row)
        pixels += print.substr((size_t)(y + row) * 512 + x, crop_width);
    return pixels;
}

inline std::string stream_of(const std::string &pixels, int width = crop_width, int height = crop_height)
{
    uint8_t *stream;
    size_t size;
    if (wsq_encode(&stream, &size, nullptr, (const uint8_t *)pixels.data(), pixels.size(), width, height,
                   nullptr) != WSQ_OK)
        return "";
    std::string bytes((const char *)stream, size);
    wsq_free(stream);
    return bytes;
}

// A tagged record of these fields after its length, which counts its own digits.
inline std::string tagged_record(int type, const fields &after_length)
{
    std::string prefix = std::to_string(type) + ".", rest;
    for (const auto &field : after_length)
        rest += "\x1d" + prefix + field.first + ":" + field.second;
    rest += "\x1c";
    size_t length = 0;
    while (prefix.size() + 4 + std::to_string(length).size() + rest.size() != length)
        length = prefix.size() + 4 + std::to_string(length).size() + rest.size();
    return prefix + "001:" + std::to_string(length) + rest;
}

inline std::string big_endian(unsigned value, int bytes)
{
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out += (char)(value >> 8 * i);
    return out;
}

// A Type-4 record: its 18-byte header (one finger position, ISR 0), then data.
inline std::string print_record(int idc, int impression, int position, int width, int height,
                                int compression, const std::string &data)
{
    return big_endian((unsigned)(18 + data.size()), 4) + (char)idc + (char)impression + (char)position +
           std::string(5, '\xff') + '\0' + big_endian(width, 2) + big_endian(height, 2) + (char)compression +
           data;
}

// A Type-13, 14 or 15 record holding a WSQ stream (of a crop unless told), at 500 ppi.
inline std::string tagged_print(int type, int idc, int position, const std::string &label,
                                const std::string &stream, const std::string &width_tag = "006",
                                int width = crop_width, int height = crop_height)
{
    return tagged_record(type, {{"002", std::to_string(idc)}, {"003", "1"}, {"004", "SRC1"},
                                {"005", "20240131"}, {width_tag, std::to_string(width)},
                                {"007", std::to_string(height)}, {"008", "1"}, {"009", "500"},
                                {"010", "500"}, {"011", label}, {"012", "8"},
                                {"013", std::to_string(position)}, {"999", stream}});
}

inline fields type1_fields()
{
    return {{"004", "CAR"}, {"005", "20240131"}, {"007", "DAI1"}, {"008", "ORI1"},
            {"009", "TCN1"}, {"011", "19.69"}, {"012", "19.69"}};
}

// Type-1 (VER version, CNT listing records) and the records.
inline std::string transaction(const std::string &version, const std::vector<record> &records,
                               const fields &more = type1_fields())
{
    std::string cnt = "1\x1f" + std::to_string(records.size()), body;
    for (const record &r : records) {
        cnt += "\x1e" + std::to_string(r.type) + "\x1f" + std::to_string(r.idc);
        body += r.bytes;
    }
    fields type1 = {{"002", version}, {"003", cnt}};
    type1.insert(type1.end(), more.begin(), more.end());
    return tagged_record(1, type1) + body;
}

}  // namespace transaction_fixture
