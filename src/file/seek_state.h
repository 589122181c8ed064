// What a file decode does between a seek and the picture asked for: pictures before the
// target are dropped, pictures before the first key frame are never shown (they may lack
// references), and a key frame found past the target sends reading further back.
#pragma once

#include <cmath>
#include <cstdint>

#include "QVDecoder.h"

namespace qv {

class SeekState {
public:
    // kFloor: key mode read past a key picture at or before the target that no later one
    // replaced: reading goes back to it (FloorTarget).
    enum class Verdict { kDrop, kDeliver, kEarlier, kFloor };

    // A seek to `target_us` on the picture clock (`mode` QV_SEEK_ACCURATE or QV_SEEK_KEY);
    // `from_start`: reading begins at the file's first packet, so whatever comes first is as
    // early as the file goes. Picture times are given in seconds as whole microseconds / 1e6:
    // that division keeps the order of the microseconds, so the comparisons stay exact.
    void Start(int64_t target_us, int mode, bool from_start);
    void Cancel() { pending_ = false; }
    bool pending() const { return pending_; }
    double target() const { return target_; }

    // A decoded picture during the seek, with its time, key-frame flag and whether the decoder
    // found it whole, and the presentation time of the last key packet read.
    Verdict OnPicture(double seconds, bool key, bool whole, double key_packet_seconds);
    // A video packet read during the seek, with its key flag, recorded time and whether the
    // container hides its picture (an edit list that starts after it): false while it is to be
    // kept from the decoder
    // (a container that found a time, not a key frame, may land on the pictures before one).
    bool TakePacket(bool key, double seconds, bool hidden = false);
    // The end of the file came during the seek: true when reading must start earlier (the
    // position reached held no key frame at all).
    bool EndReached() const { return pending_ && !from_start_ && !key_seen_; }
    // Key mode: the end of the file came after a key picture at or before the target that is
    // still to be handed out: true (FloorTarget next).
    bool FloorAtEnd() const { return pending_ && mode_ == QV_SEEK_KEY && candidate_ != -HUGE_VAL; }
    // After kFloor: the time of the key picture to read from, which the next reading hands
    // out; reading restarts where the container finds it.
    double FloorTarget();
    // Pictures before this time (µs) will be dropped, whatever they turn out to be; INT64_MIN
    // when none is sure to be.
    int64_t PassingBefore() const { return pending_ && mode_ == QV_SEEK_ACCURATE ? target_us_ : INT64_MIN; }
    // Audio of the seek: kept only from the target on.
    bool KeepAudio(double seconds) const { return seconds >= target_; }

    // After kEarlier (or an end with no key frame): the time to read from next; false when
    // only the file's start is earlier still: the time would lie before `earliest` (the
    // file's first picture, where no earlier key frame can be), or the step-backs so far
    // were many (kMaxStepBacks).
    static constexpr int kMaxStepBacks = 12;
    bool EarlierTarget(double* seconds, double earliest);
    bool from_start() const { return from_start_; }
    // Times reading was moved further back (or to the start) since the seek began.
    int step_backs() const { return step_backs_; }
    void ReadFromStart() {
        if (!from_start_) ++step_backs_;
        from_start_ = true;
        Reread();
    }
    // Reading starts again at the position the container found.
    void Reread() {
        key_seen_ = false;
        key_hidden_ = false;
        key_packets_ = 0;
        read_past_ = false;
        candidate_ = -HUGE_VAL;
    }

private:
    bool pending_ = false;
    bool from_start_ = false;
    bool key_seen_ = false;
    bool key_hidden_ = false;  // the last key packet read is one whose picture is never shown
    int key_packets_ = 0;     // key packets read since reading restarted
    int step_backs_ = 0;
    double first_key_ = 0.0;  // the recorded time of the first of them
    int mode_ = QV_SEEK_ACCURATE;
    double target_ = 0.0;
    int64_t target_us_ = 0;
    double read_from_ = 0.0;  // where the container was last asked to read from
    double step_ = 0.0;       // how much further back the next attempt goes
    // Key mode, reading from before the key frame the container found for the target (after
    // a step back, or from the start): the latest key picture at or before the target is
    // the one, which only reading on to the target tells.
    Verdict KeyPicture(double seconds, double key_packet_seconds);
    bool read_past_ = false;       // a packet recorded after the target was read
    double candidate_ = -HUGE_VAL; // the latest key picture at or before the target so far
    double floor_ = -HUGE_VAL;     // the key picture known to be the latest
};

}  // namespace qv
