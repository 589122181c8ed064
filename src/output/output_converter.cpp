#include "output/output_converter.h"

#include <cstring>

#include "core/ffmpeg.h"
#include "core/picture_buffer.h"

namespace qv {
namespace {

// libswscale's fast RGB writers leave the last pixels of a row unwritten unless each row
// starts 32-byte aligned, so rows packed back to back are a safe target only then.
bool PackedRowsAligned(const QVPicture& planes) {
    for (int i = 0; i < 4; ++i) {
        if (!planes.data[i]) continue;
        if (planes.linesize[i] % 32 != 0) return false;
        if ((planes.data[i] - planes.data[0]) % 32 != 0) return false;
    }
    return true;
}

}  // namespace

OutputConverter::OutputConverter(const Logger& log)
    : log_(log), output_request_{0, 0, PIX_FMT_YUV420P}, converter_source_{0, 0, PIX_FMT_NONE} {
    std::memset(&output_param, 0, sizeof(output_param));
    output_param.pix_fmt = AV_PIX_FMT_NONE;
}

OutputConverter::~OutputConverter() { Release(); }

void OutputConverter::Request(_picture_param picture) {
    output_request_ = picture;
    output_param.width = picture.width;
    output_param.height = picture.height;
    output_param.pix_fmt = picture.format;
    output_enabled_ = true;
    high_quality_ = false;
}

// Makes out_picture the scaler's target: the contiguous output buffer itself when its
// rows are aligned (no copy), else aligned planes of our own that are packed into the
// output buffer after scaling.
bool OutputConverter::LayOutPictureTarget(_picture_param destination) {
    const AVPixelFormat format = static_cast<AVPixelFormat>(destination.format);
    out_picture_planes_.reset();
    out_picture_ = QVPicture{};
    if (av_image_fill_arrays(out_picture_.data, out_picture_.linesize, output_param.video_buffer, format,
                             destination.width, destination.height, 1) < 0) {
        return false;
    }
    if (PackedRowsAligned(out_picture_)) return true;
    out_picture_ = QVPicture{};
    uint8_t* planes[4] = {};
    if (av_image_alloc(planes, out_picture_.linesize, destination.width, destination.height, format, 64) < 0) {
        return false;
    }
    out_picture_planes_.reset(planes[0]);
    for (int i = 0; i < 4; ++i) out_picture_.data[i] = planes[i];
    return true;
}

int OutputConverter::SetConverter(_picture_param source, _picture_param destination) {
    if (converter_) DestroyConverter();
    if (destination.format == PIX_FMT_NONE || destination.height <= 0 || destination.width <= 0) return -1;
    const int flags = high_quality_ ? SWS_BICUBIC : SWS_BILINEAR;
    converter_.reset(sws_getContext(source.width, source.height, static_cast<AVPixelFormat>(source.format),
                                    destination.width, destination.height,
                                    static_cast<AVPixelFormat>(destination.format), flags, nullptr, nullptr,
                                    nullptr));
    if (!converter_) {
        output_enabled_ = false;
        log_.Log("SetConverter: allocate converter failed.", 15);
        return -1;
    }

    if (output_param.video_buffer) av_freep(&output_param.video_buffer);
    const int size = av_image_get_buffer_size(static_cast<AVPixelFormat>(destination.format), destination.width,
                                              destination.height, 1);
    output_param.video_buffer_size = size > 0 ? size : 0;
    output_param.video_buffer = AllocatePicture(size);
    if (!output_param.video_buffer) {
        output_param.video_buffer_size = 0;
        converter_.reset();
        output_enabled_ = false;
        log_.Log("SetConverter: allocate video buffer failed.", 15);
        return -1;
    }

    if (!LayOutPictureTarget(destination)) {
        out_picture_ = QVPicture{};
        converter_.reset();
        output_enabled_ = false;
        log_.Log("SetConverter: fill picture failed.", 15);
        return -1;
    }
    out_picture_size_ = size;
    out_picture_allocated_ = true;
    converter_source_ = source;
    return 0;
}

void OutputConverter::DestroyConverter() {
    converter_.reset();
    out_picture_planes_.reset();
    out_picture_ = QVPicture{};
    out_picture_size_ = 0;
    out_picture_allocated_ = false;
    converter_source_ = _picture_param{0, 0, PIX_FMT_NONE};
}

// A scaler without planes, or planes laid for another output size or another source,
// would make the scaler write where it must not.
bool OutputConverter::Matches(_picture_param source) const {
    const int output_size = av_image_get_buffer_size(static_cast<AVPixelFormat>(output_param.pix_fmt),
                                                     output_param.width, output_param.height, 1);
    return converter_ && out_picture_allocated_ && output_param.video_buffer && output_size > 0 &&
           output_size == out_picture_size_ && converter_source_.width == source.width &&
           converter_source_.height == source.height && converter_source_.format == source.format;
}

int OutputConverter::Scale(const uint8_t* const data[4], const int linesize[4], int height) {
    sws_scale(converter_.get(), data, linesize, 0, height, out_picture_.data, out_picture_.linesize);
    if (out_picture_planes_) {
        av_image_copy_to_buffer(output_param.video_buffer, out_picture_size_, out_picture_.data,
                                out_picture_.linesize, static_cast<AVPixelFormat>(output_param.pix_fmt),
                                output_param.width, output_param.height, 1);
    }
    return 0;
}

int OutputConverter::ConvertPicture(const uint8_t* source, _picture_param geometry) {
    QVPicture src{};
    if (source) {
        av_image_fill_arrays(src.data, src.linesize, source, static_cast<AVPixelFormat>(geometry.format),
                             geometry.width, geometry.height, 1);
    }
    if (!source || !src.data[0] || !Matches(geometry)) {
        log_.Log("ConvertPicture: failed to convert image.", 31);
        return -1;
    }
    return Scale(src.data, src.linesize, geometry.height);
}

int OutputConverter::ConvertFrame(const AVFrame* frame) {
    const _picture_param geometry{frame->width, frame->height, static_cast<enum PixelFormat>(frame->format)};
    if (!frame->data[0] || !Matches(geometry)) {
        log_.Log("ConvertPicture: failed to convert image.", 31);
        return -1;
    }
    return Scale(frame->data, frame->linesize, geometry.height);
}

void OutputConverter::AfterOpen(_picture_param decoded) {
    // A scaler that cannot be built leaves the open successful.
    if (output_enabled_) SetConverter(decoded, output_request_);
    if (!output_enabled_) {
        output_param.width = decoded.width;
        output_param.height = decoded.height;
        output_param.pix_fmt = decoded.format;
    }
}

void OutputConverter::FillOpenRequest(_picture_param source, int width, int height, int format,
                                      int field_factor) {
    if (!output_size_set_ && !output_format_set_) return;
    bool changed = false;
    if (output_param.pix_fmt == AV_PIX_FMT_NONE) {
        output_param.pix_fmt = format;
        changed = true;
    }
    if (output_param.width == 0) {
        output_param.width = width;
        changed = true;
    }
    if (output_param.height == 0) {
        output_param.height = height * field_factor;
        changed = true;
    }
    if (changed) {
        SetConverter(source, _picture_param{output_param.width, output_param.height,
                                            static_cast<enum PixelFormat>(output_param.pix_fmt)});
    }
}

void OutputConverter::FollowPicture(int width, int height, int format, int field_factor) {
    if (output_enabled_) {
        if (output_format_set_) {
            output_param.width = width;
            output_param.height = height * field_factor;
        }
        if (output_size_set_) output_param.pix_fmt = format;
        DestroyConverter();
        SetConverter(_picture_param{width, height * field_factor, static_cast<enum PixelFormat>(format)},
                     _picture_param{output_param.width, output_param.height,
                                    static_cast<enum PixelFormat>(output_param.pix_fmt)});
    } else {
        output_param.width = width;
        output_param.height = height;
        output_param.pix_fmt = format;
    }
}

// Called before the new request is recorded, so a rebuild uses the previous quality.
// Conversion that is on is rebuilt at once; conversion turned on for a decoder that
// already has a picture geometry is built at once too, so the next picture converts
// instead of failing for want of a scaler.
void OutputConverter::RebuildConverter(int width, int height, int format, const DecodedPicture& decoded) {
    if (!output_enabled_ && !decoded.has_picture) return;
    DestroyConverter();
    SetConverter(decoded.source(), _picture_param{width, height, static_cast<enum PixelFormat>(format)});
}

// Every setter records the same three values in the request and in output_param, turns
// conversion on, and remembers which half (if only one) the host fixed.
void OutputConverter::RecordOutputRequest(int width, int height, int format, bool format_set, bool size_set,
                                          char quality) {
    output_request_ = _picture_param{width, height, static_cast<enum PixelFormat>(format)};
    output_param.width = width;
    output_param.height = height;
    output_param.pix_fmt = format;
    output_enabled_ = true;
    output_format_set_ = format_set;
    output_size_set_ = size_set;
    high_quality_ = quality != 0;
}

void OutputConverter::SetOutput(_picture_param picture, char quality, const DecodedPicture& decoded) {
    RebuildConverter(picture.width, picture.height, picture.format, decoded);
    RecordOutputRequest(picture.width, picture.height, picture.format, false, false, quality);
}

void OutputConverter::SetOutputFormat(int format, char quality, const DecodedPicture& decoded) {
    if (format == output_param.pix_fmt) return;
    int width = decoded.picture.width;
    int height = decoded.picture.height;
    if (output_enabled_) {
        width = output_param.width;
        height = output_param.height;
    }
    RebuildConverter(width, height, format, decoded);
    RecordOutputRequest(width, height, format, true, false, quality);
}

void OutputConverter::SetOutputResolution(int width, int height, char quality,
                                          const DecodedPicture& decoded) {
    if (width == output_param.width && height == output_param.height) return;
    const int format = output_enabled_ ? output_param.pix_fmt : decoded.picture.format;
    RebuildConverter(width, height, format, decoded);
    RecordOutputRequest(width, height, format, false, true, quality);
}

void OutputConverter::GetOutputResolution(int& width, int& height, const DecodedPicture& decoded) const {
    if (output_enabled_) {
        width = output_param.width;
        height = output_param.height;
        return;
    }
    width = decoded.picture.width;
    height = decoded.picture.height * decoded.field_factor;
}

void OutputConverter::Release() {
    if (output_param.video_buffer) av_freep(&output_param.video_buffer);
    if (output_param.audio_buffer) av_freep(&output_param.audio_buffer);
    std::memset(&output_param, 0, sizeof(output_param));
    output_param.pix_fmt = AV_PIX_FMT_NONE;
    DestroyConverter();
    output_enabled_ = false;
    output_format_set_ = false;
    output_size_set_ = false;
}

}  // namespace qv
