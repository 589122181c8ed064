#include "bitstream/field_split.h"

#include <cstring>

namespace qv {

int GetField(const uint8_t* data, int length) {
    if (data == nullptr || length < 3) return -1;
    if (data[0] != 0 || data[1] != 0 || data[2] > 1) return -1;
    // Offsets i with 3 <= i < length - 3; the 01 of a start code at i sits at i + 2.
    const int last = length - 4;
    int pos = 3;
    while (pos <= last) {
        const void* hit = std::memchr(data + pos + 2, 0x01, static_cast<size_t>(last - pos + 1));
        if (hit == nullptr) return -1;
        const int i = static_cast<int>(static_cast<const uint8_t*>(hit) - data) - 2;
        if (data[i] == 0 && data[i + 1] == 0) return i;
        pos = i + 1;
    }
    return -1;
}

}  // namespace qv
