#include "stream/stream_video_path.h"

#include <mutex>

#include "bitstream/demux_buffer.h"
#include "bitstream/field_split.h"
#include "base/ffmpeg.h"
#include "base/legacy_ids.h"
#include "base/library.h"
#include "video/picture_limit.h"

namespace qv {

OpenOutcome StreamVideoPath::Open(enum CodecID codec, _picture_param requested, bool combined) {
    // Sizes libavcodec refuses whatever the limit fail its open below, as they always have.
    if (OverLimit(requested.width, requested.height, modes_.max_pixels) &&
        av_image_check_size(requested.width, requested.height, 0, nullptr) >= 0) {
        return OpenOutcome::Closed(-10005, "QVOpenDecoder: picture size over the limit.");
    }
    AVCodecContext* ctx = NewVideoContext(requested);
    if (!ctx) return OpenOutcome::Kept(-10006, "QVOpenDecoder: failed to allocate video context.");
    if (!combined) ctx->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    const int av_codec = CodecFromLegacy(codec);
    if (const OpenOutcome opened = OpenVideoCodec(ctx, av_codec, combined); opened.code != 0) return opened;
    RecordStreamPicture(ctx, av_codec);
    return delivery_.AllocatePictureBuffer(
        combined ? "QVOpenDecoder: wrong video buffer size." : "QVOpenDecoder: wrong buffer size.",
        "QVOpenDecoder: failed to allocate video buffer.");
}

// Finds and opens libavcodec's decoder for the stream-mode video context. The combined
// video-and-audio open takes the lock separately for the look-up and the open, and words
// its failures its own way.
OpenOutcome StreamVideoPath::OpenVideoCodec(AVCodecContext* ctx, int av_codec, bool combined) {
    std::unique_lock<std::mutex> lock(GlobalLock());
    const AVCodec* decoder = av_codec >= 0 ? avcodec_find_decoder(static_cast<AVCodecID>(av_codec)) : nullptr;
    if (!decoder || decoder->type != AVMEDIA_TYPE_VIDEO) {
        return OpenOutcome::Closed(
            -10007, combined ? "QVOpenDecoder:failed to find an decoder." : "QVOpenDecoder: can't find the video codec.");
    }
    if (combined) {
        lock.unlock();
        lock.lock();
    }
    // Without a reordering depth in its parameter sets, an H.264 decoder learns it from the
    // first out-of-order picture and drops the ones before; the strict reading takes the
    // largest depth the level allows from the start.
    if (modes_.CompleteOutput() && decoder->id == AV_CODEC_ID_H264) ctx->strict_std_compliance = FF_COMPLIANCE_STRICT;
    if (avcodec_open2(ctx, decoder, nullptr) != 0) {
        video_.Adopt(nullptr);
        return OpenOutcome::Closed(
            -10007, combined ? "QVOpenDecoder: failed to open the video codec." : "QVOpenDecoder: failed to open video codec.");
    }
    return OpenOutcome::Done();
}

// A video context for a stream-mode open: picture size, chunk flag, threads; owned by the
// video decoder from here on, so a failing open releases it with the rest.
AVCodecContext* StreamVideoPath::NewVideoContext(_picture_param requested) {
    AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
    if (!ctx) return nullptr;
    video_.Adopt(ctx);
    ctx->width = requested.width;
    ctx->height = requested.height;
    ctx->pix_fmt = static_cast<AVPixelFormat>(PixelFormatFromLegacy(requested.format));
    // Fields of one frame come in separate pushes. Chunked input reaches the decoder as whole
    // frames cut by the parser: told to wait for the rest of a frame, the decoder would
    // never finish a damaged one and refuse every frame behind it until a key frame.
    if (modes_.code_mode == 1) ctx->flags2 |= AV_CODEC_FLAG2_CHUNKS;
    // Whether the parser may serve this decoder is fixed here; the host's mode at each push
    // still says whether it does.
    chunked_ = modes_.transfer_mode == 1 || modes_.code_mode == 1;
    // One pushed frame gives at most one picture without frame threads; those only run for
    // a host that takes every picture with the receive loop.
    ApplyThreads(ctx, modes_.thread_request, modes_.CompleteOutput());
    video_.LimitPictures(modes_.max_pixels);
    return ctx;
}

void StreamVideoPath::RecordStreamPicture(const AVCodecContext* ctx, int codec) {
    _video_param& p = picture_.video_param;
    p.width = ctx->width;
    p.height = ctx->height;
    p.pix_fmt = ctx->pix_fmt;
    p.codec_id = codec;
    p.bit_rate = static_cast<int>(ctx->bit_rate);
    // Pushed streams carry no rate the decoder could know: 25/1 by convention.
    p.frame_rate_num = 25;
    p.frame_rate_den = 1;
}

OpenOutcome StreamVideoPath::FinishOpen() {
    output_.set_threads(modes_.thread_request);
    output_.AfterOpen(delivery_.Decoded(false).source());
    if (modes_.demux == 1 && !demux_stage_.AllocateDemuxBuffer()) {
        return OpenOutcome::Closed(-10006, "QVOpenDecoder: failed to allocate demux buffer.");
    }
    delivery_.StartStream();
    flush_pending_ = false;
    return OpenOutcome::Done();
}

void StreamVideoPath::CloseDecoder() {
    video_.Close(true);
    chunks_.Release();
}

int StreamVideoPath::Push(unsigned char* data, int length, int repack_flag) {
    if (!data || length <= 0) return -1;
    const uint8_t* input = data;

    if (repack_flag == 1 && picture_.video_param.codec_id == AV_CODEC_ID_H264) {
        if (!repack_.FindH264NalUnits(input, length)) return -1;
        input = repack_.nal_buffer();
        length = repack_.nal_buffer_length();
    }
    if (modes_.demux == 1) {
        if (!demux_stage_.Demultiplex(input, length)) return -1;
        input = demux_stage_.demux_buffer()->data;
        length = demux_stage_.demux_buffer()->length;
    }
    // A push after a flush whose pictures were not all taken starts the stream afresh.
    if (video_.draining() || flush_pending_) {
        video_.Restart();
        chunks_.Clear();
        flush_pending_ = false;
    }

    if (delivery_.field_coded()) return DecodeFieldFrame(input, length);
    if (UsesChunkedInput()) return DecodeChunkedVideo(input, length) == 0 ? 0 : -1;
    return delivery_.DecodeFrame(input, length) == 0 ? 0 : -1;
}

// Field-coded frames: each pushed frame holds two separately coded fields, decoded one
// after the other; the first is kept and the two are merged into one frame.
int StreamVideoPath::DecodeFieldFrame(const uint8_t* data, int length) {
    int cut = GetField(data, length);
    if (cut < 0) {
        log_.Log("QVDecodeVideoFrame: only one field found.", 15);
        return -1;
    }

    // The first field must be held within this very input; nothing carries over.
    bool first_held = false;
    bool second_decoded = false;
    int offset = 0;
    for (;;) {
        const int result = delivery_.DecodeFrame(data + offset, cut);
        offset += cut;
        const _video_param& p = picture_.video_param;
        const _picture_param decoded{p.width, p.height, static_cast<enum PixelFormat>(p.pix_fmt)};
        if (result == 0 && !first_held) {
            if (!fields_.HoldFirstField(p.video_buffer, p.video_buffer_size, decoded)) return -1;
            first_held = true;
        } else if (result == 0) {
            second_decoded = true;  // whatever input follows is not looked at
            break;
        }
        cut = GetField(data + offset, length - offset);
        if (cut < 0) break;
    }

    if (!second_decoded) {
        if (!first_held) {
            log_.Log("QVDecodeVideoFrame: only one field found.", 15);
            return -1;
        }
        if (delivery_.DecodeFrame(data + offset, length - offset) != 0) return -1;
    }

    const _video_param& p = picture_.video_param;
    const _picture_param field{p.width, p.height, static_cast<enum PixelFormat>(p.pix_fmt)};
    if (!fields_.Merge(p.video_buffer, p.video_buffer_size, field)) return -1;
    if (output_.enabled()) {
        output_.set_source_colour(ColourOf(picture_.format(), picture_.colorspace(), picture_.color_range()));
        output_.ConvertPicture(fields_.merged_frame_buffer(), _picture_param{field.width, 2 * field.height, field.format});
    }
    return delivery_.PictureReady(merged()) ? 0 : -1;
}

bool StreamVideoPath::UsesChunkedInput() {
    // The mode takes effect at open time; file-mode decoders are fed whole packets by the
    // demuxer. Demultiplexing applies from the next push, open or not, and packs cut frames
    // anywhere: the parser that puts them together again comes with it, or every pack
    // holding more than one frame would give its first picture only.
    const AVCodecContext* ctx = video_.context();
    if (modes_.transfer_mode != 1 || !(chunked_ || modes_.demux == 1) || !ctx || delivery_.file_source()) return false;
    return chunks_.Serves(ctx);
}

int StreamVideoPath::DecodeChunkedVideo(const uint8_t* data, int length) {
    if (!video_.ready()) return -10005;
    int status = chunks_.Parse(video_.context(), data, length);
    bool got_picture = false;
    chunks_.SendQueuedFrames(video_, got_picture, status);
    if (!got_picture) got_picture = video_.ReceiveOne(status);
    if (status < 0) delivery_.MarkReferenceMissing();
    const bool laid_out = got_picture && delivery_.LayOutPicture();
    if (!laid_out) delivery_.ExplainMissingPicture(data, length, status);
    // A picture is delivered even when another frame of the same call failed: it is whole,
    // and the host would otherwise never see it.
    return delivery_.DeliverPicture(laid_out, laid_out ? 0 : status);
}

int StreamVideoPath::Receive() {
    // Pictures that cannot be handed out (key-frame gating, no room) are passed over, so
    // that the host's loop does not stop while the decoder still holds pictures. A decoder
    // that neither takes queued frames nor gives pictures ends the loop.
    for (int idle = 0; idle < 64;) {
        bool got = false;
        int status = 0;
        const size_t waiting = chunks_.waiting_frames();
        if (waiting > 0) chunks_.SendQueuedFrames(video_, got, status);
        const bool progress = got || chunks_.waiting_frames() < waiting;
        if (status < 0) delivery_.MarkReferenceMissing();
        if (!got && flush_pending_ && chunks_.waiting_frames() == 0) {
            flush_pending_ = false;
            video_.StartDrain();
        }
        if (!got) {
            const int received = video_.Receive();
            if (received == AVERROR_EOF) {
                // The drain is over: the decoder takes new input as from a fresh start.
                video_.Restart();
                chunks_.Clear();
                delivery_.ForgetKeyFrame();
                return -1;
            }
            if (received != 0) {
                if (received != AVERROR(EAGAIN)) {
                    delivery_.MarkReferenceMissing();  // a frame that failed; the next may decode
                    ++idle;
                    continue;
                }
                if ((chunks_.waiting_frames() > 0 || flush_pending_) && progress) continue;
                if (chunks_.waiting_frames() > 0 || flush_pending_) {
                    ++idle;
                    continue;
                }
                return -1;
            }
        }
        if (!delivery_.LayOutPicture()) continue;
        if (modes_.output_mode == 1 && !delivery_.key_frame_seen()) continue;
        return 0;
    }
    return -1;
}

int StreamVideoPath::Flush() {
    // The frame a parser still holds goes in with the queued ones before the drain starts.
    if (UsesChunkedInput()) chunks_.Finish(video_.context());
    flush_pending_ = true;
    if (chunks_.waiting_frames() == 0) {
        flush_pending_ = false;
        if (video_.StartDrain() < 0) return -1;
    }
    return 0;
}

void StreamVideoPath::Release() {
    fields_.Release();
    demux_stage_.Release();
    repack_.Release();
    chunks_.Release();
    flush_pending_ = false;
}

}  // namespace qv
