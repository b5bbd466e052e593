/* Helpers shared by the library's unit tests. */
#ifndef WSQ_UNIT_HELPERS_H
#define WSQ_UNIT_HELPERS_H

#include "libwsq.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace wsqtest {

typedef std::vector<ui8> Bytes;

/* Owning handles of library records. */
struct Release {
    void operator()(pqf *filter) const { freepqf(filter); }
    void operator()(hedge *graph) const { freehedge(graph, nullptr, nullptr); }
    void operator()(bitio *stream) const { freebitio(stream, nullptr); }  /* buffer: the caller's */
};
typedef std::unique_ptr<pqf, Release> Filter;
typedef std::unique_ptr<hedge, Release> Hedge;
typedef std::unique_ptr<bitio, Release> Stream;

inline Filter wsq_lowpass() { return Filter(makepqf("WSQ h0 H", WSQh0hbqf, -4, 4, 2)); }
inline Filter wsq_highpass() { return Filter(makepqf("WSQ h1 G", WSQh1gbqf, -4, 2, 3)); }

}  // namespace wsqtest

#endif
