// Picture buffers the scaler reads from.
#pragma once

#include <cstdint>

namespace qv {

// libswscale reads a few bytes past the last row of some inputs (packed RGB among them),
// so every picture buffer carries this many zero bytes behind its picture.
constexpr int kPicturePadding = 64;

// av_malloc'd buffer of size bytes plus the zeroed padding; null when size <= 0 or out of memory.
uint8_t* AllocatePicture(int size);

}  // namespace qv
