// Converts decoded pictures to packed BGR24 for BMP snapshots, optionally turned upside
// down so that they stand upright in a BMP file's bottom-up row order.
#pragma once

#include <cstdint>
#include <memory>

#include "QVDecoder.h"
#include "base/ffmpeg_deleters.h"
#include "base/picture.h"
#include "output/picture_colour.h"

class SnapshotConverter {
public:
    // Formats are FFmpeg pixel formats. A converter that cannot be built (unknown or
    // unsupported source format, no memory, a size without a buffer) is not Usable().
    SnapshotConverter(int src_width, int src_height, int src_format, int dst_width, int dst_height,
                      int dst_format);
    SnapshotConverter(const SnapshotConverter&) = delete;
    SnapshotConverter& operator=(const SnapshotConverter&) = delete;

    // Converts the contiguous picture at data (the layout av_image_copy_to_buffer gives with
    // alignment 1) into the converter's buffer, stores that buffer in *out and returns its
    // size, or -1. With flip 1 the picture is turned upside down.
    int Convert(const uint8_t* data, uint8_t** out, int flip);
    int ConvertFlipped(const uint8_t* data, uint8_t** out) { return Convert(data, out, 1); }
    // The source's colour matrix and range (AVColorSpace, AVColorRange) for the conversions
    // that follow; untagged pictures are BT.601 limited range (yuvj* full range).
    void SetColour(int colorspace, int range);

    bool Usable() const { return usable_; }
    int src_width() const { return src_width_; }
    int src_height() const { return src_height_; }
    int src_format() const { return src_format_; }
    // Bytes a source picture of the converter's geometry occupies.
    int src_size() const { return src_size_; }

private:
    std::unique_ptr<SwsContext, qv::SwsDeleter> scaler_;
    int src_width_ = 0;
    int src_height_ = 0;
    int src_format_ = -1;
    int src_size_ = 0;
    int dst_width_ = 0;
    int dst_height_ = 0;
    int dst_format_ = -1;
    int dst_chroma_shift_y_ = 0;  // vertical chroma subsampling of the result, as a power of two
    bool dst_has_palette_ = false;
    QVPicture dst_picture_{};
    std::unique_ptr<uint8_t, qv::AvFreeDeleter> dst_planes_;  // allocation behind dst_picture_
    // The source is copied here before scaling: libswscale reads a few bytes past the end
    // of packed rows, which must not run past a caller's exactly sized picture buffer.
    std::unique_ptr<uint8_t, qv::AvFreeDeleter> src_copy_;
    int dst_buffer_size_ = 0;
    std::unique_ptr<uint8_t, qv::AvFreeDeleter> dst_buffer_;
    bool usable_ = false;
    bool colour_matters_ = false;
    bool colour_applied_ = false;
    qv::PictureColour colour_;
};
