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

PacedRtpSender::PacedRtpSender(int port, std::vector<EncodedPacket> pictures, int fps, int mtu, RtpPayload payload)
    : port_(port), pictures_(std::move(pictures)), fps_(fps), mtu_(mtu), payload_(payload) {}

PacedRtpSender::~PacedRtpSender() { Join(); }

void PacedRtpSender::Start(int delay_ms) {
    thread_ = std::thread([this, delay_ms] { Run(delay_ms); });
}

void PacedRtpSender::Join() {
    if (thread_.joinable()) thread_.join();
}

std::string PacedRtpSender::Sdp(int port, RtpPayload payload) {
    const std::string head = "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=camera\nc=IN IP4 127.0.0.1\nt=0 0\nm=video " +
                             std::to_string(port) + " RTP/AVP ";
    switch (payload) {
        case RtpPayload::kHevc:
            return head + "96\na=rtpmap:96 H265/90000\n";
        case RtpPayload::kJpeg:
            return head + "26\n";  // JPEG's static payload type, as cameras announce it
        case RtpPayload::kH264:
            break;
    }
    return head + "96\na=rtpmap:96 H264/90000\na=fmtp:96 packetization-mode=1\n";
}

std::string PacedRtpSender::SdpWithSets(int port, const std::vector<EncodedPacket>& pictures) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    auto base64 = [](const uint8_t* data, size_t size) {
        std::string out;
        for (size_t i = 0; i < size; i += 3) {
            const uint32_t n = static_cast<uint32_t>(data[i]) << 16 | (i + 1 < size ? data[i + 1] << 8 : 0) |
                               (i + 2 < size ? data[i + 2] : 0);
            for (size_t k = 0; k < 4; ++k) out += k <= size - i ? kDigits[(n >> (18 - 6 * k)) & 63] : '=';
        }
        return out;
    };
    std::string sets;
    for (const auto& unit : Units(pictures.at(0).data)) {
        const int type = unit.first[0] & 0x1f;
        if (type == 7 || type == 8) sets += (sets.empty() ? "" : ",") + base64(unit.first, unit.second);
    }
    std::string sdp = Sdp(port);
    sdp.pop_back();
    return sdp + ";sprop-parameter-sets=" + sets + "\n";
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

void PacedRtpSender::Send(int s, uint32_t time, bool marker, const uint8_t* head, size_t head_size,
                          const uint8_t* body, size_t body_size) {
    const sockaddr_in to = Loopback(port_);
    const uint8_t type = payload_ == RtpPayload::kJpeg ? 26 : 96;
    packet_.assign({0x80, static_cast<uint8_t>((marker ? 0x80 : 0) | type), static_cast<uint8_t>(seq_ >> 8),
                    static_cast<uint8_t>(seq_ & 0xff), static_cast<uint8_t>(time >> 24),
                    static_cast<uint8_t>(time >> 16), static_cast<uint8_t>(time >> 8), static_cast<uint8_t>(time),
                    kSsrc >> 24, (kSsrc >> 16) & 0xff, (kSsrc >> 8) & 0xff, kSsrc & 0xff});
    packet_.insert(packet_.end(), head, head + head_size);
    packet_.insert(packet_.end(), body, body + body_size);
    ++seq_;
    (void)s;
    (void)to;
    pending_.push_back(packet_);
}

