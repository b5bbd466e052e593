// The encoder's pipeline run in this process, pixels in memory to a stream in
// memory, whole or stage by stage. encoder.cpp compiles the encoder program's
// source into itself to reach its stages, so the encoder's state is this
// process's: one encoding at a time.
#ifndef WSQ_BENCH_ENCODER_H
#define WSQ_BENCH_ENCODER_H

#include "libwsq.h"

#include <vector>

namespace wsqbench {

// Encodes width x height pixels at a nominal bit rate exactly as the
// encoder program does, through its encode_image().
std::vector<ui8> encode(const ui8 *pixels, int width, int height, double bitrate = 0.75);

// The stages of the encoder, in pipeline order.
enum encoder_stage {
    ENC_INPUT,         // checks, buffers, reading the pixels
    ENC_NORMALISE,     // pixel statistics and conversion to samples
    ENC_TRANSFORM,     // wavelet-packet analysis
    ENC_VARIANCES,     // subband sizes and variances
    ENC_QUALITY,       // bit allocation
    ENC_QUANTIZATION,  // scalar quantization
    ENC_SYMBOLS,       // run-length and value symbols
    ENC_TABLES,        // symbol counts and Huffman tables
    ENC_ENTROPY,       // Huffman coding of the three blocks
    ENC_OUTPUT,        // marker segments, stuffed blocks, log, flush
    ENC_STAGES
};
extern const char *const encoder_stage_names[ENC_STAGES];

// encode(), timed stage by stage: adds each stage's seconds to seconds[] and,
// when faults is not null, the page faults it took (first touches of fresh
// memory) to faults[]. The stream is the one encode() gives.
std::vector<ui8> encode_in_stages(const ui8 *pixels, int width, int height, double bitrate,
                                  double seconds[ENC_STAGES], long *faults = nullptr);

// What the encoder's stages make of an image, for benchmarking the kernels
// one at a time on the data they meet in the pipeline.
struct encoder_trace {
    int width = 0, height = 0;
    real midpoint = 0, rescale = 0;
    std::vector<real> samples;   // the normalised image, input of the analysis
    std::vector<real> subbands;  // its 64 subbands in hedge order, dense
    int xs[WSQ_SUBBANDS] = {}, ys[WSQ_SUBBANDS] = {};  // subband sizes by hedge block
    size_t offsets[WSQ_SUBBANDS] = {};                  // in subbands[], by hedge block
    real qs[WSQ_SUBBANDS] = {}, zs[WSQ_SUBBANDS] = {};  // bin widths by subband
    std::vector<int32> quantized[WSQ_BLOCKS];           // coefficients of each block
    std::vector<ui8> symbols[WSQ_BLOCKS];               // symbol stream of each block
    ui8 tables[2][WSQ_DHT_BYTES] = {};                  // the two Huffman tables, 0-filled
    int table_of_block[WSQ_BLOCKS] = {};
    std::vector<ui8> coded[WSQ_BLOCKS];                 // coded bytes of each block, unstuffed
    std::vector<ui8> stream;
};

// Encodes as encode() does and keeps the intermediate results.
encoder_trace trace_encoder(const ui8 *pixels, int width, int height, double bitrate = 0.75);

}  // namespace wsqbench

#endif
