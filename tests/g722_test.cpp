// The library's own G.722 decoder: parameters, known outputs, continuity, limits, and
// agreement with libavcodec's G.722 decoder on real speech.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "audio_factory.h"
#include "core/ffmpeg.h"
#include "g722/g722_decoder.h"
#include "g722/g722_qmf.h"

namespace {

std::vector<int16_t> DecodeAll(G722Decoder& decoder, const std::vector<uint8_t>& in) {
    std::vector<int16_t> out(in.size() * 2 + 1);
    int bytes = -1;
    const int result = decoder.Decode(out.data(), &bytes, in.data(), static_cast<int>(in.size()));
    EXPECT_EQ(result, static_cast<int>(in.size()));
    out.resize(static_cast<size_t>(bytes) / 2);
    return out;
}

std::vector<int16_t> Decode(int rate, int bit_rate, const std::vector<uint8_t>& in) {
    G722Decoder decoder;
    EXPECT_EQ(decoder.Initialize(rate, bit_rate, 1), 0);
    return DecodeAll(decoder, in);
}

bool SameBand(const G722Band& x, const G722Band& y) {
    return x.s == y.s && x.sz == y.sz && x.sg1 == y.sg1 && x.sg2 == y.sg2 && x.r1 == y.r1 &&
           x.a1 == y.a1 && x.a2 == y.a2 && std::memcmp(x.d, y.d, sizeof(x.d)) == 0 &&
           std::memcmp(x.b, y.b, sizeof(x.b)) == 0 && x.nb == y.nb && x.det == y.det;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(gen());
    return v;
}

TEST(G722DecoderTest, Initialize_AcceptsOnlySupportedParameters) {
    G722Decoder d;
    EXPECT_EQ(d.Initialize(16000, 64000, 2), -1);
    EXPECT_EQ(d.Initialize(16000, 32000, 1), -1);
    EXPECT_EQ(d.Initialize(44100, 64000, 1), -1);
    EXPECT_EQ(d.Initialize(16000, 64000, 0), -1);
    EXPECT_EQ(d.Initialize(8000, 48000, 1), 0);
    EXPECT_EQ(d.bits_per_code_word(), 6);
    EXPECT_EQ(d.Initialize(16000, 56000, 1), 0);
    EXPECT_EQ(d.bits_per_code_word(), 7);
    EXPECT_EQ(d.lower_band().det, 32);
    EXPECT_EQ(d.higher_band().det, 8);
}

TEST(G722DecoderTest, Decode_KnownOutputsFromInitialState) {
    const std::vector<uint8_t> x20(8, 0x20);
    EXPECT_EQ(Decode(8000, 64000, x20),
              (std::vector<int16_t>{24, 66, 185, 521, 1431, 3917, 10706, 13987}));
    EXPECT_EQ(Decode(16000, 64000, x20),
              (std::vector<int16_t>{0, -1, -1, 0, 0, -1, 0, 0, -1, -3, 4, 12, 36, 43, 80, 162}));
    EXPECT_EQ(Decode(8000, 48000, std::vector<uint8_t>(6, 0x08)),
              (std::vector<int16_t>{19, 54, 153, 432, 1188, 3256}));
}

TEST(G722DecoderTest, Decode_CountsBytesByRate) {
    const auto in = RandomBytes(1001, 1);
    for (int rate : {8000, 16000}) {
        G722Decoder d;
        ASSERT_EQ(d.Initialize(rate, 64000, 1), 0);
        std::vector<int16_t> out(2 * in.size());
        int bytes = 0;
        EXPECT_EQ(d.Decode(out.data(), &bytes, in.data(), 1001), 1001);
        EXPECT_EQ(bytes, rate == 16000 ? 4004 : 2002);
        bytes = 77;
        EXPECT_EQ(d.Decode(out.data(), &bytes, in.data(), 0), 0);
        EXPECT_EQ(bytes, 0);
        bytes = 77;
        EXPECT_EQ(d.Decode(out.data(), &bytes, in.data(), -5), -5);
        EXPECT_EQ(bytes, 0);
    }
}

TEST(G722DecoderTest, Decode_IgnoresBitsOutsideTheCodeWord) {
    const auto in = RandomBytes(3000, 2);
    struct Case { int rate, bit_rate; uint8_t ignored; };
    for (Case c : {Case{16000, 48000, 0xC0}, Case{16000, 56000, 0x80}, Case{8000, 64000, 0xC0},
                   Case{8000, 56000, 0xE0}}) {
        // At 8000 Hz the higher sub-band bits are not decoded at all.
        std::vector<uint8_t> flipped = in;
        for (auto& b : flipped) b ^= c.ignored;
        G722Decoder a, b;
        ASSERT_EQ(a.Initialize(c.rate, c.bit_rate, 1), 0);
        ASSERT_EQ(b.Initialize(c.rate, c.bit_rate, 1), 0);
        EXPECT_EQ(DecodeAll(a, in), DecodeAll(b, flipped)) << c.rate << " " << c.bit_rate;
        EXPECT_TRUE(SameBand(a.lower_band(), b.lower_band()));
        EXPECT_TRUE(SameBand(a.higher_band(), b.higher_band()));
    }
    // A bit that is part of the code word does change the output.
    auto changed = in;
    changed[10] ^= 0x40;
    EXPECT_NE(Decode(16000, 64000, in), Decode(16000, 64000, changed));
}

TEST(G722DecoderTest, Decode_SplitAtAnyByteGivesSameSamples) {
    for (int rate : {8000, 16000}) {
        const auto in = RandomBytes(300, 3);
        const auto whole = Decode(rate, 64000, in);
        for (size_t cut = 0; cut <= in.size(); ++cut) {
            G722Decoder d;
            ASSERT_EQ(d.Initialize(rate, 64000, 1), 0);
            auto first = DecodeAll(d, std::vector<uint8_t>(in.begin(), in.begin() + cut));
            auto second = DecodeAll(d, std::vector<uint8_t>(in.begin() + cut, in.end()));
            first.insert(first.end(), second.begin(), second.end());
            ASSERT_EQ(first, whole) << "cut at " << cut;
        }
    }
    // Long streams cut into uneven pieces, crossing the decoder's internal history blocks.
    const auto in = RandomBytes(20000, 4);
    const auto whole = Decode(16000, 56000, in);
    std::mt19937 gen(5);
    G722Decoder d;
    ASSERT_EQ(d.Initialize(16000, 56000, 1), 0);
    std::vector<int16_t> pieces;
    for (size_t pos = 0; pos < in.size();) {
        const size_t n = std::min<size_t>(in.size() - pos, gen() % 1500);
        auto part = DecodeAll(d, std::vector<uint8_t>(in.begin() + pos, in.begin() + pos + n));
        pieces.insert(pieces.end(), part.begin(), part.end());
        pos += n;
    }
    EXPECT_EQ(pieces, whole);
}

TEST(G722DecoderTest, Decode_ExtremeRunsStayWithinLimits) {
    std::vector<uint8_t> alternating(200000);
    for (size_t i = 0; i < alternating.size(); ++i) alternating[i] = (i & 1) ? 0x04 : 0x20;
    const auto wide = Decode(16000, 64000, alternating);
    EXPECT_EQ(*std::min_element(wide.begin(), wide.end()), -32768);
    EXPECT_EQ(*std::max_element(wide.begin(), wide.end()), 32767);
    const auto narrow = Decode(8000, 64000, alternating);
    EXPECT_EQ(*std::min_element(narrow.begin(), narrow.end()), -16384);
    EXPECT_EQ(*std::max_element(narrow.begin(), narrow.end()), 16383);

    // Every code word held for a long run: the log scale factors stay in range.
    for (int code = 0; code < 256; ++code) {
        for (int rate : {8000, 16000}) {
            G722Decoder d;
            ASSERT_EQ(d.Initialize(rate, 64000, 1), 0);
            const auto out = DecodeAll(d, std::vector<uint8_t>(4000, static_cast<uint8_t>(code)));
            const G722Band& low = d.lower_band();
            const G722Band& high = d.higher_band();
            ASSERT_TRUE(low.nb >= 0 && low.nb <= 18432) << code;
            ASSERT_TRUE(high.nb >= 0 && high.nb <= 22528) << code;
            if (rate == 8000) {
                for (int16_t s : out) ASSERT_TRUE(s >= -16384 && s <= 16383) << code;
            }
        }
    }
}

TEST(G722DecoderTest, Qmf_VectorAndScalarAgree) {
    std::mt19937 gen(6);
    for (int i = 0; i < 10000; ++i) {
        int16_t window[24];
        for (auto& w : window) w = static_cast<int16_t>(gen());
        int d1, s1, d2, s2;
        g722::ApplyQmf(window, &d1, &s1);
        g722::ApplyQmfScalar(window, &d2, &s2);
        ASSERT_EQ(d1, d2);
        ASSERT_EQ(s1, s2);
    }
}

// libavcodec's G.722 decoder scales its output by two; where it did not saturate, ours is
// exactly its half.
TEST(G722DecoderTest, Decode_MatchesLibavcodecOnAsteriskPrompts) {
    const auto files = qvtest::AsteriskG722Files();
    if (files.empty()) {
        GTEST_SKIP() << "the Debian package asterisk-core-sounds-en-g722 is not installed "
                        "(scripts/install-deps.sh installs it)";
    }
    size_t compared = 0;
    for (const auto& file : files) {
        const auto bytes = qvtest::ReadFile(file);
        if (bytes.empty()) continue;
        bool ok = false;
        const auto reference = qvtest::DecodeToS16(AV_CODEC_ID_ADPCM_G722, 16000, 1, 64000, {bytes}, &ok);
        ASSERT_TRUE(ok) << file;
        const auto ours = Decode(16000, 64000, bytes);
        ASSERT_EQ(ours.size(), reference.size()) << file;
        for (size_t i = 0; i < ours.size(); ++i) {
            if (reference[i] == 32767 || reference[i] == -32768) continue;
            ASSERT_EQ(ours[i], reference[i] >> 1) << file << " sample " << i;
            ++compared;
        }
    }
    EXPECT_GT(compared, 1000000u);
}

}  // namespace
