// Runs every benchmark, then prints each case's figure beside the bare-FFmpeg figure
// measured in the same run, their ratio and its target. Cases come in pairs named "<case>/ours"
// and "<case>/bare" (or "/ffmpeg", "/memcpy", "/one_thread" for the reference side).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "QVDecoder.h"
#include "base/ffmpeg.h"

namespace {

// The target of each case's ratio, by case or by "case/reference" where a case has several
// references; cases not listed are reported only.
const std::map<std::string, double> kTargets = {
    {"stream_720p", 0.97},
    {"stream_720p_bgr24", 1.07},
    {"stream_1080p", 0.97},
    {"stream_1080p_bgr24", 1.07},
    {"file_decode_720p", 0.97},
    {"file_decode_720p_bgr24", 1.07},
    {"file_decode_1080p", 0.97},
    {"file_decode_1080p_bgr24", 1.07},
    {"file_threads0_720p_bgr24", 1.05},
    {"file_threads0_1080p_bgr24", 1.05},
    {"tile_1080p_480x270/bare_decode", 0.93},
    {"tile_1080p_480x270/bare", 1.15},
    {"planes_1080p", 0.99},
    {"fast_tile_1080p_h264", 1.25},   // at most 0.80 of exact decoding's CPU
    {"fast_tile_1080p_mjpeg", 2.5},   // at most 0.40
    {"grid_16x1080p_tiles_on_2_threads", 1.15},
    {"objects_8_on_2_threads", 1.8},
    {"file_raw_extract", 0.9},
    {"file_thumbnail_scan", 10.0},
    {"file_seek_accurate", 1.5},  // the bare loop decodes every picture from the key frame, as PyAV does
    {"g722_asterisk_16k", 2.0},
};

// A figure with a unit prefix once it grows long (bytes per second run into the billions).
std::string Format(double value) {
    char text[32];
    if (value >= 1e9) {
        std::snprintf(text, sizeof(text), "%.1f G", value / 1e9);
    } else if (value >= 1e6) {
        std::snprintf(text, sizeof(text), "%.1f M", value / 1e6);
    } else {
        std::snprintf(text, sizeof(text), "%.1f", value);
    }
    return text;
}

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
            for (const char* timing : {"/real_time", "/manual_time"}) {
                const auto at = name.find(timing);
                if (at != std::string::npos) name.erase(at);
            }
            const auto slash = name.rfind('/');
            if (slash == std::string::npos) continue;
            const auto it = run.counters.find("items_per_second");
            const auto bytes = run.counters.find("bytes_per_second");
            const auto allocs = run.counters.find("allocs_per_picture");
            Side& figure = figures_[name.substr(0, slash)][name.substr(slash + 1)];
            figure.value = it != run.counters.end()      ? it->second.value
                           : bytes != run.counters.end() ? bytes->second.value
                                                         : 1.0 / run.GetAdjustedRealTime();
            figure.allocs = allocs != run.counters.end() ? allocs->second.value : -1.0;
            const auto psnr = run.counters.find("psnr_db");
            figure.psnr = psnr != run.counters.end() ? psnr->second.value : -1.0;
            figure.failed = run.error_occurred;
        }
    }

    // One line per case: both figures, their ratio against the target, and the heap
    // allocations per picture in steady state of each side where the case counts them.
    void PrintRatios() const {
        const auto shown = [](const Side& side) { return side.failed ? std::string("-") : Format(side.value); };
        std::printf("\n%-28s %14s %14s %7s %8s %-8s %13s %13s\n", "case", "ours", "reference", "ratio",
                    "target", "", "alloc/pic", "ref alloc/pic");
        for (const auto& [name, sides] : figures_) {
            const auto ours = sides.find("ours");
            if (ours == sides.end()) continue;
            for (const auto& [side, reference] : sides) {
                if (side == "ours") continue;
                const double ratio = reference.value > 0 ? ours->second.value / reference.value : 0.0;
                auto target = kTargets.find(name + "/" + side);
                if (target == kTargets.end()) target = kTargets.find(name);
                char goal[16] = "-";
                if (target != kTargets.end()) std::snprintf(goal, sizeof(goal), ">= %.2f", target->second);
                const char* verdict = ours->second.failed || reference.failed ? "FAILED"
                                      : target == kTargets.end()               ? "reported"
                                      : ratio >= target->second                ? "met"
                                                                               : "not met";
                std::printf("%-28s %14s %14s %7.3f %8s %-8s", name.c_str(), shown(ours->second).c_str(),
                            shown(reference).c_str(), ratio, goal, verdict);
                if (ours->second.allocs >= 0 || reference.allocs >= 0) {
                    std::printf(" %13.2f %13.2f", ours->second.allocs, reference.allocs);
                }
                if (ours->second.psnr >= 0) std::printf("  psnr %.2f dB", ours->second.psnr);
                std::printf("  (vs %s)\n", side.c_str());
            }
        }
    }

private:
    struct Side {
        double value = 0;
        double allocs = -1;  // heap allocations per picture in steady state, -1 where not counted
        bool failed = false;  // skipped with an error (see the run's message above)
        double psnr = -1;     // mean PSNR against the exact pictures, where measured
    };
    std::map<std::string, std::map<std::string, Side>> figures_;
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
