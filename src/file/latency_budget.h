// How late a live packet is, against the host's latency budget: the freshest packet seen
// sets the clock (a read that had to wait for its packet is known to be fresh), and a packet
// read later than that by more than the budget is passed over; far behind, everything up to
// the next key frame is.
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

    // Judges the packet just read: its arrival and its time on the stream's clock (µs),
    // whether it is a key frame, whether its read waited for it, and its own time (to count
    // each picture passed over once). True when its picture is to be passed over. Sets
    // `skip_started` when from now on the packets up to the next key frame are not decoded
    // at all: the decoder must forget the stream.
    bool Behind(int64_t arrival_us, int64_t stream_us, bool key, bool waited, int64_t pts, bool& skip_started);
    bool skipping_to_key() const { return skipping_to_key_; }
    int64_t skipped() const { return skipped_; }

private:
    int64_t max_us_ = 0;
    int64_t skipped_ = 0;
    bool offset_known_ = false;
    bool anchored_ = false;         // a read that waited for its packet set the clock
    int64_t min_offset_ = 0;        // least arrival minus stream time seen: the freshest packet
    bool skipping_to_key_ = false;  // packets dropped until the next key frame
    int64_t last_skipped_pts_ = INT64_MIN;
};

}  // namespace qv
