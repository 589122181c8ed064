#include "live/rtp_units.h"

#include <cstring>

#include "base/ffmpeg.h"

namespace qv {

namespace {

// Fragments of one size that agree before the size tells a unit's end.
constexpr int kFragmentsAgreeing = 4;

// Bytes of the start code at the front of a piece (00 00 01 or 00 00 00 01), 0 for a bare
// fragment.
int StartCodeLength(const uint8_t* data, int size) {
    if (size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1) return 4;
    if (size >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1) return 3;
    return 0;
}

// The first bits of a unit's payload, emulation prevention bytes (00 00 03) taken out: enough
// for the two Exp-Golomb numbers a slice header starts with.
class HeaderBits {
public:
    HeaderBits(const uint8_t* data, int size) {
        int zeros = 0;
        for (int i = 0; i < size && bytes_ < static_cast<int>(sizeof buffer_); ++i) {
            if (zeros >= 2 && data[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = data[i] == 0 ? zeros + 1 : 0;
            buffer_[bytes_++] = data[i];
        }
    }
    // An unsigned Exp-Golomb number; -1 past the bytes read.
    int64_t Ue() {
        int zeros = 0;
        for (;;) {
            const int bit = Bit();
            if (bit < 0 || zeros > 31) return -1;
            if (bit == 1) break;
            ++zeros;
        }
        int64_t value = 0;
        for (int i = 0; i < zeros; ++i) {
            const int bit = Bit();
            if (bit < 0) return -1;
            value = value << 1 | bit;
        }
        return (int64_t{1} << zeros) - 1 + value;
    }

private:
    int Bit() {
        if (at_ >= bytes_ * 8) return -1;
        const int bit = (buffer_[at_ / 8] >> (7 - at_ % 8)) & 1;
        ++at_;
        return bit;
    }
    uint8_t buffer_[16] = {};
    int bytes_ = 0;
    int at_ = 0;
};

}  // namespace

RtpUnitJoiner::RtpUnitJoiner() : packet_(av_packet_alloc()) {}

RtpUnitJoiner::~RtpUnitJoiner() = default;

RtpUnitJoiner::UnitFacts RtpUnitJoiner::Facts(const uint8_t* unit, int size) const {
    UnitFacts facts;
    if (size < header_bytes_) return facts;
    if (hevc_) {
        // forbidden_zero_bit: 1, nal_unit_type: 6, nuh_layer_id: 6, nuh_temporal_id_plus1: 3
        const int type = (unit[0] >> 1) & 0x3f;
        if (type < 32) {
            facts.slice = true;
            facts.first_slice = size > 2 && (unit[2] & 0x80) != 0;  // first_slice_segment_in_pic_flag
            facts.key = facts.intra = facts.starts = type >= 16 && type <= 23;
        } else if (type >= 32 && type <= 34) {
            facts.before_slices = facts.starts = true;  // parameter sets
        } else {
            // Delimiter, prefix SEI, reserved types that come before a picture's slices.
            facts.before_slices = type == 35 || type == 39 || (type >= 41 && type <= 44) || (type >= 48 && type <= 55);
        }
        return facts;
    }
    // forbidden_zero_bit: 1, nal_ref_idc: 2, nal_unit_type: 5
    const int type = unit[0] & 0x1f;
    if (type >= 1 && type <= 5) {
        facts.slice = true;
        HeaderBits bits(unit + 1, size - 1);
        facts.first_slice = bits.Ue() == 0;  // first_mb_in_slice
        const int64_t slice_type = bits.Ue();
        facts.key = facts.starts = type == 5;
        facts.intra = facts.key || (slice_type >= 0 && (slice_type % 5 == 2 || slice_type % 5 == 4));
    } else if (type == 7 || type == 8) {
        facts.before_slices = facts.starts = true;  // parameter sets
    } else {
        // SEI, delimiter, sequence parameter set extension, prefix units and reserved types.
        facts.before_slices = type == 6 || type == 9 || (type >= 13 && type <= 18);
    }
    return facts;
}

bool RtpUnitJoiner::Append(const uint8_t* data, int size) {
    std::vector<uint8_t>& bytes = pictures_.back().bytes;
    if (bytes.size() + static_cast<size_t>(size) > static_cast<size_t>(max_bytes_)) {
        if (pictures_.size() == 1) padded_ = false;
        pictures_.pop_back();
        orphans_ = true;
        ++oversized_;
        return false;
    }
    bytes.insert(bytes.end(), data, data + size);
    return true;
}

void RtpUnitJoiner::Learn(int kind, int slices) {
    slices_seen_[kind][1] = slices_seen_[kind][0];
    slices_seen_[kind][0] = slices;
    any_seen_[1] = any_seen_[0];
    any_seen_[0] = slices;
}

void RtpUnitJoiner::BeginPicture(int64_t pts) {
    // The picture before is over: what it held, if nothing was lost, is what its kind holds.
    if (held() && !pictures_.back().lost && pictures_.back().slices > 0) {
        Learn(Kind(pictures_.back()), pictures_.back().slices);
    }
    if (after_guess_ && !guess_wrong_) Learn(guessed_kind_, guessed_slices_);
    after_guess_ = false;
    pictures_.emplace_back();
    Picture& picture = pictures_.back();
    picture.pts = pts;
    picture.index = ++pictures_seen_;
    if (picture.index == 1) {
        first_pts_ = pts;
    } else if (picture.index == 2) {
        shift_pending_ = first_pts_ == 0 && pts == 0;
    } else if (picture.index == 3 && shift_pending_) {
        // Two pictures at time 0, then a later time: the first RTP time was 0 and the times
        // count from the second picture's; a sender that gives every picture one time
        // stays at 0.
        if (pts > 0) pts_shift_ = pts;
        shift_pending_ = false;
    }
}

bool RtpUnitJoiner::AddFragment(const uint8_t* data, int size) {
    if (orphans_ || !held() || !pictures_.back().open) {
        // Its unit's first fragment was lost, or the picture went on as whole with the unit
        // ending in a shorter fragment: the size does not tell ends after all.
        if (after_guess_ && !guess_wrong_) fragment_agreed_ = 0;
        if (held()) pictures_.back().lost = true;
        orphans_ = true;
        return false;
    }
    Picture& picture = pictures_.back();
    // The piece before was a fragment that more of its unit followed: the sender's size.
    if (picture.last_piece == fragment_size_) {
        ++fragment_agreed_;
    } else {
        fragment_size_ = picture.last_piece;
        fragment_agreed_ = 1;
    }
    if (!Append(data, size)) return false;
    picture.last_piece = size;
    picture.last_bare = true;
    // A sender of one fragment size ends a unit with a shorter fragment: what follows it
    // bare lost its first fragment.
    if (fragment_agreed_ >= kFragmentsAgreeing && size < fragment_size_) picture.open = false;
    return true;
}

bool RtpUnitJoiner::AddUnits(const uint8_t* data, int size, int64_t pts) {
    orphans_ = false;
    bool whole = true;
    int units = 0;
    int last_begin = 0;
    // Each unit from its start code to the next: a unit's bytes never hold a start code.
    for (int i = 0; i < size;) {
        int next = size;
        for (int j = i + 3; j + 2 < size; ++j) {
            if (data[j] == 0 && data[j + 1] == 0 && data[j + 2] == 1) {
                next = data[j - 1] == 0 ? j - 1 : j;
                break;
            }
        }
        const int header = i + StartCodeLength(data + i, next - i);
        const UnitFacts facts = Facts(data + header, next - header);
        ++units;
        bool drop = false;
        if (!held() && after_guess_ && pts == guessed_pts_ && !facts.first_slice && !facts.before_slices) {
            // The picture handed on goes on: a slice of it shows the guess came too early (the
            // decoder has shown the picture without it); units without picture data (a
            // suffix SEI, an end of sequence) are not missed.
            if (facts.slice) {
                guess_wrong_ = true;
                slices_seen_[guessed_kind_][0] = slices_seen_[guessed_kind_][1] = 0;
                whole = false;
            }
            drop = true;
        } else if (!held() || pts != pictures_.back().pts ||
                   (pictures_.back().slices > 0 && (facts.first_slice || facts.before_slices))) {
            BeginPicture(pts);
            // A picture that starts with a later slice lost its first ones.
            if (facts.slice && !facts.first_slice) whole = false;
        }
        if (!drop) {
            if (!Append(data + i, next - i)) return false;
            Picture& picture = pictures_.back();
            if (facts.slice && picture.slices == 0) picture.intra = facts.intra;
            picture.slices += facts.slice ? 1 : 0;
            picture.key = picture.key || facts.key;
            picture.starts = picture.starts || facts.starts;
        }
        last_begin = header;
        i = next;
    }
    if (held()) {
        Picture& picture = pictures_.back();
        picture.lost = picture.lost || !whole;
        picture.open = units == 1;
        picture.whole_unit = units > 1;
        picture.last_piece = size - last_begin - header_bytes_;
        picture.last_bare = false;
    }
    return whole;
}

bool RtpUnitJoiner::Add(const uint8_t* data, int size, int64_t pts) {
    if (!data || size <= 0) return true;
    // The network delivered the piece before twice.
    if (static_cast<size_t>(size) == last_piece_.size() && pts == last_piece_pts_ &&
        std::memcmp(data, last_piece_.data(), last_piece_.size()) == 0) {
        return true;
    }
    last_piece_.assign(data, data + size);
    last_piece_pts_ = pts;
    return StartCodeLength(data, size) == 0 ? AddFragment(data, size) : AddUnits(data, size, pts);
}

bool RtpUnitJoiner::LooksWhole(const Picture& picture) const {
    if (fragment_agreed_ < kFragmentsAgreeing) return false;
    // Its last unit: a fragment shorter than the sender's size, or a unit too short (or too
    // long) to be a first fragment.
    if (picture.last_bare ? picture.last_piece >= fragment_size_
                          : !picture.whole_unit && picture.last_piece == fragment_size_) {
        return false;
    }
    // Two pictures of its kind agreed; or one did, as the last two of any kind did (key
    // pictures are rare, and most senders cut every picture alike).
    const int* seen = slices_seen_[Kind(picture)];
    const bool agreed = seen[0] == seen[1] || (seen[1] == 0 && seen[0] == any_seen_[0] && seen[0] == any_seen_[1]);
    return seen[0] > 0 && agreed && picture.slices >= seen[0];
}

bool RtpUnitJoiner::ready() const {
    if (pictures_.size() > 1) return true;
    if (!held()) return false;
    // The second picture waits to learn whether the first time was 0.
    if (shift_pending_ && pictures_.front().index == 2) return false;
    return LooksWhole(pictures_.front());
}

const AVPacket* RtpUnitJoiner::unit() {
    Picture& picture = pictures_.front();
    // libavcodec may read the padding behind the data: zeros, held until Clear.
    const size_t size = picture.bytes.size() - (padded_ ? AV_INPUT_BUFFER_PADDING_SIZE : 0);
    if (!padded_) picture.bytes.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    padded_ = true;
    AVPacket* p = packet_.get();
    av_packet_unref(p);
    p->data = picture.bytes.data();
    p->size = static_cast<int>(size);
    p->pts = picture.pts + (picture.index >= 2 ? pts_shift_ : 0);
    p->dts = AV_NOPTS_VALUE;
    p->flags = picture.key ? AV_PKT_FLAG_KEY : 0;
    started_ = started_ || picture.starts;
    return p;
}

void RtpUnitJoiner::Clear() {
    if (!held()) return;
    const Picture& picture = pictures_.front();
    if (pictures_.size() == 1 && LooksWhole(picture)) {
        // Handed on before the next picture started: that one tells whether it was whole.
        after_guess_ = true;
        guess_wrong_ = false;
        guessed_kind_ = Kind(picture);
        guessed_slices_ = picture.slices;
        guessed_pts_ = picture.pts;
    }
    pictures_.pop_front();
    padded_ = false;
}

void RtpUnitJoiner::Reset(int codec_id, bool described) {
    pictures_.clear();
    padded_ = false;
    last_piece_.clear();
    hevc_ = codec_id == AV_CODEC_ID_HEVC;
    header_bytes_ = hevc_ ? 2 : 1;
    max_bytes_ = kMaxUnitBytes;
    oversized_ = 0;
    started_ = described;
    fragment_size_ = 0;
    fragment_agreed_ = 0;
    std::memset(slices_seen_, 0, sizeof slices_seen_);
    any_seen_[0] = any_seen_[1] = 0;
    after_guess_ = false;
    guess_wrong_ = false;
    orphans_ = false;
    pictures_seen_ = 0;
    first_pts_ = 0;
    pts_shift_ = 0;
    shift_pending_ = false;
}

}  // namespace qv
