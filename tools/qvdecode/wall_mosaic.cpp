#include "wall_mosaic.h"

#include <algorithm>
#include <cstring>

namespace qvtool {
namespace {

void Border(uint8_t* dst, size_t stride, int w, int h, int thickness, const uint8_t color[3]) {
    for (int y = 0; y < h; ++y) {
        uint8_t* row = dst + static_cast<size_t>(y) * stride;
        const bool band = y < thickness || y >= h - thickness;
        for (int x = 0; x < w; ++x) {
            if (band || x < thickness || x >= w - thickness) std::memcpy(row + x * 3, color, 3);
        }
    }
}

// Away: the last picture dimmed inside a red frame, so a frozen picture is never taken for a
// live one. Never reached: a dark tile crossed in amber.
void DrawMark(uint8_t* dst, size_t stride, int w, int h, TileMark mark) {
    if (mark == TileMark::kNone) return;
    const int thickness = std::max(2, std::min(w, h) / 24);
    if (mark == TileMark::kAway) {
        static const uint8_t kRed[3] = {230, 30, 30};
        for (int y = 0; y < h; ++y) {
            uint8_t* row = dst + static_cast<size_t>(y) * stride;
            for (int x = 0; x < w * 3; ++x) row[x] = static_cast<uint8_t>(row[x] * 2 / 5);
        }
        Border(dst, stride, w, h, thickness, kRed);
        return;
    }
    static const uint8_t kAmber[3] = {240, 170, 20};
    static const uint8_t kGrey[3] = {40, 40, 40};
    const int64_t reach = static_cast<int64_t>(thickness) * std::max(w, h) / 2;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = dst + static_cast<size_t>(y) * stride;
        for (int x = 0; x < w; ++x) {
            // Both diagonals, thickness pixels wide across the tile's own slope.
            const int64_t a = static_cast<int64_t>(x) * h - static_cast<int64_t>(y) * w;
            const int64_t b = static_cast<int64_t>(x) * h - static_cast<int64_t>(h - 1 - y) * w;
            const bool line = (a < 0 ? -a : a) <= reach || (b < 0 ? -b : b) <= reach;
            std::memcpy(row + x * 3, line ? kAmber : kGrey, 3);
        }
    }
    Border(dst, stride, w, h, thickness, kAmber);
}

}  // namespace

Mosaic::Mosaic(int count, int cols, int tile_width, int tile_height)
    : cols_(cols), rows_((count + cols - 1) / cols), tile_w_(tile_width), tile_h_(tile_height) {
    for (int i = 0; i < count; ++i) {
        auto tile = std::make_unique<Tile>();
        tile->pixels.assign(static_cast<size_t>(tile_w_) * tile_h_ * 3, 0);
        tiles_.push_back(std::move(tile));
    }
}

void Mosaic::Draw(int index, const uint8_t* pixels) {
    Tile& tile = *tiles_[static_cast<size_t>(index)];
    {
        std::lock_guard<std::mutex> lock(tile.mutex);
        std::memcpy(tile.pixels.data(), pixels, tile.pixels.size());
        ++tile.version;
    }
    ++version_;
}

void Mosaic::SetMark(int index, TileMark mark) {
    Tile& tile = *tiles_[static_cast<size_t>(index)];
    {
        std::lock_guard<std::mutex> lock(tile.mutex);
        if (tile.mark == mark) return;
        tile.mark = mark;
        ++tile.version;
    }
    ++version_;
}

uint64_t Mosaic::TileVersion(int index) const { return tiles_[static_cast<size_t>(index)]->version.load(); }

void Mosaic::CopyTileTo(const Tile& tile, uint8_t* dst, size_t stride) const {
    const size_t row_bytes = static_cast<size_t>(tile_w_) * 3;
    TileMark mark;
    {
        std::lock_guard<std::mutex> lock(tile.mutex);
        for (int y = 0; y < tile_h_; ++y) {
            std::memcpy(dst + static_cast<size_t>(y) * stride, &tile.pixels[static_cast<size_t>(y) * row_bytes],
                        row_bytes);
        }
        mark = tile.mark;
    }
    DrawMark(dst, stride, tile_w_, tile_h_, mark);
}

uint64_t Mosaic::CopyTile(int index, std::vector<uint8_t>* rgb) const {
    const Tile& tile = *tiles_[static_cast<size_t>(index)];
    rgb->resize(static_cast<size_t>(tile_w_) * tile_h_ * 3);
    // Read before the copy: the copy is at least as new, so a cache keyed by it errs only
    // towards encoding again.
    const uint64_t version = tile.version.load();
    CopyTileTo(tile, rgb->data(), static_cast<size_t>(tile_w_) * 3);
    return version;
}

uint64_t Mosaic::CopyAll(std::vector<uint8_t>* rgb) const {
    const uint64_t version = Version();
    const size_t stride = static_cast<size_t>(width()) * 3;
    rgb->assign(stride * height(), 0);
    for (size_t i = 0; i < tiles_.size(); ++i) {
        const int x0 = static_cast<int>(i) % cols_ * tile_w_, y0 = static_cast<int>(i) / cols_ * tile_h_;
        CopyTileTo(*tiles_[i], rgb->data() + static_cast<size_t>(y0) * stride + static_cast<size_t>(x0) * 3, stride);
    }
    return version;
}

}  // namespace qvtool
