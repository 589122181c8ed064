// File mode seeking and key-frame scans, checked against a full decode of the same file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "QVDecoder.h"
#include "decoder_parts.h"
#include "file_factory.h"
#include "watchdog.h"

using qvtest::MediaFile;
using qvtest::VideoTrack;

namespace {

struct Shown {
    std::vector<uint8_t> bytes;
    int64_t time = 0;
    int64_t stamp = 0;  // QVGetFrameTimestamp
    bool key = false;
    bool drained = false;
    int type = 0;
};

// The next picture QVDecodeFrame hands out; false at the end of the file. The times of the
// audio pieces on the way go to `audio`.
bool NextPicture(QVDecoder& decoder, Shown* out, std::vector<int64_t>* audio = nullptr) {
    for (int i = 0; i < 100000; ++i) {
        const int result = decoder.QVDecodeFrame();
        if (result == -10003) return false;
        if (result == 1 && audio) audio->push_back(decoder.QVGetFrameTimestamp());
        if (result != 0) continue;
        const unsigned char* data = decoder.QVGetVideoFrame();
        out->bytes.assign(data, data + decoder.QVGetVideoFrameSize());
        out->time = decoder.QVGetPictureTime();
        out->stamp = decoder.QVGetFrameTimestamp();
        out->key = (decoder.QVGetPictureFlags() & QV_PICTURE_KEY) != 0;
        out->drained = (decoder.QVGetPictureFlags() & QV_PICTURE_DRAINED) != 0;
        out->type = decoder.QVGetPictureType();
        return true;
    }
    return false;
}

std::vector<Shown> AllPictures(QVDecoder& decoder) {
    std::vector<Shown> all;
    Shown shown;
    while (NextPicture(decoder, &shown)) all.push_back(shown);
    return all;
}

struct SeekCase {
    const char* name;
    const char* muxer;
    const char* extension;
    AVCodecID codec = AV_CODEC_ID_H264;
    int b_frames = 0;
    int gop = 12;
    int start_frames = 0;
    const char* encoder_params = "";
    int threads = 1;
    AVCodecID audio = AV_CODEC_ID_NONE;
    std::map<std::string, std::string> muxer_options = {};
    int fps = 25;
    double stated_ms = 0.0;  // Matroska: the segment duration written over the muxer's
    AVRational sample_aspect{0, 1};
    int width = 176;
    int height = 144;
};

// Writes `ms` over the segment duration of a Matroska file (element 0x4489, an 8-byte float).
void StateDuration(const std::string& path, double ms) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = bytes.find(std::string("\x44\x89\x88", 3));
    ASSERT_NE(at, std::string::npos);
    uint64_t bits = 0;
    std::memcpy(&bits, &ms, sizeof bits);
    std::vector<uint8_t> big(8);
    for (int i = 0; i < 8; ++i) big[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    ASSERT_TRUE(qvtest::OverwriteBytes(path, static_cast<int64_t>(at) + 3, big));
}

void PrintTo(const SeekCase& c, std::ostream* os) { *os << c.name; }

class SeekTest : public ::testing::TestWithParam<SeekCase> {
protected:
    void SetUp() override { QVDecoderInitialize(); }

    std::string Make(const SeekCase& c, int frames) {
        MediaFile media;
        media.muxer = c.muxer;
        media.frames = frames;
        media.audio = c.audio;
        media.muxer_options = c.muxer_options;
        VideoTrack track;
        track.codec = c.codec;
        track.gop = c.gop;
        track.max_b_frames = c.b_frames;
        track.start_frames = c.start_frames;
        track.encoder_params = c.encoder_params;
        track.fps = c.fps;
        track.sample_aspect = c.sample_aspect;
        track.width = c.width;
        track.height = c.height;
        media.video.push_back(track);
        const std::string path = dir_.Path(std::string("clip.") + c.extension);
        EXPECT_EQ(qvtest::WriteMediaFile(path, media), "");
        if (c.stated_ms > 0) StateDuration(path, c.stated_ms);
        return path;
    }

