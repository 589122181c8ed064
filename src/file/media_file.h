// An open media file: the container, the chosen video and audio streams, the packet being
// consumed, and the time of the last packet read.
#pragma once

#include <cmath>
#include <cstdint>
#include <deque>
#include <vector>

#include "base/ffmpeg_deleters.h"
#include "live/stream_clock.h"
#include "live/live_input.h"
#include "live/replay_input.h"

namespace qv {

class MediaFile {
public:
    MediaFile();
    ~MediaFile();
    MediaFile(const MediaFile&) = delete;
    MediaFile& operator=(const MediaFile&) = delete;

    // Opens the container and probes its streams: 0, -10001 when it cannot be opened,
    // -10005 when its streams cannot be told, kPictureOverLimit when a video stream states
    // a picture larger than `max_pixels` (the container stays open until Close), kTimedOut
    // when the guard gave up, kNetworkError when a live source cannot be reached. The last
    // stream of each kind is chosen, as hosts of multi-angle files expect. The probe decodes
    // no picture larger than `max_pixels`. The name is opened once and never read twice,
    // so pipes, FIFOs and network streams open as files do.
    static constexpr int kPictureOverLimit = 1;
    static constexpr int kEnd = -1;
    static constexpr int kTimedOut = -10010;
    static constexpr int kNetworkError = -10011;
    // `video` and `audio`: the stream indexes to decode, -1 none, -2 the default choice; a
    // wrong one gives kNoSuchVideo / kNoSuchAudio.
    static constexpr int kNoSuchVideo = 2;
    static constexpr int kNoSuchAudio = 3;
    int Open(const char* name, int64_t max_pixels, int video = -2, int audio = -2);
    // Closes the container and forgets a pending interrupt (QVClose).
    void Close();
    bool is_open() const { return format_ctx_ != nullptr; }

    AVFormatContext* format() const { return format_ctx_.get(); }
    const char* format_name() const;
    AVStream* video_stream() const { return video_stream_; }
    AVStream* audio_stream() const { return audio_stream_; }
    AVPacket* packet() const { return packet_.get(); }
    bool has_pending_packet() const;

    // Reads the next packet into packet(): 0, kEnd at the end of the file or on a read
    // error of a file that persists (a transient one gets eleven immediate retries),
    // kTimedOut when the guard gave up (an interrupt, or a source that can stall gave nothing
    // within the timeout): nothing is lost, a packet the demuxer still handed out stays
    // pending and the next read hands it out; kNetworkError when a live source failed.
    // Every packet read of decoding, raw extraction and seeking goes through here.
    int ReadFrame();
    // Reads again after the end of the file: a file still being written may have grown.
    // A live source that ended stays ended.
    int ReadAfterEnd();
    // Reads the next packet of the video stream, skipping others: as ReadFrame.
    int ReadVideoPacket();
    void DropPacket();
    // Packets and their bytes read since the open (what a seek costs).
    int64_t packets_read() const { return packets_read_; }
    int64_t bytes_read() const { return bytes_read_; }

    // Seconds of the packet just read by its stream's rules (video: decoding time first,
    // audio: presentation time first), recorded as the frame time. A video packet without
    // either comes one frame period after the video packet before it.
    void RecordPacketTime();
    // The time of a picture without one of its own that the end-of-file drain hands out: a
    // frame period after the last video time (the last packet's, or the last drained one's).
    double NextUntimedSeconds();
    // The frame period: times counted for packets and pictures without one step by it, in
    // whole microseconds, so that a count from a key frame gives what a count from the start gives.
    void set_frame_period(double seconds) {
        frame_period_ = seconds;
        period_us_ = std::llround(seconds * 1000000.0);
    }
    double frame_period() const { return frame_period_; }
    int64_t period_us() const { return period_us_; }
    // The time recorded for the last video packet, in microseconds (stated or counted).
    int64_t video_us() const { return video_us_; }
    // The video stream carries no times at all: its times are counted from the first picture.
    bool untimed() const { return Untimed(); }
    // Seconds of a time in the video stream's time base; `fallback` when it has none.
    double VideoSeconds(int64_t time, double fallback) const;
    // Microseconds of a time in the video stream's time base (base/picture_time.h),
    // AV_NOPTS_VALUE when it has none.
    int64_t VideoMicros(int64_t time) const;
    double frame_time = 0.0;

    // Live sources: the timeout and interrupt of blocking calls, the host's options.
    InputGuard& guard() { return guard_; }
    NetworkOptions& network_options() { return network_; }
    bool is_live() const { return live_; }
    // The video comes as libavformat's RTP depacketizer hands it out, unit by unit (H.264
    // over RTSP or RTP): the file's reader joins them and its decoder takes units, so that a
    // picture is out with its last unit, not when the next picture starts.
    bool rtp_units() const { return rtp_units_; }
    // When the packet last read arrived (av_gettime_relative microseconds).
    int64_t arrival() const { return arrival_; }
    // The read of that packet waited for it: it had just arrived, not queued behind the host.
    bool waited() const { return waited_; }
    // Microseconds since the epoch at which the picture with this presentation time (video
    // time base) was captured, as the sender's reports state; -1 when unknown.
    int64_t Wallclock(int64_t pts) const;
    // Seconds of an audio time (audio time base): a live sender's audio on the pictures' clock.
    double AudioSeconds(int64_t time, double fallback);

