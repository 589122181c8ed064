// G.722 decoding: two ADPCM sub-bands joined by the 24-tap receive QMF, integer only.
#include "g722/g722_decoder.h"

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

G722_INLINE int Clamp(int value, int low, int high) {
    return value < low ? low : (value > high ? high : value);
}

G722_INLINE int Saturate(int value) { return Clamp(value, -32768, 32767); }

// 2^(nb/2048)-style scale factor: the mantissa table shifted by the exponent in nb.
G722_INLINE int ScaleFactor(int nb, int bias) {
    const int mantissa = g722::kIlb[(nb >> 6) & 31];
    const int shift = bias - (nb >> 11);
    return 4 * (shift < 0 ? mantissa << -shift : mantissa >> shift);
}

G722_INLINE void Predict(G722Band& band, int dq) {
    // Signs of the partially reconstructed signal now and one and two samples back.
    const int neg = (dq + band.sz) < 0;
    const int e1 = (neg != band.sg1) ? 1 : -1;
    const int e2 = (neg == band.sg2) ? 1 : -1;
    band.sg2 = band.sg1;
    band.sg1 = static_cast<int8_t>(neg);

    // Pole section: the second coefficient first, the first one is bounded by it.
    const int a1c = Clamp(band.a1, -8191, 8191);
    const int a2 = Clamp(((band.a2 * 127) >> 7) + ((a1c * e1) >> 5) + 128 * e2, -12288, 12288);
    const int a1_limit = 15360 - a2;
    const int a1 = Clamp(((band.a1 * 255) >> 8) - 192 * e1, -a1_limit, a1_limit);
    band.a2 = static_cast<int16_t>(a2);
    band.a1 = static_cast<int16_t>(a1);

    // Zero section: leak every coefficient, and push it towards agreement in sign with
    // the new difference unless that difference is zero. Written without branches so
    // that the six lanes compile to straight-line code.
    const int step = dq != 0 ? 128 : 0;
    int sz = 0;
    const int d0 = Saturate(2 * dq);
    for (int k = 5; k >= 0; --k) {
        const int older = band.d[k];
        const int sign = ((dq ^ older) >> 31) | 1;  // +1 same sign (0 counts as positive), -1 else
        const int b = static_cast<int16_t>(((band.b[k] * 255) >> 8) + sign * step);
        band.b[k] = static_cast<int16_t>(b);
        const int shifted = k == 0 ? d0 : band.d[k - 1];
        band.d[k] = shifted;
        sz += (b * shifted) >> 15;
    }
    band.sz = sz;

    const int r = Saturate(2 * (band.s + dq));
    band.s = static_cast<int16_t>(Saturate(((a1 * r) >> 15) + ((a2 * band.r1) >> 15) + sz));
    band.r1 = static_cast<int16_t>(r);
}

G722_INLINE void AdaptLow(G722Band& band, int code4) {
    const int dq = (band.det * g722::kQm4[code4]) >> 15;
    Predict(band, dq);
    const int nb = Clamp(((band.nb * 127) >> 7) + g722::kWl[code4], 0, 18432);
    band.nb = static_cast<int16_t>(nb);
    band.det = static_cast<int16_t>(ScaleFactor(nb, 8));
}

G722_INLINE void AdaptHigh(G722Band& band, int dh, int code2) {
    Predict(band, dh);
    const int nb = Clamp(((band.nb * 127) >> 7) + g722::kWh[code2], 0, 22528);
    band.nb = static_cast<int16_t>(nb);
    band.det = static_cast<int16_t>(ScaleFactor(nb, 10));
}

template <int kCodeBits>
inline const int16_t* LowTable() {
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

void G722Decoder::UpdatePredictor(G722Band& band, int dq) { Predict(band, dq); }
void G722Decoder::AdaptLowBand(G722Band& band, int code4) { AdaptLow(band, code4); }
void G722Decoder::AdaptHighBand(G722Band& band, int dh, int code2) { AdaptHigh(band, dh, code2); }

template <int kCodeBits, bool kWide>
void G722Decoder::DecodeRun(int16_t* out, const uint8_t* data, int length) {
    // The bands live in locals for the run so that the compiler keeps them in registers.
    G722Band low = low_band;
    G722Band high = high_band;
    const int16_t* low_table = LowTable<kCodeBits>();
    constexpr int kLowMask = (1 << (kCodeBits - 2)) - 1;

    // The QMF delay line is kept in a longer local history, so that the per-word move
    // of 22 values becomes one move per block.
    constexpr int kBlock = 512;
    alignas(16) int16_t history[22 + 2 * kBlock + 2];
    if (kWide) std::memcpy(history, qmf_line, 22 * sizeof(int16_t));
    int16_t* window = history;

    for (int i = 0; i < length; ++i) {
        const int code = data[i];
        const int il = code & kLowMask;
        const int rl = Clamp(low.s + ((low.det * low_table[il]) >> 15), -16384, 16383);
        AdaptLow(low, il >> (kCodeBits - 6));
        if (!kWide) {
            out[i] = static_cast<int16_t>(rl);
            continue;
        }
        const int ih = (code >> (kCodeBits - 2)) & 3;
        const int dh = (high.det * g722::kQm2[ih]) >> 15;
        const int rh = Clamp(high.s + dh, -16384, 16383);
        AdaptHigh(high, dh, ih);

        window[22] = static_cast<int16_t>(rl + rh);
        window[23] = static_cast<int16_t>(rl - rh);
        int differences, sums;
        g722::ApplyQmf(window, &differences, &sums);
        out[2 * i] = static_cast<int16_t>(Saturate(differences >> 12));
        out[2 * i + 1] = static_cast<int16_t>(Saturate(sums >> 12));
        window += 2;
        if (window == history + 2 * kBlock) {
            std::memmove(history, window, 22 * sizeof(int16_t));
            window = history;
        }
    }

    if (kWide) {
        // Store the line as the word-by-word move leaves it: the newest pair sits at
        // 20..21 and is still present at 22..23 until the next word overwrites it.
        std::memcpy(qmf_line, window, 22 * sizeof(int16_t));
        if (length > 0) {
            qmf_line[22] = window[20];
            qmf_line[23] = window[21];
        }
    }
    low_band = low;
    high_band = high;
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
