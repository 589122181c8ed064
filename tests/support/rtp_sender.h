// A paced RTP sender of pictures on 127.0.0.1, as a camera sends them: one picture every
// period, each cut into RTP packets, the last packet of a picture marked. H.264 (single units,
// FU-A fragments at the MTU), HEVC (single units, FU fragments) or JPEG (the scan data behind
// the JPEG payload header, quantization tables in the first packet). It logs when each
// picture's last packet left, on the clock av_gettime_relative() reads (CLOCK_MONOTONIC,
// microseconds), and says goodbye (RTCP BYE) at the end. Runs in a thread of its own, started
// and joined by its owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "media_factory.h"

namespace qvtest {

enum class RtpPayload { kH264, kHevc, kJpeg };

class PacedRtpSender {
public:
    // `port` takes RTP, port + 1 RTCP. The pictures are the encoder's packets (Annex B, or
    // baseline JPEG with the standard Huffman tables).
    PacedRtpSender(int port, std::vector<EncodedPacket> pictures, int fps, int mtu = 1400,
                   RtpPayload payload = RtpPayload::kH264);
    ~PacedRtpSender();
    PacedRtpSender(const PacedRtpSender&) = delete;
    PacedRtpSender& operator=(const PacedRtpSender&) = delete;

    // Starts sending after `delay_ms` (the receiver binds its ports first).
    void Start(int delay_ms);
    // Picture `index` is never sent, as if the network lost all its packets (call before
    // Start); its time in sent() is when it would have left.
    void Lose(int index) { lost_.push_back(index); }
    void Join();
    // When the last packet of picture i left, CLOCK_MONOTONIC microseconds (after Join).
    const std::vector<int64_t>& sent() const { return sent_; }
    // RTP timestamp (90 kHz) of picture i. Senders start at a random time; ours at a fixed
    // one that is not 0, which libavformat takes for "no base yet".
    static uint32_t RtpTime(int index, int fps) { return static_cast<uint32_t>(123456 + 90000LL * index / fps); }
    // A session description of the stream for a receiver on 127.0.0.1.
    static std::string Sdp(int port, RtpPayload payload = RtpPayload::kH264);

private:
    void Run(int delay_ms);
    void SendPicture(int socket, int index);
    void SendUnits(int socket, uint32_t time, const std::vector<uint8_t>& picture);
    void SendJpeg(int socket, uint32_t time, const std::vector<uint8_t>& picture);
    void Send(int socket, uint32_t time, bool marker, const uint8_t* head, size_t head_size, const uint8_t* body,
              size_t body_size);

    int port_;
    std::vector<EncodedPacket> pictures_;
    int fps_;
    int mtu_;
    RtpPayload payload_;
    uint16_t seq_ = 1000;
    std::vector<uint8_t> packet_;
    std::vector<int64_t> sent_;
    std::vector<int> lost_;
    std::thread thread_;
};

}  // namespace qvtest
