// The decoder's hostile-input table: streams made from a valid one by
// changing one thing. Each is refused by wsq_decode with its status and
// message and no pixels, and by unwsq with that message, exit status 1 and
// no output file.
#include "unwsq_fixture.h"

#include "libwsq.h"

#include <functional>

namespace cli {
namespace {

typedef std::vector<Segment> Segments;

std::string join(const Segments &segments)
{
    std::string out;
    for (const Segment &s : segments)
        out += s.bytes + s.coded;
    return out;
}

// Index of the nth segment with the marker.
size_t find(const Segments &segments, unsigned marker, int nth = 0)
{
    size_t i = segment_index(segments, marker, nth);
    if (i == segments.size())
        throw std::runtime_error(format("no segment FF %02X", marker));
    return i;
}

Segment segment(unsigned marker, const std::string &body)
{
    size_t n = body.size() + 2;
    return {marker, std::string{'\xFF', (char)marker, (char)(n >> 8), (char)n} + body, ""};
}

// Overwrites bytes of the nth segment with the marker, from offset `at`.
void set(Segments &s, unsigned marker, size_t at, const std::string &bytes, int nth = 0)
{
    s[find(s, marker, nth)].bytes.replace(at, bytes.size(), bytes);
}

std::string zeros(long count)  // a symbol stream: one run of `count` zeros
{
    return {'\x6A', (char)(count >> 8), (char)count};
}

std::string stuff(const std::string &bytes, bool add)  // adds or removes the 00 after each FF
{
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += !add && bytes[i] == '\xFF' ? 2 : 1)
        out += add && bytes[i] == '\xFF' ? std::string("\xFF\0", 2) : bytes.substr(i, 1);
    return out;
}

// A symbol stream entropy-coded with a table body (counts, values), padded, stuffed.
std::string coded(const std::string &symbols, const std::string &table)
{
    std::vector<ui8> buffer(4 * symbols.size() + 8);
    bitio *out = makebitio(buffer.data(), 0);
    wsqwecs(out, (const ui8 *)symbols.data(), (ui32)symbols.size(), (const ui8 *)table.data());
    std::string bytes((const char *)buffer.data(), out->nextbit / 8);
    freebitio(out, nullptr);
    return stuff(bytes, true);
}

// The symbols (with their literal bytes) of stored coded data.
std::vector<std::string> symbols_of(const std::string &stored, const std::string &table)
{
    ui32 code[256];
    int size[256];
    dht2cwbl(code, size, (const ui8 *)table.data(), WSQ_MAXBITS);
    std::string data = stuff(stored, false);
    size_t bits = data.size() * 8, at = 0;
    auto read = [&](int n) {
        ui32 value = 0;
        for (; n > 0; --n, ++at)
            value = value << 1 | ((ui8)data[at / 8] >> (7 - at % 8) & 1);
        return value;
    };
    std::vector<std::string> out;  // up to the 1-bits that pad the last byte
    while (bits - at >= 8 || (at < bits && (ui8)(data.back() | 0xFF << (bits - at)) != 0xFF)) {
        int symbol = -1;
        ui32 word = 0;
        for (int length = 1; symbol < 0 && length <= WSQ_MAXBITS; ++length) {
            word = word << 1 | read(1);
            for (int s = 0; s < 256 && symbol < 0; ++s)
                symbol = size[s] == length && code[s] == word ? s : -1;
        }
        out.emplace_back(1, (char)symbol);
        int literal = symbol == 101 || symbol == 102 || symbol == 105 ? 1 : symbol >= 103 && symbol <= 106 ? 2 : 0;
        for (int i = 0; i < literal; ++i)
            out.back() += (char)read(8);
    }
    return out;
}

// Codes of length 3 for: a run of zeros (106), the value 1, one zero, a short run, a byte value.
const std::string table = std::string("\0\0\5", 3) + std::string(13, '\0') + "\x6A\xB5\x01\x69\x65";

class HostileDecoder : public UnwsqTest {
protected:
    void SetUp() override
    {
        const BundledImage &image = bundled("sd04_f0001_01");
        write("in.raw", crop(image.pixels(), image.width, 200, 150, 99, 121));
        Outcome run = wsq1({"-r99,121", "in.raw"});
        ASSERT_EQ(run.status, 0) << run.err;
        valid = parsed(run.out).at(0).segments;
        std::vector<long> sizes = subband_sizes(121, 99);
        for (int k = 0; k < WSQ_SUBBANDS; ++k)
            if (fix24(valid[find(valid, 0xA5)].bytes, 7 + 6 * k) != 0)
                count[k < ecsbreak[0] ? 0 : k < ecsbreak[1] ? 1 : 2] += sizes[k];
        // The valid stream with `table` as tables 0 and 1 and each block one run of zeros.
        recoded = valid;
        recoded[find(recoded, 0xA6)] = segment(0xA6, '\0' + table + '\1' + table);
        for (int b = 0; b < WSQ_BLOCKS; ++b)
            recoded[find(recoded, 0xA3, b)].coded = coded(zeros(count[b]), table);
    }

