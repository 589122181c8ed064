#include "file/file_rates.h"

#include <climits>

#include "base/ffmpeg.h"

namespace qv {

int FileBitRate(int64_t bit_rate, int tolerance) {
    if (bit_rate <= 0) return tolerance;
    return bit_rate > INT_MAX ? INT_MAX : static_cast<int>(bit_rate);
}

FrameRate FileFrameRate(int rate_num, int rate_den, int time_base_num, int time_base_den,
                        int64_t duration, int64_t nb_frames) {
    FrameRate rate{rate_num, rate_den};
    // Containers that only know a time base report it as the frame rate (1000/1 for a
    // millisecond clock); the stream's own mean rate is closer to the truth then.
    if (rate_den == 0 || time_base_den == 0) return rate;
    // In 64 bits: INT_MIN / -1 does not fit an int and traps.
    if (static_cast<int64_t>(rate_num) / rate_den <= 100 || duration <= 0 || nb_frames <= 0) return rate;
    const double seconds =
        static_cast<double>(time_base_num) * static_cast<double>(duration) / time_base_den;
    if (!(seconds > 0.0)) return rate;
    const float per_second = static_cast<float>(static_cast<double>(nb_frames) / seconds);
    const double thousandths = per_second * 1000.0;
    if (!(thousandths < static_cast<double>(INT_MAX))) return rate;
    rate.num = static_cast<int>(thousandths);
    rate.den = 1000;
    return rate;
}

// Both conversions are num * value * 1000 / den truncated toward zero; av_rescale_rnd
// computes that exactly without overflowing on the wild values of damaged files. A result
// beyond 64 bits saturates with its true sign: av_rescale_rnd reports such a result as
// INT64_MIN, which would turn a far-future time into the most negative one.
static int64_t Rescale(int64_t value, int64_t num, int64_t den) {
    if (den == 0 || value == 0 || num == 0) return 0;
    if (den < 0) {
        den = -den;
        num = -num;
    }
    const bool negative = (value < 0) != (num < 0);
    const int64_t abs_value = value == INT64_MIN ? INT64_MAX : (value < 0 ? -value : value);
    const int64_t abs_num = num < 0 ? -num : num;
    int64_t magnitude = av_rescale_rnd(abs_value, abs_num, den, AV_ROUND_ZERO);
    if (magnitude < 0) magnitude = INT64_MAX;
    return negative ? -magnitude : magnitude;
}

int64_t TimeToMilliseconds(int64_t time, int time_base_num, int time_base_den) {
    return Rescale(time, static_cast<int64_t>(time_base_num) * 1000, time_base_den);
}

int64_t FramesToMilliseconds(int64_t base_ms, int64_t frames, int rate_num, int rate_den) {
    if (rate_num == 0) return base_ms;
    const int64_t step = Rescale(frames, static_cast<int64_t>(rate_den) * 1000, rate_num);
    // The sum stays within 64 bits: a base near the limit saturates instead of wrapping.
    if (step > 0 && base_ms > INT64_MAX - step) return INT64_MAX;
    if (step < 0 && base_ms < INT64_MIN - step) return INT64_MIN;
    return base_ms + step;
}

}  // namespace qv