    qvtest::TempDir dir_;
};

constexpr int kFrames = 90;
constexpr int kSeeks = 20;

// Twenty seeks in each mode, backwards and forwards, from before the first picture to past
// the last, the first while the decoder is drained at the end of the file.
TEST_P(SeekTest, Seek_MatchesFullDecode) {
    const SeekCase& c = GetParam();
    const std::string path = Make(c, kFrames);
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVDecoderSetThreads(c.threads), 0);
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    const std::vector<Shown> full = AllPictures(decoder);
    ASSERT_GT(full.size(), static_cast<size_t>(kFrames * 9 / 10));
    const int64_t first = full.front().time;
    const int64_t last = full.back().time;
    // One clock: the pictures' presentation times as libavcodec's own decoding gives them,
    // the start time the first picture's.
    const std::vector<qvtest::Picture> reference = qvtest::ReferencePictures(path);
    ASSERT_EQ(reference.size(), full.size());
    for (size_t i = 0; i < full.size(); ++i) {
        // The coding type libavcodec gives (AV_PICTURE_TYPE_I/P/B are 1/2/3 as well).
        EXPECT_EQ(full[i].type, reference[i].type <= 3 ? reference[i].type : 0) << "picture " << i;
        // Pictures come out in the order of their times, those without one too (the last
        // pictures of an AVI file once took the times of earlier ones).
        if (i > 0) {
            EXPECT_GE(full[i].time, full[i - 1].time) << "picture " << i;
        }
        if (reference[i].time_us == INT64_MIN) {
            // A drained picture's counted time is its frame timestamp, to the microsecond.
            if (full[i].drained && c.threads == 1 && std::string(c.muxer) == "avi") {
                EXPECT_EQ(full[i].stamp, full[i].time) << "picture " << i;
            }
            continue;
        }
        ASSERT_EQ(full[i].time, reference[i].time_us) << "picture " << i;
    }
    EXPECT_EQ(decoder.QVGetStartTime(), first);
    // Pictures before zero keep their negative times where the container keeps them.
    EXPECT_EQ(first < 0, c.start_frames < 0 && c.muxer_options.count("avoid_negative_ts") > 0) << first;
    // The last picture's sample aspect ratio, as the stream states it.
    int num = 0, den = 0;
    const int stated = decoder.QVGetPictureAspect(num, den);
    if (c.sample_aspect.num > 0) {
        EXPECT_EQ(stated, 1);
    }
    EXPECT_EQ(num * 1000 + den, c.sample_aspect.num > 0 ? c.sample_aspect.num * 1000 + c.sample_aspect.den : 1001);
    // The frame count, where the container states one, is the count of pictures.
    const int64_t count = decoder.QVGetFrameCount();
    EXPECT_TRUE(count == -1 || count == static_cast<int64_t>(full.size())) << count;
    if (std::string(c.muxer) == "mp4") {
        EXPECT_EQ(count, static_cast<int64_t>(full.size()));
    }

    // A seek to a picture's own time gives that very picture, one microsecond later the next.
    for (size_t i = 0; i < full.size(); i += i < 3 ? 1 : 13) {
        for (int64_t late : {0, 1}) {
            SCOPED_TRACE("picture " + std::to_string(i) + " + " + std::to_string(late) + " us");
            ASSERT_EQ(decoder.QVSeek(full[i].time + late, QV_SEEK_ACCURATE), 0);
            Shown shown;
            const size_t expected = i + late;
            ASSERT_EQ(NextPicture(decoder, &shown), expected < full.size());
            if (expected == full.size()) continue;
            EXPECT_EQ(shown.time, full[expected].time);
            EXPECT_TRUE(shown.bytes == full[expected].bytes);
        }
    }
    // A key seek to a key picture's own time gives that very picture, whatever the container
    // (a tick exactly at the time once fell before it).
    const bool refresh = std::string(c.encoder_params).find("intra-refresh") != std::string::npos;
    for (size_t i = 0; i < full.size() && !refresh; ++i) {
        if (!full[i].key || (i > 0 && full[i - 1].time == full[i].time)) continue;
        SCOPED_TRACE("key picture " + std::to_string(i));
        ASSERT_EQ(decoder.QVSeek(full[i].time, QV_SEEK_KEY), 0);
        Shown shown;
        ASSERT_TRUE(NextPicture(decoder, &shown));
        EXPECT_EQ(shown.time, full[i].time);
        EXPECT_TRUE(shown.bytes == full[i].bytes);
    }
    const int64_t duration = decoder.QVGetDuration();
    // Just past the last picture, a key seek leaves the file at its end, whatever length the
    // container states (an AVI file's reaches a picture period past it).
    if (duration >= 0) {
        ASSERT_EQ(decoder.QVSeek(last + 1, QV_SEEK_KEY), 0);
        Shown shown;
        EXPECT_FALSE(NextPicture(decoder, &shown));
    }
    if (c.stated_ms > 0) {
        EXPECT_EQ(duration, static_cast<int64_t>(c.stated_ms * 1000));
        // Past the stated length a key seek decodes to look for pictures: an interrupt there
        // ends the seek, which once left the file at its end with pictures still to come.
        decoder.QVInterrupt();
        EXPECT_EQ(decoder.QVSeek(last, QV_SEEK_KEY), QV_ERR_TIMEOUT);
        ASSERT_EQ(decoder.QVSeek(last, QV_SEEK_KEY), 0);
        Shown shown;
        EXPECT_TRUE(NextPicture(decoder, &shown));
    } else if (duration >= 0) {
        EXPECT_NEAR(static_cast<double>(duration), static_cast<double>(last - first), 250000.0);
    }

