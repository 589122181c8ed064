// What a file decode does between a seek and the picture asked for: pictures before the
// target are dropped, pictures before the first key frame are never shown (they may lack
// references), and a key frame found past the target sends reading further back.
#pragma once

namespace qv {

class SeekState {
public:
    enum Mode { kAccurate = 0, kKey = 1 };
    enum class Verdict { kDrop, kDeliver, kEarlier };

    // A seek to `target` seconds; `from_start`: reading begins at the file's first packet,
    // so whatever comes first is as early as the file goes.
    void Start(double target, int mode, bool from_start);
    void Cancel() { pending_ = false; }
    bool pending() const { return pending_; }
    double target() const { return target_; }

    // A decoded picture during the seek, with its time and key-frame flag.
    Verdict OnPicture(double seconds, bool key);
    // A video packet read during the seek: false while it is to be kept from the decoder
    // (a container that found a time, not a key frame, may land on the pictures before one).
    bool TakePacket(bool key);
    // The end of the file came during the seek: true when reading must start earlier (the
    // position reached held no key frame at all).
    bool EndReached() const { return pending_ && !from_start_ && !key_seen_; }
    // Audio of the seek: kept only from the target on.
    bool KeepAudio(double seconds) const { return seconds >= target_; }

    // After kEarlier: the time to read from next, given the time of the key packet that
    // came too late; false when only the file's start is earlier still.
    bool EarlierTarget(double key_packet_seconds, double* seconds);
    void ReadFromStart() {
        from_start_ = true;
        key_seen_ = false;
        key_packet_seen_ = true;
    }
    // Reading starts again at the position the container found.
    void Reread() {
        key_seen_ = false;
        key_packet_seen_ = from_start_;
    }

private:
    bool pending_ = false;
    bool from_start_ = false;
    bool key_seen_ = false;
    bool key_packet_seen_ = false;
    int mode_ = kAccurate;
    double target_ = 0.0;
    double read_from_ = 0.0;  // where the container was last asked to read from
    double step_ = 0.0;       // how much further back the next attempt goes
};

}  // namespace qv
