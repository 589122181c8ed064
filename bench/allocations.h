// Heap allocations of the whole process, counted so that the decode benchmarks can show
// how many each side makes per picture in steady state.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

namespace qvbench {

// Calls to malloc, calloc, realloc, posix_memalign, memalign and aligned_alloc so far, from
// any thread and any library: libavutil allocates with posix_memalign, operator new ends up
// in malloc.
uint64_t AllocationCount();

// Allocations per picture in steady state: counted from the picture at a quarter of a run to
// the one at three quarters, when the decoder's pools are filled and the end of the input
// (draining, closing) lies outside. Also checks that the picture handed out stays where it was.
class SteadyState {
public:
    explicit SteadyState(int64_t pictures_per_run)
        : first_(pictures_per_run / 4), last_(pictures_per_run * 3 / 4) {}

    // After the picture `index` (from 0 in each run) was handed out in `buffer`.
    void Picture(int64_t index, const void* buffer) {
        if (index == first_) {
            start_ = AllocationCount();
            buffer_ = buffer;
        } else if (index > first_ && index <= last_) {
            if (buffer != buffer_) moved_ = true;
            if (index == last_) {
                allocations_ += AllocationCount() - start_;
                pictures_ += last_ - first_;
            }
        }
    }

    void Report(benchmark::State& state) const {
        if (moved_) state.SkipWithError("the picture buffer moved in steady state");
        state.counters["allocs_per_picture"] =
            pictures_ > 0 ? static_cast<double>(allocations_) / static_cast<double>(pictures_) : -1.0;
    }

private:
    int64_t first_, last_;
    uint64_t start_ = 0, allocations_ = 0;
    int64_t pictures_ = 0;
    const void* buffer_ = nullptr;
    bool moved_ = false;
};

}  // namespace qvbench
