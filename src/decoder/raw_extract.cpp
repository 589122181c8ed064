// Raw packet extraction: the compressed video packets of an open file, handed out as they
// are, or as H.264 and HEVC Annex B units with the parameter sets ahead of each key frame.
#include "decoder/raw_extract.h"

#include <cstring>

#include "bitstream/hevc_config.h"
#include "bitstream/length_prefixed.h"
#include "core/decoder_impl.h"
#include "core/ffmpeg.h"
#include "decoder/file_rates.h"

namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

// Codecs whose packets are offered, in the order they are tested.
constexpr AVCodecID kRawCodecs[] = {
    AV_CODEC_ID_H264,  AV_CODEC_ID_MPEG4, AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MJPEG, AV_CODEC_ID_FLV1,
    AV_CODEC_ID_H263,  AV_CODEC_ID_WMV1,  AV_CODEC_ID_WMV2,       AV_CODEC_ID_RV10,  AV_CODEC_ID_RV20,
};

int ReadBig16(const uint8_t* p) { return (p[0] << 8) | p[1]; }

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
int HevcPacketToAnnexB(const AVCodecParameters* par, const AVPacket& pkt, uint8_t* buffer, int size,
                       int& header_length, int& position) {
    // The record is needed for every packet: it gives the size of the unit lengths.
    const int length_size = qv::HevcUnitLengthSize(par->extradata, par->extradata_size);
    if (length_size < 0) return 0;
    int offset = 0;
    if (pkt.flags & AV_PKT_FLAG_KEY) {
        offset = qv::WriteHevcParameterSets(par->extradata, par->extradata_size, buffer, size);
        if (offset < 0) return 0;
    }
    const int units = qv::LengthPrefixedToAnnexB(pkt.data, pkt.size, length_size, buffer + offset, size - offset);
    if (units < 4) return 0;
    header_length = offset + 4;
    position = static_cast<int>(static_cast<uint32_t>(pkt.pos) + static_cast<uint32_t>(length_size));
    return offset + units;
}

}  // namespace

namespace qv {

int LengthPrefixedToAnnexB(const uint8_t* data, int length, uint8_t* out, int capacity) {
    return LengthPrefixedToAnnexB(data, length, 4, out, capacity);
}

}  // namespace qv

bool QVDecoder::Impl::CheckFormatAndCodec(int codec, const char* format_name) {
    const bool classic = OpenedBy(input_formats, format_name);
    const bool extra = OpenedBy(extra_input_formats, format_name);
    if (!classic && !extra) return false;
    for (AVCodecID id : kRawCodecs) {
        if (codec == id) return true;
    }
    // Today's camera codecs come in mp4/mov (one demuxer, found as "mp4"), Matroska/WebM
    // and MPEG-TS; VP9 frames are handed out as stored.
    if (codec == AV_CODEC_ID_HEVC || codec == AV_CODEC_ID_VP9) return extra || av_match_name("mp4", format_name);
    return false;
}

bool QVDecoder::Impl::GetSPSAndPPS(const uint8_t* record, int length, uint8_t* destination, int& capacity) {
    if (!record || !destination || length < 8) return false;
    // configurationVersion: 8, must be 1
    // AVCProfileIndication, profile_compatibility, AVCLevelIndication: 3 x 8
    // reserved 111111 + lengthSizeMinusOne: must be 0xFF (4-byte unit lengths)
    // reserved 111 + numOfSequenceParameterSets: must be 0xE1 (exactly one)
    if (record[0] != 1 || record[4] != 0xFF || record[5] != 0xE1) return false;
    // sequenceParameterSetLength: 16
    const int sps = ReadBig16(record + 6);
    if (sps + 11 >= length) return false;
    if (sps + 4 > capacity) return false;
    std::memcpy(destination, kStartCode, 4);
    std::memcpy(destination + 4, record + 8, sps);
    // numOfPictureParameterSets: 8 (the first set is used)
    // pictureParameterSetLength: 16
    const int pps = ReadBig16(record + 9 + sps);
    if (sps + pps + 11 > length) return false;
    if (sps + pps + 8 > capacity) return false;
    std::memcpy(destination + 4 + sps, kStartCode, 4);
    std::memcpy(destination + 8 + sps, record + 11 + sps, pps);
    capacity = sps + pps + 8;
    return true;
}

