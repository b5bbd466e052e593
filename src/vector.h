/* vector.h - the vector paths of libwsq's kernels (internal: not installed).
 *
 * A kernel with a vector path takes it from the table that vectors() gives,
 * filled once, at its first call, by what the processor has: each
 * instruction set the build has, in a source of its own (vector_<set>.cpp),
 * adds the kernels it has, a wider set over a narrower one. An entry left
 * null has no vector path on this processor: the portable kernel then does
 * all the work. A build with WSQ_PORTABLE has no instruction set, one with
 * WSQ_NO_AVX512 no AVX-512. docs/vector-paths.md tells what adding an
 * instruction set takes.
 *
 * Every entry computes exactly what the portable code computes: the same
 * single-precision operations on the same values in the same order, only
 * several outputs at a time, so that no result depends on the machine. The
 * point-wise entries take the first values of an array, as many as their
 * lanes hold, and return how many; the portable loop does the rest.
 */
#ifndef WSQ_VECTOR_H
#define WSQ_VECTOR_H

#include "shared_kernels.h"

#include <atomic>
#include <mutex>

namespace wsq_internal {

/* ---- Filter sums ---------------------------------------------------------- */

/* The widest filter (omega - alpha) the vector transforms take; wider ones
 * go the portable way. */
constexpr int max_vector_span = 32;

/* The terms of a filter sum in the order they are added: term t multiplies
 * coefficient t by the value at source t plus an offset, so that lanes of
 * consecutive outputs read consecutive values. */
constexpr int max_terms = 2 * (max_vector_span + 2);

struct term_list {
    const real *source[max_terms];
    real coefficient[max_terms];
    int count = 0;

