// Benchmarks of the codec's kernels and of its two whole pipelines, in this
// process, on mosaics of the bundled fingerprints of 512x512 to 4096x4096
// pixels at 0.75 bits per pixel. Every rate is in megapixels of the image
// per second (the counter MP, shown as MP=.../s), whatever part of the image
// the kernel touches, so the figures add up the way the pipeline does. Each
// kernel runs on the data it meets in the pipeline, and checks once that it
// gives what the pipeline gave; a failed check ends the run with status 1.
//
//     wsq_bench [--benchmark_filter=REGEX] [other Google Benchmark options]
#include "fixture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using wsqbench::fixture;
using wsqbench::square_fixture;

const int sides[] = {512, 1024, 2048, 4096};

size_t pixel_count(const fixture &f)
{
    return (size_t)f.width * (size_t)f.height;
}

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

int failures = 0;  // checks that failed: the run ends with status 1

void check(benchmark::State &state, bool ok, const char *what)
{
    if (ok)
        return;
    ++failures;
    state.SkipWithError(what);
}

// What the decoder makes of a fixture's stream: its coefficients after
// entropy decoding, its subbands after dequantization and its samples after
// synthesis.
struct decoded_parts {
    wsqbench::staged_decoder decoder;
    std::vector<int32> quantized;
    std::vector<real> subbands, samples;

    explicit decoded_parts(const fixture &f)
    {
        const std::vector<ui8> &stream = f.trace.stream;
        decoder.parse(stream.data(), stream.size());
        decoder.entropy_decode();
        quantized.assign(decoder.quantized(), decoder.quantized() + decoder.quantized_count());
        decoder.dequantize();
        subbands.assign(decoder.samples(), decoder.samples() + pixel_count(f));
        decoder.synthesize();
        samples.assign(decoder.samples(), decoder.samples() + pixel_count(f));
    }
};

/* ---- Encoder kernels ---------------------------------------------------- */

void bytes_to_samples(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    std::vector<real> out(pixel_count(f));
    for (auto _ : state) {
        wsqb2r(out.data(), f.pixels.data(), (ui32)out.size(), f.trace.midpoint, f.trace.rescale);
        benchmark::ClobberMemory();
    }
    check(state, same(out.data(), f.trace.samples.data(), out.size()), "other samples");
    count_pixels(state, f);
}

void analysis(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    std::vector<real> data(pixel_count(f)), work(pixel_count(f));
    hedge *graph = makehedge(WSQ_SUBBANDS, nullptr, wsqlevels, nullptr);
    pqf *h0 = makepqf("h0", WSQh0hbqf, -4, 4, 2);
    pqf *h1 = makepqf("h1", WSQh1gbqf, -4, 2, 3);
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(f.trace.samples.begin(), f.trace.samples.end(), data.begin());
        graph->contents[0] = data.data();
        state.ResumeTiming();
        cbwp2(graph, f.height, f.width, 0, 0, work.data(), h0, h1, h0, h1);
        benchmark::ClobberMemory();
    }
    check(state, same(data.data(), f.trace.subbands.data(), data.size()), "other subbands");
    freepqf(h0);
    freepqf(h1);
    freehedge(graph, nullptr, nullptr);
    count_pixels(state, f);
}

void quantize(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::encoder_trace &t = f.trace;
    std::vector<int32> out(pixel_count(f));
    for (auto _ : state) {
        int32 *q = out.data();
        for (int k = 0; k < WSQ_SUBBANDS; ++k) {
            if (t.qs[k] == 0.0f)
                continue;
            int block = wsqorder[k];
            ui32 n = (ui32)t.xs[block] * (ui32)t.ys[block];
            wsqqnt(q, t.subbands.data() + t.offsets[block], n, t.qs[k], t.zs[k]);
            q += n;
        }
        benchmark::ClobberMemory();
    }
    const int32 *q = out.data();
    bool ok = true;
    for (const std::vector<int32> &block : t.quantized) {
        ok = ok && same(q, block.data(), block.size());
        q += block.size();
    }
    check(state, ok, "other quantized coefficients");
    count_pixels(state, f);
}

