// The encoder program's source compiled into the benchmarks, so that its
// stages and state (file-level, in an unnamed namespace) can be reached.
#include "encoder.h"

#include "page_faults.h"

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

// encode_image(), stage by stage: after(stage, block) runs after each stage,
// with the block for the stages done once per block (0 for the others).
template <typename After>
void encode_stage_by_stage(After after)
{
    test_parameters();
    reallocate_memory();
    read_raw_pixels();
    after(ENC_INPUT, 0);
    shift_and_rescale();
    after(ENC_NORMALISE, 0);
    write_SOI();
    write_COM();
    write_DTT();
    write_SOF();
    after(ENC_OUTPUT, 0);
    wsq_wpt();
    after(ENC_TRANSFORM, 0);
    compute_subband_sizes();
    compute_variances();
    after(ENC_VARIANCES, 0);
    seek_quality();
    after(ENC_QUALITY, 0);
    quantize_coefficients();
    after(ENC_QUANTIZATION, 0);
    WSQ_symbolize();
    after(ENC_SYMBOLS, 0);
    make_DHTs();
    after(ENC_TABLES, 0);
    print_parameters();
    write_DQT();
    write_DHTs();
    after(ENC_OUTPUT, 0);
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        huffman_encode(b);
        after(ENC_ENTROPY, b);
        write_SOB(b);
        write_ECS();
        after(ENC_OUTPUT, b);
    }
    write_EOI();
    flush_output();
    print_invoice(inname);
    after(ENC_OUTPUT, 0);
}

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
    stage_laps laps(seconds, faults);
    encode_stage_by_stage([&](encoder_stage stage, int) { laps.lap(stage); });
    return files.close();
}

encoder_trace trace_encoder(const ui8 *pixels, int width, int height, double bitrate)
{
    encoder_trace t;
    t.width = width;
    t.height = height;
    size_t count = (size_t)width * (size_t)height;
    memory_files files(pixels, width, height, bitrate);
    encode_stage_by_stage([&](encoder_stage stage, int b) {
        switch (stage) {
        case ENC_NORMALISE:
            t.midpoint = midpoint;
            t.rescale = rescale;
            t.samples.assign((const real *)words0, (const real *)words0 + count);
            break;
        case ENC_VARIANCES:
            t.subbands.assign((const real *)words0, (const real *)words0 + count);
            for (int block = 0; block < WSQ_SUBBANDS; ++block) {
                t.xs[block] = xs[block];
                t.ys[block] = ys[block];
                t.offsets[block] =
                    (size_t)((const real *)graph->contents[block] - (const real *)words0);
            }
            break;
        case ENC_QUALITY:
            std::memcpy(t.qs, qs, sizeof qs);
            std::memcpy(t.zs, zs, sizeof zs);
            break;
        case ENC_QUANTIZATION:
            for (int k = 0; k < WSQ_BLOCKS; ++k)
                t.quantized[k].assign(qcoefs[k], qcoefs[k] + nqcoefs[k]);
            break;
        case ENC_SYMBOLS:
            for (int k = 0; k < WSQ_BLOCKS; ++k)
                t.symbols[k].assign(symbols[k], symbols[k] + symlen[k]);
            break;
        case ENC_TABLES:
            for (int n = 0; n < 2; ++n)  // past dhtlen, the bytes of an earlier image
                std::memcpy(t.tables[n], wsqdht[n], (size_t)dhtlen[n]);
            break;
        case ENC_ENTROPY:
            t.table_of_block[b] = Th[b];
            t.coded[b].assign(ecs->buffer, ecs->buffer + ecs->length / 8);
            break;
        default:
            break;
        }
    });
    t.stream = files.close();
    return t;
}

}  // namespace wsqbench
