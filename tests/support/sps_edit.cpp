#include "sps_edit.h"

#include <algorithm>
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

// Bit positions in an SPS RBSP (after the NAL header byte) of the fields the size edit
// replaces, or ok == false when the SPS cannot be read.
struct SizeFields {
    bool ok = false;
    size_t size_begin = 0;  // pic_width_in_mbs_minus1
    size_t size_end = 0;    // behind pic_height_in_map_units_minus1
    bool frame_mbs_only = true;
    size_t crop_flag = 0;   // frame_cropping_flag
    size_t crop_end = 0;    // behind the crop offsets, if any
    int log2_max_frame_num = 0;
    int poc_type = 0;
    int log2_max_poc_lsb = 0;
    bool delta_pic_order_always_zero = false;
};

void SkipScalingList(Bits& b, int size) {
    int last = 8;
    int next = 8;
    for (int j = 0; j < size && b.ok(); ++j) {
        if (next != 0) next = (last + b.se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

SizeFields FindSizeFields(const std::vector<uint8_t>& rbsp) {
    Bits b(rbsp.data(), static_cast<int>(rbsp.size()));
    SizeFields f;
    const uint32_t profile = b.u(8);
    b.u(8);   // constraint flags
    b.u(8);   // level_idc
    b.ue();   // seq_parameter_set_id
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
        profile == 83 || profile == 86 || profile == 118 || profile == 128 || profile == 138 ||
        profile == 139 || profile == 134 || profile == 135 || profile == 144) {
        const uint32_t chroma_format = b.ue();
        if (chroma_format == 3) b.u(1);  // separate_colour_plane_flag
        b.ue();                          // bit_depth_luma_minus8
        b.ue();                          // bit_depth_chroma_minus8
        b.u(1);                          // qpprime_y_zero_transform_bypass_flag
        if (b.u(1)) {                    // seq_scaling_matrix_present_flag
            const int lists = chroma_format == 3 ? 12 : 8;
            for (int i = 0; i < lists; ++i) {
                if (b.u(1)) SkipScalingList(b, i < 6 ? 16 : 64);
            }
        }
    }
    f.log2_max_frame_num = static_cast<int>(b.ue()) + 4;
    const uint32_t poc_type = b.ue();
    f.poc_type = static_cast<int>(poc_type);
    if (poc_type == 0) {
        f.log2_max_poc_lsb = static_cast<int>(b.ue()) + 4;
    } else if (poc_type == 1) {
        f.delta_pic_order_always_zero = b.u(1) != 0;
        b.se();  // offset_for_non_ref_pic
        b.se();  // offset_for_top_to_bottom_field
        const uint32_t cycle = b.ue();
        for (uint32_t i = 0; i < cycle && b.ok(); ++i) b.se();
    }
    b.ue();  // max_num_ref_frames
    b.u(1);  // gaps_in_frame_num_value_allowed_flag
    f.size_begin = b.pos();
    b.ue();  // pic_width_in_mbs_minus1
    b.ue();  // pic_height_in_map_units_minus1
    f.size_end = b.pos();
    f.frame_mbs_only = b.u(1) != 0;
    if (!f.frame_mbs_only) b.u(1);  // mb_adaptive_frame_field_flag
    b.u(1);                         // direct_8x8_inference_flag
    f.crop_flag = b.pos();
    if (b.u(1)) {
        for (int i = 0; i < 4; ++i) b.ue();
    }
    f.crop_end = b.pos();
    f.ok = b.ok();
    return f;
}

// Bit position of bitstream_restriction_flag in an SPS RBSP (after the NAL header byte),
// or 0 when the SPS has no VUI or cannot be read.
size_t RestrictionFlagPosition(const std::vector<uint8_t>& rbsp) {
    const SizeFields f = FindSizeFields(rbsp);
    if (!f.ok) return 0;
    Bits b(rbsp.data(), static_cast<int>(rbsp.size()));
    for (size_t skipped = 0; skipped < f.crop_end; skipped += 16) b.u(static_cast<int>(std::min<size_t>(16, f.crop_end - skipped)));
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

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) Bit((value >> i) & 1);
    }
    void Ue(uint32_t value) {
        const uint64_t code = static_cast<uint64_t>(value) + 1;
        int bits = 0;
        while ((code >> bits) > 1) ++bits;
        Put(0, bits);
        for (int i = bits; i >= 0; --i) Bit(static_cast<uint32_t>((code >> i) & 1));
    }
    void Copy(const std::vector<uint8_t>& from, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) Bit((from[i / 8] >> (7 - i % 8)) & 1);
    }
    bool Aligned() const { return bits_ % 8 == 0; }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    // rbsp_stop_one_bit, then zero bits up to the byte boundary.
    std::vector<uint8_t> Finish() {
        Bit(1);
        while (bits_ % 8 != 0) Bit(0);
        return bytes_;
    }

