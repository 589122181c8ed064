// Raw packet extraction: compressed packets handed out as they are, or as H.264 Annex B.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "QVDecoder.h"
#include "base/ffmpeg.h"
extern "C" {
#include <libavcodec/bsf.h>
}
#include "file/file_rates.h"
#include "bitstream/avc_config.h"
#include "file_factory.h"
#include "decoder_parts.h"
#include "log_capture.h"

using qvtest::Parts;

using qvtest::LogCapture;
using qvtest::MediaFile;
using qvtest::PacketInfo;
using qvtest::Picture;
using qvtest::VideoTrack;

namespace {

using Bytes = std::vector<uint8_t>;

MediaFile VideoFile(const std::string& muxer, AVCodecID codec, int frames = 20, int slices = 0) {
    MediaFile file;
    file.muxer = muxer;
    VideoTrack track;
    track.codec = codec;
    track.slices = slices;
    file.video.push_back(track);
    file.frames = frames;
    return file;
}

struct RawFrame {
    int result = 0;
    int header_length = -7;
    int64_t timestamp = -7;
    int key = -7;
    int position = -7;
    Bytes bytes;
};

RawFrame NextRaw(QVDecoder& decoder, int capacity = 1 << 20) {
    RawFrame f;
    std::vector<unsigned char> buffer(capacity);
    f.result = decoder.QVGetVideoRawFrame(buffer.data(), capacity, f.header_length, f.timestamp, f.key, f.position);
    if (f.result > 0) f.bytes.assign(buffer.begin(), buffer.begin() + f.result);
    return f;
}

std::vector<RawFrame> AllRaw(QVDecoder& decoder) {
    std::vector<RawFrame> frames;
    for (RawFrame f = NextRaw(decoder); f.result > 0; f = NextRaw(decoder)) frames.push_back(std::move(f));
    return frames;
}

// NAL units of an Annex B byte stream (3- or 4-byte start codes), without the codes.
std::vector<Bytes> SplitAnnexB(const Bytes& s) {
    std::vector<Bytes> units;
    size_t i = 0;
    size_t start = std::string::npos;
    while (i + 3 <= s.size()) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            if (start != std::string::npos) {
                size_t end = i;
                if (end > start && s[end - 1] == 0) --end;  // the zero of a 4-byte code
                units.emplace_back(s.begin() + start, s.begin() + end);
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != std::string::npos) units.emplace_back(s.begin() + start, s.end());
    return units;
}

int UnitType(const Bytes& unit, AVCodecID codec) {
    if (unit.empty()) return -1;
    return codec == AV_CODEC_ID_HEVC ? (unit[0] >> 1) & 0x3F : unit[0] & 0x1F;
}

bool IsParameterSet(const Bytes& unit, AVCodecID codec) {
    const int type = UnitType(unit, codec);
    return codec == AV_CODEC_ID_HEVC ? (type >= 32 && type <= 34) : (type == 7 || type == 8);
}

// The units without parameter sets and without the units of the record (FFmpeg's filter
// also puts the record's declarative SEI ahead of key frames).
std::vector<Bytes> WithoutParameterSets(const std::vector<Bytes>& units, AVCodecID codec = AV_CODEC_ID_H264,
                                        const std::vector<Bytes>& record = {}) {
    std::vector<Bytes> out;
    for (const Bytes& u : units)
        if (!IsParameterSet(u, codec) && std::find(record.begin(), record.end(), u) == record.end()) out.push_back(u);
    return out;
}

Bytes JoinAnnexB(const std::vector<Bytes>& units) {
    Bytes s;
    for (const Bytes& u : units) {
        s.insert(s.end(), {0, 0, 0, 1});
        s.insert(s.end(), u.begin(), u.end());
    }
    return s;
}

// FFmpeg's own mp4-to-Annex B conversion (h264_ or hevc_mp4toannexb) of each video packet
// of the file, and the parameter sets it puts ahead of key frames.
struct Filtered {
    std::vector<Bytes> packets;
    Bytes parameter_sets;
};

Filtered BitstreamFilterOutput(const std::string& path, const char* filter = "h264_mp4toannexb") {
    Filtered out;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) != 0) return out;
    avformat_find_stream_info(fmt, nullptr);
    AVBSFContext* bsf = nullptr;
    av_bsf_alloc(av_bsf_get_by_name(filter), &bsf);
    avcodec_parameters_copy(bsf->par_in, fmt->streams[0]->codecpar);
    bsf->time_base_in = fmt->streams[0]->time_base;
    av_bsf_init(bsf);
    out.parameter_sets.assign(bsf->par_out->extradata, bsf->par_out->extradata + bsf->par_out->extradata_size);
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == 0 && av_bsf_send_packet(bsf, pkt) == 0) {
            while (av_bsf_receive_packet(bsf, pkt) == 0) {
                out.packets.emplace_back(pkt->data, pkt->data + pkt->size);
                av_packet_unref(pkt);
            }
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    av_bsf_free(&bsf);
    avformat_close_input(&fmt);
    return out;
}

