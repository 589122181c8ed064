#include "bitstream/hevc_sps.h"

#include "bitstream/length_prefixed.h"
#include "bitstream/hevc_config.h"
#include "bitstream/rbsp_reader.h"

namespace qv {
namespace {

// general or sub-layer profile fields: profile_space(2), tier_flag(1), profile_idc(5),
// profile_compatibility_flag[32], four source flags, 43 reserved or constraint bits and one
// more flag: 88 bits.
void SkipProfile(RbspReader& r) {
    r.u(32);
    r.u(32);
    r.u(24);
}

// The area inside the conformance window an SPS (the bytes after its two-byte NAL header)
// states, or 0.
int64_t SpsArea(const uint8_t* unit, int length) {
    RbspHead head(unit, length);
    RbspReader& r = head.reader;
    r.u(4);                                  // sps_video_parameter_set_id
    const uint32_t sub_layers = r.u(3);      // sps_max_sub_layers_minus1
    r.u(1);                                  // sps_temporal_id_nesting_flag
    SkipProfile(r);                          // profile_tier_level: general profile
    r.u(8);                                  // general_level_idc
    bool profile_present[8] = {};
    bool level_present[8] = {};
    for (uint32_t i = 0; i < sub_layers; ++i) {
        profile_present[i] = r.u(1);         // sub_layer_profile_present_flag
        level_present[i] = r.u(1);           // sub_layer_level_present_flag
    }
    if (sub_layers > 0) {
        for (uint32_t i = sub_layers; i < 8; ++i) r.u(2);  // reserved_zero_2bits
    }
    for (uint32_t i = 0; i < sub_layers; ++i) {
        if (profile_present[i]) SkipProfile(r);
        if (level_present[i]) r.u(8);        // sub_layer_level_idc
    }
    r.ue();                                  // sps_seq_parameter_set_id
    const uint32_t chroma = r.ue();          // chroma_format_idc
    const bool separate = chroma == 3 && r.u(1);  // separate_colour_plane_flag
    const int64_t width = r.ue();            // pic_width_in_luma_samples
    const int64_t height = r.ue();           // pic_height_in_luma_samples
    int64_t window[4] = {0, 0, 0, 0};
    if (r.u(1)) {                            // conformance_window_flag
        for (int64_t& offset : window) offset = r.ue();  // conf_win_left/right/top/bottom_offset
    }
    if (!r.ok()) return 0;
    // The window counts in chroma samples; the picture has the size inside it.
    const int64_t unit_x = !separate && (chroma == 1 || chroma == 2) ? 2 : 1;
    const int64_t unit_y = !separate && chroma == 1 ? 2 : 1;
    const int64_t cropped_width = width - unit_x * (window[0] + window[1]);
    const int64_t cropped_height = height - unit_y * (window[2] + window[3]);
    // A window larger than the picture is ignored by the decoder: so is it here.
    if (cropped_width <= 0 || cropped_height <= 0) return width * height;
    return cropped_width * cropped_height;
}

}  // namespace

int64_t HevcStatedPictureArea(const uint8_t* data, int length, int length_size) {
    int64_t largest = 0;
    ForEachUnit(data, length, length_size, [&largest](const uint8_t* unit, int size) {
        if (size < 2) return false;
        const int type = (unit[0] >> 1) & 0x3F;
        if (type < 32) return false;  // parameter sets come before the slices
        if (type == kHevcSps) {
            const int64_t area = SpsArea(unit + 2, size - 2);
            if (area > largest) largest = area;
        }
        return true;
    });
    return largest;
}

}  // namespace qv
