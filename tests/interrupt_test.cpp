// QVInterrupt is the one method another thread may call while a call on the same object
// runs: a blocked open or read gives up at once. Run under ThreadSanitizer by `make tsan`.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "QVDecoder.h"
#include "base/ffmpeg.h"
#include "file_factory.h"
#include "file_pictures.h"
#include "live_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs `call` on this thread while another thread interrupts the object after `delay`;
// the call's result and how long after the interrupt it returned.
template <typename Call>
std::pair<int, int64_t> InterruptAfter(QVDecoder& decoder, std::chrono::milliseconds delay, Call call) {
    std::atomic<int64_t> interrupted_at{0};
    std::thread interrupter([&] {
        std::this_thread::sleep_for(delay);
        interrupted_at = Clock::now().time_since_epoch().count();
        decoder.QVInterrupt();
    });
    const int result = call();
    const int64_t returned_at = Clock::now().time_since_epoch().count();
    interrupter.join();
    const auto late = std::chrono::duration_cast<std::chrono::milliseconds>(
        Clock::duration(returned_at - interrupted_at.load()));
    return {result, late.count()};
}

TEST(InterruptTest, Threads_QVInterruptEndsABlockedOpenAndRead) {
    QVDecoderInitialize();
    // libavformat's network reads look at the interrupt between polls of at most 100 ms, so
    // an interrupt lands within one poll; the rest is room for a loaded machine's scheduling.
    constexpr int64_t kLatestMs = 150;
    {
        qvtest::SilentTcpServer mute;
        QVDecoder decoder;
        const std::string url = "tcp://127.0.0.1:" + std::to_string(mute.port());
        qvtest::Watchdog watchdog(3000, "QVOpen of a silent server, interrupted after 300 ms");
        const auto [result, late] =
            InterruptAfter(decoder, std::chrono::milliseconds(300), [&] { return decoder.QVOpen(url.c_str()); });
        EXPECT_EQ(result, -10010);
        EXPECT_LT(late, kLatestMs);
        // The host's own interrupt, not what FFmpeg made of it ("Immediate exit requested").
        EXPECT_STREQ(decoder.QVGetOpenError(), "QVOpen: timed out.");
    }

    qvtest::TempDir dir;
    qvtest::MediaFile media;
    media.muxer = "mpegts";
    media.video.push_back(qvtest::VideoTrack{});
    media.frames = 20;
    const std::string path = dir.Path("half.ts");
    ASSERT_EQ(qvtest::WriteMediaFile(path, media), "");
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The stall falls between two pictures: a transport stream demuxer given up on in the
    // middle of one hands out what it has of it and skips the rest.
    const size_t half = qvtest::TsPictureStart(bytes, bytes.size() / 2);
    qvtest::SilentTcpServer server(std::vector<uint8_t>(bytes.begin(), bytes.begin() + half));
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(("tcp://127.0.0.1:" + std::to_string(server.port())).c_str()), 0);
    // The pictures sent come out, then the read waits on the quiet connection.
    std::vector<qvtest::Picture> pictures;
    const auto [result, late] = InterruptAfter(decoder, std::chrono::milliseconds(1000), [&] {
        qvtest::Watchdog watchdog(5000, "QVDecodeFrame on a quiet connection, interrupted after 1 s");
        for (;;) {
            const int r = decoder.QVDecodeFrame();
            if (r == 0) pictures.push_back(qvtest::HandedOutPicture(decoder));
            if (r != 0 && r != -10002) return r;
        }
    });
    EXPECT_EQ(result, -10010);
    EXPECT_LT(late, kLatestMs);
    EXPECT_FALSE(pictures.empty());
    // The interrupt was for that call only: once the camera goes on, the next calls hand out
    // the rest of the stream, nothing lost, up to its end.
    server.Finish(std::vector<uint8_t>(bytes.begin() + half, bytes.end()));
    decoder.QVDecoderSetTimeout(2000);
    int next;
    {
        qvtest::Watchdog watchdog(4000, "QVDecodeFrame after an interrupt, timeout 2 s");
        while ((next = decoder.QVDecodeFrame()) == 0 || next == -10002) {
            if (next == 0) pictures.push_back(qvtest::HandedOutPicture(decoder));
        }
    }
    EXPECT_EQ(next, -10003);
    qvtest::ExpectSamePictures(pictures, qvtest::ReferencePictures(path));
}