    // Pictures the decoder gave during the accurate seeks, against those a decoding of every
    // picture from the key frame before each target up to it gives at least.
    int64_t decoded = 0;
    int64_t span = 0;
    for (int i = 0; i < 2 * kSeeks; ++i) {
        const int mode = i % 2 == 0 ? QV_SEEK_ACCURATE : QV_SEEK_KEY;
        const int step = (i / 2 * 7) % kSeeks;  // a walk that goes back and forth
        const int64_t target = first - 300000 + (last - first + 600000) * step / (kSeeks - 1);
        SCOPED_TRACE(std::string(mode == QV_SEEK_KEY ? "key " : "accurate ") + std::to_string(target));
        ASSERT_EQ(decoder.QVSeek(target, mode), 0);
        Shown shown;
        std::vector<int64_t> audio;
        const int64_t before = qvtest::Parts(decoder).video.context()->frame_number;
        const bool got = NextPicture(decoder, &shown, &audio);
        if (mode == QV_SEEK_ACCURATE) {
            const auto at = std::find_if(full.begin(), full.end(), [&](const Shown& s) { return s.time >= target; });
            if (got && target > first && at != full.end()) {
                decoded += qvtest::Parts(decoder).video.context()->frame_number - before;
                // The key frame at or before the target (a key picture just past it is no
                // nearer), or the first picture.
                auto key = at;
                while (key != full.begin() && (!key->key || key->time > target)) --key;
                span += at - key + 1;
            }
            // Audio follows the seek: nothing from before the time comes ahead of the picture.
            for (int64_t t : audio) EXPECT_GE(t, target);
            if (c.audio != AV_CODEC_ID_NONE && got && target > first) {
                Shown later;
                std::vector<int64_t> more;
                for (int k = 0; k < 5 && more.empty() && NextPicture(decoder, &later, &more); ++k) {
                }
                EXPECT_FALSE(audio.empty() && more.empty());
                ASSERT_EQ(decoder.QVSeek(target, mode), 0);
                ASSERT_TRUE(NextPicture(decoder, &shown));
            }
            const auto expected = std::find_if(full.begin(), full.end(), [&](const Shown& s) { return s.time >= target; });
            ASSERT_EQ(got, expected != full.end());
            if (!got) continue;
            EXPECT_EQ(shown.time, expected->time);
            EXPECT_TRUE(shown.bytes == expected->bytes) << "picture " << (expected - full.begin());
            continue;
        }
        // Past the last picture, whatever the container says of its length: nothing.
        if (duration >= 0 && target > last) {
            EXPECT_FALSE(got);
            continue;
        }
        ASSERT_TRUE(got);
        const auto match = std::find_if(full.begin(), full.end(), [&](const Shown& s) { return s.time == shown.time; });
        ASSERT_NE(match, full.end()) << shown.time;
        EXPECT_TRUE(match->bytes == shown.bytes);
        if (refresh) {
            // After the first, an intra-refresh stream's pictures are whole only once a refresh
            // has passed: the first whole one at or before the time comes, unflagged.
            EXPECT_LE(shown.time, std::max(target, first));
            continue;
        }
        // Before the first key picture, the first picture: the first key frame, or the first
        // picture after a key frame that an edit list hides.
        const auto first_key = std::find_if(full.begin(), full.end(), [](const Shown& s) { return s.key; });
        if (first_key == full.end() || target < first_key->time) {
            EXPECT_EQ(match, full.begin());
            EXPECT_EQ(shown.key, full.front().key);
            continue;
        }
        EXPECT_TRUE(shown.key && match->key);
        EXPECT_LE(shown.time, target);
        for (const Shown& s : full) EXPECT_FALSE(s.key && s.time > shown.time && s.time <= target) << s.time;
    }
    // Unreferenced pictures shown before the target are never decoded. (Containers searched
    // by timestamps may land past the key frame first and read again, which costs more.)
    const std::string muxer = c.muxer;
    if (c.b_frames >= 2 && (muxer == "mp4" || muxer == "mov" || muxer == "matroska")) {
        EXPECT_LT(decoded, span * 3 / 4);
    }
}

