// MPEG-2 program stream pack and PES packet parsing. The header values are read only to be
// validated or stepped over; the decoder's timing does not come from the pack.
#include "bitstream/program_stream.h"

#include <cstring>

#include "bitstream/bit_reader.h"

namespace {

using qv::BitReader;

// Reads fields in order and remembers whether any read or check failed, so that a header
// parser reads like the header's own field list.
class FieldReader {
public:
    explicit FieldReader(BitReader& reader) : reader_(reader) {}

    int Read(int n) {
        if (!ok_) return 0;
        const int value = qv::ReadBits(reader_, n);
        if (value < 0) {
            ok_ = false;
            return 0;
        }
        return value;
    }
    // Reads n bits that must hold the given value.
    void Expect(int n, int value) {
        if (Read(n) != value) ok_ = false;
    }
    void SkipBytes(int count) {
        for (int k = 0; k < count && ok_; ++k) Read(8);
    }
    bool ok() const { return ok_; }

private:
    BitReader& reader_;
    bool ok_ = true;
};

// Streams whose packets carry no PES header: stepped over by their length alone.
bool IsHeaderlessStream(int id) {
    switch (id) {
        case 0xBC:  // program stream map
        case 0xBE:  // padding stream
        case 0xBF:  // private stream 2
        case 0xF0:  // ECM stream
        case 0xF1:  // EMM stream
        case 0xF2:  // DSM-CC stream
        case 0xF8:  // ITU-T H.222.1 type E stream
        case 0xFF:  // program stream directory
            return true;
        default:
            return false;
    }
}

bool IsVideoStream(int id) { return id >= 0xE0 && id <= 0xEF; }

// Reads a time stamp field of 40 bits whose first four bits must be `prefix`.
void ReadTimeStamp(FieldReader& f, int prefix) {
    f.Expect(4, prefix);  // '0010' / '0011' / '0001'
    f.Read(3);            // time stamp bits 32..30
    f.Read(1);            // marker_bit
    f.Read(15);           // time stamp bits 29..15
    f.Read(1);            // marker_bit
    f.Read(15);           // time stamp bits 14..0
    f.Read(1);            // marker_bit
}

// Reads the PES header after the packet length. On success stores the header data length.
bool ReadPesHeader(BitReader& reader, int& header_data_length) {
    FieldReader f(reader);
    f.Expect(2, 2);                                // '10'
    f.Read(2);                                     // PES_scrambling_control
    f.Read(1);                                     // PES_priority
    f.Read(1);                                     // data_alignment_indicator
    f.Read(1);                                     // copyright
    f.Read(1);                                     // original_or_copy
    const int pts_dts_flags = f.Read(2);           // PTS_DTS_flags
    const int escr_flag = f.Read(1);               // ESCR_flag
    const int es_rate_flag = f.Read(1);            // ES_rate_flag
    const int dsm_trick_mode_flag = f.Read(1);     // DSM_trick_mode_flag
    const int additional_copy_info_flag = f.Read(1);  // additional_copy_info_flag
    const int crc_flag = f.Read(1);                // PES_CRC_flag
    const int extension_flag = f.Read(1);          // PES_extension_flag
    header_data_length = f.Read(8);                // PES_header_data_length
    if (!f.ok()) return false;

    if (pts_dts_flags == 2) {
        ReadTimeStamp(f, 2);  // PTS
    } else if (pts_dts_flags == 3) {
        ReadTimeStamp(f, 3);  // PTS
        // The DTS prefix is not tested: only the first four bits of the field are.
        f.Read(4);            // '0001'
        f.Read(3);            // DTS bits 32..30
        f.Read(1);            // marker_bit
        f.Read(15);           // DTS bits 29..15
        f.Read(1);            // marker_bit
        f.Read(15);           // DTS bits 14..0
        f.Read(1);            // marker_bit
    }
    if (escr_flag) {
        f.Read(24);  // ESCR, first half
        f.Read(24);  // ESCR, second half
    }
    if (es_rate_flag) {
        f.Read(1);   // marker_bit
        f.Read(22);  // ES_rate
        f.Read(1);   // marker_bit
    }
    if (dsm_trick_mode_flag) {
        const int control = f.Read(3);  // trick_mode_control
        if (control == 0 || control == 3) {
            f.Read(2);  // field_id
            f.Read(1);  // intra_slice_refresh
            f.Read(2);  // frequency_truncation
        } else if (control == 1 || control == 4) {
            f.Read(5);  // rep_cntrl
        } else if (control == 2) {
            f.Read(2);  // field_id
            f.Read(3);  // reserved
        } else {
            f.Read(5);  // reserved
        }
    }
    if (additional_copy_info_flag) {
        f.Read(1);  // marker_bit
        f.Read(7);  // additional_copy_info
    }
    if (crc_flag) f.Read(16);  // previous_PES_packet_CRC
    if (extension_flag) {
        const int private_data_flag = f.Read(1);     // PES_private_data_flag
        const int pack_header_field_flag = f.Read(1);  // pack_header_field_flag
        const int sequence_counter_flag = f.Read(1);   // program_packet_sequence_counter_flag
        const int pstd_buffer_flag = f.Read(1);        // P-STD_buffer_flag
        f.Read(3);                                     // reserved
        const int extension_flag_2 = f.Read(1);        // PES_extension_flag_2
        if (private_data_flag) f.SkipBytes(16);        // PES_private_data: 128 bits
        if (pack_header_field_flag) {
            const int field_length = f.Read(8);        // pack_field_length
            f.SkipBytes(field_length);                 // pack_header()
        }
        if (sequence_counter_flag) {
            f.Expect(1, 1);  // marker_bit
            f.Read(7);       // program_packet_sequence_counter
            f.Expect(1, 1);  // marker_bit
            f.Read(1);       // MPEG1_MPEG2_identifier
            f.Read(6);       // original_stuff_length
        }
        if (pstd_buffer_flag) {
            f.Expect(2, 1);  // '01'
            f.Read(1);       // P-STD_buffer_scale
            f.Read(13);      // P-STD_buffer_size
        }
        if (extension_flag_2) {
            f.Read(1);                               // marker_bit
            const int field_length = f.Read(7);      // PES_extension_field_length
            f.SkipBytes(field_length);               // extension bytes
        }
    }
    return f.ok();
}

bool StartsWithPrefix(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }

}  // namespace

