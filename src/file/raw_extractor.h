// Raw packet extraction: the compressed video packets of an open file, handed out as they
// are, or as H.264 and HEVC Annex B units with the parameter sets ahead of each key frame.
#pragma once

#include <cstdint>
#include <vector>

#include "base/ffmpeg_deleters.h"

namespace qv {

class MediaFile;

class RawExtractor {
public:
    // Looks up the demuxers raw extraction is offered for (done at construction only:
    // an object closed and opened again offers none).
    void LookUpFormats();
    void ForgetFormats() {
        input_formats_.clear();
        extra_input_formats_.clear();
    }
    size_t input_format_count() const { return input_formats_.size(); }

    // True when the codec is one whose packets are offered and the file was opened by one
    // of the demuxers looked up (identity of the name, not its spelling).
    bool CheckFormatAndCodec(int codec, const char* format_name) const;
    // Called after a file opened: whether its video is offered.
    void OnOpen(const MediaFile& file, int codec);
    void OnClose() {
        raw_supported_ = false;
        held_size_ = 0;
    }
    bool raw_supported() const { return raw_supported_; }
    int packet_count() const { return packet_count_; }

    // True when a call with this buffer reads the file (and so moves past a pending packet).
    bool WillRead(const MediaFile& file, const uint8_t* buffer, int size) const;
    // Reads the next video packet and writes it into buffer; the byte count, or 0 when
    // nothing was handed out: end of file, an unusable packet or record (consumed), a read
    // that gave up (timed_out(); the next call goes on where it was), or a buffer too small
    // for it (the packet is held for the next call, held_size() tells the bytes it needs). The frame rate paces packets without a time of their own.
    int GetVideoRawFrame(MediaFile& file, int rate_num, int rate_den, uint8_t* buffer, int size,
                         int& header_length, int64_t& timestamp_ms, int& key_flag, int& position);
    // The bytes the next call needs for its packet (read ahead and held when none is held;
    // unusable packets on the way are dropped as a call would drop them); 0 at the end of
    // the file, -1 when the file offers no raw packets, kTimedOut when the read gave up (an
    // interrupt, or a source that stalled): nothing is lost, the next call goes on.
    static constexpr int kTimedOut = -10010;
    int NextSize(MediaFile& file);
    // The last call handed out nothing because its read gave up; the next goes on.
    bool timed_out() const { return timed_out_; }
    // Bytes the held packet needs, 0 when no packet is held.
    int held_size() const { return held_size_; }
    // The file moved: no packet is held any more.
    void Forget() { held_size_ = 0; }

private:
    // The packet a call hands out: the held one, else the next video packet read; 0, or
    // MediaFile's result of the read that failed.
    int TakePacket(MediaFile& file);
    // Writes the file's current packet into buffer as a call hands it out: the byte count,
    // or 0 when it is unusable or does not fit.
    int Convert(const MediaFile& file, uint8_t* buffer, int size, int& header_length, int& position) const;
    // The bytes Convert writes for the current packet given all the room it can need, 0
    // when it is unusable.
    int Measure(const MediaFile& file);

    std::vector<const AVInputFormat*> input_formats_;        // the eight classic containers
    std::vector<const AVInputFormat*> extra_input_formats_;  // Matroska/WebM, MPEG-TS
    bool raw_supported_ = false;
    int packet_count_ = 0;
    int64_t last_raw_time_ = -1;  // no timed raw packet handed out yet
    int last_raw_count_ = -1;
    int held_size_ = 0;
    bool timed_out_ = false;  // > 0: the file's current packet was read here and waits for room
    std::vector<uint8_t> measure_room_;  // where Measure converts, kept from packet to packet
};

}  // namespace qv
