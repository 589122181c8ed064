// Units stored with big-endian length prefixes (mp4, mov, Matroska, flv) rewritten as an
// Annex B byte stream. Works on the caller's bytes only: no allocation, no read outside
// [data, data + length), no write outside [out, out + capacity).
#pragma once

#include <cstdint>

#include "bitstream/annexb_units.h"

namespace qv {

// Rewrites a packet of units behind length_size-byte lengths (1, 2 or 4) as Annex B units,
// each behind 00 00 00 01, into out[0, capacity). Every unit of the packet is converted.
// Returns the bytes written, or -1 for another length size, a length field cut short, a
// unit length running past the packet, or a result that does not fit.
int LengthPrefixedToAnnexB(const uint8_t* data, int length, int length_size, uint8_t* out, int capacity);

}  // namespace qv

namespace qv {

// Calls visit(unit, size) for each unit of a packet of units behind length_size-byte
// big-endian lengths (1, 2 or 4), in order, until visit returns false or a length runs past
// the packet. Never reads outside [data, data + length).
template <typename Visit>
void ForEachLengthPrefixedUnit(const uint8_t* data, int length, int length_size, Visit visit) {
    if (!data || (length_size != 1 && length_size != 2 && length_size != 4)) return;
    int read = 0;
    while (length - read >= length_size) {
        // unit_length: 8 x length_size, big-endian
        uint32_t unit = 0;
        for (int i = 0; i < length_size; ++i) unit = (unit << 8) | data[read + i];
        read += length_size;
        if (unit > static_cast<uint32_t>(length - read)) return;
        if (unit > 0 && !visit(data + read, static_cast<int>(unit))) return;
        read += static_cast<int>(unit);
    }
}

}  // namespace qv

namespace qv {

// The units of a frame either way: Annex B for length_size 0, else behind lengths.
template <typename Visit>
void ForEachUnit(const uint8_t* data, int length, int length_size, Visit visit) {
    if (length_size == 0) {
        ForEachAnnexBUnit(data, length, visit);
    } else {
        ForEachLengthPrefixedUnit(data, length, length_size, visit);
    }
}

}  // namespace qv
