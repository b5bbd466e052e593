/* vector_avx2.cpp - the AVX2 kernels: eight single-precision lanes, with
 * fused multiply-adds (FMA). Each is compiled for AVX2 and FMA alone (a
 * target attribute, not a flag of the whole file, so that no function shared
 * with the portable code is ever compiled with these instructions), and only
 * reached where the processor has both. */
#include "vector.h"

#if WSQ_HAS_AVX2

#include <immintrin.h>

#include <algorithm>
#include <cmath>

#define WSQ_AVX2 __attribute__((target("avx2,fma")))

namespace wsq_internal {

namespace {

constexpr int lanes = 8;

/* ==== Filter sums and row shuffles of the transforms ====================== */

/* Eight consecutive outputs from offset on, added onto sum term by term. */
WSQ_AVX2 inline __m256 sum_terms(__m256 sum, const term_list &terms, ptrdiff_t offset)
{
    for (int t = 0; t < terms.count; ++t)
        sum = _mm256_fmadd_ps(_mm256_set1_ps(terms.coefficient[t]),
                              _mm256_loadu_ps(terms.source[t] + offset), sum);
    return sum;
}

/* N times eight consecutive outputs from offset on, as N independent sums
 * (each still added term by term) so that the additions overlap. */
template <int N>
WSQ_AVX2 inline void sum_terms_n(__m256 *sums, const term_list &terms, ptrdiff_t offset)
{
    for (int k = 0; k < N; ++k)
        sums[k] = _mm256_setzero_ps();
    for (int t = 0; t < terms.count; ++t) {
        __m256 c = _mm256_set1_ps(terms.coefficient[t]);
        const real *x = terms.source[t] + offset;
        for (int k = 0; k < N; ++k)
            sums[k] = _mm256_fmadd_ps(c, _mm256_loadu_ps(x + k * lanes), sums[k]);
    }
}

/* Sixty-four consecutive outputs from offset on. */
WSQ_AVX2 inline void sum_terms8(real *out, const term_list &terms, ptrdiff_t offset)
{
    __m256 sums[8];
    sum_terms_n<8>(sums, terms, offset);
    for (int k = 0; k < 8; ++k)
        _mm256_storeu_ps(out + k * lanes, sums[k]);
}

/* One scalar output at offset, the same sum as a lane of sum_terms. */
real sum_terms_scalar(const term_list &terms, ptrdiff_t offset)
{
    real sum = 0.0f;
    for (int t = 0; t < terms.count; ++t)
        sum = fused_multiply_add(terms.coefficient[t], terms.source[t][offset], sum);
    return sum;
}

/* width consecutive outputs of a term list: 64 at a time, then 8, then one. */
WSQ_AVX2 void sum_terms_over(real *out, const term_list &terms, int width)
{
    int c = 0;
    for (; c + 8 * lanes <= width; c += 8 * lanes)
        sum_terms8(out + c, terms, c);
    for (; c + lanes <= width; c += lanes)
        _mm256_storeu_ps(out + c, sum_terms(_mm256_setzero_ps(), terms, c));
    for (; c < width; ++c)
        out[c] = sum_terms_scalar(terms, c);
}

/* Eight even and eight odd outputs, interleaved, to out[0 .. 15]. */
WSQ_AVX2 inline void store_pairs(real *out, __m256 even, __m256 odd)
{
    __m256 a = _mm256_unpacklo_ps(even, odd), b = _mm256_unpackhi_ps(even, odd);
    _mm256_storeu_ps(out, _mm256_permute2f128_ps(a, b, 0x20));
    _mm256_storeu_ps(out + lanes, _mm256_permute2f128_ps(a, b, 0x31));
}

/* count pairs of outputs of two term lists, interleaved: four times eight
 * pairs at a time (eight sums in flight), then eight, then one. */
WSQ_AVX2 void sum_pairs(real *out, const term_list &even, const term_list &odd, int count)
{
    int k = 0;
    for (; k + 4 * lanes <= count; k += 4 * lanes) {
        __m256 e[4], o[4];
        sum_terms_n<4>(e, even, k);
        sum_terms_n<4>(o, odd, k);
        for (int j = 0; j < 4; ++j)
            store_pairs(out + 2 * (k + j * lanes), e[j], o[j]);
    }
    for (; k + lanes <= count; k += lanes)
        store_pairs(out + 2 * k, sum_terms(_mm256_setzero_ps(), even, k),
                    sum_terms(_mm256_setzero_ps(), odd, k));
    for (; k < count; ++k) {
        out[2 * k] = sum_terms_scalar(even, k);
        out[2 * k + 1] = sum_terms_scalar(odd, k);
    }
}

/* Splits the 2*count samples at in into even and odd ones. */
WSQ_AVX2 void deinterleave(real *even, real *odd, const real *in, int count)
{
    int m = 0;
    for (; m + lanes <= count; m += lanes) {
        __m256 a = _mm256_loadu_ps(in + 2 * m), b = _mm256_loadu_ps(in + 2 * m + lanes);
        __m256 e = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
        __m256 o = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        _mm256_storeu_ps(even + m, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(e),
                                                                          _MM_SHUFFLE(3, 1, 2, 0))));
        _mm256_storeu_ps(odd + m, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(o),
                                                                         _MM_SHUFFLE(3, 1, 2, 0))));
    }
    for (; m < count; ++m) {
        even[m] = in[2 * m];
        odd[m] = in[2 * m + 1];
    }
}

