// While it lives, a stop (Ctrl-C, stop_signal.h) ends a decoder's wait on a silent source at
// once (QVInterrupt) instead of after its timeout; the command's loop then sees the stop.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "QVDecoder.h"
#include "stop_signal.h"
#include "tool_common.h"

namespace qvtool {

class InterruptOnStop {
public:
    explicit InterruptOnStop(QVDecoder& decoder)
        : thread_([this, &decoder] {
              while (!done_) {
                  if (StopRequested()) {
                      QuietLibraryLog();  // the interrupted call's "timed out" is ours
                      decoder.QVInterrupt();
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          }) {}
    ~InterruptOnStop() {
        done_ = true;
        thread_.join();
    }
    InterruptOnStop(const InterruptOnStop&) = delete;
    InterruptOnStop& operator=(const InterruptOnStop&) = delete;

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace qvtool
