// The HTTP server's connections, bounded: up to `clients` are served at once, each on a
// worker thread of its own; a connection beyond them is still read and answered, but with
// 503, by one thread kept for that (RefusingThisConnection() tells a handler so).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>

namespace qvtool {

class HttpClientPool : public httplib::TaskQueue {
public:
    explicit HttpClientPool(size_t clients);
    ~HttpClientPool() override;
    void enqueue(std::function<void()> fn) override;
    void shutdown() override;

    // True on the thread answering a connection over the bound.
    static bool RefusingThisConnection();

private:
    void Work(bool refuser);

    const size_t clients_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> served_, refused_;
    size_t busy_ = 0;
    bool shutdown_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace qvtool
