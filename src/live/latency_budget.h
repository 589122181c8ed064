// How late a live packet is, against the host's latency budget: the freshest packet seen
// sets the clock (a read that had to wait for its packet is known to be fresh), and a packet
// read later than that by more than the budget is passed over. When decoding itself cannot
// keep up (its measured cost per picture above the picture period, or the age still growing
// while pictures are passed over), everything up to the next key frame is dropped undecoded,
// early enough that the pictures handed out stay within the budget.
#pragma once

#include <cstdint>

namespace qv {

class LatencyBudget {
public:
    // The budget in milliseconds (0: off); -1 for a negative one.
    int Set(int ms);
    // A new source: what was learnt of the old one goes (the budget stays).
    void Reset();
    bool on() const { return max_us_ > 0; }

    // Judges the unit just read: its arrival and its time on the stream's clock (µs),
    // whether it is a key frame, whether its read waited for it, and its own time (to count
    // each picture passed over once). True when its picture is to be passed over (decoded
    // but not handed out) or dropped (skipping_to_key()). Sets `skip_started` when from now
    // on the packets up to the next key frame are not decoded at all: the decoder must
    // forget the stream.
    bool Behind(int64_t arrival_us, int64_t stream_us, bool key, bool waited, int64_t pts, bool& skip_started);
    // Wall-clock microseconds the decoder spent on the unit just judged; `picture`: a
    // picture came out of it (the cost of a picture is that of all its units).
    void Decoded(int64_t cost_us, bool picture);
    // A picture came out damaged (a reference or a piece of it was lost): it is not handed
    // out, and the stream starts again from the next key frame. The decoder must forget it.
    void SkipToKey(int64_t pts);
    bool skipping_to_key() const { return skipping_to_key_; }
    int64_t skipped() const { return skipped_; }

private:
    // Decoding alone catches up with the stream: passing pictures over brings them back
    // within the budget.
    bool KeepsUp(int64_t age) const;
    void Count(int64_t pts);

    int64_t max_us_ = 0;
    int64_t skipped_ = 0;
    bool offset_known_ = false;
    bool anchored_ = false;         // a read that waited for its packet set the clock
    int64_t min_offset_ = 0;        // least arrival minus stream time seen: the freshest packet
    bool skipping_to_key_ = false;  // packets dropped until the next key frame
    int64_t last_skipped_pts_ = INT64_MIN;
    int64_t last_stream_us_ = INT64_MIN;
    int64_t period_us_ = 0;         // the stream's picture period, learnt from its times
    int64_t cost_us_ = 0;           // decoding cost of a picture, smoothed
    int64_t unit_costs_us_ = 0;     // of the units of the picture being decoded so far
    bool unit_key_ = false;         // one of them is a key frame's (left out of the cost)
    int64_t passing_from_age_ = -1; // age when pictures began to be passed over, -1 when showing
};

}  // namespace qv
