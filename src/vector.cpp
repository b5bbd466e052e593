/* vector.cpp - what the vector paths share whatever the instruction set:
 * the choice of the kernels, once, by the processor's features, and the
 * split and merge of a node in strips, built on the row kernels of the
 * chosen set.
 *
 * The strip split and merge are the vector paths of the transforms: they
 * read a node in one place and write its quarter-bands (or, merging, the
 * node) to another, in strips of columns as narrow as a ring of rows in a
 * second-level cache allows. Down each strip every input row is filtered
 * along y once into the ring, and each output row is summed down the
 * columns from the ring: the intermediate rows never travel to memory, the
 * node is read once and written once, and its rows are read in runs long
 * enough for the processor to read ahead. Only they allocate among the
 * transforms: a ring of rows, or a smaller one on the stack without memory.
 */
#include "vector.h"

#include "platform.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <memory>

namespace wsq_internal {

namespace {

/* Outputs per chunk of the row kernels. */
constexpr int chunk_outputs = 256;

}  // namespace

const vector_kernels &vectors()
{
    static const vector_kernels chosen = [] {
        vector_kernels k = {};  /* no vector path: the portable kernels */
#if WSQ_HAS_SIMD128
        add_simd128(k);
#endif
#if WSQ_HAS_NEON
        add_neon(k);
#endif
#if WSQ_HAS_AVX2
        add_avx2(k);
#endif
#if WSQ_HAS_AVX512
        add_avx512(k);
#endif
        return k;
    }();
    return chosen;
}

namespace {

/* Strips are a multiple of this many columns wide: a vector's width. */
constexpr int column_step = 8;

bool fits_strips(const pqf *a, const pqf *b, const pqf *c, const pqf *d)
{
    for (const pqf *f : {a, b, c, d})
        if (!valid_type(f->type) || f->omega - f->alpha > max_vector_span)
            return false;
    return true;
}

/* ==== Strips and rings ===================================================== */

/* The rings: their room, the most rows one holds, and how far ahead the
 * rows of a large node are asked for. */
constexpr int ring_floats = 1 << 16;     /* 256 KiB */
constexpr int small_ring_floats = 8192;  /* 32 KiB, on the stack when the heap has no room */
constexpr int most_ring_rows = 64;
constexpr int prefetch_rows = 2;         /* output rows ahead */
constexpr size_t prefetch_samples = (size_t)1 << 18;  /* in nodes beyond a second-level cache */

/* The rows of a ring for output rows that each read rows spanning `widest`:
 * a power of two no smaller, so that the rows one output reads never share
 * a slot; 0 beyond most_ring_rows (a periodic extension reading both ends
 * of a long signal). */
int ring_of(int widest)
{
    int rows = 1;
    while (rows < widest)
        rows *= 2;
    return rows <= most_ring_rows ? rows : 0;
}

/* Heap room for rings, ring_floats. Where there are huge pages, a thread
 * takes it once and keeps it for its life: every split and merge the thread
 * runs then reuses pages already touched, where fresh memory would cost a
 * page fault per 4 KiB each time, a tenth of the work of a 512x512 image.
 * Elsewhere each use takes its own. */
using ring_memory = std::unique_ptr<real, void (*)(real *)>;

ring_memory heap_room()
{
    if constexpr (wsq_platform::huge_pages_on_request) {
        thread_local std::unique_ptr<void, void (*)(void *)> kept(
            hugebuffer(ring_floats * sizeof(real)), std::free);
        return ring_memory((real *)kept.get(), [](real *) {});
    }
    return ring_memory((real *)wsq_platform::aligned_buffer(64, ring_floats * sizeof(real)),
                       [](real *room) { wsq_platform::aligned_release(room); });
}

/* Room for the rings of one strip at a time: the heap room or, without
 * memory, small_ring_floats on the stack (narrower strips then). */
class ring_room {
public:
    real *floats() { return heap ? heap.get() : stack; }
    /* Columns of strip for rings of `rows` rows of `per_column` floats a column. */
    int strip(int rows, int per_column) const
    {
        return (heap ? ring_floats : small_ring_floats) / (rows * per_column) / column_step *
               column_step;
    }

private:
    ring_memory heap = heap_room();
    alignas(64) real stack[small_ring_floats];
};

/* Runs strip(c0, c1, o0, o1, ring) over columns 0 .. columns - 1 and output
 * rows 0 .. outputs - 1 of a pass whose rings hold `rows` rows of
 * `per_column` floats a column: in strips as wide as a ring of ring_floats
 * allows (narrower on the stack), shared by a team, with the output rows in
 * bands when there are fewer strips than pieces for the team. */
template <class Strip>
void share_strips(wsqteam *team, int columns, int outputs, int rows, int per_column,
                  const Strip &strip_body)
{
    int strip = std::min(columns, ring_floats / (per_column * rows) / column_step * column_step);
    int strips = (columns + strip - 1) / strip;
    int bands = team ? std::min(outputs, (4 * teamsize(team) + strips - 1) / strips) : 1;
    teamfor(team, (size_t)strips * bands, [&](size_t a, size_t b) {
        ring_room room;
        int step = room.strip(rows, per_column);
        for (size_t item = a; item < b; ++item) {
            int s = (int)(item % strips), band = (int)(item / strips);
            int end = std::min(columns, (s + 1) * strip);
            for (int c0 = s * strip; c0 < end; c0 += step)
                strip_body(c0, std::min(c0 + step, end), outputs * band / bands,
                           outputs * (band + 1) / bands, room.floats());
        }
    });
}

/* ==== Split ================================================================ */

/* Outputs i0 .. i0 + count - 1 of one row's convolution-decimation by h (nl
 * outputs in all) and g (ng), to low[0 ..] and high[0 ..]: those of them
 * below nl and ng. Tap j of output i meets sample 2i - j: an even sample for
 * even j, an odd one for odd j, so the samples the chunk reads are split into
 * their even and odd ones, already extended, and each tap reads consecutive
 * ones, eight outputs at a time. */
void split_row_chunk(const vector_kernels &v, const real *in, int n, int i0, int count, real *low,
                     int nl, real *high, int ng, const pqf *h, const pqf *g)
{
    int type = h->type;  /* h and g extend alike: their types form a pair */
    int back = std::max(h->omega, g->omega), ahead = -std::min(h->alpha, g->alpha);
    int reach_back = (back + 1) / 2 + 1, reach_ahead = ahead / 2 + 1;
    alignas(32) real even[chunk_outputs + max_vector_span + 4];
    alignas(32) real odd[chunk_outputs + max_vector_span + 4];
    int first = i0 - reach_back, span = count + reach_back + reach_ahead;
    /* Pairs 2(first + m), 2(first + m) + 1 inside the row need no extension. */
    int inside_from = std::min(span, std::max(0, -first));
    int inside_to = std::max(inside_from, std::min(span, n / 2 - first));
    for (int m = 0; m < span; ++m) {
        if (m == inside_from && inside_to > inside_from) {
            v.deinterleave(even + m, odd + m, in + 2 * (first + m), inside_to - m);
            m = inside_to - 1;
            continue;
        }
        int k = 2 * (first + m);
        even[m] = in[extend_analysis(k, n, type)];
        odd[m] = in[extend_analysis(k + 1, n, type)];
    }
    for (int f = 0; f < 2; ++f) {
        const pqf *filter = f ? g : h;
        int width = std::min(f ? ng : nl, i0 + count) - i0;
        if (width <= 0)
            continue;
        /* Output i0 + c, tap j: even[reach_back + c - j/2] or odd[reach_back + c - (j+1)/2]. */
        term_list terms;
        for (int j = filter->alpha; j <= filter->omega; ++j)
            terms.add(j & 1 ? odd + reach_back - (j + 1) / 2 : even + reach_back - j / 2,
                      filter->f[j]);
        v.sum_terms(f ? high : low, terms, width);
    }
}

/* The rows a ring needs (ring_of) for the span of the rows, after extension,
 * that any output row of hx or gx reads. */
int ring_rows(int ix, int oxh, int oxg, const pqf *hx, const pqf *gx)
{
    int widest = 1;
    for (int i = 0; i < std::max(oxh, oxg); ++i) {
        int lowest = INT_MAX, highest = INT_MIN;
        for (int f = 0; f < 2; ++f) {
            const pqf *filter = f ? gx : hx;
            if (i >= (f ? oxg : oxh))
                continue;
            for (int j = filter->alpha; j <= filter->omega; ++j) {
                int r = extend_analysis(2 * i - j, ix, filter->type);
                lowest = std::min(lowest, r);
                highest = std::max(highest, r);
            }
        }
        widest = std::max(widest, highest - lowest + 1);
    }
    return ring_of(widest);
}

struct split_plan {
    const vector_kernels &v;
    int ix, iy, oxh, oxg, oyh, oyg;
    const pqf *hx, *gx, *hy, *gy;
    int rows;            /* of the ring */
    const bool *needed;  /* HH, HG, GH and GG: whether each quarter-band is wanted */
};

/* Output rows i0 .. i1 - 1 of the four quarter-bands, over the outputs s0 ..
 * s1 - 1 of each half of the rows. Ring slot r % rows holds input row r
 * filtered along y: those of its low outputs, then of its high ones. */
void split_strip(const real *src, real *dst, const split_plan &p, int s0, int s1, int i0, int i1,
                 real *ring)
{
    int held[most_ring_rows];
    std::fill(held, held + p.rows, -1);
    int half = s1 - s0;
    int low_width = std::min(half, p.oyh - s0), high_width = std::min(half, p.oyg - s0);
    int width = std::max(low_width, high_width);
    real *hh = dst;
    real *hg = hh + (size_t)p.oxh * p.oyh;
    real *gh = hg + (size_t)p.oxh * p.oyg;
    real *gg = gh + (size_t)p.oxg * p.oyh;
    /* The samples of a row that the strip reads, asked for ahead of their use. */
    int reach = std::max({p.hy->omega, p.gy->omega, -p.hy->alpha, -p.gy->alpha}) + 2;
    int from = std::max(0, 2 * s0 - reach), to = std::min(p.iy, 2 * (s0 + width) + reach);
    int newest = -std::min(p.hx->alpha, p.gx->alpha);  /* output i reads rows up to 2i + newest */
    bool ask_ahead = (size_t)p.ix * p.iy >= prefetch_samples;
    for (int i = i0; i < i1; ++i) {
        int soon = 2 * (i + prefetch_rows) + newest;
        for (int r = soon - 1; r <= soon; ++r)
            if (ask_ahead && r < p.ix)
                for (int c = from; c < to; c += 16)
                    WSQ_PREFETCH(src + (ptrdiff_t)r * p.iy + c);
        for (int f = 0; f < 2; ++f) {
            const pqf *filter = f ? p.gx : p.hx;
            bool low_wanted = p.needed[2 * f], high_wanted = p.needed[2 * f + 1];
            if (i >= (f ? p.oxg : p.oxh) || !(low_wanted || high_wanted))
                continue;
            term_list terms;
            for (int j = filter->alpha; j <= filter->omega; ++j) {
                int r = 2 * i - j;
                if (r < 0 || r >= p.ix)
                    r = extend_analysis(r, p.ix, filter->type);
                int slot = r & (p.rows - 1);
                real *row = ring + (ptrdiff_t)slot * 2 * half;
                if (held[slot] != r) {
                    for (int c = 0; c < width; c += chunk_outputs)
                        split_row_chunk(p.v, src + (ptrdiff_t)r * p.iy, p.iy, s0 + c,
                                        std::min(chunk_outputs, width - c), row + c, p.oyh,
                                        row + half + c, p.oyg, p.hy, p.gy);
                    held[slot] = r;
                }
                terms.add(row, filter->f[j]);
            }
            if (low_wanted && low_width > 0)
                p.v.sum_terms((f ? gh : hh) + (ptrdiff_t)i * p.oyh + s0, terms, low_width);
            for (int t = 0; t < terms.count; ++t)
                terms.source[t] += half;
            if (high_wanted && high_width > 0)
                p.v.sum_terms((f ? gg : hg) + (ptrdiff_t)i * p.oyg + s0, terms, high_width);
        }
    }
}

}  // namespace

bool split_strips(const vector_kernels &v, const real *src, real *dst, int oxh, int oxg, int oyh,
                  int oyg, const pqf *hx, const pqf *gx, const pqf *hy, const pqf *gy,
                  const bool *needed, wsqteam *team)
{
    int ix = oxh + oxg, iy = oyh + oyg;
    int rows = fits_strips(hx, gx, hy, gy) ? ring_rows(ix, oxh, oxg, hx, gx) : 0;
    if (rows == 0 || hy->type / 2 != gy->type / 2)
        return false;
    split_plan plan{v, ix, iy, oxh, oxg, oyh, oyg, hx, gx, hy, gy, rows, needed};
    share_strips(team, std::max(oyh, oyg), std::max(oxh, oxg), rows, 2,
                 [&](int s0, int s1, int i0, int i1, real *ring) {
                     split_strip(src, dst, plan, s0, s1, i0, i1, ring);
                 });
    return true;
}

/* ==== Merge ================================================================ */

namespace {

/* Input indices, less m, that outputs 2m and 2m + 1 of f read. */
struct adjoint_reach {
    int low, high;
};

adjoint_reach reach_of(const pqf *f)
{
    adjoint_taps even = taps_of(f, false), odd = taps_of(f, true);
    return {std::min(even.base, odd.base),
            std::max(even.base + (even.last - even.first) / 2,
                     odd.base + (odd.last - odd.first) / 2)};
}

/* The half signal x (len samples) extended over indices first .. first +
 * span - 1, with the extension's sign applied to each value. */
void extend_half(real *out, const real *x, int len, int first, int span, int type,
                 bool odd_output)
{
    int inside_from = std::min(span, std::max(0, -first));
    int inside_to = std::max(inside_from, std::min(span, len - first));
    std::copy(x + (first + inside_from), x + (first + inside_to), out + inside_from);
    for (int m = 0; m < span; ++m) {
        if (m == inside_from)
            m = inside_to;
        if (m == span)
            break;
        extended_index e = extend_synthesis(first + m, len, type, odd_output);
        out[m] = e.sign * x[e.index];
    }
}

/* The half signal x (len samples) as pairs m0 .. m0 + count - 1 of filter f
 * read it, index m0 + k at [k]: x itself where all they read lies inside
 * it, else its extension written to room. */
const real *half_around(real *room, const real *x, int len, int m0, int count, const pqf *f,
                        bool odd_output)
{
    adjoint_reach r = reach_of(f);
    int first = m0 + r.low, span = count + r.high - r.low;
    if (first >= 0 && first + span <= len)
        return x + m0;
    extend_half(room, x, len, first, span, f->type, odd_output);
    return room - r.low;
}

/* The terms of output 2m (odd: 2m + 1) of one filter, taps of that
 * parity, against an extended half whose index m lies at e. */
void add_adjoint_terms(term_list &terms, const real *e, const pqf *f, bool odd)
{
    adjoint_taps taps = taps_of(f, odd);
    e += taps.base;
    for (int tap = taps.first; tap <= taps.last; tap += 2, ++e)
        terms.add(e, f->f[tap]);
}

/* Whether the count values from x on are all zeros, of either sign. */
bool all_zeros(const real *x, int count)
{
    ui32 bits = 0;
    for (int i = 0; i < count; ++i) {
        ui32 b;
        std::memcpy(&b, x + i, sizeof b);
        bits |= b << 1;  /* the sign bit out */
    }
    return bits == 0;
}

/* Pairs m0 .. m0 + count - 1 of one row rebuilt from its low half (nl
 * samples, through h) and high half (nh samples, through g): outputs 2m0 ..
 * of olen, to out[0 ..], each even output summed with the odd one beside it.
 * A null half is zeros, whose terms are left out, and so, with skip_zeros, is
 * a half whose values read here are all zeros: a term c * 0, c finite, adds
 * nothing to a sum but, to one that is itself zero, perhaps its sign, which
 * no later product or sum of a synthesis to pixels can tell apart from the
 * other (one of them is a pixel). The halves are extended in advance, which
 * needs every term to be present: not so for type 5 (merge_strips checks).
 * Returns whether no term was left: the outputs are then zeros. */
bool merge_row_chunk(const vector_kernels &v, const real *lo, int nl, const real *hi, int nh,
                     real *out, int olen, int m0, int count, const pqf *h, const pqf *g,
                     bool skip_zeros)
{
    bool odd_output = olen & 1;
    alignas(32) real lx[chunk_outputs + max_vector_span / 2 + 2];
    alignas(32) real hx[chunk_outputs + max_vector_span / 2 + 2];
    term_list even_terms, odd_terms;
    const real *halves[2] = {lo, hi};
    real *rooms[2] = {lx, hx};
    const pqf *filters[2] = {h, g};
    int lengths[2] = {nl, nh};
    for (int f = 0; f < 2; ++f) {
        if (!halves[f])
            continue;
        const real *e = half_around(rooms[f], halves[f], lengths[f], m0, count, filters[f], odd_output);
        adjoint_reach r = reach_of(filters[f]);
        if (skip_zeros && all_zeros(e + r.low, count + r.high - r.low))
            continue;
        add_adjoint_terms(even_terms, e, filters[f], false);
        add_adjoint_terms(odd_terms, e, filters[f], true);
    }
    int whole = std::min(count, (olen - 2 * m0) / 2);  /* pairs with both outputs */
    v.sum_pairs(out, even_terms, odd_terms, whole);
    if (whole < count) {  /* the row's last output, even */
        for (int t = 0; t < even_terms.count; ++t)
            even_terms.source[t] += whole;
        v.sum_terms(out + 2 * whole, even_terms, 1);
    }
    return even_terms.count == 0 && odd_terms.count == 0;
}

/* The merge goes down strips as the split does: every row of the low and of
 * the high half (along x) is merged along y once into a ring of its half,
 * and each output row is summed down the columns from the two rings. */

/* The rows each ring needs (ring_of) for the span of the rows of a half,
 * after extension, that any output row reads. */
int merge_ring_rows(int ixh, int ixg, const pqf *hx, const pqf *gx)
{
    int ix = ixh + ixg, widest = 1;
    for (int n = 0; n < ix; ++n) {
        for (int f = 0; f < 2; ++f) {
            const pqf *filter = f ? gx : hx;
            adjoint_taps taps = taps_of(filter, n & 1);
            int lowest = INT_MAX, highest = INT_MIN, index = n / 2 + taps.base;
            for (int tap = taps.first; tap <= taps.last; tap += 2, ++index) {
                extended_index x = extend_synthesis(index, f ? ixg : ixh, filter->type, ix & 1);
                if (x.present) {
                    lowest = std::min(lowest, x.index);
                    highest = std::max(highest, x.index);
                }
            }
            if (lowest <= highest)  /* some term present */
                widest = std::max(widest, highest - lowest + 1);
        }
    }
    return ring_of(widest);
}

struct merge_plan {
    const vector_kernels &v;
    const real *const *quarters;  /* HH, HG, GH and GG */
    int ixh, ixg, iyh, iyg;
    const pqf *hx, *gx, *hy, *gy;
    int rows;                  /* of each ring */
    const pixel_rows *pixels;  /* null: the samples go to dst */
    bool skip_zeros;           /* merge_row_chunk's */
};

/* The outputs of sum_terms as pixels, to out[0 ..]: a chunk of sums at a
 * time, each converted by wsqr2b while it is in the first-level cache. */
void sum_to_pixels(const vector_kernels &v, term_list terms, int width, ui8 *out,
                   const pixel_rows &pixels)
{
    alignas(32) real sums[chunk_outputs];
    for (int c = 0; c < width; c += chunk_outputs) {
        int count = std::min(chunk_outputs, width - c);
        v.sum_terms(sums, terms, count);
        wsqr2b(out + c, sums, (ui32)count, pixels.midpoint, pixels.rescale);
        for (int t = 0; t < terms.count; ++t)
            terms.source[t] += count;
    }
}

/* Row `index` of a quarter-band of `length` samples a row; null for a
 * quarter-band of zeros, which is not there. */
const real *quarter_row(const real *quarter, int index, int length)
{
    return quarter ? quarter + (ptrdiff_t)index * length : nullptr;
}

/* The stretches of a ring row that are zeros (merge_row_chunk made them
 * from zeros alone): bit s for stretch s, of at most most_stretches. */
constexpr int most_stretches = 64;
using stretch_zeros = std::uint64_t;

/* An output row of a strip, at `at`: width outputs of terms, each read from
 * a row of a ring, to pixels where the plan asks for them. Where a term's
 * row has stretches of zeros (zeros[t], stretches of step pairs), each
 * stretch leaves out the terms that are zeros there. */
void sum_row(const merge_plan &p, const term_list &terms, const stretch_zeros *const *zeros,
             bool some_zeros, int step, int width, real *dst, ptrdiff_t at)
{
    auto sum = [&](const term_list &list, int c0, int count) {
        if (p.pixels)
            sum_to_pixels(p.v, list, count, p.pixels->out + at + c0, *p.pixels);
        else
            p.v.sum_terms(dst + at + c0, list, count);
    };
    if (!some_zeros) {
        sum(terms, 0, width);
        return;
    }
    for (int s = 0, c0 = 0; c0 < width; ++s, c0 += 2 * step) {
        term_list present;
        for (int t = 0; t < terms.count; ++t)
            if (!(*zeros[t] >> s & 1))
                present.add(terms.source[t] + c0, terms.coefficient[t]);
        sum(present, c0, std::min(2 * step, width - c0));
    }
}

/* Output rows n0 .. n1 - 1 of the node over the output pairs m0 .. m1 - 1
 * of each row. Slot j % rows of the ring of a half holds its row j merged
 * along y: those of its outputs. A half (along x) of two quarter-bands of
 * zeros adds no terms, nor does a stretch of a row of a ring merged from
 * zeros alone (merge_row_chunk tells why that is exact). */
void merge_strip(real *dst, const merge_plan &p, int m0, int m1, int n0, int n1, real *ring)
{
    int held[2][most_ring_rows];
    stretch_zeros zeros_held[2][most_ring_rows];
    std::fill(held[0], held[0] + p.rows, -1);
    std::fill(held[1], held[1] + p.rows, -1);
    int ix = p.ixh + p.ixg, iy = p.iyh + p.iyg;
    int pairs = m1 - m0, width = std::min(2 * pairs, iy - 2 * m0);
    int step = p.skip_zeros ? std::max(p.v.zero_stretch, (pairs + most_stretches - 1) / most_stretches)
                            : chunk_outputs;
    int stretches = (pairs + step - 1) / step;
    WSQ_ASSERT(stretches <= most_stretches);
    stretch_zeros every_stretch = stretches == most_stretches ? ~stretch_zeros(0)
                                                          : (stretch_zeros(1) << stretches) - 1;
    real *rings[2] = {ring, ring + (ptrdiff_t)p.rows * 2 * pairs};
    const real *low[2] = {p.quarters[0], p.quarters[2]}, *high[2] = {p.quarters[1], p.quarters[3]};
    const pqf *filters[2] = {p.hx, p.gx};
    int lengths[2] = {p.ixh, p.ixg};
    adjoint_taps taps_by[2][2] = {{taps_of(p.hx, false), taps_of(p.hx, true)},
                                  {taps_of(p.gx, false), taps_of(p.gx, true)}};
    /* The samples of the rows that the strip reads, asked for ahead of their use. */
    bool ask_ahead = (size_t)ix * iy >= prefetch_samples;
    int reach = std::max(reach_of(p.hx).high, reach_of(p.gx).high);
    int reach_y = std::max(-std::min(reach_of(p.hy).low, reach_of(p.gy).low),
                           std::max(reach_of(p.hy).high, reach_of(p.gy).high));
    int from = std::max(0, m0 - reach_y), to = m1 + reach_y;
    row_delivery *delivery = p.pixels ? p.pixels->delivery : nullptr;
    int unreported = n0;  /* the first row made and not yet told to delivery */
    for (int n = n0; n < n1; ++n) {
        int ahead = (n + 2 * prefetch_rows) / 2 + reach;  /* a row of each half, read soon */
        if (ask_ahead && (n & 1) == 0) {
            for (int f = 0; f < 2; ++f) {
                if (ahead >= lengths[f])
                    continue;
                const real *lo = quarter_row(low[f], ahead, p.iyh);
                const real *hi = quarter_row(high[f], ahead, p.iyg);
                for (int c = from; lo && c < std::min(to, p.iyh); c += 16)
                    WSQ_PREFETCH(lo + c);
                for (int c = from; hi && c < std::min(to, p.iyg); c += 16)
                    WSQ_PREFETCH(hi + c);
            }
        }
        term_list terms;
        const stretch_zeros *zeros[max_terms];
        bool some_zeros = false;
        for (int f = 0; f < 2; ++f) {  /* the low half through hx, then the high half through gx */
            if (!low[f] && !high[f])
                continue;
            const pqf *filter = filters[f];
            adjoint_taps taps = taps_by[f][n & 1];
            int index = n / 2 + taps.base, len = lengths[f];
            for (int tap = taps.first; tap <= taps.last; tap += 2, ++index) {
                extended_index x = index >= 0 && index < len
                                       ? extended_index{index, 1.0f, true}
                                       : extend_synthesis(index, len, filter->type, ix & 1);
                if (!x.present)
                    continue;
                int slot = x.index & (p.rows - 1);
                real *row = rings[f] + (ptrdiff_t)slot * 2 * pairs;
                stretch_zeros &row_zeros = zeros_held[f][slot];
                if (held[f][slot] != x.index) {
                    row_zeros = 0;
                    for (int s = 0; s < stretches; ++s)
                        row_zeros |= (stretch_zeros)merge_row_chunk(
                            p.v, quarter_row(low[f], x.index, p.iyh), p.iyh,
                            quarter_row(high[f], x.index, p.iyg), p.iyg, row + 2 * s * step, iy,
                            m0 + s * step, std::min(step, pairs - s * step), p.hy, p.gy,
                            p.skip_zeros) << s;
                    held[f][slot] = x.index;
                }
                if (row_zeros == every_stretch)
                    continue;
                zeros[terms.count] = &row_zeros;
                some_zeros |= row_zeros != 0;
                terms.add(row, x.sign * filter->f[tap]);
            }
        }
        sum_row(p, terms, zeros, some_zeros, step, width, dst, (ptrdiff_t)n * iy + 2 * m0);
        if (delivery && (delivery->group_ends(n) || n + 1 == n1)) {
            delivery->made(unreported, n + 1, width);
            unreported = n + 1;
        }
    }
}

}  // namespace

row_delivery::row_delivery(const wsq_row_sink &sink_, int rows_, int columns_)
    : sink(sink_), rows(rows_), columns(columns_)
{
    constexpr int group_bytes = 1 << 18;  /* a write's worth, still in a second-level cache */
    group_rows = std::max((rows + most_groups - 1) / most_groups,
                          (group_bytes + columns - 1) / columns);
}

void row_delivery::made(int n0, int n1, int made_columns)
{
    int group = n0 / group_rows;
    size_t samples = (size_t)(n1 - n0) * made_columns;
    size_t all = (size_t)(std::min(rows, (group + 1) * group_rows) - group * group_rows) * columns;
    if (samples_made[group].fetch_add(samples, std::memory_order_acq_rel) + samples == all)
        hand_on(group);
}

/* Marks the group finished; the thread that finds no other handing rows on
 * hands on every finished group from the first not yet handed on. */
void row_delivery::hand_on(int group)
{
    std::unique_lock<std::mutex> hold(lock);
    finished[group] = true;
    if (handing)
        return;
    handing = true;
    int groups = (rows + group_rows - 1) / group_rows;
    while (next < groups && finished[next]) {
        int end = next;
        while (end < groups && finished[end])
            ++end;
        hold.unlock();
        int first = next * group_rows;
        sink.rows_done(sink.context, (size_t)first, (size_t)(std::min(rows, end * group_rows) - first));
        hold.lock();
        next = end;
    }
    handing = false;
}

bool finite_coefficients(const pqf *f)
{
    return std::all_of(f->f + f->alpha, f->f + f->omega + 1, [](real c) { return std::isfinite(c); });
}

bool merge_strips_take(const pqf *hx, const pqf *gx, const pqf *hy, const pqf *gy)
{
    bool periodic = hx->type <= 1 || gx->type <= 1 || hy->type <= 1 || gy->type <= 1;
    return fits_strips(hx, gx, hy, gy) && !periodic && hy->type != 5 && gy->type != 5;
}

bool merge_strips(const vector_kernels &v, const real *const quarters[4], real *dst, int ixh,
                  int ixg, int iyh, int iyg, const pqf *hx, const pqf *gx, const pqf *hy,
                  const pqf *gy, wsqteam *team, const pixel_rows *pixels, bool zeros_unseen)
{
    if (!merge_strips_take(hx, gx, hy, gy))
        return false;
    WSQ_ASSERT(quarters[0]);
    /* With the extensions of these types, every output row reads rows within its filter's span. */
    int rows = merge_ring_rows(ixh, ixg, hx, gx);
    WSQ_ASSERT(rows>0);
    WSQ_ASSERT(v.zero_stretch <= chunk_outputs);
    bool skip_zeros = zeros_unseen && v.zero_stretch > 0 && finite_coefficients(hx) &&
                      finite_coefficients(gx) && finite_coefficients(hy) && finite_coefficients(gy);
    merge_plan plan{v, quarters, ixh, ixg, iyh, iyg, hx, gx, hy, gy, rows, pixels, skip_zeros};
    int pairs = (iyh + iyg + 1) / 2;  /* output pairs of a row */
    share_strips(team, pairs, ixh + ixg, rows, 4, [&](int m0, int m1, int n0, int n1, real *ring) {
        merge_strip(dst, plan, m0, m1, n0, n1, ring);
    });
    return true;
}

}  // namespace wsq_internal
