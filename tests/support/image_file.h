// Test helper: PNG and JPEG files read back with libavcodec's decoders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

struct Image {
    std::string codec;         // "png" or "mjpeg"
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // packed RGB24, top row first
};

// False when the file is missing or neither a PNG nor a JPEG libavcodec can decode.
bool ReadImage(const std::string& path, Image* image);

}  // namespace qvtest
