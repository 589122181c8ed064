// Servers on 127.0.0.1 for the live-source tests, owned by the test that starts them: a
// child process (the RTSP server script, an HTTP server, an RTP sender) killed with its
// process group when the owner goes, and an in-process TCP server that accepts and then
// sends only what it is told to.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

#include "watchdog.h"

namespace qvtest {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the program in a process group of its own, its standard output readable here.
    bool Start(const std::vector<std::string>& argv);
    // The next line the child writes, waiting at most `timeout_ms`; empty when none came.
    std::string ReadLine(int timeout_ms);
    void Pause();   // the child stops sending without closing its sockets
    void Resume();
    void Stop();    // kills the whole group and reaps the child
    // Sends the child `signal` and reaps it: its exit code, or -1 when it did not exit within
    // `timeout_ms` (Stop then kills it) or was killed by the signal.
    int Signal(int signal, int timeout_ms);
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

// The port a program that prints "... port N ..." or a bare "N" as its first line listens on;
// 0 when the line never came within the timeout.
int ReadPort(ChildProcess& child, int timeout_ms);

// A free port on 127.0.0.1 for a server that cannot report its own (UDP: an even one, RTCP
// takes the next).
int FreeUdpPort();

// Accepts connections on 127.0.0.1 and sends each the same bytes, then nothing more while it
// holds the connection open: a camera that answers and then goes silent, or (no bytes) one
// that never answers.
class SilentTcpServer {
public:
    explicit SilentTcpServer(std::vector<uint8_t> bytes = {});
    ~SilentTcpServer();
    SilentTcpServer(const SilentTcpServer&) = delete;
    SilentTcpServer& operator=(const SilentTcpServer&) = delete;
    int port() const { return port_; }
    // Sends these bytes to every connection accepted so far and closes it: the camera
    // goes on after a stall, then ends.
    void Finish(const std::vector<uint8_t>& rest);

private:
    void Serve();

    std::mutex lock_;
    std::vector<uint8_t> bytes_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<int> connections_;
    std::thread thread_;
};

// The offset of the first transport-stream packet at or after `from` that starts a PES
// packet of the first program's video (PID 0x100): a camera that stalls there stalls
// between two pictures. The end when none does.
size_t TsPictureStart(const std::vector<uint8_t>& ts, size_t from);

// The process's peak resident memory (VmHWM) in kB, after resetting it to the current
// resident size when `reset` (so that growth from now on can be measured); -1 if unknown.
int64_t PeakResidentKb(bool reset = false);

}  // namespace qvtest
