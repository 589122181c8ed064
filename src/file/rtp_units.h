// H.264 over RTP, piece by piece: libavformat's depacketizer hands out each unit (or the
// units of an aggregation packet) behind start codes as its RTP packet arrives, and a unit
// fragmented over several RTP packets (FU-A) as one piece per packet, the first behind a
// start code, the others bare. The marker bit that closes a picture is not handed on. The
// joiner puts the fragments of a unit back together and tells when the unit it holds is
// whole, so that the decoder (taking units, not pictures) finishes a picture with its last
// unit instead of when the next picture starts.
#pragma once

#include <cstdint>
#include <vector>

#include "base/ffmpeg_deleters.h"

namespace qv {

class RtpUnitJoiner {
public:
    RtpUnitJoiner();
    ~RtpUnitJoiner();
    RtpUnitJoiner(const RtpUnitJoiner&) = delete;
    RtpUnitJoiner& operator=(const RtpUnitJoiner&) = delete;

    // A unit is held and the piece cannot continue it: the piece starts units of its own or
    // belongs to another picture (time). The held unit is whole then and goes first.
    bool EndsHeld(const uint8_t* data, int size, int64_t pts) const;
    // Adds a piece: units behind a start code are held anew, a bare fragment joins the held
    // unit. False for a bare fragment with nothing to join (its start was lost, or the held
    // unit was taken for whole too early, which stops such guesses for the stream) and for a
    // unit beyond kMaxUnitBytes: the piece is dropped.
    bool Add(const uint8_t* data, int size, int64_t pts);
    // The held unit is whole already, told by the sizes of its pieces: fragmenting senders
    // cut a unit into fragments of one size and a shorter last one, so a piece shorter than
    // the fragment size ends its unit, and a unit behind a start code of another size than
    // a first fragment's was never fragmented. Until a fragmented unit taught the size, and
    // for a piece of exactly that size, the unit waits for the next piece.
    bool LooksWhole() const;
    bool held() const { return !bytes_.empty(); }
    // The held unit as a packet for the decoder (its time, key flag for an IDR slice); valid
    // until the next Add or Clear.
    const AVPacket* unit();
    // The held unit was decoded (or given up).
    void Clear();
    // A new stream: nothing held, nothing learnt.
    void Reset();

    static constexpr int kMaxUnitBytes = 32 << 20;

private:
    std::vector<uint8_t> bytes_;  // the held unit(s), padded for libavcodec when handed out
    bool padded_ = false;         // unit() added the padding
    PacketPtr packet_;
    int64_t pts_ = 0;
    int first_size_ = 0;      // size of the piece that started the held unit
    int first_header_ = 0;    // start code and header bytes in front of the first fragment's data
    int last_size_ = 0;       // size of the last bare fragment joined, 0 when none
    int fragment_size_ = 0;   // the largest fragment seen that was not a unit's last: the sender's fragment size
    bool guessed_ = false;    // the last unit cleared was taken as whole by LooksWhole
    int64_t guessed_pts_ = 0;
    bool trusted_ = true;     // sizes may tell a whole unit (no guess proved wrong)
};

}  // namespace qv
