// Program stream demultiplexing: bit reader, pack header, PES packets, and whole streams
// pushed through QVDecodeVideoFrame.
#include <gtest/gtest.h>

#include <vector>

#include "QVDecoder.h"
#include "bitstream/bit_reader.h"
#include "bitstream/program_stream.h"
#include "decoder_parts.h"

using qvtest::Parts;
#include "media_factory.h"
#include "ps_muxer.h"
#include "ps_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A demux buffer of the real capacity, and the pack copied to a buffer of exact size.
struct Demuxed {
    int result;
    Bytes payload;
};

Demuxed Demux(const Bytes& pack, int capacity = kDemuxBufferCapacity) {
    Bytes input(pack);
    Bytes storage(static_cast<size_t>(capacity));
    _demux_buffer buffer{storage.data(), -5, capacity};
    const int result = ParsePackHeader(input.empty() ? nullptr : input.data(),
                                       static_cast<int>(input.size()), &buffer);
    storage.resize(static_cast<size_t>(buffer.length < 0 ? 0 : buffer.length));
    return {result, storage};
}

Bytes Payload(int size, int seed) {
    Bytes b(static_cast<size_t>(size));
    for (int i = 0; i < size; ++i) b[static_cast<size_t>(i)] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

Bytes Cat(const Bytes& a, const Bytes& b) {
    Bytes all(a);
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

Bytes PackHeader(int stuffing = 0) {
    Bytes b;
    qvtest::AppendPackHeader(b, 123456789, stuffing);
    return b;
}

Bytes Pes(int id, const Bytes& payload, int64_t pts = -1, int stuffing = 2) {
    Bytes b;
    qvtest::AppendPesPacket(b, id, payload.data(), static_cast<int>(payload.size()), pts, stuffing);
    return b;
}

TEST(BitReaderTest, ReadsBigEndianFieldsAcrossBytes) {
    const Bytes d = {0xA5, 0x3C, 0xFF, 0x00, 0x81, 0x7E};
    qv::BitReader r = qv::MakeBitReader(d.data(), static_cast<int>(d.size()));
    EXPECT_EQ(qv::ReadBits(r, 3), 0x5);
    EXPECT_EQ(qv::PeekBits(r, 9), 0x53);
    EXPECT_EQ(qv::ReadBits(r, 9), 0x53);
    EXPECT_EQ(qv::ReadBits(r, 12), 0xCFF);
    EXPECT_EQ(r.byte_pos, 3);
    EXPECT_EQ(r.bit_pos, 0);
    EXPECT_EQ(qv::ReadBits(r, 24), -1);  // needs byte_pos + 5 <= length
}

TEST(BitReaderTest, RefusesWideReadsAndKeepsAMargin) {
    const Bytes d = {1, 2, 3};
    qv::BitReader r = qv::MakeBitReader(d.data(), 3);
    EXPECT_EQ(qv::ReadBits(r, 25), -1);
    EXPECT_EQ(r.byte_pos, 0);
    EXPECT_EQ(qv::ReadBits(r, 8), 1);
    EXPECT_EQ(r.byte_pos, 1);
    EXPECT_EQ(qv::ReadBits(r, 8), -1);
    EXPECT_EQ(r.byte_pos, 1);
    EXPECT_EQ(qv::ReadBits(r, 7), 1);  // narrower reads still fit
    EXPECT_EQ(qv::ReadBits(r, 1), 0);
    EXPECT_EQ(r.byte_pos, 2);
    EXPECT_EQ(qv::ReadBits(r, 1), -1);  // the last byte is never read
    qv::BitReader empty = qv::MakeBitReader(d.data(), 0);
    EXPECT_EQ(qv::PeekBits(empty, 1), -1);
}

TEST(PackHeaderTest, RejectsShortForeignAndMpeg1Packs) {
    EXPECT_EQ(Demux({0, 0, 1}).result, -1);
    EXPECT_EQ(Demux({}).result, -1);
    Bytes pack = Cat(PackHeader(), Pes(0xE0, Payload(20, 1)));
    Bytes foreign = pack;
    foreign[3] = 0xBB;
    EXPECT_EQ(Demux(foreign).result, -1);
    Bytes mpeg1 = pack;
    mpeg1[4] = 0x21;  // '0010' + SCR bits
    EXPECT_EQ(Demux(mpeg1).result, -1);
    // The four tested marker bits: SCR (3), extension, and none else.
    const int marker_bits[][2] = {{4, 0x04}, {6, 0x04}, {8, 0x04}, {9, 0x01}};
    for (const auto& m : marker_bits) {
        Bytes broken = pack;
        broken[static_cast<size_t>(m[0])] &= static_cast<uint8_t>(~m[1]);
        EXPECT_EQ(Demux(broken).result, -1) << m[0];
    }
    Bytes reserved = pack;
    reserved[12] &= 0xFC;  // the two markers after the mux rate
    reserved[13] &= 0x07;  // and the reserved bits are not tested
    EXPECT_EQ(Demux(reserved).result, 0);
}

TEST(PackHeaderTest, NullArgumentsAndMissingStorage) {
    Bytes pack = Cat(PackHeader(), Pes(0xE0, Payload(20, 1)));
    Bytes storage(100);
    _demux_buffer no_data{nullptr, 77, kDemuxBufferCapacity};
    EXPECT_EQ(ParsePackHeader(pack.data(), static_cast<int>(pack.size()), &no_data), 0);
    EXPECT_EQ(no_data.length, 77);
    _demux_buffer buffer{storage.data(), 0, 100};
    EXPECT_EQ(ParsePackHeader(nullptr, 10, &buffer), -1);
    EXPECT_EQ(ParsePackHeader(pack.data(), static_cast<int>(pack.size()), nullptr), -1);
    EXPECT_EQ(ParsePackHeader(pack.data(), 0, &buffer), -1);
}

TEST(PackHeaderTest, TakesVideoPayloadsBehindStuffingAndSystemHeaders) {
    const Bytes a = Payload(300, 1), b = Payload(45, 9);
    // No system header, stuffing in the pack header.
    Demuxed d = Demux(Cat(Cat(PackHeader(5), Pes(0xE0, a, 9000)), Pes(0xE0, b)));
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.payload, Cat(a, b));
    // System headers with one and with three stream entries.
    for (const std::vector<int>& ids : {std::vector<int>{0xE0}, std::vector<int>{0xE0, 0xC0, 0xBD}}) {
        Bytes pack = PackHeader();
        qvtest::AppendSystemHeader(pack, ids);
        d = Demux(Cat(Cat(pack, Pes(0xE0, a, 1)), Pes(0xE1, b)));
        EXPECT_EQ(d.result, 0);
        EXPECT_EQ(d.payload, Cat(a, b)) << ids.size();
    }
    // A system header whose first entry lacks the '11' bits.
    Bytes bad = PackHeader();
    qvtest::AppendSystemHeader(bad, {0xE0});
    bad[bad.size() - 2] &= 0x3F;
    EXPECT_EQ(Demux(Cat(bad, Pes(0xE0, a))).result, -1);
}

TEST(PackHeaderTest, NoPacketsBehindTheHeaders_GivesAnEmptyBuffer) {
    Demuxed d = Demux(Cat(PackHeader(), {0x47, 0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(d.result, 0);
    EXPECT_TRUE(d.payload.empty());
    d = Demux(Cat(PackHeader(), {0, 0, 0}));
    EXPECT_EQ(d.result, 0);
    EXPECT_TRUE(d.payload.empty());
}

TEST(PesPacketTest, AudioPrivateAndPaddingPackets_AreSteppedOver) {
    const Bytes v1 = Payload(500, 3), v2 = Payload(80, 4);
    Bytes pack = PackHeader();
    qvtest::AppendSystemHeader(pack, {0xE0, 0xC0});
    pack = Cat(pack, Pes(0xE0, v1, 3600));
    pack = Cat(pack, Pes(0xC0, Payload(160, 0x55), 3600));  // G.711 frame
    pack = Cat(pack, Pes(0xBE, Bytes(30, 0xFF)));           // padding: no PES header
    pack = Cat(pack, Pes(0xBD, Payload(12, 0x66)));
    pack = Cat(pack, Pes(0xE0, v2));
    const Demuxed d = Demux(pack);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.payload, Cat(v1, v2));
}

TEST(PesPacketTest, BadAudioHeader_EndsTheLoopLikeVideo) {
    const Bytes v = Payload(50, 3);
    Bytes audio = Pes(0xC0, Payload(40, 1), 100);
    audio[9] = 0x31;  // PTS flags 2 but the field begins 0011
    Bytes storage(1000);
    _demux_buffer buffer{storage.data(), 0, 1000};
    Bytes packets = Cat(Cat(Pes(0xE0, v), audio), Pes(0xE0, v));
    EXPECT_EQ(ParsePesPackets(packets.data(), static_cast<int>(packets.size()), &buffer), -1);
    EXPECT_EQ(buffer.length, 50);
}

TEST(PesPacketTest, TimeStampsAndStuffingBytes) {
    const Bytes v = Payload(64, 8);
    // PTS: the payload starts right after the five time stamp bytes.
    EXPECT_EQ(Demux(Cat(PackHeader(), Pes(0xE0, v, 90000))).payload, v);
    // A PTS field that does not begin 0010 drops the packet.
    Bytes bad = Pes(0xE0, v, 90000);
    bad[9] = static_cast<uint8_t>((bad[9] & 0x0F) | 0x30);
    Demuxed d = Demux(Cat(Cat(PackHeader(), Pes(0xE0, v)), bad));
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.payload, v);
    // Header data length 0: one 0xFF is dropped, anything else ends the packets.
    Bytes ff = Pes(0xE0, Cat({0xFF}, v), -1, 0);
    EXPECT_EQ(Demux(Cat(PackHeader(), ff)).payload, v);
    Bytes other = Pes(0xE0, Cat({0x12}, v), -1, 0);
    d = Demux(Cat(Cat(PackHeader(), Pes(0xE0, v)), other));
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.payload, v);
}

TEST(PesPacketTest, OptionalHeaderFields_AreCheckedAndSteppedOver) {
    const Bytes v = Payload(30, 2);
    // Flags byte 0x3F: ESCR, ES rate, trick mode, copy info, CRC, extension; the extension
    // carries private data, a pack header field, a sequence counter, P-STD and extension 2.
    Bytes header = {0x84, 0x3F, 0};
    Bytes fields;
    fields.insert(fields.end(), 6, 0x44);                  // ESCR
    fields.insert(fields.end(), {0x80, 0x00, 0x01});       // ES rate
    fields.push_back(0x08);                                 // trick mode: control 0
    fields.push_back(0x81);                                 // additional copy info
    fields.insert(fields.end(), {0x12, 0x34});              // previous CRC
    fields.push_back(0xF1);                                 // extension flags
    fields.insert(fields.end(), 16, 0x99);                  // private data
    fields.insert(fields.end(), {0x02, 0xAB, 0xCD});        // pack header field
    fields.insert(fields.end(), {0x81, 0x80});              // sequence counter
    fields.insert(fields.end(), {0x60, 0x20});              // P-STD buffer
    fields.insert(fields.end(), {0x82, 0x11, 0x22});        // extension 2
    fields.insert(fields.end(), 3, 0xFF);                   // stuffing
    header[2] = static_cast<uint8_t>(fields.size());
    auto packet = [&](const Bytes& f) {
        Bytes body = Cat(Cat(header, f), v);
        Bytes p = {0, 0, 1, 0xE0, static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
        return Cat(p, body);
    };
    EXPECT_EQ(Demux(Cat(PackHeader(), packet(fields))).payload, v);
    Bytes counter = fields;
    counter[33] = 0x01;  // sequence counter marker cleared
    EXPECT_TRUE(Demux(Cat(PackHeader(), packet(counter))).payload.empty());
    Bytes pstd = fields;
    pstd[35] = 0xA0;  // P-STD field beginning '10'
    EXPECT_TRUE(Demux(Cat(PackHeader(), packet(pstd))).payload.empty());
}

TEST(PesPacketTest, PacketRunningPastTheInput_IsDropped) {
    const Bytes v = Payload(100, 5);
    Bytes pack = Cat(Cat(PackHeader(), Pes(0xE0, v)), Pes(0xE0, v));
    for (size_t cut = 1; cut < 110; ++cut) {
        Bytes truncated(pack.begin(), pack.end() - static_cast<long>(cut));
        const Demuxed d = Demux(truncated);
        EXPECT_EQ(d.result, 0);
        EXPECT_EQ(d.payload, v) << cut;
    }
    // Every shorter cut, down to nothing, stays inside the input.
    for (size_t n = 0; n < pack.size(); ++n) Demux(Bytes(pack.begin(), pack.begin() + static_cast<long>(n)));
}

TEST(PesPacketTest, LyingLengths_StayInsideTheInput) {
    const Bytes v = Payload(40, 5);
    Bytes pack = Cat(PackHeader(), Pes(0xE0, v));
    Bytes longer = pack;
    longer[14 + 4] = 0xFF;  // PES length far beyond the input
    EXPECT_TRUE(Demux(longer).payload.empty());
    Bytes shorter = pack;
    shorter[14 + 5] = 2;    // PES length smaller than its own header
    shorter[14 + 4] = 0;
    EXPECT_TRUE(Demux(shorter).payload.empty());
    Bytes system = PackHeader();
    qvtest::AppendSystemHeader(system, {0xE0});
    system[14 + 4] = 0xFF;  // system header length past the input
    EXPECT_EQ(Demux(Cat(system, Pes(0xE0, v))).result, 0);
    EXPECT_TRUE(Demux(Cat(system, Pes(0xE0, v))).payload.empty());
    Bytes skipped = Cat(Cat(PackHeader(), Pes(0xBE, Bytes(10, 0xFF))), Pes(0xE0, v));
    skipped[14 + 4] = 0x7F;  // padding length past the input
    EXPECT_TRUE(Demux(skipped).payload.empty());
}

TEST(PesPacketTest, PayloadsBeyondTheCapacity_FillItExactly) {
    // Sixteen video packets of 65000 bytes: more than 1000000 in all.
    Bytes pack = PackHeader();
    Bytes expected;
    for (int i = 0; i < 16; ++i) {
        const Bytes v = Payload(65000, i);
        pack = Cat(pack, Pes(0xE0, v));
        expected = Cat(expected, v);
    }
    const Demuxed d = Demux(pack);
    EXPECT_EQ(d.result, 0);
    ASSERT_EQ(d.payload.size(), static_cast<size_t>(kDemuxBufferCapacity));
    EXPECT_TRUE(std::equal(d.payload.begin(), d.payload.end(), expected.begin()));
    // A smaller buffer is never written past.
    EXPECT_EQ(Demux(pack, 70000).payload.size(), 70000u);
}

TEST(PesPacketTest, OneByteRunsAndStartCodesAtTheEnd) {
    for (uint8_t fill : {0x00, 0x01, 0xFF}) {
        Bytes pack = Cat(PackHeader(), Bytes(300, fill));
        EXPECT_EQ(Demux(pack).result, 0);
        EXPECT_TRUE(Demux(pack).payload.empty());
    }
    for (const Bytes& tail : {Bytes{0, 0, 1}, Bytes{0, 0, 1, 0xE0}, Bytes{0, 0, 1, 0xE0, 0}}) {
        const Demuxed d = Demux(Cat(Cat(PackHeader(), Pes(0xE0, Payload(20, 1))), tail));
        EXPECT_EQ(d.result, 0);
        EXPECT_EQ(d.payload, Payload(20, 1));
    }
}

class DemuxDecodeTest : public ::testing::Test {
protected:
    void SetUp() override { QVDecoderInitialize(); }
};

int Push(QVDecoder& d, const Bytes& frame, int repack = 0) {
    Bytes copy(frame);
    return d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), repack);
}

