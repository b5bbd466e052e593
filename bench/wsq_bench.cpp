// Benchmarks of the codec's kernels and of the library's two pipelines,
// wsq_encode() and wsq_decode(), in this process, on mosaics of the bundled
// fingerprints of 512x512 to 4096x4096 pixels at 0.75 bits per pixel. Every
// rate is in megapixels of the image per second (the counter MP, shown as
// MP=.../s), whatever part of the image the kernel touches, so the figures
// add up the way the pipeline does. Each kernel runs on the data it meets in
// the pipeline (taken from a run of the pipeline through the stage clock,
// fixture.h) and checks once that it gives what the pipeline gave; a failed
// check ends the run with status 1. The pipelines also run with 2 threads
// and with one per core (.../threads:0), timed on the wall clock, and the
// decoder's previews at 1/2, 1/4 and 1/8 of each dimension on one
// (pipeline/wsq_decode_reduced/SIDE/reduce:N).
//
//     wsq_bench [--benchmark_filter=REGEX] [other Google Benchmark options]
#include "fixture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using wsqbench::fixture;
using wsqbench::square_fixture;

const int sides[] = {512, 1024, 2048, 4096};

void count_pixels(benchmark::State &state, const fixture &f)
{
    state.counters["MP"] =
        benchmark::Counter(f.megapixels(), benchmark::Counter::kIsIterationInvariantRate);
}

template <class T>
bool same(const T *a, const T *b, size_t count)
{
    return std::memcmp(a, b, count * sizeof(T)) == 0;
}

template <class T>
bool same(const std::vector<T> &a, const T *b, size_t count)
{
    return a.size() == count && same(a.data(), b, count);
}

int failures = 0;  // checks that failed: the run ends with status 1

void check(benchmark::State &state, bool ok, const char *what)
{
    if (ok)
        return;
    ++failures;
    state.SkipWithError(what);
}

// Blocks back to back, as the pipeline keeps them, with where each starts.
template <class T>
struct joined_blocks {
    std::vector<T> all;
    T *start[WSQ_BLOCKS];
    int count[WSQ_BLOCKS];

    explicit joined_blocks(const std::vector<T> (&blocks)[WSQ_BLOCKS])
    {
        for (const std::vector<T> &block : blocks)
            all.insert(all.end(), block.begin(), block.end());
        T *at = all.data();
        for (int b = 0; b < WSQ_BLOCKS; ++b) {
            start[b] = at;
            count[b] = (int)blocks[b].size();
            at += count[b];
        }
    }
};

// Where each subband of a copy of the pipeline's subbands starts.
void place(void **contents, std::vector<real> &values, const wsqbench::subband_image &subbands)
{
    for (int block = 0; block < WSQ_SUBBANDS; ++block)
        contents[block] = values.data() + subbands.offsets[block];
}

// Whether the blocks of coded subbands in values are those of the pipeline
// (the analysis makes no others).
bool same_coded_blocks(const std::vector<real> &values, const wsqbench::subband_image &subbands)
{
    for (int block = 0; block < WSQ_SUBBANDS; ++block) {
        auto first = values.begin() + (std::ptrdiff_t)subbands.offsets[block];
        auto count = (std::ptrdiff_t)subbands.xs[block] * subbands.ys[block];
        if (wsqcoded[block] &&
            !std::equal(first, first + count,
                        subbands.values.begin() + (std::ptrdiff_t)subbands.offsets[block]))
            return false;
    }
    return true;
}

/* ---- Encoder kernels ---------------------------------------------------- */

void pixel_statistics(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    real midpoint = 0, rescale = 0;
    for (auto _ : state) {
        pixelmr(&midpoint, &rescale, f.pixels.data(), (ui32)f.pixel_count(), nullptr);
        benchmark::DoNotOptimize(midpoint);
        benchmark::DoNotOptimize(rescale);
    }
    check(state, midpoint == f.encoder.midpoint && rescale == f.encoder.rescale,
          "other midpoint or rescale");
    count_pixels(state, f);
}

