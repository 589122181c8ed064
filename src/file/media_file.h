// An open media file: the container, the chosen video and audio streams, the packet being
// consumed, and the time of the last packet read.
#pragma once

#include <cstdint>
#include <vector>

#include "core/ffmpeg_deleters.h"

namespace qv {

class MediaFile {
public:
    MediaFile();
    ~MediaFile();
    MediaFile(const MediaFile&) = delete;
    MediaFile& operator=(const MediaFile&) = delete;

    // Opens the container and probes its streams: 0, -10001 when it cannot be opened,
    // -10005 when its streams cannot be told, kPictureOverLimit when a video stream states
    // a picture larger than `max_pixels` (the container stays open until Close). The last
    // stream of each kind is chosen, as hosts of multi-angle files expect. The probe decodes
    // no picture larger than `max_pixels`.
    static constexpr int kPictureOverLimit = 1;
    int Open(const char* name, int64_t max_pixels);
    void Close();
    bool is_open() const { return format_ctx_ != nullptr; }

    AVFormatContext* format() const { return format_ctx_.get(); }
    const char* format_name() const;
    AVStream* video_stream() const { return video_stream_; }
    AVStream* audio_stream() const { return audio_stream_; }
    AVPacket* packet() const { return packet_.get(); }
    bool has_pending_packet() const;

    // Reads the next packet into packet(): 0, or -1 at the end of the file or on a read
    // error that persists (a transient one gets eleven immediate retries).
    int ReadFrame();
    // Reads again after the end of the file: a file still being written may have grown.
    int ReadAfterEnd();
    // Reads the next packet of the video stream, skipping others: 0 or -1.
    int ReadVideoPacket();
    void DropPacket();

    // Seconds of the packet just read by its stream's rules (video: decoding time first,
    // audio: presentation time first), recorded as the frame time. A video packet without
    // either comes one frame period after the video packet before it.
    void RecordPacketTime();
    void set_frame_period(double seconds) { frame_period_ = seconds; }
    // Seconds of a time in the video stream's time base; `fallback` when it has none.
    double VideoSeconds(int64_t time, double fallback) const;
    double frame_time = 0.0;
    // The presentation time of the last key video packet read.
    double key_presentation = 0.0;
    // Seeking (file/media_seek.cpp). Whether reading may go back: false for pipes and live
    // sources, whose bytes are gone once read.
    bool CanSeek() const;
    // Microseconds: the length of the file, -1 when the container does not know it; the
    // presentation time of its first picture (0 when unknown).
    int64_t DurationMicros() const;
    int64_t StartMicros() const;
    // Moves reading to the video key frame (audio packet, in a file without video) at or
    // before `seconds` (the frame-time clock), by
    // the container's index, its timestamps, or bytes where it has neither; 0, or -1 when
    // the container cannot get there. The pending packet is dropped either way.
    int SeekVideo(double seconds);
    // Moves reading back to the first packet, times counted afresh as after the open.
    int SeekToStart();
    // Moves reading past the last packet: the next read reports the end.
    void SeekToEnd();

    // Bytes of the pending audio packet already decoded.
    int audio_offset = 0;
    // End of file reached: the decoders give up what they still hold.
    bool draining = false;

private:
    void ForgetPosition();
    // Streams without timestamps (elementary streams): their key packets' byte positions and
    // counted times, learnt while reading, so that a seek finds them by bytes.
    bool Untimed() const;
    void NoteKeyPacket();
    int SeekUntimed(double seconds);
    int ByteSeek(int64_t position);
    struct KeyPosition {
        int64_t position;
        double seconds;
    };
    std::vector<KeyPosition> key_positions_;
    bool key_positions_complete_ = false;

    bool StatesPictureOverLimit(const char* name, int64_t max_pixels);

    FormatContextPtr format_ctx_;
    AVStream* video_stream_ = nullptr;
    AVStream* audio_stream_ = nullptr;
    PacketPtr packet_;
    double frame_period_ = 0.0;
    bool video_seen_ = false;   // a video packet was read since the open
    double video_time_ = 0.0;  // the time recorded for it
};

}  // namespace qv