// Skipped pictures: the counts libavcodec's own skip_frame gives; key frames in order; raw packets from the key frame before a seek's time.
TEST_P(SeekTest, SkipAndRaw_FollowLibavcodec) {
    const SeekCase& c = GetParam();
    const std::string path = Make(c, kFrames);
    const size_t nonref = qvtest::ReferencePictures(path, AVDISCARD_NONREF).size();
    size_t keys = 0;
    for (const qvtest::PacketInfo& packet : qvtest::ReadPackets(path)) {
        keys += packet.stream == 0 && (packet.flags & AV_PKT_FLAG_KEY) != 0;  // the factory's video comes first
    }
    // libavcodec's VP9 decoder ignores skip_frame there: one picture per key packet then.
    if (c.codec != AV_CODEC_ID_VP9) keys = qvtest::ReferencePictures(path, AVDISCARD_NONKEY).size();
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVDecoderSetThreads(c.threads), 0);
    ASSERT_EQ(decoder.QVDecoderSetFrameSkip(3), -1);
    ASSERT_EQ(decoder.QVDecoderSetFrameSkip(QV_SKIP_NONREF), 0);
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    EXPECT_EQ(AllPictures(decoder).size(), nonref);
    decoder.QVClose();

    ASSERT_EQ(decoder.QVDecoderSetFrameSkip(QV_SKIP_NONKEY), 0);
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    const std::vector<Shown> key_pictures = AllPictures(decoder);
    EXPECT_EQ(key_pictures.size(), keys);
    for (size_t i = 0; i < key_pictures.size(); ++i) {
        EXPECT_TRUE(key_pictures[i].key);
        if (i > 0) {
            EXPECT_GT(key_pictures[i].time, key_pictures[i - 1].time);
        }
    }
    decoder.QVClose();

    // Raw extraction after a seek starts at a key packet at or before the time.
    ASSERT_EQ(decoder.QVDecoderSetFrameSkip(QV_SKIP_NONE), 0);
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    std::vector<unsigned char> buffer(1 << 20);
    int64_t ms = 0;
    int key = 0;
    if (decoder.QVGetVideoRawFrame(buffer.data(), static_cast<int>(buffer.size()), ms, key) <= 0) return;
    const int64_t target_ms = c.start_frames * 40 + 2000;
    ASSERT_EQ(decoder.QVSeek(target_ms * 1000, QV_SEEK_KEY), 0);
    ASSERT_GT(decoder.QVGetVideoRawFrame(buffer.data(), static_cast<int>(buffer.size()), ms, key), 0);
    EXPECT_NE(key, 0);
    EXPECT_LE(ms, target_ms);
    EXPECT_GT(ms, target_ms - 40 * c.gop - 200);
}

