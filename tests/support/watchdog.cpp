#include "watchdog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace qvtest {

Watchdog::Watchdog(int limit_ms, std::string what) {
    thread_ = std::thread([this, limit_ms, what] {
        std::unique_lock<std::mutex> hold(lock_);
        if (done_.wait_for(hold, std::chrono::milliseconds(limit_ms), [this] { return finished_; })) return;
        std::fprintf(stderr, "watchdog: %s did not return within %d ms; a timeout, an interrupt or an end was missed\n",
                     what.c_str(), limit_ms);
        std::fflush(stderr);
        std::_Exit(3);
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        finished_ = true;
    }
    done_.notify_all();
    thread_.join();
}

namespace {

std::string RunningTest() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return test ? std::string(test->test_suite_name()) + "." + test->name() : "a test";
}

}  // namespace

TestWatchdog::TestWatchdog(int limit_ms) : Watchdog(limit_ms, RunningTest()) {}

}  // namespace qvtest
