#include "core/log_scrub.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/ffmpeg.h"

namespace qv {
namespace {

std::atomic<QVLogCallback> g_host{nullptr};

void Forward(QVLogCallback host, void* context, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    host(context, level, format, args);
    va_end(args);
}

void ScrubbingCallback(void* context, int level, const char* format, va_list args) {
    QVLogCallback host = g_host.load(std::memory_order_acquire);
    // FFmpeg's printer drops lines above the level; a host's callback sees every line. An
    // address comes in through an argument or the format itself: other lines go on
    // untouched, at no cost.
    const bool printed = host || level <= av_log_get_level();
    if (!host) host = av_log_default_callback;
    if (!printed || !format || (!std::strchr(format, '%') && !std::strstr(format, "://"))) {
        host(context, level, format, args);
        return;
    }
    char line[1024];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(line, sizeof(line), format, copy);
    va_end(copy);
    if (!ScrubCredentials(line)) {
        host(context, level, format, args);
        return;
    }
    Forward(host, context, level, "%s", line);
}

}  // namespace

void InstallScrubbingLog(QVLogCallback host) {
    g_host.store(host, std::memory_order_release);
    av_log_set_callback(&ScrubbingCallback);
}

bool ScrubCredentials(char* line) {
    bool replaced = false;
    for (char* scheme_end = std::strstr(line, "://"); scheme_end; scheme_end = std::strstr(scheme_end + 3, "://")) {
        char* user = scheme_end + 3;
        // The authority ends at the first '/', space or quote; its user part at the last '@'.
        const size_t authority = std::strcspn(user, "/ '\"\n?#");
        char* at = nullptr;
        for (char* c = user; c < user + authority; ++c) {
            if (*c == '@') at = c;
        }
        if (!at) continue;
        char* colon = static_cast<char*>(std::memchr(user, ':', static_cast<size_t>(at - user)));
        if (!colon) continue;
        // user:password@ -> user:********@, in place: the line keeps its length.
        for (char* c = colon + 1; c < at; ++c) *c = '*';
        replaced = true;
    }
    return replaced;
}

}  // namespace qv
