/* vector_neon.cpp - the NEON kernels of 64-bit ARM: four single-precision
 * lanes, with fused multiply-adds. Every 64-bit ARM processor has them, so
 * they need no target attribute and no test of the processor; its
 * arithmetic is IEEE arithmetic (subnormals kept, each fused multiply-add
 * rounded once), so that every lane computes what the portable code does.
 * The 32-bit ARM build has no such path: its NEON flushes subnormals to
 * zero. */
#include "vector.h"

#if WSQ_HAS_NEON

#include <arm_neon.h>

#include <cmath>

namespace wsq_internal {

namespace {

constexpr int lanes = 4;

/* ==== Filter sums and row shuffles of the transforms ====================== */

/* N times four consecutive outputs from offset on, as N independent sums
 * (each added term by term, one fused multiply-add a term) so that the
 * additions overlap. */
template <int N>
inline void sum_terms_n(float32x4_t *sums, const term_list &terms, ptrdiff_t offset)
{
    for (int k = 0; k < N; ++k)
        sums[k] = vdupq_n_f32(0.0f);
    for (int t = 0; t < terms.count; ++t) {
        float32x4_t c = vdupq_n_f32(terms.coefficient[t]);
        const real *x = terms.source[t] + offset;
        for (int k = 0; k < N; ++k)
            sums[k] = vfmaq_f32(sums[k], c, vld1q_f32(x + k * lanes));
    }
}

/* One scalar output at offset, the same sum as a lane of sum_terms_n. */
real sum_terms_scalar(const term_list &terms, ptrdiff_t offset)
{
    real sum = 0.0f;
    for (int t = 0; t < terms.count; ++t)
        sum = fused_multiply_add(terms.coefficient[t], terms.source[t][offset], sum);
    return sum;
}

/* width consecutive outputs of a term list: 32 at a time, then 4, then one. */
void sum_terms_over(real *out, const term_list &terms, int width)
{
    int c = 0;
    for (; c + 8 * lanes <= width; c += 8 * lanes) {
        float32x4_t sums[8];
        sum_terms_n<8>(sums, terms, c);
        for (int k = 0; k < 8; ++k)
            vst1q_f32(out + c + k * lanes, sums[k]);
    }
    for (; c + lanes <= width; c += lanes) {
        float32x4_t sum;
        sum_terms_n<1>(&sum, terms, c);
        vst1q_f32(out + c, sum);
    }
    for (; c < width; ++c)
        out[c] = sum_terms_scalar(terms, c);
}

/* count pairs of outputs of two term lists, interleaved by the store: four
 * times four pairs at a time (eight sums in flight), then four, then one. */
void sum_pairs(real *out, const term_list &even, const term_list &odd, int count)
{
    int k = 0;
    for (; k + 4 * lanes <= count; k += 4 * lanes) {
        float32x4_t e[4], o[4];
        sum_terms_n<4>(e, even, k);
        sum_terms_n<4>(o, odd, k);
        for (int j = 0; j < 4; ++j)
            vst2q_f32(out + 2 * (k + j * lanes), float32x4x2_t{{e[j], o[j]}});
    }
    for (; k + lanes <= count; k += lanes) {
        float32x4x2_t pair;
        sum_terms_n<1>(&pair.val[0], even, k);
        sum_terms_n<1>(&pair.val[1], odd, k);
        vst2q_f32(out + 2 * k, pair);
    }
    for (; k < count; ++k) {
        out[2 * k] = sum_terms_scalar(even, k);
        out[2 * k + 1] = sum_terms_scalar(odd, k);
    }
}

/* Splits the 2*count samples at in into even and odd ones. */
void deinterleave(real *even, real *odd, const real *in, int count)
{
    int m = 0;
    for (; m + lanes <= count; m += lanes) {
        float32x4x2_t pair = vld2q_f32(in + 2 * m);
        vst1q_f32(even + m, pair.val[0]);
        vst1q_f32(odd + m, pair.val[1]);
    }
    for (; m < count; ++m) {
        even[m] = in[2 * m];
        odd[m] = in[2 * m + 1];
    }
}

/* The reverse of deinterleave. */
void interleave(real *out, const real *even, const real *odd, int count)
{
    int m = 0;
    for (; m + lanes <= count; m += lanes)
        vst2q_f32(out + 2 * m, float32x4x2_t{{vld1q_f32(even + m), vld1q_f32(odd + m)}});
    for (; m < count; ++m) {
        out[2 * m] = even[m];
        out[2 * m + 1] = odd[m];
    }
}

/* ==== Pixels ============================================================= */

/* wsqb2r on the first pixels, sixteen at a time; returns how many. */
ui32 bytes_to_reals(real *out, const ui8 *in, ui32 length, real midpoint, real reciprocal)
{
    float32x4_t m = vdupq_n_f32(midpoint), r = vdupq_n_f32(reciprocal);
    ui32 i = 0;
    for (; i + 16 <= length; i += 16) {
        uint8x16_t bytes = vld1q_u8(in + i);
        uint16x8_t low = vmovl_u8(vget_low_u8(bytes)), high = vmovl_u8(vget_high_u8(bytes));
        uint32x4_t words[4] = {vmovl_u16(vget_low_u16(low)), vmovl_u16(vget_high_u16(low)),
                               vmovl_u16(vget_low_u16(high)), vmovl_u16(vget_high_u16(high))};
        for (int k = 0; k < 4; ++k)
            vst1q_f32(out + i + k * lanes, vmulq_f32(vsubq_f32(vcvtq_f32_u32(words[k]), m), r));
    }
    return i;
}

/* wsqr2b on the first samples, eight at a time; returns how many. The half
 * is added in single precision: the sum is exact in double, so rounding it
 * once to single gives what wsqr2b's narrowing gives. The clamp takes a
 * value that is not a number to 0 (the maximum of a number and NaN is the
 * number). */
ui32 reals_to_bytes(ui8 *out, const real *in, ui32 length, real midpoint, real rescale)
{
    float32x4_t m = vdupq_n_f32(midpoint), r = vdupq_n_f32(rescale);
    float32x4_t half = vdupq_n_f32(0.5f), zero = vdupq_n_f32(0.0f), top = vdupq_n_f32(255.0f);
    ui32 i = 0;
    for (; i + 2 * lanes <= length; i += 2 * lanes) {
        uint16x4_t words[2];
        for (int k = 0; k < 2; ++k) {
            float32x4_t rounded = vaddq_f32(vfmaq_f32(m, r, vld1q_f32(in + i + k * lanes)), half);
            float32x4_t clamped = vminq_f32(vmaxnmq_f32(rounded, zero), top);
            words[k] = vmovn_u32(vcvtq_u32_f32(clamped));
        }
        vst1_u8(out + i, vmovn_u16(vcombine_u16(words[0], words[1])));
    }
    return i;
}

}  // namespace

void add_neon(vector_kernels &k)
{
    k.sum_terms = sum_terms_over;
    k.deinterleave = deinterleave;
    k.interleave = interleave;
    k.sum_pairs = sum_pairs;
    k.bytes_to_reals = bytes_to_reals;
    k.reals_to_bytes = reals_to_bytes;
}

}  // namespace wsq_internal

#endif
