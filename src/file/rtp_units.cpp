#include "file/rtp_units.h"

#include <cstring>

#include "base/ffmpeg.h"

namespace qv {

namespace {

// Bytes of the start code at the front of a piece (00 00 01 or 00 00 00 01), 0 for a bare
// fragment.
int StartCodeLength(const uint8_t* data, int size) {
    if (size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1) return 4;
    if (size >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1) return 3;
    return 0;
}

}  // namespace

RtpUnitJoiner::RtpUnitJoiner() : packet_(av_packet_alloc()) {}

RtpUnitJoiner::~RtpUnitJoiner() = default;

bool RtpUnitJoiner::EndsHeld(const uint8_t* data, int size, int64_t pts) const {
    return held() && (pts != pts_ || StartCodeLength(data, size) > 0);
}

bool RtpUnitJoiner::Add(const uint8_t* data, int size, int64_t pts) {
    if (!data || size <= 0) return true;
    const int start = StartCodeLength(data, size);
    if (start == 0) {
        if (!held()) {
            // The rest of a unit already decoded: its size fooled us, so sizes tell nothing
            // more of this sender.
            if (guessed_ && guessed_pts_ == pts) trusted_ = false;
            return false;
        }
        if (bytes_.size() + static_cast<size_t>(size) > kMaxUnitBytes) {
            Clear();
            return false;
        }
        // The piece before this one was a fragment, and not the last: its size is the
        // sender's fragment size.
        const int before = last_size_ > 0 ? last_size_ : first_size_ - first_header_;
        if (before > fragment_size_) fragment_size_ = before;
        last_size_ = size;
        bytes_.insert(bytes_.end(), data, data + size);
        return true;
    }
    Clear();
    bytes_.assign(data, data + size);
    pts_ = pts;
    first_size_ = size;
    first_header_ = start + 1;  // the unit header byte the depacketizer puts back
    last_size_ = 0;
    return true;
}

bool RtpUnitJoiner::LooksWhole() const {
    if (!held() || !trusted_ || fragment_size_ == 0) return false;
    if (last_size_ > 0) return last_size_ < fragment_size_;
    return first_size_ != first_header_ + fragment_size_;
}

const AVPacket* RtpUnitJoiner::unit() {
    // libavcodec may read the padding behind the data: zeros, held until Clear.
    const size_t size = bytes_.size() - (padded_ ? AV_INPUT_BUFFER_PADDING_SIZE : 0);
    if (!padded_) bytes_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    padded_ = true;
    AVPacket* p = packet_.get();
    av_packet_unref(p);
    p->data = bytes_.data();
    p->size = static_cast<int>(size);
    p->pts = pts_;
    p->dts = AV_NOPTS_VALUE;
    p->flags = 0;
    // Key: an IDR slice, or the parameter sets that come with one.
    const int start = StartCodeLength(bytes_.data(), p->size);
    const int type = start > 0 && p->size > start ? bytes_[static_cast<size_t>(start)] & 0x1f : 0;
    if (type == 5 || type == 7 || type == 8) p->flags = AV_PKT_FLAG_KEY;
    return p;
}

void RtpUnitJoiner::Clear() {
    if (held()) {
        guessed_ = LooksWhole();
        guessed_pts_ = pts_;
    }
    bytes_.clear();
    padded_ = false;
    last_size_ = 0;
    first_size_ = 0;
}

void RtpUnitJoiner::Reset() {
    Clear();
    fragment_size_ = 0;
    guessed_ = false;
    trusted_ = true;
}

}  // namespace qv
