#include "decoder.h"

#include "page_faults.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace wsqbench {

const char *const decoder_stage_names[DEC_STAGES] = {"parse", "entropy", "dequantize",
                                                     "synthesis", "conversion"};

namespace {

enum : ui8 {
    SOI = 0xA0, EOI = 0xA1, SOF = 0xA2, SOB = 0xA3, DTT = 0xA4, DQT = 0xA5, DHT = 0xA6,
    DRI = 0xA7, COM = 0xA8
};

// Room past a block's coefficients for the longest zero run one symbol can
// write, so that a stream that does not fit is caught after the fact.
const size_t RUN_SLACK = 65535;

}  // namespace

staged_decoder::~staged_decoder()
{
    for (pqf *&f : filters_)
        f = (pqf *)freepqf(f);
    release_buffers();
    std::free(pixels_);
}

void staged_decoder::release_buffers()
{
    std::free(samples_);
    samples_ = nullptr;
    std::free(work_);
    work_ = nullptr;
}

bool staged_decoder::refuse(const std::string &why)
{
    error_ = why;
    return false;
}

bool staged_decoder::parse(const ui8 *data, size_t size)
{
    for (pqf *&f : filters_)
        f = (pqf *)freepqf(f);
    width_ = height_ = blocks_ = 0;
    bool have_dqt = false;
    if (size < 2 || data[0] != 0xFF || data[1] != SOI)
        return refuse("no Start-Of-Image marker");
    size_t pos = 2;
    for (;;) {
        if (size - pos < 2 || data[pos] != 0xFF)
            return refuse("no marker at offset " + std::to_string(pos));
        ui8 code = data[pos + 1];
        if (code == EOI)
            break;
        if (size - pos < 4)
            return refuse("the stream ends in a segment");
        ui16 length;
        sget2(&length, data + pos + 2);
        if (length < 2 || size - pos - 2 < length)
            return refuse("bad segment length at offset " + std::to_string(pos + 2));
        const ui8 *body = data + pos + 4;
        size_t next = pos + 2 + length;
        switch (code) {
        case SOF: {
            ui16 rows, cols;
            sget2(&rows, body + 2);
            sget2(&cols, body + 4);
            height_ = rows;
            width_ = cols;
            wsqrmr(body + 6, &midpoint_, &rescale_);
            size_t count = (size_t)width_ * (size_t)height_;
            release_buffers();
            samples_ = (real *)std::malloc(count * sizeof(real));
            work_ = std::malloc((count + RUN_SLACK) * sizeof(real));
            if (!samples_ || !work_)
                return refuse("out of memory");
            break;
        }
        case DTT:
            for (pqf *&f : filters_)
                f = (pqf *)freepqf(f);
            wsqrdtt(filters_, body);
            break;
        case DQT:
            wsqrdqt(&center_, qs_, zs_, WSQ_SUBBANDS, body);
            have_dqt = true;
            break;
        case DHT:
            for (size_t at = 0; at < (size_t)length - 2;) {
                int t = body[at] % WSQ_MAXDHTS;
                size_t values = 0;
                for (int i = 0; i < WSQ_MAXBITS; ++i)
                    values += body[at + 1 + i];
                std::memcpy(tables_[t], body + at + 1, WSQ_MAXBITS + values);
                at += 1 + WSQ_MAXBITS + values;
            }
            break;
        case DRI:
            if (body[0] || body[1])
                return refuse("restart intervals are not handled here");
            break;
        case COM:
            break;
        case SOB: {
            if (blocks_ == WSQ_BLOCKS)
                return refuse("too many blocks");
            block_table_[blocks_] = body[0] % WSQ_MAXDHTS;
            std::vector<ui8> &coded = coded_[blocks_++];
            std::vector<ui8>().swap(coded);  // grown afresh, as wsqdecode() does
            size_t i = next;
            for (;;) {
                const ui8 *ff = (const ui8 *)std::memchr(data + i, 0xFF, size - i);
                if (!ff || ff + 1 == data + size)
                    return refuse("a block runs to the end of the stream");
                coded.insert(coded.end(), data + i, ff);
                i = (size_t)(ff - data) + 2;
                if (ff[1] != 0x00) {
                    i -= 2;
                    break;
                }
                coded.push_back(0xFF);
            }
            next = i;
            break;
        }
        default:
            return refuse("unexpected marker at offset " + std::to_string(pos));
        }
        pos = next;
    }
    if (!width_ || !filters_[0] || !have_dqt || blocks_ != WSQ_BLOCKS)
        return refuse("a frame header, table or block is missing");
    xywp2(xs_, ys_, height_, width_, wsqlevels, 0, 0, filters_[0], filters_[1], filters_[0],
          filters_[1]);
    size_t offset = 0;
    for (int block = 0; block < WSQ_SUBBANDS; ++block) {
        offsets_[block] = offset;
        offset += (size_t)xs_[block] * (size_t)ys_[block];
    }
    return true;
}