Bytes Picture(QVDecoder& d) {
    const uint8_t* p = d.QVGetVideoFrame();
    return Bytes(p, p + d.QVGetVideoFrameSize());
}

TEST_F(DemuxDecodeTest, CameraPacks_GiveTheElementaryStreamsPictures) {
    qvtest::VideoOptions o;
    o.frames = 6;
    o.gop = 3;
    o.width = 1280;
    o.height = 720;
    o.x264_params = "qp=1";  // key frames larger than one PES packet holds
    const auto video = qvtest::EncodeVideo("libx264", o);
    const auto reference = qvtest::DecodeReference(video.codec_id, video.packets);
    ASSERT_EQ(reference.size(), video.packets.size());
    ASSERT_GT(video.packets[0].data.size(), 65535u);

    QVDecoder d;
    ASSERT_EQ(d.QVDecoderSetDemux(1), 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{1280, 720, PIX_FMT_YUV420P}), 0);
    for (size_t i = 0; i < video.packets.size(); ++i) {
        const Bytes audio = Payload(160, static_cast<int>(i));  // one 20 ms G.711 frame
        const Bytes pack = qvtest::MakeCameraPack(video.packets[i].data, video.packets[i].key,
                                                  static_cast<int64_t>(i) * 3600, audio);
        ASSERT_EQ(Push(d, pack), 0) << i;
        EXPECT_EQ(Parts(d).stream.demux_stage().demux_buffer()->length, static_cast<int>(video.packets[i].data.size()));
        EXPECT_EQ(Picture(d), reference[i].bytes) << i;
    }
}

