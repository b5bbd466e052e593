/* shared_kernels.h - pieces of libwsq's portable kernels that their vector
 * paths build on too, inline for both (internal: not installed): the
 * fused multiply-add, the boundary extensions of the filters, the taps of the synthesis, the
 * quantizer's bounds and the one-byte symbols. Compiled into a vector kernel they take its instruction
 * set; out of line they are plain code, whatever source emits them.
 */
#ifndef WSQ_SHARED_KERNELS_H
#define WSQ_SHARED_KERNELS_H

#include "libwsq.h"

#include <cmath>

namespace wsq_internal {

/* a * b + c rounded once: the one fused multiply-add of the kernels, and of
 * the scalar ends of their vector paths. WebAssembly has no such
 * instruction, and its C library computes one call by call; mingw-w64's
 * fmaf does not always round once (0 for a negative product below the
 * subnormals, where -0 is due). wsqfma() gives the right result from double
 * arithmetic inline. */
inline real fused_multiply_add(real a, real b, real c)
{
#if defined(__wasm__) || defined(__MINGW32__)
    return wsqfma(a, b, c);
#else
    return std::fma(a, b, c);
#endif
}

/* Whether a filter's extension type is one of 0..5. */
inline bool valid_type(int type)
{
    return type >= 0 && type <= 5;
}

/* Input index k of a signal of n samples mapped into 0..n-1 by the analysis
 * extension of the filter type. A single sample extends to a constant. */
inline int extend_analysis(int k, int n, int type)
{
    if (type <= 1) {
        while (k < 0)
            k += n;
        while (k >= n)
            k -= n;
        return k;
    }
    if (type <= 3) {
        if (n == 1)
            return 0;
        int period = 2 * n - 2;
        if (k < 0)
            k = -k;
        while (k >= period)
            k -= period;
        return k >= n ? period - k : k;
    }
    int period = 2 * n;
    if (k < 0)
        k = -1 - k;
    while (k >= period)
        k -= period;
    return k >= n ? period - 1 - k : k;
}

/* An input index of the half-length signal after the synthesis extension
 * that the filter type and the output's parity call for: where to read,
 * with which sign, or nowhere (a term left out). */
struct extended_index {
    int index;
    real sign;
    bool present;
};

inline extended_index extend_synthesis(int i, int len, int type, bool odd_output)
{
    if (type <= 1) {
        while (i < 0)
            i += len;
        while (i >= len)
            i -= len;
        return {i, 1.0f, true};
    }
    real sign = 1.0f;
    int period;
    if (type == 2) {
        if (i < 0)
            i = -i;
        period = odd_output ? 2 * len - 2 : 2 * len - 1;
    } else {
        if (i < 0) {
            i = -1 - i;
            if (type == 5)
                sign = -sign;
        }
        if (type == 3)
            period = odd_output ? 2 * len : 2 * len - 1;
        else if (type == 4)
            period = odd_output ? 2 * len - 1 : 2 * len;
        else
            period = odd_output ? 2 * len + 1 : 2 * len;
    }
    if (period == 0)  /* one sample, whole-sample symmetric: a constant */
        return {0, sign, true};
    while (i >= period)
        i -= period;
    if (i < len)
        return {i, sign, true};
    switch (type) {
    case 2: return {(odd_output ? 2 * len - 2 : 2 * len - 1) - i, sign, true};
    case 3: return {(odd_output ? 2 * len - 1 : 2 * len - 2) - i, sign, true};
    case 4: return {(odd_output ? 2 * len - 2 : 2 * len - 1) - i, sign, true};
    default:
        if (!odd_output)
            return {2 * len - 1 - i, -sign, true};
        if (i == len)
            return {0, sign, false};
        return {2 * len - i, -sign, true};
    }
}

inline int floor_half(int n)
{
    return n >= 0 ? n / 2 : -((1 - n) / 2);
}

inline int ceil_half(int n)
{
    return -floor_half(-n);
}

/* The taps that meet output n of a synthesis: even outputs 2m take the even
 * taps 2k with input m + k, odd outputs 2m + 1 the odd taps 2k + 1 with
 * input m + 1 + k. */
struct adjoint_taps {
    int first, last;  /* tap range, step 2 */
    int base;         /* input index of the first tap, less m */
};

inline adjoint_taps taps_of(const pqf *filter, bool odd)
{
    if (!odd)
        return {2 * ceil_half(filter->alpha), 2 * floor_half(filter->omega),
                ceil_half(filter->alpha)};
    int k = ceil_half(filter->alpha - 1);
    return {2 * k + 1, 2 * floor_half(filter->omega - 1) + 1, 1 + k};
}

/* Quantizer indices beyond these bounds saturate instead of leaving the
 * 32-bit range (such values are refused later by the symbol coder). */
constexpr real largest_index = 2147483520.0f;  /* the float just below 2^31 */

/* Values -73 to 74 are coded in one symbol byte each, the value plus 180. */
inline bool one_byte_symbol(int32 value)
{
    return value >= -73 && value <= 74;
}

inline ui8 symbol_byte(int32 value)
{
    return (ui8)(value + 180);
}

}  // namespace wsq_internal

#endif
