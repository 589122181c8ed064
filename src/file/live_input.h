// Live inputs (network cameras, pipes): which names are live, the options they open with,
// and the guard that bounds every blocking open and read of a media file.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct AVDictionary;
struct AVIOInterruptCB;

namespace qv {

// Names whose demuxer opens the network itself (no byte input of ours in between).
bool IsDirectNetworkName(const char* name);
// Names of sources that deliver as they are produced: short probe, errors are network errors.
bool IsLiveName(const char* name);

// Bounds blocking calls: libavformat polls Callback while it waits, and gives up once the
// deadline passed or another thread asked for an interrupt.
class InputGuard {
public:
    static constexpr int kDefaultTimeoutMs = 10000;

    // 0 waits forever; a negative value is refused with -1.
    int SetTimeout(int ms);
    int timeout_ms() const { return timeout_ms_; }
    // Starts the clock for one blocking call.
    void Arm();
    // Any thread: the blocking call in progress (or the next one) gives up at once.
    void Interrupt() { interrupted_.store(true, std::memory_order_release); }
    // The last call was given up: the timeout ran out or Interrupt was called. Consumes an
    // interrupt, so the call after works again.
    bool GaveUp();
    // Forgets an interrupt nobody waited for (the object closes).
    void Reset();
    AVIOInterruptCB callback();

private:
    static int Callback(void* opaque);

    int timeout_ms_ = kDefaultTimeoutMs;
    int64_t deadline_ = 0;  // av_gettime_relative() microseconds; 0: none
    bool expired_ = false;
    std::atomic<bool> interrupted_{false};
};

// Options a host passes to the network layer (transport, user agent, credentials), kept
// for every later open. Values never reach a log line.
class NetworkOptions {
public:
    NetworkOptions() = default;
    ~NetworkOptions();
    NetworkOptions(const NetworkOptions&) = delete;
    NetworkOptions& operator=(const NetworkOptions&) = delete;

    // A null value removes the key. -1 for a null or empty key.
    int Set(const char* key, const char* value);
    // A fresh dictionary for one open: the defaults for the name, then the host's options.
    AVDictionary* ForOpen(const char* name) const;

private:
    AVDictionary* options_ = nullptr;
};

}  // namespace qv
