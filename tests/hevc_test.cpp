// HEVC configuration records and length-prefixed units at the byte level.
#include <gtest/gtest.h>

#include <vector>

#include "bitstream/hevc_config.h"
#include "bitstream/length_prefixed.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Array {
    int type;
    std::vector<Bytes> units;
};

// A unit whose header carries its type, then `size - 2` bytes of filler.
Bytes Unit(int type, int size) {
    Bytes u = {static_cast<uint8_t>(type << 1), 1};
    for (int i = 2; i < size; ++i) u.push_back(static_cast<uint8_t>(0x40 + type + i));
    return u;
}

// An hvcC record: the fixed 23 bytes (Main profile, level 3), then the arrays.
Bytes Record(const std::vector<Array>& arrays, int length_size = 4) {
    Bytes r = {1, 0x01, 0x60, 0, 0, 0, 0x90, 0, 0, 0, 0, 0, 0x5A, 0xF0, 0, 0xFC, 0xFD, 0xF8, 0xF8, 0, 0};
    r.push_back(static_cast<uint8_t>(0x0C | (length_size - 1)));
    r.push_back(static_cast<uint8_t>(arrays.size()));
    for (const Array& a : arrays) {
        r.push_back(static_cast<uint8_t>(0x80 | a.type));
        r.push_back(static_cast<uint8_t>(a.units.size() >> 8));
        r.push_back(static_cast<uint8_t>(a.units.size()));
        for (const Bytes& u : a.units) {
            r.push_back(static_cast<uint8_t>(u.size() >> 8));
            r.push_back(static_cast<uint8_t>(u.size()));
            r.insert(r.end(), u.begin(), u.end());
        }
    }
    return r;
}

Bytes AnnexB(const std::vector<Bytes>& units) {
    Bytes s;
    for (const Bytes& u : units) {
        s.insert(s.end(), {0, 0, 0, 1});
        s.insert(s.end(), u.begin(), u.end());
    }
    return s;
}

int Write(const Bytes& record, Bytes& out, int capacity, int length = -1) {
    out.assign(static_cast<size_t>(capacity) + 8, 0xEE);
    return qv::WriteHevcParameterSets(record.data(), length < 0 ? static_cast<int>(record.size()) : length,
                                      out.data(), capacity);
}

TEST(HevcConfigTest, WritesVpsSpsPpsInRecordOrderAndLeavesSeiOut) {
    const Bytes vps = Unit(32, 24), sps = Unit(33, 40), pps1 = Unit(34, 7), pps2 = Unit(34, 9), sei = Unit(39, 12);
    const Bytes record = Record({{32, {vps}}, {33, {sps}}, {39, {sei}}, {34, {pps1, pps2}}}, 4);
    qv::HevcConfig config;
    ASSERT_TRUE(qv::ParseHevcConfig(record.data(), static_cast<int>(record.size()), config));
    EXPECT_EQ(config.length_size, 4);
    EXPECT_EQ(config.parameter_sets, 4);
    const Bytes want = AnnexB({vps, sps, pps1, pps2});
    EXPECT_EQ(config.annexb_size, static_cast<int>(want.size()));

    Bytes out;
    const int capacity = static_cast<int>(want.size());
    ASSERT_EQ(Write(record, out, capacity), capacity) << "exactly enough room";
    EXPECT_EQ(Bytes(out.begin(), out.begin() + capacity), want);
    EXPECT_EQ(out[static_cast<size_t>(capacity)], 0xEE);
    EXPECT_EQ(Write(record, out, capacity - 1), -1) << "one byte short";

    // A record without arrays is well formed and gives nothing to write.
    const Bytes empty = Record({});
    EXPECT_EQ(Write(empty, out, 16), 0);
}

TEST(HevcConfigTest, ReportsTheUnitLengthSize) {
    const Bytes sps = Unit(33, 10);
    for (int size : {1, 2, 4}) EXPECT_EQ(qv::HevcUnitLengthSize(Record({{33, {sps}}}, size).data(), 38), size);
    Bytes three = Record({{33, {sps}}}, 3);
    EXPECT_EQ(qv::HevcUnitLengthSize(three.data(), 38), -1) << "3-byte lengths are not defined";
}

