#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

TEST(Wsq1, EncodesTheBundledSample)
{
    std::string command = std::string(WSQ1_PATH) + " -o/dev/null " WSQ_TEST_DATA "/sd04_f0001_01.raw 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
}
