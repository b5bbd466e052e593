#include "fixture.h"

#include "images.h"
#include "stage_timer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace wsqbench {

namespace {

[[noreturn]] void inconsistent(int side, const std::string &what)
{
    std::fprintf(stderr, "wsq bench: %dx%d fixture: %s\n", side, side, what.c_str());
    std::exit(1);
}

filter clone(const pqf *f)
{
    return filter(makepqf(f->name, f->f + f->alpha, f->alpha, f->omega, f->type));
}

// Copies the blocks the view shows.
template <class T>
void take_blocks(std::vector<T> (&to)[WSQ_BLOCKS], const T *const (&from)[WSQ_BLOCKS],
                 const size_t (&count)[WSQ_BLOCKS])
{
    for (int b = 0; b < WSQ_BLOCKS; ++b)
        if (from[b])
            to[b].assign(from[b], from[b] + count[b]);
}

void take_tables(ui8 (*tables)[WSQ_DHT_BYTES], int *table_of_block, const wsq_stage_view &view)
{
    std::memcpy(tables, view.tables, WSQ_MAXDHTS * sizeof *tables);
    std::copy_n(view.table_of_block, WSQ_BLOCKS, table_of_block);
}

using stage_takers = std::map<std::string, std::function<void(const wsq_stage_view &)>>;

// Runs a pipeline through the stage clock, handing each stage's view to the
// taker of the stage; every taker must have had its turn.
void trace(int side, const char *name, const std::function<void()> &pipeline,
           const stage_takers &takers)
{
    std::set<std::string> seen;
    run_clocked(pipeline, nullptr, [&](const std::string &stage, const wsq_stage_view &view) {
        auto taker = takers.find(stage);
        if (taker == takers.end())
            return;
        taker->second(view);
        seen.insert(stage);
    });
    for (const auto &taker : takers)
        if (!seen.count(taker.first))
            inconsistent(side, std::string(name) + " reported no stage " + taker.first);
}

void trace_encoder(int side, fixture &f)
{
    encoder_trace &t = f.encoder;
    stage_takers takers = {
        {"normalise",
         [&](const wsq_stage_view &v) {
             t.midpoint = v.midpoint;
             t.rescale = v.rescale;
             t.samples.assign(v.image, v.image + f.pixel_count());
             t.low = clone(v.filters[0]);
             t.high = clone(v.filters[1]);
         }},
        {"variances",
         [&](const wsq_stage_view &v) {
             t.subbands.take(v);
             std::copy_n(v.numcoefs, WSQ_SUBBANDS, t.numcoefs);
             std::copy_n(v.variance, WSQ_SUBBANDS, t.variance);
         }},
        {"quality",
         [&](const wsq_stage_view &v) {
             std::copy_n(v.qs, WSQ_SUBBANDS, t.qs);
             std::copy_n(v.zs, WSQ_SUBBANDS, t.zs);
         }},
        {"quantize",
         [&](const wsq_stage_view &v) { take_blocks(t.integers, v.integers, v.integer_count); }},
        {"symbols",
         [&](const wsq_stage_view &v) { take_blocks(t.symbols, v.symbols, v.symbol_count); }},
        {"tables", [&](const wsq_stage_view &v) { take_tables(t.tables, t.table_of_block, v); }},
        {"entropy",
         [&](const wsq_stage_view &v) { take_blocks(t.coded, v.coded, v.coded_bytes); }},
    };
    trace(side, "wsq_encode", [&] {
        ui8 *stream = nullptr;
        size_t size = 0;
        wsq_error error;
        if (wsq_encode(&stream, &size, &error, f.pixels.data(), f.pixels.size(), f.width,
                       f.height, nullptr) != WSQ_OK)
            inconsistent(side, std::string("wsq_encode: ") + error.message);
        f.stream.assign(stream, stream + size);
        wsq_free(stream);
    }, takers);
}

// The samples the synthesis rebuilds from the decoder's subbands, which its
// last merge turns into pixels without writing them.
std::vector<real> rebuilt_samples(const fixture &f)
{
    const decoder_trace &t = f.decoder;
    std::vector<real> samples = t.subbands.values, work(samples.size());
    void *contents[WSQ_SUBBANDS];
    for (int block = 0; block < WSQ_SUBBANDS; ++block)
        contents[block] = samples.data() + t.subbands.offsets[block];
    ui8 levels[WSQ_SUBBANDS];
    std::memcpy(levels, wsqlevels, sizeof levels);
    hedge graph = {WSQ_SUBBANDS, contents, levels, nullptr};
    rbwp2(&graph, f.height, f.width, 0, 0, work.data(), t.low.get(), t.high.get(), t.low.get(),
          t.high.get());
    return samples;
}

void trace_decoder(int side, fixture &f)
{
    decoder_trace &t = f.decoder;
    stage_takers takers = {
        {"parse", [&](const wsq_stage_view &v) { take_blocks(t.coded, v.coded, v.coded_bytes); }},
        {"entropy",
         [&](const wsq_stage_view &v) {
             take_tables(t.tables, t.table_of_block, v);
             t.subbands.take(v);
             for (int k = 0; k < WSQ_SUBBANDS; ++k)  // left unwritten, zeros to the synthesis
                 if (v.qs[k] == 0)
                     std::fill_n(t.subbands.values.begin() + t.subbands.offsets[wsqorder[k]],
                                 t.subbands.xs[wsqorder[k]] * t.subbands.ys[wsqorder[k]], 0.0f);
             t.center = v.center;
             std::copy_n(v.qs, WSQ_SUBBANDS, t.qs);
             std::copy_n(v.zs, WSQ_SUBBANDS, t.zs);
         }},
        {"synthesis",
         [&](const wsq_stage_view &v) {
             t.low = clone(v.filters[2]);
             t.high = clone(v.filters[3]);
             t.midpoint = v.midpoint;
             t.rescale = v.rescale;
             // While the decoder holds its buffers: the timed decodes then find a hole
             // where they were, not a heap top to trim and grow again at every call.
             t.samples = rebuilt_samples(f);
         }},
    };
    trace(side, "wsq_decode", [&] {
        ui8 *pixels = nullptr;
        wsq_info info;
        wsq_error error;
        if (wsq_decode(&pixels, &info, &error, f.stream.data(), f.stream.size(), nullptr) !=
            WSQ_OK)
            inconsistent(side, std::string("wsq_decode: ") + error.message);
        f.decoded.assign(pixels, pixels + f.pixel_count());
        wsq_free(pixels);
    }, takers);
    // The stream's integers, which the decoder dequantizes as it decodes them.
    std::copy_n(f.encoder.integers, WSQ_BLOCKS, t.integers);
}

}  // namespace

void subband_image::take(const wsq_stage_view &view)
{
    values.assign(view.image, view.image + (size_t)view.width * (size_t)view.height);
    for (int block = 0; block < WSQ_SUBBANDS; ++block) {
        offsets[block] = (size_t)((const real *)view.contents[block] - view.image);
        xs[block] = view.xs[block];
        ys[block] = view.ys[block];
    }
}

const fixture &square_fixture(int side)
{
    static std::map<int, std::unique_ptr<fixture>> made;
    std::unique_ptr<fixture> &slot = made[side];
    if (!slot) {
        slot.reset(new fixture);
        slot->width = slot->height = side;
        slot->pixels = fingerprint_mosaic(side, side);
        trace_encoder(side, *slot);
        trace_decoder(side, *slot);
    }
    return *slot;
}

}  // namespace wsqbench
