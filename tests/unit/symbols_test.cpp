/* Symbol streams: values, escapes and zero runs. */
#include "unit_helpers.h"

using wsqtest::Bytes;

namespace {

Bytes symbols_of(const std::vector<int32> &values)
{
    Bytes out(3 * values.size() + 8, 0xEE);
    ui8 *end = wsqwsym(out.data(), values.data(), values.size());
    EXPECT_EQ(*end, 0xEE) << "wrote past the returned end";
    return Bytes(out.data(), end);
}

}  // namespace

TEST(Wsqwsym, RunsValuesAndEscapes)
{
    EXPECT_EQ(symbols_of({0, 0, 0, 5, -1, 0, 300, -80}),
              (Bytes{3, 185, 179, 1, 103, 1, 44, 102, 80}));
    EXPECT_EQ(symbols_of({7, 0, 0}), (Bytes{187, 2})) << "ends with its pending run";
    EXPECT_EQ(symbols_of({0}), (Bytes{1}));
    EXPECT_EQ(symbols_of({-3}), (Bytes{177}));
    EXPECT_EQ(symbols_of(std::vector<int32>(70000, 0)), (Bytes{106, 255, 255, 106, 0x11, 0x71}));
    std::vector<int32> values(300, 0);
    values[0] = 1;
    values[299] = -1;
    EXPECT_EQ(symbols_of(values), (Bytes{181, 106, 1, 42, 179}));
}

TEST(Writesym, DirectValuesAndEscapes)
{
    const struct {
        int32 value;
        Bytes bytes;
    } rows[] = {
        {1, {181}},          {-1, {179}},              {74, {254}},
        {75, {101, 75}},     {-73, {107}},             {-74, {102, 74}},
        {255, {101, 255}},   {256, {103, 1, 0}},       {-255, {102, 255}},
        {-256, {104, 1, 0}}, {65535, {103, 255, 255}}, {-65535, {104, 255, 255}},
        {4660, {103, 0x12, 0x34}},
    };
    for (const auto &row : rows) {
        ui8 out[4];
        EXPECT_EQ(Bytes(out, writesym(out, row.value)), row.bytes) << row.value;
    }
}

TEST(Writezrl, RunsAreSplitIntoPiecesOf65535)
{
    const struct {
        ui32 zeros;
        Bytes bytes;
    } rows[] = {
        {0, {}},
        {1, {1}},
        {100, {100}},
        {101, {105, 101}},
        {255, {105, 255}},
        {256, {106, 1, 0}},
        {65535, {106, 255, 255}},
        {65536, {106, 255, 255, 1}},
        {65535 + 356, {106, 255, 255, 106, 1, 100}},
        {2 * 65535 + 101, {106, 255, 255, 106, 255, 255, 105, 101}},
    };
    for (const auto &row : rows) {
        ui8 out[16];
        EXPECT_EQ(Bytes(out, writezrl(out, row.zeros)), row.bytes) << row.zeros;
    }
}
