// The HEVC decoder configuration record ('hvcC', ISO/IEC 14496-15) that mp4, mov and
// Matroska files carry as the extradata of an HEVC stream. The functions work on the caller's bytes only: they never allocate,
// never read outside [data, data + length) and never write outside [out, out + capacity).
#pragma once

#include <cstdint>

namespace qv {

// NAL unit types of the parameter sets a receiver needs before a key frame.
constexpr int kHevcVps = 32;
constexpr int kHevcSps = 33;
constexpr int kHevcPps = 34;

struct HevcConfig {
    int length_size = 0;     // bytes of each unit length in the packets: 1, 2 or 4
    int parameter_sets = 0;  // VPS, SPS and PPS units in the record
    int annexb_size = 0;     // bytes WriteHevcParameterSets gives: each unit behind 4 start-code bytes
};

// Reads a whole record. False when it is not version 1, gives 3-byte unit lengths, or when
// an array count, unit count or unit length runs past the record; config is then untouched.
bool ParseHevcConfig(const uint8_t* data, int length, HevcConfig& config);

// The unit-length size the record gives (1, 2 or 4), or -1 when ParseHevcConfig refuses it.
int HevcUnitLengthSize(const uint8_t* data, int length);

// Writes the record's VPS, SPS and PPS units in record order, each behind 00 00 00 01, into
// out[0, capacity); units of other types (declarative SEI) are left out. Returns the bytes
// written, or -1 when ParseHevcConfig refuses the record or the units do not fit.
int WriteHevcParameterSets(const uint8_t* data, int length, uint8_t* out, int capacity);

}  // namespace qv
