// Sequential decoding of an open file, packet by packet, with the packet times.
#include <cmath>
#include <cstdint>

#include "core/decoder_impl.h"
#include "core/ffmpeg.h"

namespace {

// Twelve reads in all: a transient read error (a network share hiccup) gets eleven
// immediate retries before the file counts as ended.
constexpr int kReadAttempts = 12;

// Seconds of a packet: its decoding time, else its presentation time, else the time
// of the packet before it (a packet without either still belongs to the timeline).
double PacketSeconds(const AVPacket& pkt, int64_t preferred, const AVStream& stream, double previous) {
    int64_t time = preferred;
    if (time == AV_NOPTS_VALUE) time = pkt.pts;
    if (time == AV_NOPTS_VALUE || stream.time_base.den == 0) return previous;
    return static_cast<double>(stream.time_base.num) * static_cast<double>(time) / stream.time_base.den;
}

}  // namespace

int QVDecoder::Impl::ReadFrame() {
    if (!format_ctx || !packet) return -1;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        av_packet_unref(packet.get());
        const int result = av_read_frame(format_ctx.get(), packet.get());
        if (result >= 0) return 0;
        if (result == AVERROR_EOF) return -1;
        // A failed read leaves the I/O error set when the file itself is broken; only
        // errors that leave the I/O context clean are worth another try.
        const AVIOContext* io = format_ctx->pb;
        if (io && io->error != 0) return -1;
    }
    return -1;
}

int QVDecoder::Impl::QVDecodeFrame() {
    if (!opened) {
        QVDECODE_LOG("QVDecodeFrame: non-opened decoder.", 15);
        return -10008;
    }

    if (!file_draining && (!packet || packet->size <= 0)) {
        if (ReadFrame() != 0) file_draining = true;
    }

    // At the end of the file the video decoder still holds the pictures it delayed for
    // reordering: hand them out one per call before reporting the end.
    if (file_draining) {
        if (video_stream && file_video_ctx && DecodeVideoFrame(nullptr, 0) == 0) return 0;
        return -10003;
    }

    if (video_stream && packet->stream_index == video_stream->index) {
        frame_time = PacketSeconds(*packet, packet->dts, *video_stream, frame_time);
        const int result = DecodeVideoFrame(packet->data, packet->size);
        av_packet_unref(packet.get());
        return result == 0 ? 0 : -10002;
    }

    if (audio_stream && packet->stream_index == audio_stream->index) {
        frame_time = PacketSeconds(*packet, packet->pts, *audio_stream, frame_time);
        const int rest = packet->size - audio_offset;
        const int used = DecodeAudioFrame(packet->data + audio_offset, rest);
        // A piece that consumed nothing would be retried forever on the same bytes, so
        // it ends the packet like a failed one.
        if (used > 0 && rest - used > 0) {
            audio_offset += used;
        } else {
            av_packet_unref(packet.get());
            audio_offset = 0;
            audio_packet_sent = false;
        }
        return used > 0 ? 1 : -10002;
    }

    av_packet_unref(packet.get());
    return -10001;
}

int64_t QVDecoder::Impl::QVGetFrameTimestamp() {
    // Truncation toward zero: -1.5 microseconds is reported as -1, not -2.
    const double micros = std::trunc(frame_time * 1000000.0);
    if (!(micros < 9.2e18)) return micros > 0 ? INT64_MAX : INT64_MIN;
    if (micros < -9.2e18) return INT64_MIN;
    return static_cast<int64_t>(micros);
}
