// The wall's figures in words: the status lines on stdout and the server's /status.json,
// both from the same snapshot of the cameras.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "wall_camera.h"

namespace qvtool {

std::vector<CameraFigures> Snapshot(const std::vector<std::unique_ptr<Camera>>& cameras);

// {"cameras": [...], "cols", "tile_width", "tile_height"}: what the page draws.
std::string StatusJson(const std::vector<CameraFigures>& figures, const Mosaic& mosaic);

// A line per camera (a JSON object with --json); final: the run's totals, with the mean
// rate over `seconds`.
void PrintStatus(const std::vector<CameraFigures>& figures, double seconds, bool final);

}  // namespace qvtool
