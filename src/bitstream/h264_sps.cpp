#include "bitstream/h264_sps.h"

#include "bitstream/length_prefixed.h"

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
    const uint32_t sps_id = r.ue();   // seq_parameter_set_id
    bool separate = false;
    uint32_t chroma = 1;
    if (HighProfile(profile)) {
        chroma = r.ue();                       // chroma_format_idc
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
    uint32_t log2_max_poc_lsb = 0;
    bool always_zero = false;
    if (poc_type == 0) {
        log2_max_poc_lsb = r.ue() + 4;  // log2_max_pic_order_cnt_lsb_minus4
    } else if (poc_type == 1) {
        always_zero = r.u(1);  // delta_pic_order_always_zero_flag
        r.se();                // offset_for_non_ref_pic
        r.se();                // offset_for_top_to_bottom_field
        const uint32_t cycle = r.ue();  // num_ref_frames_in_pic_order_cnt_cycle
        for (uint32_t i = 0; i < cycle && i < 256 && r.ok(); ++i) r.se();  // offset_for_ref_frame
    }
    r.ue();                                     // max_num_ref_frames
    const bool gaps = r.u(1);                   // gaps_in_frame_num_value_allowed_flag
    const uint32_t width_mbs = r.ue() + 1;      // pic_width_in_mbs_minus1
    const uint32_t height_units = r.ue() + 1;   // pic_height_in_map_units_minus1
    const bool frame_mbs_only = r.u(1);         // frame_mbs_only_flag
    if (!frame_mbs_only) r.u(1);                // mb_adaptive_frame_field_flag
    r.u(1);                                     // direct_8x8_inference_flag
    int64_t crop[4] = {0, 0, 0, 0};
    if (r.u(1)) {                               // frame_cropping_flag
        for (int64_t& offset : crop) offset = r.ue();  // frame_crop_left/right/top/bottom_offset
    }
    if (!r.ok() || log2_max_frame_num > 16 || log2_max_poc_lsb > 16 || sps_id > 31 || chroma > 3 || poc_type > 2) {
        return false;
    }
    sps.sps_id = static_cast<int>(sps_id);
    sps.chroma_array_type = separate ? 0 : static_cast<int>(chroma);
    sps.log2_max_frame_num = static_cast<int>(log2_max_frame_num);
    sps.poc_type = static_cast<int>(poc_type);
    sps.log2_max_poc_lsb = static_cast<int>(log2_max_poc_lsb);
    sps.delta_pic_order_always_zero = always_zero;
    sps.gaps_allowed = gaps;
    sps.separate_colour_planes = separate;
    sps.frame_mbs_only = frame_mbs_only;
    sps.coded_width = 16LL * width_mbs;
    sps.coded_height = 16LL * height_units * (frame_mbs_only ? 1 : 2);
    // Cropping counts in chroma samples (and in field rows for field-coded sequences).
    const int64_t unit_x = sps.chroma_array_type == 1 || sps.chroma_array_type == 2 ? 2 : 1;
    const int64_t unit_y = (sps.chroma_array_type == 1 ? 2 : 1) * (frame_mbs_only ? 1 : 2);
    sps.width = sps.coded_width - unit_x * (crop[0] + crop[1]);
    sps.height = sps.coded_height - unit_y * (crop[2] + crop[3]);
    // A cropping larger than the picture is refused by the decoder, which then keeps the
    // coded size: so is the check.
    if (sps.width <= 0 || sps.height <= 0) {
        sps.width = sps.coded_width;
        sps.height = sps.coded_height;
    }
    return true;
}

int64_t H264StatedPictureArea(const uint8_t* data, int length, int length_size) {
    int64_t largest = 0;
    ForEachUnit(data, length, length_size, [&largest](const uint8_t* unit, int size) {
        const int type = unit[0] & 0x1F;
        if (type == 1 || type == 5) return false;  // parameter sets come before the slices
        H264SpsHead sps;
        if (type == 7 && ReadH264SpsHead(unit + 1, size - 1, sps) && sps.width * sps.height > largest) {
            largest = sps.width * sps.height;
        }
        return true;
    });
    return largest;
}

}  // namespace qv
