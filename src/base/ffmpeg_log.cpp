// FFmpeg's own log lines, one route for the whole process: to a decoder's log callback as
// FFmpeg hands them out (Logger::Register), as whole lines to the host's line callback
// (QVDecoderSetFFmpegLog), or nowhere. The last call chooses; either way an address quoted
// whole keeps its password to itself.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "QVDecoder.h"
#include "base/ffmpeg.h"
#include "base/ffmpeg_errors.h"
#include "base/log_scrub.h"

namespace qv {
namespace {

struct Route {
    QVLogCallback host = nullptr;  // FFmpeg's form; null: FFmpeg's own printer
    QVFFmpegLineCallback lines = nullptr;
    void* context = nullptr;
    int level = AV_LOG_QUIET;  // the line callback's
};

std::mutex g_route_lock;
Route g_route;
bool g_routed = false;  // a route was chosen: the library's default no longer applies

Route CurrentRoute() {
    std::lock_guard<std::mutex> lock(g_route_lock);
    return g_route;
}

void Forward(QVLogCallback host, void* context, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    host(context, level, format, args);
    va_end(args);
}

// FFmpeg's form: the format and arguments go on as they came, unless the line quotes an
// address with a password.
void ToHost(QVLogCallback host, void* context, int level, const char* format, va_list args) {
    // FFmpeg's printer drops lines above the level; a host's callback sees every line. An
    // address comes in through an argument or the format itself: other lines go on
    // untouched, at no cost.
    const bool printed = host || level <= av_log_get_level();
    if (!host) host = av_log_default_callback;
    if (!printed || !format || (!std::strchr(format, '%') && !std::strstr(format, "://"))) {
        host(context, level, format, args);
        return;
    }
    char buffer[1024];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(buffer, sizeof(buffer), format, copy);
    va_end(copy);
    std::string line(buffer);
    if (!ScrubCredentials(line)) {
        host(context, level, format, args);
        return;
    }
    Forward(host, context, level, "%s", line.c_str());
}

// Whole lines, with FFmpeg's prefix and without the line end.
void ToLines(const Route& route, void* avcl, int level, const char* format, va_list args) {
    if (level > route.level) return;
    // FFmpeg prints a line in pieces at times: the prefix goes with the first piece only.
    thread_local int print_prefix = 1;
    char buffer[1024];
    av_log_format_line2(avcl, level, format, args, buffer, sizeof buffer, &print_prefix);
    std::string line(buffer);
    ScrubCredentials(line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!line.empty()) route.lines(route.context, level, line.c_str());
}

void RouteLine(void* avcl, int level, const char* format, va_list args) {
    FFmpegErrorCapture::Line(level, format, args);
    const Route route = CurrentRoute();
    if (route.lines) {
        ToLines(route, avcl, level, format, args);
    } else {
        ToHost(route.host, avcl, level, format, args);
    }
}

void Silent(void*, int level, const char* format, va_list args) { FFmpegErrorCapture::Line(level, format, args); }

}  // namespace

void RouteFFmpegLog(QVLogCallback host, int level) {
    {
        std::lock_guard<std::mutex> lock(g_route_lock);
        g_route = Route{};
        g_route.host = host;
        g_routed = true;
    }
    av_log_set_level(level);
    av_log_set_callback(&RouteLine);
}

void RouteFFmpegLines(QVFFmpegLineCallback callback, void* context, int level) {
    {
        std::lock_guard<std::mutex> lock(g_route_lock);
        g_route = Route{};
        g_route.lines = callback;
        g_route.context = context;
        g_route.level = level;
        g_routed = true;
    }
    av_log_set_level(callback ? level : AV_LOG_QUIET);
    av_log_set_callback(callback ? &RouteLine : &Silent);
}

void InstallFFmpegRoute() {
    {
        std::lock_guard<std::mutex> lock(g_route_lock);
        if (g_routed) return;
        g_routed = true;
    }
    // FFmpeg's printer as before, through the route, so that an open can tell why it failed.
    av_log_set_callback(&RouteLine);
}

}  // namespace qv

void QVDecoderSetFFmpegLog(QVFFmpegLineCallback callback, void* context, int level) {
    qv::RouteFFmpegLines(callback, context, level);
}
