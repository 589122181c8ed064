// Sequential decoding of an open file, packet by packet, with the packet times, and raw
// packet extraction.
#include <cmath>
#include <cstdint>

#include "core/decoder_impl.h"
#include "core/ffmpeg.h"

int QVDecoder::Impl::QVDecodeFrame() {
    if (!opened) {
        QVDECODE_LOG("QVDecodeFrame: non-opened decoder.", 15);
        return -10008;
    }
    if (!file.draining && !file.has_pending_packet()) {
        if (file.ReadFrame() != 0) file.draining = true;
    }

    // At the end of the file the video decoder still holds the pictures it delayed for
    // reordering: hand them out one per call before reporting the end.
    if (file.draining) {
        if (file.video_stream() && video.ready() && DecodeVideoFrame(nullptr, 0) == 0) return 0;
        return -10003;
    }

    const AVPacket* packet = file.packet();
    const AVStream* video_stream = file.video_stream();
    const AVStream* audio_stream = file.audio_stream();
    if (video_stream && packet->stream_index == video_stream->index) {
        file.RecordPacketTime();
        const int result = DecodeVideoFrame(packet->data, packet->size);
        file.DropPacket();
        return result == 0 ? 0 : -10002;
    }

    if (audio_stream && packet->stream_index == audio_stream->index) {
        file.RecordPacketTime();
        const int rest = packet->size - file.audio_offset;
        const int used = audio.DecodeAudioFrame(packet->data + file.audio_offset, rest, true);
        // A piece that consumed nothing would be retried forever on the same bytes, so it
        // ends the packet like a failed one.
        if (used > 0 && rest - used > 0) {
            file.audio_offset += used;
        } else {
            file.DropPacket();
            file.audio_offset = 0;
            audio.ForgetPacket();
        }
        return used > 0 ? 1 : -10002;
    }

    file.DropPacket();
    return -10001;
}

int64_t QVDecoder::Impl::QVGetFrameTimestamp() {
    // Truncation toward zero: -1.5 microseconds is reported as -1, not -2.
    const double micros = std::trunc(file.frame_time * 1000000.0);
    if (!(micros < 9.2e18)) return micros > 0 ? INT64_MAX : INT64_MIN;
    if (micros < -9.2e18) return INT64_MIN;
    return static_cast<int64_t>(micros);
}

int QVDecoder::Impl::QVGetVideoRawFrame(unsigned char* buffer, int size, int& header_length,
                                        int64_t& timestamp_ms, int& key_flag, int& position) {
    if (buffer && size > 0 && raw.raw_supported() && file.is_open() && file.video_stream()) audio.ForgetPacket();
    const _video_param& p = picture.video_param;
    return raw.GetVideoRawFrame(file, p.frame_rate_num, p.frame_rate_den, buffer, size, header_length,
                                timestamp_ms, key_flag, position);
}
