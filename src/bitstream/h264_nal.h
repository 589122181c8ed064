// Finding H.264 NAL units in a byte stream with start codes. All functions work on the
// caller's bytes only: they never allocate and never read outside [data, data + length).
#pragma once

#include <cstdint>

namespace qv {

// Start of the first unit of types 1 to 13 (its 00 00 01), or null. A start code of a
// unit of another type is stepped over together with its header byte.
const uint8_t* FindH264Start(const uint8_t* data, int length);

// First place where a unit ends: 00 00 01 or 00 00 00. The last four bytes of the range
// never begin an end. Null when there is none.
const uint8_t* FindH264End(const uint8_t* data, int length);

// Offset and size of the first accepted unit, the size running to the next end (or to the
// end of the input). False when there is no accepted unit.
bool FindH264NalUnit(const uint8_t* data, int length, int& offset, int& size);

// Turns the last SEI or SPS in data[0, length) into a reserved type (22 or 23) by setting
// bit 0x10 of its header byte, so the decoder passes it over. False when there is none.
bool DisableLastSeiOrSps(uint8_t* data, int length);

// Copies the units of types 1 to 13 found in data into out, one after the other, each
// followed by one zero byte, and applies the ordering rules: an IDR slice needs an SPS and
// a PPS earlier in this input and an SPS, PPS or IDR slice as the last unit of type 1, 2, 3,
// 5, 7 or 8 before it; a non-IDR slice right after an SPS or PPS hides the last SEI or SPS
// copied so far. False when an IDR slice breaks those rules or out (capacity bytes, which
// 2 * length always satisfies) is too small; out_length then counts the units copied before.
bool RepackH264NalUnits(const uint8_t* data, int length, uint8_t* out, int capacity,
                        int& out_length);

}  // namespace qv
