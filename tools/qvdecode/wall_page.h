// The wall's web page: one self-contained HTML document (no outside resources) that draws
// the cameras' tiles from /wall.jpg and their figures from /status.json.
#pragma once

namespace qvtool {

extern const char kWallPage[];

}  // namespace qvtool
