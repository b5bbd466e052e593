// Page faults of this process so far, minor and major: mostly first touches
// of freshly allocated memory, which the stage clocks count as time of the
// stage that touches it.
#ifndef WSQ_BENCH_PAGE_FAULTS_H
#define WSQ_BENCH_PAGE_FAULTS_H

#include <sys/resource.h>

#include <chrono>

namespace wsqbench {

inline long page_faults()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

// Charges the time since the last lap to a stage: its seconds to seconds[]
// when that is not null, its page faults to faults[] when that is not null.
class stage_laps {
public:
    stage_laps(double *seconds, long *faults)
        : seconds_(seconds), faults_(faults), faults_mark_(faults ? page_faults() : 0)
    {
    }

    void lap(int stage)
    {
        clock::time_point now = clock::now();
        if (seconds_)
            seconds_[stage] += std::chrono::duration<double>(now - mark_).count();
        if (faults_) {
            long count = page_faults();
            faults_[stage] += count - faults_mark_;
            faults_mark_ = count;
            now = clock::now();  // the count is not the stage's time
        }
        mark_ = now;
    }

private:
    using clock = std::chrono::steady_clock;
    double *seconds_;
    long *faults_;
    long faults_mark_;
    clock::time_point mark_ = clock::now();
};

}  // namespace wsqbench

#endif
