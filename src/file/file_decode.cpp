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

    if (file.draining) {
        // At the end of the file the video decoder still holds the pictures it delayed for
        // reordering (and threads): hand them out one per call before reporting the end.
        // Each reports its own time, or the packet time one thread would have given it.
        if (file.video_stream() && video.ready() && DecodeVideoFrame(nullptr, 0) == 0) {
            double seconds = 0.0;
            if (!clock.NextDrainedTime(&seconds)) seconds = file.VideoSeconds(picture_time, file.frame_time);
            file.frame_time = seconds;
            return 0;
        }
        // A file still being written may have grown since: reading goes on where it ended.
        if (file.ReadAfterEnd() != 0) return -10003;
        file.draining = false;
        if (video.draining()) {
            // The drained decoder starts afresh; until the next key frame its pictures lack
            // the references the drain dropped.
            video.Restart();
            reference_missing = true;
        }
    }

    const AVPacket* packet = file.packet();
    const AVStream* video_stream = file.video_stream();
    const AVStream* audio_stream = file.audio_stream();
    if (video_stream && packet->stream_index == video_stream->index) {
        file.RecordPacketTime();
        clock.PacketSent(file.frame_time);
        const int result = DecodeVideoFrame(packet->data, packet->size, packet);
        file.DropPacket();
        if (result != 0) return -10002;
        file.frame_time = clock.PictureTime(file.frame_time);
        return 0;
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
    // Raw reads share the file position with QVDecodeFrame: a pending audio packet is dropped.
    if (raw.WillRead(file, buffer, size)) audio.ForgetPacket();
    const _video_param& p = picture.video_param;
    return raw.GetVideoRawFrame(file, p.frame_rate_num, p.frame_rate_den, buffer, size, header_length,
                                timestamp_ms, key_flag, position);
}
