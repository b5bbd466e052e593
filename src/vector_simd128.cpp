/* vector_simd128.cpp - the SIMD128 kernels of the WebAssembly build: four single-precision
 * lanes. WebAssembly has no fused multiply-add, so each term of a filter sum is computed in
 * double precision and rounded once, as wsqfma() rounds it: the product of two floats is
 * exact in a double, and the sum rounded to double and then to float is the fused result
 * unless the double lies exactly halfway between two floats or among the subnormal floats;
 * sums that met such a double are summed again the exact way (the addition's error taken
 * into account, rounded to odd). The whole build targets the set (-msimd128). */
#include "vector.h"

#if WSQ_HAS_SIMD128

#include <wasm_simd128.h>

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

/* A double rounded to the nearest float, as a double. The compiler would fold the narrowing
 * and the widening into a conversion of one lane at a time (four instructions a lane): an
 * empty statement between them that it cannot see through keeps the two vector ones. */
inline v128_t nearest_float(v128_t pair)
{
    v128_t narrowed = wasm_f32x4_demote_f64x2_zero(pair);
    __asm__("" : "+r"(narrowed));
    return wasm_f64x2_promote_low_f32x4(narrowed);
}

/* The doubts about four lanes' sums a * b + c rounded once to double (low and high, two
 * lanes each). Such a sum rounds to the fused result unless the double lies exactly halfway
 * between two floats (the low 29 of its 52 significand bits 1000...), where its own rounding
 * may have decided the way, or among the subnormal floats, whose halfway points lie
 * elsewhere. The first shows in the low words, shifted left by 3: the least 32-bit integer
 * there is; the second in the high words without their sign, less one: below the exponent
 * of the least normal float (a nonzero sum of products of floats is never a subnormal
 * double, and zero becomes the largest unsigned value). Each is kept as a running least,
 * two operations a lane group instead of a comparison and a merge. */
struct doubts {
    v128_t halfway = wasm_i32x4_splat(INT32_MAX);
    v128_t magnitude = wasm_i32x4_splat(-1);

    void note(v128_t low, v128_t high)
    {
        v128_t low_words = wasm_i32x4_shuffle(low, high, 0, 2, 4, 6);
        v128_t high_words = wasm_i32x4_shuffle(low, high, 1, 3, 5, 7);
        halfway = wasm_i32x4_min(halfway, wasm_i32x4_shl(low_words, 3));
        magnitude = wasm_u32x4_min(
            magnitude, wasm_i32x4_sub(wasm_i32x4_shl(high_words, 1), wasm_i32x4_splat(1)));
    }

    bool any() const
    {
        const std::int32_t least_normal = (1023 - 126) << 21;  /* high word << 1 of 2^-126 */
        return wasm_v128_any_true(
            wasm_v128_or(wasm_i32x4_eq(halfway, wasm_i32x4_splat(INT32_MIN)),
                         wasm_u32x4_lt(magnitude, wasm_i32x4_splat(least_normal - 1))));
    }
};

/* Outputs offset .. offset + 4 * groups - 1 of a term list into out, groups of four summed
 * side by side so that the long chains of dependent operations of their sums overlap, each
 * lane keeping its sum as a double holding a float. The fast way returns whether a sum is
 * doubtful, and then stores nothing. The first term needs no doubt: its product is exact,
 * and adding zero only turns -0 into +0 as the fused operation does. */
template <int groups, bool exact>
inline bool sum_groups(real *out, const term_list &terms, ptrdiff_t offset)
{
    v128_t low[groups], high[groups];
    doubts doubtful;
    const v128_t zero = wasm_f64x2_splat(0.0);
    for (int g = 0; g < groups; ++g)
        low[g] = high[g] = zero;
    for (int t = 0; t < terms.count; ++t) {
        v128_t coefficient = wasm_f64x2_splat(terms.coefficient[t]);
        const real *x = terms.source[t] + offset;
        for (int g = 0; g < groups; ++g) {
            v128_t low_samples = low_pair(x + g * lanes);
            v128_t high_samples = low_pair(x + g * lanes + 2);
            if (exact) {
                low[g] = exact_pair(coefficient, low_samples, low[g]);
                high[g] = exact_pair(coefficient, high_samples, high[g]);
            } else {
                low[g] = wasm_f64x2_add(wasm_f64x2_mul(coefficient, low_samples), low[g]);
                high[g] = wasm_f64x2_add(wasm_f64x2_mul(coefficient, high_samples), high[g]);
                if (t > 0)
                    doubtful.note(low[g], high[g]);
            }
            low[g] = nearest_float(low[g]);
            high[g] = nearest_float(high[g]);
        }
    }
    if (!exact && doubtful.any())
        return true;
    for (int g = 0; g < groups; ++g)
        wasm_v128_store(out + g * lanes,
                        wasm_i32x4_shuffle(wasm_f32x4_demote_f64x2_zero(low[g]),
                                           wasm_f32x4_demote_f64x2_zero(high[g]), 0, 1, 4, 5));
    return false;
}

template <int groups>
inline void sum_groups(real *out, const term_list &terms, ptrdiff_t offset)
{
    if (sum_groups<groups, false>(out, terms, offset))
        sum_groups<groups, true>(out, terms, offset);
}

/* width consecutive outputs of a term list: sixteen at a time, then four, then one. */
void sum_terms_over(real *out, const term_list &terms, int width)
{
    int c = 0;
    for (; c + side_by_side * lanes <= width; c += side_by_side * lanes)
        sum_groups<side_by_side>(out + c, terms, c);
    for (; c + lanes <= width; c += lanes)
        sum_groups<1>(out + c, terms, c);
    for (; c < width; ++c) {
        real sum = 0.0f;
        for (int t = 0; t < terms.count; ++t)
            sum = wsqfma(terms.coefficient[t], terms.source[t][c], sum);
        out[c] = sum;
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

/* Writes even[0..count) and odd[0..count) interleaved to out. */
void interleave(real *out, const real *even, const real *odd, int count)
{
    int m = 0;
    for (; m + lanes <= count; m += lanes) {
        v128_t e = wasm_v128_load(even + m), o = wasm_v128_load(odd + m);
        wasm_v128_store(out + 2 * m, wasm_i32x4_shuffle(e, o, 0, 4, 1, 5));
        wasm_v128_store(out + 2 * m + lanes, wasm_i32x4_shuffle(e, o, 2, 6, 3, 7));
    }
    for (; m < count; ++m) {
        out[2 * m] = even[m];
        out[2 * m + 1] = odd[m];
    }
}

}  // namespace

void add_simd128(vector_kernels &k)
{
    k.sum_terms = sum_terms_over;
    k.deinterleave = deinterleave;
    k.interleave = interleave;
}

}  // namespace wsq_internal

#endif