class RawTest : public ::testing::Test {
protected:
    void SetUp() override { QVDecoderInitialize(); }

    std::string Make(const std::string& name, const MediaFile& media) {
        const std::string path = dir_.Path(name);
        EXPECT_EQ(qvtest::WriteMediaFile(path, media), "") << name;
        return path;
    }

    qvtest::TempDir dir_;
};

// An avcC record: version 1, profile/compat/level, 0xFF, 0xE1, SPS, one PPS.
Bytes Record(int sps, int pps, uint8_t sps_count = 0xE1) {
    Bytes r = {1, 0x64, 0, 0x1E, 0xFF, sps_count, static_cast<uint8_t>(sps >> 8), static_cast<uint8_t>(sps)};
    for (int i = 0; i < sps; ++i) r.push_back(static_cast<uint8_t>(i == 0 ? 0x67 : i));
    r.push_back(1);
    r.push_back(static_cast<uint8_t>(pps >> 8));
    r.push_back(static_cast<uint8_t>(pps));
    for (int i = 0; i < pps; ++i) r.push_back(static_cast<uint8_t>(i == 0 ? 0x68 : 0xA0 + i));
    return r;
}

TEST_F(RawTest, GetSPSAndPPS_WritesBothSetsBehindStartCodes) {
    QVDecoder decoder;
    const Bytes record = Record(25, 4);
    Bytes out(100, 0xEE);
    int capacity = 100;
    ASSERT_TRUE(qv::GetSPSAndPPS(record.data(), static_cast<int>(record.size()), out.data(),
                                                 capacity));
    EXPECT_EQ(capacity, 37);
    Bytes want = {0, 0, 0, 1};
    want.insert(want.end(), record.begin() + 8, record.begin() + 33);
    want.insert(want.end(), {0, 0, 0, 1});
    want.insert(want.end(), record.begin() + 36, record.begin() + 40);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 37), want);
    EXPECT_EQ(out[37], 0xEE);

    // Exactly enough room, one byte short.
    capacity = 37;
    EXPECT_TRUE(qv::GetSPSAndPPS(record.data(), 40, out.data(), capacity));
    capacity = 36;
    EXPECT_FALSE(qv::GetSPSAndPPS(record.data(), 40, out.data(), capacity));
    EXPECT_EQ(capacity, 36);
}

TEST_F(RawTest, GetSPSAndPPS_RefusesMalformedRecords) {
    QVDecoder decoder;
    Bytes out(100);
    const auto refuses = [&](Bytes record, int length) {
        int capacity = 100;
        return !qv::GetSPSAndPPS(record.data(), length, out.data(), capacity) &&
               capacity == 100;
    };
    const Bytes good = Record(25, 4);
    EXPECT_TRUE(refuses(Record(25, 4, 0xE2), 40));  // two SPS
    Bytes version = good;
    version[0] = 0;
    EXPECT_TRUE(refuses(version, 40));
    Bytes lengths = good;
    lengths[4] = 0xFE;  // 3-byte unit lengths
    EXPECT_TRUE(refuses(lengths, 40));
    EXPECT_TRUE(refuses(good, 7));
    EXPECT_TRUE(refuses(good, 36));  // SPS runs into the PPS count
    EXPECT_TRUE(refuses(good, 39));  // PPS cut short
    Bytes huge = good;
    huge[6] = 0xFF;  // SPS length far past the record
    EXPECT_TRUE(refuses(huge, 40));
}

TEST(RawUnitsTest, LengthPrefixedToAnnexB_ConvertsEveryUnitAndRefusesOverruns) {
    const Bytes packet = {0, 0, 0, 2, 0x06, 0x05, 0, 0, 0, 3, 0x65, 0x88, 0x84, 0, 0, 0, 1, 0x41};
    Bytes out(64, 0xEE);
    ASSERT_EQ(qv::LengthPrefixedToAnnexB(packet.data(), static_cast<int>(packet.size()), out.data(), 64), 18);
    const Bytes want = {0, 0, 0, 1, 0x06, 0x05, 0, 0, 0, 1, 0x65, 0x88, 0x84, 0, 0, 0, 1, 0x41};
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 18), want);
    EXPECT_EQ(qv::LengthPrefixedToAnnexB(packet.data(), 18, out.data(), 17), -1);

    Bytes longer = packet;
    longer[16] = 2;  // the last unit claims a byte the packet does not have
    EXPECT_EQ(qv::LengthPrefixedToAnnexB(longer.data(), 18, out.data(), 64), -1);
    const Bytes wild = {0xFF, 0xFF, 0xFF, 0xFF, 0x65};
    EXPECT_EQ(qv::LengthPrefixedToAnnexB(wild.data(), 5, out.data(), 64), -1);
    EXPECT_EQ(qv::LengthPrefixedToAnnexB(packet.data(), 12, out.data(), 64), -1);  // length field cut
    EXPECT_EQ(qv::LengthPrefixedToAnnexB(packet.data(), 0, out.data(), 64), 0);
}

