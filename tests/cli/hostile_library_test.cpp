// The hostile streams of tests/data/hostile through the library's decoder.
// Every stream goes to wsq_decode and is refused, with no pixels, as
// verdicts.tsv says every path refuses it: its first flaw by offset, two
// flaws in either order among them. The same at 1/2, 1/4 and 1/8 of the
// size, and from wsq_read_info and wsq_comment whenever they refuse it; and
// every truncation of the valid stream alike. A frame of 65535 x 65535
// pixels, which the default limit refuses, fails without a limit too, out of
// memory or with blocks too short: no crash.
#include "library_calls.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

const std::string hostile = WSQ_TEST_DATA "/hostile";

// A refusal as verdicts.tsv writes it: status, offset and message.
std::string refusal(int status, const wsq_error &error)
{
    return std::to_string(status) + "\t" + std::to_string(error.offset) + "\t" + error.message;
}

// wsq_decode's refusal of the stream; "" if it decodes.
std::string decode_refusal(const std::string &stream, size_t max_pixels = WSQ_DEFAULT_MAX_PIXELS,
                           int reduce = 1)
{
    const decoding d = decode(stream, 1, max_pixels, reduce);
    EXPECT_EQ(d.pixels.empty(), d.status != WSQ_OK);
    return d.status == WSQ_OK ? "" : refusal(d.status, d.error);
}

void expect_previews_alike(const std::string &stream, const std::string &refused)
{
    for (int reduce : {2, 4, 8})
        EXPECT_EQ(decode_refusal(stream, WSQ_DEFAULT_MAX_PIXELS, reduce), refused) << "at 1/" << reduce;
}

// The facts, which decode no coded data, refuse a stream as decoding does,
// or not at all.
void expect_facts_alike(const std::string &stream, const std::string &refused)
{
    const uint8_t *data = (const uint8_t *)stream.data();
    wsq_info info;
    wsq_error error;
    int status = wsq_read_info(&info, &error, data, stream.size());
    if (status != WSQ_OK) {
        EXPECT_EQ(refusal(status, error), refused);
    }
    const uint8_t *text;
    size_t length;
    status = wsq_comment(&text, &length, &error, data, stream.size(), 0);
    if (status != WSQ_OK && status != WSQ_ERR_ARGUMENT) {
        EXPECT_EQ(refusal(status, error), refused);
    }
}

void expect_refused(const std::string &stream, const std::string &name, const std::string &verdict)
{
    SCOPED_TRACE(name);
    const std::string refused = decode_refusal(stream);
    if (verdict.empty())
        EXPECT_NE(refused, "");
    else
        EXPECT_EQ(refused, verdict);
    expect_previews_alike(stream, refused);
    expect_facts_alike(stream, refused);
}

// verdicts.tsv: each stream's name, and its refusal.
std::map<std::string, std::string> verdicts()
{
    std::map<std::string, std::string> found;
    std::istringstream lines(read_file(hostile + "/verdicts.tsv"));
    for (std::string line; std::getline(lines, line);)
        found[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
    return found;
}

TEST(HostileLibrary, EveryHostileStreamAndTruncationIsRefusedForItsFirstFlaw)
{
    const std::map<std::string, std::string> verdict = verdicts();
    size_t streams = 0;
    for (const auto &entry : std::filesystem::directory_iterator(hostile)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() == ".wsq") {
            ASSERT_EQ(verdict.count(name), 1u) << name;
            expect_refused(read_file(entry.path().string()), name, verdict.at(name));
            ++streams;
        }
    }
    EXPECT_EQ(streams, verdict.size());
    const std::string valid = read_file(hostile + "/valid/base.wsq");
    ASSERT_EQ(decode_refusal(valid), "");
    for (const auto &entry : std::filesystem::directory_iterator(hostile + "/valid"))
        expect_previews_alike(read_file(entry.path().string()), "");
    for (size_t n = 0; n < valid.size(); ++n)
        expect_refused(valid.substr(0, n), std::to_string(n) + " bytes", "");
}

// A flaw in the coded data of block 1 alone: the previews at 1/4 and 1/8,
// which skip that block, and the facts decode the stream; the others refuse it.
TEST(HostileLibrary, AFlawOnlyInCodedDataThatACallSkipsGoesUnreported)
{
    std::string stream = read_file(hostile + "/flaws-block-1-data-then-table.wsq");
    stream[541] = 1;  // block 2 names a defined table again
    const std::string refused = decode_refusal(stream);
    EXPECT_EQ(refused, "9\t534\tblock 1's coded data ends after 2274 of its 2275 coefficients");
    EXPECT_EQ(decode_refusal(stream, WSQ_DEFAULT_MAX_PIXELS, 2), refused);
    for (int reduce : {4, 8})
        EXPECT_EQ(decode_refusal(stream, WSQ_DEFAULT_MAX_PIXELS, reduce), "");
    wsq_info info;
    EXPECT_EQ(wsq_read_info(&info, nullptr, (const uint8_t *)stream.data(), stream.size()), WSQ_OK);
}

TEST(HostileLibrary, AHugeFrameFailsWithoutACrashWithoutAPixelLimit)
{
    for (int reduce : {1, 8}) {
        const std::string refused = decode_refusal(read_file(hostile + "/65535x65535.wsq"), SIZE_MAX, reduce);
        EXPECT_TRUE(refused.rfind("12\t", 0) == 0 || refused.rfind("9\t", 0) == 0)
            << refused;
    }
}

}  // namespace