// A timeout of 0 waits for ever: only the interrupt ends the wait, well after a timeout
// set before would have.
TEST(InterruptTest, Threads_TimeoutZeroWaitsUntilInterrupted) {
    QVDecoderInitialize();
    qvtest::SilentTcpServer mute;
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVDecoderSetTimeout(300), 0);
    ASSERT_EQ(decoder.QVDecoderSetTimeout(0), 0);
    EXPECT_EQ(decoder.QVDecoderSetTimeout(-1), -1);
    const std::string url = "tcp://127.0.0.1:" + std::to_string(mute.port());
    qvtest::Watchdog watchdog(5000, "QVOpen with timeout 0, interrupted after 1.2 s");
    const Clock::time_point start = Clock::now();
    const auto [result, late] =
        InterruptAfter(decoder, std::chrono::milliseconds(1200), [&] { return decoder.QVOpen(url.c_str()); });
    EXPECT_EQ(result, -10010);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 1100);
}

struct IdleRow {
    const char* muxer;
    const char* name;
    int64_t seek_us;  // < 0: no seek
};

// Every picture a file hands out after `seek_us` (none: from the open), with the count of
// QVDecodeFrame results that were timeouts; `interrupt_every` > 0 interrupts the object
// while nothing waits before every so many calls, and before the seek.
std::vector<qvtest::Picture> DecodeAfter(const std::string& path, int64_t seek_us, int interrupt_every,
                                         int* timeouts) {
    QVDecoder decoder;
    EXPECT_EQ(decoder.QVOpen(path.c_str()), 0);
    if (interrupt_every > 0) decoder.QVInterrupt();
    if (seek_us >= 0) {
        EXPECT_EQ(decoder.QVSeek(seek_us, QV_SEEK_ACCURATE), 0);
    }
    std::vector<qvtest::Picture> pictures;
    *timeouts = 0;
    for (int call = 1; call < 5000; ++call) {
        if (interrupt_every > 0 && call % interrupt_every == 0) decoder.QVInterrupt();
        const int r = decoder.QVDecodeFrame();
        if (r == -10010) ++*timeouts;
        if (r == 0) pictures.push_back(qvtest::HandedOutPicture(decoder));
        if (r == -10003) break;
    }
    return pictures;
}

// An interrupt made while nothing waits ends the next call only: with or without a seek in
// between, every picture comes out as without it (a seek once looped for ever, a transport
// stream failed for good, Matroska lost pictures).
TEST(InterruptTest, IdleInterrupt_EndsOneCallAndLosesNothing) {
    QVDecoderInitialize();
    qvtest::TempDir dir;
    for (const IdleRow row : {IdleRow{"mpegts", "ts", -1}, IdleRow{"mpegts", "ts", 2000000},
                              IdleRow{"matroska", "mkv", -1}, IdleRow{"matroska", "mkv", 2000000},
                              IdleRow{"mp4", "mp4", 1000000}}) {
        SCOPED_TRACE(std::string(row.name) + (row.seek_us >= 0 ? " with a seek" : ""));
        qvtest::MediaFile media;
        media.muxer = row.muxer;
        qvtest::VideoTrack track;
        track.max_b_frames = 2;
        media.video.push_back(track);
        media.audio = AV_CODEC_ID_MP2;
        media.frames = 100;
        const std::string path = dir.Path(std::string("clip.") + row.name);
        ASSERT_EQ(qvtest::WriteMediaFile(path, media), "");
        qvtest::Watchdog watchdog(60000, std::string("decoding ") + row.name + " with interrupts");
        int timeouts = 0;
        const std::vector<qvtest::Picture> want = DecodeAfter(path, row.seek_us, 0, &timeouts);
        ASSERT_GT(want.size(), 40u);
        EXPECT_EQ(timeouts, 0);
        const std::vector<qvtest::Picture> once = DecodeAfter(path, row.seek_us, 10000, &timeouts);
        EXPECT_EQ(timeouts, 1);
        qvtest::ExpectSamePictures(once, want);
        const std::vector<qvtest::Picture> often = DecodeAfter(path, row.seek_us, 7, &timeouts);
        EXPECT_GT(timeouts, 10);
        qvtest::ExpectSamePictures(often, want);
    }
}

struct RawPacket {
    std::vector<unsigned char> bytes;
    int64_t ms = 0;
    int key = 0;
};

