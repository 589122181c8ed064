#include "base/logger.h"

#include <cstdarg>

#include "base/log_scrub.h"

namespace qv {
namespace {

// The callback has the shape of FFmpeg's and takes an argument list; our messages have no
// arguments, so it gets a real, empty one (a null va_list is not portable).
void CallLog(QVLogCallback callback, int level, const char* text, ...) {
    va_list args;
    va_start(args, text);
    callback(nullptr, level, text, args);
    va_end(args);
}

}  // namespace

void Logger::Register(QVLogCallback callback, int level) {
    callback_ = callback;
    // FFmpeg's lines reach the callback (or FFmpeg's own printer) with passwords hidden.
    RouteFFmpegLog(callback, level);
}

void Logger::Log(const char* text, int level) const {
    if (callback_ && level <= threshold_) CallLog(callback_, level, text);
}

}  // namespace qv