TEST(HevcConfigTest, RefusesRecordsThatLie) {
    const Bytes vps = Unit(32, 20), sps = Unit(33, 30), pps = Unit(34, 6);
    const Bytes good = Record({{32, {vps}}, {33, {sps}}, {34, {pps}}});
    const int size = static_cast<int>(good.size());
    const auto refused = [](const Bytes& record, int length) {
        qv::HevcConfig config;
        config.length_size = -9;
        Bytes out(512);
        return !qv::ParseHevcConfig(record.data(), length, config) && config.length_size == -9 &&
               qv::WriteHevcParameterSets(record.data(), length, out.data(), 512) == -1 &&
               qv::HevcUnitLengthSize(record.data(), length) == -1;
    };
    EXPECT_FALSE(refused(good, size));
    EXPECT_TRUE(refused(good, 22)) << "cut before numOfArrays";
    // Cut anywhere inside the arrays: an array header, a unit length or a unit.
    for (int cut : {23, 24, 25, 26, 27, 30, size - 1}) EXPECT_TRUE(refused(good, cut)) << cut;

    Bytes version = good;
    version[0] = 0;
    EXPECT_TRUE(refused(version, size));
    Bytes more_arrays = good;
    more_arrays[22] = 4;  // a fourth array that is not there
    EXPECT_TRUE(refused(more_arrays, size));
    Bytes more_units = good;
    more_units[25] = 2;  // a second VPS that is not there
    EXPECT_TRUE(refused(more_units, size));
    Bytes long_unit = good;
    long_unit[26] = 0xFF;  // the VPS length runs far past the record
    EXPECT_TRUE(refused(long_unit, size));
    Bytes longer_unit = good;
    longer_unit[size - 7] = 7;  // the PPS claims one byte more than the record has
    EXPECT_TRUE(refused(longer_unit, size));
    EXPECT_TRUE(refused(good, -1));
    EXPECT_EQ(qv::HevcUnitLengthSize(nullptr, size), -1);
}

TEST(LengthPrefixedTest, ConvertsEveryUnitForEachLengthSize) {
    const std::vector<Bytes> units = {Unit(1, 3), Unit(19, 5), {}, Unit(39, 2)};
    for (int length_size : {1, 2, 4}) {
        SCOPED_TRACE(length_size);
        Bytes packet;
        for (const Bytes& u : units) {
            for (int i = length_size - 1; i >= 0; --i) packet.push_back(static_cast<uint8_t>(u.size() >> (8 * i)));
            packet.insert(packet.end(), u.begin(), u.end());
        }
        const int length = static_cast<int>(packet.size());
        const Bytes want = AnnexB(units);
        const int wanted = static_cast<int>(want.size());
        Bytes out(64, 0xEE);
        ASSERT_EQ(qv::LengthPrefixedToAnnexB(packet.data(), length, length_size, out.data(), wanted), wanted);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + wanted), want);
        EXPECT_EQ(out[static_cast<size_t>(wanted)], 0xEE);
        EXPECT_EQ(qv::LengthPrefixedToAnnexB(packet.data(), length, length_size, out.data(), wanted - 1), -1);
        // The last length field cut short (the last unit, for 1-byte lengths), and the last unit cut short.
        EXPECT_EQ(qv::LengthPrefixedToAnnexB(packet.data(), length - 2 - length_size + 1, length_size, out.data(), 64), -1);
        EXPECT_EQ(qv::LengthPrefixedToAnnexB(packet.data(), length - 1, length_size, out.data(), 64), -1);
        Bytes longer = packet;
        longer[static_cast<size_t>(length_size - 1)] = 4;  // the first unit swallows the next length's first byte
        EXPECT_EQ(qv::LengthPrefixedToAnnexB(longer.data(), length, length_size, out.data(), 64), -1);
    }
    const Bytes one = {1, 0x26};
    Bytes out(16);
    for (int bad : {0, 3, 5, -1}) EXPECT_EQ(qv::LengthPrefixedToAnnexB(one.data(), 2, bad, out.data(), 16), -1) << bad;
    const Bytes wild = {0xFF, 0xFF, 0xFF, 0xFF, 0x26};
    EXPECT_EQ(qv::LengthPrefixedToAnnexB(wild.data(), 5, 4, out.data(), 16), -1);
}

}  // namespace
