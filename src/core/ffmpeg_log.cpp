// Routing of FFmpeg's own log lines for the whole process: whole lines to the host's
// callback, or nothing.
#include <cstdarg>
#include <cstring>
#include <mutex>

#include "QVDecoder.h"
#include "core/ffmpeg.h"
#include "core/log_scrub.h"

namespace {

struct Route {
    QVFFmpegLineCallback callback = nullptr;
    void* context = nullptr;
    int level = AV_LOG_QUIET;
};

std::mutex g_route_lock;
Route g_route;

void ForwardLine(void* avcl, int level, const char* format, va_list args) {
    Route route;
    {
        std::lock_guard<std::mutex> lock(g_route_lock);
        route = g_route;
    }
    if (!route.callback || level > route.level) return;
    // FFmpeg prints a line in pieces at times: the prefix goes with the first piece only.
    thread_local int print_prefix = 1;
    char line[1024];
    av_log_format_line2(avcl, level, format, args, line, sizeof line, &print_prefix);
    // An address quoted whole keeps its password to itself.
    qv::ScrubCredentials(line);
    size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = '\0';
    if (length > 0) route.callback(route.context, level, line);
}

void Silent(void*, int, const char*, va_list) {}

}  // namespace

void QVDecoderSetFFmpegLog(QVFFmpegLineCallback callback, void* context, int level) {
    {
        std::lock_guard<std::mutex> lock(g_route_lock);
        g_route = Route{callback, context, level};
    }
    av_log_set_level(callback ? level : AV_LOG_QUIET);
    av_log_set_callback(callback ? ForwardLine : Silent);
}
