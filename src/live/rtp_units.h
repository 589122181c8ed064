// H.264 and HEVC over RTP, piece by piece: libavformat's depacketizer hands out each unit
// (or the units of an aggregation packet) behind start codes as its RTP packet arrives, and a
// unit fragmented over several RTP packets (FU-A, HEVC's FU) as one piece per packet, the
// first behind a start code and the unit header, the others bare. The marker bit that closes
// a picture is not handed on. The joiner puts the fragments of a unit back together and tells
// when what it holds is whole, so that the decoder gets a picture with its last unit instead
// of when the next picture starts.
//
// The decoders get whole pictures: HEVC's hands a picture out when its first slice starts
// it, and H.264's, given units one by one, conceals what a picture still lacks after each
// call (a picture of several slices came out flagged damaged, and the concealment cost
// time). The joiner holds all units of one time and lets them go together, when a piece of
// another time comes, or once the picture has as many slices as the pictures before it (two
// that a new time closed agreed on the count) and its last slice is whole.
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

    // Something is held and the piece belongs to another picture (time): what is held is
    // whole then and goes first.
    bool EndsHeld(int64_t pts) const { return held() && pts != pts_; }
    // Adds a piece: units behind a start code join the picture held, a bare fragment the unit
    // held. False for a bare fragment with nothing to join (its start was lost, or the held
    // picture was taken for whole too early, which stops such guesses for the stream), for a
    // slice of a picture already handed on (likewise), and for a picture beyond
    // kMaxUnitBytes: the piece is dropped.
    bool Add(const uint8_t* data, int size, int64_t pts);
    // What is held is whole already, told by the sizes of its pieces: fragmenting senders
    // cut a unit into fragments of one size and a shorter last one, so a piece shorter than
    // the fragment size ends its unit, and a unit behind a start code of another size than
    // a first fragment's was never fragmented. Until a fragmented unit taught the size, and
    // for a piece of exactly that size, the unit waits for the next piece. The picture also
    // needs as many slices as the pictures before it had.
    bool LooksWhole() const;
    bool held() const { return !bytes_.empty(); }
    // The decoder can start: parameter sets or a key slice came since the stream began (or
    // with its description). What comes before lacks them: a receiver joined mid-stream.
    bool started() const { return started_; }
    // The held picture as a packet for the decoder (its time, key flag when it holds an IDR
    // slice or parameter sets; HEVC: a random-access slice); valid until the next Add or
    // Clear.
    const AVPacket* unit();
    // The held unit was decoded (or given up).
    void Clear();
    // A new stream of the codec (AV_CODEC_ID_H264 or AV_CODEC_ID_HEVC): nothing held,
    // nothing learnt; `described`: its description brought the parameter sets.
    void Reset(int codec_id, bool described = false);

    static constexpr int kMaxUnitBytes = 32 << 20;
    // The most one picture may hold (at most kMaxUnitBytes): more than any real picture of the
    // stream's size. Past it, what is held is dropped and its memory given back.
    void set_max_bytes(int64_t bytes) { max_bytes_ = bytes < kMaxUnitBytes ? bytes : kMaxUnitBytes; }
    // Pictures dropped for their size since the last Reset.
    int64_t oversized() const { return oversized_; }

private:
    bool UnitLooksWhole() const;
    // Joins the piece to what is held; false (and nothing held) past kMaxUnitBytes.
    bool Append(const uint8_t* data, int size);

    std::vector<uint8_t> bytes_;  // the held unit(s), padded for libavcodec when handed out
    int64_t max_bytes_ = kMaxUnitBytes;
    int64_t oversized_ = 0;
    bool padded_ = false;         // unit() added the padding
    PacketPtr packet_;
    int64_t pts_ = 0;
    bool hevc_ = false;       // HEVC's unit types (else H.264's)
    int header_bytes_ = 1;    // unit header bytes (H.264 1, HEVC 2)
    int first_size_ = 0;      // size of the piece that started the last unit held
    int first_header_ = 0;    // start code and header bytes in front of the first fragment's data
    int last_size_ = 0;       // size of the last bare fragment joined, 0 when none
    int fragment_size_ = 0;   // the largest fragment seen that was not a unit's last: the sender's fragment size
    int slices_ = 0;          // slices held
    int slices_per_picture_ = 0;  // slices of the last two pictures a new time closed, 0 while they differ
    int last_slices_ = 0;         // slices of the last picture a new time closed
    bool key_ = false;        // a key unit is held
    bool starts_ = false;     // parameter sets or a key slice are held
    bool started_ = false;    // unit() handed out parameter sets or a key slice
    bool guessed_ = false;    // the last unit cleared was taken as whole by LooksWhole
    int64_t guessed_pts_ = 0;
    bool trusted_ = true;     // sizes may tell a whole unit (no guess proved wrong)
};

}  // namespace qv
