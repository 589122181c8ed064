// Byte-level helpers of raw packet extraction.
#pragma once

#include <cstdint>

namespace qv {

// Rewrites a packet of 4-byte big-endian length-prefixed H.264 units (MP4 style) as
// Annex B units, each behind 00 00 00 01, into out[0, capacity); the 4-byte case of
// the converter in bitstream/length_prefixed.h. Every unit of the packet is converted.
// Returns the bytes written, or -1 when a length field is cut short, a unit length runs
// past the packet, or the result does not fit.
int LengthPrefixedToAnnexB(const uint8_t* data, int length, uint8_t* out, int capacity);

}  // namespace qv
