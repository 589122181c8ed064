// Test helpers: a BMP reader written from the file layout, and file utilities.
#include "bmp_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace qvtest {
namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

}  // namespace

std::vector<uint8_t> BmpImage::TopDown() const {
    const size_t row = 3u * static_cast<size_t>(width);
    std::vector<uint8_t> out(rows.size());
    for (int y = 0; y < height; ++y) {
        std::copy(rows.begin() + row * (height - 1 - y), rows.begin() + row * (height - y),
                  out.begin() + row * y);
    }
    return out;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool ReadBmp(const std::string& path, BmpImage* image) {
    const std::vector<uint8_t> b = ReadFileBytes(path);
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return false;
    image->file_size = Le32(b, 2);
    image->data_offset = Le32(b, 10);
    image->info_size = Le32(b, 14);
    image->width = static_cast<int32_t>(Le32(b, 18));
    image->height = static_cast<int32_t>(Le32(b, 22));
    image->planes = Le16(b, 26);
    image->bits = Le16(b, 28);
    image->compression = Le32(b, 30);
    if (image->bits != 24 || image->compression != 0 || image->width <= 0 || image->height <= 0) {
        return false;
    }
    const size_t pixels = 3u * static_cast<size_t>(image->width) * image->height;
    if (image->data_offset > b.size() || b.size() - image->data_offset < pixels) return false;
    image->rows.assign(b.begin() + image->data_offset, b.begin() + image->data_offset + pixels);
    return true;
}

std::string ScratchDir(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qv-" + name + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return "/tmp";
    return std::string(buf.data());
}

}  // namespace qvtest