    void expect_refused(const std::string &stream, int status, const std::string &message, size_t offset)
    {
        wsq_error error;
        EXPECT_TRUE(decoded_pixels(stream, error).empty());
        EXPECT_EQ(error.status, status);
        EXPECT_EQ(error.message, message);
        EXPECT_EQ(error.offset, offset);
        write("x.wsq", stream);
        Outcome run = unwsq({"x.wsq"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, format("unwsq: x.wsq: %s at byte %zu: %s\n", wsq_strerror(status), error.offset,
                                  message.c_str()));
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(std::filesystem::remove(path("x.pgm")));
    }

    Segments valid, recoded;
    long count[WSQ_BLOCKS] = {};  // coefficients of each block
};

struct Row {
    const char *what;
    std::function<void(Segments &)> change;  // of the valid stream
    int status;
    std::string message;
    size_t offset;  // of the flaw in the changed stream; in the valid one SOF is at 62,
                    // DQT at 81, DHT at 472, the blocks at 609, 1043 and 1607, EOI at 1814
};

#define CHANGE(...) [&](Segments & s) { __VA_ARGS__; }

TEST_F(HostileDecoder, EveryRowIsRefusedWithItsMessage)
{
    std::string tables = valid[find(valid, 0xA6)].bytes.substr(4);
    std::map<int, std::string> bodies;
    ASSERT_EQ(huffman_tables(valid[find(valid, 0xA6)], bodies), "");
    size_t values = bodies[1].size() - 16;  // of table 1, the last in the segment
    // Every codeword of a full tree, 257 values: one more than a table has room for. It is
    // defined after table 1, whose counts follow its room.
    std::string all = std::string(7, '\0') + "\xFF\x02" + std::string(7, '\0');
    for (int v = 0; v <= 256; ++v)
        all += (char)v;
    // 15 bytes in, the interval ends inside a codeword whose first bits are not all 1-bits
    // (which would read as the padding of the interval).
    std::string cut_codeword = valid[find(valid, 0xA3)].coded;
    cut_codeword.insert(15, "\xFF\xB0");
    long n = count[0];
    const std::string zero2(2, '\0');
    Segment other_dtt = valid[find(valid, 0xA4)];
    other_dtt.bytes[13] ^= 1;  // the scale of a low-pass tap
    const Row rows[] = {
        {"not a WSQ file", CHANGE(s = {{0, "P5\n1 1\n255\n\x80", ""}}), WSQ_ERR_NOT_WSQ,
         "no Start-Of-Image marker at the start", 0},
        {"SOI and EOI only", CHANGE(s = {s.front(), s.back()}), WSQ_ERR_FRAME, "the stream has no frame header", 2},
        {"no EOI", CHANGE(s.pop_back()), WSQ_ERR_TRUNCATED, "block 2 runs to the end of the input without a marker", 1612},
        {"a length past the end", CHANGE(set(s, 0xA2, 2, "\xFF\xFF")), WSQ_ERR_TRUNCATED,
         "a segment of 65535 bytes runs past the end of the input", 64},
        {"a length below 2", CHANGE(set(s, 0xA5, 2, std::string("\0\1", 2))), WSQ_ERR_SEGMENT,
         "segment length 1 is below 2", 83},
        {"SOF of a wrong length", CHANGE(set(s, 0xA2, 2, std::string("\0\x12", 2))), WSQ_ERR_SEGMENT,
         "frame header of 18 bytes, expected 17", 64},
        {"a second SOF", CHANGE(s.insert(s.begin() + 1, s[find(s, 0xA2)])), WSQ_ERR_FRAME, "a second frame header", 81},
        {"no SOF", CHANGE(s.erase(s.begin() + (long)find(s, 0xA2))), WSQ_ERR_FRAME,
         "block 0 comes before the frame header", 590},
        {"width 0", CHANGE(set(s, 0xA2, 8, zero2)), WSQ_ERR_FRAME, "image of 121 lines by 0 samples is empty", 68},
        {"height 0", CHANGE(set(s, 0xA2, 6, zero2)), WSQ_ERR_FRAME, "image of 0 lines by 99 samples is empty", 68},
        {"a split node with a side of 1", CHANGE(set(s, 0xA2, 6, std::string("\0\x10", 2))), WSQ_ERR_FRAME,
         "image of 16 lines by 99 samples is too small for the subband tree", 68},
        {"65535 x 65535", CHANGE(set(s, 0xA2, 6, "\xFF\xFF\xFF\xFF")), WSQ_ERR_LIMIT,
         "image of 65535 lines by 65535 samples exceeds the limit of 268435456 pixels", 68},
        {"no DTT", CHANGE(s.erase(s.begin() + (long)find(s, 0xA4))), WSQ_ERR_TRANSFORM,
         "block 0 comes before the transform table", 549},
        {"DTT filter of length 1", CHANGE(set(s, 0xA4, 4, "\x01")), WSQ_ERR_TRANSFORM,
         "filter lengths 1 and 7 cannot make a filter pair", 6},
        {"another DTT after block 0", CHANGE(s.insert(s.begin() + (long)find(s, 0xA3, 1), other_dtt)),
         WSQ_ERR_TRANSFORM, "a transform table after block 0 differs from the one in effect", 1043},
        {"no DQT", CHANGE(s.erase(s.begin() + (long)find(s, 0xA5))), WSQ_ERR_QUANTIZATION,
         "block 0 comes before the quantization table", 218},
        {"DQT of zero widths", CHANGE(set(s, 0xA5, 7, std::string(384, '\0'))), WSQ_ERR_BLOCK,
         "block 0 holds coded data beyond its 0 coefficients", 614},
        {"DHT overfilling a level", CHANGE(set(s, 0xA6, 5, "\x03")), WSQ_ERR_HUFFMAN,
         "Huffman table 0 has 3 codes of length 1, more than a code tree holds", 476},
        {"DHT with more values than codes", CHANGE(s[find(s, 0xA6)] = segment(0xA6, tables + "x")), WSQ_ERR_SEGMENT,
         "Huffman table cut short by its segment's end", 609},
        {"DHT with fewer values than codes", CHANGE(s[find(s, 0xA6)] = segment(0xA6, tables.substr(0, tables.size() - 1))),
         WSQ_ERR_SEGMENT, format("Huffman table 1 lists %zu values, its segment holds %zu", values, values - 1), 540},
        {"DHT of 257 codes, all-ones included", CHANGE(s[find(s, 0xA6)] = segment(0xA6, '\1' + table + '\0' + all)),
         WSQ_ERR_HUFFMAN, "Huffman table 0 lists 257 values, more than the 256 symbols", 498},
        {"DHT table index 8", CHANGE(set(s, 0xA6, 4, "\x08")), WSQ_ERR_HUFFMAN, "Huffman table index 8 above 7", 476},
        {"SOB naming an undefined table", CHANGE(set(s, 0xA3, 4, "\x05")), WSQ_ERR_HUFFMAN,
         "block 0 names Huffman table 5, never defined", 613},
        {"a fourth block", CHANGE(s.insert(s.end() - 1, s[find(s, 0xA3, 2)])), WSQ_ERR_BLOCK,
         "more than 3 entropy-coded blocks", 1814},
        {"no block 2", CHANGE(s.erase(s.end() - 2)), WSQ_ERR_BLOCK, "the stream holds 2 of its 3 blocks", 1607},
        {"too few coefficients", CHANGE(s = recoded; s[find(s, 0xA3)].coded = coded(zeros(n - 1), table)),
         WSQ_ERR_BLOCK, format("block 0 decodes to %ld of its %ld coefficients", n - 1, n), 525},
        {"too many coefficients", CHANGE(s = recoded; s[find(s, 0xA3)].coded = coded(zeros(n) + "\xB5\xB5\xB5", table)),
         WSQ_ERR_BLOCK, format("block 0 holds coded data beyond its %ld coefficients", n), 525},
        {"a run of zeros crossing the end", CHANGE(s = recoded; s[find(s, 0xA3)].coded = coded(zeros(n + 1), table)),
         WSQ_ERR_BLOCK, format("block 0: a run of zeros goes past its %ld coefficients", n), 525},
        {"a literal cut by the end", CHANGE(s = recoded; s[find(s, 0xA3)].coded = coded(zeros(n), table).substr(0, 2)),
         WSQ_ERR_BLOCK, "block 0: a literal field is cut by the end of its coded data", 525},
        {"a restart marker inside a codeword", CHANGE(s[find(s, 0xA3)].coded = cut_codeword), WSQ_ERR_BLOCK,
         "block 0: a codeword is cut by a restart marker or the end of the coded data", 614},
        {"a restart marker between segments", CHANGE(s.insert(s.begin() + 1, {0xB0, "\xFF\xB0", ""})),
         WSQ_ERR_MARKER, "marker FF B0 does not belong here", 2},
        {"an unknown marker", CHANGE(s.insert(s.begin() + 1, {0xA9, "\xFF\xA9", ""})), WSQ_ERR_MARKER,
         "marker FF A9 does not belong here", 2},
        {"a byte where a marker belongs", CHANGE(s.insert(s.begin() + 1, {0, "x", ""})), WSQ_ERR_MARKER,
         "byte 78 where a marker belongs", 2},
        {"trailing garbage", CHANGE(s.push_back({0, "trailing", ""})), WSQ_ERR_TRAILING, "8 bytes after End-Of-Image", 1816},
    };
    wsq_error error;
    ASSERT_FALSE(decoded_pixels(join(recoded), error).empty()) << error.message;
    Segments repeated = valid;  // the same transform table again between blocks is no flaw
    repeated.insert(repeated.begin() + (long)find(repeated, 0xA3, 1), valid[find(valid, 0xA4)]);
    EXPECT_TRUE(decoded_pixels(join(repeated), error) == decoded_pixels(join(valid), error));
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Segments s = valid;
        row.change(s);
        expect_refused(join(s), row.status, row.message, row.offset);
    }
}

TEST_F(HostileDecoder, EveryTruncationIsRefused)
{
    std::string stream = join(valid);
    for (size_t n = 0; n < stream.size(); ++n) {
        wsq_error error;
        EXPECT_TRUE(decoded_pixels(stream.substr(0, n), error).empty()) << n;
        EXPECT_EQ(error.status, n < 2 ? WSQ_ERR_NOT_WSQ : WSQ_ERR_TRUNCATED) << n;
    }
    expect_refused("", WSQ_ERR_NOT_WSQ, "the input is empty", 0);
    size_t block1 = join(Segments(valid.begin(), valid.begin() + (long)find(valid, 0xA3, 1) + 1)).size();
    expect_refused(stream.substr(0, block1 - 10), WSQ_ERR_TRUNCATED,
                   "block 1 runs to the end of the input without a marker", 1048);  // its coded data
}

TEST_F(HostileDecoder, RestartIntervalsAtSymbolBoundariesDecodeTheSamePixels)
{
    wsq_error error;
    std::string original = decoded_pixels(join(valid), error);
    ASSERT_FALSE(original.empty()) << error.message;
    std::map<int, std::string> tables;
    ASSERT_EQ(huffman_tables(valid[find(valid, 0xA6)], tables), "");
    Segments s = valid;
    s.insert(s.begin() + (long)find(s, 0xA3), segment(0xA7, std::string("\0\x10", 2)));
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        Segment &sob = s[find(s, 0xA3, b)];
        const std::string &dht = tables[byte_at(sob.bytes, 4)];
        std::vector<std::string> symbols = symbols_of(sob.coded, dht);
        auto part = [&](size_t from, size_t to) {
            std::string run;
            for (size_t i = from; i < to; ++i)
                run += symbols[i];
            return run.empty() ? "" : coded(run, dht);
        };
        size_t n = symbols.size();
        ASSERT_EQ(part(0, n), sob.coded) << b;  // the parts are the encoder's own coding
        // Intervals: empty, a third, a third, the rest, empty.
        sob.coded = "\xFF\xB0" + part(0, n / 3) + "\xFF\xB1" + part(n / 3, 2 * n / 3) + "\xFF\xB2" +
                    part(2 * n / 3, n) + "\xFF\xB3";
    }
    EXPECT_TRUE(decoded_pixels(join(s), error) == original) << error.message;
}

TEST_F(HostileDecoder, EmptyBlocksDecodeAndHugeImagesFailWithoutACrash)
{
    // A ramp at a low bit rate codes block 0 only: blocks 1 and 2 are empty
    // and their table has no codes.
    write("slope.raw", ramp_image(99, 121));
    Outcome ramp = wsq1({"-r99,121", "-Z0.01", "-oramp", "slope.raw"});
    ASSERT_EQ(ramp.status, 0) << ramp.err;
    ASSERT_EQ(parsed(read("ramp.wsq")).at(0).find(0xA3, 2)->coded, "");
    Outcome run = unwsq({"-f", "raw", "ramp.wsq"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read("ramp.raw").size(), 99u * 121u);

    // 65535 x 65535 without a pixel limit: no memory, or blocks too short.
    Segments s = valid;
    set(s, 0xA2, 6, "\xFF\xFF\xFF\xFF");
    wsq_error error;
    EXPECT_TRUE(decoded_pixels(join(s), error, SIZE_MAX).empty());
    EXPECT_TRUE(error.status == WSQ_ERR_MEMORY || error.status == WSQ_ERR_BLOCK) << error.message;
}

}  // namespace
}  // namespace cli
