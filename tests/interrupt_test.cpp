// QVInterrupt is the one method another thread may call while a call on the same object
// runs: a blocked open or read gives up at once. Run under ThreadSanitizer by `make tsan`.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "QVDecoder.h"
#include "base/ffmpeg.h"
#include "file_factory.h"
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
        const auto [result, late] =
            InterruptAfter(decoder, std::chrono::milliseconds(300), [&] { return decoder.QVOpen(url.c_str()); });
        EXPECT_EQ(result, -10010);
        EXPECT_LT(late, kLatestMs);
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
    bytes.resize(bytes.size() / 2 / 188 * 188);
    qvtest::SilentTcpServer half(bytes);
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(("tcp://127.0.0.1:" + std::to_string(half.port())).c_str()), 0);
    // The pictures sent come out, then the read waits on the quiet connection.
    int pictures = 0;
    const auto [result, late] = InterruptAfter(decoder, std::chrono::milliseconds(1000), [&] {
        for (;;) {
            const int r = decoder.QVDecodeFrame();
            if (r == 0) ++pictures;
            if (r != 0 && r != -10002) return r;
        }
    });
    EXPECT_EQ(result, -10010);
    EXPECT_LT(late, kLatestMs);
    EXPECT_GT(pictures, 0);
    // The interrupt was for that call only: the object still reads (and waits) afterwards.
    decoder.QVDecoderSetTimeout(200);
    int next;
    while ((next = decoder.QVDecodeFrame()) == 0 || next == -10002) {
    }
    EXPECT_EQ(next, -10010);
}

}  // namespace