int QVDecoder::Impl::QVGetVideoRawFrame(unsigned char* buffer, int size, int64_t& timestamp_ms, int& key_flag) {
    int header_length = 0;
    int position = 0;
    return QVGetVideoRawFrame(buffer, size, header_length, timestamp_ms, key_flag, position);
}

int QVDecoder::Impl::QVGetVideoRawFrame(unsigned char* buffer, int size, int& header_length,
                                  int64_t& timestamp_ms, int& key_flag, int& position) {
    if (!buffer || size <= 0 || !raw_supported || !format_ctx || !video_stream || !packet) return 0;
    header_length = 0;

    // Raw reads share the file position with QVDecodeFrame; a pending audio piece is dropped.
    audio_offset = 0;
    audio_packet_sent = false;
    int read;
    do {
        av_packet_unref(packet.get());
        read = av_read_frame(format_ctx.get(), packet.get());
    } while (read == 0 && packet->stream_index != video_stream->index);
    if (read < 0) {
        av_packet_unref(packet.get());
        return 0;
    }
    ++packet_count;

    const AVPacket& pkt = *packet;
    const char* container = format_ctx->iformat->name;
    const AVCodecID codec = video_stream->codecpar->codec_id;
    // avi, program and transport streams (mpeg, mpegts) carry Annex B as it stands.
    const bool stored_as_annexb = std::strncmp(container, "avi", 3) == 0 || std::strncmp(container, "mpeg", 4) == 0;
    int result = 0;
    if (codec == AV_CODEC_ID_HEVC && !stored_as_annexb) {
        result = HevcPacketToAnnexB(video_stream->codecpar, pkt, buffer, size, header_length, position);
        if (result == 0) {
            av_packet_unref(packet.get());
            return 0;
        }
    } else if (codec != AV_CODEC_ID_H264 || stored_as_annexb) {
        // A packet larger than the buffer is cut, as hosts that size buffers by bit rate expect.
        result = pkt.size < size ? pkt.size : size;
        if (result > 0) std::memcpy(buffer, pkt.data, result);
        header_length = 0;
        position = static_cast<int>(static_cast<uint32_t>(pkt.pos));
    } else {
        const AVCodecParameters* par = video_stream->codecpar;
        if (par->extradata_size <= 0 || !par->extradata) {
            av_packet_unref(packet.get());
            return 0;
        }
        int offset = 0;
        if (pkt.flags != 0) {
            // Key frames carry their parameter sets so that a receiver can start there.
            int capacity = size;
            if (!GetSPSAndPPS(par->extradata, par->extradata_size, buffer, capacity)) {
                av_packet_unref(packet.get());
                return 0;
            }
            offset = capacity;
        }
        const int units = qv::LengthPrefixedToAnnexB(pkt.data, pkt.size, buffer + offset, size - offset);
        if (units < 4) {
            av_packet_unref(packet.get());
            return 0;
        }
        header_length = offset + 4;
        result = offset + units;
        position = static_cast<int>(static_cast<uint32_t>(pkt.pos) + 4);
    }

    // Time: the decoding time, else the presentation time, else frame periods counted
    // from the last timed packet (or from the start when none came yet).
    const AVRational tb = video_stream->time_base;
    const int64_t time = pkt.dts != AV_NOPTS_VALUE ? pkt.dts : pkt.pts;
    if (time != AV_NOPTS_VALUE) {
        timestamp_ms = qv::TimeToMilliseconds(time, tb.num, tb.den);
        last_raw_time = timestamp_ms;
        last_raw_count = packet_count;
    } else if (last_raw_time >= 0 && last_raw_count >= 0) {
        timestamp_ms = qv::FramesToMilliseconds(last_raw_time, packet_count - last_raw_count,
                                                video_param.frame_rate_num, video_param.frame_rate_den);
    } else {
        timestamp_ms = qv::FramesToMilliseconds(0, packet_count, video_param.frame_rate_num,
                                                video_param.frame_rate_den);
    }
    key_flag = pkt.flags;
    av_packet_unref(packet.get());
    return result;
}
