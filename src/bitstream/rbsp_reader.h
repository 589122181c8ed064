// The fields of an H.264 RBSP: fixed-width bits and exp-Golomb codes, most significant bit
// first, over bytes whose emulation prevention has been taken out. Reads past the end give
// zero bits and make ok() false; nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// Copies data[0, size) into out without its emulation prevention bytes (the 03 of each
// 00 00 03), at most capacity bytes; returns the bytes written.
inline int RemoveEmulationPrevention(const uint8_t* data, int size, uint8_t* out, int capacity) {
    int written = 0;
    int zeros = 0;
    for (int i = 0; i < size && written < capacity; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        out[written++] = data[i];
    }
    return written;
}

class RbspReader {
public:
    RbspReader(const uint8_t* data, int length) : data_(data), length_(length) {}

    bool ok() const { return bit_ <= static_cast<size_t>(length_) * 8; }
    size_t pos() const { return bit_; }

    uint32_t u(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit_) {
            const size_t at = bit_ / 8;
            v = (v << 1) | (at < static_cast<size_t>(length_) ? (data_[at] >> (7 - bit_ % 8)) & 1u : 0u);
        }
        return v;
    }
    uint32_t ue() {
        int zeros = 0;
        while (zeros < 32 && ok() && u(1) == 0) ++zeros;
        if (zeros >= 32) return 0;
        return (1u << zeros) - 1 + u(zeros);
    }
    int32_t se() {
        const uint32_t k = ue();
        return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
    }

private:
    const uint8_t* data_;
    int length_;
    size_t bit_ = 0;
};

// The start of a unit's RBSP, copied without its emulation prevention: enough for the header
// fields read from parameter sets and slice headers (an SPS's scaling lists included).
struct RbspHead {
    static constexpr int kBytes = 256;
    uint8_t bytes[kBytes];
    RbspReader reader;
    RbspHead(const uint8_t* data, int size) : reader(bytes, RemoveEmulationPrevention(data, size, bytes, kBytes)) {}
};

}  // namespace qv
