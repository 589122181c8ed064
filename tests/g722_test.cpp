// The library's own G.722 decoder: parameters, known outputs, continuity, limits, and
// agreement with libavcodec's G.722 decoder on real speech.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "audio_factory.h"
#include "base/ffmpeg.h"
#include "g722/g722_decoder.h"
#include "g722/g722_qmf.h"
#include "g722/g722_tables.h"

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

// A plain word-by-word decoder written straight from the algorithm, with the delay line
// moved every word: the yardstick for the optimised decoder on long streams.
class ReferenceDecoder {
public:
    ReferenceDecoder(int rate, int bit_rate) : wide_(rate == 16000), bits_(bit_rate / 8000) {
        low_.det = 32;
        high_.det = 8;
    }

    std::vector<int16_t> Decode(const std::vector<uint8_t>& in) {
        std::vector<int16_t> out;
        const int16_t* table = bits_ == 8 ? g722::kQm6 : (bits_ == 7 ? g722::kQm5 : g722::kQm4);
        for (uint8_t c : in) {
            const int il = c & ((1 << (bits_ - 2)) - 1);
            const int rl = Limit(low_.s + ((low_.det * table[il]) >> 15), -16384, 16383);
            const int q = il >> (bits_ - 6);
            Update(low_, (low_.det * g722::kQm4[q]) >> 15);
            low_.nb = Limit(((low_.nb * 127) >> 7) + g722::kWl[q], 0, 18432);
            low_.det = Scale(low_.nb, 8);
            if (!wide_) {
                out.push_back(static_cast<int16_t>(rl));
                continue;
            }
            const int ih = (c >> (bits_ - 2)) & 3;
            const int dh = (high_.det * g722::kQm2[ih]) >> 15;
            const int rh = Limit(high_.s + dh, -16384, 16383);
            Update(high_, dh);
            high_.nb = Limit(((high_.nb * 127) >> 7) + (ih % 2 == 0 ? 798 : -214), 0, 22528);
            high_.det = Scale(high_.nb, 10);

            line_[22] = rl + rh;
            line_[23] = rl - rh;
            int odd = 0, even = 0;
            for (int k = 0; k < 24; ++k) (k % 2 ? odd : even) += line_[k] * g722::kQmf[k];
            out.push_back(static_cast<int16_t>(Limit(odd >> 12, -32768, 32767)));
            out.push_back(static_cast<int16_t>(Limit(even >> 12, -32768, 32767)));
            for (int k = 0; k < 22; ++k) line_[k] = line_[k + 2];
        }
        return out;
    }

    // The band states in the decoder's own record, for comparison.
    G722Band Low() const { return Export(low_); }
    G722Band High() const { return Export(high_); }

private:
    struct Band {
        int s = 0, sz = 0, sg1 = 0, sg2 = 0, r1 = 0, a1 = 0, a2 = 0, nb = 0, det = 0;
        int d[6] = {}, b[6] = {};
    };

    static int Limit(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }

    static int Scale(int nb, int bias) {
        const int mantissa = g722::kIlb[(nb >> 6) & 31];
        const int shift = bias - (nb >> 11);
        return 4 * (shift >= 0 ? mantissa >> shift : mantissa << -shift);
    }

    static void Update(Band& band, int dq) {
        const int neg = dq + band.sz < 0 ? 1 : 0;
        const int e1 = neg != band.sg1 ? 1 : -1;
        const int e2 = neg == band.sg2 ? 1 : -1;
        band.sg2 = band.sg1;
        band.sg1 = neg;
        const int a1c = Limit(band.a1, -8191, 8191);
        band.a2 = Limit(((band.a2 * 127) >> 7) + ((a1c * e1) >> 5) + 128 * e2, -12288, 12288);
        band.a1 = Limit(((band.a1 * 255) >> 8) - 192 * e1, band.a2 - 15360, 15360 - band.a2);
        for (int k = 0; k < 6; ++k) {
            const int leaked = (band.b[k] * 255) >> 8;
            if (dq == 0) {
                band.b[k] = leaked;
            } else {
                band.b[k] = leaked + (((dq >= 0) == (band.d[k] >= 0)) ? 128 : -128);
            }
            band.b[k] = static_cast<int16_t>(band.b[k]);
        }
        for (int k = 5; k > 0; --k) band.d[k] = band.d[k - 1];
        band.d[0] = Limit(2 * dq, -32768, 32767);
        band.sz = 0;
        for (int k = 0; k < 6; ++k) band.sz += (band.b[k] * band.d[k]) >> 15;
        const int r = Limit(2 * (band.s + dq), -32768, 32767);
        band.s = Limit(((band.a1 * r) >> 15) + ((band.a2 * band.r1) >> 15) + band.sz, -32768, 32767);
        band.r1 = r;
    }

    static G722Band Export(const Band& x) {
        G722Band y{};
        y.s = static_cast<int16_t>(x.s);
        y.sz = x.sz;
        y.sg1 = static_cast<int8_t>(x.sg1);
        y.sg2 = static_cast<int8_t>(x.sg2);
        y.r1 = static_cast<int16_t>(x.r1);
        y.a1 = static_cast<int16_t>(x.a1);
        y.a2 = static_cast<int16_t>(x.a2);
        for (int k = 0; k < 6; ++k) {
            y.d[k] = x.d[k];
            y.b[k] = static_cast<int16_t>(x.b[k]);
        }
        y.nb = static_cast<int16_t>(x.nb);
        y.det = static_cast<int16_t>(x.det);
        return y;
    }

