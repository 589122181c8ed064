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

// Bounds the blocking calls of one object: libavformat polls Callback while it waits, and
// gives up once the deadline passed or another thread asked for an interrupt.
//
// An interrupt ends exactly one blocking call: the call running when it came, or else the
// next one, which gives up before it reads anything. That call consumes it (GaveUp), so the
// call after goes on where it was. The deadline applies only to sources that can stall
// (network, pipes, FIFOs): a local file's open and reads are never cut short by it, and its
// reads take an interrupt between packets only, so that no byte is lost.
//
// A read of a source that can stall is a stream read that no layer may be able to resume
// once begun (an interleaved RTSP frame, a Matroska element half read): cut in the middle,
// the next read would start inside it. Such a read takes an interrupt only once it has
// waited set_quiet_polls() whole polls of the layer below (libavformat's network polls, the
// pipe reader's) with nothing arriving, and without the thread being held off the processor
// meanwhile: a source that keeps sending lets the read finish its packet, and the interrupt
// then ends the call at its next read, before that reads anything.
class InputGuard {
public:
    static constexpr int kDefaultTimeoutMs = 10000;
    // The longest single wait of the layers below between two looks at the interrupt
    // (libavformat's network polls, the pipe reader's): a gap as long means nothing arrived.
    static constexpr int kPollMs = 100;

    // 0 waits forever; a negative value is refused with -1.
    int SetTimeout(int ms);
    int timeout_ms() const { return timeout_ms_; }
    // Whether the source open now can stall: only then is a deadline armed, and only then
    // does an interrupt cut a read in the middle.
    void set_can_stall(bool can_stall) { can_stall_ = can_stall; }
    bool can_stall() const { return can_stall_; }
    // Sources whose demuxer reads the network itself (RTSP): while on, one blocking call may
    // make this thread take at most kMemoryBudget of fresh memory (pages it touches for the
    // first time), which a reply claiming gigabytes would make it take; over it, the call
    // gives up with over_budget(). Off while a probe decodes pictures.
    static constexpr int64_t kMemoryBudget = 32 << 20;
    void set_watch_memory(bool on) { watch_memory_ = on; }
    // A live source's probe keeps every packet it reads, tiny ones at hundreds of bytes each:
    // while on, the probe gives up (over_budget) after kProbeLooks looks at the interrupt,
    // of which it takes one per packet, besides its bound in bytes and the deadline.
    static constexpr int64_t kProbeLooks = 30000;
    void set_probing(bool on) {
        probing_ = on;
        looks_ = 0;
    }
    bool over_budget() const { return over_budget_; }
    // Whole quiet polls after which a read of a source that can stall takes an interrupt:
    // 0 at once (a wait that has read nothing yet), 1 where a read given up between two
    // pieces of the source is resumed (RTP packets, transport packets), more where it is not.
    void set_quiet_polls(int polls) { quiet_polls_ = polls; }
    // A public call begins: its reads share one deadline, however many packets it reads.
    void NewCall() { fresh_ = true; }
    // Starts one blocking read (`opening`: an open, which an interrupt ends whatever the
    // source), under the deadline of the public call it belongs to. False when an interrupt
    // is pending already: the call gives up before it reads, and the interrupt is consumed.
    bool Arm(bool opening = false);
    // The blocking read is over: nothing is cut short until the next Arm.
    void Disarm() {
        armed_ = false;
        opening_ = false;
    }
    // Any thread: the blocking call in progress (or the next one) gives up at once.
    void Interrupt() { interrupted_.store(true, std::memory_order_release); }
    // The call armed last was given up: the timeout ran out or Interrupt was called.
    // Consumes an interrupt, so the call after works again.
    bool GaveUp();
    // Forgets an interrupt nobody waited for (QVClose).
    void Reset();
    AVIOInterruptCB callback();

private:
    static int Callback(void* opaque);
    // Counts the whole polls in a row that the read waited on a quiet source (`preemptions`:
    // this thread's involuntary switches so far).
    void Look(int64_t preemptions);

    int timeout_ms_ = kDefaultTimeoutMs;
    bool can_stall_ = true;
    bool opening_ = false;
    bool armed_ = false;
    bool fresh_ = true;  // the next Arm starts a new deadline
    bool watch_memory_ = false;
    bool probing_ = false;
    int64_t looks_ = 0;  // looks at the interrupt since the probe began
    bool over_budget_ = false;
    int64_t faults_at_arm_ = 0;  // this thread's page faults when the call began
    int quiet_polls_ = 1;
    int quiet_ = 0;               // whole quiet polls in a row in this read
    int64_t last_look_ = 0;       // when Callback was asked last in this read (µs)
    int64_t preemptions_ = 0;     // this thread's involuntary switches then
    int64_t deadline_ = 0;  // av_gettime_relative() microseconds; 0: none
    bool expired_ = false;
    std::atomic<bool> interrupted_{false};
};

// Whether a name is a source that can stall: anything but a regular local file (a session
// description is one: it names the network streams read).
bool CanStall(const char* name);

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
