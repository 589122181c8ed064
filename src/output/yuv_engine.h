// libyuv's conversion of 4:2:0 pictures (yuv420p, yuvj420p, nv12, nv21) to packed RGB and
// its scaling of them, the fast path where it covers the work. Scaling happens in YUV
// (box filter when shrinking, bilinear when enlarging) and only the small picture is
// converted; a scaled picture goes through scratch planes made once per geometry.
#pragma once

#include <cstdint>

#include "base/ffmpeg_deleters.h"
#include "output/picture_colour.h"
#include "output/plane_scaler.h"

namespace qv {

class YuvEngine {
public:
    // True when the engine converts source into destination (FFmpeg pixel formats) at all;
    // the matrix is checked per picture (Converts).
    static bool Covers(int source, int destination);
    // True when it converts a picture of this colour (BT.601, BT.709 and BT.2020).
    static bool Converts(PictureColour colour);

    // Sets the engine up for one geometry (sizes are positive). False when the formats are
    // not covered or memory runs out; the engine is then unset.
    bool Prepare(int src_width, int src_height, int src_format, int dst_width, int dst_height, int dst_format);
    void Reset();
    bool ready() const { return ready_; }

    // Converts planes of the prepared source geometry into the destination planes. False
    // (nothing written) when the colour is not one the engine knows.
    bool Convert(const uint8_t* const data[4], const int linesize[4], PictureColour colour, uint8_t* const dst[4],
                 const int dst_linesize[4]);

private:
    enum class Layout { kPlanar, kUv, kVu };
    bool ToRgb(Layout layout, const uint8_t* const data[4], const int linesize[4], int width, int height,
               PictureColour colour, uint8_t* dst, int dst_stride) const;
    bool ToYuv(Layout layout, const uint8_t* const data[4], const int linesize[4], uint8_t* const dst[4],
               const int dst_linesize[4]) const;
    void ScalePlanar(const uint8_t* const data[3], const int linesize[3], uint8_t* const dst[3],
                     const int dst_linesize[3]) const;
    void ScaleToScratch(Layout layout, const uint8_t* const data[4], const int linesize[4]);

    bool ready_ = false;
    int src_width_ = 0, src_height_ = 0, src_format_ = -1;
    int dst_width_ = 0, dst_height_ = 0, dst_format_ = -1;
    bool scaled_ = false;
    int filter_ = 0;  // libyuv FilterMode
    PlaneScaler planes_[3];  // luma, then both chroma planes
    // The scaled picture as planar 4:2:0, before conversion, and interleaved chroma split
    // into planes before scaling; one allocation holds both.
    AvBufferPtr scratch_;
    uint8_t* scratch_data_[4] = {};
    int scratch_linesize_[4] = {};
    uint8_t* split_[2] = {};
    int split_linesize_ = 0;
};

}  // namespace qv
