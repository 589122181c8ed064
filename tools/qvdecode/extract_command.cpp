// qvdecode extract: the compressed video frames of a file, with key flags and times.
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "interrupt_on_stop.h"
#include "live_stats.h"
#include "stop_signal.h"
#include "tool_common.h"

namespace qvtool {
namespace {

// Room for the largest frame we expect from a camera recording, parameter sets included.
constexpr int kFrameBufferSize = 16 << 20;

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool CloseChecked(File& f) { return std::fclose(f.release()) == 0; }

}  // namespace

int RunExtract(const ExtractOptions& o) {
    if (!CheckReadable(o.file)) return kExitInput;
    const std::string shown = PrintableName(o.file);  // an address's password masked
    InstallStopHandlers();
    QVDecoder decoder;
    InstallLog(decoder, o.verbose);
    InterruptOnStop interrupt_on_stop(decoder);
    const int opened = decoder.QVOpen(o.file.c_str());
    if (opened != 0 && StopRequested()) return kExitStopped;
    if (opened != 0) return Fail(kExitInput, OpenFailure(shown, opened, decoder));

    File out(std::fopen(o.out.c_str(), "wb"));
    if (!out) return Fail(kExitOutput, "cannot write '" + o.out + "': " + std::strerror(errno));
    File index;
    if (!o.index.empty()) {
        index.reset(std::fopen(o.index.c_str(), "w"));
        if (!index) {
            return Fail(kExitOutput, "cannot write '" + o.index + "': " + std::strerror(errno));
        }
        std::fprintf(index.get(), "frame,offset,size,header_length,key,timestamp_ms,file_position\n");
    }

    std::vector<unsigned char> buffer(kFrameBufferSize);
    Progress progress("extract");
    const int64_t file_size = FileSize(o.file);
    int64_t frames = 0, keys = 0, offset = 0, first_ms = 0, last_ms = 0;
    bool write_failed = false;
    // A stop (Ctrl-C) ends the work between two frames: the output holds whole frames.
    while (!StopRequested()) {
        int header_length = 0, key = 0, position = 0;
        int64_t ms = 0;
        const int n = decoder.QVGetVideoRawFrame(buffer.data(), kFrameBufferSize, header_length, ms,
                                                 key, position);
        if (n <= 0) break;
        if (std::fwrite(buffer.data(), 1, n, out.get()) != static_cast<size_t>(n)) {
            write_failed = true;
            break;
        }
        if (index) {
            std::fprintf(index.get(), "%" PRId64 ",%" PRId64 ",%d,%d,%d,%" PRId64 ",%u\n", frames,
                         offset, n, header_length, key & 1, ms, static_cast<unsigned>(position));
        }
        if (frames == 0) first_ms = ms;
        last_ms = ms;
        offset += n;
        keys += key & 1;
        ++frames;
        progress.Update(file_size > 0 ? static_cast<double>(static_cast<unsigned>(position)) / file_size
                                      : -1.0,
                        frames);
    }
    progress.Finish();
    if (write_failed || !CloseChecked(out) || (index && !CloseChecked(index))) {
        return Fail(kExitOutput, "writing the extracted frames failed");
    }
    if (frames == 0 && !StopRequested()) {
        return Fail(kExitInput, "no raw frames from '" + shown +
                                    "': raw extraction needs a video stream of h264, mpeg4, "
                                    "mpeg2, mjpeg, flv1, h263, wmv1/2 or rv10/20 in an flv, mp4, "
                                    "mov, 3gp, avi, mpeg, asf, rm, mkv/webm or ts container, or "
                                    "of hevc or vp9 in an mp4, mov, mkv/webm or ts container");
    }
    if (JsonOutput()) {
        JsonObject json;
        json.Text("file", shown);
        json.Text("output", o.out);
        json.Number("frames", static_cast<double>(frames));
        json.Number("key_frames", static_cast<double>(keys));
        json.Number("bytes", static_cast<double>(offset));
        json.Number("first_ms", static_cast<double>(first_ms));
        json.Number("last_ms", static_cast<double>(last_ms));
        if (StopRequested()) json.Add("stopped", "true");
        json.Print();
        return StopRequested() ? kExitStopped : kExitOk;
    }
    std::printf("Extracted %" PRId64 " frames (%" PRId64 " key frames, %" PRId64
                " bytes) from %s into %s, times %" PRId64 " to %" PRId64 " ms",
                frames, keys, offset, shown.c_str(), o.out.c_str(), first_ms, last_ms);
    if (!o.index.empty()) std::printf("; index in %s", o.index.c_str());
    std::printf("%s.\n", StopRequested() ? "; stopped" : "");
    return StopRequested() ? kExitStopped : kExitOk;
}

}  // namespace qvtool
