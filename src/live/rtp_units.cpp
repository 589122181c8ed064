#include "live/rtp_units.h"

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

struct Units {
    int slices = 0;  // H.264: types 1-5; HEVC: types 0-31
    bool key = false;
    bool starts = false;  // the decoder can start here: key slices or parameter sets
};

// The units behind the start codes of a piece (an aggregation packet brings several). Key:
// H.264's IDR slices and parameter sets (types 5, 7, 8), HEVC's random-access slices (16-23),
// and HEVC's parameter sets (32-34) start a decoder too. A unit's bytes never hold a start
// code, so each one found begins a unit.
Units ScanUnits(const uint8_t* data, int size, bool hevc) {
    Units units;
    for (int i = 0; i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
        if (hevc) {
            // forbidden_zero_bit: 1, nal_unit_type: 6, nuh_layer_id: 6, nuh_temporal_id_plus1: 3
            const int type = (data[i + 3] >> 1) & 0x3f;
            if (type < 32) ++units.slices;
            if (type >= 16 && type <= 23) units.key = true;
            if (units.key || (type >= 32 && type <= 34)) units.starts = true;
        } else {
            // forbidden_zero_bit: 1, nal_ref_idc: 2, nal_unit_type: 5
            const int type = data[i + 3] & 0x1f;
            if (type >= 1 && type <= 5) ++units.slices;
            if (type == 5 || type == 7 || type == 8) units.key = units.starts = true;
        }
        i += 2;
    }
    return units;
}

}  // namespace

RtpUnitJoiner::RtpUnitJoiner() : packet_(av_packet_alloc()) {}

RtpUnitJoiner::~RtpUnitJoiner() = default;

bool RtpUnitJoiner::Append(const uint8_t* data, int size) {
    if (static_cast<int64_t>(bytes_.size()) + size > max_bytes_) {
        Clear();
        // A hostile sender's picture must not keep its memory for the object's life.
        std::vector<uint8_t>().swap(bytes_);
        ++oversized_;
        return false;
    }
    bytes_.insert(bytes_.end(), data, data + size);
    return true;
}

bool RtpUnitJoiner::Add(const uint8_t* data, int size, int64_t pts) {
    if (!data || size <= 0) return true;
    const int start = StartCodeLength(data, size);
    if (!held() && guessed_ && pts == guessed_pts_) {
        // A piece of the picture handed on: a slice, or the rest of one, shows that the
        // guess came too early (the decoder has started and shown the picture without it);
        // units without picture data (a suffix SEI, an end of sequence) are not missed.
        if (start == 0 || ScanUnits(data, size, hevc_).slices > 0) {
            trusted_ = false;
            return false;
        }
        return true;
    }
    if (start == 0) {
        if (!held()) return false;
        // The piece before this one was a fragment, and not the last: its size is the
        // sender's fragment size.
        const int before = last_size_ > 0 ? last_size_ : first_size_ - first_header_;
        if (!Append(data, size)) return false;
        if (before > fragment_size_) fragment_size_ = before;
        last_size_ = size;
        return true;
    }
    if (held() && pts == pts_) {
        // Another unit of the picture held.
        if (!Append(data, size)) return false;
    } else {
        Clear();
        bytes_.assign(data, data + size);
        pts_ = pts;
    }
    first_size_ = size;
    first_header_ = start + header_bytes_;  // the unit header the depacketizer puts back
    last_size_ = 0;
    const Units units = ScanUnits(data, size, hevc_);
    slices_ += units.slices;
    key_ = key_ || units.key;
    starts_ = starts_ || units.starts;
    return true;
}

bool RtpUnitJoiner::UnitLooksWhole() const {
    if (last_size_ > 0) return last_size_ < fragment_size_;
    return first_size_ != first_header_ + fragment_size_;
}

bool RtpUnitJoiner::LooksWhole() const {
    if (!held() || !trusted_ || fragment_size_ == 0 || !UnitLooksWhole()) return false;
    return slices_per_picture_ > 0 && slices_ >= slices_per_picture_;
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
    p->flags = key_ ? AV_PKT_FLAG_KEY : 0;
    started_ = started_ || starts_;
    return p;
}

void RtpUnitJoiner::Clear() {
    if (held()) {
        guessed_ = LooksWhole();
        guessed_pts_ = pts_;
        // A picture closed by the next time (or the stream's end) tells how many slices
        // the sender cuts a picture into; the count is trusted once two pictures agree.
        if (!guessed_) {
            slices_per_picture_ = slices_ == last_slices_ ? slices_ : 0;
            last_slices_ = slices_;
        }
    }
    bytes_.clear();
    padded_ = false;
    last_size_ = 0;
    first_size_ = 0;
    slices_ = 0;
    key_ = false;
    starts_ = false;
}

void RtpUnitJoiner::Reset(int codec_id, bool described) {
    Clear();
    hevc_ = codec_id == AV_CODEC_ID_HEVC;
    header_bytes_ = hevc_ ? 2 : 1;
    max_bytes_ = kMaxUnitBytes;
    oversized_ = 0;
    fragment_size_ = 0;
    slices_per_picture_ = 0;
    last_slices_ = 0;
    started_ = described;
    guessed_ = false;
    trusted_ = true;
}

}  // namespace qv