// Demultiplexes every pack of a libavformat program stream (video beside MP2 audio, the
// frames cut at arbitrary points by the 2048-byte packs): the video payloads, put back
// together, are the elementary stream byte for byte.
void ExpectMuxedStreamDemuxes(const char* encoder) {
    qvtest::VideoOptions o;
    o.frames = 10;
    o.gop = 5;
    const auto video = qvtest::EncodeVideo(encoder, o);
    const auto packs = qvtest::CutAtPacks(qvtest::MuxProgramStream(video, "vob", true));
    ASSERT_GT(packs.size(), video.packets.size());
    Bytes joined;
    for (const Bytes& pack : packs) {
        const Demuxed d = Demux(pack);
        ASSERT_EQ(d.result, 0);
        joined.insert(joined.end(), d.payload.begin(), d.payload.end());
    }
    EXPECT_EQ(joined, qvtest::Concatenate(video.packets));
}

TEST_F(DemuxDecodeTest, MuxedProgramStream_H264WithAudio) { ExpectMuxedStreamDemuxes("libx264"); }

TEST_F(DemuxDecodeTest, MuxedProgramStream_Mpeg2WithAudio) { ExpectMuxedStreamDemuxes("mpeg2video"); }

TEST_F(DemuxDecodeTest, MuxedProgramStream_HevcWithAudio) { ExpectMuxedStreamDemuxes("libx265"); }

