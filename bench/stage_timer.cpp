#include "stage_timer.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>

namespace wsqbench {

namespace {

using timer = std::chrono::steady_clock;

struct clocked_run {
    stage_split *split;
    const stage_observer &observer;
    timer::time_point mark = timer::now();
    long faults_mark = page_faults();

    void lap(const char *stage, const wsq_stage_view *view)
    {
        timer::time_point now = timer::now();
        long faults = page_faults();
        if (split)
            split->add(stage, std::chrono::duration<double>(now - mark).count(),
                       faults - faults_mark);
        if (view && observer)
            observer(stage, *view);
        faults_mark = page_faults();
        mark = timer::now();  // counting faults and observing are no stage's time
    }
};

clocked_run *running = nullptr;

}  // namespace

long page_faults()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

void stage_split::add(const char *stage, double stage_seconds, long stage_faults)
{
    size_t s = (size_t)(std::find(stages.begin(), stages.end(), stage) - stages.begin());
    if (s == stages.size()) {
        stages.push_back(stage);
        seconds.push_back(0);
        faults.push_back(0);
    }
    seconds[s] += stage_seconds;
    faults[s] += stage_faults;
}

void run_clocked(const std::function<void()> &pipeline, stage_split *split,
                 const stage_observer &observer)
{
    clocked_run run{split, observer};
    running = &run;
    pipeline();
    run.lap("release", nullptr);
    running = nullptr;
}

}  // namespace wsqbench

void wsq_stage_done(const char *stage, const wsq_stage_view &view)
{
    if (wsqbench::running)
        wsqbench::running->lap(stage, &view);
}