    bool wide_;
    int bits_;
    Band low_, high_;
    int line_[24] = {};
};

// Long mixed streams: noise, held code words, two-word alternations and the extreme pair
// that drives the output into saturation, in segments of random length.
std::vector<uint8_t> MixedStream(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v;
    while (v.size() < n) {
        const size_t len = std::min<size_t>(n - v.size(), 1 + gen() % 4000);
        const uint8_t x = static_cast<uint8_t>(gen()), y = static_cast<uint8_t>(gen());
        const int kind = static_cast<int>(gen() % 5);
        for (size_t i = 0; i < len; ++i) {
            switch (kind) {
                case 0: v.push_back(static_cast<uint8_t>(gen())); break;
                case 1: v.push_back(x); break;
                case 2: v.push_back(i & 1 ? x : y); break;
                case 3: v.push_back(i & 1 ? 0x04 : 0x20); break;
                default: v.push_back(static_cast<uint8_t>((gen() & 0xC3) | (gen() & 1 ? 0x3C : 0))); break;
            }
        }
    }
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

TEST(G722DecoderTest, Decode_LongStreamsMatchReferenceAtEveryRate) {
    const auto in = MixedStream(400000, 7);
    for (int rate : {8000, 16000}) {
        for (int bit_rate : {48000, 56000, 64000}) {
            ReferenceDecoder reference(rate, bit_rate);
            const auto expected = reference.Decode(in);
            if (rate == 16000) {
                // libavcodec's G.722 decoder, tables of its own, reads the code word from the
                // byte's top bits and scales its output by two: where it did not saturate,
                // ours is exactly its half.
                std::vector<uint8_t> shifted(in.size());
                const int shift = 8 - bit_rate / 8000;
                for (size_t i = 0; i < in.size(); ++i) shifted[i] = static_cast<uint8_t>(in[i] << shift);
                bool ok = false;
                const auto libavcodec = qvtest::DecodeToS16(AV_CODEC_ID_ADPCM_G722, 16000, 1, bit_rate, {shifted}, &ok);
                ASSERT_TRUE(ok);
                ASSERT_EQ(libavcodec.size(), expected.size());
                size_t compared = 0;
                for (size_t i = 0; i < expected.size(); ++i) {
                    if (libavcodec[i] == 32767 || libavcodec[i] == -32768) continue;
                    ASSERT_EQ(expected[i], libavcodec[i] >> 1) << bit_rate << " sample " << i;
                    ++compared;
                }
                EXPECT_GT(compared, expected.size() / 2) << bit_rate;
            }
            G722Decoder whole;
            ASSERT_EQ(whole.Initialize(rate, bit_rate, 1), 0);
            ASSERT_EQ(DecodeAll(whole, in), expected) << rate << " " << bit_rate;
            EXPECT_TRUE(SameBand(whole.lower_band(), reference.Low())) << rate << " " << bit_rate;
            if (rate == 16000) {
                EXPECT_TRUE(SameBand(whole.higher_band(), reference.High()));
            }

            // The same stream in packets of uneven size.
            std::mt19937 gen(static_cast<unsigned>(rate + bit_rate));
            G722Decoder pieces;
            ASSERT_EQ(pieces.Initialize(rate, bit_rate, 1), 0);
            std::vector<int16_t> joined;
            for (size_t pos = 0; pos < in.size();) {
                const size_t n = std::min<size_t>(in.size() - pos, gen() % 700);
                const auto part = DecodeAll(pieces, std::vector<uint8_t>(in.begin() + pos, in.begin() + pos + n));
                joined.insert(joined.end(), part.begin(), part.end());
                pos += n;
            }
            ASSERT_EQ(joined, expected) << rate << " " << bit_rate;
        }
    }
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

TEST(G722DecoderTest, Qmf_BlockAgreesWithPlainFilter) {
    // Any 16-bit input, including the extremes that saturate the output, and block
    // lengths around the eight-word vector step.
    std::mt19937 gen(6);
    for (int round = 0; round < 2000; ++round) {
        const int n = static_cast<int>(gen() % 40);
        std::vector<int16_t> sums(g722::kQmfHistory + n), differences(g722::kQmfHistory + n);
        for (size_t k = 0; k < sums.size(); ++k) {
            const bool extreme = round % 3 == 0;
            sums[k] = static_cast<int16_t>(extreme ? (gen() & 1 ? 32767 : -32768) * (k % 2 ? 1 : -1) : gen());
            differences[k] = static_cast<int16_t>(extreme ? (gen() & 1 ? 32767 : -32768) : gen());
        }
        std::vector<int16_t> block(2 * n + 1, 7), plain(2 * n + 1, 7);
        g722::ApplyQmfBlock(sums.data(), differences.data(), n, block.data());
        for (int i = 0; i < n; ++i) {
            int odd = 0, even = 0;
            for (int j = 0; j < 12; ++j) {
                even += sums[i + j] * g722::kQmf[2 * j];
                odd += differences[i + j] * g722::kQmf[2 * j + 1];
            }
            plain[2 * i] = static_cast<int16_t>(std::min(std::max(odd >> 12, -32768), 32767));
            plain[2 * i + 1] = static_cast<int16_t>(std::min(std::max(even >> 12, -32768), 32767));
        }
        ASSERT_EQ(block, plain) << "n " << n;  // the last element checks nothing is written past 2n
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
