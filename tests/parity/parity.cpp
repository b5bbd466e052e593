// Prints a digest of what each kernel with a vector path makes of random
// inputs: every length from 1 to 129 (around the vector widths and chunks)
// and a few large ones, every filter type the vector path takes. Built once
// on the library and once on its build without vector paths: the two outputs
// must be the same to the bit, whatever the processor.
#include "libwsq.h"

#include <cstdio>
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

pqf *random_filter(const char *name, int alpha, int omega, int type)
{
    std::vector<real> taps = reals((size_t)(omega - alpha + 1), -1, 1);
    return makepqf(name, taps.data(), alpha, omega, type);
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
    for (int n : {81, 97, 130, 257})
        variances(pairs[0], n, 81 + 49 - n % 49);
    for (const filter_pair &p : pairs) {
        freepqf(p.h);
        freepqf(p.g);
    }
    return 0;
}
