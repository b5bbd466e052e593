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

Bytes symbol_of(int32 value)
{
    ui8 out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    return Bytes(out, writesym(out, value));
}

Bytes run_of(ui32 zeros)
{
    ui8 out[16];
    return Bytes(out, writezrl(out, zeros));
}

}  // namespace

TEST(Wsqwsym, RunsValuesAndEscapes)
{
    EXPECT_EQ(symbols_of({0, 0, 0, 5, -1, 0, 300, -80}),
              (Bytes{3, 185, 179, 1, 103, 1, 44, 102, 80}));
}

TEST(Wsqwsym, StreamsEndWithTheirPendingRun)
{
    EXPECT_EQ(symbols_of({7, 0, 0}), (Bytes{187, 2}));
    EXPECT_EQ(symbols_of({0}), (Bytes{1}));
    EXPECT_EQ(symbols_of({-3}), (Bytes{177}));
    EXPECT_EQ(symbols_of(std::vector<int32>(70000, 0)),
              (Bytes{106, 255, 255, 106, 0x11, 0x71}));
}

TEST(Wsqwsym, LongRunBetweenValues)
{
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
    } cases[] = {
        {1, {181}},          {-1, {179}},           {74, {254}},
        {75, {101, 75}},     {-73, {107}},          {-74, {102, 74}},
        {255, {101, 255}},   {256, {103, 1, 0}},    {-255, {102, 255}},
        {-256, {104, 1, 0}}, {65535, {103, 255, 255}}, {-65535, {104, 255, 255}},
        {4660, {103, 0x12, 0x34}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(symbol_of(c.value), c.bytes) << c.value;
}

TEST(Writezrl, RunsAreSplitIntoPiecesOf65535)
{
    const struct {
        ui32 zeros;
        Bytes bytes;
    } cases[] = {
        {0, {}},
        {1, {1}},
        {100, {100}},
        {101, {105, 101}},
        {255, {105, 255}},
        {256, {106, 1, 0}},
        {65535, {106, 255, 255}},
        {65536, {106, 255, 255, 1}},
        {65535 + 356, {106, 255, 255, 106, 1, 100}},
        {2 * 65535, {106, 255, 255, 106, 255, 255}},
        {2 * 65535 + 1, {106, 255, 255, 106, 255, 255, 1}},
        {2 * 65535 + 101, {106, 255, 255, 106, 255, 255, 105, 101}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(run_of(c.zeros), c.bytes) << c.zeros;
}
