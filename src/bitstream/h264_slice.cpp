#include "bitstream/h264_slice.h"

#include "bitstream/rbsp_reader.h"

namespace qv {
namespace {

// More reference indices than a picture may have: the header is not one we can follow.
constexpr uint32_t kMaxRefIdx = 32;
// Bounds the loops of list modifications and marking operations on a damaged header.
constexpr int kMaxOperations = 66;

bool SkipRefPicListModification(RbspReader& r) {
    if (!r.u(1)) return true;  // ref_pic_list_modification_flag_lX
    for (int i = 0; i < kMaxOperations && r.ok(); ++i) {
        const uint32_t idc = r.ue();  // modification_of_pic_nums_idc
        if (idc == 3) return true;
        if (idc > 3) return false;
        r.ue();  // abs_diff_pic_num_minus1 or long_term_pic_num
    }
    return false;
}

void SkipWeights(RbspReader& r, uint32_t count, bool chroma) {
    for (uint32_t i = 0; i < count && r.ok(); ++i) {
        if (r.u(1)) {  // luma_weight_lX_flag
            r.se();    // luma_weight_lX
            r.se();    // luma_offset_lX
        }
        if (chroma && r.u(1)) {  // chroma_weight_lX_flag
            for (int j = 0; j < 2; ++j) {
                r.se();  // chroma_weight_lX
                r.se();  // chroma_offset_lX
            }
        }
    }
}

// dec_ref_pic_marking of a non-IDR picture: true when it is read, `reset` when operation 5
// is among its operations.
bool ReadAdaptiveMarking(RbspReader& r, bool& reset) {
    if (!r.u(1)) return true;  // adaptive_ref_pic_marking_mode_flag
    for (int i = 0; i < kMaxOperations && r.ok(); ++i) {
        const uint32_t op = r.ue();  // memory_management_control_operation
        if (op == 0) return true;
        if (op > 6) return false;
        if (op == 1 || op == 3) r.ue();  // difference_of_pic_nums_minus1
        if (op == 2) r.ue();             // long_term_pic_num
        if (op == 3 || op == 6) r.ue();  // long_term_frame_idx
        if (op == 4) r.ue();             // max_long_term_frame_idx_plus1
        if (op == 5) reset = true;
    }
    return false;
}

}  // namespace

bool ReadH264PpsHead(const uint8_t* unit, int length, H264PpsHead& pps) {
    RbspHead head(unit, length);
    RbspReader& r = head.reader;
    const uint32_t pps_id = r.ue();      // pic_parameter_set_id
    const uint32_t sps_id = r.ue();      // seq_parameter_set_id
    r.u(1);                              // entropy_coding_mode_flag
    const bool bottom = r.u(1);          // bottom_field_pic_order_in_frame_present_flag
    const uint32_t groups = r.ue() + 1;  // num_slice_groups_minus1
    if (groups > 8) return false;
    if (groups > 1) {
        const uint32_t map_type = r.ue();  // slice_group_map_type
        if (map_type == 0) {
            for (uint32_t i = 0; i < groups; ++i) r.ue();  // run_length_minus1
        } else if (map_type == 2) {
            for (uint32_t i = 0; i + 1 < groups; ++i) {
                r.ue();  // top_left
                r.ue();  // bottom_right
            }
        } else if (map_type >= 3 && map_type <= 5) {
            r.u(1);  // slice_group_change_direction_flag
            r.ue();  // slice_group_change_rate_minus1
        } else if (map_type == 6) {
            const uint32_t units = r.ue() + 1;  // pic_size_in_map_units_minus1
            int bits = 0;
            while ((1u << bits) < groups) ++bits;
            for (uint32_t i = 0; i < units && r.ok(); ++i) r.u(bits);  // slice_group_id
        } else if (map_type > 6) {
            return false;
        }
    }
    const uint32_t l0 = r.ue() + 1;  // num_ref_idx_l0_default_active_minus1
    const uint32_t l1 = r.ue() + 1;  // num_ref_idx_l1_default_active_minus1
    const bool weighted = r.u(1);    // weighted_pred_flag
    const uint32_t bipred = r.u(2);  // weighted_bipred_idc
    r.se();                          // pic_init_qp_minus26
    r.se();                          // pic_init_qs_minus26
    r.se();                          // chroma_qp_index_offset
    r.u(1);                          // deblocking_filter_control_present_flag
    r.u(1);                          // constrained_intra_pred_flag
    const bool redundant = r.u(1);   // redundant_pic_cnt_present_flag
    if (!r.ok() || pps_id > 255 || sps_id > 31 || l0 > kMaxRefIdx || l1 > kMaxRefIdx) return false;
    pps.pps_id = static_cast<int>(pps_id);
    pps.sps_id = static_cast<int>(sps_id);
    pps.bottom_field_pic_order_present = bottom;
    pps.num_ref_idx_l0_default = static_cast<int>(l0);
    pps.num_ref_idx_l1_default = static_cast<int>(l1);
    pps.weighted_pred = weighted;
    pps.weighted_bipred_idc = static_cast<int>(bipred);
    pps.redundant_pic_cnt_present = redundant;
    return true;
}

int ReadH264SlicePpsId(const uint8_t* unit, int length, int& first_mb) {
    RbspHead head(unit, length < 16 ? length : 16);
    RbspReader& r = head.reader;
    first_mb = static_cast<int>(r.ue());  // first_mb_in_slice
    r.ue();                         // slice_type
    const uint32_t id = r.ue();     // pic_parameter_set_id
    return r.ok() && id <= 255 ? static_cast<int>(id) : -1;
}

bool ReadH264SliceHead(const uint8_t* unit, int length, int nal_unit_type, int nal_ref_idc,
                       const H264SliceContext& sets, H264SliceHead& slice) {
    if (!sets.sps || !sets.pps) return false;
    const H264SpsHead& sps = *sets.sps;
    const H264PpsHead& pps = *sets.pps;
    const bool idr = nal_unit_type == 5;
    RbspHead head(unit, length);
    RbspReader& r = head.reader;
    slice = H264SliceHead();
    slice.first_mb = static_cast<int>(r.ue());                   // first_mb_in_slice
    const uint32_t type = r.ue() % 5;                            // slice_type
    slice.slice_type = static_cast<int>(type);
    slice.pps_id = static_cast<int>(r.ue());                     // pic_parameter_set_id
    if (sps.separate_colour_planes) r.u(2);                      // colour_plane_id
    slice.frame_num = static_cast<int>(r.u(sps.log2_max_frame_num));  // frame_num
    if (!sps.frame_mbs_only) {
        slice.field_pic = r.u(1);                                // field_pic_flag
        if (slice.field_pic) slice.bottom_field = r.u(1);        // bottom_field_flag
    }
    if (idr) slice.idr_pic_id = static_cast<int>(r.ue());        // idr_pic_id
    const bool bottom_present = pps.bottom_field_pic_order_present && !slice.field_pic;
    if (sps.poc_type == 0) {
        slice.poc_lsb = static_cast<int>(r.u(sps.log2_max_poc_lsb));  // pic_order_cnt_lsb
        if (bottom_present) slice.delta_poc_bottom = r.se();     // delta_pic_order_cnt_bottom
    }
    if (sps.poc_type == 1 && !sps.delta_pic_order_always_zero) {
        slice.delta_poc[0] = r.se();                             // delta_pic_order_cnt[0]
        if (bottom_present) slice.delta_poc[1] = r.se();         // delta_pic_order_cnt[1]
    }
    if (pps.redundant_pic_cnt_present) slice.redundant_pic_cnt = static_cast<int>(r.ue());  // redundant_pic_cnt
    const bool b = type == 1;
    const bool p = type == 0 || type == 3;
    if (b) r.u(1);                                               // direct_spatial_mv_pred_flag
    uint32_t l0 = static_cast<uint32_t>(pps.num_ref_idx_l0_default);
    uint32_t l1 = static_cast<uint32_t>(pps.num_ref_idx_l1_default);
    if ((p || b) && r.u(1)) {                                    // num_ref_idx_active_override_flag
        l0 = r.ue() + 1;                                         // num_ref_idx_l0_active_minus1
        if (b) l1 = r.ue() + 1;                                  // num_ref_idx_l1_active_minus1
    }
    if (l0 > kMaxRefIdx || l1 > kMaxRefIdx) return false;
    if (type != 2 && type != 4 && !SkipRefPicListModification(r)) return false;  // ref_pic_list_modification l0
    if (b && !SkipRefPicListModification(r)) return false;                       // ref_pic_list_modification l1
    if ((pps.weighted_pred && p) || (pps.weighted_bipred_idc == 1 && b)) {       // pred_weight_table
        r.ue();                                                  // luma_log2_weight_denom
        const bool chroma = sps.chroma_array_type != 0;
        if (chroma) r.ue();                                      // chroma_log2_weight_denom
        SkipWeights(r, l0, chroma);                              // l0 weights and offsets
        if (b) SkipWeights(r, l1, chroma);                       // l1 weights and offsets
    }
    if (nal_ref_idc != 0) {                                      // dec_ref_pic_marking
        if (idr) {
            r.u(1);                                              // no_output_of_prior_pics_flag
            slice.long_term_reference = r.u(1);                  // long_term_reference_flag
        } else if (!ReadAdaptiveMarking(r, slice.resets_frame_num)) {
            return false;
        }
    }
    return r.ok();
}

bool H264NewPicture(const H264SliceHead& a, int a_type, int a_ref_idc, const H264SliceHead& b, int b_type,
                    int b_ref_idc) {
    return a.frame_num != b.frame_num || a.pps_id != b.pps_id || a.field_pic != b.field_pic ||
           a.bottom_field != b.bottom_field || (a_ref_idc == 0) != (b_ref_idc == 0) || a.poc_lsb != b.poc_lsb ||
           a.delta_poc_bottom != b.delta_poc_bottom || a.delta_poc[0] != b.delta_poc[0] ||
           a.delta_poc[1] != b.delta_poc[1] || (a_type == 5) != (b_type == 5) ||
           (a_type == 5 && b_type == 5 && a.idr_pic_id != b.idr_pic_id);
}

}  // namespace qv
