// The file path of a decoder object: opening a media file (container, chosen streams, their
// decoders, the picture and audio buffers), decoding it packet by packet with the packet
// times and the end-of-file drain, and raw packet extraction.
//
// Owns the media file, the picture clock and the raw extractor. Touches, by reference: the
// video decoder and the audio decoder (which it opens for the file's streams), the picture
// store, the output converter, picture delivery, the log and the object's modes.
#pragma once

#include <cstdint>

#include "audio/audio_decoder.h"
#include "base/decoder_modes.h"
#include "base/logger.h"
#include "live/latency_budget.h"
#include "file/media_file.h"
#include "file/picture_clock.h"
#include "file/raw_extractor.h"
#include "live/rtp_units.h"
#include "file/seek_state.h"
#include "output/output_converter.h"
#include "output/picture_store.h"
#include "video/picture_delivery.h"
#include "video/video_decoder.h"

namespace qv {

class FileSession {
public:
    FileSession(const Logger& log, const DecoderModes& modes, VideoDecoder& video, AudioDecoder& audio,
                PictureStore& picture, OutputConverter& output, PictureDelivery& delivery);
    FileSession(const FileSession&) = delete;
    FileSession& operator=(const FileSession&) = delete;

    // Opens the file and the decoders of its streams.
    OpenOutcome Open(const char* name);
    // The next picture (0), piece of audio (1), packet without a result (-10002), end of the
    // file (-10003) or a packet of no chosen stream (-10001); a live source that gave nothing
    // in time -10010, one that failed -10011 (after the pictures the decoder held).
    int DecodeFrame();
    // Seeking and key-frame scans (file/file_seek.cpp). Moves to a time: 0, -1 for an unknown
    // flag, QV_ERR_NOT_SEEKABLE when the input cannot go back, QV_ERR_TIMEOUT when an
    // interrupt ended the scan of a stream without timestamps (seek again).
    int Seek(int64_t time_us, int flags);
    // The video decoder's skip mode changes (QV_SKIP_*).
    void SetFrameSkip(int mode);
    // Live sources: when the pictures waiting behind the host are older than `ms`, catch up
    // (decode without laying out, or skip to the next key frame) and hand out the newest.
    // 0 (the default) hands out every picture; negative: -1.
    int SetMaxLatency(int ms) { return budget_.Set(ms); }
    // Pictures passed over or skipped to stay within the budget since the open.
    int64_t skipped() const { return budget_.skipped(); }
    // The file's length and the time of its first picture, microseconds on the picture clock
    // (-1 / 0 unknown).
    int64_t Duration() const { return file_.DurationMicros(); }
    int64_t StartTime() const { return file_.StartMicros(); }
    // The video frames the container states, -1 when it does not say.
    int64_t FrameCount() const;
    // What the container states for the decoded video or audio stream, -1 nothing.
    int64_t StatedBitRate(bool audio) const;
    // The time of the last packet handed to a decoder (video: its decoding time), in
    // microseconds.
    int64_t FrameTimestamp() const;
    // The presentation time of the picture last laid out, in microseconds on the same clock;
    // -1 without a file with video.
    int64_t PictureTime() const;
    int GetVideoRawFrame(unsigned char* buffer, int size, int& header_length, int64_t& timestamp_ms, int& key_flag,
                         int& position);
    // Bytes the next GetVideoRawFrame needs (0 at the end of the file, -1 with no file open
    // or none whose packets are offered).
    int GetVideoRawFrameSize();

    // The capture time of the picture last laid out (µs since the epoch), -1 when unknown.
    int64_t PictureWallclock() const;
    // Microseconds from the arrival of the packet that completed the picture last handed
    // out to its hand-out; -1 before the first.
    int64_t picture_delay() const { return picture_delay_; }

    // A file with video is open: its decoder feeds the pictures.
    bool file_mode() const { return file_.is_open() && file_.video_stream(); }
    // A file with audio is open: pushed audio is decoded as the file's.
    bool audio_file() const { return file_.is_open() && file_.audio_stream(); }
    // Closes the file; the container-format list of raw extraction stays.
    void Release();
    // The object closes for good: raw extraction offers no container after it.
    void ForgetFormats() { raw_.ForgetFormats(); }

    const MediaFile& file() const { return file_; }
    MediaFile& file() { return file_; }
    const RawExtractor& raw() const { return raw_; }
    const SeekState& seek() const { return seek_; }

private:
    // One packet (or drained picture) of DecodeFrame, before a seek's choice of pictures.
    int DecodeStep();
    // A key packet in key-frame-only decoding: its picture at once.
    int DecodeKeyPacket(const AVPacket* packet);
    // Whether a picture at or after the time is left in the file (found by decoding from the
    // key frame before it): 1, 0, or the timeout or failure that ended the look. The position
    // is lost either way.
    int PictureFrom(int64_t time_us);
    // After each picture: a picture without a time of its own (elementary streams, the last
    // pictures of a file whose packets state no presentation time) gets one in the order
    // pictures come out, a frame period after the one before. `packet_us`: the time of the
    // packet the picture came out with.
    void CountUntimedPicture(int64_t packet_us);
    // A video packet (its time recorded) through the seek's choice and the skip mode.
    int DecodeVideoPacket(const AVPacket* packet);
    // RTP units (MediaFile::rtp_units): the pending piece joins the held picture, which is
    // decoded once whole; a piece that shows the held picture whole stays pending behind it.
    int DecodeUnitPiece();
    int DecodeHeldUnit();
    // The live budget: how late the packet just read is; true when its picture must be
    // passed over. The decoder forgets the stream when the budget starts skipping to a key frame.
    bool BehindBudget(const AVPacket* packet);
    // The picture just laid out from a live packet is damaged: true, and the budget drops
    // everything up to the next key frame (the decoder forgets the stream).
    bool DamagedWithinBudget(const AVPacket* packet);
    // Reading restarts at the key frame at or before `seconds`, the decoder emptied: 0, -1
    // when the container cannot move, QV_ERR_TIMEOUT when an interrupt ended the move.
    int SeekContainer(double seconds);
    // The key frame found lay past the target: reading starts further back (0, or
    // QV_ERR_TIMEOUT as SeekContainer).
    int ReadEarlier();
    // Key mode read past the key picture to hand out: reading goes back to it.
    int ReadFromFloor();
    // At the open: the time of the first picture where the container's start is not it.
    void LearnStartTime();
    OpenOutcome OpenVideo();
    OpenOutcome OpenAudio();

    const Logger& log_;
    const DecoderModes& modes_;
    VideoDecoder& video_;
    AudioDecoder& audio_;
    PictureStore& picture_;
    OutputConverter& output_;
    PictureDelivery& delivery_;

    MediaFile file_;
    PictureClock clock_;  // picture times under threads and the drain
    RawExtractor raw_;
    RtpUnitJoiner units_;
    int64_t picture_delay_ = -1;
    LatencyBudget budget_;  // live sources: how late a packet may be when read
    SeekState seek_;
    int64_t seek_bytes_ = 0;  // the file's bytes read when the seek began
    int64_t untimed_us_ = INT64_MIN;  // the counted time of the last untimed picture
    int64_t last_picture_us_ = INT64_MIN;  // the time of the last picture since the open or seek
};

}  // namespace qv