// Raw packets from the open (or after a key-frame seek) to the end; interrupted while
// nothing waits before every `interrupt_every`-th call (0: never). Interrupted calls give 0
// and QVGetVideoRawFrameSize tells them from the end.
std::vector<RawPacket> RawAfter(const std::string& path, int64_t seek_us, int interrupt_every) {
    QVDecoder decoder;
    EXPECT_EQ(decoder.QVOpen(path.c_str()), 0);
    if (seek_us >= 0) {
        EXPECT_EQ(decoder.QVSeek(seek_us, QV_SEEK_KEY), 0);
    }
    std::vector<RawPacket> packets;
    std::vector<unsigned char> buffer(1 << 20);
    int misses = 0;
    for (int call = 1; call < 5000; ++call) {
        if (interrupt_every > 0 && call % interrupt_every == 0) {
            decoder.QVInterrupt();
            if (call % (2 * interrupt_every) == 0) {
                EXPECT_EQ(decoder.QVGetVideoRawFrameSize(), -10010);
                if (decoder.QVGetVideoRawFrameSize() == 0) break;
                continue;
            }
        }
        RawPacket packet;
        const int n = decoder.QVGetVideoRawFrame(buffer.data(), static_cast<int>(buffer.size()), packet.ms, packet.key);
        if (n > 0) {
            packet.bytes.assign(buffer.begin(), buffer.begin() + n);
            packets.push_back(packet);
            continue;
        }
        if (decoder.QVGetVideoRawFrameSize() == 0) break;
        ++misses;
    }
    EXPECT_EQ(misses > 0, interrupt_every > 0);
    return packets;
}

// Raw extraction interrupted while nothing waits: the interrupted call hands out nothing,
// the next goes on where it was, and every packet comes out, also after a seek.
TEST(InterruptTest, IdleInterrupt_RawExtractionLosesNoPacket) {
    QVDecoderInitialize();
    qvtest::TempDir dir;
    qvtest::MediaFile media;
    media.muxer = "mpegts";
    media.video.push_back(qvtest::VideoTrack{});
    media.audio = AV_CODEC_ID_MP2;
    media.frames = 200;
    const std::string path = dir.Path("clip.ts");
    ASSERT_EQ(qvtest::WriteMediaFile(path, media), "");
    for (const int64_t seek_us : {int64_t{-1}, int64_t{3000000}}) {
        SCOPED_TRACE(seek_us);
        const std::vector<RawPacket> want = RawAfter(path, seek_us, 0);
        ASSERT_GT(want.size(), seek_us < 0 ? 199u : 90u);
        const std::vector<RawPacket> got = RawAfter(path, seek_us, 5);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_TRUE(got[i].bytes == want[i].bytes && got[i].ms == want[i].ms && got[i].key == want[i].key)
                << "packet " << i;
        }
    }
}

// An interrupt made before QVOpen ends that open, and only it; QVClose forgets one.
TEST(InterruptTest, Threads_InterruptBeforeOpenEndsThatOpen) {
    QVDecoderInitialize();
    qvtest::SilentTcpServer mute;
    QVDecoder decoder;
    decoder.QVDecoderSetTimeout(3000);
    const std::string url = "tcp://127.0.0.1:" + std::to_string(mute.port());
    {
        qvtest::Watchdog watchdog(6000, "QVOpen of a silent source after an interrupt, timeout 3 s");
        decoder.QVInterrupt();
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(decoder.QVOpen(url.c_str()), -10010);
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 1000);
    }
    qvtest::TempDir dir;
    qvtest::MediaFile media;
    media.muxer = "matroska";
    media.video.push_back(qvtest::VideoTrack{});
    const std::string path = dir.Path("clip.mkv");
    ASSERT_EQ(qvtest::WriteMediaFile(path, media), "");
    decoder.QVInterrupt();
    EXPECT_EQ(decoder.QVOpen(path.c_str()), -10010);
    EXPECT_EQ(decoder.QVOpen(path.c_str()), 0);
    decoder.QVClose();
    decoder.QVInterrupt();
    decoder.QVClose();
    EXPECT_EQ(decoder.QVOpen(path.c_str()), 0);
    EXPECT_EQ(decoder.QVDecodeFrame(), 0);
}

