// The decoder's work split into stages, built from the library's kernels in
// the order wsqdecode() runs them, so that each can be timed on its own. It
// reads well-formed streams only (those the encoder writes); wsqdecode() is
// the decoder that checks everything. Its pixels equal wsqdecode()'s.
#ifndef WSQ_BENCH_DECODER_H
#define WSQ_BENCH_DECODER_H

#include "libwsq.h"

#include <string>
#include <vector>

namespace wsqbench {

enum decoder_stage {
    DEC_PARSE,        // segments, tables, coded data without stuffing
    DEC_ENTROPY,      // Huffman decoding of the three blocks
    DEC_DEQUANTIZE,   // coefficients back to subband samples
    DEC_SYNTHESIS,    // wavelet-packet synthesis
    DEC_CONVERSION,   // samples to pixels
    DEC_STAGES
};
extern const char *const decoder_stage_names[DEC_STAGES];

class staged_decoder {
public:
    staged_decoder() = default;
    staged_decoder(const staged_decoder &) = delete;
    staged_decoder &operator=(const staged_decoder &) = delete;
    ~staged_decoder();

    // Each stage needs the ones before it; parse() starts over. A stage
    // returns false, with a message in error(), on a stream it cannot read.
    bool parse(const ui8 *data, size_t size);
    bool entropy_decode();
    void dequantize();
    void synthesize();
    void convert();

    // All five, adding each stage's seconds to seconds[] and its page faults
    // to faults[] when they are not null. Like wsqdecode(), it allocates its
    // work buffers for each stream and releases them at the end, keeping only
    // the pixels (and the tables and coded data).
    bool decode(const ui8 *data, size_t size, double *seconds = nullptr, long *faults = nullptr);

    int width() const { return width_; }
    int height() const { return height_; }
    const ui8 *pixels() const { return pixels_; }  // after convert()
    const std::string &error() const { return error_; }

    // After parse(): the tables and the coded bytes of each block, and where
    // each subband lies in the sample buffer.
    pqf *filter(int n) const { return filters_[n]; }
    const ui8 *table_of_block(int b) const { return tables_[block_table_[b]]; }
    const std::vector<ui8> &coded(int b) const { return coded_[b]; }
    real center() const { return center_; }
    real qs(int k) const { return qs_[k]; }
    real zs(int k) const { return zs_[k]; }
    real midpoint() const { return midpoint_; }
    real rescale() const { return rescale_; }
    int subband_rows(int block) const { return xs_[block]; }
    int subband_cols(int block) const { return ys_[block]; }
    size_t subband_offset(int block) const { return offsets_[block]; }
    // After entropy_decode() and until synthesize(), which takes their
    // place for its scratch: the coefficients of the coded subbands, in
    // order, quantized_count() of them.
    const int32 *quantized() const { return (const int32 *)work_; }
    size_t quantized_count() const { return quantized_count_; }
    // After dequantize(): the subbands; after synthesize(): the samples.
    // decode() releases both buffers at its end.
    const real *samples() const { return samples_; }

private:
    bool refuse(const std::string &why);
    void release_buffers();

    int width_ = 0, height_ = 0;
    real midpoint_ = 0, rescale_ = 0;
    pqf *filters_[4] = {};  // H0, H1, F0, F1
    real center_ = 0, qs_[WSQ_SUBBANDS] = {}, zs_[WSQ_SUBBANDS] = {};
    ui8 tables_[WSQ_MAXDHTS][WSQ_DHT_BYTES] = {};
    int block_table_[WSQ_BLOCKS] = {};
    int blocks_ = 0;
    std::vector<ui8> coded_[WSQ_BLOCKS];
    int xs_[WSQ_SUBBANDS] = {}, ys_[WSQ_SUBBANDS] = {};
    size_t offsets_[WSQ_SUBBANDS] = {};
    // Buffers of the sizes wsqdecode() allocates, made by parse(): the
    // subbands and then the samples; the coefficients and then the
    // synthesis scratch; the pixels.
    real *samples_ = nullptr;
    void *work_ = nullptr;
    size_t quantized_count_ = 0;
    ui8 *pixels_ = nullptr;
    std::string error_;
};

}  // namespace wsqbench

#endif
