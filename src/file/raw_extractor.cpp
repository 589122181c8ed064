#include "file/raw_extractor.h"

#include <climits>
#include <cstring>
#include <mutex>

#include "bitstream/avc_config.h"
#include "bitstream/hevc_config.h"
#include "bitstream/length_prefixed.h"
#include "base/ffmpeg.h"
#include "base/library.h"
#include "file/file_rates.h"
#include "file/media_file.h"

namespace qv {
namespace {

// Codecs whose packets are offered, in the order they are tested.
constexpr AVCodecID kRawCodecs[] = {
    AV_CODEC_ID_H264,  AV_CODEC_ID_MPEG4, AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MJPEG, AV_CODEC_ID_FLV1,
    AV_CODEC_ID_H263,  AV_CODEC_ID_WMV1,  AV_CODEC_ID_WMV2,       AV_CODEC_ID_RV10,  AV_CODEC_ID_RV20,
};

template <size_t N>
void LookUp(const char* const (&names)[N], std::vector<const AVInputFormat*>& formats) {
    formats.clear();
    for (const char* name : names) {
        std::lock_guard<std::mutex> lock(GlobalLock());
        const AVInputFormat* format = av_find_input_format(name);
        if (format) formats.push_back(format);
    }
}

// Identity, not spelling: the file must have been opened by one of the demuxers this
// object looked up at construction.
bool OpenedBy(const std::vector<const AVInputFormat*>& formats, const char* format_name) {
    for (const AVInputFormat* format : formats) {
        if (format && format->name == format_name) return true;
    }
    return false;
}

// An HEVC packet of length-prefixed units as Annex B into buffer, behind the record's VPS,
// SPS and PPS when it is a key frame. The bytes written, or 0 when the record or the packet
// is unusable or does not fit; header_length and position are set only on success.
int HevcPacketToAnnexB(const AVCodecParameters* par, const AVPacket& pkt, bool key, uint8_t* buffer, int size,
                       int& header_length, int& position) {
    // The record is needed for every packet: it gives the size of the unit lengths.
    const int length_size = HevcUnitLengthSize(par->extradata, par->extradata_size);
    if (length_size < 0) return 0;
    int offset = 0;
    if (key) {
        offset = WriteHevcParameterSets(par->extradata, par->extradata_size, buffer, size);
        if (offset < 0) return 0;
    }
    const int units = LengthPrefixedToAnnexB(pkt.data, pkt.size, length_size, buffer + offset, size - offset);
    if (units < 4) return 0;
    header_length = offset + 4;
    position = static_cast<int>(static_cast<uint32_t>(pkt.pos) + static_cast<uint32_t>(length_size));
    return offset + units;
}

}  // namespace

void RawExtractor::LookUpFormats() {
    LookUp(kInputFormatNames, input_formats_);
    LookUp(kExtraInputFormatNames, extra_input_formats_);
}

bool RawExtractor::CheckFormatAndCodec(int codec, const char* format_name) const {
    const bool classic = OpenedBy(input_formats_, format_name);
    const bool extra = OpenedBy(extra_input_formats_, format_name);
    if (!classic && !extra) return false;
    for (AVCodecID id : kRawCodecs) {
        if (codec == id) return true;
    }
    // Today's camera codecs come in mp4/mov (one demuxer, found as "mp4"), Matroska/WebM
    // and MPEG-TS; VP9 frames are handed out as stored.
    if (codec == AV_CODEC_ID_HEVC || codec == AV_CODEC_ID_VP9) return extra || av_match_name("mp4", format_name);
    return false;
}

bool RawExtractor::WillRead(const MediaFile& file, const uint8_t* buffer, int size) const {
    return buffer && size > 0 && raw_supported_ && file.is_open() && file.video_stream() && file.packet();
}

void RawExtractor::OnOpen(const MediaFile& file, int codec) {
    raw_supported_ = file.video_stream() && CheckFormatAndCodec(codec, file.format_name());
}

int RawExtractor::TakePacket(MediaFile& file) {
    // The held packet is still the file's current one unless sequential decoding took it.
    const AVPacket* pending = file.packet();
    timed_out_ = false;
    if (held_size_ > 0 && file.has_pending_packet() && pending->stream_index == file.video_stream()->index) {
        held_size_ = 0;
        return 0;
    }
    held_size_ = 0;
    const int read = file.ReadVideoPacket();
    // A read given up on loses nothing: the next call reads (or takes) the packet it missed.
    timed_out_ = read == MediaFile::kTimedOut;
    if (read != 0) return read;
    ++packet_count_;
    return 0;
}

int RawExtractor::Convert(const MediaFile& file, uint8_t* buffer, int size, int& header_length,
                          int& position) const {
    const AVPacket& pkt = *file.packet();
    const AVStream* stream = file.video_stream();
    const char* container = file.format_name();
    const bool key = (pkt.flags & AV_PKT_FLAG_KEY) != 0;
    const AVCodecID codec = stream->codecpar->codec_id;
    // avi, program and transport streams (mpeg, mpegts) carry Annex B as it stands.
    const bool stored_as_annexb = std::strncmp(container, "avi", 3) == 0 || std::strncmp(container, "mpeg", 4) == 0;
    const AVCodecParameters* par = stream->codecpar;
    if (codec == AV_CODEC_ID_HEVC && !stored_as_annexb) {
        return HevcPacketToAnnexB(par, pkt, key, buffer, size, header_length, position);
    }
    if (codec != AV_CODEC_ID_H264 || stored_as_annexb) {
        // A packet larger than the buffer is cut, as hosts that size buffers by bit rate expect.
        const int result = pkt.size < size ? pkt.size : size;
        if (result > 0) std::memcpy(buffer, pkt.data, result);
        header_length = 0;
        position = static_cast<int>(static_cast<uint32_t>(pkt.pos));
        return result;
    }
    if (par->extradata_size <= 0 || !par->extradata) return 0;
    int offset = 0;
    if (key) {
        // Key frames carry their parameter sets so that a receiver can start there.
        int capacity = size;
        if (!GetSPSAndPPS(par->extradata, par->extradata_size, buffer, capacity)) return 0;
        offset = capacity;
    }
    const int units = LengthPrefixedToAnnexB(pkt.data, pkt.size, buffer + offset, size - offset);
    if (units < 4) return 0;
    header_length = offset + 4;
    position = static_cast<int>(static_cast<uint32_t>(pkt.pos) + 4);
    return offset + units;
}

int RawExtractor::Measure(const MediaFile& file) {
    // Room for any conversion: the record's sets with their start codes, and every unit
    // behind a 4-byte start code in place of a length of at least one byte.
    const AVCodecParameters* par = file.video_stream()->codecpar;
    const int64_t room = 4LL * file.packet()->size + 2LL * par->extradata_size + 64;
    if (room > INT_MAX) return 0;
    // A host that asks for every packet's size comes here for each: the room is kept.
    if (measure_room_.size() < static_cast<size_t>(room)) measure_room_.resize(static_cast<size_t>(room));
    int header_length = 0;
    int position = 0;
    const int result = Convert(file, measure_room_.data(), static_cast<int>(room), header_length, position);
    return result > 0 ? result : 0;
}

int RawExtractor::NextSize(MediaFile& file) {
    if (!raw_supported_ || !file.is_open() || !file.video_stream() || !file.packet()) return -1;
    for (;;) {
        if (held_size_ > 0) return held_size_;
        const int taken = TakePacket(file);
        if (taken == MediaFile::kTimedOut) return kTimedOut;
        if (taken != 0) return 0;
        file.audio_offset = 0;
        held_size_ = Measure(file);
        if (held_size_ == 0) file.DropPacket();
    }
}

int RawExtractor::GetVideoRawFrame(MediaFile& file, int rate_num, int rate_den, uint8_t* buffer, int size,
                                   int& header_length, int64_t& timestamp_ms, int& key_flag, int& position) {
    if (!WillRead(file, buffer, size)) return 0;
    header_length = 0;
    // Raw reads share the file position with sequential decoding; a pending audio piece
    // is dropped.
    file.audio_offset = 0;
    if (TakePacket(file) != 0) return 0;
    int written_header = 0;
    int written_position = 0;
    const int result = Convert(file, buffer, size, written_header, written_position);
    if (result <= 0) {
        // A packet that did not fit waits for a call with a larger buffer instead of being
        // lost; one that cannot be converted at all is dropped.
        held_size_ = Measure(file);
        if (held_size_ == 0) file.DropPacket();
        return 0;
    }
    header_length = written_header;
    position = written_position;

    const AVPacket& pkt = *file.packet();
    const AVStream* stream = file.video_stream();
    const bool key = (pkt.flags & AV_PKT_FLAG_KEY) != 0;
    // Time: the decoding time, else the presentation time, else frame periods counted
    // from the last timed packet (or from the start when none came yet).
    const AVRational tb = stream->time_base;
    const int64_t time = pkt.dts != AV_NOPTS_VALUE ? pkt.dts : pkt.pts;
    if (time != AV_NOPTS_VALUE) {
        timestamp_ms = TimeToMilliseconds(time, tb.num, tb.den);
        last_raw_time_ = timestamp_ms;
        last_raw_count_ = packet_count_;
    } else if (last_raw_time_ >= 0 && last_raw_count_ >= 0) {
        timestamp_ms = FramesToMilliseconds(last_raw_time_, packet_count_ - last_raw_count_, rate_num, rate_den);
    } else {
        timestamp_ms = FramesToMilliseconds(0, packet_count_, rate_num, rate_den);
    }
    // Only the key flag counts: other packet flags (discard, corrupt) say nothing of it.
    key_flag = key ? AV_PKT_FLAG_KEY : 0;
    file.DropPacket();
    return result;
}

}  // namespace qv
