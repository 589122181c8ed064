// H.264 start-code scanning and repacking.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "QVDecoder.h"
#include "bitstream/h264_nal.h"
#include "decoder_parts.h"

using qvtest::Parts;
#include "media_factory.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A unit behind a start code of 3 or 4 bytes: header byte of the given type, then a body
// free of zero runs.
Bytes Unit(int type, int body = 6, bool long_code = false) {
    Bytes b;
    if (long_code) b.push_back(0);
    b.insert(b.end(), {0, 0, 1, static_cast<uint8_t>(0x60 | type)});
    for (int i = 0; i < body; ++i) b.push_back(static_cast<uint8_t>(0x11 * (type + 1) + i));
    return b;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct Repacked {
    bool ok;
    Bytes out;
};

Repacked Repack(const Bytes& in) {
    // Exact-size copies so that any read or write past the spans is seen by ASan.
    Bytes input(in);
    Bytes out(2 * in.size());
    int length = -1;
    const bool ok = qv::RepackH264NalUnits(input.data(), static_cast<int>(input.size()), out.data(),
                                           static_cast<int>(out.size()), length);
    out.resize(static_cast<size_t>(length));
    return {ok, out};
}

// Header bytes of the units in repacked output, in order.
std::vector<int> HeaderTypes(const Bytes& out) {
    std::vector<int> types;
    for (size_t i = 0; i + 3 < out.size(); ++i) {
        if (out[i] == 0 && out[i + 1] == 0 && out[i + 2] == 1) types.push_back(out[i + 3] & 0x1F);
    }
    return types;
}

// The scans as plain byte loops, to check the fast search against.
const uint8_t* ByteLoopStart(const uint8_t* d, int n) {
    for (int i = 0; i < n - 4;) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            const int t = d[i + 3] & 0x1F;
            if (t >= 1 && t <= 13) return d + i;
            i += 4;
        } else {
            ++i;
        }
    }
    return nullptr;
}
const uint8_t* ByteLoopEnd(const uint8_t* d, int n) {
    for (int i = 0; i < n - 4; ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] <= 1) return d + i;
    }
    return nullptr;
}

TEST(H264ScanTest, FindStart_SkipsOtherTypesWithTheirHeaderByte) {
    // A type-0 unit whose header byte is the first zero of the next start code hides it.
    Bytes hidden = {0, 0, 1, 0x00, 0, 1, 0x65, 0xAA, 0xBB, 0xCC};
    EXPECT_EQ(qv::FindH264Start(hidden.data(), static_cast<int>(hidden.size())), nullptr);

    Bytes in = Join({Unit(14, 3), Unit(20, 3), Unit(0, 3), Unit(1, 3)});
    const uint8_t* s = qv::FindH264Start(in.data(), static_cast<int>(in.size()));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s - in.data(), 21);
}

TEST(H264ScanTest, FindStart_NeedsOneByteAfterTheHeader) {
    Bytes in = {0x55, 0, 0, 1, 0x65};
    EXPECT_EQ(qv::FindH264Start(in.data(), 5), nullptr);
    in.push_back(0x88);
    EXPECT_EQ(qv::FindH264Start(in.data(), 6), in.data() + 1);
    EXPECT_EQ(qv::FindH264Start(nullptr, 100), nullptr);
    EXPECT_EQ(qv::FindH264Start(in.data(), 0), nullptr);
    EXPECT_EQ(qv::FindH264Start(in.data(), -7), nullptr);
}

TEST(H264ScanTest, FindEnd_StopsAtStartCodeOrZeroRunButNotInTheLastFourBytes) {
    Bytes three = {9, 9, 0, 0, 1, 9, 9, 9};
    EXPECT_EQ(qv::FindH264End(three.data(), 8), three.data() + 2);
    Bytes run = {9, 0, 0, 0, 9, 9, 9, 9};
    EXPECT_EQ(qv::FindH264End(run.data(), 8), run.data() + 1);
    Bytes two = {9, 0, 0, 2, 0, 0, 3, 9, 9};
    EXPECT_EQ(qv::FindH264End(two.data(), 9), nullptr);
    Bytes tail = {9, 9, 9, 9, 0, 0, 1, 9};  // offset 4 is within the last four bytes
    EXPECT_EQ(qv::FindH264End(tail.data(), 8), nullptr);
    EXPECT_EQ(qv::FindH264End(tail.data(), 4), nullptr);
}

TEST(H264ScanTest, FastSearch_AgreesWithByteLoopOnRandomInput) {
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        const int n = static_cast<int>(rng() % 64);
        Bytes d(static_cast<size_t>(n));
        // Mostly zeros and ones, so that start codes and runs are frequent.
        for (auto& b : d) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 256 : rng() % 2);
        ASSERT_EQ(qv::FindH264Start(d.data(), n), ByteLoopStart(d.data(), n)) << round;
        ASSERT_EQ(qv::FindH264End(d.data(), n), ByteLoopEnd(d.data(), n)) << round;
    }
}

