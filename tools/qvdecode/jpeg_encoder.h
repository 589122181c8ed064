// JPEG encoding of packed RGB24 pictures in memory, with libjpeg-turbo: the wall's HTTP
// server hands out its tiles and mosaic this way.
#pragma once

#include <cstdint>
#include <string>

namespace qvtool {

// Encodes a width x height RGB24 picture (rows of width * 3 bytes, no padding) at quality
// 1-100 into *out; false (out emptied) when libjpeg refuses it.
bool EncodeJpeg(const uint8_t* rgb, int width, int height, int quality, std::string* out);

}  // namespace qvtool
