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

// What a sender or its network does unlike a well-behaved camera on a quiet network.
struct RtpHabits {
    uint32_t first_time = 123456;  // RTP time of the first picture
    bool one_time = false;         // every picture at the first time (markers still right)
    bool twice = false;            // every packet delivered twice
    bool swapped = false;          // packets delivered in swapped pairs, after the first picture
    bool varying_fragments = false;  // FU fragments of sizes that change from one to the next
    int lose_fragment = -1;        // this picture loses the first fragment of its last fragmented unit
    bool sprop = false;            // parameter sets only in the session description (H.264)
};

class PacedRtpSender {
public:
    // `port` takes RTP, port + 1 RTCP. The pictures are the encoder's packets (Annex B, or
    // baseline JPEG with the standard Huffman tables).
    PacedRtpSender(int port, std::vector<EncodedPacket> pictures, int fps, int mtu = 1400,
                   RtpPayload payload = RtpPayload::kH264);
    ~PacedRtpSender();
    PacedRtpSender(const PacedRtpSender&) = delete;
    PacedRtpSender& operator=(const PacedRtpSender&) = delete;

    void set_habits(const RtpHabits& habits) { habits_ = habits; }
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
    static uint32_t RtpTime(int index, int fps, uint32_t first = 123456) {
        return static_cast<uint32_t>(first + 90000LL * index / fps);
    }
    // A session description of the stream for a receiver on 127.0.0.1.
    static std::string Sdp(int port, RtpPayload payload = RtpPayload::kH264);
    // The same, with the H.264 parameter sets of these pictures in sprop-parameter-sets.
    static std::string SdpWithSets(int port, const std::vector<EncodedPacket>& pictures);

private:
    void Run(int delay_ms);
    void SendPicture(int socket, int index);
    void SendUnits(int socket, uint32_t time, const std::vector<uint8_t>& picture);
    void SendJpeg(int socket, uint32_t time, const std::vector<uint8_t>& picture);
    void Deliver(int socket);  // the picture's packets, as the habits deliver them
    void Send(int socket, uint32_t time, bool marker, const uint8_t* head, size_t head_size, const uint8_t* body,
              size_t body_size);

    int port_;
    std::vector<EncodedPacket> pictures_;
    int fps_;
    int mtu_;
    RtpPayload payload_;
    uint16_t seq_ = 1000;
    std::vector<uint8_t> packet_;
    std::vector<std::vector<uint8_t>> pending_;  // the picture's packets
    RtpHabits habits_;
    int fragments_ = 0;  // fragments sent, for varying sizes
    std::vector<int64_t> sent_;
    std::vector<int> lost_;
    std::thread thread_;
};

}  // namespace qvtest
