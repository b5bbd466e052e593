#include "wsq.h"

#include <gtest/gtest.h>

TEST(Fix24, BinCenterRoundsInSinglePrecision)
{
    ui8 bytes[3];
    EXPECT_EQ(writefix24(bytes, 0.44f), bytes + 3);
    EXPECT_EQ(bytes[0], 0x05);
    EXPECT_EQ(bytes[1], 0xAB);
    EXPECT_EQ(bytes[2], 0xE0);
}
