/* vector_avx512.cpp - the AVX-512 kernels: sixteen single-precision lanes,
 * over the AVX2 ones, for the filter sums and the row shuffles of the
 * transforms, where the width pays. Compiled for AVX-512F alone, by target
 * attribute, and only reached where the processor has it with AVX2 and FMA. */
#include "vector.h"

#if WSQ_HAS_AVX512

#include <immintrin.h>

#include <algorithm>

#define WSQ_AVX512 __attribute__((target("avx512f,avx2,fma")))

namespace wsq_internal {

namespace {

constexpr int wide_lanes = 16;

/* N times sixteen consecutive outputs of a term list from offset on, as N
 * independent sums (each still added term by term) so that the additions
 * overlap. */
template <int N>
WSQ_AVX512 inline void sum_terms_n(__m512 *sums, const term_list &terms, int offset)
{
    for (int j = 0; j < N; ++j)
        sums[j] = _mm512_setzero_ps();
    for (int t = 0; t < terms.count; ++t) {
        __m512 k = _mm512_set1_ps(terms.coefficient[t]);
        const real *x = terms.source[t] + offset;
        for (int j = 0; j < N; ++j)
            sums[j] = _mm512_fmadd_ps(k, _mm512_loadu_ps(x + j * wide_lanes), sums[j]);
    }
}

/* Sixteen consecutive outputs of a term list from offset on, the lanes not
 * live left out (they read nothing). */
WSQ_AVX512 inline __m512 sum_terms1(const term_list &terms, int offset, __mmask16 live)
{
    __m512 sum = _mm512_setzero_ps();
    for (int t = 0; t < terms.count; ++t)
        sum = _mm512_fmadd_ps(_mm512_set1_ps(terms.coefficient[t]),
                              _mm512_maskz_loadu_ps(live, terms.source[t] + offset), sum);
    return sum;
}

WSQ_AVX512 inline __mmask16 first_lanes(int n)
{
    return n >= wide_lanes ? (__mmask16)0xFFFF : (__mmask16)((1u << n) - 1);
}

/* width consecutive outputs of a term list: eight sums of sixteen outputs
 * at a time, then sixteen at a time, the last ones under a mask (the lanes
 * left out are not written). */
WSQ_AVX512 void sum_terms_over_wide(real *out, const term_list &terms, int width)
{
    int c = 0;
    for (; c + 8 * wide_lanes <= width; c += 8 * wide_lanes) {
        __m512 sums[8];
        sum_terms_n<8>(sums, terms, c);
        for (int j = 0; j < 8; ++j)
            _mm512_storeu_ps(out + c + j * wide_lanes, sums[j]);
    }
    for (; c < width; c += wide_lanes) {
        __mmask16 live = first_lanes(width - c);
        _mm512_mask_storeu_ps(out + c, live, sum_terms1(terms, c, live));
    }
}

/* count pairs of outputs of two term lists, interleaved: four times sixteen
 * pairs at a time (eight sums in flight), then sixteen, the last ones under
 * a mask. */
WSQ_AVX512 void sum_pairs_wide(real *out, const term_list &even, const term_list &odd, int count)
{
    /* Lanes 0-7, then 8-15, of the even and the odd sums, alternately. */
    const __m512i front = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i back = _mm512_add_epi32(front, _mm512_set1_epi32(8));
    int k = 0;
    for (; k + 4 * wide_lanes <= count; k += 4 * wide_lanes) {
        __m512 e[4], o[4];
        sum_terms_n<4>(e, even, k);
        sum_terms_n<4>(o, odd, k);
        for (int j = 0; j < 4; ++j) {
            real *at = out + 2 * (k + j * wide_lanes);
            _mm512_storeu_ps(at, _mm512_permutex2var_ps(e[j], front, o[j]));
            _mm512_storeu_ps(at + wide_lanes, _mm512_permutex2var_ps(e[j], back, o[j]));
        }
    }
    for (; k < count; k += wide_lanes) {
        int outputs = 2 * std::min(wide_lanes, count - k);
        __mmask16 live = first_lanes(count - k);
        __m512 e = sum_terms1(even, k, live), o = sum_terms1(odd, k, live);
        _mm512_mask_storeu_ps(out + 2 * k, first_lanes(outputs),
                              _mm512_permutex2var_ps(e, front, o));
        if (outputs > wide_lanes)
            _mm512_mask_storeu_ps(out + 2 * k + wide_lanes, first_lanes(outputs - wide_lanes),
                                  _mm512_permutex2var_ps(e, back, o));
    }
}

/* Splits the 2 * count samples at in into even and odd ones, sixteen pairs
 * at a time, then one. */
WSQ_AVX512 void deinterleave_wide(real *even, real *odd, const real *in, int count)
{
    const __m512i evens =
        _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odds = _mm512_add_epi32(evens, _mm512_set1_epi32(1));
    int m = 0;
    for (; m + wide_lanes <= count; m += wide_lanes) {
        __m512 a = _mm512_loadu_ps(in + 2 * m), b = _mm512_loadu_ps(in + 2 * m + wide_lanes);
        _mm512_storeu_ps(even + m, _mm512_permutex2var_ps(a, evens, b));
        _mm512_storeu_ps(odd + m, _mm512_permutex2var_ps(a, odds, b));
    }
    for (; m < count; ++m) {
        even[m] = in[2 * m];
        odd[m] = in[2 * m + 1];
    }
}

/* wsqr2b on the first samples, sixteen at a time, as reals_to_bytes of the
 * AVX2 kernels does it; returns how many. (The forms under a full mask
 * spare GCC's unmasked ones a false warning of an uninitialised value.) */
WSQ_AVX512 ui32 reals_to_bytes_wide(ui8 *out, const real *in, ui32 length, real midpoint,
                                    real rescale)
{
    const __mmask16 all = 0xFFFF;
    __m512 m = _mm512_set1_ps(midpoint), r = _mm512_set1_ps(rescale);
    __m512 half = _mm512_set1_ps(0.5f), zero = _mm512_setzero_ps(), top = _mm512_set1_ps(255.0f);
    ui32 i = 0;
    for (; i + wide_lanes <= length; i += wide_lanes) {
        __m512 rounded = _mm512_add_ps(_mm512_fmadd_ps(r, _mm512_loadu_ps(in + i), m), half);
        __m512 clamped = _mm512_maskz_min_ps(all, _mm512_maskz_max_ps(all, rounded, zero), top);
        _mm512_mask_cvtepi32_storeu_epi8(out + i, all, _mm512_maskz_cvttps_epi32(all, clamped));
    }
    return i;
}

}  // namespace

void add_avx512(vector_kernels &k)
{
    if (!(__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") &&
          __builtin_cpu_supports("fma")))
        return;
    k.sum_terms = sum_terms_over_wide;
    k.deinterleave = deinterleave_wide;
    k.sum_pairs = sum_pairs_wide;
    k.reals_to_bytes = reals_to_bytes_wide;
}

}  // namespace wsq_internal

#endif
