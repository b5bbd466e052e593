// Prints a digest of what each kernel with a vector path makes of random
// inputs: every length from 1 to 129 (around the vector widths and chunks)
// and a few large ones, every filter type the vector path takes. Built once
// on the library and once on its build without vector paths: the two outputs
// must be the same to the bit, whatever the processor.
#include "libwsq.h"
#include "vector.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace {

std::uint64_t state = 88172645463325252u;

std::uint64_t next()  // xorshift64
{
    state ^= state << 13;
    state ^= state >> 7;
    return state ^= state << 17;
}

real uniform(real low, real high)
{
    return low + (high - low) * (real)(next() >> 40) / (real)(1u << 24);
}

template <class T>
void print(const char *kernel, size_t length, const std::vector<T> &values)
{
    std::uint64_t hash = 14695981039346656037u;  // FNV-1a over the bytes
    for (const ui8 *p = (const ui8 *)values.data(), *end = p + values.size() * sizeof(T); p < end; ++p)
        hash = (hash ^ *p) * 1099511628211u;
    std::printf("%s %zu %016llx\n", kernel, length, (unsigned long long)hash);
}

std::vector<real> reals(size_t n, real low, real high)
{
    std::vector<real> values(n);
    for (real &v : values)
        v = uniform(low, high);
    return values;
}

void pointwise(size_t n)
{
    // Every random value is drawn in a statement of its own: compilers evaluate the
    // arguments of a call in different orders.
    std::vector<ui8> bytes(n);
    for (ui8 &b : bytes)
        b = (ui8)next();
    real midpoint, rescale;
    pixelmr(&midpoint, &rescale, bytes.data(), (ui32)n, nullptr);
    print("pixelmr", n, std::vector<real>{midpoint, rescale});
    std::vector<real> samples(n);
    midpoint = uniform(0, 255);
    rescale = uniform(0.5f, 2);
    wsqb2r(samples.data(), bytes.data(), (ui32)n, midpoint, rescale);
    print("wsqb2r", n, samples);
    std::vector<real> in = reals(n, -400, 400);
    midpoint = uniform(0, 255);
    rescale = uniform(0.5f, 2);
    wsqr2b(bytes.data(), in.data(), (ui32)n, midpoint, rescale);
    print("wsqr2b", n, bytes);
    std::vector<int32> ints(n);
    in = reals(n, -300, 300);
    real qbin = uniform(0.1f, 20), zbin = uniform(0.1f, 30);
    wsqqnt(ints.data(), in.data(), (ui32)n, qbin, zbin);
    print("wsqqnt", n, ints);
    qbin = uniform(0.1f, 20);
    zbin = uniform(0.1f, 30);
    wsqunq(samples.data(), ints.data(), (ui32)n, 0.44f, qbin, zbin);
    print("wsqunq", n, samples);
}

// Integers in zero runs of random lengths, whose runs are scanned ahead.
void symbols(size_t n)
{
    std::vector<int32> ints(n);
    for (size_t i = 0; i < n; ++i)
        ints[i] = next() % 4 ? 0 : (int32)(next() % 601) - 300;
    std::vector<ui8> stream(3 * n);
    stream.resize((size_t)(wsqwsym(stream.data(), ints.data(), (ui32)n) - stream.data()));
    print("wsqwsym", n, stream);
}

struct filter_pair {
    const char *name;
    pqf *h, *g;
};

// One split and one merge of a rows x cols array of values up to 128 * scale with each
// filter pair.
void splits(const std::vector<filter_pair> &pairs, int rows, int cols, real scale = 1)
{
    for (const filter_pair &p : pairs) {
        bool periodic = p.h->type <= 1;
        if (periodic && (rows % 2 || cols % 2))
            continue;
        int oxh = cdplength(rows, p.h->type), oxg = cdplength(rows, p.g->type);
        int oyh = cdplength(cols, p.h->type), oyg = cdplength(cols, p.g->type);
        std::vector<real> data = reals((size_t)rows * cols, -128 * scale, 128 * scale);
        std::vector<real> work(data.size());
        scdpi2(data.data(), oxh, oxg, oyh, oyg, work.data(), p.h, p.g, p.h, p.g);
        print(p.name, (size_t)rows * 1000 + cols, data);
        sacdpi2(data.data(), oxh, oxg, oyh, oyg, work.data(), p.h, p.g, p.h, p.g);
        print(p.name, (size_t)rows * 1000 + cols, data);
    }
}

