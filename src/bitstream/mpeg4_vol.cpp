#include "bitstream/mpeg4_vol.h"

#include "bitstream/annexb_units.h"
#include "bitstream/rbsp_reader.h"

namespace qv {
namespace {

// The area a video object layer header (the bytes after its start code value) states, or 0.
// The header has no emulation prevention; the reader gives zeros past the end.
int64_t VolArea(const uint8_t* header, int length) {
    RbspReader r(header, length);
    r.u(1);                                  // random_accessible_vol
    r.u(8);                                  // video_object_type_indication
    uint32_t verid = 1;
    if (r.u(1)) {                            // is_object_layer_identifier
        verid = r.u(4);                      // video_object_layer_verid
        r.u(3);                              // video_object_layer_priority
    }
    if (r.u(4) == 15) {                      // aspect_ratio_info: extended_PAR
        r.u(8);                              // par_width
        r.u(8);                              // par_height
    }
    if (r.u(1)) {                            // vol_control_parameters
        r.u(2);                              // chroma_format
        r.u(1);                              // low_delay
        if (r.u(1)) {                        // vbv_parameters
            r.u(16);                         // first_half_bit_rate, marker_bit
            r.u(16);                         // latter_half_bit_rate, marker_bit
            r.u(16);                         // first_half_vbv_buffer_size, marker_bit
            r.u(3);                          // latter_half_vbv_buffer_size
            r.u(12);                         // first_half_vbv_occupancy, marker_bit
            r.u(16);                         // latter_half_vbv_occupancy, marker_bit
        }
    }
    const uint32_t shape = r.u(2);           // video_object_layer_shape
    if (shape == 3 && verid != 1) r.u(4);    // video_object_layer_shape_extension
    r.u(1);                                  // marker_bit
    const uint32_t resolution = r.u(16);     // vop_time_increment_resolution
    r.u(1);                                  // marker_bit
    if (r.u(1)) {                            // fixed_vop_rate
        int bits = 1;
        while (bits < 16 && (1u << bits) < resolution) ++bits;
        r.u(bits);                           // fixed_vop_time_increment
    }
    if (shape != 0) return 0;                // only a rectangular layer states a size
    r.u(1);                                  // marker_bit
    const int64_t width = r.u(13);           // video_object_layer_width
    r.u(1);                                  // marker_bit
    const int64_t height = r.u(13);          // video_object_layer_height
    return r.ok() ? width * height : 0;
}

}  // namespace

int64_t Mpeg4StatedPictureArea(const uint8_t* data, int length) {
    int64_t largest = 0;
    ForEachAnnexBUnit(data, length, [&largest](const uint8_t* unit, int size) {
        if (unit[0] == 0xB6) return false;  // the headers come before the first picture
        if (unit[0] >= 0x20 && unit[0] <= 0x2F) {
            const int64_t area = VolArea(unit + 1, size - 1);
            if (area > largest) largest = area;
        }
        return true;
    });
    return largest;
}

}  // namespace qv
