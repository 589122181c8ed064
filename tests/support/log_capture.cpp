#include "log_capture.h"

namespace qvtest {
namespace {
std::mutex g_lock;
std::vector<LogEntry> g_entries;
}  // namespace

void LogCapture::Callback(void* context, int level, const char* text, va_list args) {
    // FFmpeg's own lines come with an argument list; only ours are recorded.
    bool null_args = true;
#if defined(__x86_64__)
    null_args = args == nullptr;
#else
    (void)args;
#endif
    if (context || !null_args) return;
    std::lock_guard<std::mutex> lock(g_lock);
    g_entries.push_back(LogEntry{context == nullptr, level, text ? text : "", null_args});
}

std::vector<LogEntry> LogCapture::Own() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_entries;
}

bool LogCapture::Contains(const std::string& text, int level) {
    std::lock_guard<std::mutex> lock(g_lock);
    for (const LogEntry& e : g_entries) {
        if (e.text == text && e.level == level && e.null_context && e.null_args) return true;
    }
    return false;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_entries.clear();
}

}  // namespace qvtest
