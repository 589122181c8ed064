#include "bitstream/h264_sps.h"

#include "bitstream/annexb_units.h"

namespace qv {
namespace {

void SkipScalingList(RbspReader& r, int size) {
    int last = 8;
    int next = 8;
    for (int j = 0; j < size && r.ok(); ++j) {
        if (next != 0) next = (last + r.se() + 256) % 256;  // delta_scale
        last = next == 0 ? last : next;
    }
}

bool HighProfile(uint32_t profile) {
    return profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 || profile == 83 ||
           profile == 86 || profile == 118 || profile == 128 || profile == 138 || profile == 139 || profile == 134 ||
           profile == 135;
}

}  // namespace

bool ReadH264SpsHead(const uint8_t* unit, int length, H264SpsHead& sps) {
    RbspHead head(unit, length);
    RbspReader& r = head.reader;
    const uint32_t profile = r.u(8);  // profile_idc
    r.u(16);                          // constraint_set flags, reserved, level_idc
    r.ue();                           // seq_parameter_set_id
    bool separate = false;
    if (HighProfile(profile)) {
        const uint32_t chroma = r.ue();        // chroma_format_idc
        if (chroma == 3) separate = r.u(1);    // separate_colour_plane_flag
        r.ue();                                // bit_depth_luma_minus8
        r.ue();                                // bit_depth_chroma_minus8
        r.u(1);                                // qpprime_y_zero_transform_bypass_flag
        if (r.u(1)) {                          // seq_scaling_matrix_present_flag
            for (int i = 0; i < (chroma != 3 ? 8 : 12); ++i) {
                if (r.u(1)) SkipScalingList(r, i < 6 ? 16 : 64);  // seq_scaling_list_present_flag
            }
        }
    }
    const uint32_t log2_max_frame_num = r.ue() + 4;  // log2_max_frame_num_minus4
    const uint32_t poc_type = r.ue();                // pic_order_cnt_type
    if (poc_type == 0) {
        r.ue();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (poc_type == 1) {
        r.u(1);  // delta_pic_order_always_zero_flag
        r.se();  // offset_for_non_ref_pic
        r.se();  // offset_for_top_to_bottom_field
        const uint32_t cycle = r.ue();  // num_ref_frames_in_pic_order_cnt_cycle
        for (uint32_t i = 0; i < cycle && i < 256 && r.ok(); ++i) r.se();
    }
    r.ue();                                     // max_num_ref_frames
    const bool gaps = r.u(1);                   // gaps_in_frame_num_value_allowed_flag
    const uint32_t width_mbs = r.ue() + 1;      // pic_width_in_mbs_minus1
    const uint32_t height_units = r.ue() + 1;   // pic_height_in_map_units_minus1
    const bool frame_mbs_only = r.u(1);         // frame_mbs_only_flag
    if (!r.ok() || log2_max_frame_num > 16) return false;
    sps.log2_max_frame_num = static_cast<int>(log2_max_frame_num);
    sps.gaps_allowed = gaps;
    sps.separate_colour_planes = separate;
    sps.coded_width = 16LL * width_mbs;
    sps.coded_height = 16LL * height_units * (frame_mbs_only ? 1 : 2);
    return true;
}

int64_t H264StatedPictureArea(const uint8_t* data, int length) {
    int64_t largest = 0;
    ForEachAnnexBUnit(data, length, [&largest](const uint8_t* unit, int size) {
        const int type = unit[0] & 0x1F;
        if (type == 1 || type == 5) return false;  // parameter sets come before the slices
        H264SpsHead sps;
        if (type == 7 && ReadH264SpsHead(unit + 1, size - 1, sps) && sps.coded_width * sps.coded_height > largest) {
            largest = sps.coded_width * sps.coded_height;
        }
        return true;
    });
    return largest;
}

}  // namespace qv
