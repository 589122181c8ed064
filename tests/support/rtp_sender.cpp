#include "rtp_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>

namespace qvtest {

namespace {

constexpr uint32_t kSsrc = 0x51564443;

int64_t MonotonicMicros() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

// The NAL units of an Annex B picture, start codes removed.
std::vector<std::pair<const uint8_t*, size_t>> Units(const std::vector<uint8_t>& au) {
    std::vector<std::pair<const uint8_t*, size_t>> units;
    const size_t n = au.size();
    size_t start = SIZE_MAX;
    for (size_t i = 0; i + 3 <= n;) {
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
            if (start != SIZE_MAX) {
                size_t end = i;
                while (end > start && au[end - 1] == 0) --end;  // the zero of a four-byte start code
                units.emplace_back(au.data() + start, end - start);
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != SIZE_MAX && start < n) units.emplace_back(au.data() + start, n - start);
    return units;
}

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

}  // namespace

PacedRtpSender::PacedRtpSender(int port, std::vector<EncodedPacket> pictures, int fps, int mtu)
    : port_(port), pictures_(std::move(pictures)), fps_(fps), mtu_(mtu) {}

PacedRtpSender::~PacedRtpSender() { Join(); }

void PacedRtpSender::Start(int delay_ms) {
    thread_ = std::thread([this, delay_ms] { Run(delay_ms); });
}

void PacedRtpSender::Join() {
    if (thread_.joinable()) thread_.join();
}

std::string PacedRtpSender::Sdp(int port) {
    return "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=camera\nc=IN IP4 127.0.0.1\nt=0 0\nm=video " + std::to_string(port) +
           " RTP/AVP 96\na=rtpmap:96 H264/90000\na=fmtp:96 packetization-mode=1\n";
}

void PacedRtpSender::Run(int delay_ms) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    const auto period = std::chrono::microseconds(1000000 / fps_);
    auto next = std::chrono::steady_clock::now();
    for (size_t i = 0; i < pictures_.size(); ++i) {
        std::this_thread::sleep_until(next);
        SendPicture(s, static_cast<int>(i));
        next += period;
    }
    // An empty receiver report (libavformat reads no RTCP packet shorter than an RTP
    // header) and the goodbye: version 2, one source, types 201 and 203, one word each.
    const uint8_t bye[16] = {0x80, 201, 0, 1, kSsrc >> 24, (kSsrc >> 16) & 0xff, (kSsrc >> 8) & 0xff, kSsrc & 0xff,
                             0x81, 203, 0, 1, kSsrc >> 24, (kSsrc >> 16) & 0xff, (kSsrc >> 8) & 0xff, kSsrc & 0xff};
    const sockaddr_in rtcp = Loopback(port_ + 1);
    std::this_thread::sleep_until(next);
    sendto(s, bye, sizeof bye, 0, reinterpret_cast<const sockaddr*>(&rtcp), sizeof rtcp);
    close(s);
}

void PacedRtpSender::SendPicture(int s, int index) {
    if (std::find(lost_.begin(), lost_.end(), index) != lost_.end()) {
        seq_ = static_cast<uint16_t>(seq_ + 1);  // the receiver sees the gap
        sent_.push_back(MonotonicMicros());
        return;
    }
    const sockaddr_in to = Loopback(port_);
    const uint32_t time = RtpTime(index, fps_);
    const auto units = Units(pictures_[static_cast<size_t>(index)].data);
    const size_t payload_max = static_cast<size_t>(mtu_) - 12;
    std::vector<uint8_t> packet;
    auto send = [&](bool marker, const uint8_t* head, size_t head_size, const uint8_t* body, size_t body_size) {
        packet.assign({0x80, static_cast<uint8_t>((marker ? 0x80 : 0) | 96), static_cast<uint8_t>(seq_ >> 8),
                       static_cast<uint8_t>(seq_ & 0xff), static_cast<uint8_t>(time >> 24),
                       static_cast<uint8_t>(time >> 16), static_cast<uint8_t>(time >> 8), static_cast<uint8_t>(time),
                       kSsrc >> 24, (kSsrc >> 16) & 0xff, (kSsrc >> 8) & 0xff, kSsrc & 0xff});
        packet.insert(packet.end(), head, head + head_size);
        packet.insert(packet.end(), body, body + body_size);
        ++seq_;
        sendto(s, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    for (size_t u = 0; u < units.size(); ++u) {
        const bool last_unit = u + 1 == units.size();
        const uint8_t* nal = units[u].first;
        const size_t size = units[u].second;
        if (size <= payload_max) {
            send(last_unit, nullptr, 0, nal, size);
            continue;
        }
        // FU-A: indicator (the unit's F and NRI bits, type 28), header (start, end, type).
        for (size_t at = 1; at < size;) {
            const size_t piece = std::min(payload_max - 2, size - at);
            const bool end = at + piece == size;
            const uint8_t head[2] = {static_cast<uint8_t>((nal[0] & 0xe0) | 28),
                                     static_cast<uint8_t>((at == 1 ? 0x80 : 0) | (end ? 0x40 : 0) | (nal[0] & 0x1f))};
            send(last_unit && end, head, 2, nal + at, piece);
            at += piece;
        }
    }
    sent_.push_back(MonotonicMicros());
}

}  // namespace qvtest
