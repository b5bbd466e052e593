// Fuzz target: the table-segment readers and the entropy decoder, each fed
// through the checks that guard it in wsq_decode. The fuzzer's bytes replace
// one part of a fixed valid stream (segments_base.inc, a 99 x 121 image
// written by wsq1); the first byte chooses the part:
//   0 the transform table body (DTT)     4, 5, 6 the coded data of block 0, 1, 2,
//   1 the quantization table body (DQT)          with a 00 stuffed after each FF
//   2 the Huffman table segment body (DHT)       so that every byte is data
//   3 the frame header body (SOF)        7 the coded data of block byte[1] % 3
//                                          as stored (markers, stuffing, restarts)
// A segment's length field follows its new body. A flaw must be reported in
// the class of the part that carries it.
#include "check.h"

#include <vector>

namespace {

const ui8 base[] = {
#include "segments_base.inc"
};

struct part {
    size_t begin, end;  // bytes replaced
    bool segment;       // a segment body: its length field precedes begin
};

// Locates the table bodies and the blocks' coded data of the base stream.
std::vector<part> parts_of_base()
{
    std::vector<part> parts(7);
    size_t at = 2, blocks = 0;
    while (at + 4 <= sizeof base && base[at + 1] != 0xA1) {
        ui8 code = base[at + 1];
        size_t body = at + 4, end = at + 2 + (base[at + 2] << 8 | base[at + 3]);
        static const ui8 tables[] = {0xA4, 0xA5, 0xA6, 0xA2};
        for (int t = 0; t < 4; ++t)
            if (code == tables[t])
                parts[t] = {body, end, true};
        at = end;
        if (code == 0xA3) {
            while (!(base[at] == 0xFF && base[at + 1] != 0x00))
                at += base[at] == 0xFF ? 2 : 1;
            parts[4 + blocks++] = {end, at, false};
        }
    }
    FUZZ_CHECK(blocks == 3);
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const ui8 *data, size_t size)
{
    static const std::vector<part> parts = parts_of_base();
    if (size < 1)
        return 0;
    int selector = data[0] % 8;
    const ui8 *body = data + 1, *end = data + size;
    bool stuff = selector >= 4 && selector <= 6;
    if (selector == 7) {
        if (size < 2)
            return 0;
        selector = 4 + data[1] % 3;
        ++body;
    }
    const part &p = parts[selector];
    if (p.segment && end - body > 65533)
        end = body + 65533;

    std::vector<ui8> stream(base, base + p.begin);
    for (const ui8 *b = body; b < end; ++b) {
        stream.push_back(*b);
        if (stuff && *b == 0xFF)
            stream.push_back(0x00);
    }
    if (p.segment) {
        size_t length = 2 + (size_t)(end - body);
        stream[p.begin - 2] = (ui8)(length >> 8);
        stream[p.begin - 1] = (ui8)length;
    }
    stream.insert(stream.end(), base + p.end, base + sizeof base);

    decoded d = decode_and_check(stream.data(), stream.size());
    switch (selector) {
    case 0:
        FUZZ_CHECK(one_of(d.status, {WSQ_OK, WSQ_ERR_SEGMENT, WSQ_ERR_TRANSFORM}));
        break;
    case 1:
        FUZZ_CHECK(one_of(d.status, {WSQ_OK, WSQ_ERR_SEGMENT, WSQ_ERR_BLOCK}));
        break;
    case 2:
        FUZZ_CHECK(one_of(d.status, {WSQ_OK, WSQ_ERR_SEGMENT, WSQ_ERR_HUFFMAN, WSQ_ERR_BLOCK}));
        break;
    case 3:
        FUZZ_CHECK(one_of(d.status, {WSQ_OK, WSQ_ERR_SEGMENT, WSQ_ERR_FRAME, WSQ_ERR_LIMIT,
                                     WSQ_ERR_BLOCK, WSQ_ERR_MEMORY}));
        break;
    default:
        if (stuff)
            FUZZ_CHECK(one_of(d.status, {WSQ_OK, WSQ_ERR_BLOCK}));
    }
    if (d.status == WSQ_OK && selector != 3) {
        FUZZ_CHECK(d.info.width == 99 && d.info.height == 121);
    }
    return 0;
}
