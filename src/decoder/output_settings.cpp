// Output size, pixel format and scaling quality chosen by the host.
#include "core/decoder_impl.h"
#include "core/ffmpeg.h"
#include "core/legacy_ids.h"

_picture_param QVDecoder::Impl::ConversionSource() const {
    const int height = code_mode == 1 ? video_param.height * 2 : video_param.height;
    return _picture_param{video_param.width, height, static_cast<enum PixelFormat>(video_param.pix_fmt)};
}

// Called before the new request is recorded, so a rebuild uses the previous quality.
// Conversion that is on is rebuilt at once; conversion turned on for a decoder that
// already has a picture geometry is built at once too, so the next picture converts
// instead of failing for want of a converter.
void QVDecoder::Impl::RebuildConverter(int width, int height, int format) {
    const bool has_picture = opened && video_param.width > 0 && video_param.height > 0;
    if (!output_enabled && !has_picture) return;
    DestroyConverter();
    SetConverter(ConversionSource(), _picture_param{width, height, static_cast<enum PixelFormat>(format)});
}

// Every setter records the same three values in the request and in output_param, turns
// conversion on, and remembers which half (if only one) the host fixed.
void QVDecoder::Impl::RecordOutputRequest(int width, int height, int format, bool format_set, bool size_set,
                                    char quality) {
    output_request = _picture_param{width, height, static_cast<enum PixelFormat>(format)};
    output_param.width = width;
    output_param.height = height;
    output_param.pix_fmt = format;
    output_enabled = true;
    output_format_set = format_set;
    output_size_set = size_set;
    high_quality = quality != 0;
}

void QVDecoder::Impl::QVSetOutput(_picture_param picture, char quality) {
    const int format = qv::PixelFormatFromLegacy(picture.format);
    RebuildConverter(picture.width, picture.height, format);
    RecordOutputRequest(picture.width, picture.height, format, false, false, quality);
}

void QVDecoder::Impl::QVSetOutputFormat(enum PixelFormat legacy_format, char quality) {
    const int format = qv::PixelFormatFromLegacy(legacy_format);
    if (format == output_param.pix_fmt) return;
    int width = video_param.width;
    int height = video_param.height;
    if (output_enabled) {
        width = output_param.width;
        height = output_param.height;
    }
    RebuildConverter(width, height, format);
    RecordOutputRequest(width, height, format, true, false, quality);
}

void QVDecoder::Impl::QVSetOutputResolution(int width, int height, char quality) {
    if (width == output_param.width && height == output_param.height) return;
    const int format = output_enabled ? output_param.pix_fmt : video_param.pix_fmt;
    RebuildConverter(width, height, format);
    RecordOutputRequest(width, height, format, false, true, quality);
}

void QVDecoder::Impl::QVGetOutputResolution(int& width, int& height) {
    if (output_enabled) {
        width = output_param.width;
        height = output_param.height;
        return;
    }
    width = video_param.width;
    height = code_mode == 1 ? video_param.height * 2 : video_param.height;
}
