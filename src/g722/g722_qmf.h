// Receive QMF of the G.722 decoder: one filter step over a 24-value window.
#pragma once

#include <cstdint>

#include "g722/g722_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace g722 {

// window holds (sum, difference) pairs, oldest first. *differences receives the sum of
// products over the odd positions (the differences), *sums over the even positions.
inline void ApplyQmfScalar(const int16_t* window, int* differences, int* sums) {
    int odd = 0;
    int even = 0;
    for (int k = 0; k < 24; k += 2) {
        even += window[k] * kQmf[k];
        odd += window[k + 1] * kQmf[k + 1];
    }
    *differences = odd;
    *sums = even;
}

#if defined(__SSE2__)
// Coefficients with the other parity zeroed, so one multiply-add per 8 values keeps the
// two sums apart.
alignas(16) inline const int16_t kQmfEven[16] = {
    3,    0, -11,  0, 12,  0, 32,   0, -210, 0, 951, 0,
    3876, 0, -805, 0,
};
alignas(16) inline const int16_t kQmfOdd[16] = {
    0, -11, 0, 53,   0, -156, 0, 362, 0, -805, 0, 3876,
    0, 951, 0, -210,
};

inline void ApplyQmf(const int16_t* window, int* differences, int* sums) {
    // Positions 0..15 were written at least four words ago and load as vectors; the
    // newest eight are summed one by one, because a vector load over values stored just
    // before cannot be forwarded from those stores and stalls.
    const __m128i* even = reinterpret_cast<const __m128i*>(kQmfEven);
    const __m128i* odd = reinterpret_cast<const __m128i*>(kQmfOdd);
    const __m128i w0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window));
    const __m128i w1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + 8));
    const __m128i e = _mm_add_epi32(_mm_madd_epi16(w0, _mm_load_si128(even)),
                                    _mm_madd_epi16(w1, _mm_load_si128(even + 1)));
    const __m128i o = _mm_add_epi32(_mm_madd_epi16(w0, _mm_load_si128(odd)),
                                    _mm_madd_epi16(w1, _mm_load_si128(odd + 1)));
    // Reduce both at once: [e0+e2, e1+e3, o0+o2, o1+o3], then add neighbours.
    __m128i s = _mm_add_epi32(_mm_unpacklo_epi64(e, o), _mm_unpackhi_epi64(e, o));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
    int even_sum = _mm_cvtsi128_si32(s);
    int odd_sum = _mm_cvtsi128_si32(_mm_unpackhi_epi64(s, s));
    for (int k = 16; k < 24; k += 2) {
        even_sum += window[k] * kQmf[k];
        odd_sum += window[k + 1] * kQmf[k + 1];
    }
    *sums = even_sum;
    *differences = odd_sum;
}
#else
inline void ApplyQmf(const int16_t* window, int* differences, int* sums) {
    ApplyQmfScalar(window, differences, sums);
}
#endif

}  // namespace g722
