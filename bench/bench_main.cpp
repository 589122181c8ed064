// Runs every benchmark, then prints each case's figure beside the bare-FFmpeg figure
// measured in the same run, and their ratio. Cases come in pairs named "<case>/ours"
// and "<case>/bare" (or "/ffmpeg", "/memcpy", "/one_thread" for the reference side).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "QVDecoder.h"
#include "core/ffmpeg.h"

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration && run.aggregate_name != "median") continue;
            std::string name = run.benchmark_name();
            const std::string suffix = "_" + run.aggregate_name;
            if (run.run_type == Run::RT_Aggregate && name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                name.erase(name.size() - suffix.size());
            }
            const auto real = name.find("/real_time");
            if (real != std::string::npos) name.erase(real);
            const auto slash = name.rfind('/');
            if (slash == std::string::npos) continue;
            const auto it = run.counters.find("items_per_second");
            const auto bytes = run.counters.find("bytes_per_second");
            double value = it != run.counters.end() ? it->second.value
                           : bytes != run.counters.end() ? bytes->second.value
                                                         : 1.0 / run.GetAdjustedRealTime();
            figures_[name.substr(0, slash)][name.substr(slash + 1)] = value;
        }
    }

    void PrintRatios() const {
        std::printf("\n%-44s %16s %16s %8s\n", "case", "ours", "reference", "ratio");
        for (const auto& [name, sides] : figures_) {
            const auto ours = sides.find("ours");
            if (ours == sides.end()) continue;
            for (const auto& [side, value] : sides) {
                if (side == "ours") continue;
                std::printf("%-44s %16.1f %16.1f %8.3f  (vs %s)\n", name.c_str(), ours->second, value,
                            value > 0 ? ours->second / value : 0.0, side.c_str());
            }
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> figures_;
};

}  // namespace

int main(int argc, char** argv) {
    QVDecoderInitialize();
    av_log_set_level(AV_LOG_ERROR);  // the encoders making the input are chatty
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    QVDecoderDestroy();
    return 0;
}
