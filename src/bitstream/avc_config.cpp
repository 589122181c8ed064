#include "bitstream/avc_config.h"

#include <cstring>

#include "bitstream/length_prefixed.h"

namespace qv {
namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

int ReadBig16(const uint8_t* p) { return (p[0] << 8) | p[1]; }

}  // namespace

int LengthPrefixedToAnnexB(const uint8_t* data, int length, uint8_t* out, int capacity) {
    return LengthPrefixedToAnnexB(data, length, 4, out, capacity);
}

bool GetSPSAndPPS(const uint8_t* record, int length, uint8_t* destination, int& capacity) {
    if (!record || !destination || length < 8) return false;
    // configurationVersion: 8, must be 1
    // AVCProfileIndication, profile_compatibility, AVCLevelIndication: 3 x 8
    // reserved 111111 + lengthSizeMinusOne: must be 0xFF (4-byte unit lengths)
    // reserved 111 + numOfSequenceParameterSets: must be 0xE1 (exactly one)
    if (record[0] != 1 || record[4] != 0xFF || record[5] != 0xE1) return false;
    // sequenceParameterSetLength: 16
    const int sps = ReadBig16(record + 6);
    if (sps + 11 >= length) return false;
    if (sps + 4 > capacity) return false;
    std::memcpy(destination, kStartCode, 4);
    std::memcpy(destination + 4, record + 8, sps);
    // numOfPictureParameterSets: 8 (the first set is used)
    // pictureParameterSetLength: 16
    const int pps = ReadBig16(record + 9 + sps);
    if (sps + pps + 11 > length) return false;
    if (sps + pps + 8 > capacity) return false;
    std::memcpy(destination + 4 + sps, kStartCode, 4);
    std::memcpy(destination + 8 + sps, record + 11 + sps, pps);
    capacity = sps + pps + 8;
    return true;
}

}  // namespace qv
