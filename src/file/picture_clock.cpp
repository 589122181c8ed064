#include "file/picture_clock.h"

namespace qv {

void PictureClock::Reset(int lag) {
    lag_ = lag < 0 ? 0 : (lag >= kSize ? kSize - 1 : lag);
    sent_ = 0;
    drained_ = 0;
}

void PictureClock::PacketSent(double seconds, int64_t micros) {
    ring_[sent_ % kSize] = seconds;
    ring_us_[sent_ % kSize] = micros;
    ++sent_;
    drained_ = 0;
}

double PictureClock::PictureTime(double packet_time) const {
    if (lag_ == 0 || sent_ <= lag_) return packet_time;
    return ring_[(sent_ - 1 - lag_) % kSize];
}

int64_t PictureClock::PictureMicros(int64_t packet_us) const {
    if (lag_ == 0 || sent_ <= lag_) return packet_us;
    return ring_us_[(sent_ - 1 - lag_) % kSize];
}

bool PictureClock::NextDrainedTime(double* seconds, int64_t* micros) {
    const long long available = sent_ < lag_ ? sent_ : lag_;
    if (drained_ >= available) return false;
    *seconds = ring_[(sent_ - available + drained_) % kSize];
    *micros = ring_us_[(sent_ - available + drained_) % kSize];
    ++drained_;
    return true;
}

}  // namespace qv