int ParsePesPackets(const uint8_t* data, int length, _demux_buffer* buffer) {
    if (data == nullptr || buffer == nullptr || buffer->data == nullptr || length <= 0) return -1;
    buffer->length = 0;
    if (length < 3) return -1;
    if (data[0] != 0) return 0;

    int start = 0;
    while (length - start >= 4 && StartsWithPrefix(data + start)) {
        BitReader reader = qv::MakeBitReader(data + start, length - start);
        const int prefix = qv::ReadBits(reader, 24);     // packet_start_code_prefix
        const int stream_id = qv::ReadBits(reader, 8);   // stream_id
        const int packet_length = qv::ReadBits(reader, 16);  // PES_packet_length
        if (prefix < 0 || stream_id < 0 || packet_length < 0) return -1;

        if (!IsHeaderlessStream(stream_id)) {
            int header_data_length = 0;
            if (!ReadPesHeader(reader, header_data_length)) return -1;

            int payload_start;  // from the packet start
            if (header_data_length > 0) {
                // Optional fields and stuffing alike are covered by the header data length.
                payload_start = 9 + header_data_length;
            } else {
                // With no header data, one 0xFF stuffing byte is dropped in front of the payload.
                if (qv::PeekBits(reader, 8) != 0xFF) return 0;
                payload_start = reader.byte_pos + 1;
            }

            int payload_length = 6 + packet_length - payload_start;
            const int available = length - start - payload_start;
            if (IsVideoStream(stream_id)) {
                const int room = buffer->capacity - buffer->length;
                if (payload_length > room) payload_length = room;
                if (payload_length <= 0 || available < payload_length) return -1;
                std::memcpy(buffer->data + buffer->length, data + start + payload_start,
                            static_cast<size_t>(payload_length));
                buffer->length += payload_length;
            } else {
                // Audio and other streams travel beside the video in camera packs; they are
                // checked like video but their bytes must not reach the video decoder.
                if (payload_length <= 0 || available < payload_length) return -1;
            }
        }

        const int next = start + 6 + packet_length;
        if (next >= length || data[next] != 0) return 0;
        start = next;
    }
    return 0;
}

int ParsePackHeader(const uint8_t* data, int length, _demux_buffer* buffer) {
    if (buffer == nullptr || data == nullptr || length <= 0) return -1;
    if (buffer->data == nullptr) return 0;
    buffer->length = 0;
    if (length < 4) return -1;
    if (data[0] != 0 || data[1] != 0 || data[2] != 1 || data[3] != 0xBA) return -1;  // pack_start_code

    BitReader reader = qv::MakeBitReader(data + 4, length - 4);
    FieldReader f(reader);
    f.Expect(2, 1);                          // '01' (an MPEG-1 pack has '0010' here)
    f.Read(3);                               // system_clock_reference_base [32..30]
    f.Expect(1, 1);                          // marker_bit
    f.Read(15);                              // system_clock_reference_base [29..15]
    f.Expect(1, 1);                          // marker_bit
    f.Read(15);                              // system_clock_reference_base [14..0]
    f.Expect(1, 1);                          // marker_bit
    f.Read(9);                               // system_clock_reference_extension
    f.Expect(1, 1);                          // marker_bit
    f.Read(22);                              // program_mux_rate
    f.Read(7);                               // marker_bit, marker_bit, reserved
    const int stuffing_length = f.Read(3);   // pack_stuffing_length
    f.SkipBytes(stuffing_length);            // stuffing_byte
    if (!f.ok()) return -1;

    const int header_end = 4 + reader.byte_pos;  // 14 + stuffing length
    int pes_start = header_end;
    if (length - header_end >= 4 && StartsWithPrefix(data + header_end) && data[header_end + 3] == 0xBB) {
        f.Read(16);                              // system_header_start_code, first half
        f.Read(16);                              // system_header_start_code, second half
        const int header_length = f.Read(16);    // header_length
        f.Read(1);                               // marker_bit
        f.Read(22);                              // rate_bound
        f.Read(1);                               // marker_bit
        f.Read(6);                               // audio_bound
        f.Read(1);                               // fixed_flag
        f.Read(1);                               // CSPS_flag
        f.Read(1);                               // system_audio_lock_flag
        f.Read(1);                               // system_video_lock_flag
        f.Read(1);                               // marker_bit
        f.Read(5);                               // video_bound
        f.Read(1);                               // packet_rate_restriction_flag
        f.Read(7);                               // reserved_bits
        if (!f.ok()) return -1;
        // Only the first stream entry is checked; the header length steps over the rest.
        if (qv::PeekBits(reader, 1) == 1) {
            f.Read(8);       // stream_id
            f.Expect(2, 3);  // '11'
            f.Read(1);       // P-STD_buffer_bound_scale
            f.Read(13);      // P-STD_buffer_size_bound
            if (!f.ok()) return -1;
        }
        pes_start = header_end + 6 + header_length;
    }

    if (pes_start < length && length - pes_start >= 3 && StartsWithPrefix(data + pes_start)) {
        ParsePesPackets(data + pes_start, length - pes_start, buffer);
    }
    return 0;
}
