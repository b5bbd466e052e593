// One test image of each size, with what the library's encoder and decoder
// make of it stage by stage: one run of wsq_encode() and one of wsq_decode()
// through the stage clock give the inputs and the expected results of the
// kernel benchmarks.
#ifndef WSQ_BENCH_FIXTURE_H
#define WSQ_BENCH_FIXTURE_H

#include "stage_clock.h"

#include <memory>
#include <vector>

namespace wsqbench {

// The 64 subbands in an image-sized buffer, where the pipeline put them.
struct subband_image {
    std::vector<real> values;
    size_t offsets[WSQ_SUBBANDS] = {};  // in values, by hedge block
    int xs[WSQ_SUBBANDS] = {}, ys[WSQ_SUBBANDS] = {};

    void take(const wsq_stage_view &view);
};

struct release_filter {
    void operator()(pqf *filter) const { freepqf(filter); }
};
using filter = std::unique_ptr<pqf, release_filter>;

// By stage: normalise, variances (the subbands, as the analysis left them),
// quality, quantize, symbols, tables, entropy.
struct encoder_trace {
    real midpoint = 0, rescale = 0;
    std::vector<real> samples;
    filter low, high;  // the analysis filters
    subband_image subbands;
    ui32 numcoefs[WSQ_SUBBANDS] = {};
    double variance[WSQ_SUBBANDS] = {};
    real qs[WSQ_SUBBANDS] = {}, zs[WSQ_SUBBANDS] = {};
    std::vector<int32> integers[WSQ_BLOCKS];
    std::vector<ui8> symbols[WSQ_BLOCKS];
    ui8 tables[WSQ_MAXDHTS][WSQ_DHT_BYTES] = {};
    int table_of_block[WSQ_BLOCKS] = {};
    std::vector<ui8> coded[WSQ_BLOCKS];  // without stuffing
};

// By stage: parse, entropy (the subbands once all three blocks are decoded),
// synthesis; the integers are the encoder's.
struct decoder_trace {
    std::vector<ui8> coded[WSQ_BLOCKS];  // without stuffing
    ui8 tables[WSQ_MAXDHTS][WSQ_DHT_BYTES] = {};
    int table_of_block[WSQ_BLOCKS] = {};
    std::vector<int32> integers[WSQ_BLOCKS];
    real center = 0, qs[WSQ_SUBBANDS] = {}, zs[WSQ_SUBBANDS] = {};
    subband_image subbands;
    filter low, high;  // the synthesis filters
    std::vector<real> samples;
    real midpoint = 0, rescale = 0;
};

struct fixture {
    int width = 0, height = 0;
    std::vector<ui8> pixels;   // a mosaic of the bundled fingerprints
    std::vector<ui8> stream;   // wsq_encode() of it at 0.75 bits per pixel
    std::vector<ui8> decoded;  // wsq_decode() of the stream
    encoder_trace encoder;
    decoder_trace decoder;

    size_t pixel_count() const { return (size_t)width * (size_t)height; }
    double megapixels() const { return (double)pixel_count() / 1e6; }
};

// The side x side fixture. The first call for a size builds it, and ends the
// process with a message if a call fails or a pipeline does not report a
// stage that the trace takes.
const fixture &square_fixture(int side);

}  // namespace wsqbench

#endif
