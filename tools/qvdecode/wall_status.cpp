#include "wall_status.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "tool_common.h"

namespace qvtool {
namespace {

double Tenths(double value) { return std::round(value * 10) / 10; }

std::string AgeJson(const CameraFigures& f) { return f.age_ms < 0 ? "null" : JsonNumber(Tenths(f.age_ms)); }
const char* AgeFrom(const CameraFigures& f) { return f.age_from_capture ? "capture" : "arrival"; }

}  // namespace

std::vector<CameraFigures> Snapshot(const std::vector<std::unique_ptr<Camera>>& cameras) {
    const int64_t now = SteadyNowUs();
    std::vector<CameraFigures> figures;
    for (const auto& cam : cameras) figures.push_back(cam->Figures(now));
    return figures;
}

std::string StatusJson(const std::vector<CameraFigures>& figures, const Mosaic& mosaic) {
    std::string json = "{\"cameras\": [";
    for (const CameraFigures& f : figures) {
        if (f.index > 0) json += ", ";
        json += "{\"index\": " + std::to_string(f.index) + ", \"url\": " + JsonString(f.name) +
                ", \"state\": \"" + CameraStateName(f.state) + "\", \"pictures_per_second\": " +
                JsonNumber(Tenths(f.pictures_per_second)) + ", \"age_ms\": " + AgeJson(f) + ", \"age_from\": \"" +
                AgeFrom(f) + "\", \"pictures\": " + std::to_string(f.pictures) + ", \"skipped\": " +
                std::to_string(f.skipped) + ", \"damaged\": " + std::to_string(f.damaged) +
                ", \"outages\": " + std::to_string(f.outages) + "}";
    }
    json += "], \"cols\": " + std::to_string(mosaic.cols()) + ", \"tile_width\": " +
            std::to_string(mosaic.tile_width()) + ", \"tile_height\": " + std::to_string(mosaic.tile_height()) +
            "}\n";
    return json;
}

void PrintStatus(const std::vector<CameraFigures>& figures, double seconds, bool final) {
    for (const CameraFigures& f : figures) {
        const double rate = final ? f.pictures / std::max(seconds, 1e-3) : f.pictures_per_second;
        if (JsonOutput()) {
            JsonObject json;
            json.Text("camera", f.name);
            json.Number("index", f.index);
            json.Number(final ? "pictures" : "time", final ? static_cast<double>(f.pictures) : std::round(seconds));
            json.Text("state", CameraStateName(f.state));
            json.Number("pictures_per_second", Tenths(rate));
            json.Add("age_ms", AgeJson(f));
            json.Text("age_from", AgeFrom(f));
            json.Number("skipped", static_cast<double>(f.skipped));
            json.Number("damaged", static_cast<double>(f.damaged));
            json.Number("outages", static_cast<double>(f.outages));
            json.Print();
            continue;
        }
        const std::string age = f.age_ms < 0 ? "-" : std::to_string(std::lround(f.age_ms)) + " ms";
        std::printf("%s camera %d %s: %.1f pictures/s, age %s (from %s), %" PRId64 " skipped, %" PRId64
                    " damaged, %" PRId64 " outages%s\n",
                    final ? "total" : "     ", f.index, f.name.c_str(), rate, age.c_str(), AgeFrom(f), f.skipped,
                    f.damaged, f.outages,
                    f.state == CameraState::kLive ? "" : f.state == CameraState::kAway ? " (away)" : " (connecting)");
    }
    std::fflush(stdout);
}

}  // namespace qvtool