void bytes_to_samples(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::encoder_trace &t = f.encoder;
    std::vector<real> out(f.pixel_count());
    for (auto _ : state) {
        wsqb2r(out.data(), f.pixels.data(), (ui32)out.size(), t.midpoint, t.rescale);
        benchmark::ClobberMemory();
    }
    check(state, out == t.samples, "other samples");
    count_pixels(state, f);
}

void analysis(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::encoder_trace &t = f.encoder;
    std::vector<real> data(f.pixel_count()), work(f.pixel_count());
    void *contents[WSQ_SUBBANDS] = {};
    ui8 levels[WSQ_SUBBANDS];
    std::memcpy(levels, wsqlevels, sizeof levels);
    hedge graph = {WSQ_SUBBANDS, contents, levels, nullptr};
    for (auto _ : state) {
        state.PauseTiming();
        data = t.samples;
        contents[0] = data.data();
        state.ResumeTiming();
        cbwp2t(&graph, f.height, f.width, 0, 0, work.data(), t.low.get(), t.high.get(),
               t.low.get(), t.high.get(), wsqcoded.data(), nullptr);
        benchmark::ClobberMemory();
    }
    check(state, same_coded_blocks(data, t.subbands), "other subbands");
    count_pixels(state, f);
}

void variances(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::encoder_trace &t = f.encoder;
    std::vector<real> subbands = t.subbands.values;
    void *contents[WSQ_SUBBANDS];
    place(contents, subbands, t.subbands);
    double variance[WSQ_SUBBANDS] = {};
    for (auto _ : state) {
        subbandvars(variance, contents, t.subbands.xs, t.subbands.ys, nullptr);
        benchmark::ClobberMemory();
    }
    check(state, same(variance, t.variance, WSQ_CODED_SUBBANDS), "other variances");
    count_pixels(state, f);
}

void quantize(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::encoder_trace &t = f.encoder;
    std::vector<real> subbands = t.subbands.values;
    void *contents[WSQ_SUBBANDS];
    place(contents, subbands, t.subbands);
    std::vector<int32> out(f.pixel_count());
    int32 *integers[WSQ_BLOCKS] = {};
    ui32 count[WSQ_BLOCKS] = {};
    int refused = -1;
    for (auto _ : state) {
        refused = qntblocks(out.data(), integers, count, contents, t.numcoefs, t.qs, t.zs, nullptr);
        benchmark::ClobberMemory();
    }
    bool ok = refused < 0;
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        ok = ok && same(t.integers[b], integers[b], count[b]);
    check(state, ok, "other quantized coefficients");
    count_pixels(state, f);
}

void symbolize(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::encoder_trace &t = f.encoder;
    joined_blocks<int32> integers(t.integers);
    ui32 count[WSQ_BLOCKS];
    std::copy_n(integers.count, WSQ_BLOCKS, count);
    std::vector<ui8> out(3 * integers.all.size());  // 3 bytes per integer at most
    ui8 *symbols[WSQ_BLOCKS] = {};
    int length[WSQ_BLOCKS] = {};
    for (auto _ : state) {
        symblocks(out.data(), symbols, length, integers.start, count, nullptr);
        benchmark::ClobberMemory();
    }
    bool ok = true;
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        ok = ok && same(t.symbols[b], symbols[b], (size_t)length[b]);
    check(state, ok, "other symbols");
    count_pixels(state, f);
}

void huffman_tables(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::encoder_trace &t = f.encoder;
    joined_blocks<ui8> symbols(t.symbols);
    ui8 tables[WSQ_MAXDHTS][WSQ_DHT_BYTES] = {};
    int length[WSQ_MAXDHTS] = {}, table_of_block[WSQ_BLOCKS] = {};
    for (auto _ : state) {
        makedhts(tables, length, table_of_block, symbols.start, symbols.count, nullptr);
        benchmark::ClobberMemory();
    }
    check(state,
          std::memcmp(tables, t.tables, sizeof tables) == 0 &&
              same(table_of_block, t.table_of_block, WSQ_BLOCKS),
          "other tables");
    count_pixels(state, f);
}