// Four threads open, seek and decode files while a fifth interrupts them at random: every
// call returns (a seek once looped for ever after an interrupt), with the codes of a call.
TEST(InterruptTest, Threads_RandomInterruptsNeverHang) {
    QVDecoderInitialize();
    qvtest::TempDir dir;
    std::vector<std::string> paths;
    for (const char* muxer : {"mpegts", "matroska"}) {
        qvtest::MediaFile media;
        media.muxer = muxer;
        qvtest::VideoTrack track;
        track.max_b_frames = 2;
        media.video.push_back(track);
        media.frames = 100;
        paths.push_back(dir.Path(std::string("clip.") + muxer));
        ASSERT_EQ(qvtest::WriteMediaFile(paths.back(), media), "");
    }
    qvtest::Watchdog watchdog(60000, "four threads decoding under random interrupts");
    constexpr int kWorkers = 4;
    QVDecoder decoders[kWorkers];
    std::atomic<int> running{kWorkers};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            unsigned seed = 1234u + w;
            QVDecoder& d = decoders[w];
            for (int round = 0; round < 6; ++round) {
                const int opened = d.QVOpen(paths[(w + round) % paths.size()].c_str());
                if (opened != 0 && opened != -10010) ++unexpected;
                for (int call = 0; call < 120 && opened == 0; ++call) {
                    int r;
                    if (rand_r(&seed) % 16 == 0) {
                        r = d.QVSeek(static_cast<int64_t>(rand_r(&seed) % 4000) * 1000, rand_r(&seed) % 2);
                        if (r != 0 && r != -10010) ++unexpected;
                    } else {
                        r = d.QVDecodeFrame();
                        if (r != 0 && r != -10002 && r != -10003 && r != -10010) ++unexpected;
                    }
                }
                d.QVClose();
            }
            --running;
        });
    }
    std::thread interrupter([&] {
        unsigned seed = 99;
        while (running > 0) {
            decoders[rand_r(&seed) % kWorkers].QVInterrupt();
            std::this_thread::sleep_for(std::chrono::microseconds(rand_r(&seed) % 3000));
        }
    });
    for (std::thread& t : workers) t.join();
    interrupter.join();
    EXPECT_EQ(unexpected.load(), 0);
}

std::string SupportScript(const char* name) { return std::string(QV_SOURCE_DIR) + "/tests/support/" + name; }

// A source kind with a real sender on loopback, paced in real time.
struct SourceRow {
    const char* kind;   // rtsp-tcp, rtsp-udp, sdp, http, fifo, pipe
    const char* muxer;  // the container sent (fifo, pipe, http)
};

// Starts the sender of `path` for the row; the name to open (fd: the read end of a pipe: the
// host's), "" when it did not start.
std::string StartSender(const SourceRow& row, const std::string& path, qvtest::TempDir& dir,
                        qvtest::ChildProcess& sender, int* fd) {
    const std::string kind = row.kind;
    const std::string ffmpeg = "exec ffmpeg -nostdin -v error -re -i '" + path + "' -c copy ";
    if (kind == "rtsp-tcp" || kind == "rtsp-udp") {
        if (!sender.Start({"/usr/bin/python3", SupportScript("rtsp_server.py"), path, "h264"})) return "";
        const int port = qvtest::ReadPort(sender, 10000);
        return port > 0 ? "rtsp://127.0.0.1:" + std::to_string(port) + "/stream" : "";
    }
    const int port = qvtest::FreeUdpPort();
    if (kind == "sdp") {
        const std::string sdp = dir.Path("cam.sdp");
        std::ofstream(sdp) << "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=camera\nc=IN IP4 127.0.0.1\nt=0 0\nm=video " << port
                           << " RTP/AVP 96\na=rtpmap:96 H264/90000\na=fmtp:96 packetization-mode=1\n";
        // The receiver binds its ports within QVOpen; the sender starts once they are bound.
        const bool started = sender.Start({"sh", "-c", "sleep 1; " + ffmpeg +
                                                           "-bsf:v h264_mp4toannexb -rtpflags send_bye -f rtp rtp://127.0.0.1:" +
                                                           std::to_string(port)});
        return started ? sdp : "";
    }
    if (kind == "http") {
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/cam";
        return sender.Start({"sh", "-c", ffmpeg + "-f " + row.muxer + " -listen 1 " + url}) ? url : "";
    }
    const std::string fifo = dir.Path(std::string("cam.") + row.muxer + ".fifo");
    if (mkfifo(fifo.c_str(), 0600) != 0) return "";
    if (!sender.Start({"sh", "-c", ffmpeg + "-f " + row.muxer + " -y '" + fifo + "'"})) return "";
    if (kind == "fifo") return fifo;
    // pipe:N: the host opened the FIFO itself and hands over its descriptor.
    *fd = open(fifo.c_str(), O_RDONLY);
    return *fd >= 0 ? "pipe:" + std::to_string(*fd) : "";
}

