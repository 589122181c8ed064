// Snapshot files in PNG or JPEG, written with libavcodec's own encoders; BMP stays with the
// library's QVSaveOutputImage unless the picture is to be turned.
#pragma once

#include <cstdint>
#include <string>

namespace qvtool {

enum class SnapshotFormat { kPng, kJpeg, kBmp };

// "png", "jpg" (or "jpeg"), "bmp"; false for anything else.
bool ParseSnapshotFormat(const std::string& name, SnapshotFormat* format);
const char* SnapshotExtension(SnapshotFormat format);

// Encodes a picture held as contiguous planes without row padding (the library's layout) into
// a PNG or JPEG file (or, given kBmp, a BMP file through WriteBmpFile). ffmpeg_format is an
// AVPixelFormat; `colour` is the picture's matrix and range as QVGetPictureColour gives it
// (-1 or 0: BT.601 limited), which YUV pictures are turned into RGB with; `rotation` turns
// the picture clockwise by that many degrees (0, 90, 180, 270) on the way, as
// QVGetPictureRotation says to show it upright. Returns an empty string on success,
// otherwise what went wrong.
std::string WriteEncodedImage(const std::string& path, SnapshotFormat format, const uint8_t* data,
                              int size, int width, int height, int ffmpeg_format, int colour = 0,
                              int rotation = 0);

// Turns packed pixels of `bytes` bytes each (rows `stride` bytes apart) clockwise by
// `rotation` degrees (0, 90, 180, 270) into `out`, whose rows are packed; *width and *height
// become the turned picture's.
void TurnPacked(const uint8_t* data, int stride, int bytes, int rotation, int* width, int* height, uint8_t* out);

}  // namespace qvtool