void entropy_encode(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::encoder_trace &t = f.encoder;
    std::vector<ui8> out[WSQ_BLOCKS];
    bitio coded[WSQ_BLOCKS] = {};
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        out[b].resize(4 * t.symbols[b].size() + 16);  // 16-bit codes, 16-bit fields
        coded[b] = {out[b].data(), out[b].data(), 128, 0, 0};
    }
    for (auto _ : state) {
        for (int b = 0; b < WSQ_BLOCKS; ++b)
            ecsblock(&coded[b], t.symbols[b].data(), (int)t.symbols[b].size(),
                     t.tables[t.table_of_block[b]]);
        benchmark::ClobberMemory();
    }
    bool ok = true;
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        ok = ok && same(t.coded[b], out[b].data(), coded[b].length / 8);
    check(state, ok, "other coded data");
    count_pixels(state, f);
}

/* ---- Decoder kernels ---------------------------------------------------- */

// The decoder's coded blocks, as it reads them: two bytes of slack after each.
struct read_blocks {
    std::vector<ui8> coded[WSQ_BLOCKS];

    explicit read_blocks(const wsqbench::decoder_trace &t)
    {
        for (int b = 0; b < WSQ_BLOCKS; ++b) {
            coded[b] = t.coded[b];
            coded[b].insert(coded[b].end(), 2, 0);
        }
    }

    // decode(b, stream, limit, walk, huffval) for each block, with its table.
    template <class Decode>
    void each(const wsqbench::decoder_trace &t, Decode decode)
    {
        for (int b = 0; b < WSQ_BLOCKS; ++b) {
            const ui8 *table = t.tables[t.table_of_block[b]];
            codewalk walk;
            makewalk(&walk, table);
            bitio stream = {coded[b].data(), coded[b].data(), 128, 0, 0};
            decode(b, &stream, (ui32)t.coded[b].size() * 8, &walk, table + WSQ_MAXBITS);
        }
    }
};

void entropy_decode(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::decoder_trace &t = f.decoder;
    read_blocks blocks(t);
    std::vector<int32> out[WSQ_BLOCKS];
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        out[b].resize(t.integers[b].size());
    bool ok = true;
    for (auto _ : state) {
        blocks.each(t, [&](int b, bitio *stream, ui32 limit, const codewalk *walk,
                           const ui8 *huffval) {
            recsstop stop;
            int32 *end = wsqrecsb(out[b].data(), out[b].size(), stream, limit, walk, huffval,
                                  true, &stop);
            ok = ok && end == out[b].data() + out[b].size();
        });
        benchmark::ClobberMemory();
    }
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        ok = ok && out[b] == t.integers[b];
    check(state, ok, "other decoded coefficients");
    count_pixels(state, f);
}

void entropy_decode_into_subbands(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::decoder_trace &t = f.decoder;
    const wsqbench::subband_image &s = t.subbands;
    read_blocks blocks(t);
    std::vector<real> out(f.pixel_count());
    bool ok = true;
    for (auto _ : state) {
        blocks.each(t, [&](int b, bitio *stream, ui32 limit, const codewalk *walk,
                           const ui8 *huffval) {
            bandcursor bands;
            startbands(&bands, t.center);
            for (int k = b ? ecsbreak[b - 1] : 0; k < ecsbreak[b]; ++k) {
                int block = wsqorder[k];
                real *band = out.data() + s.offsets[block];
                ui32 n = (ui32)s.xs[block] * (ui32)s.ys[block];
                if (t.qs[k] == 0)
                    std::fill_n(band, n, 0.0f);
                else
                    addband(&bands, band, n, t.qs[k], t.zs[k]);
            }
            recsstop stop;
            wsqrecsunq(&bands, stream, limit, walk, huffval, true, &stop);
            ok = ok && bands.room == 0;
        });
        benchmark::ClobberMemory();
    }
    check(state, ok && out == s.values, "other subbands");
    count_pixels(state, f);
}

