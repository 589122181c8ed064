// G.722 decoding: two ADPCM sub-bands joined by the 24-tap receive QMF, integer only.
//
// A run works in blocks: a first pass runs both band recurrences word by word with the
// band states in registers and keeps the band signals, a second pass filters the whole
// block (see g722_qmf.h).
#include "g722/g722_decoder.h"

#include <algorithm>
#include <cstring>

#include "g722/g722_qmf.h"
#include "g722/g722_tables.h"

// The per-word steps are forced inline: as calls, the band state would live in memory.
#if defined(__GNUC__)
#define G722_INLINE inline __attribute__((always_inline))
#else
#define G722_INLINE inline
#endif

namespace {

G722_INLINE int Clamp(int value, int low, int high) { return std::min(std::max(value, low), high); }

G722_INLINE int Saturate(int value) { return Clamp(value, -32768, 32767); }

// Quantised differences stay within +-10228 (step <= 16384, |qm4| <= 20456, |qm2| <=
// 7408), so they and their doubles fit 16 bits and the doubling never saturates.

#if defined(__SSE2__)
// Zero section of one band: b[k] and d[k] in the 16-bit lanes 0..5. Lanes 6 and 7 of b
// stay 0 (their push is always 0), so whatever d carries there adds nothing.
struct ZeroSection {
    __m128i b;
    __m128i d;
};
using ZeroProducts = __m128i;

G722_INLINE ZeroSection LoadZero(const G722Band& band) {
    alignas(16) int16_t b[8] = {};
    alignas(16) int16_t d[8] = {};
    for (int k = 0; k < 6; ++k) {
        b[k] = band.b[k];
        d[k] = static_cast<int16_t>(band.d[k]);
    }
    return {_mm_load_si128(reinterpret_cast<const __m128i*>(b)), _mm_load_si128(reinterpret_cast<const __m128i*>(d))};
}

G722_INLINE void StoreZero(const ZeroSection& zero, G722Band& band) {
    alignas(16) int16_t b[8];
    alignas(16) int16_t d[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(b), zero.b);
    _mm_store_si128(reinterpret_cast<__m128i*>(d), zero.d);
    for (int k = 0; k < 6; ++k) {
        band.b[k] = b[k];
        band.d[k] = d[k];
    }
}

// Updates b and d for the new difference and returns the six products (b[k] * d[k]) >> 15,
// each of which fits 16 bits.
G722_INLINE ZeroProducts UpdateZero(ZeroSection& zero, int dq) {
    const __m128i push_lanes = _mm_set_epi16(0, 0, 128, 128, 128, 128, 128, 128);
    const __m128i dqv = _mm_set1_epi16(static_cast<int16_t>(dq));
    // -1 where d[k] and dq differ in sign (0 counting as positive), 0 where they agree.
    const __m128i differ = _mm_srai_epi16(_mm_xor_si128(dqv, zero.d), 15);
    // +128 where they agree, -128 where they differ, 0 everywhere when dq is 0.
    const __m128i step = _mm_andnot_si128(_mm_cmpeq_epi16(dqv, _mm_setzero_si128()), push_lanes);
    const __m128i push = _mm_sub_epi16(_mm_xor_si128(step, differ), differ);
    // (b * 255) >> 8 == b + ((b * -256) >> 16), for every 16-bit b.
    const __m128i leaked = _mm_add_epi16(zero.b, _mm_mulhi_epi16(zero.b, _mm_set1_epi16(-256)));
    zero.b = _mm_add_epi16(leaked, push);
    zero.d = _mm_insert_epi16(_mm_slli_si128(zero.d, 2), 2 * dq, 0);
    // (b * d) >> 15 from the high and low halves of the 32-bit product.
    const __m128i high = _mm_mulhi_epi16(zero.b, zero.d);
    const __m128i low = _mm_mullo_epi16(zero.b, zero.d);
    return _mm_or_si128(_mm_slli_epi16(high, 1), _mm_srli_epi16(low, 15));
}

// The products' sum in 32 bits.
G722_INLINE int SumProducts(ZeroProducts products) {
    __m128i s = _mm_madd_epi16(products, _mm_set1_epi16(1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(s);
}

#else
struct ZeroSection {
    int b[6];
    int d[6];
};
using ZeroProducts = int;

G722_INLINE ZeroSection LoadZero(const G722Band& band) {
    ZeroSection zero;
    for (int k = 0; k < 6; ++k) {
        zero.b[k] = band.b[k];
        zero.d[k] = band.d[k];
    }
    return zero;
}

G722_INLINE void StoreZero(const ZeroSection& zero, G722Band& band) {
    for (int k = 0; k < 6; ++k) {
        band.b[k] = static_cast<int16_t>(zero.b[k]);
        band.d[k] = zero.d[k];
    }
}

G722_INLINE ZeroProducts UpdateZero(ZeroSection& zero, int dq) {
    const int step = dq != 0 ? 128 : 0;
    int sum = 0;
    for (int k = 5; k >= 0; --k) {
        const int sign = ((dq ^ zero.d[k]) >> 31) | 1;  // +1 same sign (0 counts as positive), -1 else
        zero.b[k] = static_cast<int16_t>(((zero.b[k] * 255) >> 8) + sign * step);
        zero.d[k] = k == 0 ? 2 * dq : zero.d[k - 1];
        sum += (zero.b[k] * zero.d[k]) >> 15;
    }
    return sum;
}

G722_INLINE int SumProducts(ZeroProducts products) { return products; }

#endif

// One band's state for a run, in locals the compiler can keep in registers.
struct Band {
    int s, sz, sg1, sg2, r1, a1, a2, nb, det;
    ZeroSection zero;
};

G722_INLINE Band LoadBand(const G722Band& band) {
    return {band.s, band.sz, band.sg1, band.sg2, band.r1, band.a1, band.a2, band.nb, band.det, LoadZero(band)};
}

G722_INLINE void StoreBand(const Band& from, G722Band& band) {
    band.s = static_cast<int16_t>(from.s);
    band.sz = from.sz;
    band.sg1 = static_cast<int8_t>(from.sg1);
    band.sg2 = static_cast<int8_t>(from.sg2);
    band.r1 = static_cast<int16_t>(from.r1);
    band.a1 = static_cast<int16_t>(from.a1);
    band.a2 = static_cast<int16_t>(from.a2);
    band.nb = static_cast<int16_t>(from.nb);
    band.det = static_cast<int16_t>(from.det);
    StoreZero(from.zero, band);
}

// Signs and pole coefficients, from the difference and the previous zero-section part.
G722_INLINE void UpdatePoles(Band& band, int dq) {
    const int neg = (dq + band.sz) < 0;
    const int e1 = 2 * (neg ^ band.sg1) - 1;  // +1 if the sign changed since one sample back
    const int e2 = 1 - 2 * (neg ^ band.sg2);  // +1 if it equals the sign two samples back
    band.sg2 = band.sg1;
    band.sg1 = neg;
    // The second coefficient first; the first one is bounded by it.
    const int a1c = Clamp(band.a1, -8191, 8191);
    const int a2 = Clamp(((band.a2 * 127) >> 7) + ((a1c * e1) >> 5) + 128 * e2, -12288, 12288);
    const int a1_limit = 15360 - a2;
    band.a1 = Clamp(((band.a1 * 255) >> 8) - 192 * e1, -a1_limit, a1_limit);
    band.a2 = a2;
}

// Reconstructed signal and the new estimate, once the new sz is known.
G722_INLINE void UpdateEstimate(Band& band, int dq) {
    const int r = Saturate(2 * (band.s + dq));
    band.s = Saturate(((band.a1 * r) >> 15) + ((band.a2 * band.r1) >> 15) + band.sz);
    band.r1 = r;
}

G722_INLINE void UpdateLowScale(Band& band, int code4) {
    band.nb = Clamp(((band.nb * 127) >> 7) + g722::kWl[code4], 0, g722::kLowNbMax);
    band.det = g722::kLowStep.step[band.nb >> 6];
}

G722_INLINE void UpdateHighScale(Band& band, int code2) {
    band.nb = Clamp(((band.nb * 127) >> 7) + g722::kWh[code2], 0, g722::kHighNbMax);
    band.det = g722::kHighStep.step[band.nb >> 6];
}

G722_INLINE void Predict(Band& band, int dq) {
    UpdatePoles(band, dq);
    band.sz = SumProducts(UpdateZero(band.zero, dq));
    UpdateEstimate(band, dq);
}

template <int kCodeBits>
constexpr const int16_t* LowTable() {
    return kCodeBits == 8 ? g722::kQm6 : (kCodeBits == 7 ? g722::kQm5 : g722::kQm4);
}

}  // namespace

G722Decoder::G722Decoder() { std::memset(static_cast<void*>(this), 0, sizeof(*this)); }

int G722Decoder::Initialize(int sample_rate_in, int bit_rate_in, int channels_in) {
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
    sample_rate = sample_rate_in;
    bit_rate = bit_rate_in;
    channels = channels_in;
    if (channels != 1) return -1;
    if (bit_rate != 48000 && bit_rate != 56000 && bit_rate != 64000) return -1;
    code_bits = bit_rate / 8000;
    if (sample_rate != 8000 && sample_rate != 16000) return -1;
    low_band.det = 32;
    high_band.det = 8;
    return 0;
}

void G722Decoder::UpdatePredictor(G722Band& band, int dq) {
    Band b = LoadBand(band);
    Predict(b, dq);
    StoreBand(b, band);
}

void G722Decoder::AdaptLowBand(G722Band& band, int code4) {
    Band b = LoadBand(band);
    Predict(b, (b.det * g722::kQm4[code4]) >> 15);
    UpdateLowScale(b, code4);
    StoreBand(b, band);
}

void G722Decoder::AdaptHighBand(G722Band& band, int dh, int code2) {
    Band b = LoadBand(band);
    Predict(b, dh);
    UpdateHighScale(b, code2);
    StoreBand(b, band);
}

namespace {

// The lower band over n code words: its output rl per word into out.
template <int kCodeBits>
void RunLowBand(Band& band, const uint8_t* codes, int n, int16_t* out) {
    // A local copy: the vector members may alias the output, which would keep the
    // state in memory.
    Band low = band;
    const int16_t* table = LowTable<kCodeBits>();
    constexpr int kMask = (1 << (kCodeBits - 2)) - 1;
    for (int i = 0; i < n; ++i) {
        const int il = codes[i] & kMask;
        out[i] = static_cast<int16_t>(Clamp(low.s + ((low.det * table[il]) >> 15), -16384, 16383));
        const int q = il >> (kCodeBits - 6);
        Predict(low, (low.det * g722::kQm4[q]) >> 15);
        UpdateLowScale(low, q);
    }
    band = low;
}

// The higher band over the same words, joined with the lower band's rl into the QMF
// input: rl + rh and rl - rh.
template <int kCodeBits>
void RunHighBand(Band& band, const uint8_t* codes, int n, const int16_t* rl, int16_t* sums, int16_t* differences) {
    Band high = band;
    for (int i = 0; i < n; ++i) {
        const int ih = (codes[i] >> (kCodeBits - 2)) & 3;
        const int dh = (high.det * g722::kQm2[ih]) >> 15;
        const int rh = Clamp(high.s + dh, -16384, 16383);
        Predict(high, dh);
        UpdateHighScale(high, ih);
        sums[i] = static_cast<int16_t>(rl[i] + rh);
        differences[i] = static_cast<int16_t>(rl[i] - rh);
    }
    band = high;
}

}  // namespace

// The two bands are independent, so each runs over a block in a loop of its own: one
// band's state fits the registers, both together would not.
template <int kCodeBits, bool kWide>
void G722Decoder::DecodeRun(int16_t* out, const uint8_t* data, int length) {
    Band low = LoadBand(low_band);
    if (!kWide) {
        RunLowBand<kCodeBits>(low, data, length, out);
        StoreBand(low, low_band);
        return;
    }

    Band high = LoadBand(high_band);
    // The band signals of a block, behind the eleven words of history the filter needs.
    constexpr int kHistory = g722::kQmfHistory;
    constexpr int kBlock = 512;
    alignas(16) int16_t rl[kBlock];
    alignas(16) int16_t sums[kHistory + kBlock];
    alignas(16) int16_t differences[kHistory + kBlock];
    for (int j = 0; j < kHistory; ++j) {
        sums[j] = qmf_line[2 * j];
        differences[j] = qmf_line[2 * j + 1];
    }

    for (int done = 0; done < length;) {
        const int n = std::min(kBlock, length - done);
        RunLowBand<kCodeBits>(low, data + done, n, rl);
        RunHighBand<kCodeBits>(high, data + done, n, rl, sums + kHistory, differences + kHistory);
        g722::ApplyQmfBlock(sums, differences, n, out + 2 * done);
        std::memmove(sums, sums + n, kHistory * sizeof(int16_t));
        std::memmove(differences, differences + n, kHistory * sizeof(int16_t));
        done += n;
    }

    // Store the line as the word-by-word move leaves it: the newest pair at 20..21, and
    // still at 22..23 until the next word overwrites it.
    for (int j = 0; j < kHistory; ++j) {
        qmf_line[2 * j] = sums[j];
        qmf_line[2 * j + 1] = differences[j];
    }
    qmf_line[22] = qmf_line[20];
    qmf_line[23] = qmf_line[21];
    StoreBand(low, low_band);
    StoreBand(high, high_band);
}

int G722Decoder::Decode(int16_t* out, int* out_bytes, const uint8_t* data, int length) {
    if (out_bytes) *out_bytes = 0;
    if (length <= 0) return length;
    if (!out || !data || !out_bytes || code_bits == 0) return 0;  // not initialised: nothing done

    const bool wide = sample_rate == 16000;
    switch (code_bits * 2 + (wide ? 1 : 0)) {
        case 17: DecodeRun<8, true>(out, data, length); break;
        case 16: DecodeRun<8, false>(out, data, length); break;
        case 15: DecodeRun<7, true>(out, data, length); break;
        case 14: DecodeRun<7, false>(out, data, length); break;
        case 13: DecodeRun<6, true>(out, data, length); break;
        default: DecodeRun<6, false>(out, data, length); break;
    }
    *out_bytes = (wide ? 4 : 2) * length;
    return length;
}