    void add(const real *at, real c)
    {
        source[count] = at;
        coefficient[count++] = c;
    }
};

/* ---- The table ------------------------------------------------------------ */

struct vector_kernels {
    /* The row kernels of the strip split and merge: width outputs of a term
     * list, out[c] the sum of its terms at offset c, each output's terms
     * added in order, one fused multiply-add each; the 2 * count samples at
     * in split into their even and odd ones; and the reverse. */
    void (*sum_terms)(real *out, const term_list &terms, int width);
    void (*deinterleave)(real *even, real *odd, const real *in, int count);
    void (*interleave)(real *out, const real *even, const real *odd, int count);
    /* count pairs of outputs of two term lists, interleaved: out[2k] the
     * sum of the even list's terms at offset k, out[2k + 1] the odd one's.
     * Every set that has sum_terms has it. */
    void (*sum_pairs)(real *out, const term_list &even, const term_list &odd, int count);
    /* Where a term costs enough that looking for zeros pays, the output
     * pairs of a merge along y looked at together (at most 256): a stretch
     * of a half's row this long that is all zeros adds no terms, in a
     * synthesis to pixels (merge_strips). 0: zeros are not looked for. */
    int zero_stretch;
    /* Point-wise: wsqb2r (with 1 / R), wsqr2b, and pixelmr's least,
     * greatest and sum of the pixels. */
    ui32 (*bytes_to_reals)(real *out, const ui8 *in, ui32 length, real midpoint, real reciprocal);
    ui32 (*reals_to_bytes)(ui8 *out, const real *in, ui32 length, real midpoint, real rescale);
    size_t (*pixel_stats)(const ui8 *pixels, size_t length, ui8 *least, ui8 *greatest,
                          std::uint64_t *total);
    /* Point-wise: wsqqnt with the reciprocal of the bin width and half the
     * zero bin, lowering *lowest and raising *highest to the indices'
     * extremes; wsqunq with half the zero bin. */
    ui32 (*quantize)(int32 *out, const real *in, ui32 length, real r, real h, int32 *lowest,
                     int32 *highest);
    ui32 (*dequantize)(real *out, const int32 *in, ui32 length, real center, real qbin, real h);
    /* wsqwsym's walk over the first values: *zrl carries the zeros not yet
     * written, in and out, and *done the values walked. Returns the end of
     * the symbols. */
    ui8 *(*symbols)(ui8 *output, const int32 *input, ui32 length, ui32 *zrl, ui32 *done);
    /* The whole of the central variances' sums, over rows i0 .. i1 - 1 and
     * columns j0 .. j1 - 1 of four subbands of one width side by side, each
     * in its own order (sumsq with one fused multiply-add a value). */
    void (*region_sums)(double *sum, double *sumsq, const real *const *lanes, int i0, int i1,
                        int j0, int j1, int width);
};

/* The kernels of the instruction sets this processor has, chosen at the
 * first call. */
const vector_kernels &vectors();

/* The split of a node with the row kernels of v, from src to dst, of the
 * quarter-bands needed (HH, HG, GH, GG), a team sharing the work; false when
 * its filters are beyond the strips. */
bool split_strips(const vector_kernels &v, const real *src, real *dst, int oxh, int oxg, int oyh,
                  int oyg, const pqf *hx, const pqf *gx, const pqf *hy, const pqf *gy,
                  const bool *needed, wsqteam *team);

/* Hands a merge's pixel rows to a sink in row order as they are finished,
 * in groups of rows: a group is finished when every strip of columns has
 * made it, whichever thread made each. */
class row_delivery {
public:
    row_delivery(const wsq_row_sink &sink, int rows, int columns);
    /* Rows n0 .. n1 - 1, within one group, made over `columns` columns. */
    void made(int n0, int n1, int columns);
    /* Whether rows n and n + 1 lie in different groups. */
    bool group_ends(int n) const { return (n + 1) % group_rows == 0; }

private:
    static constexpr int most_groups = 256;
    void hand_on(int group);
    wsq_row_sink sink;
    int rows, columns, group_rows;
    std::atomic<size_t> samples_made[most_groups] = {};
    bool finished[most_groups] = {};
    int next = 0;  /* the first group not handed on */
    bool handing = false;
    std::mutex lock;
};

/* The samples of a merge as pixels: wsqr2b's conversion of each, with
 * midpoint and rescale, to out, a byte a sample in the node's order; the
 * rows handed on by delivery when there is one. */
struct pixel_rows {
    ui8 *out;
    real midpoint, rescale;
    row_delivery *delivery = nullptr;
};

/* Whether merge_strips takes a merge with these filters: not the periodic
 * extensions, whose rows can wrap a long signal, nor type 5. */
bool merge_strips_take(const pqf *hx, const pqf *gx, const pqf *hy, const pqf *gy);

/* The merge of a node with the row kernels of v, from its four quarter-bands
 * (HH, HG, GH, GG, each where it lies; null for one of zeros, HH excepted)
 * to dst, or with pixels to pixels->out instead; false when
 * merge_strips_take refuses its filters. zeros_unseen says that the sign of
 * a zero among the outputs can change nothing that is kept (the merges of a
 * synthesis to pixels): the terms of stretches of zeros (v.zero_stretch) are
 * then left out, which at a low bit rate are most of a finer subband's. */
bool merge_strips(const vector_kernels &v, const real *const quarters[4], real *dst, int ixh,
                  int ixg, int iyh, int iyg, const pqf *hx, const pqf *gx, const pqf *hy,
                  const pqf *gy, wsqteam *team, const pixel_rows *pixels, bool zeros_unseen);

/* ---- The instruction sets -------------------------------------------------
 * Each adds its kernels to k when the processor has the set. */

#if defined(__wasm_simd128__) && !defined(WSQ_PORTABLE)
#define WSQ_HAS_SIMD128 1
void add_simd128(vector_kernels &k);
#endif

#if defined(__aarch64__) && !defined(WSQ_PORTABLE)
#define WSQ_HAS_NEON 1
void add_neon(vector_kernels &k);
#endif

#if defined(__x86_64__) && !defined(WSQ_PORTABLE)
#define WSQ_HAS_AVX2 1
void add_avx2(vector_kernels &k);
#if !defined(WSQ_NO_AVX512)
#define WSQ_HAS_AVX512 1
void add_avx512(vector_kernels &k);
#endif
#endif

}  // namespace wsq_internal

#endif
