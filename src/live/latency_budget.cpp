#include "live/latency_budget.h"

#include <algorithm>

namespace qv {

int LatencyBudget::Set(int ms) {
    if (ms < 0) return -1;
    max_us_ = static_cast<int64_t>(ms) * 1000;
    return 0;
}

void LatencyBudget::Reset() {
    const int64_t max_us = max_us_;
    *this = LatencyBudget();
    max_us_ = max_us;
}

bool LatencyBudget::KeepsUp(int64_t age) const {
    if (period_us_ <= 0) return true;  // nothing known yet
    // Each picture passed over costs its decoding and gains a period: only decoding well
    // under the period catches up soon enough. And passing over that let the age grow by
    // a quarter of the budget (or a period) since it began has shown that it does not.
    if (cost_us_ * 4 > period_us_ * 3) return false;
    return passing_from_age_ < 0 || age <= passing_from_age_ + std::max(max_us_ / 4, period_us_);
}

void LatencyBudget::Count(int64_t pts) {
    if (pts == last_skipped_pts_) return;
    last_skipped_pts_ = pts;
    ++skipped_;
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
    // The picture period: the least step between the times of successive pictures.
    if (last_stream_us_ != INT64_MIN && stream_us > last_stream_us_ && stream_us - last_stream_us_ < 1000000) {
        const int64_t step = stream_us - last_stream_us_;
        period_us_ = period_us_ == 0 ? step : std::min(period_us_, step);
    }
    if (stream_us != last_stream_us_) last_stream_us_ = stream_us;

    if (key) {
        skipping_to_key_ = false;
        passing_from_age_ = -1;
    }
    // The picture would come out older than the budget once decoded (a quarter more than
    // the smoothed cost: it lags a rising load, and the host's reading of the picture takes
    // its share too). A key frame read within the budget is handed out whatever its
    // decoding costs: on a machine that can do no more, the key frames are what is left.
    const bool late = key ? age > max_us_ : age + cost_us_ + cost_us_ / 4 > max_us_;
    unit_key_ = unit_key_ || key;
    // Decoding cannot catch up (or far behind, where even decoding without laying out
    // does not): the pictures up to the next key frame are not decoded at all, and none
    // of them is handed out (they would lack their references).
    if (late && !key && !skipping_to_key_ && (!KeepsUp(age) || age > 2 * max_us_ + 200000)) {
        skipping_to_key_ = true;
        skip_started = true;
        unit_costs_us_ = 0;
        unit_key_ = false;
    }
    if (!late && !skipping_to_key_) passing_from_age_ = -1;
    if (late && !skipping_to_key_ && passing_from_age_ < 0) passing_from_age_ = age;
    const bool behind = skipping_to_key_ || late;
    if (behind) Count(pts);
    return behind;
}

void LatencyBudget::Decoded(int64_t cost_us, bool picture) {
    unit_costs_us_ += cost_us;
    if (!picture) return;
    // Smoothed over a few pictures, key frames (which cost several times as much) left out:
    // what the next picture will cost follows the load of the machine as it changes.
    if (!unit_key_) cost_us_ = cost_us_ == 0 ? unit_costs_us_ : cost_us_ + (unit_costs_us_ - cost_us_) / 4;
    unit_costs_us_ = 0;
    unit_key_ = false;
}

void LatencyBudget::SkipToKey(int64_t pts) {
    skipping_to_key_ = true;
    passing_from_age_ = -1;
    unit_costs_us_ = 0;
    unit_key_ = false;
    Count(pts);
}

}  // namespace qv
