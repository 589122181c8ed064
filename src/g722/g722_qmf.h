// Receive QMF of the G.722 decoder, applied to a block of words at once.
//
// The filter keeps no state besides its input, so once the two band recurrences have
// produced a block of band signals, all of its output can be computed independently,
// several words per vector step.
#pragma once

#include <cstdint>

#include "g722/g722_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace g722 {

// Words of history the filter needs before the first word of a block.
inline constexpr int kQmfHistory = 11;

// sums[k] and differences[k] hold rl + rh and rl - rh of the words, with k = 0 .. 10 the
// eleven words before the block (oldest first) and k = 11 + i word i of the block. For
// each of the n words two samples go to out: first the filtered differences (odd
// coefficients), then the filtered sums (even coefficients).
inline void ApplyQmfBlockScalar(const int16_t* sums, const int16_t* differences, int n, int16_t* out) {
    for (int i = 0; i < n; ++i) {
        int odd = 0;
        int even = 0;
        for (int j = 0; j < 12; ++j) {
            even += sums[i + j] * kQmf[2 * j];
            odd += differences[i + j] * kQmf[2 * j + 1];
        }
        odd >>= 12;
        even >>= 12;
        out[2 * i] = static_cast<int16_t>(odd < -32768 ? -32768 : (odd > 32767 ? 32767 : odd));
        out[2 * i + 1] = static_cast<int16_t>(even < -32768 ? -32768 : (even > 32767 ? 32767 : even));
    }
}

#if defined(__SSE2__)
// Coefficient pairs for one multiply-add over neighbouring words: pair t holds the
// coefficients of window positions 2t and 2t + 1, for the sums (even taps) and for the
// differences (odd taps).
struct QmfPairs {
    int16_t sums[6][8];
    int16_t differences[6][8];
};

constexpr QmfPairs MakeQmfPairs() {
    QmfPairs pairs{};
    for (int t = 0; t < 6; ++t) {
        for (int lane = 0; lane < 8; ++lane) {
            const int j = 2 * t + (lane & 1);
            pairs.sums[t][lane] = kQmf[2 * j];
            pairs.differences[t][lane] = kQmf[2 * j + 1];
        }
    }
    return pairs;
}

alignas(16) inline constexpr QmfPairs kQmfPairs = MakeQmfPairs();

inline void ApplyQmfBlock(const int16_t* sums, const int16_t* differences, int n, int16_t* out) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        // Eight words per step: a multiply-add over a load at word i + j yields the taps
        // j, j + 1 of the words i, i + 2, i + 4, i + 6; the load one word later yields
        // them for the odd words.
        __m128i sums_even = _mm_setzero_si128();
        __m128i sums_odd = _mm_setzero_si128();
        __m128i diffs_even = _mm_setzero_si128();
        __m128i diffs_odd = _mm_setzero_si128();
        for (int t = 0; t < 6; ++t) {
            const __m128i cs = _mm_load_si128(reinterpret_cast<const __m128i*>(kQmfPairs.sums[t]));
            const __m128i cd = _mm_load_si128(reinterpret_cast<const __m128i*>(kQmfPairs.differences[t]));
            const int16_t* s = sums + i + 2 * t;
            const int16_t* d = differences + i + 2 * t;
            sums_even = _mm_add_epi32(sums_even, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), cs));
            sums_odd = _mm_add_epi32(sums_odd, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 1)), cs));
            diffs_even = _mm_add_epi32(diffs_even, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d)), cd));
            diffs_odd = _mm_add_epi32(diffs_odd, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 1)), cd));
        }
        sums_even = _mm_srai_epi32(sums_even, 12);
        sums_odd = _mm_srai_epi32(sums_odd, 12);
        diffs_even = _mm_srai_epi32(diffs_even, 12);
        diffs_odd = _mm_srai_epi32(diffs_odd, 12);
        // Interleave to (difference, sum) per word in word order; the saturating pack
        // is the limit to 16 bits.
        const __m128i even_lo = _mm_unpacklo_epi32(diffs_even, sums_even);  // words 0, 2
        const __m128i odd_lo = _mm_unpacklo_epi32(diffs_odd, sums_odd);     // words 1, 3
        const __m128i even_hi = _mm_unpackhi_epi32(diffs_even, sums_even);  // words 4, 6
        const __m128i odd_hi = _mm_unpackhi_epi32(diffs_odd, sums_odd);     // words 5, 7
        const __m128i w0123 = _mm_packs_epi32(_mm_unpacklo_epi64(even_lo, odd_lo), _mm_unpackhi_epi64(even_lo, odd_lo));
        const __m128i w4567 = _mm_packs_epi32(_mm_unpacklo_epi64(even_hi, odd_hi), _mm_unpackhi_epi64(even_hi, odd_hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), w0123);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 8), w4567);
    }
    ApplyQmfBlockScalar(sums + i, differences + i, n - i, out + 2 * i);
}
#else
inline void ApplyQmfBlock(const int16_t* sums, const int16_t* differences, int n, int16_t* out) {
    ApplyQmfBlockScalar(sums, differences, n, out);
}
#endif

}  // namespace g722
