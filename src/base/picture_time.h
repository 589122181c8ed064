// The one conversion between a stream's time base and the microseconds hosts see. Every
// picture time, seek target, start time and length goes through it, so that a seek to a
// time the library reported lands on that very picture.
#pragma once

#include <cstdint>

#include "base/ffmpeg.h"

namespace qv {

// Microseconds of `ticks` in `time_base`, exact, truncated toward zero (-1.5 µs is -1);
// AV_NOPTS_VALUE (and a time base without a denominator) stays AV_NOPTS_VALUE.
int64_t TicksToMicros(int64_t ticks, AVRational time_base);

// The last tick whose time on that clock is at or before `micros`: a key frame there or
// before it is the one to read from for a picture at `micros`.
int64_t LastTickAtOrBefore(int64_t micros, AVRational time_base);

// Seconds whose classic conversion to microseconds (x 1000000 in double, truncated toward
// zero) gives `micros` again: the frame time of a picture whose time the library counted, so
// that the frame timestamp and the picture time of such a picture agree.
double MicrosToSeconds(int64_t micros);

}  // namespace qv
