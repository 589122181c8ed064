// The BMP file writer behind WriteBmpFile, SavePicture and the decoder's snapshots.
#include "snapshot/bmp_writer.h"

#include <cstdio>
#include <cstring>

#include "QVDecoder.h"

namespace qv {
namespace {

void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Writes all bytes or reports failure: a short write means a full disk or a broken
// device, and the caller must not call the snapshot saved.
bool WriteAll(std::FILE* file, const uint8_t* data, size_t size) {
    return size == 0 || std::fwrite(data, 1, size, file) == size;
}

}  // namespace

bool MakeBmpHeader(uint8_t* header, int width, int height, int bits) {
    std::memset(header, 0, kBmpHeaderSize);
    if (width < 0 || height < 0) return false;
    const uint64_t file_size = kBmpHeaderSize + 3ull * static_cast<uint64_t>(width) * height;
    if (file_size > 0xFFFFFFFFull) return false;
    // signature: "BM"
    header[0] = 'B';
    header[1] = 'M';
    // file size: 4
    PutLe32(header + 2, static_cast<uint32_t>(file_size));
    // reserved: 4, stays 0
    // offset of the pixel data: 4
    PutLe32(header + 10, kBmpHeaderSize);
    // size of the information header: 4
    PutLe32(header + 14, 40);
    // width: 4
    PutLe32(header + 18, static_cast<uint32_t>(width));
    // height: 4, positive, so the first stored row is the bottom row
    PutLe32(header + 22, static_cast<uint32_t>(height));
    // planes: 2
    PutLe16(header + 26, 1);
    // bits per pixel: 2
    PutLe16(header + 28, static_cast<uint8_t>(bits));
    // compression, image size, resolutions, colours used, important colours: all 0
    return true;
}

int WriteBmp(const char* path, const uint8_t* data, int width, int height, bool top_down) {
    if (!path || !data || width <= 0 || height <= 0) return -1;
    uint8_t header[kBmpHeaderSize];
    if (!MakeBmpHeader(header, width, height, 24)) return -1;

    std::FILE* file = std::fopen(path, "wb+");
    if (!file) return -1;

    const size_t row = 3u * static_cast<size_t>(width);
    bool ok = WriteAll(file, header, sizeof(header));
    if (!top_down) {
        ok = ok && WriteAll(file, data, row * static_cast<size_t>(height));
    } else {
        // The file stores the bottom row first; walking the rows backwards saves a copy.
        for (int y = height - 1; ok && y >= 0; --y) {
            ok = WriteAll(file, data + row * static_cast<size_t>(y), row);
        }
    }
    // fclose flushes the last buffered bytes, so its result counts as a write.
    if (std::fclose(file) != 0) ok = false;
    return ok ? 0 : -1;
}

}  // namespace qv

int WriteBmpFile(const char* path, unsigned char* data, int width, int height) {
    return qv::WriteBmp(path, data, width, height, false);
}
