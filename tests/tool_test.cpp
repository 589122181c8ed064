// qvdecode as a user runs it: a separate process, its exit code, its output and its files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bmp_file.h"
#include "core/ffmpeg.h"
#include "media_factory.h"
#include "ps_muxer.h"

namespace {

using qvtest::BmpImage;
using qvtest::FileExists;
using qvtest::ReadBmp;
using qvtest::ReadFileBytes;

struct RunResult {
    int code = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class ToolTest : public ::testing::Test {
protected:
    std::string dir = qvtest::ScratchDir("tool");
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    static std::string Sample(const char* name) { return std::string(QV_SOURCE_DIR) + "/samples/" + name; }

    RunResult Run(const std::vector<std::string>& args) const {
        std::string cmd = Quote(QVDECODE_PATH);
        for (const std::string& a : args) cmd += " " + Quote(a);
        const std::string err_path = Path("stderr.txt");
        cmd += " 2>" + Quote(err_path) + " </dev/null";
        RunResult r;
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return r;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), p)) > 0) r.out.append(buf, n);
        const int status = pclose(p);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.err = ReadText(err_path);
        return r;
    }

    // A made H.264 elementary stream with its pictures as libavcodec decodes them.
    std::string WriteH264(const std::string& name, int width, int height, int frames,
                          std::vector<qvtest::Picture>* reference) const {
        qvtest::VideoOptions options;
        options.width = width;
        options.height = height;
        options.frames = frames;
        options.gop = 5;
        const qvtest::EncodedVideo video = qvtest::EncodeVideo("libx264", options);
        *reference = qvtest::DecodeReference(video.codec_id, video.packets, {}, true);
        const std::vector<uint8_t> stream = qvtest::Concatenate(video.packets);
        const std::string path = Path(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(stream.data()), stream.size());
        return path;
    }
};

TEST_F(ToolTest, BadArgumentsExitWithUsageErrors) {
    const std::string clip = Sample("clip.mp4");
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"transcode", clip},
        {"decode"},
        {"decode", clip, "--format", "purple"},
        {"decode", clip, "--size", "12"},
        {"decode", clip, "--size", "0x240"},
        {"decode", clip, "--every", "5"},  // --every without --snapshots
        {"decode", clip, "--snapshots", Path("s"), "--every", "0"},
        {"push", clip, "--codec", "h264"},  // no --size
        {"push", clip, "--codec", "xyz", "--size", "320x240"},
        {"push", clip, "--codec", "mpeg2", "--size", "320x240", "--repack"},
        {"extract", clip},  // no -o
        {"audio", clip, "-o", Path("a.wav"), "--codec", "h264"},
        {"audio", clip, "-o", Path("a.wav"), "--codec", "g722", "--rate", "-5"},
    };
    for (const auto& args : bad) {
        const RunResult r = Run(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(r.code, 2) << joined << "\n" << r.err;
        EXPECT_FALSE(r.err.empty()) << joined;
    }
    EXPECT_FALSE(FileExists(Path("s")));
    const RunResult help = Run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("decode"), std::string::npos);
}

TEST_F(ToolTest, MissingAndUnreadableFilesAreInputErrors) {
    std::ofstream(Path("notes.txt")) << "not a media file\n";
    for (const std::string& cmd : {"info", "decode"}) {
        RunResult r = Run({cmd, Path("missing.mp4")});
        EXPECT_EQ(r.code, 3) << cmd;
        EXPECT_NE(r.err.find("missing.mp4"), std::string::npos) << r.err;
        r = Run({cmd, Path("notes.txt")});
        EXPECT_EQ(r.code, 3) << cmd << "\n" << r.err;
        r = Run({cmd, dir});
        EXPECT_EQ(r.code, 3) << cmd;
    }
    EXPECT_EQ(Run({"push", Path("missing.h264"), "--codec", "h264", "--size", "64x64"}).code, 3);
    EXPECT_EQ(Run({"extract", Path("missing.mp4"), "-o", Path("x.h264")}).code, 3);
    EXPECT_EQ(Run({"audio", Path("missing.g722"), "-o", Path("x.wav"), "--codec", "g722"}).code, 3);
    // A file with no video stream offers no raw frames.
    EXPECT_EQ(Run({"extract", Path("notes.txt"), "-o", Path("x.h264")}).code, 3);
}

