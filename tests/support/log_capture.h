// Records what reaches a log callback: the library's own messages arrive with a null
// context and a null argument list.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "QVDecoder.h"

namespace qvtest {

struct LogEntry {
    bool null_context;
    int level;
    std::string text;
};

class LogCapture {
public:
    static void Callback(void* context, int level, const char* text, va_list args);
    static std::vector<LogEntry> Own();  // entries with a null context (the library's own)
    static bool Contains(const std::string& text, int level = 15);
    static void Clear();
};

}  // namespace qvtest