TEST(H264ScanTest, FindNalUnit_GivesOffsetAndSize) {
    Bytes in = Join({{7, 7}, Unit(7, 5), Unit(8, 2, true)});
    int offset = -1, size = -1;
    ASSERT_TRUE(qv::FindH264NalUnit(in.data(), static_cast<int>(in.size()), offset, size));
    EXPECT_EQ(offset, 2);
    EXPECT_EQ(size, 9);  // up to the zero in front of the next start code
    Bytes last = Unit(5, 3);
    ASSERT_TRUE(qv::FindH264NalUnit(last.data(), static_cast<int>(last.size()), offset, size));
    EXPECT_EQ(offset, 0);
    EXPECT_EQ(size, 7);  // runs to the end
    EXPECT_FALSE(qv::FindH264NalUnit(in.data(), 3, offset, size));
}

TEST(H264RepackTest, KeyFrame_UnitsFollowEachOtherWithOneZeroByte) {
    const Bytes sps = Unit(7, 5, true), pps = Unit(8, 3, true), idr = Unit(5, 9, true);
    const Bytes in = Join({sps, pps, idr});
    const Repacked r = Repack(in);
    ASSERT_TRUE(r.ok);
    // The first unit loses its leading zero, every unit gains a trailing one.
    const Bytes expected = Join({Bytes(sps.begin() + 1, sps.end()), pps, idr, {0}});
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.out.size(), in.size());
}

TEST(H264RepackTest, IdrSlice_NeedsParameterSetsRightInFront) {
    EXPECT_FALSE(Repack(Unit(5)).ok);
    EXPECT_FALSE(Repack(Join({Unit(8), Unit(5)})).ok);                      // no SPS
    EXPECT_FALSE(Repack(Join({Unit(7), Unit(5)})).ok);                      // no PPS
    EXPECT_FALSE(Repack(Join({Unit(7), Unit(8), Unit(1), Unit(5)})).ok);   // slice in between
    EXPECT_TRUE(Repack(Join({Unit(7), Unit(8), Unit(6), Unit(5)})).ok);    // SEI does not count
    EXPECT_TRUE(Repack(Join({Unit(7), Unit(8), Unit(5), Unit(5)})).ok);    // second IDR slice

    // A refusal keeps the units copied before it.
    const Repacked r = Repack(Join({Unit(7), Unit(1), Unit(5)}));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(HeaderTypes(r.out), (std::vector<int>{7 | 0x10, 1}));
}

