// H.264 as MP4-style containers store it: the AVC decoder configuration record with the
// parameter sets, and packets of length-prefixed units; both turned into Annex B.
#pragma once

#include <cstdint>

namespace qv {

// Rewrites a packet of 4-byte big-endian length-prefixed units (MP4 style) as Annex B
// units, each behind 00 00 00 01, into out[0, capacity): the 4-byte case of the converter
// in bitstream/length_prefixed.h. Every unit of the packet is converted. Returns the bytes
// written, or -1 when a length field is cut short, a unit length runs past the packet, or
// the result does not fit.
int LengthPrefixedToAnnexB(const uint8_t* data, int length, uint8_t* out, int capacity);

// Writes the first SPS and PPS of an AVC decoder configuration record as Annex B units
// into destination; capacity holds the room on entry and the bytes written on success.
// False when the record is not one with 4-byte unit lengths and exactly one SPS, or does
// not hold what its lengths claim, or the units do not fit.
bool GetSPSAndPPS(const uint8_t* record, int length, uint8_t* destination, int& capacity);

}  // namespace qv
