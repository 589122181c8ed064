// Shared by the fuzz targets: inputs are capped and copied into a heap block of exactly
// their size, so that AddressSanitizer reports any read past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace qvfuzz {

constexpr size_t kMaxInput = 1 << 20;

struct ExactCopy {
    std::unique_ptr<uint8_t[]> bytes;
    int length = 0;
    ExactCopy(const uint8_t* data, size_t size) {
        if (size > kMaxInput) size = kMaxInput;
        bytes.reset(new uint8_t[size ? size : 1]);
        if (size) std::memcpy(bytes.get(), data, size);
        length = static_cast<int>(size);
    }
};

}  // namespace qvfuzz
