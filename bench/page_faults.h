// Page faults of this process so far, minor and major: mostly first touches
// of freshly allocated memory, which the stage clocks count as time of the
// stage that touches it.
#ifndef WSQ_BENCH_PAGE_FAULTS_H
#define WSQ_BENCH_PAGE_FAULTS_H

#include <sys/resource.h>

namespace wsqbench {

inline long page_faults()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

}  // namespace wsqbench

#endif