bool staged_decoder::entropy_decode()
{
    int32 *out = (int32 *)work_;
    int k = 0;
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        size_t expected = 0;
        for (; k < ecsbreak[b]; ++k)
            if (qs_[k] != 0)
                expected += (size_t)xs_[wsqorder[k]] * (size_t)ys_[wsqorder[k]];
        const std::vector<ui8> &coded = coded_[b];
        if (expected == 0)
            continue;
        if (coded.empty())
            return refuse("block " + std::to_string(b) + " is empty");
        ui32 bits = (ui32)coded.size() * 8;
        bitio stream = {const_cast<ui8 *>(coded.data()), const_cast<ui8 *>(coded.data()), 128,
                        bits, 0};
        int32 *end = wsqrecs(out, &stream, bits, tables_[block_table_[b]]);
        if ((size_t)(end - out) != expected)
            return refuse("block " + std::to_string(b) + " decodes to " +
                          std::to_string(end - out) + " coefficients, not " +
                          std::to_string(expected));
        out = end;
    }
    quantized_count_ = (size_t)(out - (int32 *)work_);
    return true;
}

void staged_decoder::dequantize()
{
    const int32 *q = (const int32 *)work_;
    for (int k = 0; k < WSQ_SUBBANDS; ++k) {
        int block = wsqorder[k];
        real *band = samples_ + offsets_[block];
        ui32 n = (ui32)xs_[block] * (ui32)ys_[block];
        if (qs_[k] == 0) {
            std::fill_n(band, n, 0.0f);
            continue;
        }
        wsqunq(band, q, n, center_, qs_[k], zs_[k]);
        q += n;
    }
}

void staged_decoder::synthesize()
{
    void *contents[WSQ_SUBBANDS];
    for (int block = 0; block < WSQ_SUBBANDS; ++block)
        contents[block] = samples_ + offsets_[block];
    ui8 levels[WSQ_SUBBANDS];
    std::memcpy(levels, wsqlevels, sizeof levels);
    hedge graph = {WSQ_SUBBANDS, contents, levels, nullptr};
    rbwp2(&graph, height_, width_, 0, 0, (real *)work_, filters_[2], filters_[3], filters_[2],
          filters_[3]);
}

void staged_decoder::convert()
{
    size_t count = (size_t)width_ * (size_t)height_;
    std::free(pixels_);
    pixels_ = (ui8 *)std::malloc(count);
    WSQ_ASSERT(pixels_);
    wsqr2b(pixels_, samples_, (ui32)count, midpoint_, rescale_);
}

bool staged_decoder::decode(const ui8 *data, size_t size, double *seconds, long *faults)
{
    stage_laps laps(seconds, faults);
    if (!parse(data, size))
        return false;
    laps.lap(DEC_PARSE);
    if (!entropy_decode())
        return false;
    laps.lap(DEC_ENTROPY);
    dequantize();
    laps.lap(DEC_DEQUANTIZE);
    synthesize();
    laps.lap(DEC_SYNTHESIS);
    convert();
    release_buffers();
    laps.lap(DEC_CONVERSION);
    return true;
}

}  // namespace wsqbench
