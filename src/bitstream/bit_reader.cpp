#include "bitstream/bit_reader.h"

namespace qv {

int PeekBits(const BitReader& reader, int n) {
    if (reader.data == nullptr || n < 1 || n > 24) return -1;
    if (reader.bit_pos < 0 || reader.bit_pos > 7 || reader.byte_pos < 0) return -1;
    if (reader.byte_pos > reader.last) return -1;
    if (reader.byte_pos + n / 8 + 1 > reader.last) return -1;

    // Four bytes from byte_pos; those past the range count as zero and are never read.
    uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
        const int index = reader.byte_pos + k;
        const uint32_t byte = index <= reader.last ? reader.data[index] : 0;
        word = (word << 8) | byte;
    }
    const int shift = 32 - reader.bit_pos - n;
    return static_cast<int>((word >> shift) & ((1u << n) - 1u));
}

int ReadBits(BitReader& reader, int n) {
    const int value = PeekBits(reader, n);
    if (value < 0) return -1;
    reader.byte_pos += n / 8;
    reader.bit_pos += n % 8;
    if (reader.bit_pos >= 8) {
        reader.byte_pos += 1;
        reader.bit_pos -= 8;
    }
    return value;
}

}  // namespace qv