const SeekCase kCases[] = {
    {"mp4", "mp4", "mp4"},
    {"mp4_b_frames_edit_list", "mp4", "mp4", AV_CODEC_ID_H264, 2, 12, 0, "", 1, AV_CODEC_ID_AAC},
    {"mov_open_gop", "mov", "mov", AV_CODEC_ID_H264, 2, 12, 0, "open-gop=1"},
    {"mp4_b_pyramid", "mp4", "mp4", AV_CODEC_ID_H264, 3, 24, 0, "b-pyramid=normal"},
    {"mp4_intra_refresh", "mp4", "mp4", AV_CODEC_ID_H264, 0, 12, 0, "intra-refresh=1"},
    {"mkv_b_frames_threads", "matroska", "mkv", AV_CODEC_ID_H264, 2, 12, 0, "", 2},
    {"webm_vp9", "webm", "webm", AV_CODEC_ID_VP9, 0, 12},
    {"ts_late_start", "mpegts", "ts", AV_CODEC_ID_H264, 2, 12, 250},
    {"ps_mpeg2", "vob", "mpg", AV_CODEC_ID_MPEG2VIDEO, 2, 12},
    // Starts at 541666.67 µs: the start time truncates as the pictures' times do.
    {"ps_mpeg2_24fps", "mpeg", "mpg", AV_CODEC_ID_MPEG2VIDEO, 2, 12, 0, "", 1, AV_CODEC_ID_NONE, {}, 24},
    // The container says 3 s; pictures go on to 3.56 s.
    {"mp4_aspect_64_45", "mp4", "mp4", AV_CODEC_ID_H264, 2, 12, 0, "", 1, AV_CODEC_ID_NONE, {}, 25, 0.0, {64, 45}},
    {"mkv_short_duration", "matroska", "mkv", AV_CODEC_ID_H264, 2, 12, 0, "", 1, AV_CODEC_ID_NONE, {}, 25, 3000.0},
    {"flv", "flv", "flv", AV_CODEC_ID_H264, 0, 12, 0, "", 1, AV_CODEC_ID_MP3},
    {"avi_mpeg4_threads", "avi", "avi", AV_CODEC_ID_MPEG4, 0, 12, 0, "", 2},
    // AVI states decoding times only: with B-frames the first picture comes 40 or 80 ms after
    // the stream's start, and the last ones, drained, have no time of their own.
    {"avi_h264_b_frames", "avi", "avi", AV_CODEC_ID_H264, 2, 12},
    {"avi_mpeg4_b_frames", "avi", "avi", AV_CODEC_ID_MPEG4, 2, 12},
    // Every picture a key frame: a key seek that steps back must still find the latest.
    // (Pictures larger than a pack: libavformat times the first packets after a seek into a
    // pack that ends one picture and starts the next by a guess.)
    {"ps_mpeg2_all_intra", "vob", "mpg", AV_CODEC_ID_MPEG2VIDEO, 0, 1, 0, "", 1, AV_CODEC_ID_NONE, {}, 25, 0.0,
     {0, 1}, 320, 240},
    // Several pictures to a pack: most packets carry no time.
    {"ps_h264", "vob", "mpg", AV_CODEC_ID_H264, 2, 12},
    {"h264_elementary", "h264", "264", AV_CODEC_ID_H264, 2, 12},
    // The first three pictures (the key frame and two B-frames) lie before zero and the edit
    // list hides them, as a cut made without re-encoding does: the first picture shown is a
    // P-frame at 0; the stated frame count leaves the hidden ones out.
    {"mp4_edit_list_hides_key_frame", "mp4", "mp4", AV_CODEC_ID_H264, 2, 12, -3},
    // The first picture at -200 ms, B-frames times out of decoding order.
    {"ps_negative_start", "vob", "mpg", AV_CODEC_ID_MPEG2VIDEO, 2, 12, -5, "", 1, AV_CODEC_ID_NONE,
     {{"avoid_negative_ts", "disabled"}}},
};

INSTANTIATE_TEST_SUITE_P(Containers, SeekTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SeekCase>& info) { return std::string(info.param.name); });

// Packets a decoder read since its open, and the times its last seek moved reading back.
int64_t PacketsRead(QVDecoder& decoder) { return qvtest::Parts(decoder).session.file().packets_read(); }
int StepBacks(QVDecoder& decoder) { return qvtest::Parts(decoder).session.seek().step_backs(); }

