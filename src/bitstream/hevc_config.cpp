// Reading the HEVC decoder configuration record, field by field in the order of
// ISO/IEC 14496-15 8.3.3.1.
#include "bitstream/hevc_config.h"

#include <climits>
#include <cstring>

namespace qv {
namespace {

bool IsParameterSet(int type) { return type == kHevcVps || type == kHevcSps || type == kHevcPps; }

int ReadBig16(const uint8_t* p) { return (p[0] << 8) | p[1]; }

// Walks the whole record; with out, also copies the parameter sets behind start codes
// (the caller has checked that annexb_size bytes fit). False when the record is malformed.
bool WalkRecord(const uint8_t* data, int length, uint8_t* out, HevcConfig& config) {
    static constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
    if (!data || length < 0) return false;
    HevcConfig found;
    int pos = 0;
    const auto left = [&]() { return length - pos; };

    if (left() < 23) return false;  // the fixed part ends with numOfArrays
    if (data[pos] != 1) return false;
    pos += 1;   // configurationVersion: 8, 1
    pos += 1;   // general_profile_space: 2, general_tier_flag: 1, general_profile_idc: 5
    pos += 4;   // general_profile_compatibility_flags: 32
    pos += 6;   // general_constraint_indicator_flags: 48
    pos += 1;   // general_level_idc: 8
    pos += 2;   // reserved 1111: 4, min_spatial_segmentation_idc: 12
    pos += 1;   // reserved 111111: 6, parallelismType: 2
    pos += 1;   // reserved 111111: 6, chromaFormat: 2
    pos += 1;   // reserved 11111: 5, bitDepthLumaMinus8: 3
    pos += 1;   // reserved 11111: 5, bitDepthChromaMinus8: 3
    pos += 2;   // avgFrameRate: 16
    found.length_size = (data[pos] & 0x03) + 1;
    pos += 1;   // constantFrameRate: 2, numTemporalLayers: 3, temporalIdNested: 1, lengthSizeMinusOne: 2
    if (found.length_size == 3) return false;  // only 1, 2 and 4 are defined
    const int arrays = data[pos];
    pos += 1;   // numOfArrays: 8

    for (int a = 0; a < arrays; ++a) {
        if (left() < 3) return false;
        const int type = data[pos] & 0x3F;
        pos += 1;   // array_completeness: 1, reserved 0: 1, NAL_unit_type: 6
        const int units = ReadBig16(data + pos);
        pos += 2;   // numNalus: 16
        for (int u = 0; u < units; ++u) {
            if (left() < 2) return false;
            const int size = ReadBig16(data + pos);
            pos += 2;   // nalUnitLength: 16
            if (size > left()) return false;
            if (IsParameterSet(type)) {
                if (found.annexb_size > INT_MAX - 4 - size) return false;
                if (out) {
                    std::memcpy(out + found.annexb_size, kStartCode, 4);
                    std::memcpy(out + found.annexb_size + 4, data + pos, static_cast<size_t>(size));
                }
                ++found.parameter_sets;
                found.annexb_size += 4 + size;
            }
            pos += size;   // nalUnit: 8 x nalUnitLength
        }
    }
    config = found;
    return true;
}

}  // namespace

bool ParseHevcConfig(const uint8_t* data, int length, HevcConfig& config) {
    return WalkRecord(data, length, nullptr, config);
}

int HevcUnitLengthSize(const uint8_t* data, int length) {
    HevcConfig config;
    return ParseHevcConfig(data, length, config) ? config.length_size : -1;
}

int WriteHevcParameterSets(const uint8_t* data, int length, uint8_t* out, int capacity) {
    HevcConfig config;
    if (!out || !ParseHevcConfig(data, length, config) || config.annexb_size > capacity) return -1;
    WalkRecord(data, length, out, config);
    return config.annexb_size;
}

}  // namespace qv
