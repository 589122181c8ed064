// Units stored with big-endian length prefixes (mp4, mov, Matroska, flv) rewritten as an
// Annex B byte stream. Works on the caller's bytes only: no allocation, no read outside
// [data, data + length), no write outside [out, out + capacity).
#pragma once

#include <cstdint>

namespace qv {

// Rewrites a packet of units behind length_size-byte lengths (1, 2 or 4) as Annex B units,
// each behind 00 00 00 01, into out[0, capacity). Every unit of the packet is converted.
// Returns the bytes written, or -1 for another length size, a length field cut short, a
// unit length running past the packet, or a result that does not fit.
int LengthPrefixedToAnnexB(const uint8_t* data, int length, int length_size, uint8_t* out, int capacity);

}  // namespace qv