private:
    void Bit(uint32_t bit) {
        if (bits_ % 8 == 0) bytes_.push_back(0);
        if (bit) bytes_.back() |= static_cast<uint8_t>(0x80 >> (bits_ % 8));
        ++bits_;
    }
    std::vector<uint8_t> bytes_;
    size_t bits_ = 0;
};

// Position of the rbsp_stop_one_bit (the last bit set), or 0 when there is none.
size_t StopBit(const std::vector<uint8_t>& rbsp) {
    for (size_t i = rbsp.size(); i-- > 0;) {
        if (rbsp[i] == 0) continue;
        int low = 0;
        while (((rbsp[i] >> low) & 1) == 0) ++low;
        return i * 8 + static_cast<size_t>(7 - low);
    }
    return 0;
}

// The SPS payload with the new size and no cropping, or empty when it cannot be read or
// the size is not whole map units.
std::vector<uint8_t> ResizeSps(const uint8_t* payload, size_t size, int width, int height) {
    std::vector<uint8_t> rbsp(size);
    rbsp.resize(static_cast<size_t>(qv::RemoveEmulationPrevention(payload, static_cast<int>(size), rbsp.data(),
                                                                  static_cast<int>(size))));
    const SizeFields f = FindSizeFields(rbsp);
    const size_t stop = StopBit(rbsp);
    const int map_unit_height = f.frame_mbs_only ? 16 : 32;
    if (!f.ok || stop < f.crop_end || width <= 0 || height <= 0 || width % 16 != 0 || height % map_unit_height != 0)
        return {};
    BitWriter out;
    out.Copy(rbsp, 0, f.size_begin);
    out.Ue(static_cast<uint32_t>(width / 16 - 1));
    out.Ue(static_cast<uint32_t>(height / map_unit_height - 1));
    out.Copy(rbsp, f.size_end, f.crop_flag);
    out.Put(0, 1);  // frame_cropping_flag
    out.Copy(rbsp, f.crop_end, stop);
    return Escape(out.Finish());
}

// Runs edit(header, payload, size) on every unit between the start codes of an Annex B
// packet: it returns the unit's new payload (after the header byte, which it may change),
// the unit as it is when it returns `keep`, or fails the edit with an empty result. The
// start codes stay.
template <typename Edit>
bool EditUnits(std::vector<uint8_t>& packet, Edit edit) {
    const size_t n = packet.size();
    auto start_at = [&](size_t at) { return at + 3 <= n && packet[at] == 0 && packet[at + 1] == 0 && packet[at + 2] == 1; };
    size_t i = 0;
    while (i < n && !start_at(i)) ++i;
    std::vector<uint8_t> out(packet.begin(), packet.begin() + static_cast<long>(i));
    while (i < n) {
        const size_t unit = i + 3;
        size_t end = unit;
        while (end < n && !start_at(end)) ++end;
        size_t unit_end = end;
        while (unit_end > unit && end < n && packet[unit_end - 1] == 0) --unit_end;  // 4-byte start codes
        out.insert(out.end(), {0, 0, 1});
        bool keep = true;
        if (unit < unit_end) {
            uint8_t header = packet[unit];
            const std::vector<uint8_t> payload = edit(header, packet.data() + unit + 1, unit_end - unit - 1, keep);
            if (!keep) {
                if (payload.empty()) return false;
                out.push_back(header);
                out.insert(out.end(), payload.begin(), payload.end());
            }
        }
        if (keep) out.insert(out.end(), packet.begin() + static_cast<long>(unit), packet.begin() + static_cast<long>(unit_end));
        out.insert(out.end(), packet.begin() + static_cast<long>(unit_end), packet.begin() + static_cast<long>(end));
        i = end;
    }
    packet.swap(out);
    return true;
}

