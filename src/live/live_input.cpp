#include "live/live_input.h"

#include <cstring>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/ffmpeg.h"

namespace qv {

namespace {

bool HasScheme(const char* name, const char* scheme) {
    const size_t length = std::strlen(scheme);
    return av_strncasecmp(name, scheme, length) == 0 && name[length] == ':';
}

bool EndsWith(const char* name, const char* suffix) {
    const size_t length = std::strlen(name);
    const size_t tail = std::strlen(suffix);
    return length >= tail && av_strcasecmp(name + length - tail, suffix) == 0;
}

// This thread's pages touched for the first time (a fresh page costs one fault) and the
// times it was taken off the processor while it could run.
struct ThreadUsage {
    int64_t faults = 0;
    int64_t preemptions = 0;
};

ThreadUsage UsageNow() {
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) != 0) return {};
    return {usage.ru_minflt + usage.ru_majflt, usage.ru_nivcsw};
}

}  // namespace

bool IsDirectNetworkName(const char* name) {
    return HasScheme(name, "rtsp") || HasScheme(name, "rtsps") || HasScheme(name, "rtp");
}

bool IsLiveName(const char* name) {
    for (const char* scheme : {"rtsp", "rtsps", "rtp", "udp", "tcp", "srt", "http", "https", "rtmp"}) {
        if (HasScheme(name, scheme)) return true;
    }
    // A session description names RTP streams that arrive as they are sent.
    return EndsWith(name, ".sdp");
}

int InputGuard::SetTimeout(int ms) {
    if (ms < 0) return -1;
    timeout_ms_ = ms;
    return 0;
}

bool InputGuard::Arm(bool opening) {
    expired_ = false;
    over_budget_ = false;
    opening_ = opening;
    armed_ = true;
    const ThreadUsage usage = UsageNow();
    faults_at_arm_ = usage.faults;
    quiet_ = 0;
    last_look_ = av_gettime_relative();
    preemptions_ = usage.preemptions;
    if (fresh_ || opening) {
        deadline_ = can_stall_ && timeout_ms_ > 0 ? av_gettime_relative() + static_cast<int64_t>(timeout_ms_) * 1000 : 0;
        fresh_ = false;
    }
    // An interrupt made while nothing waited ends this call before it reads a byte.
    return !interrupted_.exchange(false, std::memory_order_acq_rel);
}

bool InputGuard::GaveUp() {
    const bool interrupted = interrupted_.exchange(false, std::memory_order_acq_rel);
    const bool gave_up = expired_ || interrupted || over_budget_;
    expired_ = false;
    return gave_up;
}

void InputGuard::Reset() {
    interrupted_.store(false, std::memory_order_release);
    expired_ = false;
    deadline_ = 0;
    armed_ = false;
    fresh_ = true;
}

AVIOInterruptCB InputGuard::callback() { return AVIOInterruptCB{&InputGuard::Callback, this}; }

int InputGuard::Callback(void* opaque) {
    auto* guard = static_cast<InputGuard*>(opaque);
    // An open takes an interrupt at once: only reads count quiet polls.
    const bool look = guard->can_stall_ && !guard->opening_ && guard->quiet_polls_ > 0;
    const ThreadUsage usage = look || guard->watch_memory_ ? UsageNow() : ThreadUsage{};
    if (look) guard->Look(usage.preemptions);
    // A local file's read is left to finish its packet: the interrupt is taken before the next.
    // So is a stream read that is getting bytes; one waiting on a quiet source takes it.
    if (guard->interrupted_.load(std::memory_order_acquire) &&
        (guard->opening_ || (guard->can_stall_ && guard->quiet_ >= guard->quiet_polls_))) {
        return 1;
    }
    if (guard->probing_ && ++guard->looks_ > kProbeLooks) {
        guard->over_budget_ = true;
        return 1;
    }
    if (guard->watch_memory_) {
        static const int64_t page = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
        if ((usage.faults - guard->faults_at_arm_) * page > kMemoryBudget) {
            guard->over_budget_ = true;
            return 1;
        }
    }
    if (guard->armed_ && guard->deadline_ != 0 && av_gettime_relative() > guard->deadline_) {
        guard->expired_ = true;
        return 1;
    }
    return 0;
}

void InputGuard::Look(int64_t preemptions) {
    const int64_t now = av_gettime_relative();
    // A poll that timed out returns no earlier than its timeout; bytes that came end it
    // sooner. A long gap from being held off the processor says nothing of the source.
    const bool quiet = now - last_look_ >= kPollMs * 1000 && preemptions == preemptions_;
    quiet_ = quiet ? quiet_ + 1 : 0;
    last_look_ = now;
    preemptions_ = preemptions;
}

bool CanStall(const char* name) {
    // A session description on disk names network streams: reading it is the least of it.
    if (EndsWith(name, ".sdp")) return true;
    const char* path = name;
    if (HasScheme(name, "file")) {
        path = name + 5;
    } else {
        // FFmpeg reads a name with a scheme (letters before a colon) through that protocol.
        const char* colon = std::strchr(name, ':');
        const size_t scheme = std::strspn(name, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.");
        if (colon && name + scheme == colon && scheme > 1) return true;
    }
    struct stat info;
    // A name that cannot be looked at fails to open anyway; FIFOs and devices can stall.
    return stat(path, &info) == 0 && !S_ISREG(info.st_mode);
}

NetworkOptions::~NetworkOptions() { av_dict_free(&options_); }

int NetworkOptions::Set(const char* key, const char* value) {
    if (!key || !*key) return -1;
    return av_dict_set(&options_, key, value, 0) < 0 ? -1 : 0;
}

AVDictionary* NetworkOptions::ForOpen(const char* name) const {
    AVDictionary* options = nullptr;
    if (HasScheme(name, "rtsp") || HasScheme(name, "rtsps")) {
        // Interleaved TCP passes firewalls and loses nothing; UDP on request.
        av_dict_set(&options, "rtsp_transport", "tcp", 0);
    }
    if (IsLiveName(name)) {
        // Packets are handed on as they arrive. RTP over UDP keeps a short reordering
        // window: packets in order pass at once, one behind a gap waits at most 30 ms for
        // the gap to fill (a lost packet costs the pictures behind it that much).
        const bool rtp = HasScheme(name, "rtsp") || HasScheme(name, "rtsps") || EndsWith(name, ".sdp");
        av_dict_set(&options, "max_delay", rtp ? "30000" : "0", 0);
    }
    if (EndsWith(name, ".sdp")) {
        // The session description names the RTP ports it opens.
        av_dict_set(&options, "protocol_whitelist", "file,udp,rtp,crypto,data", 0);
    }
    av_dict_copy(&options, options_, 0);
    return options;
}

}  // namespace qv