void symbolize(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::encoder_trace &t = f.trace;
    std::vector<ui8> out(3 * pixel_count(f));
    ui8 *ends[WSQ_BLOCKS] = {};
    for (auto _ : state) {
        ui8 *p = out.data();
        for (int b = 0; b < WSQ_BLOCKS; ++b) {
            if (!t.quantized[b].empty())
                p = wsqwsym(p, t.quantized[b].data(), (ui32)t.quantized[b].size());
            ends[b] = p;
        }
        benchmark::ClobberMemory();
    }
    const ui8 *p = out.data();
    bool ok = true;
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        ok = ok && (size_t)(ends[b] - p) == t.symbols[b].size() &&
             same(p, t.symbols[b].data(), t.symbols[b].size());
        p = ends[b];
    }
    check(state, ok, "other symbols");
    count_pixels(state, f);
}

void huffman_tables(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::encoder_trace &t = f.trace;
    // Table 0 codes block 0, table 1 blocks 1 and 2, counted together.
    std::vector<ui8> streams[2] = {t.symbols[0], t.symbols[1]};
    streams[1].insert(streams[1].end(), t.symbols[2].begin(), t.symbols[2].end());
    ui8 tables[2][WSQ_DHT_BYTES] = {};
    for (auto _ : state) {
        for (int n = 0; n < 2; ++n) {
            ui32 weights[256] = {};
            if (!streams[n].empty())
                wsqcsym(weights, streams[n].data(), (ui32)streams[n].size());
            makedht(tables[n], weights, WSQ_MAXBITS);
        }
        benchmark::ClobberMemory();
    }
    check(state, std::memcmp(tables, t.tables, sizeof tables) == 0, "other tables");
    count_pixels(state, f);
}

void entropy_encode(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::encoder_trace &t = f.trace;
    std::vector<ui8> out[WSQ_BLOCKS];
    ui32 bits[WSQ_BLOCKS] = {};
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        out[b].resize(4 * t.symbols[b].size() + 16);  // 16-bit codes, 16-bit fields
    for (auto _ : state) {
        for (int b = 0; b < WSQ_BLOCKS; ++b) {
            if (t.symbols[b].empty())
                continue;
            bitio stream = {out[b].data(), out[b].data(), 128, 0, 0};
            wsqwecs(&stream, t.symbols[b].data(), (ui32)t.symbols[b].size(),
                    t.tables[t.table_of_block[b]]);
            bits[b] = stream.nextbit;
        }
        benchmark::ClobberMemory();
    }
    bool ok = true;
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        ok = ok && bits[b] / 8 == t.coded[b].size() &&
             same(out[b].data(), t.coded[b].data(), t.coded[b].size());
    check(state, ok, "other coded data");
    count_pixels(state, f);
}

/* ---- Decoder kernels ---------------------------------------------------- */

void entropy_decode(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::staged_decoder &d = f.decoded;
    decoded_parts parts(f);
    std::vector<int32> out(pixel_count(f) + 65536);
    int32 *end = out.data();
    for (auto _ : state) {
        end = out.data();
        for (int b = 0; b < WSQ_BLOCKS; ++b) {
            const std::vector<ui8> &coded = d.coded(b);
            if (coded.empty())
                continue;
            ui32 bits = (ui32)coded.size() * 8;
            bitio stream = {const_cast<ui8 *>(coded.data()), const_cast<ui8 *>(coded.data()),
                            128, bits, 0};
            end = wsqrecs(end, &stream, bits, d.table_of_block(b));
        }
        benchmark::ClobberMemory();
    }
    size_t count = (size_t)(end - out.data());
    check(state, count == parts.quantized.size() && same(out.data(), parts.quantized.data(), count),
          "other decoded coefficients");
    count_pixels(state, f);
}

void dequantize(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::staged_decoder &d = f.decoded;
    decoded_parts parts(f);
    std::vector<real> out(pixel_count(f));
    for (auto _ : state) {
        const int32 *q = parts.quantized.data();
        for (int k = 0; k < WSQ_SUBBANDS; ++k) {
            int block = wsqorder[k];
            real *band = out.data() + d.subband_offset(block);
            ui32 n = (ui32)d.subband_rows(block) * (ui32)d.subband_cols(block);
            if (d.qs(k) == 0) {
                std::fill_n(band, n, 0.0f);
                continue;
            }
            wsqunq(band, q, n, d.center(), d.qs(k), d.zs(k));
            q += n;
        }
        benchmark::ClobberMemory();
    }
    check(state, same(out.data(), parts.subbands.data(), out.size()), "other subbands");
    count_pixels(state, f);
}

