#include "output/yuv_engine.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include <initializer_list>

#include "base/ffmpeg.h"

#if defined(__x86_64__) || defined(__i386__)
#include <libyuv/row.h>  // the layout of YuvConstants on x86
#define QV_UNCLAMPED_CONSTANTS 1
#endif

namespace qv {
namespace {

bool SourceLayout(int format, int* layout) {
    switch (format) {
        case AV_PIX_FMT_YUV420P:
        case AV_PIX_FMT_YUVJ420P: *layout = 0; return true;
        case AV_PIX_FMT_NV12: *layout = 1; return true;
        case AV_PIX_FMT_NV21: *layout = 2; return true;
        default: return false;
    }
}

bool RgbDestination(int format) {
    switch (format) {
        case AV_PIX_FMT_BGR24:
        case AV_PIX_FMT_RGB24:
        case AV_PIX_FMT_BGRA:
        case AV_PIX_FMT_RGBA:
        case AV_PIX_FMT_ARGB:
        case AV_PIX_FMT_ABGR: return true;
        default: return false;
    }
}

// libyuv's limited-range tables clamp the U-to-blue coefficient at 128 (2.0 in its 6-bit
// fixed point), a limit of other processors' writers: BT.601 needs 129, BT.709 135, BT.2020
// 137. Its x86 writers take the coefficient as an unsigned byte, so tables with the true
// value put saturated blues within a level of the matrix instead of up to 8 levels off.
struct alignas(64) LimitedTables {  // the writers load the tables with aligned moves
    libyuv::YuvConstants yuv[3];  // BT.601, BT.709, BT.2020, U first
    libyuv::YuvConstants yvu[3];  // the same for V first
};

#ifdef QV_UNCLAMPED_CONSTANTS
libyuv::YuvConstants Unclamped(const libyuv::YuvConstants& stock, int u_to_blue) {
    libyuv::YuvConstants k = stock;
    for (uint8_t* table : {k.kUVToB, k.kUVToR}) {
        for (int i = 0; i < 32; ++i) {
            if (table[i] == 128) table[i] = static_cast<uint8_t>(u_to_blue);
        }
    }
    return k;
}

const LimitedTables& Limited() {
    static const LimitedTables tables{
        {Unclamped(libyuv::kYuvI601Constants, 129), Unclamped(libyuv::kYuvH709Constants, 135),
         Unclamped(libyuv::kYuv2020Constants, 137)},
        {Unclamped(libyuv::kYvuI601Constants, 129), Unclamped(libyuv::kYvuH709Constants, 135),
         Unclamped(libyuv::kYvu2020Constants, 137)}};
    return tables;
}
#endif

const libyuv::YuvConstants* LimitedConstants(int matrix, bool swapped) {
#ifdef QV_UNCLAMPED_CONSTANTS
    return swapped ? &Limited().yvu[matrix] : &Limited().yuv[matrix];
#else
    static const libyuv::YuvConstants* const stock[2][3] = {
        {&libyuv::kYuvI601Constants, &libyuv::kYuvH709Constants, &libyuv::kYuv2020Constants},
        {&libyuv::kYvuI601Constants, &libyuv::kYvuH709Constants, &libyuv::kYvu2020Constants}};
    return stock[swapped ? 1 : 0][matrix];
#endif
}

// libyuv names packed formats by the 32-bit word read little-endian, FFmpeg by bytes in
// memory: FFmpeg's BGR24 is libyuv's RGB24, FFmpeg's BGRA is libyuv's ARGB. The mirrored
// orders come from the same writers with U and V swapped and the "Yvu" constants.
const libyuv::YuvConstants* Constants(PictureColour colour, bool swapped) {
    switch (colour.matrix) {
        case Matrix::kBt709:
            if (!colour.full_range) return LimitedConstants(1, swapped);
            return swapped ? &libyuv::kYvuF709Constants : &libyuv::kYuvF709Constants;
        case Matrix::kBt2020:
            if (!colour.full_range) return LimitedConstants(2, swapped);
            return swapped ? &libyuv::kYvuV2020Constants : &libyuv::kYuvV2020Constants;
        case Matrix::kBt601:
            if (!colour.full_range) return LimitedConstants(0, swapped);
            return swapped ? &libyuv::kYvuJPEGConstants : &libyuv::kYuvJPEGConstants;
        default: return nullptr;
    }
}

int AlignedStride(int bytes) { return (bytes + 63) & ~63; }

}  // namespace

bool YuvEngine::Covers(int source, int destination) {
    int layout = 0;
    if (!SourceLayout(source, &layout)) return false;
    if (RgbDestination(destination)) return true;
    // Only limited-range sources go to yuv420p: libswscale turns a yuvj420p picture into
    // limited range on the way, which a plain copy would not do.
    return destination == AV_PIX_FMT_YUV420P && source != AV_PIX_FMT_YUVJ420P;
}

bool YuvEngine::Converts(PictureColour colour) { return Constants(colour, false) != nullptr; }

void YuvEngine::Reset() {
    ready_ = false;
    scratch_.reset();
    for (int i = 0; i < 4; ++i) {
        scratch_data_[i] = nullptr;
        scratch_linesize_[i] = 0;
    }
    split_[0] = split_[1] = nullptr;
    split_linesize_ = 0;
}

bool YuvEngine::Prepare(int src_width, int src_height, int src_format, int dst_width, int dst_height,
                        int dst_format) {
    Reset();
    int layout = 0;
    if (!Covers(src_format, dst_format) || !SourceLayout(src_format, &layout)) return false;
    if (src_width <= 0 || src_height <= 0 || dst_width <= 0 || dst_height <= 0) return false;
    src_width_ = src_width;
    src_height_ = src_height;
    src_format_ = src_format;
    dst_width_ = dst_width;
    dst_height_ = dst_height;
    dst_format_ = dst_format;
    scaled_ = src_width != dst_width || src_height != dst_height;
    filter_ = (dst_width < src_width || dst_height < src_height) ? libyuv::kFilterBox : libyuv::kFilterBilinear;
    const bool box = filter_ == libyuv::kFilterBox;
    planes_[0].Prepare(src_width, src_height, dst_width, dst_height, box);
    for (int i = 1; i < 3; ++i) {
        planes_[i].Prepare((src_width + 1) / 2, (src_height + 1) / 2, (dst_width + 1) / 2, (dst_height + 1) / 2, box);
    }
    if (!scaled_) {
        ready_ = true;
        return true;
    }
    // Scaled pictures become planar 4:2:0 of the destination size first (a planar source
    // scaled into yuv420p goes straight to the output). Interleaved chroma is split into
    // planes of its own size before scaling: libyuv's interleaved scaler has no box filter.
    const bool planar = layout == 0;
    const bool direct = planar && dst_format == AV_PIX_FMT_YUV420P;
    const int chroma_width = (dst_width + 1) / 2;
    const int chroma_height = (dst_height + 1) / 2;
    const int split_width = (src_width + 1) / 2;
    const int split_height = (src_height + 1) / 2;
    scratch_linesize_[0] = direct ? 0 : AlignedStride(dst_width);
    scratch_linesize_[1] = scratch_linesize_[2] = direct ? 0 : AlignedStride(chroma_width);
    split_linesize_ = planar ? 0 : AlignedStride(split_width);
    const size_t luma = static_cast<size_t>(scratch_linesize_[0]) * dst_height;
    const size_t chroma = static_cast<size_t>(scratch_linesize_[1]) * chroma_height;
    const size_t split = static_cast<size_t>(split_linesize_) * split_height;
    const size_t total = luma + 2 * chroma + 2 * split;
    if (total > 0) {
        scratch_.reset(static_cast<uint8_t*>(av_malloc(total)));
        if (!scratch_) return false;
        uint8_t* p = scratch_.get();
        scratch_data_[0] = p;
        scratch_data_[1] = p + luma;
        scratch_data_[2] = p + luma + chroma;
        split_[0] = p + luma + 2 * chroma;
        split_[1] = split_[0] + split;
    }
    ready_ = true;
    return true;
}

void YuvEngine::ScalePlanar(const uint8_t* const data[3], const int linesize[3], uint8_t* const dst[3],
                            const int dst_linesize[3]) const {
    // Plane by plane, with rows made once per geometry (libyuv's I420Scale would take row
    // buffers from malloc at every picture for most ratios).
    for (int i = 0; i < 3; ++i) planes_[i].Scale(data[i], linesize[i], dst[i], dst_linesize[i]);
}

void YuvEngine::ScaleToScratch(Layout layout, const uint8_t* const data[4], const int linesize[4]) {
    if (layout == Layout::kPlanar) {
        ScalePlanar(data, linesize, scratch_data_, scratch_linesize_);
        return;
    }
    uint8_t* u = layout == Layout::kUv ? split_[0] : split_[1];
    uint8_t* v = layout == Layout::kUv ? split_[1] : split_[0];
    libyuv::SplitUVPlane(data[1], linesize[1], u, split_linesize_, v, split_linesize_, (src_width_ + 1) / 2,
                         (src_height_ + 1) / 2);
    const uint8_t* planes[3] = {data[0], split_[0], split_[1]};
    const int strides[3] = {linesize[0], split_linesize_, split_linesize_};
    ScalePlanar(planes, strides, scratch_data_, scratch_linesize_);
}

bool YuvEngine::ToRgb(Layout layout, const uint8_t* const data[4], const int linesize[4], int width, int height,
                      PictureColour colour, uint8_t* dst, int dst_stride) const {
    const libyuv::YuvConstants* yuv = Constants(colour, false);
    const libyuv::YuvConstants* yvu = Constants(colour, true);
    if (!yuv || !yvu) return false;
    const uint8_t* y = data[0];
    const int ys = linesize[0];
    if (layout == Layout::kPlanar) {
        const uint8_t* u = data[1];
        const uint8_t* v = data[2];
        const int us = linesize[1];
        const int vs = linesize[2];
        switch (dst_format_) {
            case AV_PIX_FMT_BGR24: return libyuv::I420ToRGB24Matrix(y, ys, u, us, v, vs, dst, dst_stride, yuv, width, height) == 0;
            case AV_PIX_FMT_RGB24: return libyuv::I420ToRGB24Matrix(y, ys, v, vs, u, us, dst, dst_stride, yvu, width, height) == 0;
            case AV_PIX_FMT_BGRA: return libyuv::I420ToARGBMatrix(y, ys, u, us, v, vs, dst, dst_stride, yuv, width, height) == 0;
            case AV_PIX_FMT_RGBA: return libyuv::I420ToARGBMatrix(y, ys, v, vs, u, us, dst, dst_stride, yvu, width, height) == 0;
            case AV_PIX_FMT_ABGR: return libyuv::I420ToRGBAMatrix(y, ys, u, us, v, vs, dst, dst_stride, yuv, width, height) == 0;
            case AV_PIX_FMT_ARGB: return libyuv::I420ToRGBAMatrix(y, ys, v, vs, u, us, dst, dst_stride, yvu, width, height) == 0;
            default: return false;
        }
    }
    // Semi-planar: the writer that reads the chroma pair in its stored order gives the
    // libyuv orders with the "Yuv" constants, the one that reads it swapped gives the
    // mirrored orders with the "Yvu" constants.
    const uint8_t* c = data[1];
    const int cs = linesize[1];
    const bool vu = layout == Layout::kVu;
    const auto native24 = vu ? libyuv::NV21ToRGB24Matrix : libyuv::NV12ToRGB24Matrix;
    const auto swapped24 = vu ? libyuv::NV12ToRGB24Matrix : libyuv::NV21ToRGB24Matrix;
    const auto native32 = vu ? libyuv::NV21ToARGBMatrix : libyuv::NV12ToARGBMatrix;
    const auto swapped32 = vu ? libyuv::NV12ToARGBMatrix : libyuv::NV21ToARGBMatrix;
    switch (dst_format_) {
        case AV_PIX_FMT_BGR24: return native24(y, ys, c, cs, dst, dst_stride, yuv, width, height) == 0;
        case AV_PIX_FMT_RGB24: return swapped24(y, ys, c, cs, dst, dst_stride, yvu, width, height) == 0;
        case AV_PIX_FMT_BGRA: return native32(y, ys, c, cs, dst, dst_stride, yuv, width, height) == 0;
        case AV_PIX_FMT_RGBA: return swapped32(y, ys, c, cs, dst, dst_stride, yvu, width, height) == 0;
        // No semi-planar writer for these orders: BGRA first, then reordered in place.
        case AV_PIX_FMT_ABGR:
            return native32(y, ys, c, cs, dst, dst_stride, yuv, width, height) == 0 &&
                   libyuv::ARGBToRGBA(dst, dst_stride, dst, dst_stride, width, height) == 0;
        case AV_PIX_FMT_ARGB:
            return native32(y, ys, c, cs, dst, dst_stride, yuv, width, height) == 0 &&
                   libyuv::ARGBToBGRA(dst, dst_stride, dst, dst_stride, width, height) == 0;
        default: return false;
    }
}

bool YuvEngine::ToYuv(Layout layout, const uint8_t* const data[4], const int linesize[4], uint8_t* const dst[4],
                      const int dst_linesize[4]) const {
    const int w = dst_width_;
    const int h = dst_height_;
    switch (layout) {
        case Layout::kPlanar:
            return libyuv::I420Copy(data[0], linesize[0], data[1], linesize[1], data[2], linesize[2], dst[0],
                                    dst_linesize[0], dst[1], dst_linesize[1], dst[2], dst_linesize[2], w, h) == 0;
        case Layout::kUv:
            return libyuv::NV12ToI420(data[0], linesize[0], data[1], linesize[1], dst[0], dst_linesize[0], dst[1],
                                      dst_linesize[1], dst[2], dst_linesize[2], w, h) == 0;
        case Layout::kVu:
            return libyuv::NV21ToI420(data[0], linesize[0], data[1], linesize[1], dst[0], dst_linesize[0], dst[1],
                                      dst_linesize[1], dst[2], dst_linesize[2], w, h) == 0;
    }
    return false;
}

bool YuvEngine::Convert(const uint8_t* const data[4], const int linesize[4], PictureColour colour,
                        uint8_t* const dst[4], const int dst_linesize[4]) {
    if (!ready_) return false;
    int index = 0;
    SourceLayout(src_format_, &index);
    const Layout layout = static_cast<Layout>(index);
    const bool rgb = RgbDestination(dst_format_);
    if (rgb && !Converts(colour)) return false;
    if (!scaled_) {
        return rgb ? ToRgb(layout, data, linesize, dst_width_, dst_height_, colour, dst[0], dst_linesize[0])
                   : ToYuv(layout, data, linesize, dst, dst_linesize);
    }
    if (!rgb && layout == Layout::kPlanar) {
        ScalePlanar(data, linesize, dst, dst_linesize);
        return true;
    }
    ScaleToScratch(layout, data, linesize);
    return rgb ? ToRgb(Layout::kPlanar, scratch_data_, scratch_linesize_, dst_width_, dst_height_, colour, dst[0],
                       dst_linesize[0])
               : ToYuv(Layout::kPlanar, scratch_data_, scratch_linesize_, dst, dst_linesize);
}

}  // namespace qv