TEST_F(ToolTest, InfoReportsStreamsCodecIdsAndRawSupport) {
    const RunResult r = Run({"info", Sample("clip.mp4"), "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"codec\": \"h264\", \"codec_id\": 28"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"width\": 320, \"height\": 240"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"frame_rate\": 25.000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"raw_extraction\": true"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"duration\": 4.0"), std::string::npos) << r.out;
    const RunResult ps = Run({"info", Sample("clip.mpg")});
    ASSERT_EQ(ps.code, 0) << ps.err;
    EXPECT_NE(ps.out.find("mpeg2video (codec id 2"), std::string::npos) << ps.out;
}

TEST_F(ToolTest, PushWritesSnapshotsAndRawPicturesEqualToLibavcodec) {
    std::vector<qvtest::Picture> reference;
    const std::string stream = WriteH264("clip.h264", 96, 64, 9, &reference);
    ASSERT_EQ(reference.size(), 9u);
    const RunResult r = Run({"push", stream, "--codec", "h264", "--size", "96x64", "--snapshots",
                             Path("snaps"), "--every", "4", "--raw", Path("pictures.yuv")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Pushed"), std::string::npos);

    std::vector<uint8_t> all;
    for (const auto& p : reference) all.insert(all.end(), p.bytes.begin(), p.bytes.end());
    const std::vector<uint8_t> raw = ReadFileBytes(Path("pictures.yuv"));
    // The stream's last pictures may stay inside the decoder; those delivered must match.
    ASSERT_GE(raw.size(), all.size() - 2 * reference[0].bytes.size());
    ASSERT_EQ(raw.size() % reference[0].bytes.size(), 0u);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), all.begin()));

    for (int index : {0, 4}) {
        char name[64];
        std::snprintf(name, sizeof(name), "/snaps/snapshot-%06d.bmp", index);
        BmpImage image;
        ASSERT_TRUE(ReadBmp(dir + name, &image)) << name;
        EXPECT_EQ(image.TopDown(), qvtest::ScaleReference(reference[index], 96, 64,
                                                          AV_PIX_FMT_BGR24, SWS_BILINEAR))
            << name;
    }
    EXPECT_FALSE(FileExists(Path("snaps/snapshot-000001.bmp")));
}

TEST_F(ToolTest, PushConvertsToTheRequestedOutput) {
    std::vector<qvtest::Picture> reference;
    const std::string stream = WriteH264("small.h264", 64, 48, 4, &reference);
    const RunResult r = Run({"push", stream, "--codec", "h264", "--size", "64x48", "--format",
                             "bgr24", "--out-size", "32x24", "--raw", Path("out.bgr")});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<uint8_t> raw = ReadFileBytes(Path("out.bgr"));
    ASSERT_GE(raw.size(), 32u * 24 * 3);
    EXPECT_EQ(raw.size() % (32 * 24 * 3), 0u);
    const std::vector<uint8_t> first(raw.begin(), raw.begin() + 32 * 24 * 3);
    EXPECT_EQ(first, qvtest::ScaleReference(reference[0], 32, 24, AV_PIX_FMT_BGR24, SWS_BILINEAR));
}

TEST_F(ToolTest, DecodeAndPushTheSamples) {
    RunResult r = Run({"decode", Sample("clip.mp4"), "--snapshots", Path("d"), "--every", "40",
                       "--raw", Path("d.yuv")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("100 pictures of 320x240 yuv420p (h264)"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFileBytes(Path("d.yuv")).size(), 100u * 320 * 240 * 3 / 2);
    BmpImage image;
    EXPECT_TRUE(ReadBmp(Path("d/snapshot-000080.bmp"), &image));
    EXPECT_FALSE(FileExists(Path("d/snapshot-000081.bmp")));

    r = Run({"push", Sample("clip.mpg"), "--codec", "mpeg2", "--size", "320x240", "--demux"});
    ASSERT_EQ(r.code, 0) << r.err;
    int packs = 0, pictures = 0;
    const size_t at = r.out.find("): ");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at, "): %d packs, %*d bytes; %d pictures", &packs, &pictures), 2)
        << r.out;
    EXPECT_EQ(packs, 100);     // one pack per picture
    EXPECT_GE(pictures, 98);   // the decoder may keep the last picture back
}

