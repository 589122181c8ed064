// Arithmetic rules of file mode that depend on nothing but numbers: the video bit rate
// taken at open, the frame rate reported for a stream, and the time values of packets.
#pragma once

#include <cstdint>

namespace qv {

// The stream's bit rate when positive, else the decoder's tolerance (which may be
// negative and still counts as set). Clamped into an int.
int FileBitRate(int64_t bit_rate, int tolerance);

struct FrameRate {
    int num;
    int den;
};

// The stream's r_frame_rate, unless it claims more than 100 frames a second and the
// stream's length is known: then the mean rate over the stream in thousandths, /1000.
// A zero denominator (rate or time base) leaves the r_frame_rate as it is.
FrameRate FileFrameRate(int rate_num, int rate_den, int time_base_num, int time_base_den,
                        int64_t duration, int64_t nb_frames);

// Milliseconds of a packet time in time-base units, multiplications first then one
// division truncating toward zero; 0 for a zero time-base denominator. A result beyond
// 64 bits saturates.
int64_t TimeToMilliseconds(int64_t time, int time_base_num, int time_base_den);

// Milliseconds of a packet without a time of its own: `frames` frame periods after
// `base_ms`. A zero frame rate adds nothing.
int64_t FramesToMilliseconds(int64_t base_ms, int64_t frames, int rate_num, int rate_den);

}  // namespace qv
