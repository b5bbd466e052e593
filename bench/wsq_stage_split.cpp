// Where the time goes: the encoder's and the decoder's pipelines timed stage
// by stage, in this process, on mosaics of the bundled fingerprints at 0.75
// bits per pixel. Prints one Markdown table per pipeline and size: each
// stage's best time over the runs, its share of their sum, its rate and the
// page faults it took in the last run (first touches of fresh memory: the
// encoder keeps its buffers from one image to the next, the decoder
// allocates them for each stream), then the best time of the whole pipeline
// run without the stage clock.
//
//     wsq_stage_split [--runs N] [SIDE ...]      (default: --runs 5 512 1024 2048 4096)
#include "fixture.h"
#include "page_faults.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using stage_clock = std::chrono::steady_clock;

int usage()
{
    std::fprintf(stderr, "usage: wsq_stage_split [--runs N] [SIDE ...]\n");
    return 2;
}

double seconds_since(stage_clock::time_point start)
{
    return std::chrono::duration<double>(stage_clock::now() - start).count();
}

void print_table(const char *title, int side, const char *const *names, int stages,
                 const std::vector<double> &best, const std::vector<long> &faults, double whole,
                 long whole_faults, const char *whole_name)
{
    double mp = (double)side * side / 1e6, sum = 0;
    long all_faults = 0;
    for (int s = 0; s < stages; ++s) {
        sum += best[s];
        all_faults += faults[s];
    }
    std::printf("%s, %dx%d (%.2f MP)\n\n", title, side, side, mp);
    std::printf("| stage | ms | share | MP/s | page faults |\n|---|---:|---:|---:|---:|\n");
    for (int s = 0; s < stages; ++s)
        std::printf("| %s | %.2f | %.1f%% | %.0f | %ld |\n", names[s], best[s] * 1e3,
                    100 * best[s] / sum, mp / best[s], faults[s]);
    std::printf("| sum of stages | %.2f | 100%% | %.0f | %ld |\n", sum * 1e3, mp / sum, all_faults);
    std::printf("| %s | %.2f | | %.0f | %ld |\n\n", whole_name, whole * 1e3, mp / whole,
                whole_faults);
}

}  // namespace

int main(int argc, char **argv)
{
    int runs = 5;
    std::vector<int> sides;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
            if (runs < 1)
                return usage();
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
        const wsqbench::fixture &f = wsqbench::square_fixture(side);
        const std::vector<ui8> &stream = f.trace.stream;

        using namespace wsqbench;
        std::vector<double> enc(ENC_STAGES, 1e30), dec(DEC_STAGES, 1e30);
        std::vector<long> enc_faults(ENC_STAGES), dec_faults(DEC_STAGES);
        double encode_best = 1e30, decode_best = 1e30;
        long encode_faults = 0, decode_faults = 0;
        for (int r = 0; r < runs; ++r) {
            double seconds[ENC_STAGES] = {};
            std::fill(enc_faults.begin(), enc_faults.end(), 0);
            if (encode_in_stages(f.pixels.data(), side, side, 0.75, seconds, enc_faults.data()) !=
                stream) {
                std::fprintf(stderr, "wsq_stage_split: the staged encoder gave another stream\n");
                return 1;
            }
            for (int s = 0; s < ENC_STAGES; ++s)
                enc[s] = std::min(enc[s], seconds[s]);
            long faults = page_faults();
            stage_clock::time_point start = stage_clock::now();
            encode(f.pixels.data(), side, side);
            encode_best = std::min(encode_best, seconds_since(start));
            encode_faults = page_faults() - faults;
        }
        staged_decoder d;
        for (int r = 0; r < runs; ++r) {
            double seconds[DEC_STAGES] = {};
            std::fill(dec_faults.begin(), dec_faults.end(), 0);
            if (!d.decode(stream.data(), stream.size(), seconds, dec_faults.data()) ||
                std::memcmp(d.pixels(), f.decoded.pixels(), f.pixels.size()) != 0) {
                std::fprintf(stderr, "wsq_stage_split: the staged decoder failed\n");
                return 1;
            }
            for (int s = 0; s < DEC_STAGES; ++s)
                dec[s] = std::min(dec[s], seconds[s]);
            ui8 *pixels = nullptr;
            wsqinfo info;
            wsqerror error;
            long faults = page_faults();
            stage_clock::time_point start = stage_clock::now();
            int status = wsqdecode(&pixels, &info, &error, stream.data(), stream.size(),
                                   WSQ_DEFAULT_MAX_PIXELS);
            decode_best = std::min(decode_best, seconds_since(start));
            decode_faults = page_faults() - faults;
            freevoid(pixels);
            if (status != WSQ_OK) {
                std::fprintf(stderr, "wsq_stage_split: wsqdecode: %s\n", error.message);
                return 1;
            }
        }
        std::string title = "Encoder, " + std::to_string(stream.size()) + " bytes";
        print_table(title.c_str(), side, encoder_stage_names, ENC_STAGES, enc, enc_faults,
                    encode_best, encode_faults, "whole encode_image()");
        print_table("Decoder", side, decoder_stage_names, DEC_STAGES, dec, dec_faults,
                    decode_best, decode_faults, "whole wsqdecode()");
    }
    return 0;
}
