#include "output/plane_scaler.h"

#include <libyuv/cpu_id.h>
#include <libyuv/row.h>
#include <libyuv/scale.h>
#include <libyuv/scale_row.h>

#include <algorithm>
#include <cstring>

namespace qv {
namespace {

using AddRowFn = void (*)(const uint8_t*, uint16_t*, int);
using InterpolateFn = void (*)(uint8_t*, const uint8_t*, ptrdiff_t, int, int);
using FilterColsFn = void (*)(uint8_t*, const uint8_t*, int, int, int);

// libyuv's choice of row function: the SIMD one for whole blocks, its "Any" form (blocks, then
// the rest in C, which must not be empty) for other widths.
AddRowFn AddRow(int width) {
#if defined(__x86_64__) || defined(__i386__)
    if (libyuv::TestCpuFlag(libyuv::kCpuHasAVX2)) {
        return width % 32 == 0 ? libyuv::ScaleAddRow_AVX2 : libyuv::ScaleAddRow_Any_AVX2;
    }
    if (libyuv::TestCpuFlag(libyuv::kCpuHasSSE2)) {
        return width % 16 == 0 ? libyuv::ScaleAddRow_SSE2 : libyuv::ScaleAddRow_Any_SSE2;
    }
#endif
    return libyuv::ScaleAddRow_C;
}

InterpolateFn Interpolate(int width) {
#if defined(__x86_64__) || defined(__i386__)
    if (libyuv::TestCpuFlag(libyuv::kCpuHasAVX2)) {
        return width % 32 == 0 ? libyuv::InterpolateRow_AVX2 : libyuv::InterpolateRow_Any_AVX2;
    }
    if (libyuv::TestCpuFlag(libyuv::kCpuHasSSSE3)) {
        return width % 16 == 0 ? libyuv::InterpolateRow_SSSE3 : libyuv::InterpolateRow_Any_SSSE3;
    }
#endif
    return libyuv::InterpolateRow_C;
}

FilterColsFn FilterCols(int src_width) {
#if defined(__x86_64__) || defined(__i386__)
    if (libyuv::TestCpuFlag(libyuv::kCpuHasSSSE3) && src_width < 32768) return libyuv::ScaleFilterCols_SSSE3;
#endif
    return src_width < 32768 ? libyuv::ScaleFilterCols_C : libyuv::ScaleFilterCols64_C;
}

// Step and start of a bilinear axis in 16.16 fixed point: shrinking samples the centres of
// the destination's pixels, enlarging spreads the first to the last source pixel over it.
void Slope(int src, int dst, int* start, int* step) {
    if (dst <= src) {
        *step = static_cast<int>((static_cast<int64_t>(src) << 16) / dst);
        *start = *step / 2 - 32768;
    } else {
        *step = dst > 1 && src > 1 ? static_cast<int>((static_cast<int64_t>(src - 1) << 16) / (dst - 1)) : 0;
        *start = 0;
    }
}

}  // namespace

void PlaneScaler::Prepare(int src_width, int src_height, int dst_width, int dst_height, bool box) {
    src_width_ = src_width;
    src_height_ = src_height;
    dst_width_ = dst_width;
    dst_height_ = dst_height;
    box_ = box;
    const auto shrinks_by = [&](int num, int den) {
        return dst_width * den == src_width * num && dst_height * den == src_height * num;
    };
    // libyuv's own allocation-free paths: the same size, and its fixed shrinking ratios.
    const bool same = src_width == dst_width && src_height == dst_height;
    const bool fixed = shrinks_by(1, 2) || shrinks_by(3, 4) || shrinks_by(3, 8) || (box && shrinks_by(1, 4));
    // Box sums are 16-bit: at most 257 rows of 255 each.
    const bool box_fits = src_height / dst_height < 256;
    if (same || fixed) {
        path_ = Path::kLibyuv;
    } else if (box && dst_width * 2 < src_width && dst_height * 2 < src_height) {
        path_ = box_fits ? Path::kBox : Path::kLibyuv;
    } else {
        path_ = Path::kBilinear;
    }
    sums_.assign(path_ == Path::kBox ? static_cast<size_t>(src_width) + 32 : 0, 0);
    // The source row with room behind it, and two rows of the destination's width when enlarging.
    const size_t wide = dst_height > src_height ? 2 * (static_cast<size_t>(dst_width) + 64) : 0;
    row_.assign(path_ == Path::kBilinear ? static_cast<size_t>(src_width) + 64 + wide : 0, 0);
}

void PlaneScaler::Scale(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride) const {
    switch (path_) {
        case Path::kBox: ScaleBox(src, src_stride, dst, dst_stride); return;
        case Path::kBilinear: ScaleBilinear(src, src_stride, dst, dst_stride); return;
        case Path::kLibyuv:
            libyuv::ScalePlane(src, src_stride, src_width_, src_height_, dst, dst_stride, dst_width_, dst_height_,
                               box_ ? libyuv::kFilterBox : libyuv::kFilterBilinear);
            return;
    }
}

void PlaneScaler::ScaleBox(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride) const {
    // Each destination pixel is the mean of the source pixels its box covers; boxes of a
    // row differ by at most one pixel each way.
    const AddRowFn add = AddRow(src_width_);
    const int64_t dx = (static_cast<int64_t>(src_width_) << 16) / dst_width_;
    const int64_t dy = (static_cast<int64_t>(src_height_) << 16) / dst_height_;
    uint16_t* sums = sums_.data();
    int64_t y = 0;
    for (int j = 0; j < dst_height_; ++j) {
        const int top = static_cast<int>(y >> 16);
        y = std::min<int64_t>(y + dy, static_cast<int64_t>(src_height_) << 16);
        const int rows = std::max(1, static_cast<int>(y >> 16) - top);
        std::memset(sums, 0, sizeof(uint16_t) * static_cast<size_t>(src_width_));
        for (int k = 0; k < rows; ++k) add(src + static_cast<ptrdiff_t>(top + k) * src_stride, sums, src_width_);
        uint8_t* out = dst + static_cast<ptrdiff_t>(j) * dst_stride;
        // Reciprocals of the pixel counts in 16.16 instead of a division per pixel; a box is
        // `narrow` or `narrow + 1` pixels wide.
        const int narrow = std::max(1, static_cast<int>(dx >> 16));
        const uint32_t recip[2] = {(65536u + narrow * rows / 2) / (narrow * rows),
                                   (65536u + (narrow + 1) * rows / 2) / ((narrow + 1) * rows)};
        if ((dx & 0xFFFF) == 0) {
            // Whole ratios (3:1 and the like): every box has the same width.
            const uint16_t* in = sums;
            for (int i = 0; i < dst_width_; ++i, in += narrow) {
                uint32_t sum = 0;
                for (int k = 0; k < narrow; ++k) sum += in[k];
                out[i] = static_cast<uint8_t>(std::min<uint32_t>(255, (sum * recip[0] + 32768) >> 16));
            }
            continue;
        }
        int64_t x = 0;
        for (int i = 0; i < dst_width_; ++i) {
            const int left = static_cast<int>(x >> 16);
            x += dx;
            const int right = std::min(src_width_, std::max(left + narrow, static_cast<int>(x >> 16)));
            uint32_t sum = 0;
            for (int k = left; k < right; ++k) sum += sums[k];
            const uint32_t value = (sum * recip[right - left > narrow ? 1 : 0] + 32768) >> 16;
            out[i] = static_cast<uint8_t>(value > 255 ? 255 : value);
        }
    }
}

void PlaneScaler::ScaleBilinear(const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride) const {
    int x0 = 0, dx = 0, y0 = 0, dy = 0;
    Slope(src_width_, dst_width_, &x0, &dx);
    Slope(src_height_, dst_height_, &y0, &dy);
    const int64_t max_y = static_cast<int64_t>(src_height_ - 1) << 16;
    const FilterColsFn cols = FilterCols(src_width_);
    uint8_t* row = row_.data();
    if (dst_height_ > src_height_) {
        // Enlarging: each source row is filtered to the destination's width once (two kept
        // rows), and destination rows are interpolated between them.
        const InterpolateFn interpolate = Interpolate(dst_width_);
        const size_t wide = static_cast<size_t>(dst_width_) + 64;
        uint8_t* filtered[2] = {row + src_width_ + 64, row + src_width_ + 64 + wide};
        int held[2] = {-1, -1};  // the source row each kept row holds
        const auto filter = [&](int index, uint8_t* out) {
            std::memcpy(row, src + static_cast<ptrdiff_t>(index) * src_stride, static_cast<size_t>(src_width_));
            row[src_width_] = row[src_width_ - 1];
            cols(out, row, dst_width_, std::max(x0, 0), dx);
        };
        for (int j = 0; j < dst_height_; ++j) {
            const int64_t y = std::clamp<int64_t>(y0 + static_cast<int64_t>(j) * dy, 0, max_y);
            const int top = static_cast<int>(y >> 16);
            const int below = std::min(top + 1, src_height_ - 1);
            if (held[0] != top) {
                if (held[1] == top) {
                    std::swap(filtered[0], filtered[1]);
                    std::swap(held[0], held[1]);
                } else {
                    filter(top, filtered[0]);
                    held[0] = top;
                }
            }
            if (held[1] != below) {
                filter(below, filtered[1]);
                held[1] = below;
            }
            interpolate(dst + static_cast<ptrdiff_t>(j) * dst_stride, filtered[0], filtered[1] - filtered[0],
                        dst_width_, static_cast<int>((y >> 8) & 255));
        }
        return;
    }
    // Shrinking: the two source rows around each destination row are interpolated into the
    // kept row, which the column filter then reads (one pixel behind its end repeats the last).
    const InterpolateFn interpolate = Interpolate(src_width_);
    for (int j = 0; j < dst_height_; ++j) {
        const int64_t y = std::clamp<int64_t>(y0 + static_cast<int64_t>(j) * dy, 0, max_y);
        const int top = static_cast<int>(y >> 16);
        const int fraction = top + 1 < src_height_ ? static_cast<int>((y >> 8) & 255) : 0;
        interpolate(row, src + static_cast<ptrdiff_t>(top) * src_stride, fraction ? src_stride : 0, src_width_,
                    fraction);
        row[src_width_] = row[src_width_ - 1];
        cols(dst + static_cast<ptrdiff_t>(j) * dst_stride, row, dst_width_, std::max(x0, 0), dx);
    }
}

}  // namespace qv