// Extracts every packet of a file whose units are stored with length prefixes and checks
// them against FFmpeg's own conversion and decode: the units of each packet as the bitstream
// filter gives them, the record's parameter sets ahead of key frames (header_length counts
// them), and the whole extracted stream decoding to the file's pictures.
void ExpectPlayableAnnexB(const std::string& path, AVCodecID codec, int slices) {
    std::vector<PacketInfo> packets;
    for (PacketInfo& p : qvtest::ReadPackets(path))
        if (p.stream == 0) packets.push_back(std::move(p));

    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    ASSERT_TRUE(Parts(decoder).session.raw().raw_supported());

    const std::vector<RawFrame> frames = AllRaw(decoder);
    ASSERT_EQ(frames.size(), packets.size());
    const Filtered filtered =
        BitstreamFilterOutput(path, codec == AV_CODEC_ID_HEVC ? "hevc_mp4toannexb" : "h264_mp4toannexb");
    ASSERT_EQ(filtered.packets.size(), frames.size());
    // The record's VPS/SPS/PPS (or SPS/PPS), in record order.
    const std::vector<Bytes> record = SplitAnnexB(filtered.parameter_sets);
    std::vector<Bytes> set_units;
    for (const Bytes& u : record)
        if (IsParameterSet(u, codec)) set_units.push_back(u);
    ASSERT_EQ(set_units.size(), codec == AV_CODEC_ID_HEVC ? 3u : 2u);
    const Bytes sets = JoinAnnexB(set_units);
    Bytes stream;
    size_t keys = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const RawFrame& f = frames[i];
        const PacketInfo& p = packets[i];
        const bool key = (p.flags & AV_PKT_FLAG_KEY) != 0;
        keys += key;
        EXPECT_EQ(f.key, p.flags) << i;
        EXPECT_EQ(f.timestamp, p.dts * 1000 * p.time_base.num / p.time_base.den) << i;
        EXPECT_EQ(f.header_length, key ? static_cast<int>(sets.size()) + 4 : 4) << i;
        EXPECT_EQ(f.position, static_cast<int>(p.pos + 4)) << i;
        // The packet's first unit starts at the header length.
        EXPECT_EQ(Bytes(f.bytes.begin() + f.header_length, f.bytes.begin() + f.header_length + 8),
                  Bytes(p.data.begin() + 4, p.data.begin() + 12))
            << i;
        if (key) {
            EXPECT_EQ(Bytes(f.bytes.begin(), f.bytes.begin() + static_cast<long>(sets.size())), sets) << i;
        }
        const std::vector<Bytes> units = SplitAnnexB(f.bytes);
        ASSERT_FALSE(units.empty());
        // Every unit of the packet is there, as FFmpeg's own conversion gives it.
        EXPECT_EQ(WithoutParameterSets(units, codec, record),
                  WithoutParameterSets(SplitAnnexB(filtered.packets[i]), codec, record))
            << i;
        if (slices > 0) {
            EXPECT_GE(WithoutParameterSets(units, codec).size(), static_cast<size_t>(slices)) << i;
        }
        stream.insert(stream.end(), f.bytes.begin(), f.bytes.end());
    }
    EXPECT_GE(keys, 2u) << "more than one key frame carries the parameter sets";
    const std::vector<Picture> want = qvtest::ReferencePictures(path);
    const std::vector<Picture> got = qvtest::DecodeAnnexB(stream, codec);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(got[i].bytes == want[i].bytes) << "picture " << i;
}

TEST_F(RawTest, QVGetVideoRawFrame_OnlyTheKeyFlagMakesAKeyFrame) {
    // Cut with an edit list: the packets before its start are flagged DISCARD, and only the
    // first of them is a key frame.
    const std::string source = Make("source.mp4", VideoFile("mp4", AV_CODEC_ID_H264, 50));
    const std::string cut = dir_.Path("cut.mp4");
    const std::string command = "ffmpeg -v error -y -ss 0.5 -i '" + source + "' -c copy '" + cut + "'";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "no ffmpeg program to cut with";
    const std::vector<PacketInfo> packets = qvtest::ReadPackets(cut);
    int discarded = 0;
    for (const PacketInfo& p : packets) discarded += (p.flags & AV_PKT_FLAG_DISCARD) && !(p.flags & AV_PKT_FLAG_KEY);
    ASSERT_GT(discarded, 0);

    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(cut.c_str()), 0);
    const std::vector<RawFrame> frames = AllRaw(decoder);
    ASSERT_EQ(frames.size(), packets.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const bool key = (packets[i].flags & AV_PKT_FLAG_KEY) != 0;
        EXPECT_EQ(frames[i].key, key ? 1 : 0) << "packet " << i;
        // Parameter sets (and so a header longer than one start code) only ahead of key frames.
        EXPECT_EQ(frames[i].header_length > 4, key) << "packet " << i;
    }
}

