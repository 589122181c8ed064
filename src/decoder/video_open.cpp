// Mode setters, the stream-mode video open and the picture-size change.
#include <cstdlib>
#include <new>

#include "core/decoder_impl.h"
#include "bitstream/demux_buffer.h"
#include "core/ffmpeg.h"
#include "core/picture_buffer.h"
#include "core/legacy_ids.h"
#include "core/library.h"

int QVDecoder::Impl::QVDecoderSetParam(_decoder_param param) {
    code_mode = param.code_mode;
    transfer_mode = param.transfer_mode;
    output_mode = param.output_mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetEncodeMode(enum code_mode mode) {
    code_mode = mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetStreamMode(enum transfer_mode mode) {
    transfer_mode = mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetOutputMode(enum output_mode mode) {
    output_mode = mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetDemux(int value) {
    if (value != 0 && value != 1) return -1;
    demux = value;
    return 0;
}

_demux_buffer* QVDecoder::Impl::AllocateDemuxBuffer() {
    _demux_buffer* buffer = new (std::nothrow) _demux_buffer;
    if (!buffer) return nullptr;
    buffer->length = 0;
    buffer->capacity = kDemuxBufferCapacity;
    buffer->data = static_cast<uint8_t*>(std::malloc(kDemuxBufferCapacity));
    if (!buffer->data) {
        delete buffer;
        return nullptr;
    }
    return buffer;
}

int QVDecoder::Impl::QVOpenDecoder(enum CodecID codec, _picture_param picture) {
    if (!qv::IsInitialized()) {
        QVDECODE_LOG("QVOpenDecoder: decoder has not been initinalized.", 15);
        return -1;
    }
    if (opened) return 0;

    AVCodecContext* ctx = NewVideoContext(picture);
    if (!ctx) return -10006;
    ctx->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;

    const int av_codec = qv::CodecFromLegacy(codec);
    {
        std::unique_lock<std::mutex> lock(qv::GlobalLock());
        const AVCodec* decoder =
            av_codec >= 0 ? avcodec_find_decoder(static_cast<AVCodecID>(av_codec)) : nullptr;
        if (!decoder || decoder->type != AVMEDIA_TYPE_VIDEO) {
            lock.unlock();
            QVClose();
            QVDECODE_LOG("QVOpenDecoder: can't find the video codec.", 15);
            return -10007;
        }
        if (avcodec_open2(ctx, decoder, nullptr) != 0) {
            video_ctx.reset();
            lock.unlock();
            QVClose();
            QVDECODE_LOG("QVOpenDecoder: failed to open video codec.", 15);
            return -10007;
        }
    }

    RecordStreamPicture(ctx, av_codec);
    const int buffer = AllocatePictureBuffer("QVOpenDecoder: wrong buffer size.",
                                             "QVOpenDecoder: failed to allocate video buffer.");
    if (buffer != 0) return buffer;

    return FinishStreamVideoOpen();
}

AVCodecContext* QVDecoder::Impl::NewVideoContext(_picture_param picture) {
    AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
    if (!ctx) {
        QVDECODE_LOG("QVOpenDecoder: failed to allocate video context.", 15);
        return nullptr;
    }
    video_ctx.reset(ctx);
    ctx->width = picture.width;
    ctx->height = picture.height;
    ctx->pix_fmt = static_cast<AVPixelFormat>(qv::PixelFormatFromLegacy(picture.format));
    if (transfer_mode == 1 || code_mode == 1) ctx->flags2 |= AV_CODEC_FLAG2_CHUNKS;
    // One pushed frame gives at most one picture only without frame threading.
    ctx->thread_count = 1;
    return ctx;
}

void QVDecoder::Impl::RecordStreamPicture(const AVCodecContext* ctx, int codec) {
    video_param.width = ctx->width;
    video_param.height = ctx->height;
    video_param.pix_fmt = ctx->pix_fmt;
    video_param.codec_id = codec;
    video_param.bit_rate = static_cast<int>(ctx->bit_rate);
    // Pushed streams carry no rate the decoder could know: 25/1 by convention.
    video_param.frame_rate_num = 25;
    video_param.frame_rate_den = 1;
}

int QVDecoder::Impl::AllocatePictureBuffer(const char* wrong_size_message, const char* no_memory_message) {
    const int size = av_image_get_buffer_size(static_cast<AVPixelFormat>(video_param.pix_fmt),
                                              video_param.width, video_param.height, 1);
    video_param.video_buffer_size = size;
    if (size <= 0) {
        QVClose();
        QVDECODE_LOG(wrong_size_message, 15);
        return -10005;
    }
    if (video_param.video_buffer) av_freep(&video_param.video_buffer);
    video_param.video_buffer = qv::AllocatePicture(size);
    if (!video_param.video_buffer) {
        QVClose();
        QVDECODE_LOG(no_memory_message, 15);
        return -10006;
    }
    return 0;
}

// The last steps of both stream-mode opens that carry video: output set-up, the demux
// buffer when demultiplexing, and the open state.
int QVDecoder::Impl::FinishStreamVideoOpen() {
    SetUpOutputAfterOpen();

    if (demux == 1 && !demux_buffer) {
        demux_buffer = AllocateDemuxBuffer();
        if (!demux_buffer) {
            QVClose();
            QVDECODE_LOG("QVOpenDecoder: failed to allocate demux buffer.", 15);
            return -10006;
        }
    }

    key_frame_seen = false;
    opened = true;
    return 0;
}

void QVDecoder::Impl::SetUpOutputAfterOpen() {
    if (output_enabled) {
        const int height = code_mode == 1 ? video_param.height * 2 : video_param.height;
        // A converter that cannot be built leaves the open successful.
        SetConverter(_picture_param{video_param.width, height,
                                    static_cast<enum PixelFormat>(video_param.pix_fmt)},
                     output_request);
    }
    if (!output_enabled) {
        output_param.width = video_param.width;
        output_param.height = video_param.height;
        output_param.pix_fmt = video_param.pix_fmt;
    }
}

int QVDecoder::Impl::QVSetPictureParam(_picture_param picture) {
    const int format = qv::PixelFormatFromLegacy(picture.format);
    if (picture.width == video_param.width && picture.height == video_param.height &&
        format == video_param.pix_fmt) {
        return 0;
    }
    const int size =
        av_image_get_buffer_size(static_cast<AVPixelFormat>(format), picture.width, picture.height, 1);
    if (video_param.video_buffer) {
        av_freep(&video_param.video_buffer);
        video_param.video_buffer_size = 0;
    }
    // A size FFmpeg refuses gets no buffer at all rather than a bogus allocation.
    video_param.video_buffer = qv::AllocatePicture(size);
    if (!video_param.video_buffer) {
        video_param.video_buffer_size = 0;
        QVDECODE_LOG("QVSetPictureParam: allocate video buffer failed.", 15);
        return -1;
    }
    video_param.width = picture.width;
    video_param.height = picture.height;
    video_param.video_buffer_size = size;

    if (!video_ctx) return 0;

    const int codec = qv::CodecToLegacy(video_param.codec_id);
    {
        std::lock_guard<std::mutex> lock(qv::GlobalLock());
        video_ctx.reset();
    }
    opened = false;

    if (QVOpenDecoder(static_cast<enum CodecID>(codec), picture) != 0) {
        QVDECODE_LOG("QVSetPictureParam: reopen decoder failed.", 15);
        return -1;
    }
    output_param.width = output_request.width;
    output_param.height = output_request.height;
    output_param.pix_fmt = output_request.format;
    return 0;
}
