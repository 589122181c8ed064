#include "file/latency_budget.h"

namespace qv {

int LatencyBudget::Set(int ms) {
    if (ms < 0) return -1;
    max_us_ = static_cast<int64_t>(ms) * 1000;
    return 0;
}

void LatencyBudget::Reset() {
    skipped_ = 0;
    offset_known_ = false;
    anchored_ = false;
    skipping_to_key_ = false;
    last_skipped_pts_ = INT64_MIN;
}

bool LatencyBudget::Behind(int64_t arrival_us, int64_t stream_us, bool key, bool waited, int64_t pts,
                           bool& skip_started) {
    skip_started = false;
    // How much later than the freshest packet so far this one was read, against the
    // stream's own clock: what the host's slowness (and the socket's queue) added.
    // A packet whose read waited for it is known to be fresh: the first one anchors the
    // clock. Before one came (a host or machine behind from the start), the freshest so
    // far stands in; the probe holds back only its first picture.
    const int64_t offset = arrival_us - stream_us;
    if (offset_known_ && offset - min_offset_ > 60 * 1000000LL) offset_known_ = false;  // the sender restarted
    if (!anchored_ && waited) {
        anchored_ = true;
        offset_known_ = false;
    }
    if (!offset_known_ || offset < min_offset_) {
        min_offset_ = offset;
        offset_known_ = true;
    }
    const int64_t age = offset - min_offset_;
    // Far behind: even decoding without laying out does not catch up, so the pictures up
    // to the next key frame are not decoded at all (and none of them is handed out: they
    // would lack their references).
    if (age > 2 * max_us_ + 200000 && !key && !skipping_to_key_) {
        skipping_to_key_ = true;
        skip_started = true;
    }
    if (key) skipping_to_key_ = false;
    const bool behind = skipping_to_key_ || age > max_us_;
    if (behind && pts != last_skipped_pts_) {
        last_skipped_pts_ = pts;
        ++skipped_;
    }
    return behind;
}

}  // namespace qv
