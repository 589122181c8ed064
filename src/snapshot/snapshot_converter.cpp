// The snapshot converter: one libswscale context and one result buffer per picture geometry.
#include "snapshot/snapshot_converter.h"

#include <cstring>

#include "base/ffmpeg.h"

namespace {

// Formats whose pictures libswscale can read; hardware surfaces, bitstream-only and
// unknown values are refused up front rather than handed to the scaler.
bool ConvertibleSource(int format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL)) return false;
    return sws_isSupportedInput(static_cast<AVPixelFormat>(format)) > 0;
}

}  // namespace

SnapshotConverter::SnapshotConverter(int src_width, int src_height, int src_format,
                                     int dst_width, int dst_height, int dst_format) {
    if (src_width <= 0 || src_height <= 0 || dst_width <= 0 || dst_height <= 0) return;
    if (!ConvertibleSource(src_format)) return;
    const auto src = static_cast<AVPixelFormat>(src_format);
    const auto dst = static_cast<AVPixelFormat>(dst_format);
    if (sws_isSupportedOutput(dst) <= 0) return;

    const int src_size = av_image_get_buffer_size(src, src_width, src_height, 1);
    const int dst_size = av_image_get_buffer_size(dst, dst_width, dst_height, 1);
    if (src_size <= 0 || dst_size <= 0) return;

    scaler_.reset(
        qv::NewScaler(src_width, src_height, src_format, dst_width, dst_height, dst_format, SWS_BILINEAR, 1));
    if (!scaler_) return;

    dst_buffer_.reset(static_cast<uint8_t*>(av_malloc(dst_size)));
    if (!dst_buffer_) return;
    src_copy_.reset(static_cast<uint8_t*>(av_mallocz(src_size + AV_INPUT_BUFFER_PADDING_SIZE)));
    if (!src_copy_) return;
    // The scaler writes into planes with its preferred alignment; the result is then laid
    // out contiguously, so a later caller sees rows with no padding.
    if (av_image_alloc(dst_picture_.data, dst_picture_.linesize, dst_width, dst_height, dst, 32) < 0) {
        dst_picture_ = QVPicture{};
        return;
    }
    dst_planes_.reset(dst_picture_.data[0]);

    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(dst);
    dst_chroma_shift_y_ = desc->log2_chroma_h;
    dst_has_palette_ = (desc->flags & AV_PIX_FMT_FLAG_PAL) != 0;
    src_width_ = src_width;
    src_height_ = src_height;
    src_format_ = src_format;
    src_size_ = src_size;
    dst_width_ = dst_width;
    dst_height_ = dst_height;
    dst_format_ = dst_format;
    dst_buffer_size_ = dst_size;
    colour_matters_ = qv::ConvertsYuvToRgb(src_format, dst_format);
    usable_ = true;
    SetColour(AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED);
}

void SnapshotConverter::SetColour(int colorspace, int range) {
    if (!usable_ || !colour_matters_) return;
    const qv::PictureColour colour = qv::ColourOf(src_format_, colorspace, range);
    if (colour_applied_ && colour == colour_) return;
    colour_applied_ = qv::ApplyColour(scaler_.get(), colour);
    colour_ = colour;
}

int SnapshotConverter::Convert(const uint8_t* data, uint8_t** out, int flip) {
    if (!data || !out || !usable_) return -1;

    std::memcpy(src_copy_.get(), data, static_cast<size_t>(src_size_));
    QVPicture source{};
    if (av_image_fill_arrays(source.data, source.linesize, src_copy_.get(),
                             static_cast<AVPixelFormat>(src_format_), src_width_, src_height_,
                             1) < 0) {
        return -1;
    }
    const int scaled = sws_scale(scaler_.get(), source.data, source.linesize, 0, src_height_,
                                 dst_picture_.data, dst_picture_.linesize);
    if (scaled <= 0) return -1;

    // The picture is turned over on the result side, while it is laid out: scaling a
    // turned-over 4:2:0 source of odd height would pair its luma rows with the wrong
    // chroma rows, since chroma rows are anchored at the top of the picture.
    QVPicture result = dst_picture_;
    if (flip == 1) {
        const int chroma_rows = AV_CEIL_RSHIFT(dst_height_, dst_chroma_shift_y_);
        for (int plane = 0; plane < 4; ++plane) {
            if (!result.data[plane] || result.linesize[plane] == 0) continue;
            // A palette is a table, not rows of the picture.
            if (plane == 1 && dst_has_palette_) continue;
            // Chroma planes of an odd height hold one row more than half the picture.
            const int rows = (plane == 1 || plane == 2) ? chroma_rows : dst_height_;
            result.data[plane] += static_cast<ptrdiff_t>(rows - 1) * result.linesize[plane];
            result.linesize[plane] = -result.linesize[plane];
        }
    }
    if (av_image_copy_to_buffer(dst_buffer_.get(), dst_buffer_size_, result.data, result.linesize,
                                static_cast<AVPixelFormat>(dst_format_), dst_width_, dst_height_,
                                1) < 0) {
        return -1;
    }
    *out = dst_buffer_.get();
    return dst_buffer_size_;
}