// A seek never reads more than a decoding from the start: a file whose video starts 80 ms
// after its audio (as ffmpeg's -itsoffset makes it) once moved back 25 times for a seek to
// or before its first picture; a damaged copy is bounded too. A cut whose edit list hides its
// first key frame (its first picture a P-frame) reads from that key frame once for a time
// before the next, instead of reading on to the next and from the start again. Counted in
// packets, not time.
TEST(SeekCostTest, Seek_NeverReadsMoreThanTheFileFromItsStart) {
    QVDecoderInitialize();
    qvtest::TempDir dir;
    const std::string path = dir.Path("late_video.mp4");
    MediaFile media;
    media.audio = AV_CODEC_ID_AAC;
    media.frames = 90;
    VideoTrack track;
    track.gop = 12;
    track.start_frames = 2;
    media.video.push_back(track);
    ASSERT_EQ(qvtest::WriteMediaFile(path, media), "");
    const std::string damaged = dir.Path("damaged.mp4");
    {
        std::ifstream in(path, std::ios::binary);
        std::ofstream(damaged, std::ios::binary) << in.rdbuf();
    }
    ASSERT_TRUE(qvtest::OverwriteBytes(damaged, qvtest::FileSize(damaged) / 3, std::vector<uint8_t>(713, 0)));
    const std::string cut = dir.Path("cut.mp4");
    media.audio = AV_CODEC_ID_NONE;
    media.video[0].start_frames = -3;
    media.video[0].max_b_frames = 2;
    ASSERT_EQ(qvtest::WriteMediaFile(cut, media), "");
    for (const std::string& file : {path, damaged, cut}) {
        SCOPED_TRACE(file);
        QVDecoder whole;
        ASSERT_EQ(whole.QVOpen(file.c_str()), 0);
        Shown first;
        ASSERT_TRUE(NextPicture(whole, &first));
        const int64_t to_first = PacketsRead(whole);
        AllPictures(whole);
        const int64_t all = PacketsRead(whole);
        for (const int64_t target : {int64_t{0}, first.time, first.time - 1, int64_t{-500000}, int64_t{200000},
                                     int64_t{1000000}, int64_t{2500000}, int64_t{3500000}}) {
            SCOPED_TRACE(target);
            QVDecoder decoder;
            ASSERT_EQ(decoder.QVOpen(file.c_str()), 0);
            const int64_t opened = PacketsRead(decoder);
            ASSERT_EQ(decoder.QVSeek(target, QV_SEEK_ACCURATE), 0);
            Shown shown;
            NextPicture(decoder, &shown);
            const int64_t cost = PacketsRead(decoder) - opened;
            EXPECT_LE(cost, all + to_first + 8);
            if (file == cut && target >= first.time && target < 360000) {
                EXPECT_FALSE(first.key);
                EXPECT_EQ(StepBacks(decoder), 0);
            }
            if (target <= first.time && file == path) {
                // Nothing is earlier than the first picture: reading starts there, once.
                EXPECT_LE(StepBacks(decoder), 1);
                EXPECT_LE(cost, 2 * to_first + 4);
                EXPECT_EQ(shown.time, first.time);
                EXPECT_TRUE(shown.bytes == first.bytes);
            }
        }
    }
}

// A pipe cannot go back: the seek is refused and reading goes on where it was.
TEST(SeekPipeTest, Seek_Pipe_NotSeekable) {
    QVDecoderInitialize();
    qvtest::Watchdog watchdog(20000, "decoding a FIFO");
    qvtest::TempDir dir;
    const std::string path = dir.Path("clip.ts");
    MediaFile media;
    media.muxer = "mpegts";
    media.frames = 40;
    media.video.push_back(VideoTrack{});
    ASSERT_EQ(qvtest::WriteMediaFile(path, media), "");
    const std::string fifo = dir.Path("pipe.ts");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        std::ifstream in(path, std::ios::binary);
        std::ofstream out(fifo, std::ios::binary);
        out << in.rdbuf();
    });
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(fifo.c_str()), 0);
    Shown shown;
    ASSERT_TRUE(NextPicture(decoder, &shown));
    EXPECT_EQ(decoder.QVSeek(0, QV_SEEK_ACCURATE), QV_ERR_NOT_SEEKABLE);
    const std::vector<Shown> rest = AllPictures(decoder);
    ASSERT_FALSE(rest.empty());
    EXPECT_GT(rest.front().time, shown.time);
    writer.join();
    EXPECT_EQ(decoder.QVSeek(0, 5), -1);
    decoder.QVClose();
    EXPECT_EQ(decoder.QVSeek(0, QV_SEEK_ACCURATE), -10008);
    EXPECT_EQ(decoder.QVGetDuration(), -1);
}

// A file of audio alone seeks by its audio: the next piece is the first at or after the time.
TEST(SeekAudioTest, Seek_AudioOnly_NextPieceAtTheTime) {
    QVDecoderInitialize();
    qvtest::TempDir dir;
    const std::string path = dir.Path("tone.mp4");
    MediaFile media;
    media.audio = AV_CODEC_ID_AAC;
    media.frames = 100;
    ASSERT_EQ(qvtest::WriteMediaFile(path, media), "");
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    std::vector<int64_t> times;
    for (int r = decoder.QVDecodeFrame(); r != -10003; r = decoder.QVDecodeFrame()) {
        if (r == 1) times.push_back(decoder.QVGetFrameTimestamp());
    }
    ASSERT_GT(times.size(), 100u);
    for (int64_t target : {2000000, 500000, 3100000, -100000}) {
        ASSERT_EQ(decoder.QVSeek(target, QV_SEEK_ACCURATE), 0);
        int r = decoder.QVDecodeFrame();
        while (r != 1 && r != -10003) r = decoder.QVDecodeFrame();
        ASSERT_EQ(r, 1);
        EXPECT_EQ(decoder.QVGetFrameTimestamp(), *std::find_if(times.begin(), times.end(), [&](int64_t t) {
            return t >= target;
        })) << target;
    }
}

}  // namespace