// Every source kind, interrupted every 200 ms from another thread while its pictures come:
// each interrupt ends one call, and every picture the sender sent comes out, as the file
// holds it (a read cut in the middle of an interleaved RTSP frame, a Matroska element or a
// transport packet once lost the rest of the stream or pictures).
// One test a row, so that the rows' real-time plays run beside each other.
class SourceKindTest : public ::testing::TestWithParam<SourceRow> {};

TEST_P(SourceKindTest, Threads_InterruptsLoseNothing) {
    QVDecoderInitialize();
    {
        const SourceRow row = GetParam();
        const std::string kind = row.kind;
        SCOPED_TRACE(kind + " " + row.muxer);
        qvtest::TempDir dir;
        qvtest::MediaFile media;
        media.muxer = kind.rfind("rtsp", 0) == 0 || kind == "sdp" ? "matroska" : row.muxer;
        media.video.push_back(qvtest::VideoTrack{});
        media.frames = 50;
        const std::string path = dir.Path(std::string("clip.") + (media.muxer == "mpegts" ? "ts" : "mkv"));
        ASSERT_EQ(qvtest::WriteMediaFile(path, media), "");
        qvtest::ChildProcess sender;
        int fd = -1;
        qvtest::Watchdog watchdog(40000, "an interrupted " + kind + " source");
        const std::string name = StartSender(row, path, dir, sender, &fd);
        ASSERT_NE(name, "");
        QVDecoder decoder;
        decoder.QVDecoderSetTimeout(5000);
        if (kind == "rtsp-udp") decoder.QVDecoderSetNetworkOption("rtsp_transport", "udp");
        int opened = -1;
        // The HTTP sender listens once it has read its input.
        for (int attempt = 0; attempt < 50 && opened != 0; ++attempt) {
            opened = decoder.QVOpen(name.c_str());
            if (opened != 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_EQ(opened, 0);
        std::atomic<bool> done{false};
        std::thread interrupter([&] {
            while (!done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                decoder.QVInterrupt();
            }
        });
        std::vector<qvtest::Picture> pictures;
        int timeouts = 0;
        int result = 0;
        for (int call = 0; call < 5000; ++call) {
            result = decoder.QVDecodeFrame();
            if (result == 0) pictures.push_back(qvtest::HandedOutPicture(decoder));
            if (result == -10010) ++timeouts;
            if (result != 0 && result != -10002 && result != -10010 && result != 1) break;
        }
        done = true;
        interrupter.join();
        if (fd >= 0) close(fd);
        EXPECT_EQ(result, -10003);
        // Two seconds of pictures: each interrupt ended a call of its own.
        EXPECT_GE(timeouts, 5);
        std::vector<qvtest::Picture> want = qvtest::ReferencePictures(path);
        if ((kind == "rtsp-udp" || kind == "sdp") && !want.empty()) {
            // The sender's goodbye travels on a socket of its own and may overtake the last
            // picture's packets: that picture may come out incomplete, or not at all.
            if (pictures.size() == want.size()) pictures.pop_back();
            want.pop_back();
        }
        qvtest::ExpectSamePictures(pictures, want);
    }
}

INSTANTIATE_TEST_SUITE_P(EverySourceKind, SourceKindTest,
                         ::testing::Values(SourceRow{"rtsp-tcp", "matroska"}, SourceRow{"rtsp-udp", "matroska"},
                                           SourceRow{"sdp", "matroska"}, SourceRow{"http", "matroska"},
                                           SourceRow{"fifo", "matroska"}, SourceRow{"fifo", "mpegts"},
                                           SourceRow{"pipe", "mpegts"}),
                         [](const ::testing::TestParamInfo<SourceRow>& info) {
                             std::string name = std::string(info.param.kind) + "_" + info.param.muxer;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
