// qvdecode decode: a whole file through file mode (QVOpen / QVDecodeFrame).
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <string>
#include <thread>

#include "commands.h"
#include "interrupt_on_stop.h"
#include "live_stats.h"
#include "output_options.h"
#include "stop_signal.h"
#include "time_text.h"
#include "tool_common.h"
#include "wav_writer.h"

namespace qvtool {
namespace {

// The network settings of a live source, before each open.
void ApplyNetwork(QVDecoder& decoder, const DecodeOptions& o) {
    if (o.timeout >= 0) decoder.QVDecoderSetTimeout(static_cast<int>(o.timeout * 1000 + 0.5));
    if (!o.transport.empty()) decoder.QVDecoderSetNetworkOption("rtsp_transport", o.transport.c_str());
}

// A reconnect's pause, cut short by a stop (Ctrl-C).
void PauseUnlessStopped(std::chrono::milliseconds pause) {
    const auto until = std::chrono::steady_clock::now() + pause;
    while (!StopRequested() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool EndsTheSource(int result) {
    return result == QV_ERR_END_OF_FILE || result == QV_ERR_TIMEOUT || result == QV_ERR_NETWORK;
}

}  // namespace

int RunDecode(const DecodeOptions& o) {
    OutputRequest request;
    if (!ParseOutputRequest(o, &request)) return kExitUsage;
    bool live = IsLiveSource(o.file);
    if (!live && !CheckReadable(o.file)) return kExitInput;
    bool reconnect = o.reconnect && live;
    const std::string shown = PrintableName(o.file);
    // --start and --duration count from the file's first picture, on the pictures' own times
    // (audio running past the range neither ends the run nor counts); for a live source,
    // whose times start afresh at each reconnect, --duration is time on the clock.
    double start_seconds = 0.0, span_seconds = -1.0;
    if (!o.start.empty()) ParseTimeText(o.start, &start_seconds);  // checked by the option parser
    if (!o.duration.empty()) ParseTimeText(o.duration, &span_seconds);
    using SteadyClock = std::chrono::steady_clock;
    SteadyClock::time_point until =
        live && span_seconds >= 0
            ? SteadyClock::now() + std::chrono::milliseconds(static_cast<int64_t>(span_seconds * 1000))
            : SteadyClock::time_point::max();

    InstallStopHandlers();
    QVDecoder decoder;
    InstallLog(decoder, o.verbose);
    decoder.QVDecoderSetThreads(o.threads);
    decoder.QVDecoderSetMaxPixels(o.max_pixels);
    decoder.QVDecoderSelectStreams(o.video_stream, o.audio_stream);
    decoder.QVDecoderSetConverter(o.converter == "swscale" ? QV_CONVERTER_SWSCALE : QV_CONVERTER_AUTO);
    ApplyNetwork(decoder, o);
    InterruptOnStop interrupt_on_stop(decoder);
    int opened = decoder.QVOpen(o.file.c_str());
    // A camera that is away at the start is waited for like one that goes away later.
    for (auto pause = std::chrono::milliseconds(250);
         opened != 0 && reconnect && SteadyClock::now() < until && !StopRequested();
         pause = std::min(pause * 2, std::chrono::milliseconds(4000))) {
        PauseUnlessStopped(pause);
        opened = decoder.QVOpen(o.file.c_str());
    }
    if (opened != 0 && StopRequested()) {
        PrintError("stopped before '" + shown + "' opened");
        return kExitStopped;
    }
    if (opened != 0) {
        return Fail(kExitInput, OpenFailure(shown, opened, decoder));
    }
    if (live && IsServedRecording(o.file, decoder.QVGetDuration())) {
        // A recording on a web server: its own times, its end, and a range cut as a file's.
        live = reconnect = false;
        until = SteadyClock::time_point::max();
    }
    _video_param param{};
    decoder.QVGetParam(param);
    const bool has_video = param.width > 0 && param.height > 0;
    if (has_video) ApplyOutputRequest(decoder, request);

    // A file that cannot seek (a pipe) is decoded from its start and the pictures before
    // --start are passed over.
    const int64_t begin = decoder.QVGetStartTime() + static_cast<int64_t>(start_seconds * 1e6);
    const int64_t end = span_seconds >= 0 && !live ? begin + static_cast<int64_t>(span_seconds * 1e6) : INT64_MAX;
    if (start_seconds > 0) {
        const int sought = decoder.QVSeek(begin, QV_SEEK_ACCURATE);
        if (sought != 0 && sought != QV_ERR_NOT_SEEKABLE) {
            return Fail(kExitFailed, "cannot seek in '" + shown + "': " + ResultText(sought));
        }
    }

    SnapshotFormat snapshot_format = SnapshotFormat::kPng;
    ParseSnapshotFormat(o.snapshot_format, &snapshot_format);  // checked by the option parser
    PictureSink sink(o.snapshots, o.every, o.raw, snapshot_format, request.format);
    sink.set_autorotate(o.autorotate);
    if (!sink.Open()) return kExitOutput;
    WavWriter wav;
    if (!o.wav.empty() && !wav.Open(o.wav)) return Fail(kExitOutput, "cannot write '" + o.wav + "'");

    // For the progress line; a live source has none.
    const int64_t duration = live ? -1 : decoder.QVGetDuration();
    Progress progress("decode");
    LiveStats stats(live);
    int64_t pictures = 0, audio_pieces = 0, empty = 0, other = 0;
    int64_t last_time = 0;
    int result = 0;
    std::string stopped;  // why decoding stopped early (a live source that went quiet, ...)
    // A stop (Ctrl-C) ends the work between two pictures: the raw file holds whole pictures,
    // the WAV file gets its header and the summary is printed.
    while (SteadyClock::now() < until && !StopRequested()) {
        result = decoder.QVDecodeFrame();
        if (StopRequested()) break;
        if (EndsTheSource(result) && reconnect) {
            // The source ended or failed: close, pause (longer each time it fails again at
            // once), reopen; the same object and output settings go on.
            stats.Outage();
            auto pause = std::chrono::milliseconds(250);
            do {
                decoder.QVClose();
                PauseUnlessStopped(pause);
                pause = std::min(pause * 2, std::chrono::milliseconds(4000));
                ApplyNetwork(decoder, o);
            } while (decoder.QVOpen(o.file.c_str()) != 0 && SteadyClock::now() < until && !StopRequested());
            if (has_video) ApplyOutputRequest(decoder, request);
            continue;
        }
        if (result == QV_ERR_END_OF_FILE) break;
        // Pictures come out in the order of their times: the first past the range ends it.
        // Audio pieces outside it are passed over; in a file without video they end it too.
        const int64_t time = result == QV_OK ? decoder.QVGetPictureTime() : decoder.QVGetFrameTimestamp();
        const bool timed = result == QV_OK || result == QV_AUDIO_PIECE;
        if (timed && time >= end && (result == QV_OK || !has_video)) break;
        if (timed && (time >= end || (start_seconds > 0 && time < begin))) continue;
        if (result == QV_OK) {
            if (!sink.Take(decoder, pictures)) return kExitOutput;
            ++pictures;
            stats.Picture((decoder.QVGetPictureFlags() & QV_PICTURE_DAMAGED) != 0, decoder.QVGetPictureDelay(),
                          decoder.QVGetPictureWallclock());
        } else if (result == QV_AUDIO_PIECE) {
            ++audio_pieces;
            const int size = decoder.QVGetAudioFrameSize();
            if (!o.wav.empty() && size > 0 && !wav.Append(decoder.QVGetAudioFrame(), size)) {
                return Fail(kExitOutput, "writing '" + o.wav + "' failed");
            }
        } else if (result == QV_ERR_NO_PICTURE) {
            ++empty;
            stats.NoPicture();
        } else if (result == QV_ERR_OPEN_FILE) {
            ++other;
        } else {
            // What was written so far is summed up first, then the error.
            stopped = "decoding '" + shown + "' stopped: " + ResultText(result);
            break;
        }
        if (timed && (result == QV_OK || !has_video)) last_time = time;
        if (live) {
            stats.Tick();
        } else {
            const double done = static_cast<double>(last_time - decoder.QVGetStartTime()) / duration;
            progress.Update(duration > 0 ? done : -1.0, pictures);
        }
    }
    progress.Finish();
    const double seconds = progress.Seconds();
    if (!o.wav.empty()) {
        // The rate and channels the audio decoder settled on (a camera's may differ from
        // what the session description announced).
        decoder.QVGetParam(param);
        if (!wav.Finish(param.sample_rate, param.channels)) return Fail(kExitOutput, "writing '" + o.wav + "' failed");
    }

    int out_w = 0, out_h = 0;
    decoder.QVGetOutputResolution(out_w, out_h);
    if (JsonOutput()) {
        if (pictures == 0 && audio_pieces == 0 && !StopRequested()) {
            return Fail(kExitFailed, stopped.empty() ? "nothing could be decoded from '" + shown + "'" : stopped);
        }
        JsonObject json;
        json.Text("file", shown);
        json.Number("pictures", static_cast<double>(pictures));
        json.Number("width", out_w);
        json.Number("height", out_h);
        json.Number("audio_pieces", static_cast<double>(audio_pieces));
        json.Number("empty_packets", static_cast<double>(empty));
        json.Number("last_time", last_time / 1e6);
        json.Number("seconds", seconds);
        json.Number("snapshots", sink.snapshots());
        json.Number("raw_bytes", static_cast<double>(sink.raw_bytes()));
        if (StopRequested()) json.Add("stopped", "true");
        if (!stopped.empty()) {
            // One object on stdout: the summary carries the error.
            json.Text("error", stopped);
            json.Number("exit_code", kExitFailed);
            PrintError(stopped);
        }
        json.Print();
        if (!stopped.empty()) return kExitFailed;
        return StopRequested() ? kExitStopped : kExitOk;
    }
    std::printf("Decoded %s: %" PRId64 " pictures", shown.c_str(), pictures);
    if (has_video) {
        std::printf(" of %dx%d %s (%s)", param.width, param.height, PixelFormatName(param.pix_fmt),
                    InterfaceCodecName(param.codec_id));
        if (request.Any()) {
            std::printf(", delivered as %dx%d %s", out_w, out_h,
                        request.format != PIX_FMT_NONE ? PixelFormatName(request.format)
                                                       : PixelFormatName(param.pix_fmt));
        }
    }
    std::printf(", %" PRId64 " audio pieces", audio_pieces);
    if (param.audio_codec_id != 0) {
        std::printf(" (%s, %d Hz, %d channel%s)", InterfaceCodecName(param.audio_codec_id),
                    param.sample_rate, param.channels, param.channels == 1 ? "" : "s");
    }
    std::printf(" in %.2f s (%.1f pictures/s, last time %.3f s)", seconds,
                seconds > 0 ? pictures / seconds : 0.0, last_time / 1e6);
    if (empty > 0 || other > 0) {
        std::printf("; %" PRId64 " packets gave nothing and %" PRId64
                    " belonged to other streams",
                    empty, other);
    }
    if (sink.snapshots() > 0) {
        std::printf("; %d snapshots in %s (first %s)", sink.snapshots(), o.snapshots.c_str(),
                    sink.first_snapshot().c_str());
    }
    if (!o.raw.empty()) std::printf("; %" PRId64 " raw bytes in %s", sink.raw_bytes(), o.raw.c_str());
    if (!o.wav.empty()) std::printf("; %" PRId64 " audio bytes in %s", wav.data_bytes(), o.wav.c_str());
    if (reconnect) std::printf("; %d outage%s", stats.outages(), stats.outages() == 1 ? "" : "s");
    std::printf("%s.\n", StopRequested() ? "; stopped" : "");
    if (!stopped.empty()) return Fail(kExitFailed, stopped);
    if (StopRequested()) return kExitStopped;
    if (pictures == 0 && audio_pieces == 0) {
        return Fail(kExitFailed, "nothing could be decoded from '" + shown + "'");
    }
    return kExitOk;
}

}  // namespace qvtool
