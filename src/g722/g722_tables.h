// Constant tables of the G.722 decoder.
#pragma once

#include <cstdint>

namespace g722 {

// Scale-factor mantissas: 2048 * 2^(i/32), rounded.
extern const int16_t kIlb[32];
// Lower-band inverse quantiser outputs for 6-, 5- and 4-bit codes.
extern const int16_t kQm6[64];
extern const int16_t kQm5[32];
extern const int16_t kQm4[16];
// Higher-band inverse quantiser outputs.
extern const int16_t kQm2[4];
// Log scale-factor step of the lower band for each 4-bit code, already mapped.
extern const int16_t kWl[16];
// Log scale-factor step of the higher band for each 2-bit code.
extern const int16_t kWh[4];
// The 24 receive QMF coefficients, h[k] == h[23 - k].
extern const int16_t kQmf[24];

}  // namespace g722
