#include "base/ffmpeg_errors.h"

#include <cstdio>
#include <cstring>

#include "base/ffmpeg.h"
#include "base/log_scrub.h"

namespace qv {
namespace {

thread_local FFmpegErrorCapture* t_capture = nullptr;

std::string Trimmed(const char* text) {
    std::string line(text);
    ScrubCredentials(line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

}  // namespace

FFmpegErrorCapture::FFmpegErrorCapture() : previous_(t_capture) { t_capture = this; }

FFmpegErrorCapture::~FFmpegErrorCapture() { t_capture = previous_; }

void FFmpegErrorCapture::Line(int level, const char* format, va_list args) {
    FFmpegErrorCapture* capture = t_capture;
    if (!capture || !format || level > AV_LOG_ERROR) return;
    char text[512];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    std::string line = Trimmed(text);
    if (!line.empty()) capture->line_ = std::move(line);
}

void FFmpegErrorCapture::Code(int averror) {
    FFmpegErrorCapture* capture = t_capture;
    if (!capture || averror >= 0) return;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(averror, text, sizeof text) == 0) capture->code_text_ = Trimmed(text);
}

}  // namespace qv