TEST_F(ToolTest, PushChunksDecodesProgramStreamPacksThatCutFrames) {
    // 2048-byte "vob" packs beside MP2 audio cut the H.264 frames anywhere.
    qvtest::VideoOptions options;
    options.frames = 12;
    options.gop = 6;
    const qvtest::EncodedVideo video = qvtest::EncodeVideo("libx264", options);  // 352x288
    const auto reference = qvtest::DecodeReference(video.codec_id, video.packets, {}, true);
    const std::vector<uint8_t> stream = qvtest::MuxProgramStream(video, "vob", true);
    const std::string path = Path("cut.mpg");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));

    const RunResult r = Run({"push", path, "--codec", "h264", "--size", "352x288", "--demux",
                             "--chunks", "--raw", Path("cut.yuv")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("chunked"), std::string::npos) << r.out;
    std::vector<uint8_t> all;
    for (const auto& p : reference) all.insert(all.end(), p.bytes.begin(), p.bytes.end());
    const std::vector<uint8_t> raw = ReadFileBytes(Path("cut.yuv"));
    // Only the last frame, whose end no pack shows, may stay back.
    EXPECT_GE(raw.size() + reference[0].bytes.size(), all.size());
    ASSERT_LE(raw.size(), all.size());
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), all.begin()));
}

TEST_F(ToolTest, ExtractWritesAnnexBFramesAndAConsistentIndex) {
    const RunResult r = Run({"extract", Sample("clip.mp4"), "-o", Path("x.h264"), "--index", Path("x.csv")});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<uint8_t> out = ReadFileBytes(Path("x.h264"));
    ASSERT_GT(out.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 1}));
    std::ifstream csv(Path("x.csv"));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "frame,offset,size,header_length,key,timestamp_ms,file_position");
    long long expected_offset = 0, previous_ms = -1;
    int frames = 0, keys = 0;
    while (std::getline(csv, line)) {
        long long frame, offset, size, header, key, ms, pos;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lld,%lld,%lld,%lld,%lld,%lld,%lld", &frame, &offset,
                              &size, &header, &key, &ms, &pos), 7) << line;
        EXPECT_EQ(frame, frames);
        EXPECT_EQ(offset, expected_offset);
        EXPECT_GT(ms, previous_ms);
        if (frames % 25 == 0) EXPECT_EQ(key, 1) << line;  // a key frame every second
        expected_offset += size;
        previous_ms = ms;
        keys += static_cast<int>(key);
        ++frames;
    }
    EXPECT_EQ(frames, 100);
    EXPECT_EQ(keys, 4);
    EXPECT_EQ(expected_offset, static_cast<long long>(out.size()));
    EXPECT_EQ(previous_ms, 3960);
}

TEST_F(ToolTest, FailedOutputWritesExitWithOutputErrors) {
    EXPECT_EQ(Run({"extract", Sample("clip.mp4"), "-o", "/dev/full"}).code, 4);
    EXPECT_EQ(Run({"extract", Sample("clip.mp4"), "-o", Path("no/dir/x.h264")}).code, 4);
    EXPECT_EQ(Run({"decode", Sample("clip.mp4"), "--raw", "/dev/full"}).code, 4);
    EXPECT_EQ(Run({"decode", Sample("clip.mp4"), "--snapshots", "/dev/full/x"}).code, 4);
}

TEST_F(ToolTest, AudioTurnsG722IntoWav) {
    const std::string input = Sample("speech.g722");
    const size_t input_bytes = ReadFileBytes(input).size();
    const RunResult r = Run({"audio", input, "-o", Path("speech.wav"), "--codec", "g722",
                             "--rate", "16000", "--bitrate", "64000"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<uint8_t> wav = ReadFileBytes(Path("speech.wav"));
    ASSERT_GE(wav.size(), 44u);
    auto le32 = [&](size_t at) {
        return wav[at] | (wav[at + 1] << 8) | (wav[at + 2] << 16) | (static_cast<uint32_t>(wav[at + 3]) << 24);
    };
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 12), "WAVE");
    EXPECT_EQ(le32(24), 16000u);           // sample rate
    EXPECT_EQ(wav[22], 1);                 // one channel
    EXPECT_EQ(wav[34], 16);                // 16-bit samples
    // One code word gives two 16-bit samples at 16000 Hz.
    EXPECT_EQ(le32(40), 4 * input_bytes);
    EXPECT_EQ(wav.size(), 44 + 4 * input_bytes);
    EXPECT_EQ(le32(4), 36 + 4 * input_bytes);
}

}  // namespace
