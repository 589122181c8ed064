// The host's output settings (size, pixel format, scaling quality) and the snapshots of the
// decoded, merged or output picture.
#include "decoder/decoder_impl.h"
#include "base/ffmpeg.h"
#include "base/legacy_ids.h"

namespace {

// True when a buffer of size bytes holds a whole picture of the given geometry, so that
// a picture parameter changed behind the buffer can never make the save read past it.
bool HoldsPicture(int size, int width, int height, int format) {
    if (width <= 0 || height <= 0) return false;
    const int needed = av_image_get_buffer_size(static_cast<AVPixelFormat>(format), width, height, 1);
    return needed > 0 && size >= needed;
}

}  // namespace

void QVDecoder::Impl::QVSetOutput(_picture_param requested, char quality) {
    if (!AcceptOutputSize(requested.width, requested.height, "QVSetOutput: invalid output size.")) return;
    requested.format = static_cast<enum PixelFormat>(qv::PixelFormatFromLegacy(requested.format));
    output.SetOutput(requested, quality, Decoded());
    delivery.OutputChanged();
}

void QVDecoder::Impl::QVSetOutputFormat(enum PixelFormat legacy_format, char quality) {
    output.SetOutputFormat(qv::PixelFormatFromLegacy(legacy_format), quality, Decoded());
    delivery.OutputChanged();
}

void QVDecoder::Impl::QVSetOutputResolution(int width, int height, char quality) {
    if (!AcceptOutputSize(width, height, "QVSetOutputResolution: invalid output size.")) return;
    output.SetOutputResolution(width, height, quality, Decoded());
    delivery.OutputChanged();
}

enum PixelFormat QVDecoder::Impl::QVGetOutputFormat() const {
    // The format of the buffer QVGetVideoFrame hands out: the converter's when it converts;
    // none before the first picture of an open (the blank buffer of an open is no picture).
    if (!picture.has_picture()) return PIX_FMT_NONE;
    const int format = output.enabled() ? output.output_param.pix_fmt : picture.video_param.pix_fmt;
    return static_cast<enum PixelFormat>(qv::PixelFormatToLegacy(format));
}

void QVDecoder::Impl::QVGetOutputResolution(int& width, int& height) {
    output.GetOutputResolution(width, height, Decoded());
}

int QVDecoder::Impl::QVSaveCurrentImage(const char* path) {
    if (!path) return -1;
    const _video_param& p = picture.video_param;
    if (!p.video_buffer) return 0;  // nothing decoded yet: no file

    const int width = p.width;
    int height = p.height;
    const int format = p.pix_fmt;
    const uint8_t* bytes = p.video_buffer;
    int size = p.video_buffer_size;
    if (field_coded()) {
        // Field-coded: the picture is the merged frame of twice the field height.
        const qv::MergedFrame merged = stream.merged();
        if (!merged.buffer) return -1;
        bytes = merged.buffer;
        height *= 2;
        size = merged.size;
    } else {
        picture.Materialize();  // a picture converted straight to the output is laid out now
    }
    if (!HoldsPicture(size, width, height, format)) return -1;
    return snapshots.SavePictureAsBmp(path, bytes, width, height, format, picture.colorspace(),
                                      picture.color_range()) < 0
               ? -1
               : 0;
}

int QVDecoder::Impl::QVSaveOutputImage(const char* path) {
    if (!path) return -1;
    const _video_param& o = output.output_param;
    if (!o.video_buffer) return QVSaveCurrentImage(path);
    if (output.enabled()) QVGetVideoFrame();  // a picture is converted when it is first read
    if (!HoldsPicture(o.video_buffer_size, o.width, o.height, o.pix_fmt)) return -1;
    // A YUV output keeps the decoded picture's matrix and range.
    return snapshots.SavePictureAsBmp(path, o.video_buffer, o.width, o.height, o.pix_fmt, picture.colorspace(),
                                      picture.color_range()) < 0
               ? -1
               : 0;
}