TEST_F(DemuxDecodeTest, Mpeg1Packs_AreRefused) {
    qvtest::VideoOptions o;
    o.frames = 2;
    const auto video = qvtest::EncodeVideo("mpeg2video", o);
    const auto packs = qvtest::CutAtPacks(qvtest::MuxProgramStream(video, "mpeg", false));
    QVDecoder d;
    ASSERT_EQ(d.QVDecoderSetDemux(1), 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_MPEG2VIDEO, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    ASSERT_FALSE(packs.empty());
    for (const Bytes& pack : packs) EXPECT_EQ(Push(d, pack), -1);
}

TEST_F(DemuxDecodeTest, BadPacks_AreRefusedWithoutDecoding) {
    qvtest::VideoOptions o;
    o.frames = 2;
    const auto video = qvtest::EncodeVideo("libx264", o);
    QVDecoder d;
    ASSERT_EQ(d.QVDecoderSetDemux(1), 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    const Bytes pack = qvtest::MakeCameraPack(video.packets[0].data, true, 0, Payload(160, 1));
    EXPECT_EQ(Push(d, Bytes(pack.begin(), pack.begin() + 3)), -1);
    EXPECT_EQ(Push(d, video.packets[0].data), -1) << "an elementary frame is no pack";
    Bytes mpeg1 = pack;
    mpeg1[4] = 0x21;
    EXPECT_EQ(Push(d, mpeg1), -1);
    // Truncated packs at every length never read past the input.
    for (size_t n = 1; n < 400; n += 7) Push(d, Bytes(pack.begin(), pack.begin() + static_cast<long>(n)));
    EXPECT_EQ(Push(d, pack), 0);
    EXPECT_EQ(Picture(d), qvtest::DecodeReference(video.codec_id, video.packets)[0].bytes);
}

}  // namespace
