// Opening a media file: the container, the chosen video and audio streams, their
// decoders and the picture and audio buffers.
#include <climits>
#include <mutex>

#include "core/decoder_impl.h"
#include "core/ffmpeg.h"
#include "core/library.h"
#include "decoder/file_rates.h"

namespace {

constexpr int kFileAudioBufferSize = 192000;

const AVCodec* FindDecoder(AVCodecID id) {
    std::lock_guard<std::mutex> lock(qv::GlobalLock());
    return avcodec_find_decoder(id);
}

// A decoder context of our own for one stream, filled from the stream's parameters.
// Single-threaded, so that one packet gives at most one picture.
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

    AVFormatContext* raw_format = nullptr;
    if (avformat_open_input(&raw_format, name, nullptr, nullptr) != 0) {
        QVDECODE_LOG("QVOpen: failed to open input file.", 15);
        return -10001;
    }
    format_ctx.reset(raw_format);
    if (!packet) packet.reset(av_packet_alloc());
    if (packet) av_packet_unref(packet.get());
    audio_offset = 0;
    audio_packet_sent = false;
    file_draining = false;

    int probed;
    {
        std::lock_guard<std::mutex> lock(qv::GlobalLock());
        probed = avformat_find_stream_info(format_ctx.get(), nullptr);
    }
    if (probed < 0 || !packet) {
        QVClose();
        QVDECODE_LOG("QVOpen: can't find stream information in file.", 15);
        return -10005;
    }

    // The last stream of each kind wins, as hosts of multi-angle files expect.
    for (unsigned i = 0; i < format_ctx->nb_streams; ++i) {
        AVStream* stream = format_ctx->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            video_stream = stream;
            has_video = true;
        } else if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            audio_stream = stream;
            has_audio = true;
        }
    }

    if (has_video) {
        const AVCodec* codec = FindDecoder(video_stream->codecpar->codec_id);
        if (!codec) {
            QVClose();
            QVDECODE_LOG("QVOpen: unkown video codec.", 15);
            return -10007;
        }
        file_video_ctx.reset(MakeStreamContext(codec, video_stream));
        if (!file_video_ctx) {
            QVClose();
            QVDECODE_LOG("QVOpen: failed to open video codec.", 15);
            return -10006;
        }
        AVCodecContext* c = file_video_ctx.get();
        video_param.width = c->width;
        video_param.height = c->height;
        video_param.pix_fmt = c->pix_fmt;
        video_param.codec_id = c->codec_id;

        video_param.bit_rate = qv::FileBitRate(c->bit_rate, c->bit_rate_tolerance);
        if (video_param.bit_rate == 0) {
            QVClose();
            QVDECODE_LOG("QVOpen: find zero bitrate in stream.", 15);
            return -10005;
        }

        const qv::FrameRate rate = qv::FileFrameRate(
            video_stream->r_frame_rate.num, video_stream->r_frame_rate.den,
            video_stream->time_base.num, video_stream->time_base.den, video_stream->duration,
            video_stream->nb_frames);
        video_param.frame_rate_num = rate.num;
        video_param.frame_rate_den = rate.den;

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
        const AVCodec* codec = FindDecoder(audio_stream->codecpar->codec_id);
        if (!codec) {
            QVClose();
            QVDECODE_LOG("QVOpen: unkown codec.", 15);
            return -10007;
        }
        file_audio_ctx.reset(MakeStreamContext(codec, audio_stream));
        if (!file_audio_ctx) {
            QVClose();
            QVDECODE_LOG("QVOpen: failed to open audio codec.", 15);
            return -10006;
        }
        AVCodecContext* a = file_audio_ctx.get();
        video_param.sample_rate = a->sample_rate;
        video_param.channels = a->ch_layout.nb_channels;
        video_param.audio_bit_rate = a->bit_rate > INT_MAX ? INT_MAX : static_cast<int>(a->bit_rate);
        video_param.audio_codec_id = codec->id;

        if (!OpenStreamContext(a, codec)) {
            QVClose();
            QVDECODE_LOG("QVOpen: failed to open audio codec.", 15);
            return -10005;
        }

        video_param.audio_buffer_size = kFileAudioBufferSize;
        video_param.audio_buffer = static_cast<unsigned char*>(av_malloc(kFileAudioBufferSize));
        if (!video_param.audio_buffer) {
            QVClose();
            QVDECODE_LOG("QVOpen: failed to allocate audio buffer.", 15);
            return -10006;
        }
        audio_frame_size = kFileAudioBufferSize;
    }

    if (output_enabled) {
        const _picture_param source{video_param.width,
                                    video_param.height * (code_mode == 1 ? 2 : 1),
                                    static_cast<enum PixelFormat>(video_param.pix_fmt)};
        SetConverter(source, output_request);
    }
    if (!output_enabled) {
        output_param.width = video_param.width;
        output_param.height = video_param.height;
        output_param.pix_fmt = video_param.pix_fmt;
    }

    opened = true;
    key_frame_seen = false;
    raw_supported = has_video && CheckFormatAndCodec(video_param.codec_id, format_ctx->iformat->name);
    return 0;
}
