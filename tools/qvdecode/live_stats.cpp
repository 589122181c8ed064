#include "live_stats.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "QVDecoder.h"

namespace qvtool {

bool IsLiveSource(const std::string& name) {
    const bool sdp = name.size() > 4 && name.compare(name.size() - 4, 4, ".sdp") == 0;
    // pipe:N is a file read once, with the file's times and its end.
    return name.find("://") != std::string::npos || sdp;
}

bool IsServedRecording(const std::string& name, int64_t duration_us) {
    if (duration_us <= 0) return false;
    for (const char* scheme : {"http://", "https://", "ftp://"}) {
        if (name.rfind(scheme, 0) == 0) return true;
    }
    return false;
}

std::string PrintableName(const std::string& name) {
    // The library's own rule, as its log masks addresses.
    const int length = QVDecoder::QVMaskPassword(name.c_str(), nullptr, 0);
    if (length < 0) return name;
    std::string shown(static_cast<size_t>(length) + 1, '\0');
    QVDecoder::QVMaskPassword(name.c_str(), &shown[0], length + 1);
    shown.resize(static_cast<size_t>(length));
    return shown;
}

LiveStats::LiveStats(bool enabled) : enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

void LiveStats::Picture(bool damaged, int64_t delay_us, int64_t wallclock_us) {
    ++second_.pictures;
    if (damaged) ++second_.damaged;
    if (delay_us >= 0) {
        second_.delay_sum += delay_us;
        second_.delay_max = std::max(second_.delay_max, delay_us);
    }
    if (wallclock_us > 0) {
        const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
        second_.age_sum += now - wallclock_us;
        ++second_.ages;
    }
}

void LiveStats::Tick() {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - start_).count();
    if (!enabled_ || seconds < 1.0) return;
    const Second& s = second_;
    std::fprintf(stderr,
                 "live: %.1f pictures/s, %" PRId64 " packets without picture, %" PRId64
                 " damaged, delay arrival to hand-out %.1f ms (max %.1f ms)",
                 s.pictures / seconds, s.empty, s.damaged,
                 s.pictures > 0 ? s.delay_sum / 1000.0 / s.pictures : 0.0, s.delay_max / 1000.0);
    if (s.ages > 0) std::fprintf(stderr, ", capture to hand-out %.1f ms", s.age_sum / 1000.0 / s.ages);
    if (outages_ > 0) std::fprintf(stderr, ", outages so far %d", outages_);
    std::fprintf(stderr, "\n");
    second_ = Second{};
    start_ = now;
}

}  // namespace qvtool
