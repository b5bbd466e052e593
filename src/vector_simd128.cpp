/* vector_simd128.cpp - the SIMD128 kernels of the WebAssembly build: four single-precision
 * lanes. WebAssembly has no fused multiply-add, so each term of a filter sum is computed in
 * double precision and rounded once, as wsqfma() rounds it: the product of two floats is
 * exact in a double, and the sum rounded to double and then to float is the fused result
 * unless the double sum was inexact and lies exactly halfway between two floats; sums that
 * met such a double are summed again the exact way (the addition's error taken into account,
 * rounded to odd). Among the subnormal floats, whose halfway points lie elsewhere, an
 * inexact double sum needs a product with a bit below 2^-179, which no coefficient of at
 * least 2^-7 makes (see terms_keep_subnormals_exact): a list with a smaller coefficient is
 * summed the exact way throughout, as is the pixel conversion with such a scale. The
 * point-wise kernels of the pixels, the quantizer and the central variances are here too.
 * The whole build targets the set (-msimd128). */
#include "vector.h"

#if WSQ_HAS_SIMD128

#include <wasm_simd128.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace wsq_internal {

namespace {

constexpr int lanes = 4;
constexpr int side_by_side = 4;  /* groups of four outputs summed at once */

/* a * b + c on two lanes of doubles holding floats, its rounding error recovered and
 * rounded to odd, ready to narrow to float: wsqfma() lane by lane. */
inline v128_t exact_pair(v128_t a, v128_t b, v128_t c)
{
    const v128_t zero = wasm_f64x2_splat(0.0), last_bit = wasm_i64x2_splat(1);
    v128_t product = wasm_f64x2_mul(a, b);
    v128_t sum = wasm_f64x2_add(product, c);
    v128_t c_part = wasm_f64x2_sub(sum, product);
    v128_t error = wasm_f64x2_add(wasm_f64x2_sub(product, wasm_f64x2_sub(sum, c_part)),
                                  wasm_f64x2_sub(c, c_part));
    v128_t inexact = wasm_f64x2_gt(wasm_f64x2_abs(error), zero);
    v128_t toward_zero = wasm_v128_and(
        inexact, wasm_v128_xor(wasm_f64x2_lt(error, zero), wasm_f64x2_lt(sum, zero)));
    /* The masks are all ones, -1: adding one subtracts 1 from the bits. */
    return wasm_v128_or(wasm_i64x2_add(sum, toward_zero), wasm_v128_and(inexact, last_bit));
}

/* Two floats' worth of a sum's lanes as doubles: the samples at x and x + 2. */
inline v128_t low_pair(const real *x)
{
    return wasm_f64x2_promote_low_f32x4(wasm_v128_load64_zero(x));
}

/* v, through an empty statement the compiler cannot see through. It would fold some pairs
 * of vector conversions (narrowing and widening, widening integers then converting them)
 * into conversions of one lane at a time, four instructions a lane: this keeps them apart. */
inline v128_t opaque(v128_t v)
{
    __asm__("" : "+r"(v));
    return v;
}

/* A double rounded to the nearest float, as a double. */
inline v128_t nearest_float(v128_t pair)
{
    return wasm_f64x2_promote_low_f32x4(opaque(wasm_f32x4_demote_f64x2_zero(pair)));
}

/* The least magnitude of a coefficient for which a sum a * b + c (a that coefficient, b and
 * c floats, the product exact in double) lying among the subnormal floats is exact in
 * double. Such a sum, or its double rounding, is below 2^-126, so the sum itself is; were it
 * inexact, it would need more than 53 bits from its highest, at most 2^-127, and so a bit
 * below 2^-179. c has none below 2^-149; a nonzero a of at least 2^-7 none below 2^-30, and
 * b none below 2^-149, so that their product has none below 2^-179 either. An exact sum
 * rounds once, to the fused result, whatever its range. */
constexpr float least_plain_coefficient = 0x1p-7f;

bool plain_coefficient(real a)
{
    return !(std::fabs(a) < least_plain_coefficient) || a == 0.0f;
}

/* Whether every sum of the term list keeps the exactness above among the subnormal floats. */
bool terms_keep_subnormals_exact(const term_list &terms)
{
    return std::all_of(terms.coefficient, terms.coefficient + terms.count, plain_coefficient);
}

/* The doubts about four lanes' sums a * b + c rounded once to double (low and high, two
 * lanes each): such a sum rounds to the fused result unless the double lies exactly halfway
 * between two floats (the low 29 of its 52 significand bits 1000...), where its own rounding
 * may have decided the way. That shows in the low words, shifted left by 3: the least 32-bit
 * integer there is, kept as a running least, two operations a lane group. */
struct doubts {
    v128_t halfway = wasm_i32x4_splat(INT32_MAX);

