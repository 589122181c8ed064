// The object's log: the host's callback and the threshold its messages must meet.
#pragma once

#include "QVDecoder.h"

namespace qv {

class Logger {
public:
    // Registers the callback (also as FFmpeg's process-wide one) at the given FFmpeg level.
    void Register(QVLogCallback callback, int level);
    // Hands a message to the callback when the threshold is at least its level.
    void Log(const char* text, int level) const;

    QVLogCallback callback() const { return callback_; }
    int threshold() const { return threshold_; }
    void set_threshold(int level) { threshold_ = level; }

private:
    QVLogCallback callback_ = nullptr;
    int threshold_ = 16;  // level-15 failures reach the host, level-31 frame failures do not
};

}  // namespace qv
