// The output converter: scales the decoded picture into the output buffer.
#include "core/decoder_impl.h"
#include "core/ffmpeg.h"
#include "core/picture_buffer.h"

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

// Makes out_picture the scaler's target: the contiguous output buffer itself when its
// rows are aligned (no copy), else aligned planes of our own that ConvertPicture packs
// into the output buffer afterwards.
bool QVDecoder::Impl::LayOutPictureTarget(_picture_param destination) {
    const AVPixelFormat format = static_cast<AVPixelFormat>(destination.format);
    out_picture_planes.reset();
    out_picture = QVPicture{};
    if (av_image_fill_arrays(out_picture.data, out_picture.linesize, output_param.video_buffer, format,
                             destination.width, destination.height, 1) < 0) {
        return false;
    }
    if (PackedRowsAligned(out_picture)) return true;
    out_picture = QVPicture{};
    uint8_t* planes[4] = {};
    if (av_image_alloc(planes, out_picture.linesize, destination.width, destination.height, format, 64) < 0) {
        return false;
    }
    out_picture_planes.reset(planes[0]);
    for (int i = 0; i < 4; ++i) out_picture.data[i] = planes[i];
    return true;
}

int QVDecoder::Impl::SetConverter(_picture_param source, _picture_param destination) {
    if (converter) DestroyConverter();
    if (destination.format == PIX_FMT_NONE || destination.height <= 0 || destination.width <= 0) {
        return -1;
    }
    const int flags = high_quality ? SWS_BICUBIC : SWS_BILINEAR;
    converter.reset(sws_getContext(source.width, source.height,
                                   static_cast<AVPixelFormat>(source.format), destination.width,
                                   destination.height, static_cast<AVPixelFormat>(destination.format),
                                   flags, nullptr, nullptr, nullptr));
    if (!converter) {
        output_enabled = false;
        QVDECODE_LOG("SetConverter: allocate converter failed.", 15);
        return -1;
    }

    if (output_param.video_buffer) av_freep(&output_param.video_buffer);
    const int size = av_image_get_buffer_size(static_cast<AVPixelFormat>(destination.format),
                                              destination.width, destination.height, 1);
    output_param.video_buffer_size = size > 0 ? size : 0;
    output_param.video_buffer = qv::AllocatePicture(size);
    if (!output_param.video_buffer) {
        output_param.video_buffer_size = 0;
        converter.reset();
        output_enabled = false;
        QVDECODE_LOG("SetConverter: allocate video buffer failed.", 15);
        return -1;
    }

    if (!LayOutPictureTarget(destination)) {
        out_picture = QVPicture{};
        converter.reset();
        output_enabled = false;
        QVDECODE_LOG("SetConverter: fill picture failed.", 15);
        return -1;
    }
    out_picture_size = size;
    out_picture_allocated = true;
    converter_source = source;
    return 0;
}

int QVDecoder::Impl::ConvertPicture(const uint8_t* source, uint8_t* destination) {
    const int source_height = code_mode == 1 ? video_param.height * 2 : video_param.height;
    src_picture = QVPicture{};
    if (source) {
        av_image_fill_arrays(src_picture.data, src_picture.linesize, source,
                             static_cast<AVPixelFormat>(video_param.pix_fmt), video_param.width,
                             source_height, 1);
    }
    // A converter without planes, a missing destination, or planes laid for another
    // output size would make the scaler write where it must not.
    const int output_size =
        av_image_get_buffer_size(static_cast<AVPixelFormat>(output_param.pix_fmt), output_param.width,
                                 output_param.height, 1);
    if (!converter || !source || !destination || !out_picture_allocated || !src_picture.data[0] ||
        destination != output_param.video_buffer || output_size <= 0 || output_size != out_picture_size ||
        converter_source.width != video_param.width || converter_source.height != source_height ||
        converter_source.format != video_param.pix_fmt) {
        QVDECODE_LOG("ConvertPicture: failed to convert image.", 31);
        return -1;
    }
    sws_scale(converter.get(), src_picture.data, src_picture.linesize, 0, source_height,
              out_picture.data, out_picture.linesize);
    if (out_picture_planes) {
        av_image_copy_to_buffer(destination, output_size, out_picture.data, out_picture.linesize,
                                static_cast<AVPixelFormat>(output_param.pix_fmt), output_param.width,
                                output_param.height, 1);
    }
    return 0;
}

void QVDecoder::Impl::DestroyConverter() {
    converter.reset();
    out_picture_planes.reset();
    out_picture = QVPicture{};
    out_picture_size = 0;
    out_picture_allocated = false;
    converter_source = _picture_param{0, 0, PIX_FMT_NONE};
}