void synthesis(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const wsqbench::staged_decoder &d = f.decoded;
    decoded_parts parts(f);
    std::vector<real> data(pixel_count(f)), work(pixel_count(f));
    void *contents[WSQ_SUBBANDS];
    for (int block = 0; block < WSQ_SUBBANDS; ++block)
        contents[block] = data.data() + d.subband_offset(block);
    ui8 levels[WSQ_SUBBANDS];
    std::memcpy(levels, wsqlevels, sizeof levels);
    hedge graph = {WSQ_SUBBANDS, contents, levels, nullptr};
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(parts.subbands.begin(), parts.subbands.end(), data.begin());
        state.ResumeTiming();
        rbwp2(&graph, f.height, f.width, 0, 0, work.data(), d.filter(2), d.filter(3),
              d.filter(2), d.filter(3));
        benchmark::ClobberMemory();
    }
    check(state, same(data.data(), parts.samples.data(), data.size()), "other samples");
    count_pixels(state, f);
}

void samples_to_bytes(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    decoded_parts parts(f);
    std::vector<ui8> out(pixel_count(f));
    for (auto _ : state) {
        wsqr2b(out.data(), parts.samples.data(), (ui32)out.size(), f.decoded.midpoint(),
               f.decoded.rescale());
        benchmark::ClobberMemory();
    }
    check(state, same(out.data(), f.decoded.pixels(), out.size()), "other pixels");
    count_pixels(state, f);
}

/* ---- Whole pipelines ---------------------------------------------------- */

void encode_pipeline(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    std::vector<ui8> stream;
    for (auto _ : state)
        stream = wsqbench::encode(f.pixels.data(), f.width, f.height);
    check(state, stream == f.trace.stream, "another stream");
    state.counters["bytes"] = (double)stream.size();
    count_pixels(state, f);
}

void decode_pipeline(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const std::vector<ui8> &stream = f.trace.stream;
    bool ok = true;
    for (auto _ : state) {
        ui8 *pixels = nullptr;
        wsqinfo info;
        wsqerror error;
        ok = ok && wsqdecode(&pixels, &info, &error, stream.data(), stream.size(),
                             WSQ_DEFAULT_MAX_PIXELS) == WSQ_OK;
        freevoid(pixels);
    }
    check(state, ok, "wsqdecode refused the stream");
    count_pixels(state, f);
}

void staged_decode_pipeline(benchmark::State &state)
{
    const fixture &f = square_fixture((int)state.range(0));
    const std::vector<ui8> &stream = f.trace.stream;
    wsqbench::staged_decoder d;
    bool ok = true;
    for (auto _ : state)
        ok = ok && d.decode(stream.data(), stream.size());
    check(state, ok && same(d.pixels(), f.decoded.pixels(), pixel_count(f)), "other pixels");
    count_pixels(state, f);
}

struct entry {
    const char *name;
    void (*run)(benchmark::State &);
};

const entry entries[] = {
    {"encode/wsqb2r", bytes_to_samples},
    {"encode/cbwp2", analysis},
    {"encode/wsqqnt", quantize},
    {"encode/wsqwsym", symbolize},
    {"encode/wsqcsym+makedht", huffman_tables},
    {"encode/wsqwecs", entropy_encode},
    {"decode/wsqrecs", entropy_decode},
    {"decode/wsqunq", dequantize},
    {"decode/rbwp2", synthesis},
    {"decode/wsqr2b", samples_to_bytes},
    {"pipeline/encode", encode_pipeline},
    {"pipeline/wsqdecode", decode_pipeline},
    {"pipeline/staged_decode", staged_decode_pipeline},
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
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    size_t run = benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // A filter that matches nothing is a mistake too.
    return run > 0 && failures == 0 ? 0 : 1;
}