TEST_F(RawTest, QVGetVideoRawFrame_H264FromMp4IsAPlayableAnnexBStream) {
    ExpectPlayableAnnexB(Make("clip.mp4", VideoFile("mp4", AV_CODEC_ID_H264, 20, 3)), AV_CODEC_ID_H264, 3);
}

TEST_F(RawTest, QVGetVideoRawFrame_HevcAndMatroskaArePlayableAnnexBStreams) {
    struct Case {
        const char* muxer;
        AVCodecID codec;
        int b_frames;
        int fps_den = 1;  // 1001: 30000/1001 frames a second, B-frames' negative times in fractions of ms
    };
    for (Case c : {Case{"matroska", AV_CODEC_ID_H264, 0}, Case{"mp4", AV_CODEC_ID_HEVC, 0},
                   Case{"mov", AV_CODEC_ID_HEVC, 2}, Case{"matroska", AV_CODEC_ID_HEVC, 0},
                   Case{"mp4", AV_CODEC_ID_H264, 2, 1001}}) {
        SCOPED_TRACE(std::string(c.muxer) + " " + avcodec_get_name(c.codec) + " " + std::to_string(c.fps_den));
        MediaFile media = VideoFile(c.muxer, c.codec, 20);
        media.video[0].max_b_frames = c.b_frames;
        if (c.fps_den != 1) {
            media.video[0].fps = 30000;
            media.video[0].fps_den = c.fps_den;
        }
        ExpectPlayableAnnexB(Make(std::string("clip.") + c.muxer, media), c.codec, 0);
    }
}

// A packet's time in milliseconds, truncated toward zero as integer division does.
int64_t PacketMilliseconds(const PacketInfo& p) { return p.dts * 1000 * p.time_base.num / p.time_base.den; }

TEST_F(RawTest, QVGetVideoRawFrame_OtherCodecsAndContainersAreCopiedUnchanged) {
    struct Case {
        const char* muxer;
        AVCodecID codec;
        int fps = 25;
        int fps_den = 1;
    };
    for (Case c : {Case{"avi", AV_CODEC_ID_MPEG4}, Case{"mpeg", AV_CODEC_ID_MPEG2VIDEO}, Case{"asf", AV_CODEC_ID_WMV2},
                   Case{"rm", AV_CODEC_ID_RV20}, Case{"flv", AV_CODEC_ID_FLV1}, Case{"mp4", AV_CODEC_ID_MPEG4},
                   Case{"avi", AV_CODEC_ID_H264}, Case{"avi", AV_CODEC_ID_MJPEG}, Case{"mpegts", AV_CODEC_ID_H264},
                   Case{"mpegts", AV_CODEC_ID_HEVC}, Case{"webm", AV_CODEC_ID_VP9}, Case{"matroska", AV_CODEC_ID_MPEG4},
                   Case{"mpegts", AV_CODEC_ID_H264, 30000, 1001}}) {
        SCOPED_TRACE(std::string(c.muxer) + " " + avcodec_get_name(c.codec) + " " + std::to_string(c.fps));
        MediaFile media = VideoFile(c.muxer, c.codec, 8);
        media.video[0].fps = c.fps;
        media.video[0].fps_den = c.fps_den;
        const std::string path = Make(std::string("plain.") + c.muxer, media);
        std::vector<PacketInfo> packets;
        for (PacketInfo& p : qvtest::ReadPackets(path))
            if (p.stream == 0) packets.push_back(std::move(p));

        QVDecoder decoder;
        ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
        ASSERT_TRUE(Parts(decoder).session.raw().raw_supported());
        const std::vector<RawFrame> frames = AllRaw(decoder);
        ASSERT_EQ(frames.size(), packets.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].bytes, packets[i].data) << i;
            EXPECT_EQ(frames[i].header_length, 0);
            EXPECT_EQ(frames[i].position, static_cast<int>(packets[i].pos));
            EXPECT_EQ(frames[i].key, packets[i].flags);
            EXPECT_EQ(frames[i].timestamp, PacketMilliseconds(packets[i])) << i;
        }
        // At 30000/1001 on a 1/90000 time base, rounding would move some of the times.
        const auto rounds_up = [](const PacketInfo& p) {
            return p.dts * 1000 * p.time_base.num % p.time_base.den * 2 >= p.time_base.den;
        };
        if (c.fps_den != 1) {
            EXPECT_TRUE(std::any_of(packets.begin(), packets.end(), rounds_up));
        }
    }
}

