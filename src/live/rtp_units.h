// H.264 and HEVC over RTP, piece by piece: libavformat's depacketizer hands out each unit
// (or the units of an aggregation packet) behind start codes as its RTP packet arrives, and a
// unit fragmented over several RTP packets (FU-A, HEVC's FU) as one piece per packet, the
// first behind a start code and the unit header, the others bare. Neither the marker bit that
// closes a picture nor a fragment's end bit is handed on (libavformat 5.1 drops both).
//
// The decoders get whole pictures: HEVC's hands a picture out when its first slice starts
// it, and H.264's, given units one by one, conceals what a picture still lacks after each
// call. The joiner tells pictures apart by their content: a new picture starts where the
// codec says an access unit starts (a delimiter; parameter sets or SEI after a slice; H.264's
// first_mb_in_slice 0; HEVC's first_slice_segment_in_pic_flag), and where the RTP time
// changes. A picture is whole once the next one starts, or earlier, when what the sender did
// so far says so: its fragments have one size (a shorter piece ends a unit) and its pictures
// of the same kind (key or not) had as many slices as this one holds. A guess proved wrong
// (another slice of the picture comes) is learnt again from the next pictures.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "base/ffmpeg_deleters.h"

namespace qv {

class RtpUnitJoiner {
public:
    RtpUnitJoiner();
    ~RtpUnitJoiner();
    RtpUnitJoiner(const RtpUnitJoiner&) = delete;
    RtpUnitJoiner& operator=(const RtpUnitJoiner&) = delete;

    // Adds a piece. False when data was lost before it: a bare fragment whose start never
    // came, a slice of a picture already handed on, a picture past kMaxUnitBytes, or a
    // picture that lacks its first slice. A piece the network delivered twice (the same
    // bytes and time again right behind) is dropped.
    bool Add(const uint8_t* data, int size, int64_t pts);
    // The first picture held is whole: the next one has started, or the sender's habits say
    // its last piece is in.
    bool ready() const;
    bool held() const { return !pictures_.empty(); }
    // The decoder can start: parameter sets or a key slice came since the stream began (or
    // with its description). What comes before lacks them: a receiver joined mid-stream.
    bool started() const { return started_; }
    // The first picture held as a packet for the decoder (its time, key flag when it holds
    // an IDR slice; HEVC: a random-access slice); valid until the next Add or Clear.
    const AVPacket* unit();
    // The first picture held was decoded (or given up); the next one moves up.
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
    struct Picture {
        std::vector<uint8_t> bytes;
        int64_t pts = 0;
        int slices = 0;
        bool key = false;     // an IDR (HEVC: random-access) slice
        bool intra = false;   // its first slice is an I slice (or key)
        bool starts = false;  // parameter sets or a key slice
        bool open = false;    // its last unit came as one piece that may be a unit's first fragment
        int last_piece = 0;   // payload bytes of the last piece (fragment, or unit without start code and header)
        bool last_bare = false;  // the last piece was a bare fragment
        bool whole_unit = false;  // the last unit came in an aggregation packet: whole
        int index = 0;            // 1 for the first picture of the stream
        bool lost = false;        // the network lost a piece of it
    };
    // What a unit says of the picture it belongs to.
    struct UnitFacts {
        bool slice = false;
        bool first_slice = false;  // it starts a picture
        bool before_slices = false;  // delimiters, parameter sets, SEI: they come before a picture's slices
        bool key = false;
        bool intra = false;
        bool starts = false;
    };
    UnitFacts Facts(const uint8_t* unit, int size) const;
    bool AddUnits(const uint8_t* data, int size, int64_t pts);
    bool AddFragment(const uint8_t* data, int size);
    void BeginPicture(int64_t pts);
    int Kind(const Picture& picture) const { return picture.key ? 0 : picture.intra ? 1 : 2; }
    // Joins bytes to the last picture; false (and the picture dropped) past kMaxUnitBytes.
    bool Append(const uint8_t* data, int size);
    // The picture was whole with this many slices: the next one of its kind may be too.
    void Learn(int kind, int slices);
    bool LooksWhole(const Picture& picture) const;

    std::deque<Picture> pictures_;  // the first is handed out first; the last takes the pieces
    bool padded_ = false;           // unit() added the padding to the first picture
    int64_t max_bytes_ = kMaxUnitBytes;
    int64_t oversized_ = 0;
    PacketPtr packet_;
    std::vector<uint8_t> last_piece_;  // the piece before, to tell a duplicate
    int64_t last_piece_pts_ = 0;
    bool hevc_ = false;
    int header_bytes_ = 1;  // unit header bytes (H.264 1, HEVC 2)
    bool started_ = false;
    // The sender's fragment size: the size of fragments that more fragments of their unit
    // followed, trusted once several agreed.
    int fragment_size_ = 0;
    int fragment_agreed_ = 0;
    // Slices of the last two pictures of each kind (0 key, 1 intra, 2 other) closed by the
    // next picture; trusted while they agree.
    int slices_seen_[3][2] = {};
    int any_seen_[2] = {};  // of the last two pictures of any kind
    // The picture handed on before the next started, taken for whole by LooksWhole.
    int guessed_kind_ = 0;
    int guessed_slices_ = 0;
    int64_t guessed_pts_ = 0;
    bool after_guess_ = false;  // no picture started since the guess
    bool guess_wrong_ = false;  // a slice of the guessed picture came after it
    bool orphans_ = false;      // bare fragments are dropped until a unit starts
    // A sender whose first RTP time is 0: libavformat takes 0 for "no base yet" and counts
    // from the second time, so every picture after the first is a picture early.
    int pictures_seen_ = 0;
    int64_t first_pts_ = 0;
    int64_t pts_shift_ = 0;
    bool shift_pending_ = false;  // the second picture had the first one's time 0: the third tells
};

}  // namespace qv