// The central variances of the coded subbands of random coefficients laid
// out as a rows x cols image's, four subbands of a size side by side.
void variances(const filter_pair &wsq, int rows, int cols)
{
    int xs[WSQ_SUBBANDS], ys[WSQ_SUBBANDS];
    ui32 numcoefs[WSQ_SUBBANDS];
    subbandsizes(xs, ys, numcoefs, rows, cols, wsq.h, wsq.g);
    std::vector<real> data = reals((size_t)rows * cols, -200, 200);
    void *contents[WSQ_SUBBANDS];
    for (size_t b = 0, at = 0; b < WSQ_SUBBANDS; at += (size_t)xs[b] * ys[b], ++b)
        contents[b] = data.data() + at;
    std::vector<double> variance(WSQ_SUBBANDS);
    subbandvars(variance.data(), contents, xs, ys, nullptr);
    print("subbandvars", (size_t)rows * 1000 + cols, variance);
}

// The pixels of a rows x cols image split and rebuilt with the finer subbands
// zeros (of either sign) but for one value in about 100, as a stream's mostly
// are at a low rate.
void synthesis(const filter_pair &wsq, int rows, int cols)
{
    std::vector<real> data = reals((size_t)rows * cols, -100, 100), work(data.size());
    hedge *graph = makehedge(WSQ_SUBBANDS, nullptr, wsqlevels, nullptr);
    graph->contents[0] = data.data();
    cbwp2(graph, rows, cols, 0, 0, work.data(), wsq.h, wsq.g, wsq.h, wsq.g);
    int xs[WSQ_SUBBANDS], ys[WSQ_SUBBANDS];
    xywp2(xs, ys, rows, cols, wsqlevels, 0, 0, wsq.h, wsq.g, wsq.h, wsq.g);
    for (int b = 4; b < WSQ_SUBBANDS; ++b) {
        real *band = (real *)graph->contents[b];
        for (size_t n = 0; n < (size_t)xs[b] * ys[b]; ++n)
            if (next() % 100)
                band[n] = n % 2 ? 0.0f : -0.0f;
    }
    std::vector<ui8> pixels(data.size());
    rbwp2b(graph, rows, cols, 0, 0, work.data(), wsq.h, wsq.g, wsq.h, wsq.g, nullptr,
           pixels.data(), 128.0f, 1.0f);
    print("rbwp2b", (size_t)rows * 1000 + cols, pixels);
    freehedge(graph, nullptr, nullptr);
}

pqf *random_filter(const char *name, int alpha, int omega, int type)
{
    std::vector<real> taps = reals((size_t)(omega - alpha + 1), -1, 1);
    return makepqf(name, taps.data(), alpha, omega, type);
}

