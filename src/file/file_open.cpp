// Opening a media file: the container, the chosen streams, their decoders and the picture
// and audio buffers.
#include <climits>
#include <mutex>

#include "core/decoder_impl.h"
#include "core/ffmpeg.h"
#include "core/library.h"
#include "file/file_rates.h"

namespace {

const AVCodec* FindDecoder(AVCodecID id) {
    std::lock_guard<std::mutex> lock(qv::GlobalLock());
    return avcodec_find_decoder(id);
}

// A decoder context of our own for one stream, filled from the stream's parameters.
AVCodecContext* MakeStreamContext(const AVCodec* codec, const AVStream* stream) {
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) return nullptr;
    if (avcodec_parameters_to_context(ctx, stream->codecpar) < 0) {
        avcodec_free_context(&ctx);
        return nullptr;
    }
    ctx->thread_count = 1;
    ctx->pkt_timebase = stream->time_base;
    return ctx;
}

bool OpenStreamContext(AVCodecContext* ctx, const AVCodec* codec) {
    std::lock_guard<std::mutex> lock(qv::GlobalLock());
    return avcodec_open2(ctx, codec, nullptr) == 0;
}

}  // namespace

int QVDecoder::Impl::QVOpen(const char* name) {
    if (!qv::IsInitialized()) return -1;
    if (!name) {
        QVDECODE_LOG("QVOpen: failed to open decoer with NULL name.", 15);
        return -10001;
    }
    if (opened) return 0;

    audio.ResetAudioDecoding();
    const int container = file.Open(name, max_pixels);
    if (container == -10001) {
        QVDECODE_LOG("QVOpen: failed to open input file.", 15);
        return -10001;
    }
    if (container == qv::MediaFile::kPictureOverLimit) {
        QVClose();
        QVDECODE_LOG("QVOpen: picture size over the limit.", 15);
        return -10005;
    }
    if (container != 0) {
        QVClose();
        QVDECODE_LOG("QVOpen: can't find stream information in file.", 15);
        return -10005;
    }
    has_video = file.video_stream() != nullptr;
    has_audio = file.audio_stream() != nullptr;

    if (has_video) {
        AVStream* stream = file.video_stream();
        if (qv::OverLimit(stream->codecpar->width, stream->codecpar->height, max_pixels)) {
            QVClose();
            QVDECODE_LOG("QVOpen: picture size over the limit.", 15);
            return -10005;
        }
        const AVCodec* codec = FindDecoder(stream->codecpar->codec_id);
        if (!codec) {
            QVClose();
            QVDECODE_LOG("QVOpen: unkown video codec.", 15);
            return -10007;
        }
        AVCodecContext* c = MakeStreamContext(codec, stream);
        video.Adopt(c);
        if (!c) {
            QVClose();
            QVDECODE_LOG("QVOpen: failed to open video codec.", 15);
            return -10006;
        }
        // Frame threads are fine here: pictures held by the threads come out by the drain
        // at the end of the file.
        qv::ApplyThreads(c, thread_request, true);
        video.LimitPictures(max_pixels);
        _video_param& p = picture.video_param;
        p.width = c->width;
        p.height = c->height;
        p.pix_fmt = c->pix_fmt;
        p.codec_id = c->codec_id;
        p.bit_rate = qv::FileBitRate(c->bit_rate, c->bit_rate_tolerance);
        if (p.bit_rate == 0) {
            QVClose();
            QVDECODE_LOG("QVOpen: find zero bitrate in stream.", 15);
            return -10005;
        }
        const qv::FrameRate rate =
            qv::FileFrameRate(stream->r_frame_rate.num, stream->r_frame_rate.den, stream->time_base.num,
                              stream->time_base.den, stream->duration, stream->nb_frames);
        p.frame_rate_num = rate.num;
        p.frame_rate_den = rate.den;
        file.set_frame_period(rate.num > 0 && rate.den > 0 ? static_cast<double>(rate.den) / rate.num : 0.0);

        if (!OpenStreamContext(c, codec)) {
            QVClose();
            QVDECODE_LOG("QVOpen: failed to open video codec.", 15);
            return -10005;
        }
        const int buffer = AllocatePictureBuffer("QVOpen: wrong video buffer size.",
                                                 "QVOpen: failed to allcoate video buffer.");
        if (buffer != 0) return buffer;
    }

    if (has_audio) {
        AVStream* stream = file.audio_stream();
        const AVCodec* codec = FindDecoder(stream->codecpar->codec_id);
        if (!codec) {
            QVClose();
            QVDECODE_LOG("QVOpen: unkown codec.", 15);
            return -10007;
        }
        AVCodecContext* a = MakeStreamContext(codec, stream);
        audio.AdoptFileContext(a);
        if (!a) {
            QVClose();
            QVDECODE_LOG("QVOpen: failed to open audio codec.", 15);
            return -10006;
        }
        // The stream's parameters as the container gave them, before the decoder opens.
        const int sample_rate = a->sample_rate;
        const int channels = a->ch_layout.nb_channels;
        const int bit_rate = a->bit_rate > INT_MAX ? INT_MAX : static_cast<int>(a->bit_rate);
        if (!OpenStreamContext(a, codec)) {
            QVClose();
            QVDECODE_LOG("QVOpen: failed to open audio codec.", 15);
            return -10005;
        }
        if (audio.InitializeAudio(sample_rate, bit_rate, channels, codec->id) != 0) {
            QVClose();
            QVDECODE_LOG("QVOpen: failed to allocate audio buffer.", 15);
            return -10006;
        }
    }

    // Frame threads deliver each picture thread_count - 1 packets later than one thread.
    const AVCodecContext* vctx = video.context();
    const bool frame_threads = vctx && (vctx->active_thread_type & FF_THREAD_FRAME) && vctx->thread_count > 1;
    clock.Reset(frame_threads ? vctx->thread_count - 1 : 0);
    // Frame threads keep every core busy already: slicing the conversion as well only adds
    // hand-overs (measured slower on two cores), so it runs in the caller's thread then.
    output.set_threads(frame_threads ? 1 : thread_request);
    output.AfterOpen(Decoded().source());
    opened = true;
    key_frame_seen = false;
    reference_missing = false;
    raw.OnOpen(file, picture.video_param.codec_id);
    return 0;
}