void PacedRtpSender::Deliver(int s) {
    const sockaddr_in to = Loopback(port_);
    if (habits_.swapped && !sent_.empty()) {
        for (size_t i = 0; i + 1 < pending_.size(); i += 2) std::swap(pending_[i], pending_[i + 1]);
    }
    for (const std::vector<uint8_t>& packet : pending_) {
        for (int n = 0; n < (habits_.twice ? 2 : 1); ++n) {
            sendto(s, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
    }
    pending_.clear();
}

void PacedRtpSender::SendPicture(int s, int index) {
    if (std::find(lost_.begin(), lost_.end(), index) != lost_.end()) {
        seq_ = static_cast<uint16_t>(seq_ + 1);  // the receiver sees the gap
        sent_.push_back(MonotonicMicros());
        return;
    }
    const uint32_t time = RtpTime(habits_.one_time ? 0 : index, fps_, habits_.first_time);
    const std::vector<uint8_t>& picture = pictures_[static_cast<size_t>(index)].data;
    if (payload_ == RtpPayload::kJpeg) {
        SendJpeg(s, time, picture);
    } else {
        SendUnits(s, time, picture);
    }
    if (index == habits_.lose_fragment) {
        // The first fragment (start bit set) of the last fragmented unit.
        const bool hevc = payload_ == RtpPayload::kHevc;
        const size_t fu = hevc ? 14 : 13;
        for (size_t i = pending_.size(); i-- > 0;) {
            const std::vector<uint8_t>& p = pending_[i];
            const bool fragment = p.size() > fu && (hevc ? ((p[12] >> 1) & 0x3f) == 49 : (p[12] & 0x1f) == 28);
            if (fragment && (p[fu] & 0x80)) {
                pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
    }
    Deliver(s);
    sent_.push_back(MonotonicMicros());
}

void PacedRtpSender::SendUnits(int s, uint32_t time, const std::vector<uint8_t>& picture) {
    const bool hevc = payload_ == RtpPayload::kHevc;
    const size_t header = hevc ? 2 : 1;  // the unit header the fragments leave out
    auto units = Units(picture);
    if (habits_.sprop) {
        units.erase(std::remove_if(units.begin(), units.end(),
                                   [](const auto& u) { return (u.first[0] & 0x1f) == 7 || (u.first[0] & 0x1f) == 8; }),
                    units.end());
    }
    const size_t payload_max = static_cast<size_t>(mtu_) - 12;
    for (size_t u = 0; u < units.size(); ++u) {
        const bool last_unit = u + 1 == units.size();
        const uint8_t* nal = units[u].first;
        const size_t size = units[u].second;
        if (size <= payload_max) {
            Send(s, time, last_unit, nullptr, 0, nal, size);
            continue;
        }
        // H.264 FU-A: indicator (the unit's F and NRI bits, type 28), header (start, end,
        // type). HEVC FU: payload header (the unit's header with type 49), header (start,
        // end, type).
        for (size_t at = header; at < size;) {
            size_t most = payload_max - header - 1;
            if (habits_.varying_fragments) most = 100 + static_cast<size_t>(fragments_++ * 337) % (most - 100);
            const size_t piece = std::min(most, size - at);
            const bool end = at + piece == size;
            const uint8_t start_end = static_cast<uint8_t>((at == header ? 0x80 : 0) | (end ? 0x40 : 0));
            uint8_t head[3];
            if (hevc) {
                head[0] = static_cast<uint8_t>((nal[0] & 0x81) | (49 << 1));
                head[1] = nal[1];
                head[2] = static_cast<uint8_t>(start_end | ((nal[0] >> 1) & 0x3f));
            } else {
                head[0] = static_cast<uint8_t>((nal[0] & 0xe0) | 28);
                head[1] = static_cast<uint8_t>(start_end | (nal[0] & 0x1f));
            }
            Send(s, time, last_unit && end, head, header + 1, nal + at, piece);
            at += piece;
        }
    }
}

void PacedRtpSender::SendJpeg(int s, uint32_t time, const std::vector<uint8_t>& jpeg) {
    // What the payload carries of the JPEG: its quantization tables (in table order), the
    // size and sampling of its frame header, and the scan data behind the scan header.
    uint8_t tables[2][64] = {};
    int table_count = 0;  // one when luma and chroma share a table
    int width = 0, height = 0, type = 1;
    size_t scan = 0, scan_end = jpeg.size();
    for (size_t i = 2; i + 4 <= jpeg.size() && scan == 0;) {
        if (jpeg[i] != 0xff) break;
        const uint8_t marker = jpeg[i + 1];
        const size_t length = static_cast<size_t>(jpeg[i + 2] << 8 | jpeg[i + 3]);
        const uint8_t* segment = jpeg.data() + i + 4;
        if (marker == 0xdb) {  // DQT: Pq/Tq, 64 values, repeated
            for (size_t at = 0; at + 65 <= length - 2; at += 65) {
                const int id = segment[at] & 0x0f;
                if (id >= 2) continue;
                std::copy(segment + at + 1, segment + at + 65, tables[id]);
                table_count = std::max(table_count, id + 1);
            }
        } else if (marker == 0xc0) {  // SOF0: precision, height, width, components (id, sampling, table)
            height = segment[1] << 8 | segment[2];
            width = segment[3] << 8 | segment[4];
            type = segment[7] == 0x21 ? 0 : 1;  // 4:2:2 or 4:2:0
        } else if (marker == 0xda) {
            scan = i + 2 + length;
        }
        i += 2 + length;
    }
    if (scan_end >= 2 && jpeg[scan_end - 2] == 0xff && jpeg[scan_end - 1] == 0xd9) scan_end -= 2;  // EOI
    const size_t payload_max = static_cast<size_t>(mtu_) - 12 - 8;
    for (size_t at = scan; at < scan_end;) {
        // Main header: type-specific, fragment offset (24 bits), type, Q (255: tables
        // in band), width / 8, height / 8; the first packet adds the tables' header and tables.
        const size_t offset = at - scan;
        std::vector<uint8_t> head = {0, static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 8),
                                     static_cast<uint8_t>(offset), static_cast<uint8_t>(type), 255,
                                     static_cast<uint8_t>(width / 8), static_cast<uint8_t>(height / 8)};
        if (offset == 0) {
            // MBZ, precision (8 bits), length; libavformat takes two tables only: a shared
            // one goes twice.
            head.insert(head.end(), {0, 0, 0, 128});
            head.insert(head.end(), tables[0], tables[0] + 64);
            head.insert(head.end(), tables[table_count - 1], tables[table_count - 1] + 64);
        }
        const size_t piece = std::min(payload_max - (head.size() - 8), scan_end - at);
        Send(s, time, at + piece == scan_end, head.data(), head.size(), jpeg.data() + at, piece);
        at += piece;
    }
}

}  // namespace qvtest