void dequantize(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::decoder_trace &t = f.decoder;
    const wsqbench::subband_image &s = t.subbands;
    std::vector<real> out(f.pixel_count());
    for (auto _ : state) {
        for (int b = 0; b < WSQ_BLOCKS; ++b) {
            const int32 *q = t.integers[b].data();
            for (int k = b ? ecsbreak[b - 1] : 0; k < ecsbreak[b]; ++k) {
                int block = wsqorder[k];
                real *band = out.data() + s.offsets[block];
                ui32 n = (ui32)s.xs[block] * (ui32)s.ys[block];
                if (t.qs[k] == 0) {
                    std::fill_n(band, n, 0.0f);
                    continue;
                }
                wsqunq(band, q, n, t.center, t.qs[k], t.zs[k]);
                q += n;
            }
        }
        benchmark::ClobberMemory();
    }
    check(state, out == s.values, "other subbands");
    count_pixels(state, f);
}

void synthesis(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::decoder_trace &t = f.decoder;
    std::vector<real> data(f.pixel_count()), work(f.pixel_count());
    void *contents[WSQ_SUBBANDS];
    place(contents, data, t.subbands);
    ui8 levels[WSQ_SUBBANDS];
    std::memcpy(levels, wsqlevels, sizeof levels);
    hedge graph = {WSQ_SUBBANDS, contents, levels, nullptr};
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(t.subbands.values.begin(), t.subbands.values.end(), data.begin());
        state.ResumeTiming();
        rbwp2(&graph, f.height, f.width, 0, 0, work.data(), t.low.get(), t.high.get(),
              t.low.get(), t.high.get());
        benchmark::ClobberMemory();
    }
    check(state, data == t.samples, "other samples");
    count_pixels(state, f);
}

void samples_to_bytes(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::decoder_trace &t = f.decoder;
    std::vector<ui8> out(f.pixel_count());
    for (auto _ : state) {
        wsqr2b(out.data(), t.samples.data(), (ui32)out.size(), t.midpoint, t.rescale);
        benchmark::ClobberMemory();
    }
    check(state, out == f.decoded, "other pixels");
    count_pixels(state, f);
}

/* ---- Whole pipelines ---------------------------------------------------- */

// Each call's buffer is released in the next one, as a caller would. The
// second argument is the call's thread count (0: one per core).
void encode_pipeline(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    wsq_encode_options options;
    wsq_encode_defaults(&options);
    options.threads = (int32_t)state.range(1);
    ui8 *stream = nullptr;
    size_t size = 0;
    bool ok = true;
    for (auto _ : state) {
        wsq_free(stream);
        ok = ok && wsq_encode(&stream, &size, nullptr, f.pixels.data(), f.pixels.size(), f.width,
                              f.height, &options) == WSQ_OK;
    }
    check(state, ok && same(f.stream, stream, size), "another stream");
    wsq_free(stream);
    state.counters["bytes"] = (double)f.stream.size();
    count_pixels(state, f);
}

// wsq_decode() with the given settings; a whole image must come out as the
// fixture's pixels (the tests check the previews).
void time_decoder(benchmark::State &state, const wsq_decode_options &options)
{
    const fixture &f = square_fixture((int)state.range(0));
    ui8 *pixels = nullptr;
    bool ok = true;
    for (auto _ : state) {
        wsq_free(pixels);
        wsq_info info;
        ok = ok && wsq_decode(&pixels, &info, nullptr, f.stream.data(), f.stream.size(),
                              &options) == WSQ_OK;
    }
    check(state, ok && (options.reduce > 1 || same(f.decoded, pixels, f.pixel_count())),
          "other pixels");
    wsq_free(pixels);
    count_pixels(state, f);
}

// The decoding settings of a benchmark: its threads and its reduction.
wsq_decode_options decoding(int64_t threads, int64_t reduce)
{
    wsq_decode_options options;
    wsq_decode_defaults(&options);
    options.threads = (int32_t)threads;
    options.reduce = (int32_t)reduce;
    return options;
}

