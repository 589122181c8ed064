// Repacking a 720p H.264 stream frame by frame, against a plain copy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bitstream/h264_nal.h"
#include "stage_input.h"

namespace {

void RepackOurs(benchmark::State& state) {
    const auto& packets = qvbench::Stream720p().packets;
    size_t largest = 0, total = 0;
    for (const auto& p : packets) {
        largest = std::max(largest, p.data.size());
        total += p.data.size();
    }
    std::vector<uint8_t> out(2 * largest);
    for (auto _ : state) {
        for (const auto& p : packets) {
            int length = 0;
            const bool ok = qv::RepackH264NalUnits(p.data.data(), static_cast<int>(p.data.size()), out.data(),
                                                   static_cast<int>(out.size()), length);
            benchmark::DoNotOptimize(ok);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
}

void RepackMemcpy(benchmark::State& state) {
    const auto& packets = qvbench::Stream720p().packets;
    size_t largest = 0, total = 0;
    for (const auto& p : packets) {
        largest = std::max(largest, p.data.size());
        total += p.data.size();
    }
    std::vector<uint8_t> out(2 * largest);
    for (auto _ : state) {
        for (const auto& p : packets) {
            std::memcpy(out.data(), p.data.data(), p.data.size());
            benchmark::DoNotOptimize(out.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
}

BENCHMARK(RepackOurs)->Name("repack_720p_h264/ours")->UseRealTime();
BENCHMARK(RepackMemcpy)->Name("repack_720p_h264/memcpy")->UseRealTime();

}  // namespace