TEST_F(RawTest, QVGetVideoRawFrame_SmallBuffers) {
    // A plain copy is cut to the buffer.
    const std::string avi = Make("cut.avi", VideoFile("avi", AV_CODEC_ID_MPEG4, 3));
    QVDecoder plain;
    ASSERT_EQ(plain.QVOpen(avi.c_str()), 0);
    EXPECT_EQ(NextRaw(plain, 64).result, 64);

    // An H.264 unit that does not fit gives 0 and waits for a call with room: the size tells
    // how much, a host that grows its buffer after each 0 gets every packet.
    const std::string mp4 = Make("small.mp4", VideoFile("mp4", AV_CODEC_ID_H264, 6));
    std::vector<PacketInfo> packets = qvtest::ReadPackets(mp4);
    ASSERT_GE(packets.size(), 3u);
    QVDecoder decoder;
    decoder.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    EXPECT_EQ(decoder.QVGetVideoRawFrameSize(), -1) << "nothing open";
    ASSERT_EQ(decoder.QVOpen(mp4.c_str()), 0);
    const int counted = Parts(decoder).session.raw().packet_count();
    ASSERT_GT(NextRaw(decoder).result, 0);
    const int needed = static_cast<int>(packets[1].data.size());  // one unit: 4-byte code for 4-byte length
    LogCapture::Clear();
    RawFrame refused = NextRaw(decoder, needed - 1);
    EXPECT_EQ(refused.result, 0);
    EXPECT_EQ(refused.timestamp, -7) << "outputs of a refused packet stay untouched";
    EXPECT_TRUE(LogCapture::Contains("QVGetVideoRawFrame: buffer too small, " + std::to_string(needed) + " bytes needed."));
    EXPECT_EQ(decoder.QVGetVideoRawFrameSize(), needed);
    const RawFrame held = NextRaw(decoder, needed);
    EXPECT_EQ(held.result, needed);
    EXPECT_EQ(held.timestamp, packets[1].dts * 1000 * packets[1].time_base.num / packets[1].time_base.den);
    EXPECT_EQ(decoder.QVGetVideoRawFrameSize(), static_cast<int>(packets[2].data.size())) << "read ahead and held";
    const RawFrame next = NextRaw(decoder);
    EXPECT_EQ(next.timestamp, packets[2].dts * 1000 * packets[2].time_base.num / packets[2].time_base.den);
    EXPECT_EQ(Parts(decoder).session.raw().packet_count(), counted + 3);

    QVDecoder whole, growing;
    ASSERT_EQ(whole.QVOpen(mp4.c_str()), 0);
    ASSERT_EQ(growing.QVOpen(mp4.c_str()), 0);
    const std::vector<RawFrame> want = AllRaw(whole);
    std::vector<RawFrame> got;
    for (int capacity = 16; got.size() < want.size() + 1;) {
        RawFrame f = NextRaw(growing, capacity);
        if (f.result > 0) {
            got.push_back(f);
            continue;
        }
        const int size = growing.QVGetVideoRawFrameSize();
        if (size <= capacity) break;  // the end of the file
        capacity = size;
    }
    EXPECT_EQ(growing.QVGetVideoRawFrameSize(), 0) << "the end of the file";
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_TRUE(got[i].bytes == want[i].bytes) << i;
        EXPECT_EQ(got[i].timestamp, want[i].timestamp) << i;
        EXPECT_EQ(got[i].header_length, want[i].header_length) << i;
    }

    // A record the converter cannot read fails key frames only.
    QVDecoder broken;
    ASSERT_EQ(broken.QVOpen(mp4.c_str()), 0);
    Parts(broken).session.file().video_stream()->codecpar->extradata[5] = 0xE2;
    EXPECT_EQ(NextRaw(broken).result, 0);
    const RawFrame inter = NextRaw(broken, needed);
    EXPECT_EQ(inter.result, needed);
    EXPECT_EQ(inter.header_length, 4);
}

