// The stream-mode video open and the picture-size change.
#include <mutex>

#include "core/decoder_impl.h"
#include "core/ffmpeg.h"
#include "core/legacy_ids.h"
#include "core/library.h"

bool QVDecoder::Impl::CheckInitialized() {
    if (qv::IsInitialized()) return true;
    QVDECODE_LOG("QVOpenDecoder: decoder has not been initinalized.", 15);
    return false;
}

int QVDecoder::Impl::QVOpenDecoder(enum CodecID codec, _picture_param requested) {
    if (!CheckInitialized()) return -1;
    if (opened) return 0;
    if (const int result = OpenStreamVideo(codec, requested, false); result != 0) return result;
    return FinishStreamVideoOpen();
}

// The video half of both stream-mode opens: context, codec, picture record and buffer. The
// combined video-and-audio open leaves the interlacing flags clear and words its messages
// its own way.
int QVDecoder::Impl::OpenStreamVideo(enum CodecID codec, _picture_param requested, bool combined) {
    // Sizes libavcodec refuses whatever the limit fail its open below, as they always have.
    if (qv::OverLimit(requested.width, requested.height, max_pixels) &&
        av_image_check_size(requested.width, requested.height, 0, nullptr) >= 0) {
        QVClose();
        QVDECODE_LOG("QVOpenDecoder: picture size over the limit.", 15);
        return -10005;
    }
    AVCodecContext* ctx = NewVideoContext(requested);
    if (!ctx) return -10006;
    if (!combined) ctx->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    const int av_codec = qv::CodecFromLegacy(codec);
    if (const int result = OpenVideoCodec(ctx, av_codec, combined); result != 0) return result;
    RecordStreamPicture(ctx, av_codec);
    return AllocatePictureBuffer(combined ? "QVOpenDecoder: wrong video buffer size." : "QVOpenDecoder: wrong buffer size.",
                                 "QVOpenDecoder: failed to allocate video buffer.");
}

// Finds and opens libavcodec's decoder for the stream-mode video context; on failure the
// object is closed and the failure logged. The combined video-and-audio open takes the lock
// separately for the look-up and the open, and words its failures its own way.
int QVDecoder::Impl::OpenVideoCodec(AVCodecContext* ctx, int av_codec, bool combined) {
    std::unique_lock<std::mutex> lock(qv::GlobalLock());
    const AVCodec* decoder = av_codec >= 0 ? avcodec_find_decoder(static_cast<AVCodecID>(av_codec)) : nullptr;
    if (!decoder || decoder->type != AVMEDIA_TYPE_VIDEO) {
        lock.unlock();
        QVClose();
        QVDECODE_LOG(combined ? "QVOpenDecoder:failed to find an decoder." : "QVOpenDecoder: can't find the video codec.",
                     15);
        return -10007;
    }
    if (combined) {
        lock.unlock();
        lock.lock();
    }
    // Without a reordering depth in its parameter sets, an H.264 decoder learns it from the
    // first out-of-order picture and drops the ones before; the strict reading takes the
    // largest depth the level allows from the start.
    if (CompleteOutput() && decoder->id == AV_CODEC_ID_H264) ctx->strict_std_compliance = FF_COMPLIANCE_STRICT;
    if (avcodec_open2(ctx, decoder, nullptr) != 0) {
        video.Adopt(nullptr);
        lock.unlock();
        QVClose();
        QVDECODE_LOG(combined ? "QVOpenDecoder: failed to open the video codec." : "QVOpenDecoder: failed to open video codec.",
                     15);
        return -10007;
    }
    return 0;
}

// A video context for a stream-mode open: picture size, chunk flag, threads; owned by the
// video decoder from here on, so a failing open releases it with the rest.
AVCodecContext* QVDecoder::Impl::NewVideoContext(_picture_param requested) {
    AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
    if (!ctx) {
        QVDECODE_LOG("QVOpenDecoder: failed to allocate video context.", 15);
        return nullptr;
    }
    video.Adopt(ctx);
    ctx->width = requested.width;
    ctx->height = requested.height;
    ctx->pix_fmt = static_cast<AVPixelFormat>(qv::PixelFormatFromLegacy(requested.format));
    if (transfer_mode == 1 || code_mode == 1) ctx->flags2 |= AV_CODEC_FLAG2_CHUNKS;
    // One pushed frame gives at most one picture without frame threads; those only run for
    // a host that takes every picture with the receive loop.
    qv::ApplyThreads(ctx, thread_request, CompleteOutput());
    video.LimitPictures(max_pixels);
    return ctx;
}

void QVDecoder::Impl::RecordStreamPicture(const AVCodecContext* ctx, int codec) {
    _video_param& p = picture.video_param;
    p.width = ctx->width;
    p.height = ctx->height;
    p.pix_fmt = ctx->pix_fmt;
    p.codec_id = codec;
    p.bit_rate = static_cast<int>(ctx->bit_rate);
    // Pushed streams carry no rate the decoder could know: 25/1 by convention.
    p.frame_rate_num = 25;
    p.frame_rate_den = 1;
}

int QVDecoder::Impl::AllocatePictureBuffer(const char* wrong_size_message, const char* no_memory_message) {
    const int result = picture.AllocatePictureBuffer();
    if (result == 0) return 0;
    QVClose();
    QVDECODE_LOG(result == -10005 ? wrong_size_message : no_memory_message, 15);
    return result;
}

// The last steps of both stream-mode opens that carry video: output set-up, the demux
// buffer when demultiplexing, and the open state.
int QVDecoder::Impl::FinishStreamVideoOpen() {
    output.set_threads(thread_request);
    output.AfterOpen(Decoded().source());
    if (demux == 1 && !demux_stage.AllocateDemuxBuffer()) {
        QVClose();
        QVDECODE_LOG("QVOpenDecoder: failed to allocate demux buffer.", 15);
        return -10006;
    }
    key_frame_seen = false;
    reference_missing = false;
    flush_pending = false;
    opened = true;
    return 0;
}

int QVDecoder::Impl::QVSetPictureParam(_picture_param requested) {
    const int format = qv::PixelFormatFromLegacy(requested.format);
    if (picture.SameGeometry(requested.width, requested.height, format)) return 0;
    if (qv::OverLimit(requested.width, requested.height, max_pixels)) {
        QVDECODE_LOG("QVSetPictureParam: picture size over the limit.", 15);
        return -1;
    }
    if (!picture.Replace(requested.width, requested.height, format)) {
        QVDECODE_LOG("QVSetPictureParam: allocate video buffer failed.", 15);
        return -1;
    }
    if (!video.context() || file_mode()) return 0;

    const int codec = qv::CodecToLegacy(picture.video_param.codec_id);
    video.Close(true);
    chunks.Release();
    opened = false;
    if (QVOpenDecoder(static_cast<enum CodecID>(codec), requested) != 0) {
        QVDECODE_LOG("QVSetPictureParam: reopen decoder failed.", 15);
        return -1;
    }
    const _picture_param& wanted = output.request();
    output.output_param.width = wanted.width;
    output.output_param.height = wanted.height;
    output.output_param.pix_fmt = wanted.format;
    return 0;
}