    // The presentation time of the last key video packet read (its counted time when it has
    // none), in microseconds (INT64_MAX when none since the seek), and in seconds as whole
    // microseconds / 1e6 (HUGE_VAL when none).
    int64_t key_presentation_us = 0;
    double key_presentation() const {
        return key_presentation_us == INT64_MAX ? HUGE_VAL : static_cast<double>(key_presentation_us) / 1000000.0;
    }
    // Seeking (file/media_seek.cpp). Whether reading may go back: false for pipes and live
    // sources, whose bytes are gone once read.
    bool CanSeek() const;
    // Microseconds: the length of the file, -1 when the container does not know it; the
    // presentation time of its first picture (0 when unknown).
    int64_t DurationMicros() const;
    int64_t StartMicros() const;
    // Where the container's length is counted from: the stream's start as it states it.
    int64_t StreamStartMicros() const;
    // The time of the first picture, where decoding found it (AV_NOPTS_VALUE, INT64_MIN: the
    // stream's start is the first picture's).
    void set_first_picture_us(int64_t micros) { first_picture_us_ = micros; }
    // Bytes of a file that can seek, -1 otherwise.
    int64_t ByteSize() const;
    // Moves reading to the video key frame (audio packet, in a file without video) at or
    // before `seconds` (the frame-time clock), by
    // the container's index, its timestamps, or bytes where it has neither; 0, -1 when
    // the container cannot get there, kTimedOut when an interrupt ended the scan for the key
    // frames of a stream without timestamps. The pending packet is dropped either way.
    int SeekVideo(double seconds);
    // Moves reading back to the first packet, times counted afresh as after the open.
    int SeekToStart();
    // Moves reading past the last packet: the next read reports the end. 0, or kTimedOut
    // when an interrupt ended the reading off of the last packets.
    int SeekToEnd();

    // Bytes of the pending audio packet already decoded.
    int audio_offset = 0;
    // End of file reached: the decoders give up what they still hold.
    bool draining = false;
    // The end came from a live source's failure, not its end.
    bool network_failed = false;

private:
    // Closes the container, keeping a pending interrupt (for the open it is meant to end).
    void Release();
    void ResumeAfterGiveUp();
    // False when the guard gave up while waiting for the source's next bytes.
    bool AwaitBytes();
    bool StatesPictureOverLimit(int64_t max_pixels);
    void ReadRtpUnits();
    // After the probe: the stand-in parameter sets of ReadRtpUnits go.
    void ForgetStandIns();
    int OpenFailure(int error);
    int ReadFailure(int error);
    void NoteStreamClock();
    int ReadFromSource();
    void ForgetPosition();
    // Streams without timestamps (elementary streams): their key packets' byte positions and
    // counted times, learnt while reading, so that a seek finds them by bytes.
    bool Untimed() const;
    void NoteKeyPacket();
    int SeekUntimed(double seconds);
    int ByteSeek(int64_t position);
    struct KeyPosition {
        int64_t position;
        int64_t micros;
    };
    std::vector<KeyPosition> key_positions_;
    bool key_positions_complete_ = false;

    InputGuard guard_;
    NetworkOptions network_;
    ReplayInput input_;          // the bytes of a name read through our own input
    FormatContextPtr format_ctx_;
    bool live_ = false;
    bool kept_after_give_up_ = false;  // the pending packet came with a read that gave up
    bool direct_network_ = false;      // the demuxer reads the network itself
    bool await_bytes_ = false;         // its demuxer reads only once the source has bytes
    int64_t packets_read_ = 0;
    int64_t bytes_read_ = 0;
    bool rtp_units_ = false;
    int64_t arrival_ = 0;
    bool waited_ = false;
    bool one_clock_ = false;  // audio and video from one RTP sender: the audio moves onto the video's clock
    StreamClock stream_clock_;
    std::deque<PacketPtr> held_audio_;  // read before the offset was known
    int held_end_ = 0;                  // how the source ended behind the audio held
    int64_t next_audio_ = INT64_MIN;    // where the last audio packet ends (audio time base)
    AVStream* video_stream_ = nullptr;
    AVStream* audio_stream_ = nullptr;
    PacketPtr packet_;
    double frame_period_ = 0.0;
    int64_t period_us_ = 0;
    int64_t first_picture_us_ = INT64_MIN;  // AV_NOPTS_VALUE: none found
    bool video_seen_ = false;  // a video packet was read since the open
    int64_t video_us_ = 0;     // the time recorded for it, in microseconds
};

}  // namespace qv
