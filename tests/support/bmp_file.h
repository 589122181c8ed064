// Test helpers: reading back 24-bit BMP files and small file utilities.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

// A BMP file parsed by the tests' own reader, independent of the library's writer.
struct BmpImage {
    uint32_t file_size = 0;     // header field at offset 2
    uint32_t data_offset = 0;   // offset 10
    uint32_t info_size = 0;     // offset 14
    int32_t width = 0;          // offset 18
    int32_t height = 0;         // offset 22
    uint16_t planes = 0;        // offset 26
    uint16_t bits = 0;          // offset 28
    uint32_t compression = 0;   // offset 30
    std::vector<uint8_t> rows;  // pixel data as stored (bottom row first)

    // The image as it is seen: top row first, 3 bytes (B, G, R) per pixel.
    std::vector<uint8_t> TopDown() const;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
// Parses a BMP file; false if it is missing, short or not a 24-bit uncompressed bitmap.
bool ReadBmp(const std::string& path, BmpImage* image);

// A fresh temporary directory for one test's files.
std::string ScratchDir(const std::string& name);

}  // namespace qvtest