template <typename Edit>
bool EditSpsUnits(std::vector<uint8_t>& packet, Edit edit) {
    return EditUnits(packet, [&](uint8_t& header, const uint8_t* payload, size_t size, bool& keep) {
        keep = (header & 0x1F) != 7;
        return keep ? std::vector<uint8_t>() : edit(payload, size);
    });
}

std::vector<uint8_t> Unescape(const uint8_t* payload, size_t size) {
    std::vector<uint8_t> rbsp(size);
    rbsp.resize(static_cast<size_t>(qv::RemoveEmulationPrevention(payload, static_cast<int>(size), rbsp.data(),
                                                                  static_cast<int>(size))));
    return rbsp;
}

std::vector<uint8_t> AllowGaps(const uint8_t* payload, size_t size) {
    std::vector<uint8_t> rbsp = Unescape(payload, size);
    const SizeFields f = FindSizeFields(rbsp);
    if (!f.ok) return {};
    const size_t flag = f.size_begin - 1;  // gaps_in_frame_num_value_allowed_flag
    rbsp[flag / 8] |= static_cast<uint8_t>(0x80 >> (flag % 8));
    return Escape(rbsp);
}

// What the IDR rewrite needs to know of the parameter sets (one of each, as the encoders
// of the tests write them).
struct SliceSets {
    SizeFields sps;
    bool entropy_coding = false;
    bool bottom_field_pic_order = false;
    bool deblocking_control = false;
    bool redundant_pic_cnt = false;
    int prev_ref_frame_num = 0;
};

bool ReadPps(const std::vector<uint8_t>& rbsp, SliceSets& sets) {
    Bits b(rbsp.data(), static_cast<int>(rbsp.size()));
    b.ue();                                        // pic_parameter_set_id
    b.ue();                                        // seq_parameter_set_id
    sets.entropy_coding = b.u(1) != 0;             // entropy_coding_mode_flag
    sets.bottom_field_pic_order = b.u(1) != 0;     // bottom_field_pic_order_in_frame_present_flag
    if (b.ue() != 0) return false;                 // num_slice_groups_minus1: one group only
    b.ue();                                        // num_ref_idx_l0_default_active_minus1
    b.ue();                                        // num_ref_idx_l1_default_active_minus1
    b.u(1);                                        // weighted_pred_flag
    b.u(2);                                        // weighted_bipred_idc
    b.se();                                        // pic_init_qp_minus26
    b.se();                                        // pic_init_qs_minus26
    b.se();                                        // chroma_qp_index_offset
    sets.deblocking_control = b.u(1) != 0;         // deblocking_filter_control_present_flag
    b.u(1);                                        // constrained_intra_pred_flag
    sets.redundant_pic_cnt = b.u(1) != 0;          // redundant_pic_cnt_present_flag
    return b.ok();
}

// An IDR slice rewritten as a non-IDR I slice whose reference marking holds operation 5:
// the same picture, decoded the same way, that restarts the frame numbers without being
// an IDR. Empty when the slice cannot be read.
std::vector<uint8_t> IdrAsReset(const uint8_t* payload, size_t size, const SliceSets& sets) {
    const std::vector<uint8_t> rbsp = Unescape(payload, size);
    const SizeFields& sps = sets.sps;
    Bits b(rbsp.data(), static_cast<int>(rbsp.size()));
    b.ue();  // first_mb_in_slice
    const uint32_t type = b.ue() % 5;
    b.ue();  // pic_parameter_set_id
    const size_t frame_num_at = b.pos();
    b.u(sps.log2_max_frame_num);
    bool field = false;
    if (!sps.frame_mbs_only && (field = b.u(1) != 0)) b.u(1);  // field_pic_flag, bottom_field_flag
    const size_t idr_id_at = b.pos();
    b.ue();  // idr_pic_id
    const size_t idr_id_end = b.pos();
    if (sps.poc_type == 0) {
        b.u(sps.log2_max_poc_lsb);
        if (sets.bottom_field_pic_order && !field) b.se();
    } else if (sps.poc_type == 1 && !sps.delta_pic_order_always_zero) {
        b.se();
        if (sets.bottom_field_pic_order && !field) b.se();
    }
    if (sets.redundant_pic_cnt) b.ue();
    const size_t marking_at = b.pos();
    b.u(2);  // no_output_of_prior_pics_flag, long_term_reference_flag
    const size_t marking_end = b.pos();
    b.se();  // slice_qp_delta
    if (sets.deblocking_control && b.ue() != 1) {
        b.se();  // slice_alpha_c0_offset_div2
        b.se();  // slice_beta_offset_div2
    }
    const size_t header_end = b.pos();
    const size_t stop = StopBit(rbsp);
    if (type != 2 || !b.ok() || stop < header_end) return {};

    BitWriter out;
    out.Copy(rbsp, 0, frame_num_at);
    const int max = 1 << sps.log2_max_frame_num;
    out.Put(static_cast<uint32_t>((sets.prev_ref_frame_num + 1) % max), sps.log2_max_frame_num);
    out.Copy(rbsp, frame_num_at + static_cast<size_t>(sps.log2_max_frame_num), idr_id_at);
    out.Copy(rbsp, idr_id_end, marking_at);
    out.Put(1, 1);  // adaptive_ref_pic_marking_mode_flag
    out.Ue(5);      // memory_management_control_operation: all references unused, numbers restart
    out.Ue(0);      // end of the operations
    out.Copy(rbsp, marking_end, header_end);
    if (sets.entropy_coding) {
        // The arithmetic-coded data starts on the next byte boundary, behind one bits.
        while (!out.Aligned()) out.Put(1, 1);
        out.Copy(rbsp, (header_end + 7) / 8 * 8, rbsp.size() * 8);
        return Escape(out.Bytes());
    }
    out.Copy(rbsp, header_end, stop);
    return Escape(out.Finish());
}

