#include "ps_writer.h"

#include <algorithm>

namespace qvtest {
namespace {

// Collects bits most significant first.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Put(uint64_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            current_ = static_cast<uint8_t>((current_ << 1) | ((value >> i) & 1));
            if (++count_ == 8) {
                out_.push_back(current_);
                current_ = 0;
                count_ = 0;
            }
        }
    }

private:
    std::vector<uint8_t>& out_;
    uint8_t current_ = 0;
    int count_ = 0;
};

void PutStartCode(std::vector<uint8_t>& out, int id) {
    out.insert(out.end(), {0x00, 0x00, 0x01, static_cast<uint8_t>(id)});
}

}  // namespace

void AppendPackHeader(std::vector<uint8_t>& out, uint64_t scr, int stuffing) {
    PutStartCode(out, 0xBA);
    BitWriter w(out);
    w.Put(1, 2);                  // '01'
    w.Put(scr >> 30, 3);          // SCR base 32..30
    w.Put(1, 1);                  // marker
    w.Put(scr >> 15, 15);         // SCR base 29..15
    w.Put(1, 1);                  // marker
    w.Put(scr, 15);               // SCR base 14..0
    w.Put(1, 1);                  // marker
    w.Put(0, 9);                  // SCR extension
    w.Put(1, 1);                  // marker
    w.Put(25000, 22);             // program mux rate
    w.Put(3, 2);                  // markers
    w.Put(0x1F, 5);               // reserved
    w.Put(stuffing, 3);           // pack stuffing length
    for (int i = 0; i < stuffing; ++i) w.Put(0xFF, 8);
}

void AppendSystemHeader(std::vector<uint8_t>& out, const std::vector<int>& stream_ids) {
    PutStartCode(out, 0xBB);
    BitWriter w(out);
    w.Put(6 + 3 * stream_ids.size(), 16);  // header length
    w.Put(1, 1);                           // marker
    w.Put(50000, 22);                      // rate bound
    w.Put(1, 1);                           // marker
    w.Put(1, 6);                           // audio bound
    w.Put(0, 4);                           // fixed, CSPS, audio lock, video lock
    w.Put(1, 1);                           // marker
    w.Put(1, 5);                           // video bound
    w.Put(0, 1);                           // packet rate restriction
    w.Put(0x7F, 7);                        // reserved
    for (int id : stream_ids) {
        w.Put(id, 8);                      // stream id
        w.Put(3, 2);                       // '11'
        w.Put(id >= 0xE0 ? 1 : 0, 1);      // buffer bound scale
        w.Put(id >= 0xE0 ? 232 : 32, 13);  // buffer size bound
    }
}

void AppendPesPacket(std::vector<uint8_t>& out, int stream_id, const uint8_t* payload, int size,
                     int64_t pts, int stuffing) {
    const int header_data = pts >= 0 ? 5 : stuffing;
    PutStartCode(out, stream_id);
    BitWriter w(out);
    w.Put(3 + header_data + size, 16);  // PES packet length
    w.Put(2, 2);                        // '10'
    w.Put(0, 2);                        // scrambling
    w.Put(0, 1);                        // priority
    w.Put(1, 1);                        // data alignment
    w.Put(0, 2);                        // copyright, original
    w.Put(pts >= 0 ? 2 : 0, 2);         // PTS DTS flags
    w.Put(0, 6);                        // ESCR .. extension flags
    w.Put(header_data, 8);              // header data length
    if (pts >= 0) {
        const uint64_t t = static_cast<uint64_t>(pts);
        w.Put(2, 4);
        w.Put(t >> 30, 3);
        w.Put(1, 1);
        w.Put(t >> 15, 15);
        w.Put(1, 1);
        w.Put(t, 15);
        w.Put(1, 1);
    } else {
        for (int i = 0; i < stuffing; ++i) w.Put(0xFF, 8);
    }
    out.insert(out.end(), payload, payload + size);
}

void AppendPes(std::vector<uint8_t>& out, int stream_id, const std::vector<uint8_t>& payload,
               int64_t pts) {
    size_t offset = 0;
    do {
        const bool first = offset == 0;
        const int header_data = first && pts >= 0 ? 5 : 2;
        const size_t room = 65535 - 3 - header_data;
        const size_t chunk = std::min(room, payload.size() - offset);
        AppendPesPacket(out, stream_id, payload.data() + offset, static_cast<int>(chunk),
                        first ? pts : -1, 2);
        offset += chunk;
    } while (offset < payload.size());
}

std::vector<uint8_t> MakeCameraPack(const std::vector<uint8_t>& frame, bool key, int64_t pts,
                                    const std::vector<uint8_t>& audio) {
    std::vector<uint8_t> pack;
    AppendPackHeader(pack, static_cast<uint64_t>(pts), 0);
    if (key) AppendSystemHeader(pack, {0xE0, 0xC0});
    AppendPes(pack, 0xE0, frame, pts);
    if (!audio.empty()) AppendPes(pack, 0xC0, audio, pts);
    return pack;
}

}  // namespace qvtest
