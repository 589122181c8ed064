#include "base/picture_time.h"

#include <cmath>

namespace qv {

int64_t TicksToMicros(int64_t ticks, AVRational time_base) {
    if (ticks == AV_NOPTS_VALUE || time_base.num <= 0 || time_base.den <= 0) return AV_NOPTS_VALUE;
    // ticks * num * 10^6 / den in 128 bits: no time base makes it overflow or round twice.
    const __int128 scaled = static_cast<__int128>(ticks) * time_base.num * 1000000 / time_base.den;
    if (scaled > INT64_MAX) return INT64_MAX;
    if (scaled < -INT64_MAX) return -INT64_MAX;
    return static_cast<int64_t>(scaled);
}

namespace {

__int128 FloorDivide(__int128 a, __int128 b) {
    __int128 q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0)) --q;
    return q;
}

}  // namespace

int64_t LastTickAtOrBefore(int64_t micros, AVRational time_base) {
    if (time_base.num <= 0 || time_base.den <= 0) return AV_NOPTS_VALUE;
    const __int128 per_tick = static_cast<__int128>(time_base.num) * 1000000;  // µs x den per tick
    // Times truncate toward zero: below zero a tick's time is at or before `micros` when its
    // exact time is; from zero on, when its exact time is before `micros` + 1.
    __int128 tick = micros < 0 ? FloorDivide(static_cast<__int128>(micros) * time_base.den, per_tick)
                               : -FloorDivide(-(static_cast<__int128>(micros) + 1) * time_base.den, per_tick) - 1;
    if (tick > INT64_MAX / 2) tick = INT64_MAX / 2;
    if (tick < INT64_MIN / 2) tick = INT64_MIN / 2;
    return static_cast<int64_t>(tick);
}

double MicrosToSeconds(int64_t micros) {
    double seconds = static_cast<double>(micros) / 1000000.0;
    // The division rounds to the nearest double, which may sit just below the microsecond.
    for (int i = 0; i < 4; ++i) {
        const double back = std::trunc(seconds * 1000000.0);
        if (back == static_cast<double>(micros)) break;
        seconds = std::nextafter(seconds, back < static_cast<double>(micros) ? HUGE_VAL : -HUGE_VAL);
    }
    return seconds;
}

}  // namespace qv
