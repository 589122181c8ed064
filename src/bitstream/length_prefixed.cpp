#include "bitstream/length_prefixed.h"

#include <cstring>

namespace qv {

int LengthPrefixedToAnnexB(const uint8_t* data, int length, int length_size, uint8_t* out, int capacity) {
    static constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
    if (!data || !out || length < 0 || capacity < 0) return -1;
    if (length_size != 1 && length_size != 2 && length_size != 4) return -1;
    int read = 0;
    int written = 0;
    while (read < length) {
        // unit_length: 8 x length_size, big-endian
        if (length - read < length_size) return -1;
        uint32_t unit = 0;
        for (int i = 0; i < length_size; ++i) unit = (unit << 8) | data[read + i];
        read += length_size;
        if (unit > static_cast<uint32_t>(length - read)) return -1;
        const int size = static_cast<int>(unit);
        if (capacity - written < 4 || capacity - written - 4 < size) return -1;
        std::memcpy(out + written, kStartCode, 4);
        std::memcpy(out + written + 4, data + read, static_cast<size_t>(size));
        written += 4 + size;
        read += size;
    }
    return written;
}

}  // namespace qv
