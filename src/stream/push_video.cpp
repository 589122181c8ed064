// Pushed video: the stages of one pushed frame, field-coded frames, chunked input, and the
// further pictures a push yields (receive loop, end-of-stream flush).
#include "core/decoder_impl.h"
#include "bitstream/demux_buffer.h"
#include "bitstream/field_split.h"
#include "core/ffmpeg.h"

int QVDecoder::Impl::QVDecodeVideoFrame(unsigned char* data, int length, int repack_flag) {
    if (!data || length <= 0) return -1;
    const uint8_t* input = data;

    if (repack_flag == 1 && picture.video_param.codec_id == AV_CODEC_ID_H264) {
        if (!repack.FindH264NalUnits(input, length)) return -1;
        input = repack.nal_buffer();
        length = repack.nal_buffer_length();
    }
    if (demux == 1) {
        if (!demux_stage.Demultiplex(input, length)) return -1;
        input = demux_stage.demux_buffer()->data;
        length = demux_stage.demux_buffer()->length;
    }
    // A push after a flush whose pictures were not all taken starts the stream afresh.
    if (video.draining() || flush_pending) {
        video.Restart();
        chunks.Clear();
        flush_pending = false;
    }

    if (field_coded()) return DecodeFieldFrame(input, length);
    if (UsesChunkedInput()) return DecodeChunkedVideo(input, length) == 0 ? 0 : -1;
    return DecodeVideoFrame(input, length) == 0 ? 0 : -1;
}

// Field-coded frames: each pushed frame holds two separately coded fields, decoded one
// after the other; the first is kept and the two are merged into one frame.
int QVDecoder::Impl::DecodeFieldFrame(const uint8_t* data, int length) {
    int cut = qv::GetField(data, length);
    if (cut < 0) {
        QVDECODE_LOG("QVDecodeVideoFrame: only one field found.", 15);
        return -1;
    }

    // The first field must be held within this very input; nothing carries over.
    bool first_held = false;
    bool second_decoded = false;
    int offset = 0;
    for (;;) {
        const int result = DecodeVideoFrame(data + offset, cut);
        offset += cut;
        const _video_param& p = picture.video_param;
        const _picture_param decoded{p.width, p.height, static_cast<enum PixelFormat>(p.pix_fmt)};
        if (result == 0 && !first_held) {
            if (!fields.HoldFirstField(p.video_buffer, p.video_buffer_size, decoded)) return -1;
            first_held = true;
        } else if (result == 0) {
            second_decoded = true;  // whatever input follows is not looked at
            break;
        }
        cut = qv::GetField(data + offset, length - offset);
        if (cut < 0) break;
    }

    if (!second_decoded) {
        if (!first_held) {
            QVDECODE_LOG("QVDecodeVideoFrame: only one field found.", 15);
            return -1;
        }
        if (DecodeVideoFrame(data + offset, length - offset) != 0) return -1;
    }

    const _video_param& p = picture.video_param;
    const _picture_param field{p.width, p.height, static_cast<enum PixelFormat>(p.pix_fmt)};
    if (!fields.Merge(p.video_buffer, p.video_buffer_size, field)) return -1;
    if (output.enabled()) {
        output.ConvertPicture(fields.merged_frame_buffer(), _picture_param{field.width, 2 * field.height, field.format});
    }
    return PictureReady() ? 0 : -1;
}

bool QVDecoder::Impl::UsesChunkedInput() {
    // The mode takes effect at open time, where it sets the decoder's chunked-input flag;
    // file-mode decoders are fed whole packets by the demuxer.
    const AVCodecContext* ctx = video.context();
    if (transfer_mode != 1 || !ctx || file_mode()) return false;
    if (!(ctx->flags2 & AV_CODEC_FLAG2_CHUNKS)) return false;
    return chunks.Serves(ctx);
}

int QVDecoder::Impl::DecodeChunkedVideo(const uint8_t* data, int length) {
    if (!video.ready()) return -10005;
    int status = chunks.Parse(video.context(), data, length);
    bool got_picture = false;
    chunks.SendQueuedFrames(video, got_picture, status);
    if (!got_picture) got_picture = video.ReceiveOne(status);
    if (status < 0) reference_missing = true;
    const bool laid_out = got_picture && LayOutPicture();
    if (!laid_out) ExplainMissingPicture(data, length, status);
    // A picture is delivered even when another frame of the same call failed: it is whole,
    // and the host would otherwise never see it.
    return DeliverPicture(laid_out, laid_out ? 0 : status);
}

int QVDecoder::Impl::ReceivePicture() {
    // Pictures that cannot be handed out (key-frame gating, no room) are passed over, so
    // that the host's loop does not stop while the decoder still holds pictures. A decoder
    // that neither takes queued frames nor gives pictures ends the loop.
    for (int idle = 0; idle < 64;) {
        bool got = false;
        int status = 0;
        const size_t waiting = chunks.waiting_frames();
        if (waiting > 0) chunks.SendQueuedFrames(video, got, status);
        const bool progress = got || chunks.waiting_frames() < waiting;
        if (status < 0) reference_missing = true;
        if (!got && flush_pending && chunks.waiting_frames() == 0) {
            flush_pending = false;
            video.StartDrain();
        }
        if (!got) {
            const int received = video.Receive();
            if (received == AVERROR_EOF) {
                // The drain is over: the decoder takes new input as from a fresh start.
                video.Restart();
                chunks.Clear();
                key_frame_seen = false;
                return -1;
            }
            if (received != 0) {
                if (received != AVERROR(EAGAIN)) {
                    reference_missing = true;  // a frame that failed; the next may decode
                    ++idle;
                    continue;
                }
                if ((chunks.waiting_frames() > 0 || flush_pending) && progress) continue;
                if (chunks.waiting_frames() > 0 || flush_pending) {
                    ++idle;
                    continue;
                }
                return -1;
            }
        }
        if (!LayOutPicture()) continue;
        if (output_mode == 1 && !key_frame_seen) continue;
        return 0;
    }
    return -1;
}

int QVDecoder::Impl::QVReceiveVideoFrame() {
    if (!opened || !video.ready() || file_mode() || field_coded()) return -1;
    return ReceivePicture();
}

int QVDecoder::Impl::QVFlushVideo() {
    if (!opened || !video.ready() || file_mode() || field_coded()) return -1;
    // The frame a parser still holds goes in with the queued ones before the drain starts.
    if (UsesChunkedInput()) chunks.Finish(video.context());
    flush_pending = true;
    if (chunks.waiting_frames() == 0) {
        flush_pending = false;
        if (video.StartDrain() < 0) return -1;
    }
    return 0;
}
