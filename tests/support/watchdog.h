// Bounds on tests that wait on a source (a network server, a pipe, a FIFO, a child process):
// a wait that never ends fails its test process at once with a clear message, instead of
// hanging until ctest's limit.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace qvtest {

// Ends the test process with a message naming `what` when the scope it guards has not
// ended within `limit_ms` (for a blocking call: about twice its timeout).
class Watchdog {
public:
    Watchdog(int limit_ms, std::string what);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex lock_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// A watchdog over the whole of the running test, for fixtures whose every test waits on a
// source; its message names the test.
class TestWatchdog : public Watchdog {
public:
    explicit TestWatchdog(int limit_ms);
};

}  // namespace qvtest
