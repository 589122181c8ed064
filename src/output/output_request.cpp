// The output request: what the host's setters record, what the open and a picture change
// make of it, and when the scaler is rebuilt for it.
#include "base/ffmpeg.h"
#include "output/output_converter.h"

namespace qv {

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
    if (!output_enabled_) return;
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
        // What the host left open follows: the size after QVSetOutputFormat, the format after
        // QVSetOutputResolution, and a size of 0 or a format of none in any request.
        if (output_format_set_ || output_request_.width == 0) output_param.width = width;
        if (output_format_set_ || output_request_.height == 0) output_param.height = height * field_factor;
        if (output_size_set_ || output_request_.format == PIX_FMT_NONE) output_param.pix_fmt = format;
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

}  // namespace qv
