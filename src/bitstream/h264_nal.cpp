// Start-code scanning for H.264 byte streams.
//
// The scans look for the rare byte of a start code with memchr (vectorised in the C
// library) and test the neighbouring bytes only at the hits, which gives the same answer
// as testing every offset.
#include "bitstream/h264_nal.h"

#include <cstring>

namespace qv {
namespace {

bool IsAcceptedType(uint8_t header) {
    const int type = header & 0x1F;
    return type >= 1 && type <= 13;
}

}  // namespace

const uint8_t* FindH264Start(const uint8_t* data, int length) {
    if (data == nullptr || length <= 4) return nullptr;
    // Offsets i with i < length - 4; the 01 of a start code at i sits at i + 2.
    const int last = length - 5;
    int pos = 0;  // smallest offset still allowed to begin a start code
    while (pos <= last) {
        const void* hit = std::memchr(data + pos + 2, 0x01, static_cast<size_t>(last - pos + 1));
        if (hit == nullptr) return nullptr;
        const int i = static_cast<int>(static_cast<const uint8_t*>(hit) - data) - 2;
        if (data[i] != 0 || data[i + 1] != 0) {
            pos = i + 1;
            continue;
        }
        if (IsAcceptedType(data[i + 3])) return data + i;
        // A unit of another type: its start code and header byte are passed over whole.
        pos = i + 4;
    }
    return nullptr;
}

const uint8_t* FindH264End(const uint8_t* data, int length) {
    if (data == nullptr || length <= 4) return nullptr;
    const int last = length - 5;  // i < length - 4
    int pos = 0;
    while (pos <= last) {
        const void* hit = std::memchr(data + pos, 0x00, static_cast<size_t>(last - pos + 1));
        if (hit == nullptr) return nullptr;
        const int i = static_cast<int>(static_cast<const uint8_t*>(hit) - data);
        if (data[i + 1] == 0) {
            if (data[i + 2] <= 1) return data + i;
            // 00 00 xx with xx > 1: no end can begin at i or i + 1.
            pos = i + 2;
        } else {
            pos = i + 2;  // data[i + 1] is not zero, so no end begins there either
        }
    }
    return nullptr;
}

bool FindH264NalUnit(const uint8_t* data, int length, int& offset, int& size) {
    const uint8_t* start = FindH264Start(data, length);
    if (start == nullptr) return false;
    offset = static_cast<int>(start - data);
    const uint8_t* end = FindH264End(start + 4, length - offset - 4);
    size = end ? static_cast<int>(end - start) : length - offset;
    return true;
}

bool DisableLastSeiOrSps(uint8_t* data, int length) {
    if (data == nullptr) return false;
    for (int i = length - 4; i >= 0; --i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
        const int type = data[i + 3] & 0x1F;
        if (type == 6 || type == 7) {
            data[i + 3] |= 0x10;
            return true;
        }
    }
    return false;
}

}  // namespace qv

namespace qv {

bool RepackH264NalUnits(const uint8_t* data, int length, uint8_t* out, int capacity,
                        int& out_length) {
    out_length = 0;
    if (data == nullptr || length <= 0) return true;
    int previous_type = 0;
    bool sps_seen = false;
    bool pps_seen = false;
    int p = 0;
    for (;;) {
        const uint8_t* s = FindH264Start(data + p, length - p);
        if (s == nullptr) return true;
        const int skipped = static_cast<int>(s - (data + p));  // zero runs, other units, garbage
        const int rest = length - p - skipped;                 // bytes from the unit's start code on
        const uint8_t* e = FindH264End(s + 4, rest - 4);
        const int n = e ? static_cast<int>(e - s) : rest;

        const int type = s[3] & 0x1F;
        switch (type) {
            case 7:
                sps_seen = true;
                previous_type = 7;
                break;
            case 8:
                pps_seen = true;
                previous_type = 8;
                break;
            case 5:
                // An IDR slice needs this frame's own parameter sets right in front of it.
                if (!(previous_type == 7 || previous_type == 8 || previous_type == 5) || !sps_seen ||
                    !pps_seen) {
                    return false;
                }
                previous_type = 5;
                break;
            case 1:
            case 2:
            case 3:
                // Parameter sets repeated in front of a non-IDR slice are hidden from the
                // decoder: the last SEI or SPS becomes a reserved unit type.
                if (previous_type == 7 || previous_type == 8) DisableLastSeiOrSps(out, out_length);
                previous_type = type;
                break;
            default:
                break;  // 4, 6, 9 to 13 leave the previous type as it was
        }

        if (out == nullptr || n + 1 > capacity - out_length) return false;
        std::memcpy(out + out_length, s, static_cast<size_t>(n));
        out[out_length + n] = 0;
        out_length += n + 1;
        p += skipped + n;
    }
}

}  // namespace qv
