#include "sps_edit.h"

#include <cstddef>

#include "bitstream/rbsp_reader.h"

namespace qvtest {
namespace {

using Bits = qv::RbspReader;

void SkipHrd(Bits& b) {
    const uint32_t count = b.ue() + 1;  // cpb_cnt_minus1
    b.u(4);                             // bit_rate_scale
    b.u(4);                             // cpb_size_scale
    for (uint32_t i = 0; i < count; ++i) {
        b.ue();  // bit_rate_value_minus1
        b.ue();  // cpb_size_value_minus1
        b.u(1);  // cbr_flag
    }
    b.u(5);  // initial_cpb_removal_delay_length_minus1
    b.u(5);  // cpb_removal_delay_length_minus1
    b.u(5);  // dpb_output_delay_length_minus1
    b.u(5);  // time_offset_length
}

// Bit position of bitstream_restriction_flag in an SPS RBSP (after the NAL header byte),
// or 0 when the SPS has no VUI or cannot be read.
size_t RestrictionFlagPosition(const std::vector<uint8_t>& rbsp) {
    Bits b(rbsp.data(), static_cast<int>(rbsp.size()));
    const uint32_t profile = b.u(8);
    b.u(8);   // constraint flags
    b.u(8);   // level_idc
    b.ue();   // seq_parameter_set_id
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
        profile == 83 || profile == 86 || profile == 118 || profile == 128) {
        if (b.ue() == 3) b.u(1);  // chroma_format_idc, separate_colour_plane_flag
        b.ue();                   // bit_depth_luma_minus8
        b.ue();                   // bit_depth_chroma_minus8
        b.u(1);                   // qpprime_y_zero_transform_bypass_flag
        if (b.u(1)) return 0;     // seq_scaling_matrix_present_flag: not written by our encoders
    }
    b.ue();  // log2_max_frame_num_minus4
    const uint32_t poc_type = b.ue();
    if (poc_type == 0) {
        b.ue();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (poc_type == 1) {
        b.u(1);  // delta_pic_order_always_zero_flag
        b.se();  // offset_for_non_ref_pic
        b.se();  // offset_for_top_to_bottom_field
        const uint32_t cycle = b.ue();
        for (uint32_t i = 0; i < cycle && b.ok(); ++i) b.se();
    }
    b.ue();                  // max_num_ref_frames
    b.u(1);                  // gaps_in_frame_num_value_allowed_flag
    b.ue();                  // pic_width_in_mbs_minus1
    b.ue();                  // pic_height_in_map_units_minus1
    if (!b.u(1)) b.u(1);     // frame_mbs_only_flag, mb_adaptive_frame_field_flag
    b.u(1);                  // direct_8x8_inference_flag
    if (b.u(1)) {            // frame_cropping_flag
        for (int i = 0; i < 4; ++i) b.ue();
    }
    if (!b.u(1)) return 0;   // vui_parameters_present_flag
    if (b.u(1)) {            // aspect_ratio_info_present_flag
        if (b.u(8) == 255) b.u(32);
    }
    if (b.u(1)) b.u(1);      // overscan_info_present_flag, overscan_appropriate_flag
    if (b.u(1)) {            // video_signal_type_present_flag
        b.u(4);              // video_format, video_full_range_flag
        if (b.u(1)) b.u(24); // colour_description_present_flag and its three bytes
    }
    if (b.u(1)) {            // chroma_loc_info_present_flag
        b.ue();
        b.ue();
    }
    if (b.u(1)) b.u(65);     // timing_info_present_flag: num_units_in_tick, time_scale, fixed
    const bool nal_hrd = b.u(1);
    if (nal_hrd) SkipHrd(b);
    const bool vcl_hrd = b.u(1);
    if (vcl_hrd) SkipHrd(b);
    if (nal_hrd || vcl_hrd) b.u(1);  // low_delay_hrd_flag
    b.u(1);                          // pic_struct_present_flag
    return b.ok() ? b.pos() : 0;
}

std::vector<uint8_t> Escape(const std::vector<uint8_t>& rbsp) {
    std::vector<uint8_t> out;
    int zeros = 0;
    for (uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    return out;
}

// The SPS payload (after the header byte) rewritten, or empty when it cannot be read.
std::vector<uint8_t> RewriteSps(const uint8_t* payload, size_t size) {
    std::vector<uint8_t> rbsp(size);
    rbsp.resize(static_cast<size_t>(qv::RemoveEmulationPrevention(payload, static_cast<int>(size), rbsp.data(),
                                                                  static_cast<int>(size))));
    const size_t flag = RestrictionFlagPosition(rbsp);
    if (flag == 0) return {};
    std::vector<uint8_t> out((flag + 1 + 1 + 7) / 8, 0);
    for (size_t i = 0; i < flag; ++i) {
        if ((rbsp[i / 8] >> (7 - i % 8)) & 1) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    }
    // bitstream_restriction_flag 0, then rbsp_stop_one_bit and zero alignment.
    const size_t stop = flag + 1;
    out[stop / 8] |= static_cast<uint8_t>(0x80 >> (stop % 8));
    return Escape(out);
}

}  // namespace

bool StripReorderDepth(std::vector<uint8_t>& packet) {
    std::vector<uint8_t> out;
    size_t i = 0;
    const size_t n = packet.size();
    auto start_at = [&](size_t at) { return at + 3 <= n && packet[at] == 0 && packet[at + 1] == 0 && packet[at + 2] == 1; };
    // Units between start codes; a unit ends where the next 00 00 01 (or 00 00 00 01) starts.
    while (i < n && !start_at(i)) ++i;
    out.insert(out.end(), packet.begin(), packet.begin() + static_cast<long>(i));
    while (i < n) {
        const size_t unit = i + 3;
        size_t end = unit;
        while (end < n && !start_at(end)) ++end;
        size_t unit_end = end;
        while (unit_end > unit && end < n && packet[unit_end - 1] == 0) --unit_end;  // 4-byte start codes
        out.insert(out.end(), {0, 0, 1});
        if (unit < unit_end && (packet[unit] & 0x1F) == 7) {
            const std::vector<uint8_t> sps = RewriteSps(packet.data() + unit + 1, unit_end - unit - 1);
            if (sps.empty()) return false;
            out.push_back(packet[unit]);
            out.insert(out.end(), sps.begin(), sps.end());
        } else {
            out.insert(out.end(), packet.begin() + static_cast<long>(unit), packet.begin() + static_cast<long>(unit_end));
        }
        out.insert(out.end(), packet.begin() + static_cast<long>(unit_end), packet.begin() + static_cast<long>(end));
        i = end;
    }
    packet.swap(out);
    return true;
}

bool StripReorderDepth(std::vector<EncodedPacket>& packets) {
    for (EncodedPacket& p : packets) {
        if (!StripReorderDepth(p.data)) return false;
    }
    return true;
}

}  // namespace qvtest