/* ==== Pixels ============================================================= */

/* wsqb2r on the first pixels, eight at a time; returns how many. */
WSQ_AVX2 ui32 bytes_to_reals(real *out, const ui8 *in, ui32 length, real midpoint,
                             real reciprocal)
{
    __m256 m = _mm256_set1_ps(midpoint), r = _mm256_set1_ps(reciprocal);
    ui32 i = 0;
    for (; i + lanes <= length; i += lanes) {
        __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(in + i));
        __m256 x = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
        _mm256_storeu_ps(out + i, _mm256_mul_ps(_mm256_sub_ps(x, m), r));
    }
    return i;
}

/* wsqr2b on the first samples, eight at a time; returns how many. The half
 * is added in single precision: the sum is exact in double, so rounding it
 * once to single gives what wsqr2b's narrowing gives. The clamp takes a
 * value that is not a number to 0: max returns its second operand then. */
WSQ_AVX2 ui32 reals_to_bytes(ui8 *out, const real *in, ui32 length, real midpoint, real rescale)
{
    __m256 m = _mm256_set1_ps(midpoint), r = _mm256_set1_ps(rescale);
    __m256 half = _mm256_set1_ps(0.5f), zero = _mm256_setzero_ps(), top = _mm256_set1_ps(255.0f);
    ui32 i = 0;
    for (; i + lanes <= length; i += lanes) {
        __m256 rounded = _mm256_add_ps(_mm256_fmadd_ps(r, _mm256_loadu_ps(in + i), m), half);
        __m256i whole = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(rounded, zero), top));
        __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(whole),
                                         _mm256_extracti128_si256(whole, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(words, words));
    }
    return i;
}
/* pixelmr's least and greatest of the first pixels and their sum, 32 at a
 * time; returns how many it took. */
