// The units of an Annex B frame (H.264 or HEVC), found by their 00 00 01 start codes.
#pragma once

#include <cstdint>
#include <cstring>

namespace qv {

// Calls visit(unit, size) for each unit in order, `unit` at its first header byte and `size`
// the bytes from there to the end of the frame, until visit returns false. Never reads
// outside [data, data + length).
template <typename Visit>
void ForEachAnnexBUnit(const uint8_t* data, int length, Visit visit) {
    if (!data) return;
    int from = 2;  // the 01 of a start code has two zeros before it and a header byte after it
    while (from < length - 1) {
        const void* hit = std::memchr(data + from, 0x01, static_cast<size_t>(length - 1 - from));
        if (!hit) return;
        const int one = static_cast<int>(static_cast<const uint8_t*>(hit) - data);
        if (data[one - 1] == 0 && data[one - 2] == 0 && !visit(data + one + 1, length - one - 1)) return;
        from = one + 1;
    }
}

}  // namespace qv
