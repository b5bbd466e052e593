// Where the time goes: the library's encoder and decoder, wsq_encode() and
// wsq_decode(), timed stage by stage through the stage clock, in this
// process, on mosaics of the bundled fingerprints at 0.75 bits per pixel.
// Prints one Markdown table per pipeline and size: each stage's best time
// over the runs, its share of their sum, its rate and the page faults it
// took in the last run (first touches of fresh memory: both calls allocate
// their work buffers anew, the large ones in huge pages where granted),
// then the best time of the whole call with the clock idle.
//
//     wsq_stage_split [--runs N] [SIDE ...]      (default: --runs 5 512 1024 2048 4096)
#include "images.h"
#include "stage_timer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using wsqbench::stage_split;

int usage()
{
    std::fprintf(stderr, "usage: wsq_stage_split [--runs N] [--threads N] [SIDE ...]\n");
    return 2;
}

[[noreturn]] void fail(const char *call, const wsq_error &error)
{
    std::fprintf(stderr, "wsq_stage_split: %s: %s\n", call, error.message);
    std::exit(1);
}

// The best time of each stage and of the whole call over the runs, and the
// page faults of the last run.
struct timing {
    stage_split best, last;
    double whole = 1e30;
    long whole_faults = 0;
};

// Times call() runs times; release() frees what a call made, untimed.
void time_runs(int runs, const std::function<void()> &call, const std::function<void()> &release,
               timing *t)
{
    for (int r = 0; r < runs; ++r) {
        t->last = stage_split();
        wsqbench::run_clocked(call, &t->last);
        release();
        if (r == 0)
            t->best = t->last;
        for (size_t s = 0; s < t->best.stages.size(); ++s)
            t->best.seconds[s] = std::min(t->best.seconds[s], t->last.seconds[s]);
        long faults = wsqbench::page_faults();
        auto start = std::chrono::steady_clock::now();
        call();
        t->whole = std::min(
            t->whole,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        t->whole_faults = wsqbench::page_faults() - faults;
        release();
    }
}

void print_table(const std::string &title, int side, const timing &t, const char *whole_name)
{
    double mp = (double)side * side / 1e6, sum = 0;
    long all_faults = 0;
    for (size_t s = 0; s < t.best.stages.size(); ++s) {
        sum += t.best.seconds[s];
        all_faults += t.last.faults[s];
    }
    std::printf("%s, %dx%d (%.2f MP)\n\n", title.c_str(), side, side, mp);
    std::printf("| stage | ms | share | MP/s | page faults |\n|---|---:|---:|---:|---:|\n");
    for (size_t s = 0; s < t.best.stages.size(); ++s)
        std::printf("| %s | %.2f | %.1f%% | %.0f | %ld |\n", t.best.stages[s].c_str(),
                    t.best.seconds[s] * 1e3, 100 * t.best.seconds[s] / sum,
                    mp / t.best.seconds[s], t.last.faults[s]);
    std::printf("| sum of stages | %.2f | 100%% | %.0f | %ld |\n", sum * 1e3, mp / sum,
                all_faults);
    std::printf("| %s | %.2f | | %.0f | %ld |\n\n", whole_name, t.whole * 1e3, mp / t.whole,
                t.whole_faults);
}

}  // namespace

int main(int argc, char **argv)
{
    int runs = 5;
    std::vector<int> sides;
    wsq_encode_options encoding;
    wsq_encode_defaults(&encoding);
    wsq_decode_options decoding;
    wsq_decode_defaults(&decoding);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
            if (runs < 1)
                return usage();
        } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            encoding.threads = decoding.threads = std::atoi(argv[++i]);
        } else {
            int side = std::atoi(argv[i]);
            if (side < 81 || side > 16384)
                return usage();
            sides.push_back(side);
        }
    }
    if (sides.empty())
        sides = {512, 1024, 2048, 4096};
    std::printf("Best of %d runs per stage; rates in megapixels of the image per second.\n\n",
                runs);
    for (int side : sides) {
        std::vector<ui8> pixels = wsqbench::fingerprint_mosaic(side, side);
        std::vector<ui8> stream;
        ui8 *made = nullptr;
        size_t size = 0;
        wsq_error error;
        timing encoder, decoder;
        time_runs(runs, [&] {
            if (wsq_encode(&made, &size, &error, pixels.data(), pixels.size(), side, side,
                           &encoding) != WSQ_OK)
                fail("wsq_encode", error);
        }, [&] {
            stream.assign(made, made + size);
            wsq_free(made);
        }, &encoder);
        time_runs(runs, [&] {
            wsq_info info;
            if (wsq_decode(&made, &info, &error, stream.data(), stream.size(), &decoding) !=
                WSQ_OK)
                fail("wsq_decode", error);
        }, [&] { wsq_free(made); }, &decoder);
        print_table("Encoder, " + std::to_string(stream.size()) + " bytes", side, encoder,
                    "whole wsq_encode()");
        print_table("Decoder", side, decoder, "whole wsq_decode()");
    }
    return 0;
}
