/* Helpers shared by the library's unit tests. */
#ifndef WSQ_UNIT_HELPERS_H
#define WSQ_UNIT_HELPERS_H

#include "wsq.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace wsqtest {

typedef std::vector<ui8> Bytes;

/* Owning handle of a filter record. */
struct PqfRelease {
    void operator()(pqf *filter) const { freepqf(filter); }
};
typedef std::unique_ptr<pqf, PqfRelease> Filter;

/* Owning handle of a hedge. */
struct HedgeRelease {
    void operator()(hedge *graph) const { freehedge(graph, nullptr, nullptr); }
};
typedef std::unique_ptr<hedge, HedgeRelease> Hedge;

/* Owning handle of a bit stream (its buffer belongs to the caller). */
struct BitioRelease {
    void operator()(bitio *stream) const { freebitio(stream, nullptr); }
};
typedef std::unique_ptr<bitio, BitioRelease> Stream;

inline Filter wsq_lowpass() { return Filter(makepqf("WSQ h0 H", WSQh0hbqf, -4, 4, 2)); }
inline Filter wsq_highpass() { return Filter(makepqf("WSQ h1 G", WSQh1gbqf, -4, 2, 3)); }

/* Analysis low and high pass, synthesis low and high pass. */
struct FilterBank {
    Filter h0, h1, f0, f1;
};

/* The filter bank that a decoder rebuilds from the transform table of an
 * analysis pair. */
inline FilterBank read_filter_bank(const pqf *hqf, const pqf *gqf)
{
    ui8 body[3074];
    wsqwdtt(body, hqf, gqf);
    pqf *filters[4] = {};
    wsqrdtt(filters, body);
    return FilterBank{Filter(filters[0]), Filter(filters[1]), Filter(filters[2]),
                      Filter(filters[3])};
}

inline FilterBank wsq_filter_bank()
{
    return read_filter_bank(wsq_lowpass().get(), wsq_highpass().get());
}

inline Hedge wsq_hedge() { return Hedge(makehedge(WSQ_SUBBANDS, nullptr, wsqlevels, nullptr)); }

/* Everything written so far to a stream opened with tmpfile(). */
inline Bytes file_bytes(std::FILE *file)
{
    std::fflush(file);
    std::rewind(file);
    Bytes bytes;
    for (int c; (c = std::fgetc(file)) != EOF;)
        bytes.push_back(static_cast<ui8>(c));
    return bytes;
}

/* A raw 8-bit image of the test data directory, or an empty vector. */
inline Bytes read_image(const std::string &name, std::size_t size)
{
    Bytes pixels(size);
    std::FILE *file = std::fopen((std::string(WSQ_TEST_DATA) + "/" + name).c_str(), "rb");
    if (!file)
        return Bytes();
    std::size_t got = std::fread(pixels.data(), 1, size, file);
    std::fclose(file);
    return got == size ? pixels : Bytes();
}

/* Deterministic pseudo-random samples in [-amplitude, amplitude]. */
inline std::vector<real> noise(std::size_t count, real amplitude, ui32 seed = 12345)
{
    std::vector<real> samples(count);
    for (real &sample : samples) {
        seed = seed * 1664525u + 1013904223u;
        sample = amplitude * (static_cast<real>(seed >> 8) / 8388608.0f - 1.0f);
    }
    return samples;
}

/* Regular expression matching the whole of standard error after a failed
 * library assertion of the given expression text. */
inline std::string assertion_report(const std::string &expression)
{
    std::string escaped;
    for (char c : expression) {
        if (std::string(".[]()*+?{}|^$\\").find(c) != std::string::npos)
            escaped += '\\';
        escaped += c;
    }
    return "^libwsq\\.cpp:[0-9]+: failed assertion `" + escaped + "'\n$";
}

}  // namespace wsqtest

/* The statement must end the process with exactly one assertion report. */
#define EXPECT_ASSERTION(statement, expression)                                    \
    EXPECT_EXIT(statement, ::testing::ExitedWithCode(WSQ_ASSERT_STATUS),           \
                ::wsqtest::assertion_report(expression))

#endif
