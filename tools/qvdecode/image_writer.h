// Snapshot files in PNG or JPEG, written with libavcodec's own encoders; BMP stays with the
// library's QVSaveOutputImage.
#pragma once

#include <cstdint>
#include <string>

namespace qvtool {

enum class SnapshotFormat { kPng, kJpeg, kBmp };

// "png", "jpg" (or "jpeg"), "bmp"; false for anything else.
bool ParseSnapshotFormat(const std::string& name, SnapshotFormat* format);
const char* SnapshotExtension(SnapshotFormat format);

// Encodes a picture held as contiguous planes without row padding (the library's layout) into
// a PNG or JPEG file. ffmpeg_format is an AVPixelFormat; `colour` is the picture's matrix and
// range as QVGetPictureColour gives it (-1 or 0: BT.601 limited), which YUV pictures are
// turned into RGB with. Returns an empty string on success, otherwise what went wrong.
std::string WriteEncodedImage(const std::string& path, SnapshotFormat format, const uint8_t* data,
                              int size, int width, int height, int ffmpeg_format, int colour = 0);

}  // namespace qvtool