TEST(H264RepackTest, SliceAfterParameterSets_HidesTheLastSeiOrSps) {
    Repacked r = Repack(Join({Unit(7), Unit(8), Unit(1)}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(HeaderTypes(r.out), (std::vector<int>{23, 8, 1}));
    EXPECT_EQ(r.out[3], 0x60 | 7 | 0x10);  // only the type bit changes

    r = Repack(Join({Unit(7), Unit(6), Unit(8), Unit(1)}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(HeaderTypes(r.out), (std::vector<int>{7, 22, 8, 1}));

    // In front of an IDR slice the parameter sets stay as they are.
    r = Repack(Join({Unit(7), Unit(8), Unit(5), Unit(1)}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(HeaderTypes(r.out), (std::vector<int>{7, 8, 5, 1}));
}

TEST(H264RepackTest, OtherUnitsAndZeroRuns_AreLeftOut) {
    const Bytes first = Unit(1, 4), second = Unit(1, 5);
    for (int type : {0, 14, 20}) {
        const Repacked r = Repack(Join({first, Unit(type, 4), second}));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.out, Join({first, {0}, second, {0}})) << type;
    }
    const Repacked r = Repack(Join({{0, 0, 0, 0}, first, {0, 0, 0, 0, 0}, second, {0, 0}}));
    ASSERT_TRUE(r.ok);
    // Zeros within the last four bytes of the input belong to the last unit.
    EXPECT_EQ(r.out, Join({first, {0}, second, {0, 0, 0}}));
}

TEST(H264RepackTest, ShortOrUnitlessInput_GivesNothing) {
    for (const Bytes& in : {Bytes{}, Bytes{0}, Bytes{0, 0, 1, 0x65}, Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}) {
        const Repacked r = Repack(in);
        EXPECT_TRUE(r.ok);
        EXPECT_TRUE(r.out.empty());
    }
    // A start code at the very end of the input neither ends the unit before it nor
    // starts one of its own.
    const Bytes in = Join({Unit(1, 4), {0, 0, 1, 0x61}});
    const Repacked r = Repack(in);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, Join({in, {0}}));
}

TEST(H264RepackTest, RandomInput_OnlyAnIdrSliceIsRefused) {
    // Twice the input always holds the output, so nothing but the IDR rule can refuse.
    std::mt19937 rng(11);
    for (int round = 0; round < 3000; ++round) {
        Bytes in(rng() % 200);
        for (auto& b : in) b = static_cast<uint8_t>(rng() % 3 == 0 ? rng() % 256 : rng() % 2);
        const Repacked r = Repack(in);
        if (r.ok) continue;
        bool has_idr = false;
        for (size_t i = 0; i + 3 < in.size(); ++i) {
            has_idr |= in[i] == 0 && in[i + 1] == 0 && in[i + 2] == 1 && (in[i + 3] & 0x1F) == 5;
        }
        ASSERT_TRUE(has_idr) << round;
    }
}

// Units of an Annex B packet, each with its start code.
std::vector<Bytes> SplitUnits(const Bytes& packet) {
    std::vector<Bytes> units;
    int offset = 0, size = 0, p = 0;
    const int n = static_cast<int>(packet.size());
    while (qv::FindH264NalUnit(packet.data() + p, n - p, offset, size)) {
        units.emplace_back(packet.begin() + p + offset, packet.begin() + p + offset + size);
        p += offset + size;
    }
    return units;
}

int Push(QVDecoder& d, const Bytes& frame, int repack) {
    Bytes copy(frame);
    return d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), repack);
}

Bytes Picture(QVDecoder& d) {
    const uint8_t* p = d.QVGetVideoFrame();
    return Bytes(p, p + d.QVGetVideoFrameSize());
}

class RepackDecodeTest : public ::testing::Test {
protected:
    void SetUp() override { QVDecoderInitialize(); }
};

TEST_F(RepackDecodeTest, X264Frames_DecodeLikeTheElementaryStream) {
    qvtest::VideoOptions o;
    o.frames = 12;
    o.gop = 5;
    const auto video = qvtest::EncodeVideo("libx264", o);
    const auto reference = qvtest::DecodeReference(video.codec_id, video.packets);
    ASSERT_EQ(reference.size(), video.packets.size());
    // The first key frame brings SPS, PPS, SEI and the IDR slice.
    std::vector<int> first_types;
    for (const Bytes& u : SplitUnits(video.packets[0].data)) first_types.push_back(u[u[2] == 1 ? 3 : 4] & 0x1F);
    ASSERT_EQ(first_types, (std::vector<int>{7, 8, 6, 5}));

    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    for (size_t i = 0; i < video.packets.size(); ++i) {
        ASSERT_EQ(Push(d, video.packets[i].data, 1), 0) << i;
        EXPECT_EQ(Picture(d), reference[i].bytes) << i;
    }
}

TEST_F(RepackDecodeTest, RepeatedParameterSetsAndForeignUnits_DoNotChangeThePictures) {
    qvtest::VideoOptions o;
    o.frames = 6;
    o.gop = 6;
    const auto video = qvtest::EncodeVideo("libx264", o);
    const auto reference = qvtest::DecodeReference(video.codec_id, video.packets);
    const std::vector<Bytes> key_units = SplitUnits(video.packets[0].data);
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    ASSERT_EQ(Push(d, video.packets[0].data, 1), 0);
    for (size_t i = 1; i < video.packets.size(); ++i) {
        // SPS and PPS repeated in front of a P slice, a reserved unit and zero runs around it.
        Bytes frame = {0, 0, 0};
        frame.insert(frame.end(), key_units[0].begin(), key_units[0].end());
        frame.insert(frame.end(), key_units[1].begin(), key_units[1].end());
        frame.insert(frame.end(), {0, 0, 0, 1, 0x74, 0x55, 0x66, 0x77, 0, 0});
        frame.insert(frame.end(), video.packets[i].data.begin(), video.packets[i].data.end());
        ASSERT_EQ(Push(d, frame, 1), 0) << i;
        EXPECT_EQ(Picture(d), reference[i].bytes) << i;
        EXPECT_EQ(Parts(d).stream.repack().nal_buffer()[3], key_units[0][key_units[0][2] == 1 ? 3 : 4] | 0x10)
            << "the repeated SPS is hidden";
    }
}

TEST_F(RepackDecodeTest, RefusedOrUnrepackedInput) {
    const auto video = qvtest::EncodeVideo("libx264", [] {
        qvtest::VideoOptions o;
        o.frames = 2;
        return o;
    }());
    const std::vector<Bytes> units = SplitUnits(video.packets[0].data);
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    EXPECT_EQ(Push(d, units.back(), 1), -1) << "an IDR slice without its parameter sets";
    EXPECT_EQ(Push(d, video.packets[0].data, 0), 0) << "repack 0 passes the input on";

    // Another codec is never repacked: an MPEG-4 frame whose bytes would be refused as
    // H.264 decodes unchanged.
    qvtest::VideoOptions o;
    o.frames = 1;
    const auto mpeg4 = qvtest::EncodeVideo("mpeg4", o);
    QVDecoder m;
    ASSERT_EQ(m.QVOpenDecoder(CODEC_ID_MPEG4, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    EXPECT_EQ(Push(m, mpeg4.packets[0].data, 1), 0);
    EXPECT_EQ(Parts(m).stream.repack().nal_buffer(), nullptr);
    EXPECT_EQ(Picture(m), qvtest::DecodeReference(mpeg4.codec_id, mpeg4.packets)[0].bytes);

    // Inputs of 0 to 4 bytes and a lone start code at the end.
    for (const Bytes& tiny : {Bytes{0}, Bytes{0, 0}, Bytes{0, 0, 1}, Bytes{0, 0, 1, 0x65}, Bytes{9, 0, 0, 1}}) {
        EXPECT_EQ(Push(d, tiny, 1), -1);
    }
}

}  // namespace
