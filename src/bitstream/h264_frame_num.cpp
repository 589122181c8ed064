#include "bitstream/h264_frame_num.h"

#include "bitstream/length_prefixed.h"

namespace qv {

void H264FrameNumWatch::Reset() {
    have_last_ = false;
    previous_ = -1;
}

bool H264FrameNumWatch::Missing(const uint8_t* data, int length, int length_size) {
    if (!data || length <= 0) return false;
    bool missing = false;
    ForEachUnit(data, length, length_size, [&](const uint8_t* unit, int size) {
        missing = Unit(unit, size) || missing;
        return true;
    });
    return missing;
}

void H264FrameNumWatch::ReadConfig(const uint8_t* record, int length) {
    // configurationVersion, profile, compatibility, level, lengthSizeMinusOne: 5 x 8
    if (!record || length < 6 || record[0] != 1) return;
    int at = 5;
    for (int kind = 0; kind < 2; ++kind) {
        if (at >= length) return;
        // numOfSequenceParameterSets: 5 (behind 3 reserved bits), numOfPictureParameterSets: 8
        const int count = kind == 0 ? record[at] & 0x1F : record[at];
        ++at;
        for (int i = 0; i < count; ++i) {
            // sequenceParameterSetLength / pictureParameterSetLength: 16
            if (length - at < 2) return;
            const int size = (record[at] << 8) | record[at + 1];
            at += 2;
            if (size > length - at) return;
            if (size > 0) Unit(record + at, size);
            at += size;
        }
    }
}

bool H264FrameNumWatch::Unit(const uint8_t* unit, int size) {
    if (size < 2) return false;
    const int type = unit[0] & 0x1F;
    const int ref_idc = (unit[0] >> 5) & 3;
    if (type == 7) {
        H264SpsHead sps;
        // An unreadable set keeps what we knew of its id; its slices may then be misread,
        // which the checks of the slice header mostly catch.
        if (ReadH264SpsHead(unit + 1, size - 1, sps)) {
            sps_[sps.sps_id] = sps;
            sps_seen_[sps.sps_id] = true;
        }
        return false;
    }
    if (type == 8) {
        H264PpsHead pps;
        if (ReadH264PpsHead(unit + 1, size - 1, pps)) {
            pps_[pps.pps_id] = pps;
            pps_seen_[pps.pps_id] = true;
        }
        return false;
    }
    if (type == 1 || type == 5) return Slice(unit, size, type, ref_idc);
    return false;
}

bool H264FrameNumWatch::Slice(const uint8_t* unit, int size, int type, int ref_idc) {
    int first_mb = 0;
    const int pps_id = ReadH264SlicePpsId(unit + 1, size - 1, first_mb);
    // A picture starts at its first macroblock: later slices are not read further. A picture
    // whose first slice was lost goes unseen, and the number of the next one shows the jump:
    // data was lost indeed.
    if (first_mb != 0 && have_last_) return false;
    if (pps_id < 0 || !pps_seen_[pps_id] || !sps_seen_[pps_[pps_id].sps_id]) return false;
    const H264SpsHead& sps = sps_[pps_[pps_id].sps_id];
    H264SliceHead slice;
    if (!ReadH264SliceHead(unit + 1, size - 1, type, ref_idc, H264SliceContext{&sps, &pps_[pps_id]}, slice)) {
        // A header we cannot follow leaves the number unknown until the next reference picture.
        previous_ = -1;
        have_last_ = false;
        return false;
    }
    // Redundant slices repeat a picture already seen (or stand in for a lost one).
    if (slice.redundant_pic_cnt > 0) return false;
    const bool new_picture = !have_last_ || H264NewPicture(last_, last_type_, last_ref_idc_, slice, type, ref_idc);
    last_ = slice;
    last_type_ = type;
    last_ref_idc_ = ref_idc;
    have_last_ = true;
    if (!new_picture) return false;

    bool missing = false;
    if (type != 5 && previous_ >= 0 && !sps.gaps_allowed) {
        // A picture carries the last reference picture's number (the second field of a pair)
        // or the one after it (the next reference picture, and every non-reference one
        // before it).
        const int max = 1 << sps.log2_max_frame_num;
        missing = slice.frame_num != previous_ && slice.frame_num != (previous_ + 1) % max;
    }
    if (type == 5) {
        previous_ = 0;
    } else if (ref_idc != 0) {
        // After operation 5 the picture counts as number 0.
        previous_ = slice.resets_frame_num ? 0 : slice.frame_num;
    }
    return missing;
}

}  // namespace qv
