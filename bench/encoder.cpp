// The encoder program's source compiled into the benchmarks, so that its
// stages and state (file-level, in an unnamed namespace) can be reached.
#include "encoder.h"

#include "page_faults.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define main wsq1_main
#include "../src/wsq1.cpp"
#undef main

namespace wsqbench {

const char *const encoder_stage_names[ENC_STAGES] = {
    "input",   "normalise", "transform", "variances", "quality",
    "quantize", "symbols",  "tables",    "entropy",   "output"};

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "wsq bench: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

// The run settings and long-lived records of the encoder, made once.
void start_encoder()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    set_defaults();
    build_structures();
    logfile = std::fopen("/dev/null", "w");
    if (!logfile)
        fail("/dev/null");
}

// Points the encoder at the pixels and at a new memory stream.
struct memory_files {
    char *bytes = nullptr;
    size_t size = 0;

    memory_files(const ui8 *pixels, int width, int height, double rate)
    {
        start_encoder();
        rows = height;
        cols = width;
        bitrate = rate;
        inname = "(memory)";
        infile = fmemopen(const_cast<ui8 *>(pixels), (size_t)width * (size_t)height, "rb");
        if (!infile)
            fail("fmemopen");
        outfile = open_memstream(&bytes, &size);
        if (!outfile)
            fail("open_memstream");
    }

    std::vector<ui8> close()
    {
        std::fclose(infile);
        infile = nullptr;
        std::fclose(outfile);
        outfile = nullptr;
        std::vector<ui8> stream((const ui8 *)bytes, (const ui8 *)bytes + size);
        std::free(bytes);
        return stream;
    }
};

using stage_clock = std::chrono::steady_clock;

}  // namespace

std::vector<ui8> encode(const ui8 *pixels, int width, int height, double bitrate)
{
    memory_files files(pixels, width, height, bitrate);
    encode_image();
    return files.close();
}

std::vector<ui8> encode_in_stages(const ui8 *pixels, int width, int height, double bitrate,
                                  double seconds[ENC_STAGES], long *faults)
{
    memory_files files(pixels, width, height, bitrate);
    long faults_mark = faults ? page_faults() : 0;
    stage_clock::time_point mark = stage_clock::now();
    auto lap = [&](encoder_stage stage) {
        stage_clock::time_point now = stage_clock::now();
        seconds[stage] += std::chrono::duration<double>(now - mark).count();
        if (faults) {
            long count = page_faults();
            faults[stage] += count - faults_mark;
            faults_mark = count;
            now = stage_clock::now();  // the count is not the stage's time
        }
        mark = now;
    };
    // encode_image(), stage by stage.
    test_parameters();
    reallocate_memory();
    read_raw_pixels();
    lap(ENC_INPUT);
    shift_and_rescale();
    lap(ENC_NORMALISE);
    write_SOI();
    write_COM();
    write_DTT();
    write_SOF();
    lap(ENC_OUTPUT);
    wsq_wpt();
    lap(ENC_TRANSFORM);
    compute_subband_sizes();
    compute_variances();
    lap(ENC_VARIANCES);
    seek_quality();
    lap(ENC_QUALITY);
    quantize_coefficients();
    lap(ENC_QUANTIZATION);
    WSQ_symbolize();
    lap(ENC_SYMBOLS);
    make_DHTs();
    lap(ENC_TABLES);
    print_parameters();
    write_DQT();
    write_DHTs();
    lap(ENC_OUTPUT);
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        huffman_encode(b);
        lap(ENC_ENTROPY);
        write_SOB(b);
        write_ECS();
        lap(ENC_OUTPUT);
    }
    write_EOI();
    flush_output();
    print_invoice(inname);
    lap(ENC_OUTPUT);
    return files.close();
}

encoder_trace trace_encoder(const ui8 *pixels, int width, int height, double bitrate)
{
    encoder_trace t;
    t.width = width;
    t.height = height;
    size_t count = (size_t)width * (size_t)height;
    memory_files files(pixels, width, height, bitrate);
    test_parameters();
    reallocate_memory();
    read_raw_pixels();
    shift_and_rescale();
    t.midpoint = midpoint;
    t.rescale = rescale;
    t.samples.assign((const real *)words0, (const real *)words0 + count);
    write_SOI();
    write_COM();
    write_DTT();
    write_SOF();
    wsq_wpt();
    compute_subband_sizes();
    t.subbands.assign((const real *)words0, (const real *)words0 + count);
    for (int block = 0; block < WSQ_SUBBANDS; ++block) {
        t.xs[block] = xs[block];
        t.ys[block] = ys[block];
        t.offsets[block] = (size_t)((const real *)graph->contents[block] - (const real *)words0);
    }
    compute_variances();
    seek_quality();
    std::memcpy(t.qs, qs, sizeof qs);
    std::memcpy(t.zs, zs, sizeof zs);
    quantize_coefficients();
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        t.quantized[b].assign(qcoefs[b], qcoefs[b] + nqcoefs[b]);
    WSQ_symbolize();
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        t.symbols[b].assign(symbols[b], symbols[b] + symlen[b]);
    make_DHTs();
    for (int n = 0; n < 2; ++n)  // past dhtlen, the bytes of an earlier image
        std::memcpy(t.tables[n], wsqdht[n], (size_t)dhtlen[n]);
    print_parameters();
    write_DQT();
    write_DHTs();
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        t.table_of_block[b] = Th[b];
        huffman_encode(b);
        t.coded[b].assign(ecs->buffer, ecs->buffer + ecs->length / 8);
        write_SOB(b);
        write_ECS();
    }
    write_EOI();
    flush_output();
    print_invoice(inname);
    t.stream = files.close();
    return t;
}

}  // namespace wsqbench