// The file's HEVC stream written anew as mp4 with 2-byte unit lengths, in the record and in
// every packet: the format allows them, FFmpeg's muxers never choose them.
std::string RewriteWithTwoByteLengths(const std::string& source, const std::string& path) {
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, source.c_str(), nullptr, nullptr) != 0) return "cannot open " + source;
    std::string error;
    AVFormatContext* out = nullptr;
    avformat_find_stream_info(in, nullptr);
    avformat_alloc_output_context2(&out, nullptr, "mp4", path.c_str());
    AVStream* stream = avformat_new_stream(out, nullptr);
    avcodec_parameters_copy(stream->codecpar, in->streams[0]->codecpar);
    stream->codecpar->codec_tag = 0;
    stream->time_base = in->streams[0]->time_base;
    AVCodecParameters* par = stream->codecpar;
    par->extradata[21] = static_cast<uint8_t>((par->extradata[21] & 0xFC) | 1);  // lengthSizeMinusOne: 1
    if (avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(out, nullptr) < 0)
        error = "cannot write " + path;
    AVPacket* pkt = av_packet_alloc();
    while (error.empty() && av_read_frame(in, pkt) >= 0) {
        Bytes units;
        for (int at = 0; at + 4 <= pkt->size;) {
            const uint32_t size = (uint32_t{pkt->data[at]} << 24) | (pkt->data[at + 1] << 16) |
                                  (pkt->data[at + 2] << 8) | pkt->data[at + 3];
            if (size > 0xFFFF || size > static_cast<uint32_t>(pkt->size - at - 4)) error = "unit too long";
            if (!error.empty()) break;
            units.push_back(static_cast<uint8_t>(size >> 8));
            units.push_back(static_cast<uint8_t>(size));
            units.insert(units.end(), pkt->data + at + 4, pkt->data + at + 4 + size);
            at += 4 + static_cast<int>(size);
        }
        AVPacket* rewritten = av_packet_alloc();
        av_new_packet(rewritten, static_cast<int>(units.size()));
        std::copy(units.begin(), units.end(), rewritten->data);
        av_packet_copy_props(rewritten, pkt);
        rewritten->stream_index = 0;
        av_packet_rescale_ts(rewritten, in->streams[0]->time_base, stream->time_base);
        if (error.empty() && av_write_frame(out, rewritten) < 0) error = "write failed";
        av_packet_free(&rewritten);
        av_packet_unref(pkt);
    }
    if (error.empty() && av_write_trailer(out) < 0) error = "trailer failed";
    av_packet_free(&pkt);
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
    return error;
}

// Units behind 2-byte lengths come out as the same Annex B stream as behind 4-byte ones.
TEST_F(RawTest, QVGetVideoRawFrame_HevcWithTwoByteUnitLengths) {
    const std::string four = Make("four.mp4", VideoFile("mp4", AV_CODEC_ID_HEVC, 12));
    const std::string two = dir_.Path("two.mp4");
    ASSERT_EQ(RewriteWithTwoByteLengths(four, two), "");
    const std::vector<PacketInfo> packets = qvtest::ReadPackets(two);
    ASSERT_LT(qvtest::FileSize(two), qvtest::FileSize(four));

    QVDecoder from_four, from_two;
    ASSERT_EQ(from_four.QVOpen(four.c_str()), 0);
    ASSERT_EQ(from_two.QVOpen(two.c_str()), 0);
    const std::vector<RawFrame> want = AllRaw(from_four);
    const std::vector<RawFrame> got = AllRaw(from_two);
    ASSERT_EQ(got.size(), packets.size());
    ASSERT_EQ(got.size(), want.size());
    Bytes stream;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(got[i].bytes == want[i].bytes) << i;
        EXPECT_EQ(got[i].header_length, want[i].header_length) << i;
        EXPECT_EQ(got[i].position, static_cast<int>(packets[i].pos + 2)) << i;
        stream.insert(stream.end(), got[i].bytes.begin(), got[i].bytes.end());
    }
    const std::vector<Picture> pictures = qvtest::ReferencePictures(two);
    const std::vector<Picture> decoded = qvtest::DecodeAnnexB(stream, AV_CODEC_ID_HEVC);
    ASSERT_EQ(decoded.size(), pictures.size());
    for (size_t i = 0; i < pictures.size(); ++i) EXPECT_TRUE(decoded[i].bytes == pictures[i].bytes) << i;
}

