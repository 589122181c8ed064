#include "file/seek_state.h"

namespace qv {

void SeekState::Start(double target, int mode, bool from_start) {
    pending_ = true;
    from_start_ = from_start;
    key_seen_ = false;
    mode_ = mode;
    target_ = target;
    read_from_ = target;
    step_ = 0.0;
    key_packet_seen_ = from_start;
}

bool SeekState::TakePacket(bool key) {
    if (!pending_ || key_packet_seen_) return true;
    key_packet_seen_ = key;
    return key;
}

SeekState::Verdict SeekState::OnPicture(double seconds, bool key) {
    if (!pending_) return Verdict::kDeliver;
    if (!key_seen_) {
        // Leading pictures of an open GOP refer to pictures before the key frame.
        if (!key) return Verdict::kDrop;
        key_seen_ = true;
        if (seconds > target_ && !from_start_) return Verdict::kEarlier;
        if (mode_ == kKey || seconds >= target_) {
            pending_ = false;
            return Verdict::kDeliver;
        }
        return Verdict::kDrop;
    }
    if (mode_ == kKey || seconds < target_) return Verdict::kDrop;
    pending_ = false;
    return Verdict::kDeliver;
}

bool SeekState::EarlierTarget(double key_packet_seconds, double* seconds) {
    // Just before the key packet finds the key frame before it in an indexed container; a
    // container searched by timestamps may land behind it again, so each further attempt
    // goes back twice as far.
    const double from = key_packet_seconds < read_from_ ? key_packet_seconds : read_from_;
    if (key_packet_seconds >= read_from_) step_ = step_ == 0.0 ? 0.1 : step_ * 2.0;
    read_from_ = from - step_ - 1e-6;
    *seconds = read_from_;
    return step_ < 1.0e6;
}

}  // namespace qv