real from_bits(std::uint32_t bits)
{
    real value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// NaNs as one NaN: engines differ in the sign and payload of the NaNs they make.
std::vector<real> canonical(std::vector<real> values)
{
    for (real &v : values)
        if (std::isnan(v))
            v = std::numeric_limits<real>::quiet_NaN();
    return values;
}

// Term lists on values where a sum's fast ways can go wrong, through the vector kernel where
// there is one, else term by term with wsqfma: 37 outputs, so that the four-lane groups and
// the single outputs after them are reached. Each case gives the terms' coefficients and a
// maker of their samples.
template <class Sample>
void hard_sums(const char *name, const std::vector<real> &coefficients, Sample sample)
{
    constexpr int width = 37;
    std::vector<std::vector<real>> sources(coefficients.size(), std::vector<real>(width));
    wsq_internal::term_list terms;
    for (size_t t = 0; t < coefficients.size(); ++t) {
        for (real &v : sources[t])
            v = sample(t);
        terms.add(sources[t].data(), coefficients[t]);
    }
    std::vector<real> out(width);
    if (wsq_internal::vectors().sum_terms)
        wsq_internal::vectors().sum_terms(out.data(), terms, width);
    else
        for (int c = 0; c < width; ++c)
            for (int t = 0; t < terms.count; ++t)
                out[c] = wsqfma(terms.coefficient[t], terms.source[t][c], t ? out[c] : 0.0f);
    print(name, coefficients.size(), canonical(out));
}

void hard_cases()
{
    auto sign = [] { return next() & 1 ? 1.0f : -1.0f; };
    // Products halfway between two floats (8191 times odd integers of 12 bits: odd, of 25
    // bits) onto partial sums too small for a double to keep beside them.
    hard_sums("halfway", {1.0f, 8191.0f}, [&](size_t t) {
        return t ? 2049.0f + 2 * (real)(next() % 1024) : sign() * 0x1p-31f;
    });
    // An inexact double sum exactly halfway between two subnormal floats: 2^-127 (a partial
    // sum) plus (2^23 + 2^11)(2^24 - 4095) 2^-197 = 2^-150 + 2^-186, whose last bit the
    // double drops. Its coefficient is far below 2^-7, so only the exact way is right.
    hard_sums("subnormal halfway", {1.0f, 8390656.0f * 0x1p-98f}, [&](size_t t) {
        return t ? 16773121.0f * 0x1p-99f : (real)(next() % 4 + 0x1p22) * 0x1p-149f;
    });
    // Plain coefficients on subnormal samples and partial sums, ±0 among them.
    hard_sums("subnormal", {0.75f, -0.0238494650f, 0.377402842f}, [&](size_t) {
        std::uint32_t bits = (std::uint32_t)next();
        return from_bits(bits & (next() % 8 ? 0x807FFFFFu : 0x80000000u));
    });
    // Signed zeros everywhere, then infinities and NaNs among ordinary values.
    hard_sums("zeros", {-0.0f, 1.0f, -0.5f, 0.0f}, [&](size_t) { return sign() * 0.0f; });
    hard_sums("not finite", {2.0f, -std::numeric_limits<real>::infinity(), 0.25f}, [&](size_t) {
        switch (next() % 4) {
        case 0: return std::numeric_limits<real>::infinity() * sign();
        case 1: return std::numeric_limits<real>::quiet_NaN();
        default: return uniform(-100, 100);
        }
    });
    // The pixel conversion with a scale below 2^-7.
    std::vector<real> in(37);
    for (real &v : in)
        v = uniform(-40000, 40000);
    std::vector<ui8> bytes(in.size());
    wsqr2b(bytes.data(), in.data(), (ui32)in.size(), 127.5f, 0x1p-8f);
    print("wsqr2b small scale", in.size(), bytes);
}

}  // namespace

int main()
{
    std::vector<filter_pair> pairs = {
        {"wsq", makepqf("h", WSQh0hbqf, -4, 4, 2), makepqf("g", WSQh1gbqf, -4, 2, 3)},
        {"periodic", random_filter("h", -3, 4, 0), random_filter("g", -2, 5, 1)},
        {"odd", random_filter("h", -6, 6, 2), random_filter("g", -5, 3, 3)},
        {"even", random_filter("h", -4, 3, 4), random_filter("g", -2, 1, 5)},
        {"widest", random_filter("h", -16, 16, 2), random_filter("g", -17, 15, 3)},
    };
    for (size_t n = 1; n <= 129; ++n) {
        pointwise(n);
        symbols(n);
    }
    for (size_t n : {4096 + 7, 65536 + 3}) {
        pointwise(n);
        symbols(n);
    }
    for (int n = 2; n <= 129; ++n) {
        splits(pairs, 3, n);
        splits(pairs, n, 4);
    }
    splits(pairs, 130, 257);
    splits(pairs, 5, 1301);  // rows of several chunks, the inner ones read in place
    splits(pairs, 36, 70, 0x1p-136f);  // sums among the subnormal numbers
    hard_cases();
    for (int n : {81, 97, 130, 257})
        variances(pairs[0], n, 81 + 49 - n % 49);
    synthesis(pairs[0], 256, 300);
    synthesis(pairs[0], 97, 131);
    for (const filter_pair &p : pairs) {
        freepqf(p.h);
        freepqf(p.g);
    }
    return 0;
}
