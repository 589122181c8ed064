// Writing 24-bit BMP files: the header and the pixel rows.
#pragma once

#include <cstdint>

namespace qv {

constexpr int kBmpHeaderSize = 54;

// Fills the 54-byte file and information header of an uncompressed BMP of width x height
// pixels; returns false when the picture is too large for the format's 32-bit size field.
bool MakeBmpHeader(uint8_t* header, int width, int height, int bits);

// Writes packed BGR24 rows (3 x width bytes each, no padding) as a BMP file. With
// top_down false the first row of data becomes the bottom row of the image (the file's
// own row order, written in one piece); with top_down true it becomes the top row.
// 0 on success; -1 for bad arguments, a file that cannot be opened, or any failed write
// or close.
int WriteBmp(const char* path, const uint8_t* data, int width, int height, bool top_down);

}  // namespace qv
