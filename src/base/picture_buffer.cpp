#include "base/picture_buffer.h"

#include <cstring>

#include "base/ffmpeg.h"

namespace qv {

uint8_t* AllocatePicture(int size) {
    if (size <= 0) return nullptr;
    auto* buffer = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(size) + kPicturePadding));
    if (buffer) std::memset(buffer + size, 0, kPicturePadding);
    return buffer;
}

}  // namespace qv
