#include "file/live_input.h"

#include <cstring>

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

void InputGuard::Arm() {
    expired_ = false;
    deadline_ = timeout_ms_ > 0 ? av_gettime_relative() + static_cast<int64_t>(timeout_ms_) * 1000 : 0;
}

bool InputGuard::GaveUp() {
    const bool interrupted = interrupted_.exchange(false, std::memory_order_acq_rel);
    const bool gave_up = expired_ || interrupted;
    expired_ = false;
    return gave_up;
}

void InputGuard::Reset() {
    interrupted_.store(false, std::memory_order_release);
    expired_ = false;
    deadline_ = 0;
}

AVIOInterruptCB InputGuard::callback() { return AVIOInterruptCB{&InputGuard::Callback, this}; }

int InputGuard::Callback(void* opaque) {
    auto* guard = static_cast<InputGuard*>(opaque);
    if (guard->interrupted_.load(std::memory_order_acquire)) return 1;
    if (guard->deadline_ != 0 && av_gettime_relative() > guard->deadline_) {
        guard->expired_ = true;
        return 1;
    }
    return 0;
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
        // Packets are handed on as they arrive: no reordering wait.
        av_dict_set(&options, "max_delay", "0", 0);
    }
    if (EndsWith(name, ".sdp")) {
        // The session description names the RTP ports it opens.
        av_dict_set(&options, "protocol_whitelist", "file,udp,rtp,crypto,data", 0);
    }
    av_dict_copy(&options, options_, 0);
    return options;
}

}  // namespace qv
