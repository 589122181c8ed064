#include "base/library.h"

#include <atomic>

#include "QVDecoder.h"
#include "base/log_scrub.h"

namespace qv {
namespace {
std::atomic<bool> g_initialized{false};
}

std::mutex& GlobalLock() {
    // A function-local static exists before any object can be constructed, so a lock
    // is always there to take even when the host skipped QVDecoderInitialize.
    static std::mutex lock;
    return lock;
}

bool IsInitialized() { return g_initialized.load(std::memory_order_acquire); }

const char* const kInputFormatNames[8] = {"flv", "mp4", "mov", "avi", "3gp", "mpeg", "asf", "rm"};
const char* const kExtraInputFormatNames[2] = {"matroska", "mpegts"};

}  // namespace qv

void QVDecoderInitialize() {
    if (qv::g_initialized.load(std::memory_order_acquire)) return;
    qv::GlobalLock();  // FFmpeg 5 registers its formats and codecs by itself
    qv::InstallFFmpegRoute();
    qv::g_initialized.store(true, std::memory_order_release);
}

void QVDecoderDestroy() { qv::g_initialized.store(false, std::memory_order_release); }