WSQ_AVX2 size_t pixel_stats_lanes(const ui8 *pixels, size_t length, ui8 *least, ui8 *greatest,
                                  std::uint64_t *total)
{
    __m256i low = _mm256_set1_epi8((char)-1), high = _mm256_setzero_si256();
    __m256i sums = _mm256_setzero_si256();  /* four 64-bit sums */
    size_t i = 0;
    for (; i + 32 <= length; i += 32) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pixels + i));
        low = _mm256_min_epu8(low, v);
        high = _mm256_max_epu8(high, v);
        sums = _mm256_add_epi64(sums, _mm256_sad_epu8(v, _mm256_setzero_si256()));
    }
    alignas(32) ui8 lows[32], highs[32];
    alignas(32) std::uint64_t parts[4];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lows), low);
    _mm256_store_si256(reinterpret_cast<__m256i *>(highs), high);
    _mm256_store_si256(reinterpret_cast<__m256i *>(parts), sums);
    *least = *std::min_element(lows, lows + 32);
    *greatest = *std::max_element(highs, highs + 32);
    *total = parts[0] + parts[1] + parts[2] + parts[3];
    return i;
}


/* ==== Quantization and symbols =========================================== */

/* wsqqnt on the first coefficients, eight at a time; returns how many, and
 * lowers *lowest and raises *highest to the indices' extremes. */
WSQ_AVX2 ui32 quantize_lanes(int32 *out, const real *in, ui32 length, real r, real h,
                             int32 *lowest, int32 *highest)
{
    const int toward_zero = _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;
    __m256 vr = _mm256_set1_ps(r), vh = _mm256_set1_ps(h), vnh = _mm256_set1_ps(-h);
    __m256 big = _mm256_set1_ps(largest_index), small = _mm256_set1_ps(-largest_index);
    __m256i one = _mm256_set1_epi32(1);
    __m256i low = _mm256_set1_epi32(*lowest), high = _mm256_set1_epi32(*highest);
    ui32 i = 0;
    for (; i + lanes <= length; i += lanes) {
        __m256 c = _mm256_loadu_ps(in + i);
        __m256 up = _mm256_round_ps(_mm256_mul_ps(_mm256_sub_ps(c, vh), vr), toward_zero);
        __m256 down = _mm256_round_ps(_mm256_mul_ps(_mm256_add_ps(c, vh), vr), toward_zero);
        __m256i above = _mm256_add_epi32(_mm256_cvttps_epi32(up), one);
        above = _mm256_blendv_epi8(above, _mm256_set1_epi32(INT32_MAX),
                                   _mm256_castps_si256(_mm256_cmp_ps(up, big, _CMP_GE_OQ)));
        __m256i below = _mm256_sub_epi32(_mm256_cvttps_epi32(down), one);
        below = _mm256_blendv_epi8(below, _mm256_set1_epi32(INT32_MIN + 1),
                                   _mm256_castps_si256(_mm256_cmp_ps(down, small, _CMP_LE_OQ)));
        __m256i q = _mm256_and_si256(above, _mm256_castps_si256(_mm256_cmp_ps(c, vh, _CMP_GT_OQ)));
        q = _mm256_blendv_epi8(q, below, _mm256_castps_si256(_mm256_cmp_ps(c, vnh, _CMP_LT_OQ)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), q);
        low = _mm256_min_epi32(low, q);
        high = _mm256_max_epi32(high, q);
    }
    alignas(32) int32 lows[lanes], highs[lanes];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lows), low);
    _mm256_store_si256(reinterpret_cast<__m256i *>(highs), high);
    *lowest = *std::min_element(lows, lows + lanes);
    *highest = *std::max_element(highs, highs + lanes);
    return i;
}

