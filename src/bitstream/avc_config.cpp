#include "bitstream/avc_config.h"

#include <cstring>

namespace qv {
namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

uint32_t ReadBig32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

int ReadBig16(const uint8_t* p) { return (p[0] << 8) | p[1]; }

}  // namespace

int LengthPrefixedToAnnexB(const uint8_t* data, int length, uint8_t* out, int capacity) {
    if (!data || !out || length < 0 || capacity < 0) return -1;
    int read = 0;
    int written = 0;
    while (read < length) {
        // unit_length: 32, big-endian
        if (length - read < 4) return -1;
        const uint32_t unit = ReadBig32(data + read);
        read += 4;
        if (unit > static_cast<uint32_t>(length - read)) return -1;
        const int size = static_cast<int>(unit);
        if (capacity - written < 4 || capacity - written - 4 < size) return -1;
        std::memcpy(out + written, kStartCode, 4);
        std::memcpy(out + written + 4, data + read, size);
        written += 4 + size;
        read += size;
    }
    return written;
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
