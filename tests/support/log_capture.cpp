#include "log_capture.h"

namespace qvtest {
namespace {
std::mutex g_lock;
std::vector<LogEntry> g_entries;
}  // namespace

void LogCapture::Callback(void* context, int level, const char* text, va_list args) {
    // FFmpeg's own lines come with a context (the few without one are format strings
    // that no check looks for); ours come without.
    (void)args;
    if (context) return;
    std::lock_guard<std::mutex> lock(g_lock);
    g_entries.push_back(LogEntry{true, level, text ? text : ""});
}

std::vector<LogEntry> LogCapture::Own() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_entries;
}

bool LogCapture::Contains(const std::string& text, int level) {
    std::lock_guard<std::mutex> lock(g_lock);
    for (const LogEntry& e : g_entries) {
        if (e.text == text && e.level == level && e.null_context) return true;
    }
    return false;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_entries.clear();
}

}  // namespace qvtest
