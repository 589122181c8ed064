// Times of a file's video pictures when decoding threads or the end-of-file drain move a
// picture away from the packet that would have delivered it on one thread.
#pragma once

#include <cstdint>

namespace qv {

class PictureClock {
public:
    // At open: `lag` is how many packets later frame threads deliver a picture (0 without).
    void Reset(int lag);
    // After a seek: the times sent before are forgotten, the lag stays.
    void Restart() { Reset(lag_); }
    // A video packet went to the decoder, with the time recorded for it (the frame time and
    // its exact microseconds).
    void PacketSent(double seconds, int64_t micros);
    // The time of a picture delivered after a packet: with frame threads, the time of the
    // packet `lag` packets back, which one thread would have delivered it after.
    double PictureTime(double packet_time) const;
    int64_t PictureMicros(int64_t packet_us) const;
    // At the end of the file: the next picture that one thread would still have delivered
    // while reading gets that packet's time; false once none is left (a drained picture
    // then reports its own time).
    bool NextDrainedTime(double* seconds, int64_t* micros);

private:
    static constexpr int kSize = 128;  // more than the largest lag (64 threads)
    double ring_[kSize] = {};
    int64_t ring_us_[kSize] = {};
    long long sent_ = 0;     // packets sent since the open
    long long drained_ = 0;  // lagging times handed out by the drain
    int lag_ = 0;
};

}  // namespace qv
