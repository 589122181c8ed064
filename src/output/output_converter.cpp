#include "output/output_converter.h"

#include <cstring>

#include "base/ffmpeg.h"
#include "base/picture_buffer.h"

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
    converter_.reset(MakeScaler(source, destination, flags));
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
    if (threads_ != 1 && !WrapTarget(destination)) {
        DestroyConverter();
        output_enabled_ = false;
        log_.Log("SetConverter: fill picture failed.", 15);
        return -1;
    }
    out_picture_allocated_ = true;
    converter_source_ = source;
    converter_destination_ = destination;
    colour_matters_ = ConvertsYuvToRgb(source.format, destination.format);
    colour_applied_ = false;
    PrepareEngine();
    return 0;
}

int OutputConverter::SetEngine(int engine) {
    if (engine != QV_CONVERTER_AUTO && engine != QV_CONVERTER_SWSCALE) return -1;
    engine_ = engine;
    if (out_picture_allocated_) PrepareEngine();
    return 0;
}

// libyuv takes the conversion where it covers it and bicubic quality was not asked for;
// libswscale stays built beside it for the pictures it does not cover (other matrices).
void OutputConverter::PrepareEngine() {
    yuv_.Reset();
    direct_ = QVPicture{};
    const _picture_param& source = converter_source_;
    const _picture_param& target = converter_destination_;
    // The quality is the one the scaler was built with, so both engines filter alike.
    if (engine_ != QV_CONVERTER_AUTO || high_quality_ || !YuvEngine::Covers(source.format, target.format)) return;
    if (av_image_fill_arrays(direct_.data, direct_.linesize, output_param.video_buffer,
                             static_cast<AVPixelFormat>(target.format), target.width, target.height, 1) < 0 ||
        !yuv_.Prepare(source.width, source.height, source.format, target.width, target.height, target.format)) {
        yuv_.Reset();
        direct_ = QVPicture{};
    }
}

bool OutputConverter::ConvertWithYuv(const uint8_t* const data[4], const int linesize[4], PictureColour colour) {
    converted_by_yuv_ = yuv_.ready() && yuv_.Convert(data, linesize, colour, direct_.data, direct_.linesize);
    return converted_by_yuv_;
}

void OutputConverter::FollowColour(PictureColour colour) {
    if (!colour_matters_ || (colour_applied_ && applied_colour_ == colour)) return;
    // A scaler that refuses the details keeps its own, and is asked again at the next change.
    colour_applied_ = ApplyColour(converter_.get(), colour);
    applied_colour_ = colour;
}

SwsContext* OutputConverter::MakeScaler(_picture_param source, _picture_param destination, int flags) const {
    SwsContext* single = NewScaler(source.width, source.height, source.format, destination.width,
                                   destination.height, destination.format, flags, 1);
    if (threads_ == 1 || !single) return single;
    // libswscale 5.1 leaks the slice contexts of a threaded scaler whose set-up fails (an
    // output format it cannot write, a size it refuses), so the threaded one is only made
    // once a single-threaded one has shown that the conversion can be made.
    sws_freeContext(single);
    return NewScaler(source.width, source.height, source.format, destination.width, destination.height,
                     destination.format, flags, threads_);
}

namespace {
void LeaveToOwner(void*, uint8_t*) {}
}  // namespace

bool OutputConverter::WrapTarget(_picture_param destination) {
    if (!target_frame_) target_frame_.reset(av_frame_alloc());
    if (!target_frame_) return false;
    av_frame_unref(target_frame_.get());
    AVFrame* f = target_frame_.get();
    f->buf[0] = av_buffer_create(out_picture_.data[0], out_picture_size_ > 0 ? out_picture_size_ : 1, LeaveToOwner,
                                 nullptr, 0);
    if (!f->buf[0]) return false;
    for (int i = 0; i < 4; ++i) {
        f->data[i] = out_picture_.data[i];
        f->linesize[i] = out_picture_.linesize[i];
    }
    f->width = destination.width;
    f->height = destination.height;
    f->format = destination.format;
    return true;
}

void OutputConverter::DestroyConverter() {
    converter_.reset();
    yuv_.Reset();
    direct_ = QVPicture{};
    if (target_frame_) av_frame_unref(target_frame_.get());
    out_picture_planes_.reset();
    out_picture_ = QVPicture{};
    out_picture_size_ = 0;
    out_picture_allocated_ = false;
    converter_source_ = _picture_param{0, 0, PIX_FMT_NONE};
    converter_destination_ = _picture_param{0, 0, PIX_FMT_NONE};
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
    PackTarget();
    return 0;
}

void OutputConverter::PackTarget() {
    // Aligned planes of our own were the target: the output buffer gets them packed.
    if (!out_picture_planes_) return;
    av_image_copy_to_buffer(output_param.video_buffer, out_picture_size_, out_picture_.data, out_picture_.linesize,
                            static_cast<AVPixelFormat>(output_param.pix_fmt), output_param.width,
                            output_param.height, 1);
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
    if (ConvertWithYuv(src.data, src.linesize, source_colour_)) return 0;
    FollowColour(source_colour_);
    return Scale(src.data, src.linesize, geometry.height);
}

bool OutputConverter::CanConvert(const AVFrame* frame) const {
    return frame->data[0] &&
           Matches(_picture_param{frame->width, frame->height, static_cast<enum PixelFormat>(frame->format)});
}

int OutputConverter::ConvertFrameInto(const AVFrame* frame, uint8_t* buffer) {
    if (!CanConvert(frame)) {
        log_.Log("ConvertPicture: failed to convert image.", 31);
        return -1;
    }
    QVPicture target{};
    if (av_image_fill_arrays(target.data, target.linesize, buffer, static_cast<AVPixelFormat>(output_param.pix_fmt),
                             output_param.width, output_param.height, 1) < 0) {
        return -1;
    }
    source_colour_ = ColourOf(frame->format, frame->colorspace, frame->color_range);
    converted_by_yuv_ = yuv_.ready() && yuv_.Convert(frame->data, frame->linesize, source_colour_, target.data,
                                                     target.linesize);
    if (converted_by_yuv_) return 0;
    FollowColour(source_colour_);
    if (PackedRowsAligned(target)) {
        sws_scale(converter_.get(), frame->data, frame->linesize, 0, frame->height, target.data, target.linesize);
        return 0;
    }
    // Rows the scaler cannot write safely: scaled into aligned planes, then packed there.
    sws_scale(converter_.get(), frame->data, frame->linesize, 0, frame->height, out_picture_.data,
              out_picture_.linesize);
    av_image_copy_to_buffer(buffer, out_picture_size_, out_picture_.data, out_picture_.linesize,
                            static_cast<AVPixelFormat>(output_param.pix_fmt), output_param.width,
                            output_param.height, 1);
    return 0;
}

int OutputConverter::ConvertFrame(const AVFrame* frame) {
    if (!CanConvert(frame)) {
        log_.Log("ConvertPicture: failed to convert image.", 31);
        return -1;
    }
    const int height = frame->height;
    source_colour_ = ColourOf(frame->format, frame->colorspace, frame->color_range);
    if (ConvertWithYuv(frame->data, frame->linesize, source_colour_)) return 0;
    FollowColour(source_colour_);
    if (threads_ != 1 && frame->buf[0] && target_frame_ && target_frame_->buf[0]) {
        // Whole frames are what libswscale cuts into slices for its threads.
        if (sws_scale_frame(converter_.get(), target_frame_.get(), frame) < 0) return -1;
        PackTarget();
        return 0;
    }
    return Scale(frame->data, frame->linesize, height);
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
