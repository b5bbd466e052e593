// The hostile streams of tests/data/hostile through the library's decoder.
// unwsq reads a stream's facts first and decodes its pixels only when they
// read cleanly, so hostile.cases sees the pixel decoder's refusals only of
// streams whose flaw is in their blocks. Here every stream, and every
// truncation of the valid one, goes to wsq_decode: refused, with no pixels,
// and with the refusal unwsq shows whenever the facts are refused too; the
// same at 1/2, 1/4 and 1/8 of the size, at which the valid streams decode. A
// frame of 65535 x 65535 pixels, which unwsq's default limit refuses, fails
// without a limit too, out of memory or with blocks too short: no crash.
#include "library_calls.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

namespace {

const std::string hostile = WSQ_TEST_DATA "/hostile";

std::string refusal(int status, const wsq_error &error)
{
    return std::string(wsq_strerror(status)) + " at byte " + std::to_string(error.offset) + ": " + error.message;
}

// wsq_decode's refusal of the stream; "" if it decodes.
std::string decode_refusal(const std::string &stream, size_t max_pixels = WSQ_DEFAULT_MAX_PIXELS,
                           int reduce = 1)
{
    const decoding d = decode(stream, 1, max_pixels, reduce);
    EXPECT_EQ(d.pixels.empty(), d.status != WSQ_OK);
    return d.status == WSQ_OK ? "" : refusal(d.status, d.error);
}

// A preview is refused as the whole image is: these streams' flaws in coded
// data lie in block 0, which every size decodes.
void expect_previews_alike(const std::string &stream, const std::string &refused)
{
    for (int reduce : {2, 4, 8})
        EXPECT_EQ(decode_refusal(stream, WSQ_DEFAULT_MAX_PIXELS, reduce), refused) << "at 1/" << reduce;
}

void expect_refused(const std::string &stream, const std::string &name)
{
    SCOPED_TRACE(name);
    const std::string refused = decode_refusal(stream);
    EXPECT_NE(refused, "");
    expect_previews_alike(stream, refused);
    wsq_info info;
    wsq_error error;
    const int status = wsq_read_info(&info, &error, (const uint8_t *)stream.data(), stream.size());
    if (status != WSQ_OK) {
        EXPECT_EQ(refused, refusal(status, error));
    }
}

TEST(HostileLibrary, EveryHostileStreamAndTruncationIsRefused)
{
    int streams = 0;
    for (const auto &entry : std::filesystem::directory_iterator(hostile)) {
        if (entry.path().extension() == ".wsq") {
            expect_refused(read_file(entry.path()), entry.path().filename());
            ++streams;
        }
    }
    EXPECT_EQ(streams, 45);
    const std::string valid = read_file(hostile + "/valid/base.wsq");
    ASSERT_EQ(decode_refusal(valid), "");
    for (const auto &entry : std::filesystem::directory_iterator(hostile + "/valid"))
        expect_previews_alike(read_file(entry.path()), "");
    for (size_t n = 0; n < valid.size(); ++n)
        expect_refused(valid.substr(0, n), std::to_string(n) + " bytes");
}

TEST(HostileLibrary, AHugeFrameFailsWithoutACrashWithoutAPixelLimit)
{
    for (int reduce : {1, 8}) {
        const std::string refused = decode_refusal(read_file(hostile + "/65535x65535.wsq"), SIZE_MAX, reduce);
        EXPECT_TRUE(refused.rfind("out of memory", 0) == 0 || refused.rfind("bad entropy-coded block", 0) == 0)
            << refused;
    }
}

}  // namespace