/* wsqunq on the first indices, eight at a time; returns how many. */
WSQ_AVX2 ui32 dequantize_lanes(real *out, const int32 *in, ui32 length, real center, real qbin,
                               real h)
{
    __m256 c = _mm256_set1_ps(center), q = _mm256_set1_ps(qbin);
    __m256 vh = _mm256_set1_ps(h), vnh = _mm256_set1_ps(-h), zero = _mm256_setzero_ps();
    ui32 i = 0;
    for (; i + lanes <= length; i += lanes) {
        __m256 val = _mm256_cvtepi32_ps(
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i)));
        __m256 above = _mm256_fmadd_ps(_mm256_sub_ps(val, c), q, vh);
        __m256 below = _mm256_fmadd_ps(_mm256_add_ps(val, c), q, vnh);
        __m256 x = _mm256_and_ps(above, _mm256_cmp_ps(val, zero, _CMP_GT_OQ));
        x = _mm256_blendv_ps(x, below, _mm256_cmp_ps(val, zero, _CMP_LT_OQ));
        _mm256_storeu_ps(out + i, x);
    }
    return i;
}
/* A bit for each of the eight values at `at` that is zero. */
WSQ_AVX2 inline ui32 zero_lanes(const int32 *at)
{
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
    return (ui32)_mm256_movemask_ps(
        _mm256_castsi256_ps(_mm256_cmpeq_epi32(v, _mm256_setzero_si256())));
}

/* wsqwsym's walk over the first values, 32 at a time: the nonzero values of
 * a group come from a mask of its lanes, and the zeros before each are
 * counted at once. *zrl carries the zeros not yet written, in and out, and
 * *done the values walked. Returns the end of the symbols. */
WSQ_AVX2 ui8 *symbols_lanes(ui8 *output, const int32 *input, ui32 length, ui32 *zrl,
                            ui32 *done)
{
    ui32 run = *zrl, i = 0;
    for (; i + 4 * lanes <= length; i += 4 * lanes) {
        ui32 nonzero = ~(zero_lanes(input + i) | zero_lanes(input + i + lanes) << 8 |
                         zero_lanes(input + i + 2 * lanes) << 16 |
                         zero_lanes(input + i + 3 * lanes) << 24);
        ui32 next = 0;  /* the first lane not yet walked */
        for (; nonzero; nonzero &= nonzero - 1) {
            ui32 lane = (ui32)__builtin_ctz(nonzero);
            ui32 zeros = run + lane - next;
            if (zeros <= 100) {  /* none, or a run in one byte: the symbol after it overwrites
                                    the byte when there is none, so no branch asks which */
                *output = (ui8)zeros;
                output += zeros != 0;
            } else {
                output = writezrl(output, zeros);
            }
            int32 value = input[i + lane];
            if (one_byte_symbol(value))
                *output++ = symbol_byte(value);
            else
                output = writesym(output, value);
            run = 0;
            next = lane + 1;
        }
        run += 4 * lanes - next;
    }
    *zrl = run;
    *done = i;
    return output;
}

/* ==== Central variances ================================================== */

/* The four subbands' sums side by side, a lane each: the lanes never meet,
 * so that each sum is the one the portable code takes. */
WSQ_AVX2 void region_sums(double *sum, double *sumsq, const real *const *lane, int i0, int i1,
                          int j0, int j1, int width)
{
    __m256d s = _mm256_setzero_pd(), q = s;
    for (int i = i0; i < i1; ++i) {
        for (int j = j0; j < j1; ++j) {
            ptrdiff_t at = (ptrdiff_t)i * width + j;
            __m256d coef =
                _mm256_cvtps_pd(_mm_setr_ps(lane[0][at], lane[1][at], lane[2][at], lane[3][at]));
            q = _mm256_fmadd_pd(coef, coef, q);
            s = _mm256_add_pd(s, coef);
        }
    }
    _mm256_storeu_pd(sum, s);
    _mm256_storeu_pd(sumsq, q);
}

}  // namespace

void add_avx2(vector_kernels &k)
{
    if (!(__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")))
        return;
    k.sum_terms = sum_terms_over;
    k.deinterleave = deinterleave;
    k.sum_pairs = sum_pairs;
    k.bytes_to_reals = bytes_to_reals;
    k.reals_to_bytes = reals_to_bytes;
    k.pixel_stats = pixel_stats_lanes;
    k.quantize = quantize_lanes;
    k.dequantize = dequantize_lanes;
    k.symbols = symbols_lanes;
    k.region_sums = region_sums;
}

}  // namespace wsq_internal

#endif
