// One clock for the audio and the pictures of a live RTP sender. libavformat times each
// stream from its own first packet until that stream's own sender report arrives (a sender
// may send one only every few seconds), and from the report on (the packet then carries
// the sender's capture time) times it on the clock of the first report. Until both streams
// are timed by reports, the audio is moved onto the pictures' clock by when the packets of
// each stream arrive: a packet never arrives before its time, so the earliest arrival
// against its time tells each stream's offset from the arrival clock.
#pragma once

#include <cstdint>

namespace qv {

class StreamClock {
public:
    void Reset();
    // A packet of the video or the audio stream, its time (µs, its stream's), when it was
    // read (av_gettime_relative µs, no earlier than its arrival), whether it carries the
    // sender's capture time, and whether its read waited for it (it had just arrived).
    void Note(bool video, int64_t micros, int64_t arrival, bool reported, bool waited);
    // The offset is known: both streams are timed by reports, or each had a packet read as it
    // arrived (the packets the probe queued were all read at once, long after they came).
    bool settled() const;
    // Goes on with the offset known so far.
    void GiveUp() { gave_up_ = true; }
    // What to add to an audio time (µs) to put it on the pictures' clock.
    int64_t AudioShift() const;
    // The audio time (µs, already shifted) that goes out: never before the one before it,
    // as the offset settles.
    int64_t AudioOut(int64_t shifted);

private:
    // The earliest arrival of each stream against its time; INT64_MAX until a packet came.
    int64_t video_lead_ = INT64_MAX;
    int64_t audio_lead_ = INT64_MAX;
    bool video_reported_ = false;
    bool audio_reported_ = false;
    bool video_waited_ = false;
    bool audio_waited_ = false;
    bool gave_up_ = false;
    int64_t last_audio_ = INT64_MIN;
};

}  // namespace qv
