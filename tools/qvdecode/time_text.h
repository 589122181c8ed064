// Times on the command line: "90", "90.5", "90s", "1:30", "01:02:03.5".
#pragma once

#include <string>

namespace qvtool {

// Seconds of a time written as seconds (an optional trailing "s") or as [hh:]mm:ss[.frac];
// false for anything else, negative times included.
bool ParseTimeText(const std::string& text, double* seconds);

}  // namespace qvtool