void decode_pipeline(benchmark::State &state)
{
    time_decoder(state, decoding(state.range(1), 1));
}

// Into one caller's buffer: wsq_decode_into() with fresh work memory each
// call, or wsq_decode_into_reusing() with a workspace kept across the calls.
void decode_into(benchmark::State &state, bool reuse)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsq_decode_options options = decoding(state.range(1), 1);
    std::vector<ui8> pixels(f.pixel_count());
    wsq_workspace *workspace = wsq_workspace_new();
    bool ok = workspace != nullptr;
    for (auto _ : state) {
        wsq_info info;
        int status = reuse ? wsq_decode_into_reusing(workspace, pixels.data(), pixels.size(),
                                                     &info, nullptr, f.stream.data(),
                                                     f.stream.size(), &options)
                           : wsq_decode_into(pixels.data(), pixels.size(), &info, nullptr,
                                             f.stream.data(), f.stream.size(), &options);
        ok = ok && status == WSQ_OK;
    }
    wsq_workspace_free(workspace);
    check(state, ok && same(f.decoded, pixels.data(), f.pixel_count()), "other pixels");
    count_pixels(state, f);
}

void decode_into_pipeline(benchmark::State &state)
{
    decode_into(state, false);
}

void decode_reusing_pipeline(benchmark::State &state)
{
    decode_into(state, true);
}

// Previews: the image at 1/2, 1/4 or 1/8 of each dimension (the second
// argument), on one thread. The rate counts the whole image's pixels, so
// that it compares with the whole decoding's.
void reduced_decode_pipeline(benchmark::State &state)
{
    time_decoder(state, decoding(1, state.range(1)));
}

struct entry {
    const char *name;
    void (*run)(benchmark::State &);
};

const entry entries[] = {
    {"encode/pixelmr", pixel_statistics},
    {"encode/wsqb2r", bytes_to_samples},
    {"encode/cbwp2", analysis},
    {"encode/subbandvars", variances},
    {"encode/qntblocks", quantize},
    {"encode/symblocks", symbolize},
    {"encode/makedhts", huffman_tables},
    {"encode/ecsblock", entropy_encode},
    {"decode/wsqrecsb", entropy_decode},
    {"decode/wsqrecsunq", entropy_decode_into_subbands},
    {"decode/wsqunq", dequantize},
    {"decode/rbwp2", synthesis},
    {"decode/wsqr2b", samples_to_bytes},
};

const entry pipelines[] = {
    {"pipeline/wsq_encode", encode_pipeline},
    {"pipeline/wsq_decode", decode_pipeline},
    {"pipeline/wsq_decode_into", decode_into_pipeline},
    {"pipeline/wsq_decode_into_reusing", decode_reusing_pipeline},
};

}  // namespace

int main(int argc, char **argv)
{
    for (const entry &e : entries) {
        benchmark::internal::Benchmark *b = benchmark::RegisterBenchmark(e.name, e.run);
        for (int side : sides)
            b->Arg(side);
        b->Unit(benchmark::kMillisecond);
    }
    // The pipelines with 1 and 2 threads and one per core, in wall time.
    for (const entry &e : pipelines) {
        benchmark::internal::Benchmark *b = benchmark::RegisterBenchmark(e.name, e.run);
        for (int side : sides)
            for (int threads : {1, 2, 0})
                b->Args({side, threads});
        b->ArgNames({"", "threads"})->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    benchmark::internal::Benchmark *previews =
        benchmark::RegisterBenchmark("pipeline/wsq_decode_reduced", reduced_decode_pipeline);
    for (int side : sides)
        for (int reduce : {2, 4, 8})
            previews->Args({side, reduce});
    previews->ArgNames({"", "reduce"})->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    size_t run = benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // A filter that matches nothing is a mistake too.
    return run > 0 && failures == 0 ? 0 : 1;
}