// HEVC packets that cannot be converted give 0 and are consumed: the next read goes on
// with the packet after them; one that does not fit waits.
TEST_F(RawTest, QVGetVideoRawFrame_HevcRefusalsConsumeThePacket) {
    const std::string path = Make("refused.mp4", VideoFile("mp4", AV_CODEC_ID_HEVC, 12));
    std::vector<PacketInfo> packets = qvtest::ReadPackets(path);
    ASSERT_GE(packets.size(), 12u);
    ASSERT_FALSE(packets[1].flags & AV_PKT_FLAG_KEY);
    const int64_t dts2 = packets[2].dts * 1000 * packets[2].time_base.num / packets[2].time_base.den;

    // No room for the parameter sets of a key frame: it waits for room.
    QVDecoder small;
    ASSERT_EQ(small.QVOpen(path.c_str()), 0);
    const RawFrame refused = NextRaw(small, 60);
    EXPECT_EQ(refused.result, 0);
    EXPECT_EQ(refused.timestamp, -7);
    EXPECT_GT(NextRaw(small).header_length, 4) << "the key frame itself";

    // The second packet's first unit claims more bytes than the packet has.
    QVDecoder decoder;
    ASSERT_TRUE(qvtest::OverwriteBytes(path, packets[1].pos, {0x00, 0xFF, 0xFF, 0xFF}));
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    EXPECT_GT(NextRaw(decoder).result, 0);
    EXPECT_EQ(NextRaw(decoder).result, 0);
    EXPECT_EQ(NextRaw(decoder).timestamp, dts2);
    EXPECT_EQ(Parts(decoder).session.raw().packet_count(), 3);

    // A record that lies about its arrays fails every packet, key frame or not.
    for (const auto& [offset, value] : {std::pair<int, uint8_t>{22, 9}, {25, 7}, {27, 0xF0}}) {
        SCOPED_TRACE(offset);
        QVDecoder lied;
        ASSERT_EQ(lied.QVOpen(path.c_str()), 0);
        AVCodecParameters* par = Parts(lied).session.file().video_stream()->codecpar;
        ASSERT_GT(par->extradata_size, offset);
        par->extradata[offset] = value;
        EXPECT_EQ(NextRaw(lied).result, 0);
        EXPECT_EQ(NextRaw(lied).result, 0);
        EXPECT_EQ(Parts(lied).session.raw().packet_count(), 2);
    }
}

TEST_F(RawTest, QVGetVideoRawFrame_RefusesWithoutTouchingOutputs) {
    const std::string path = Make("p.mp4", VideoFile("mp4", AV_CODEC_ID_H264, 3));
    QVDecoder decoder;
    unsigned char buffer[16];
    int header = -7, key = -7, position = -7;
    int64_t time = -7;
    EXPECT_EQ(decoder.QVGetVideoRawFrame(buffer, 16, header, time, key, position), 0);  // not open
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    EXPECT_EQ(decoder.QVGetVideoRawFrame(nullptr, 16, header, time, key, position), 0);
    EXPECT_EQ(decoder.QVGetVideoRawFrame(buffer, 0, header, time, key, position), 0);
    EXPECT_EQ(decoder.QVGetVideoRawFrame(buffer, -5, time, key), 0);
    EXPECT_EQ(header, -7);
    EXPECT_EQ(time, -7);
    EXPECT_EQ(key, -7);
    EXPECT_EQ(position, -7);
    EXPECT_EQ(Parts(decoder).session.raw().packet_count(), 0);

    // The short form hands out the same packets.
    std::vector<unsigned char> big(1 << 16);
    const int result = decoder.QVGetVideoRawFrame(big.data(), static_cast<int>(big.size()), time, key);
    EXPECT_GT(result, 0);
    EXPECT_EQ(key, AV_PKT_FLAG_KEY);
    EXPECT_EQ(time, 0);
}

TEST_F(RawTest, RawSupported_DependsOnContainerAndCodec) {
    struct Case {
        const char* muxer;
        AVCodecID codec;
        bool supported;
    };
    for (Case c : {Case{"flv", AV_CODEC_ID_H264, true}, Case{"mp4", AV_CODEC_ID_H264, true},
                   Case{"mov", AV_CODEC_ID_H264, true}, Case{"3gp", AV_CODEC_ID_H264, true},
                   Case{"avi", AV_CODEC_ID_MPEG4, true}, Case{"mpeg", AV_CODEC_ID_MPEG2VIDEO, true},
                   Case{"asf", AV_CODEC_ID_WMV2, true}, Case{"rm", AV_CODEC_ID_RV20, true},
                   Case{"matroska", AV_CODEC_ID_H264, true}, Case{"mpegts", AV_CODEC_ID_H264, true},
                   Case{"avi", AV_CODEC_ID_MPEG1VIDEO, false}, Case{"mp4", AV_CODEC_ID_HEVC, true},
                   Case{"matroska", AV_CODEC_ID_HEVC, true}, Case{"mpegts", AV_CODEC_ID_HEVC, true},
                   Case{"avi", AV_CODEC_ID_HEVC, false}, Case{"webm", AV_CODEC_ID_VP9, true},
                   Case{"matroska", AV_CODEC_ID_AV1, false}, Case{"nut", AV_CODEC_ID_H264, false}}) {
        SCOPED_TRACE(std::string(c.muxer) + " " + avcodec_get_name(c.codec));
        const std::string path = Make(std::string("s.") + c.muxer, VideoFile(c.muxer, c.codec, 3));
        QVDecoder decoder;
        ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
        EXPECT_EQ(Parts(decoder).session.raw().raw_supported(), c.supported);
        unsigned char buffer[1 << 16];
        int64_t time = 0;
        int key = 0;
        EXPECT_EQ(decoder.QVGetVideoRawFrame(buffer, sizeof(buffer), time, key) > 0, c.supported);
        if (!c.supported) continue;
        // The format list is built at construction only: a reopened object offers nothing.
        decoder.QVClose();
        ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
        EXPECT_FALSE(Parts(decoder).session.raw().raw_supported());
    }
}

