#include "live_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace qvtest {

bool ChildProcess::Start(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        setpgid(0, 0);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    setpgid(pid, pid);
    close(fds[1]);
    pid_ = pid;
    out_ = fds[0];
    return true;
}

std::string ChildProcess::ReadLine(int timeout_ms) {
    for (int waited = 0; waited <= timeout_ms;) {
        const size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            char buffer[512];
            const ssize_t n = read(out_, buffer, sizeof(buffer));
            if (n <= 0) return "";  // the child is gone
            pending_.append(buffer, static_cast<size_t>(n));
        } else {
            waited += 50;
        }
    }
    return "";
}

void ChildProcess::Pause() {
    if (pid_ > 0) kill(-pid_, SIGSTOP);
}

void ChildProcess::Resume() {
    if (pid_ > 0) kill(-pid_, SIGCONT);
}

void ChildProcess::Stop() {
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (out_ >= 0) {
        close(out_);
        out_ = -1;
    }
}

int ChildProcess::Signal(int signal, int timeout_ms) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    for (int waited = 0; waited <= timeout_ms; waited += 50) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        usleep(50 * 1000);
    }
    return -1;
}

int ReadPort(ChildProcess& child, int timeout_ms) {
    const std::string line = child.ReadLine(timeout_ms);
    const size_t at = line.find("port ");
    const std::string number = at == std::string::npos ? line : line.substr(at + 5);
    return std::atoi(number.c_str());
}

int FreeUdpPort() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(a);
        int port = 0;
        if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
            getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
            port = ntohs(a.sin_port);
        }
        close(s);
        if (port > 0 && port % 2 == 0 && port < 65534) return port;
    }
    return 0;
}

SilentTcpServer::SilentTcpServer(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(a);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        return;
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

void SilentTcpServer::Finish(const std::vector<uint8_t>& rest) {
    std::lock_guard<std::mutex> hold(lock_);
    for (int c : connections_) {
        for (size_t sent = 0; sent < rest.size();) {
            const ssize_t n = send(c, rest.data() + sent, rest.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        close(c);
    }
    connections_.clear();
    bytes_.clear();
}

size_t TsPictureStart(const std::vector<uint8_t>& ts, size_t from) {
    for (size_t at = from / 188 * 188; at + 188 <= ts.size(); at += 188) {
        // sync byte, payload_unit_start_indicator, PID
        if (ts[at] == 0x47 && (ts[at + 1] & 0x40) && (((ts[at + 1] & 0x1F) << 8) | ts[at + 2]) == 0x100) return at;
    }
    return ts.size();
}

int64_t PeakResidentKb(bool reset) {
    // Writing 5 to clear_refs sets the peak back to the current resident size.
    if (reset) std::ofstream("/proc/self/clear_refs") << "5";
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6);
    }
    return -1;
}

SilentTcpServer::~SilentTcpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int c : connections_) close(c);
    if (listener_ >= 0) close(listener_);
}

void SilentTcpServer::Serve() {
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        const int c = accept(listener_, nullptr, nullptr);
        if (c < 0) continue;
        std::lock_guard<std::mutex> hold(lock_);
        connections_.push_back(c);
        for (size_t sent = 0; sent < bytes_.size() && !stop_;) {
            const ssize_t n = send(c, bytes_.data() + sent, bytes_.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
    }
}

}  // namespace qvtest
