#include "live/stream_clock.h"

#include <algorithm>

namespace qv {

void StreamClock::Reset() { *this = StreamClock(); }

void StreamClock::Note(bool video, int64_t micros, int64_t arrival, bool reported, bool waited) {
    // The first stream timed by a report keeps its times across the change (libavformat
    // counts the report's clock from that stream's first packet), so its lead stays true; the
    // second one's times move, but then both are on one clock and the leads are not used.
    int64_t& lead = video ? video_lead_ : audio_lead_;
    lead = std::min(lead, arrival - micros);
    (video ? video_reported_ : audio_reported_) |= reported;
    (video ? video_waited_ : audio_waited_) |= waited;
}

int64_t StreamClock::AudioShift() const {
    // Both streams on the clock of the sender's reports: libavformat lined them up.
    if (video_reported_ && audio_reported_) return 0;
    if (video_lead_ == INT64_MAX || audio_lead_ == INT64_MAX) return 0;
    return audio_lead_ - video_lead_;
}

bool StreamClock::settled() const {
    return gave_up_ || (video_reported_ && audio_reported_) || (video_waited_ && audio_waited_);
}

int64_t StreamClock::AudioOut(int64_t shifted) {
    if (last_audio_ != INT64_MIN) shifted = std::max(shifted, last_audio_);
    last_audio_ = shifted;
    return shifted;
}

}  // namespace qv