// frame_num of a slice (the bytes after its header byte), or -1.
int SliceFrameNum(const uint8_t* payload, size_t size, const SizeFields& sps) {
    const std::vector<uint8_t> rbsp = Unescape(payload, std::min<size_t>(size, 32));
    Bits b(rbsp.data(), static_cast<int>(rbsp.size()));
    b.ue();
    b.ue();
    b.ue();
    const int frame_num = static_cast<int>(b.u(sps.log2_max_frame_num));
    return b.ok() ? frame_num : -1;
}

}  // namespace

bool StripReorderDepth(std::vector<uint8_t>& packet) {
    return EditSpsUnits(packet, [](const uint8_t* data, size_t size) { return RewriteSps(data, size); });
}

bool StripReorderDepth(std::vector<EncodedPacket>& packets) {
    for (EncodedPacket& p : packets) {
        if (!StripReorderDepth(p.data)) return false;
    }
    return true;
}

bool SetCodedSize(std::vector<uint8_t>& packet, int width, int height) {
    return EditSpsUnits(packet, [&](const uint8_t* payload, size_t size) { return ResizeSps(payload, size, width, height); });
}

bool SetCodedSize(std::vector<EncodedPacket>& packets, int width, int height) {
    for (EncodedPacket& p : packets) {
        if (!SetCodedSize(p.data, width, height)) return false;
    }
    return true;
}

}  // namespace qvtest

namespace qvtest {

bool AllowFrameNumGaps(std::vector<EncodedPacket>& packets) {
    for (EncodedPacket& p : packets) {
        if (!EditSpsUnits(p.data, [](const uint8_t* payload, size_t size) { return AllowGaps(payload, size); })) {
            return false;
        }
    }
    return true;
}

bool IdrAfterFirstAsFrameNumReset(std::vector<EncodedPacket>& packets) {
    SliceSets sets;
    bool first_idr = true;
    bool ok = true;
    for (EncodedPacket& p : packets) {
        bool idr_here = false;
        ok = ok && EditUnits(p.data, [&](uint8_t& header, const uint8_t* payload, size_t size, bool& keep) {
            keep = true;
            const int type = header & 0x1F;
            if (type == 7) sets.sps = FindSizeFields(Unescape(payload, size));
            if (type == 8 && !ReadPps(Unescape(payload, size), sets)) keep = false;
            if (type == 1 && (header & 0x60) != 0) sets.prev_ref_frame_num = SliceFrameNum(payload, size, sets.sps);
            if (type != 5) return std::vector<uint8_t>();
            idr_here = true;
            if (first_idr) return std::vector<uint8_t>();
            keep = false;
            header = static_cast<uint8_t>((header & 0xE0) | 1);
            return IdrAsReset(payload, size, sets);
        });
        if (idr_here) {
            // Frame numbers go on from 0 behind the picture, IDR or reset.
            sets.prev_ref_frame_num = 0;
            if (!first_idr) p.key = false;
            first_idr = false;
        }
    }
    return ok;
}

}  // namespace qvtest
