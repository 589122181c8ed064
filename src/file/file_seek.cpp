// Seeking in an open file and key-frame-only decoding: where reading restarts, which
// pictures a seek drops on the way to the one asked for.
#include <cmath>

#include "base/ffmpeg.h"
#include "file/file_session.h"

namespace qv {

int FileSession::Seek(int64_t time_us, int flags) {
    if (flags != QV_SEEK_ACCURATE && flags != QV_SEEK_KEY) return -1;
    file_.guard().NewCall();
    if (!file_.CanSeek()) return QV_ERR_NOT_SEEKABLE;
    audio_.Restart();
    raw_.Forget();  // a packet held for a larger raw buffer belongs to the old position
    const int64_t duration = file_.DurationMicros();
    // A container's length is only a hint of where the last picture lies: it may fall short of
    // it, and it often reaches a picture period (or more) past it. In the last second of it and
    // beyond, a key seek first looks, decoding as an accurate seek would, for a picture at or
    // after the time.
    constexpr int64_t kLookBefore = 1000000;
    if (flags == QV_SEEK_KEY && duration > 0 && time_us > file_.StreamStartMicros() + duration - kLookBefore) {
        // An interrupt or a timeout during the look ends the seek with it (the host seeks
        // again) rather than leaving the file at its end with pictures still to come.
        const int found = PictureFrom(time_us);
        if (found < 0) return found;
        if (found == 0) {
            // Past the last picture: nothing is left to hand out, as after the last picture.
            seek_.Cancel();
            video_.Restart();
            clock_.Restart();
            if (file_.SeekToEnd() == MediaFile::kTimedOut) {
                log_.Log("QVSeek: timed out.", 15);
                return QV_ERR_TIMEOUT;
            }
            if (video_.ready()) video_.StartDrain();
            return 0;
        }
    }
    seek_.Start(time_us, flags, false);
    seek_bytes_ = file_.bytes_read();
    const int moved = SeekContainer(static_cast<double>(time_us) / 1000000.0);
    if (moved != 0) {
        seek_.Cancel();
        return moved;
    }
    return 0;
}

int FileSession::PictureFrom(int64_t time_us) {
    seek_.Start(time_us, QV_SEEK_ACCURATE, false);
    seek_bytes_ = file_.bytes_read();
    const int moved = SeekContainer(static_cast<double>(time_us) / 1000000.0);
    if (moved != 0) {
        seek_.Cancel();
        return moved == QV_ERR_TIMEOUT ? moved : 0;
    }
    int result;
    do {
        result = DecodeFrame();
    } while (result != 0 && result != -10003 && result != -10010 && result != -10011);
    seek_.Cancel();
    audio_.Restart();
    if (result == -10010) log_.Log("QVSeek: timed out.", 15);
    if (result == -10010 || result == -10011) return result;
    return result == 0 ? 1 : 0;
}

int FileSession::SeekContainer(double seconds) {
    // Whatever the decoder holds belongs to the old position, and so does the damage it saw.
    video_.Restart();
    clock_.Restart();
    delivery_.StartStream();
    seek_.Reread();
    // The counted clock of pictures without times starts again from what comes first.
    untimed_us_ = INT64_MIN;
    last_picture_us_ = INT64_MIN;
    const int found = file_.SeekVideo(seconds);
    if (found == 0) return 0;
    if (found == MediaFile::kTimedOut) {
        log_.Log("QVSeek: timed out.", 15);
        return QV_ERR_TIMEOUT;
    }
    // Before the first key frame, or a container that cannot find the time: the start.
    seek_.ReadFromStart();
    return file_.SeekToStart() == 0 ? 0 : -1;
}

int FileSession::ReadEarlier() {
    // A seek never reads more than a decoding from the start would: once the attempts read
    // as many bytes as the file holds, the start it is.
    const int64_t size = file_.ByteSize();
    const bool costly = size > 0 && file_.bytes_read() - seek_bytes_ > size;
    double from = 0.0;
    if (!costly && seek_.EarlierTarget(&from, static_cast<double>(file_.StartMicros()) / 1000000.0)) {
        const int moved = SeekContainer(from);
        if (moved != -1) return moved;
    }
    seek_.ReadFromStart();
    // A file that cannot go back to its start is decoded on from where it is.
    if (SeekContainer(-HUGE_VAL) != 0) seek_.Cancel();
    return 0;
}

int FileSession::ReadFromFloor() {
    const double floor = seek_.FloorTarget();
    // Read from the start, it is read from the start again: the container's search, which
    // missed it before, may miss it again.
    if (seek_.from_start()) {
        seek_.ReadFromStart();
        if (SeekContainer(-HUGE_VAL) != 0) seek_.Cancel();
        return 0;
    }
    const int moved = SeekContainer(floor);
    if (moved == -1) seek_.Cancel();
    return moved;
}

int FileSession::DecodeKeyPacket(const AVPacket* packet) {
    // Only key frames are wanted, so the other packets never reach the decoder; each key
    // frame is drained out at once (no reordering delay to wait for: nothing follows it into
    // the decoder) and reports its presentation time.
    if (!(packet->flags & AV_PKT_FLAG_KEY)) return -10002;
    const double seconds = file_.VideoSeconds(packet->pts, file_.frame_time);
    int result = delivery_.DecodePacket(packet);
    if (result != 0) result = delivery_.Drain();
    video_.Restart();
    if (result != 0) return -10002;
    delivery_.KeepStreamGoing();
    file_.frame_time = seconds;
    const int64_t own = file_.VideoMicros(packet->pts);
    CountUntimedPicture(own != AV_NOPTS_VALUE ? own : file_.video_us());
    return 0;
}

void FileSession::SetFrameSkip(int mode) {
    const bool leaving_keys = video_.skip() == QV_SKIP_NONKEY && mode != QV_SKIP_NONKEY;
    video_.SetSkip(mode);
    // Until the next key frame, pictures refer to frames the decoder never saw.
    if (leaving_keys && file_mode()) delivery_.MarkReferenceMissing();
}

int FileSession::DecodeFrame() {
    // Each turn reads a packet (bounded by the file, and by one deadline for the whole call
    // on a source that can stall) or moves reading back (bounded by SeekState and the bytes
    // a seek may read); an interrupt or a timeout ends the call at once, a seek still
    // pending for the next.
    file_.guard().NewCall();
    // RTP units: the pieces of a picture (fragments, parameter sets, slices) make one call,
    // as the picture's packet did; bounded, so that a source that sends only such pieces
    // still lets the call return.
    constexpr int kPiecesPerCall = 1024;
    int pieces = 0;
    for (;;) {
        const int result = DecodeStep();
        if (!seek_.pending()) {
            // Packets held back from the decoder are no news to the host.
            if (result == -10002 && video_.skip() == QV_SKIP_NONKEY && !file_.draining) continue;
            if (result == -10002 && file_.rtp_units() && !file_.draining && ++pieces < kPiecesPerCall) continue;
            return result;
        }
        if (result == 0) {
            const bool key = (delivery_.picture_flags() & QV_PICTURE_KEY) != 0;
            const double seconds = static_cast<double>(PictureTime()) / 1000000.0;
            switch (seek_.OnPicture(seconds, key, delivery_.decoder_whole(), file_.key_presentation())) {
                case SeekState::Verdict::kDeliver:
                    return 0;
                case SeekState::Verdict::kDrop:
                    continue;
                case SeekState::Verdict::kEarlier:
                    if (ReadEarlier() == QV_ERR_TIMEOUT) return QV_ERR_TIMEOUT;
                    continue;
                case SeekState::Verdict::kFloor:
                    if (ReadFromFloor() == QV_ERR_TIMEOUT) return QV_ERR_TIMEOUT;
                    continue;
            }
        }
        if (result == 1 && seek_.KeepAudio(file_.frame_time)) {
            // Without video, the first audio from the time on ends the seek.
            if (!file_.video_stream()) seek_.Cancel();
            return 1;
        }
        if (result == -10003 && seek_.FloorAtEnd()) {
            if (ReadFromFloor() == QV_ERR_TIMEOUT) return QV_ERR_TIMEOUT;
            continue;
        }
        if (result == -10003 && seek_.EndReached() && file_.video_stream()) {
            if (ReadEarlier() == QV_ERR_TIMEOUT) return QV_ERR_TIMEOUT;
            continue;
        }
        if (result == -10003) {
            seek_.Cancel();
            return result;
        }
        // A timeout, an interrupt or a failed source: the host hears of it now.
        if (result != 0 && result != 1 && result != -10001 && result != -10002) return result;
    }
}

}  // namespace qv
