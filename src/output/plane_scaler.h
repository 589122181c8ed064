// Scaling of one 8-bit plane with rows of memory it keeps. libyuv's plane scaler takes a row
// buffer from malloc at every call for its box filter at other ratios than 2:1, 4:1, 4:3 and
// 8:3, and for its bilinear filter (a shrink under 2:1, every enlargement): one to three per
// plane and picture. Those paths run here on libyuv's own row functions (summing rows,
// interpolating rows, filtering columns) with rows made once per geometry; the ratios libyuv
// scales without allocating stay with it.
#pragma once

#include <cstdint>
#include <vector>

namespace qv {

class PlaneScaler {
public:
    // One geometry (sizes positive); `box`: a box filter where the plane shrinks by 2:1 or
    // more both ways, bilinear elsewhere (as libyuv's box mode does).
    void Prepare(int src_width, int src_height, int dst_width, int dst_height, bool box);
    void Scale(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride) const;

    enum class Path { kLibyuv, kBox, kBilinear };
    Path path() const { return path_; }

private:
    void ScaleBox(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride) const;
    void ScaleBilinear(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride) const;

    int src_width_ = 0, src_height_ = 0, dst_width_ = 0, dst_height_ = 0;
    bool box_ = false;
    Path path_ = Path::kLibyuv;
    // The kept rows: sums of a box's rows (16-bit), or one row interpolated between two
    // source rows with room behind it for the column filter's right neighbour.
    mutable std::vector<uint16_t> sums_;
    mutable std::vector<uint8_t> row_;
};

}  // namespace qv
