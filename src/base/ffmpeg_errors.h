// Why an open failed, in FFmpeg's words ("moov atom not found", "No such file or directory"):
// FFmpeg tells it only through its log. While a capture lives on a thread, the error lines
// FFmpeg logs on that thread are kept, whatever route the log takes (a host's callback, the
// line callback, stderr or nowhere), with the password of any address masked.
#pragma once

#include <cstdarg>
#include <string>

namespace qv {

class FFmpegErrorCapture {
public:
    FFmpegErrorCapture();
    ~FFmpegErrorCapture();
    FFmpegErrorCapture(const FFmpegErrorCapture&) = delete;
    FFmpegErrorCapture& operator=(const FFmpegErrorCapture&) = delete;

    // The last error line logged on this thread since the capture began, without its line
    // end; else the meaning of the last error code noted; else empty.
    std::string reason() const { return line_.empty() ? code_text_ : line_; }

    // Called by the log route with every FFmpeg line (any thread; only the capturing one keeps it).
    static void Line(int level, const char* format, va_list args);
    // An FFmpeg error code an open failed with ("No such file or directory" for ENOENT), for
    // the capture of this thread if there is one: used when no line said more.
    static void Code(int averror);

private:
    std::string line_;
    std::string code_text_;
    FFmpegErrorCapture* previous_;
};

}  // namespace qv
