// The fields of H.264 picture parameter sets and slice headers that tell where a picture
// begins and how it changes the reference pictures: what the frame-number watch needs to
// know the frame number to expect. No allocation, never reads outside the bytes given.
#pragma once

#include <cstdint>

#include "bitstream/h264_sps.h"

namespace qv {

struct H264PpsHead {
    int pps_id = 0;
    int sps_id = 0;
    bool bottom_field_pic_order_present = false;
    int num_ref_idx_l0_default = 1;
    int num_ref_idx_l1_default = 1;
    bool weighted_pred = false;
    int weighted_bipred_idc = 0;
    bool redundant_pic_cnt_present = false;
};

// Reads a PPS (the bytes after its NAL header) up to redundant_pic_cnt_present_flag. False
// when it cannot be read.
bool ReadH264PpsHead(const uint8_t* unit, int length, H264PpsHead& pps);

struct H264SliceHead {
    int first_mb = 0;
    int slice_type = 0;  // 0 P, 1 B, 2 I, 3 SP, 4 SI
    int pps_id = 0;
    int frame_num = 0;
    bool field_pic = false;
    bool bottom_field = false;
    int idr_pic_id = 0;
    int poc_lsb = 0;
    int delta_poc_bottom = 0;
    int delta_poc[2] = {0, 0};
    int redundant_pic_cnt = 0;
    bool long_term_reference = false;  // an IDR kept as a long-term reference
    bool resets_frame_num = false;     // memory_management_control_operation 5 present
};

// The parameter sets a slice header is read with: the PPS it names and that PPS's SPS, or
// null when they have not been seen.
struct H264SliceContext {
    const H264SpsHead* sps = nullptr;
    const H264PpsHead* pps = nullptr;
};

// The pic_parameter_set_id of a slice (the bytes after its NAL header), or -1; `first_mb`
// gets first_mb_in_slice.
int ReadH264SlicePpsId(const uint8_t* unit, int length, int& first_mb);

// Reads a slice header (the bytes after its NAL header) through dec_ref_pic_marking.
// nal_unit_type 5 is an IDR slice; nal_ref_idc 0 has no reference marking. False when the
// header cannot be read or does not fit the parameter sets.
bool ReadH264SliceHead(const uint8_t* unit, int length, int nal_unit_type, int nal_ref_idc,
                       const H264SliceContext& sets, H264SliceHead& slice);

// True when slice b starts another primary picture than slice a, by the fields that
// must be equal in every slice of one picture (nal_ref_idc only as zero or not).
bool H264NewPicture(const H264SliceHead& a, int a_type, int a_ref_idc, const H264SliceHead& b, int b_type,
                    int b_ref_idc);

}  // namespace qv