TEST_F(RawTest, CheckFormatAndCodec_ComparesNameIdentity) {
    QVDecoder decoder;
    const AVInputFormat* mp4 = av_find_input_format("mp4");
    ASSERT_NE(mp4, nullptr);
    EXPECT_TRUE(Parts(decoder).session.raw().CheckFormatAndCodec(AV_CODEC_ID_H264, mp4->name));
    const std::string copy = mp4->name;  // same spelling, another string
    EXPECT_FALSE(Parts(decoder).session.raw().CheckFormatAndCodec(AV_CODEC_ID_H264, copy.c_str()));
    EXPECT_FALSE(Parts(decoder).session.raw().CheckFormatAndCodec(AV_CODEC_ID_AV1, mp4->name));
    for (AVCodecID id : {AV_CODEC_ID_MPEG4, AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MJPEG, AV_CODEC_ID_FLV1,
                         AV_CODEC_ID_H263, AV_CODEC_ID_WMV1, AV_CODEC_ID_WMV2, AV_CODEC_ID_RV10, AV_CODEC_ID_RV20,
                         AV_CODEC_ID_HEVC, AV_CODEC_ID_VP9})
        EXPECT_TRUE(Parts(decoder).session.raw().CheckFormatAndCodec(id, mp4->name)) << avcodec_get_name(id);
    // The containers beside the eight are compared the same way; HEVC is not offered in
    // containers that do not carry it today.
    const AVInputFormat* matroska = av_find_input_format("matroska");
    ASSERT_NE(matroska, nullptr);
    EXPECT_TRUE(Parts(decoder).session.raw().CheckFormatAndCodec(AV_CODEC_ID_HEVC, matroska->name));
    const std::string matroska_copy = matroska->name;
    EXPECT_FALSE(Parts(decoder).session.raw().CheckFormatAndCodec(AV_CODEC_ID_HEVC, matroska_copy.c_str()));
    EXPECT_FALSE(Parts(decoder).session.raw().CheckFormatAndCodec(AV_CODEC_ID_HEVC, av_find_input_format("flv")->name));
}

// Packets without a time of their own are placed by the frame rate.
TEST(RawTimesTest, FramesToMilliseconds_CountsFramePeriods) {
    // Three untimed packets after one at 1000 ms (packet 10), 25 frames a second.
    EXPECT_EQ(qv::FramesToMilliseconds(1000, 11 - 10, 25, 1), 1040);
    EXPECT_EQ(qv::FramesToMilliseconds(1000, 12 - 10, 25, 1), 1080);
    EXPECT_EQ(qv::FramesToMilliseconds(1000, 13 - 10, 25, 1), 1120);
    // No timed packet yet: counted from the start, the first packet is one period in.
    EXPECT_EQ(qv::FramesToMilliseconds(0, 1, 25, 1), 40);
    EXPECT_EQ(qv::FramesToMilliseconds(0, 2, 25, 1), 80);
    // Recomputed rates in thousandths would overflow 32 bits after 2147 packets.
    EXPECT_EQ(qv::FramesToMilliseconds(0, 3000, 25000, 1000), 120000);
    // A zero rate never divides.
    EXPECT_EQ(qv::FramesToMilliseconds(500, 3, 0, 1), 500);
    EXPECT_EQ(qv::TimeToMilliseconds(90000, 1, 90000), 1000);
    EXPECT_EQ(qv::TimeToMilliseconds(-1, 1, 90000), 0);
    EXPECT_EQ(qv::TimeToMilliseconds(-180, 1, 90000), -2);
    EXPECT_EQ(qv::TimeToMilliseconds(5, 1, 0), 0);
}

// Damaged files carry times near the 64-bit limit: the result saturates with its sign.
TEST(RawTimesTest, TimesBeyond64BitsSaturate) {
    EXPECT_EQ(qv::TimeToMilliseconds(INT64_MAX / 2, 1, 1), INT64_MAX);
    EXPECT_EQ(qv::TimeToMilliseconds(INT64_MAX / 2, -1, 1), -INT64_MAX);
    EXPECT_EQ(qv::TimeToMilliseconds(INT64_MIN / 2, 1, 1), -INT64_MAX);
    EXPECT_EQ(qv::FramesToMilliseconds(INT64_MAX - 5, 1, 25, 1), INT64_MAX);
    EXPECT_EQ(qv::FramesToMilliseconds(INT64_MIN + 5, -1, 25, 1), INT64_MIN);
    EXPECT_EQ(qv::FramesToMilliseconds(INT64_MAX - 50, 1, 25, 1), INT64_MAX - 10);
}

}  // namespace
