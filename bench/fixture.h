// One test image of each size with everything the encoder and the decoder
// make of it, built once per process and checked for consistency.
#ifndef WSQ_BENCH_FIXTURE_H
#define WSQ_BENCH_FIXTURE_H

#include "decoder.h"
#include "encoder.h"

#include <vector>

namespace wsqbench {

struct fixture {
    int width = 0, height = 0;
    std::vector<ui8> pixels;  // a mosaic of the bundled fingerprints
    encoder_trace trace;      // at 0.75 bits per pixel
    staged_decoder decoded;   // of trace.stream, decoded to the end

    double megapixels() const { return (double)width * height / 1e6; }
};

// The side x side fixture at 0.75 bits per pixel. The first call for a size
// builds it, and ends the process with a message if the in-process encoder
// does not give the stream the encoder program would, or if the staged
// decoder and wsqdecode() disagree on it.
const fixture &square_fixture(int side);

}  // namespace wsqbench

#endif
