// A big-endian bit reader over a byte range, used by the program-stream header parsers.
#pragma once

#include <cstdint>

namespace qv {

struct BitReader {
    const uint8_t* data;  // first byte of the range
    int byte_pos;         // index of the current byte
    int bit_pos;          // bits of the current byte already consumed, from the MSB (0..7)
    int last;             // index of the last byte of the range (length - 1)
};

inline BitReader MakeBitReader(const uint8_t* data, int length) {
    return BitReader{data, 0, 0, length - 1};
}

// The next n bits (1 <= n <= 24), most significant first; -1 on failure with the reader
// unchanged. A read needs byte_pos + n / 8 + 2 bytes in the range, a margin the headers
// parsed with it rely on.
int ReadBits(BitReader& reader, int n);

// ReadBits without advancing.
int PeekBits(const BitReader& reader, int n);

}  // namespace qv
