#include "http_client_pool.h"

namespace qvtool {
namespace {

// Connections waiting for their 503; beyond them the accepting thread answers itself, which
// holds back accepting (the kernel's backlog queues the rest) rather than memory growing.
constexpr size_t kRefusedWaiting = 16;

thread_local bool t_refusing = false;

}  // namespace

HttpClientPool::HttpClientPool(size_t clients) : clients_(clients) {
    for (size_t i = 0; i < clients_; ++i) threads_.emplace_back([this] { Work(false); });
    threads_.emplace_back([this] { Work(true); });
}

HttpClientPool::~HttpClientPool() { shutdown(); }

bool HttpClientPool::RefusingThisConnection() { return t_refusing; }

void HttpClientPool::enqueue(std::function<void()> fn) {
    bool queued = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (busy_ + served_.size() < clients_) {
            served_.push_back(std::move(fn));
        } else if (refused_.size() < kRefusedWaiting) {
            refused_.push_back(std::move(fn));
        } else {
            queued = false;
        }
    }
    if (queued) {
        ready_.notify_all();
        return;
    }
    t_refusing = true;
    fn();
    t_refusing = false;
}

void HttpClientPool::Work(bool refuser) {
    t_refusing = refuser;
    std::deque<std::function<void()>>& queue = refuser ? refused_ : served_;
    for (;;) {
        std::function<void()> fn;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [&] { return shutdown_ || !queue.empty(); });
            // Connections already accepted are still answered (and their sockets closed).
            if (queue.empty()) return;
            fn = std::move(queue.front());
            queue.pop_front();
            if (!refuser) ++busy_;
        }
        fn();
        if (!refuser) {
            std::lock_guard<std::mutex> lock(mutex_);
            --busy_;
        }
    }
}

void HttpClientPool::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shutdown_) return;
        shutdown_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_) t.join();
}

}  // namespace qvtool
