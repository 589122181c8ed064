// Moving the read position of an open media file: by time through the container's index or
// timestamps, to the start, to the end; and what the container knows of its length.
#include <cmath>

#include "base/ffmpeg.h"
#include "base/picture_time.h"
#include "file/media_file.h"

namespace qv {

bool MediaFile::CanSeek() const {
    if (!format_ctx_ || !format_ctx_->pb) return false;
    // Network and pipe inputs report themselves as not seekable; so do live streams.
    return (format_ctx_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;
}

int64_t MediaFile::DurationMicros() const {
    if (!format_ctx_) return -1;
    if (format_ctx_->duration != AV_NOPTS_VALUE && format_ctx_->duration > 0) {
        // A length guessed from the bit rate (elementary streams) is no length at all.
        if (format_ctx_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) return format_ctx_->duration;
    }
    if (video_stream_ && video_stream_->duration != AV_NOPTS_VALUE && video_stream_->duration > 0) {
        return av_rescale_q(video_stream_->duration, video_stream_->time_base, AVRational{1, AV_TIME_BASE});
    }
    return -1;
}

int64_t MediaFile::ByteSize() const {
    return format_ctx_ && format_ctx_->pb && CanSeek() ? avio_size(format_ctx_->pb) : -1;
}

int64_t MediaFile::StartMicros() const {
    if (video_stream_ && first_picture_us_ != AV_NOPTS_VALUE) return first_picture_us_;
    return StreamStartMicros();
}

int64_t MediaFile::StreamStartMicros() const {
    if (!format_ctx_) return 0;
    if (video_stream_ && video_stream_->start_time != AV_NOPTS_VALUE) {
        return VideoMicros(video_stream_->start_time);
    }
    return format_ctx_->start_time != AV_NOPTS_VALUE ? format_ctx_->start_time : 0;
}

void MediaFile::ForgetPosition() {
    DropPacket();
    audio_offset = 0;
    draining = false;
    // No key packet read at the new position yet.
    key_presentation_us = INT64_MAX;
    if (format_ctx_ && format_ctx_->pb) {
        format_ctx_->pb->eof_reached = 0;
        format_ctx_->pb->error = 0;
    }
}

bool MediaFile::Untimed() const {
    // Elementary streams state no start time, and their packets carry no times.
    return video_stream_ && frame_period_ > 0.0 &&
           (video_stream_->start_time == AV_NOPTS_VALUE || (format_ctx_->iformat->flags & AVFMT_NOTIMESTAMPS));
}

void MediaFile::NoteKeyPacket() {
    if (!Untimed() || packet_->pos < 0 || packet_->dts != AV_NOPTS_VALUE || packet_->pts != AV_NOPTS_VALUE) return;
    if (!key_positions_.empty() && key_positions_.back().micros >= video_us_) return;
    key_positions_.push_back(KeyPosition{packet_->pos, video_us_});
}

int MediaFile::ByteSeek(int64_t position) {
    if (av_seek_frame(format_ctx_.get(), -1, position, AVSEEK_FLAG_BYTE) < 0) return -1;
    ForgetPosition();
    return 0;
}

int MediaFile::SeekUntimed(double seconds) {
    // Seek targets are whole microseconds / 1e6: the microseconds come back exactly.
    const int64_t target = std::isfinite(seconds) ? std::llround(seconds * 1000000.0) : (seconds < 0 ? INT64_MIN : INT64_MAX);
    // The key packets up to the time are learnt by reading on from the last one known,
    // without decoding.
    if (!key_positions_complete_ && (key_positions_.empty() || key_positions_.back().micros <= target)) {
        if (key_positions_.empty()) {
            if (SeekToStart() != 0) return -1;
        } else {
            const KeyPosition last = key_positions_.back();
            if (ByteSeek(last.position) != 0) return -1;
            video_seen_ = true;
            video_us_ = last.micros - period_us_;
        }
        for (;;) {
            const int read = ReadFrame();
            // An interrupt ends the scan; the positions learnt so far stay known.
            if (read == kTimedOut) return kTimedOut;
            if (read != 0) {
                key_positions_complete_ = true;
                break;
            }
            if (packet_->stream_index != video_stream_->index) continue;
            RecordPacketTime();
            if (video_us_ > target) break;
        }
    }
    const KeyPosition* found = nullptr;
    for (const KeyPosition& key : key_positions_) {
        if (key.micros > target) break;
        found = &key;
    }
    if (!found) return -1;
    const KeyPosition key = *found;
    if (ByteSeek(key.position) != 0) return -1;
    // The key packet is counted where a reading from the start counts it.
    video_seen_ = true;
    video_us_ = key.micros - period_us_;
    return 0;
}

int MediaFile::SeekVideo(double seconds) {
    ForgetPosition();
    // A file of audio alone goes by its audio stream.
    const AVStream* stream = video_stream_ ? video_stream_ : audio_stream_;
    if (!CanSeek() || !stream) return -1;
    if (video_stream_ && Untimed()) return SeekUntimed(seconds);
    const AVRational tb = stream->time_base;
    if (tb.num <= 0 || tb.den <= 0 || !std::isfinite(seconds)) return -1;
    const double micros = std::round(seconds * 1000000.0);
    if (micros < -9.0e15 || micros > 9.0e15) return -1;
    const int64_t target = LastTickAtOrBefore(static_cast<int64_t>(micros), tb);
    AVFormatContext* ctx = format_ctx_.get();
    if (av_seek_frame(ctx, stream->index, target, AVSEEK_FLAG_BACKWARD) < 0) return -1;
    ForgetPosition();
    return 0;
}

int MediaFile::SeekToStart() {
    ForgetPosition();
    if (!CanSeek()) return -1;
    AVFormatContext* ctx = format_ctx_.get();
    // Containers that are packets from the first byte on (program, transport and elementary
    // streams) start at byte 0, exactly where the open began; the others at their first
    // timestamp.
    int result = -1;
    const bool from_byte_zero = (ctx->ctx_flags & AVFMTCTX_NOHEADER) || (ctx->iformat->flags & AVFMT_NOTIMESTAMPS) ||
                                (ctx->iformat->flags & AVFMT_TS_DISCONT);
    if (!from_byte_zero) {
        result = avformat_seek_file(ctx, -1, INT64_MIN, ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time : 0,
                                    INT64_MAX, 0);
    }
    if (result < 0) result = av_seek_frame(ctx, -1, 0, AVSEEK_FLAG_BYTE);
    if (result < 0) return -1;
    ForgetPosition();
    // Untimed packets are counted from the first one again, as after the open.
    video_seen_ = false;
    video_us_ = 0;
    frame_time = 0.0;
    return 0;
}

int MediaFile::SeekToEnd() {
    ForgetPosition();
    if (!CanSeek()) return 0;
    AVFormatContext* ctx = format_ctx_.get();
    const int64_t size = avio_size(ctx->pb);
    bool moved = false;
    if (size > 0 && !(ctx->iformat->flags & AVFMT_NO_BYTE_SEEK)) {
        moved = av_seek_frame(ctx, -1, size, AVSEEK_FLAG_BYTE) >= 0;
    }
    // Containers that refuse byte positions (mp4/mov) go to their last key frame instead.
    if (!moved && video_stream_) av_seek_frame(ctx, video_stream_->index, INT64_MAX / 2, AVSEEK_FLAG_BACKWARD);
    // Whatever the seek left before the end is read off without being kept.
    int read;
    while ((read = ReadFrame()) == 0) {
    }
    DropPacket();
    if (read == kTimedOut) return kTimedOut;
    draining = true;
    return 0;
}

}  // namespace qv
