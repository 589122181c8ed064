// The wall's mosaic: one RGB24 tile per camera, each behind its own lock so that a camera
// drawing its picture waits at most for one copy of its own tile. Tiles of cameras that are
// away or were never reached carry a mark in every copy handed out (PNG, JPEG, page).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace qvtool {

enum class TileMark { kNone, kAway, kNotReached };

class Mosaic {
public:
    Mosaic(int count, int cols, int tile_width, int tile_height);

    int count() const { return static_cast<int>(tiles_.size()); }
    int cols() const { return cols_; }
    int tile_width() const { return tile_w_; }
    int tile_height() const { return tile_h_; }
    int width() const { return cols_ * tile_w_; }
    int height() const { return rows_ * tile_h_; }

    // A camera's new picture, tile_width x tile_height RGB24.
    void Draw(int index, const uint8_t* tile);
    void SetMark(int index, TileMark mark);

    // Grow by one with every picture drawn and every mark changed, of one tile or of any.
    uint64_t Version() const { return version_.load(); }
    uint64_t TileVersion(int index) const;

    // The tile as shown, mark drawn; returns the version copied.
    uint64_t CopyTile(int index, std::vector<uint8_t>* rgb) const;
    // The whole mosaic as shown; returns a version the copy is at least as new as.
    uint64_t CopyAll(std::vector<uint8_t>* rgb) const;

private:
    struct Tile {
        mutable std::mutex mutex;
        std::vector<uint8_t> pixels;
        TileMark mark = TileMark::kNotReached;
        std::atomic<uint64_t> version{0};
    };
    void CopyTileTo(const Tile& tile, uint8_t* dst, size_t stride) const;

    int cols_, rows_, tile_w_, tile_h_;
    std::vector<std::unique_ptr<Tile>> tiles_;
    std::atomic<uint64_t> version_{0};
};

}  // namespace qvtool
