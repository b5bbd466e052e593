// The stage clock of the benchmarks: the library's encoder and decoder,
// built with WSQ_STAGE_CLOCK (src/stage_clock.h), report the end of each of
// their stages to it. It charges each stage the time and the page faults
// (mostly first touches of fresh memory) since the one before, and can show
// an observer what the pipeline holds as each stage ends.
#ifndef WSQ_BENCH_STAGE_TIMER_H
#define WSQ_BENCH_STAGE_TIMER_H

#include "stage_clock.h"

#include <functional>
#include <string>
#include <vector>

namespace wsqbench {

// Page faults of this process so far, minor and major.
long page_faults();

// Time and page faults by stage, in the order the stages first ended. The
// last stage, "release", runs from the pipeline's last stage to the return
// of the call: the release of its work memory.
struct stage_split {
    std::vector<std::string> stages;
    std::vector<double> seconds;
    std::vector<long> faults;

    void add(const char *stage, double stage_seconds, long stage_faults);
};

using stage_observer = std::function<void(const std::string &stage, const wsq_stage_view &view)>;

// Runs pipeline() with the clock on, adding to *split (unless it is null)
// each stage's time and faults. The observer, when given, sees each stage's
// view as the stage ends, on time charged to no stage.
void run_clocked(const std::function<void()> &pipeline, stage_split *split,
                 const stage_observer &observer = nullptr);

}  // namespace wsqbench

#endif
