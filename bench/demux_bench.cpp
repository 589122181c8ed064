// Demultiplexing camera packs of a 720p H.264 stream, against a plain copy of the packs.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bitstream/program_stream.h"
#include "stage_input.h"

namespace {

size_t TotalBytes(const std::vector<std::vector<uint8_t>>& packs) {
    size_t total = 0;
    for (const auto& p : packs) total += p.size();
    return total;
}

void DemuxOurs(benchmark::State& state) {
    const auto& packs = qvbench::Packs720p();
    std::vector<uint8_t> storage(kDemuxBufferCapacity);
    _demux_buffer buffer{storage.data(), 0, kDemuxBufferCapacity};
    for (auto _ : state) {
        for (const auto& p : packs) {
            benchmark::DoNotOptimize(ParsePackHeader(p.data(), static_cast<int>(p.size()), &buffer));
            benchmark::DoNotOptimize(storage.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes(packs)));
}

void DemuxMemcpy(benchmark::State& state) {
    const auto& packs = qvbench::Packs720p();
    std::vector<uint8_t> storage(kDemuxBufferCapacity);
    for (auto _ : state) {
        for (const auto& p : packs) {
            std::memcpy(storage.data(), p.data(), std::min(p.size(), storage.size()));
            benchmark::DoNotOptimize(storage.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes(packs)));
}

BENCHMARK(DemuxOurs)->Name("demux_720p_camera_packs/ours")->UseRealTime();
BENCHMARK(DemuxMemcpy)->Name("demux_720p_camera_packs/memcpy")->UseRealTime();

}  // namespace