    void note(v128_t low, v128_t high)
    {
        v128_t low_words = wasm_i32x4_shuffle(low, high, 0, 2, 4, 6);
        halfway = wasm_i32x4_min(halfway, wasm_i32x4_shl(low_words, 3));
    }

    bool any() const
    {
        return wasm_v128_any_true(wasm_i32x4_eq(halfway, wasm_i32x4_splat(INT32_MIN)));
    }
};

/* Term t of a term list added onto the sums of groups of four lanes, each lane's sum a double
 * holding a float, from offset on: the exact way or, noting doubts, the fast way. The first
 * term is the same both ways and needs no doubt: its product is exact, and adding zero only
 * turns -0 into +0 as the fused operation does. */
template <int groups, bool exact, bool first>
inline void add_term(v128_t *low, v128_t *high, doubts &doubtful, const term_list &terms, int t,
                     ptrdiff_t offset)
{
    v128_t coefficient = wasm_f64x2_splat(terms.coefficient[t]);
    const real *x = terms.source[t] + offset;
    for (int g = 0; g < groups; ++g) {
        v128_t low_samples = low_pair(x + g * lanes);
        v128_t high_samples = low_pair(x + g * lanes + 2);
        if (exact && !first) {
            low[g] = exact_pair(coefficient, low_samples, low[g]);
            high[g] = exact_pair(coefficient, high_samples, high[g]);
        } else {
            low[g] = wasm_f64x2_add(wasm_f64x2_mul(coefficient, low_samples), low[g]);
            high[g] = wasm_f64x2_add(wasm_f64x2_mul(coefficient, high_samples), high[g]);
            if (!first)
                doubtful.note(low[g], high[g]);
        }
        low[g] = nearest_float(low[g]);
        high[g] = nearest_float(high[g]);
    }
}

/* Outputs offset .. offset + 4 * groups - 1 of a term list as groups of four floats, summed
 * side by side so that the long chains of dependent operations of their sums overlap. The
 * fast way returns whether a sum is doubtful, and then gives nothing. */
template <int groups, bool exact>
inline bool sum_groups(v128_t *sums, const term_list &terms, ptrdiff_t offset)
{
    v128_t low[groups], high[groups];
    doubts doubtful;
    for (int g = 0; g < groups; ++g)
        low[g] = high[g] = wasm_f64x2_splat(0.0);
    if (terms.count > 0)
        add_term<groups, exact, true>(low, high, doubtful, terms, 0, offset);
    for (int t = 1; t < terms.count; ++t)
        add_term<groups, exact, false>(low, high, doubtful, terms, t, offset);
    if (!exact && doubtful.any())
        return true;
    for (int g = 0; g < groups; ++g)
        sums[g] = wasm_i32x4_shuffle(wasm_f32x4_demote_f64x2_zero(low[g]),
                                     wasm_f32x4_demote_f64x2_zero(high[g]), 0, 1, 4, 5);
    return false;
}

/* The fast way where it can decide (plain: terms_keep_subnormals_exact), else the exact way. */
template <int groups>
inline void sum_groups(v128_t *sums, const term_list &terms, ptrdiff_t offset, bool plain)
{
    if (!plain || sum_groups<groups, false>(sums, terms, offset))
        sum_groups<groups, true>(sums, terms, offset);
}

/* One output of a term list at offset, the same sum as a lane of sum_groups. */
real sum_one(const term_list &terms, ptrdiff_t offset)
{
    real sum = 0.0f;
    for (int t = 0; t < terms.count; ++t)
        sum = wsqfma(terms.coefficient[t], terms.source[t][offset], sum);
    return sum;
}

/* width consecutive outputs of a term list: sixteen at a time, then four, then one. */
void sum_terms_over(real *out, const term_list &terms, int width)
{
    int c = 0;
    v128_t sums[side_by_side];
    bool plain = terms_keep_subnormals_exact(terms);
    for (; c + side_by_side * lanes <= width; c += side_by_side * lanes) {
        sum_groups<side_by_side>(sums, terms, c, plain);
        for (int g = 0; g < side_by_side; ++g)
            wasm_v128_store(out + c + g * lanes, sums[g]);
    }
    for (; c + lanes <= width; c += lanes) {
        sum_groups<1>(sums, terms, c, plain);
        wasm_v128_store(out + c, sums[0]);
    }
    for (; c < width; ++c)
        out[c] = sum_one(terms, c);
}

/* Four even and four odd outputs, interleaved, to out[0 .. 7]. */
inline void store_pairs(real *out, v128_t even, v128_t odd)
{
    wasm_v128_store(out, wasm_i32x4_shuffle(even, odd, 0, 4, 1, 5));
    wasm_v128_store(out + lanes, wasm_i32x4_shuffle(even, odd, 2, 6, 3, 7));
}

/* count pairs of outputs of two term lists, interleaved: sixteen pairs at a time, then four,
 * then one. */
void sum_pairs(real *out, const term_list &even, const term_list &odd, int count)
{
    int k = 0;
    v128_t evens[side_by_side], odds[side_by_side];
    bool plain_even = terms_keep_subnormals_exact(even), plain_odd = terms_keep_subnormals_exact(odd);
    for (; k + side_by_side * lanes <= count; k += side_by_side * lanes) {
        sum_groups<side_by_side>(evens, even, k, plain_even);
        sum_groups<side_by_side>(odds, odd, k, plain_odd);
        for (int g = 0; g < side_by_side; ++g)
            store_pairs(out + 2 * (k + g * lanes), evens[g], odds[g]);
    }
    for (; k + lanes <= count; k += lanes) {
        sum_groups<1>(evens, even, k, plain_even);
        sum_groups<1>(odds, odd, k, plain_odd);
        store_pairs(out + 2 * k, evens[0], odds[0]);
    }
    for (; k < count; ++k) {
        out[2 * k] = sum_one(even, k);
        out[2 * k + 1] = sum_one(odd, k);
    }
}

/* Splits the 2*count samples at in into even and odd ones. */
void deinterleave(real *even, real *odd, const real *in, int count)
{
    int m = 0;
    for (; m + lanes <= count; m += lanes) {
        v128_t a = wasm_v128_load(in + 2 * m), b = wasm_v128_load(in + 2 * m + lanes);
        wasm_v128_store(even + m, wasm_i32x4_shuffle(a, b, 0, 2, 4, 6));
        wasm_v128_store(odd + m, wasm_i32x4_shuffle(a, b, 1, 3, 5, 7));
    }
    for (; m < count; ++m) {
        even[m] = in[2 * m];
        odd[m] = in[2 * m + 1];
    }
}

/* ==== Pixels ============================================================= */

/* Four lanes of a * x + c, each rounded once to float, from the double lanes of a and c:
 * the doubtful ones the exact way. */
inline v128_t fused_quad(v128_t a, const real *x, v128_t c)
{
    v128_t low = wasm_f64x2_add(wasm_f64x2_mul(a, low_pair(x)), c);
    v128_t high = wasm_f64x2_add(wasm_f64x2_mul(a, low_pair(x + 2)), c);
    doubts doubtful;
    doubtful.note(low, high);
    if (doubtful.any()) {
        low = exact_pair(a, low_pair(x), c);
        high = exact_pair(a, low_pair(x + 2), c);
    }
    return wasm_i32x4_shuffle(wasm_f32x4_demote_f64x2_zero(low),
                              wasm_f32x4_demote_f64x2_zero(high), 0, 1, 4, 5);
}

/* wsqr2b on the first samples, sixteen at a time; returns how many (none with a scale below
 * the least plain coefficient). The half is added in single precision: the sum is exact in
 * double, so rounding it once to single gives what wsqr2b's narrowing gives. pmax(0, x)
 * takes a value that is not a number to 0. */
ui32 reals_to_bytes(ui8 *out, const real *in, ui32 length, real midpoint, real rescale)
{
    if (!plain_coefficient(rescale))
        return 0;
    const v128_t m = wasm_f64x2_splat(midpoint), r = wasm_f64x2_splat(rescale);
    const v128_t half = wasm_f32x4_splat(0.5f), zero = wasm_f32x4_splat(0.0f);
    const v128_t top = wasm_f32x4_splat(255.0f);
    ui32 i = 0;
    for (; i + 4 * lanes <= length; i += 4 * lanes) {
        v128_t whole[4];
        for (int q = 0; q < 4; ++q) {
            v128_t rounded = wasm_f32x4_add(fused_quad(r, in + i + q * lanes, m), half);
            whole[q] = wasm_i32x4_trunc_sat_f32x4(
                wasm_f32x4_pmin(top, wasm_f32x4_pmax(zero, rounded)));
        }
        wasm_v128_store(out + i, wasm_u8x16_narrow_i16x8(wasm_u16x8_narrow_i32x4(whole[0], whole[1]),
                                                         wasm_u16x8_narrow_i32x4(whole[2], whole[3])));
    }
    return i;
}

/* wsqb2r on the first pixels, sixteen at a time; returns how many. */
ui32 bytes_to_reals(real *out, const ui8 *in, ui32 length, real midpoint, real reciprocal)
{
    const v128_t m = wasm_f32x4_splat(midpoint), r = wasm_f32x4_splat(reciprocal);
    ui32 i = 0;
    for (; i + 4 * lanes <= length; i += 4 * lanes) {
        v128_t bytes = wasm_v128_load(in + i);
        v128_t words[2] = {wasm_u16x8_extend_low_u8x16(bytes), wasm_u16x8_extend_high_u8x16(bytes)};
        for (int q = 0; q < 4; ++q) {
            v128_t whole = q & 1 ? wasm_u32x4_extend_high_u16x8(words[q >> 1])
                                 : wasm_u32x4_extend_low_u16x8(words[q >> 1]);
            wasm_v128_store(out + i + q * lanes,
                            wasm_f32x4_mul(wasm_f32x4_sub(wasm_f32x4_convert_i32x4(opaque(whole)), m), r));
        }
    }
    return i;
}

/* pixelmr's least and greatest of the first pixels and their sum, sixteen at a time; returns
 * how many it took. The four 32-bit sums take at most 1020 a step: they are emptied into
 * the total every million steps, long before they could overflow. */
size_t pixel_stats(const ui8 *pixels, size_t length, ui8 *least, ui8 *greatest,
                   std::uint64_t *total)
{
    constexpr size_t steps_between_totals = 1 << 20;
    v128_t low = wasm_u8x16_splat(255), high = wasm_u8x16_splat(0);
    std::uint64_t sum = 0;
    size_t i = 0;
    while (i + 16 <= length) {
        v128_t sums = wasm_i32x4_splat(0);
        for (size_t step = 0; step < steps_between_totals && i + 16 <= length; ++step, i += 16) {
            v128_t v = wasm_v128_load(pixels + i);
            low = wasm_u8x16_min(low, v);
            high = wasm_u8x16_max(high, v);
            sums = wasm_i32x4_add(
                sums, wasm_u32x4_extadd_pairwise_u16x8(wasm_u16x8_extadd_pairwise_u8x16(v)));
        }
        alignas(16) std::uint32_t parts[4];
        wasm_v128_store(parts, sums);
        sum += (std::uint64_t)parts[0] + parts[1] + parts[2] + parts[3];
    }
    alignas(16) ui8 lows[16], highs[16];
    wasm_v128_store(lows, low);
    wasm_v128_store(highs, high);
    *least = *std::min_element(lows, lows + 16);
    *greatest = *std::max_element(highs, highs + 16);
    *total = sum;
    return i;
}

/* ==== Quantization ======================================================= */

/* wsqqnt on the first coefficients, four at a time; returns how many, and lowers *lowest
 * and raises *highest to the indices' extremes. */
ui32 quantize(int32 *out, const real *in, ui32 length, real r, real h, int32 *lowest,
              int32 *highest)
{
    const v128_t vr = wasm_f32x4_splat(r), vh = wasm_f32x4_splat(h), vnh = wasm_f32x4_splat(-h);
    const v128_t big = wasm_f32x4_splat(largest_index), small = wasm_f32x4_splat(-largest_index);
    const v128_t one = wasm_i32x4_splat(1), most = wasm_i32x4_splat(INT32_MAX);
    const v128_t least = wasm_i32x4_splat(INT32_MIN + 1);
    v128_t low = wasm_i32x4_splat(*lowest), high = wasm_i32x4_splat(*highest);
    ui32 i = 0;
    for (; i + lanes <= length; i += lanes) {
        v128_t c = wasm_v128_load(in + i);
        v128_t up = wasm_f32x4_trunc(wasm_f32x4_mul(wasm_f32x4_sub(c, vh), vr));
        v128_t down = wasm_f32x4_trunc(wasm_f32x4_mul(wasm_f32x4_add(c, vh), vr));
        v128_t above = wasm_v128_bitselect(
            most, wasm_i32x4_add(wasm_i32x4_trunc_sat_f32x4(up), one), wasm_f32x4_ge(up, big));
        v128_t below = wasm_v128_bitselect(
            least, wasm_i32x4_sub(wasm_i32x4_trunc_sat_f32x4(down), one), wasm_f32x4_le(down, small));
        v128_t q = wasm_v128_and(above, wasm_f32x4_gt(c, vh));
        q = wasm_v128_bitselect(below, q, wasm_f32x4_lt(c, vnh));
        wasm_v128_store(out + i, q);
        low = wasm_i32x4_min(low, q);
        high = wasm_i32x4_max(high, q);
    }
    alignas(16) int32 lows[lanes], highs[lanes];
    wasm_v128_store(lows, low);
    wasm_v128_store(highs, high);
    *lowest = *std::min_element(lows, lows + lanes);
    *highest = *std::max_element(highs, highs + lanes);
    return i;
}

/* ==== Central variances ================================================== */

/* The four subbands' sums side by side, two lanes of doubles each for the first two and the
 * last two: the lanes never meet, so that each sum is the one the portable code takes. The
 * square of a float is exact in double, so adding it is the fused multiply-add. */
void region_sums(double *sum, double *sumsq, const real *const *lane, int i0, int i1, int j0,
                 int j1, int width)
{
    v128_t s[2] = {wasm_f64x2_splat(0.0), wasm_f64x2_splat(0.0)}, q[2] = {s[0], s[1]};
    for (int i = i0; i < i1; ++i) {
        for (int j = j0; j < j1; ++j) {
            ptrdiff_t at = (ptrdiff_t)i * width + j;
            for (int h = 0; h < 2; ++h) {
                v128_t coef = wasm_f64x2_make(lane[2 * h][at], lane[2 * h + 1][at]);
                q[h] = wasm_f64x2_add(wasm_f64x2_mul(coef, coef), q[h]);
                s[h] = wasm_f64x2_add(s[h], coef);
            }
        }
    }
    for (int h = 0; h < 2; ++h) {
        wasm_v128_store(sum + 2 * h, s[h]);
        wasm_v128_store(sumsq + 2 * h, q[h]);
    }
}

}  // namespace

void add_simd128(vector_kernels &k)
{
    k.sum_terms = sum_terms_over;
    k.sum_pairs = sum_pairs;
    /* A term costs some fifteen instructions per four outputs here (each
     * fused sum done in double and rounded once): finding a stretch of zeros
     * saves far more than the look at it costs. */
    k.zero_stretch = 64;
    k.deinterleave = deinterleave;
    k.bytes_to_reals = bytes_to_reals;
    k.reals_to_bytes = reals_to_bytes;
    k.pixel_stats = pixel_stats;
    k.quantize = quantize;
    k.region_sums = region_sums;
}

}  // namespace wsq_internal

#endif
