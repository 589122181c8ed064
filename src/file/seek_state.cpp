#include "file/seek_state.h"

#include <cmath>

namespace qv {

void SeekState::Start(int64_t target_us, int mode, bool from_start) {
    const double target = static_cast<double>(target_us) / 1000000.0;
    target_us_ = target_us;
    pending_ = true;
    from_start_ = from_start;
    key_seen_ = false;
    key_hidden_ = false;
    mode_ = mode;
    target_ = target;
    read_from_ = target;
    step_ = 0.0;
    key_packets_ = 0;
    step_backs_ = 0;
    read_past_ = false;
    candidate_ = -HUGE_VAL;
    floor_ = -HUGE_VAL;
}

bool SeekState::TakePacket(bool key, double seconds, bool hidden) {
    if (!pending_) return true;
    if (key) key_hidden_ = hidden;
    if (key && key_packets_++ == 0) first_key_ = seconds;
    // Packets come in decoding order, their recorded times rising: after this one, no key
    // picture at or before the target is left.
    if (seconds > target_) read_past_ = true;
    return from_start_ || key_packets_ > 0;
}

SeekState::Verdict SeekState::OnPicture(double seconds, bool key, bool whole, double key_packet_seconds) {
    if (!pending_) return Verdict::kDeliver;
    if (!key_seen_) {
        // Leading pictures of an open GOP refer to pictures before the key frame, and come
        // before it. A decoder that flags no key picture at all (the recovery points of an
        // intra-refresh stream) is trusted two key packets later: libavcodec's pictures
        // match a decoding from the start only after two whole refreshes.
        const bool refreshed = key_packets_ >= 3 && seconds >= key_packet_seconds;
        // A key frame an edit list hides (a cut that starts after it) is decoded but never
        // shown: the pictures shown after it stand in for it.
        const bool after_hidden_key = key_hidden_ && seconds >= key_packet_seconds;
        if (!from_start_ && (!whole || (!key && !refreshed && !after_hidden_key))) return Verdict::kDrop;
        key_seen_ = true;
        if (seconds > target_ && !from_start_) return Verdict::kEarlier;
        // A picture whole without a key flag (an intra refresh) is as near as such a stream
        // tells: the first one found.
        if (mode_ == QV_SEEK_KEY && !key) {
            pending_ = false;
            return Verdict::kDeliver;
        }
        if (mode_ == QV_SEEK_KEY) return KeyPicture(seconds, key_packet_seconds);
        if (seconds >= target_) {
            pending_ = false;
            return Verdict::kDeliver;
        }
        return Verdict::kDrop;
    }
    if (mode_ == QV_SEEK_KEY) {
        // Pictures come out in the order of their times: once one lies past the target, the
        // latest key picture before it is known.
        if (seconds > target_) return candidate_ != -HUGE_VAL ? Verdict::kFloor : Verdict::kDrop;
        return key && whole ? KeyPicture(seconds, key_packet_seconds) : Verdict::kDrop;
    }
    if (seconds < target_) return Verdict::kDrop;
    pending_ = false;
    return Verdict::kDeliver;
}

SeekState::Verdict SeekState::KeyPicture(double seconds, double key_packet_seconds) {
    const bool deliver = [&] {
        // Before the first key frame: the first picture. Found by the container for the
        // target itself: the key frame it found.
        if (seconds > target_ || (!from_start_ && step_backs_ == 0)) return true;
        if (floor_ != -HUGE_VAL) return seconds >= floor_;
        // A later key packet read already lies at or before the target.
        if (key_packet_seconds > seconds && key_packet_seconds <= target_) return false;
        return read_past_ || key_packet_seconds > target_;
    }();
    if (deliver) {
        pending_ = false;
        return Verdict::kDeliver;
    }
    if (floor_ == -HUGE_VAL) candidate_ = seconds;
    return Verdict::kDrop;
}

double SeekState::FloorTarget() {
    floor_ = candidate_;
    candidate_ = -HUGE_VAL;
    read_from_ = floor_;
    step_ = 0.0;
    return floor_;
}

bool SeekState::EarlierTarget(double* seconds, double earliest) {
    // Just before the first key packet read finds the key frame before it in an indexed
    // container; a container searched by timestamps may land behind it again (or on no key
    // packet at all), so each such attempt goes back twice as far as the one before.
    const double key = key_packets_ > 0 ? first_key_ : HUGE_VAL;
    if (key >= read_from_) step_ = step_ == 0.0 ? 0.1 : step_ * 2.0;
    read_from_ = (key < read_from_ ? key : read_from_) - step_ - 1e-6;
    *seconds = read_from_;
    // Before the first picture there is no key frame to find: reading from the start is
    // all that is left, and so it is after many attempts (a damaged file).
    if (read_from_ < earliest || step_backs_ >= kMaxStepBacks) return false;
    ++step_backs_;
    return true;
}

}  // namespace qv
