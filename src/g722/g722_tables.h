// Constant tables of the G.722 decoder, as the ITU-T recommendation lists them, and the
// step tables derived from them at compile time.
#pragma once

#include <cstdint>

namespace g722 {

// Scale-factor mantissas: 2048 * 2^(i/32), rounded.
inline constexpr int16_t kIlb[32] = {
    2048, 2093, 2139, 2186, 2233, 2282, 2332, 2383, 2435, 2489, 2543,
    2599, 2656, 2714, 2774, 2834, 2896, 2960, 3025, 3091, 3158, 3228,
    3298, 3371, 3444, 3520, 3597, 3676, 3756, 3838, 3922, 4008,
};

// Lower-band inverse quantiser outputs for 6-, 5- and 4-bit codes.
inline constexpr int16_t kQm6[64] = {
    -136,   -136,   -136,   -136,   -24808, -21904, -19008, -16704,
    -14984, -13512, -12280, -11192, -10232, -9360,  -8576,  -7856,
    -7192,  -6576,  -6000,  -5456,  -4944,  -4464,  -4008,  -3576,
    -3168,  -2776,  -2400,  -2032,  -1688,  -1360,  -1040,  -728,
    24808,  21904,  19008,  16704,  14984,  13512,  12280,  11192,
    10232,  9360,   8576,   7856,   7192,   6576,   6000,   5456,
    4944,   4464,   4008,   3576,   3168,   2776,   2400,   2032,
    1688,   1360,   1040,   728,    432,    136,    -432,   -136,
};
inline constexpr int16_t kQm5[32] = {
    -280,  -280,  -23352, -17560, -14120, -11664, -9752, -8184,
    -6864, -5712, -4696,  -3784,  -2960,  -2208,  -1520, -880,
    23352, 17560, 14120,  11664,  9752,   8184,   6864,  5712,
    4696,  3784,  2960,   2208,   1520,   880,    280,   -280,
};
inline constexpr int16_t kQm4[16] = {
    0,     -20456, -12896, -8968, -6288, -4240, -2584, -1200,
    20456, 12896,  8968,   6288,  4240,  2584,  1200,  0,
};

// Higher-band inverse quantiser outputs.
inline constexpr int16_t kQm2[4] = {-7408, -1616, 7408, 1616};

// Log scale-factor step of the lower band for each 4-bit code, already mapped.
inline constexpr int16_t kWl[16] = {
    -60, 3042, 1198, 538, 334, 172, 58, -30,
    3042, 1198, 538, 334, 172, 58, -30, -60,
};

// Log scale-factor step of the higher band for each 2-bit code.
inline constexpr int16_t kWh[4] = {798, -214, 798, -214};

// The 24 receive QMF coefficients, h[k] == h[23 - k].
inline constexpr int16_t kQmf[24] = {
    3,    -11, -11,  53,   12,  -156, 32,  362, -210, -805, 951, 3876,
    3876, 951, -805, -210, 362, 32,   -156, 12, 53,   -11,  -11, 3,
};

// Upper limits of the log scale factors.
inline constexpr int kLowNbMax = 18432;
inline constexpr int kHighNbMax = 22528;

// The quantiser step depends on nb only through nb >> 6 (mantissa index in the low five
// bits, exponent above), so each band's step is one look-up in a table of that index.
template <int kSize>
struct StepTable {
    int16_t step[kSize];
};

template <int kSize>
constexpr StepTable<kSize> MakeStepTable(int bias) {
    StepTable<kSize> table{};
    for (int i = 0; i < kSize; ++i) {
        const int mantissa = kIlb[i & 31];
        const int shift = bias - (i >> 5);
        table.step[i] = static_cast<int16_t>(4 * (shift < 0 ? mantissa << -shift : mantissa >> shift));
    }
    return table;
}

inline constexpr StepTable<(kLowNbMax >> 6) + 1> kLowStep = MakeStepTable<(kLowNbMax >> 6) + 1>(8);
inline constexpr StepTable<(kHighNbMax >> 6) + 1> kHighStep = MakeStepTable<(kHighNbMax >> 6) + 1>(10);

}  // namespace g722
