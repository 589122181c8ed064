// qvdecode push: a file fed through stream mode one unit at a time, as a camera host would.
#include <cinttypes>
#include <string>
#include <vector>

#include "commands.h"
#include "frame_cutter.h"
#include "live_stats.h"
#include "output_options.h"
#include "stop_signal.h"
#include "tool_common.h"

namespace qvtool {
namespace {

// An MPEG-1 pack header: the two bits after 00 00 01 BA are 00 (MPEG-2 has 01).
bool IsMpeg1Pack(const std::vector<uint8_t>& pack) {
    return pack.size() > 4 && pack[0] == 0 && pack[1] == 0 && pack[2] == 1 && pack[3] == 0xBA &&
           (pack[4] >> 6) == 0;
}

}  // namespace

int RunPush(const PushOptions& o) {
    const CodecName* codec = FindCodec(o.codec);
    if (!codec || codec->audio) {
        return Fail(kExitUsage, "unknown video codec '" + o.codec + "' (known: " +
                                    CodecNames(false) + ")");
    }
    int width = 0, height = 0;
    if (!ParseSize(o.picture_size, &width, &height)) {
        return Fail(kExitUsage,
                    "bad size '" + o.picture_size + "': expected WxH, for example 352x288");
    }
    if (o.repack && codec->interface_id != CODEC_ID_H264) {
        return Fail(kExitUsage, "--repack applies to h264 only");
    }
    OutputRequest request;
    if (!ParseOutputRequest(o.output, &request)) return kExitUsage;

    if (o.demux && codec->packets) return Fail(kExitUsage, "--demux does not apply to " + o.codec);
    // Program streams are pushed pack by pack; elementary streams frame by frame, and codecs
    // without start codes packet by packet from their container.
    const FrameCutter::Mode mode = o.demux           ? FrameCutter::Mode::kProgramStreamPacks
                                   : codec->packets ? FrameCutter::Mode::kContainerPackets
                                                    : FrameCutter::Mode::kParser;
    FrameCutter cutter(mode, codec->ffmpeg_id, 0);
    if (const int code = cutter.Open(o.output.file); code != kExitOk) return code;

    // A picture of a real program stream spans several packs, and a pack of small pictures
    // holds several: packs go through the parser unless the user vouches for one frame each.
    const bool chunks = o.chunks || (o.demux && !o.frame_per_pack);
    InstallStopHandlers();
    QVDecoder decoder;
    InstallLog(decoder, o.output.verbose);
    // Modes come before the open: the decoder is set up for them. The tool takes every
    // picture with the receive loop and flushes at the end, so nothing is held back.
    if (o.demux && decoder.QVDecoderSetDemux(1) != 0) return Fail(kExitFailed, "demux mode refused");
    if (chunks) decoder.QVDecoderSetStreamMode(TRANSFER_MODE_CHUNK);
    decoder.QVDecoderSetLatencyMode(LATENCY_MODE_COMPLETE);
    decoder.QVDecoderSetThreads(o.output.threads);
    decoder.QVDecoderSetMaxPixels(o.output.max_pixels);
    decoder.QVDecoderSetConverter(o.output.converter == "swscale" ? QV_CONVERTER_SWSCALE : QV_CONVERTER_AUTO);
    if (o.fields) decoder.QVDecoderSetEncodeMode(CODE_MODE_FIELD);
    if (o.key_first) decoder.QVDecoderSetOutputMode(OUTPUT_MODE_KEY_FIRST);
    const int opened = decoder.QVOpenDecoder(static_cast<CodecID>(codec->interface_id),
                                             _picture_param{width, height, PIX_FMT_YUV420P});
    if (opened != 0) {
        return Fail(kExitFailed, "the " + o.codec + " decoder did not open: " + ResultText(opened));
    }
    ApplyOutputRequest(decoder, request);

    SnapshotFormat snapshot_format = SnapshotFormat::kPng;
    ParseSnapshotFormat(o.output.snapshot_format, &snapshot_format);  // checked by the option parser
    PictureSink sink(o.output.snapshots, o.output.every, o.output.raw, snapshot_format, request.format);
    sink.set_autorotate(o.output.autorotate);
    if (!sink.Open()) return kExitOutput;

    Progress progress("push");
    std::vector<uint8_t> unit, pair;
    int64_t pushed = 0, pictures = 0, refused = 0, bytes = 0;
    bool have_first_field = false;
    // A stop (Ctrl-C) ends the pushing between two frames: what the decoder holds is flushed
    // out as at the end, the raw file keeps whole pictures and the summary is printed.
    while (!StopRequested() && cutter.Next(&unit)) {
        if (o.fields && !o.demux) {
            // The parser hands out one field at a time; a field-coded frame is the pair.
            if (!have_first_field) {
                pair = unit;
                have_first_field = true;
                continue;
            }
            pair.insert(pair.end(), unit.begin(), unit.end());
            unit.swap(pair);
            have_first_field = false;
        }
        ++pushed;
        bytes += static_cast<int64_t>(unit.size());
        if (o.demux && pushed == 1 && IsMpeg1Pack(unit)) {
            return Fail(kExitInput, "'" + o.output.file + "' is an MPEG-1 system stream; stream mode "
                        "demultiplexes MPEG-2 program streams only. Play it with 'qvdecode decode " +
                        o.output.file + "'");
        }
        const int r = decoder.QVDecodeVideoFrame(unit.data(), static_cast<int>(unit.size()),
                                                 o.repack ? 1 : 0);
        if (r == 0) {
            if (!sink.Take(decoder, pictures)) return kExitOutput;
            ++pictures;
        } else {
            ++refused;
        }
        // One push may yield more pictures: several frames in one pack, or frames the
        // decoder held back for reordering.
        while (decoder.QVReceiveVideoFrame() == 0) {
            if (!sink.Take(decoder, pictures)) return kExitOutput;
            ++pictures;
        }
        progress.Update(cutter.size() > 0 ? static_cast<double>(cutter.consumed()) / cutter.size()
                                          : -1.0,
                        pictures);
    }
    // End of the stream: the pictures the decoder still holds come out.
    if (decoder.QVFlushVideo() == 0) {
        while (decoder.QVReceiveVideoFrame() == 0) {
            if (!sink.Take(decoder, pictures)) return kExitOutput;
            ++pictures;
        }
    }
    progress.Finish();
    if (cutter.read_error()) return Fail(kExitInput, "reading '" + o.output.file + "' failed");
    if (have_first_field && !StopRequested()) {
        std::fprintf(stderr, "qvdecode: warning: the file ends with an unpaired field (%zu bytes); "
                     "it was not pushed\n", pair.size());
    }
    const double seconds = progress.Seconds();

    _video_param param{};
    decoder.QVGetParam(param);
    int out_w = 0, out_h = 0;
    decoder.QVGetOutputResolution(out_w, out_h);
    if (JsonOutput()) {
        if (pushed == 0 && !StopRequested()) return Fail(kExitInput, "no frames found in '" + o.output.file + "'");
        if (pictures == 0 && !StopRequested()) {
            return Fail(kExitFailed, "no picture came out of '" + o.output.file + "'");
        }
        JsonObject json;
        json.Text("file", o.output.file);
        json.Text("codec", o.codec);
        json.Number("pushed", static_cast<double>(pushed));
        json.Number("bytes", static_cast<double>(bytes));
        json.Number("pictures", static_cast<double>(pictures));
        json.Number("width", out_w);
        json.Number("height", out_h);
        json.Number("refused", static_cast<double>(refused));
        json.Number("seconds", seconds);
        json.Number("snapshots", sink.snapshots());
        json.Number("raw_bytes", static_cast<double>(sink.raw_bytes()));
        if (StopRequested()) json.Add("stopped", "true");
        json.Print();
        return StopRequested() ? kExitStopped : kExitOk;
    }
    std::printf("Pushed %s through stream mode (%s%s%s%s%s%s): %" PRId64 " %s, %" PRId64
                " bytes; %" PRId64 " pictures of %dx%d %s delivered as %dx%d, %" PRId64
                " pushes gave no picture; %.2f s (%.1f pictures/s)",
                PrintableName(o.output.file).c_str(), o.codec.c_str(), o.demux ? ", demultiplexed" : "",
                chunks ? ", chunked" : "",
                o.repack ? ", repacked" : "", o.fields ? ", field-coded" : "",
                o.key_first ? ", from the first key frame" : "", pushed,
                o.demux ? "packs" : (o.fields ? "field pairs" : "frames"), bytes, pictures,
                param.width, param.height, PixelFormatName(param.pix_fmt), out_w, out_h, refused,
                seconds, seconds > 0 ? pictures / seconds : 0.0);
    if (sink.snapshots() > 0) {
        std::printf("; %d snapshots in %s (first %s)", sink.snapshots(),
                    o.output.snapshots.c_str(), sink.first_snapshot().c_str());
    }
    if (!o.output.raw.empty()) {
        std::printf("; %" PRId64 " raw bytes in %s", sink.raw_bytes(), o.output.raw.c_str());
    }
    std::printf("%s.\n", StopRequested() ? "; stopped" : "");
    if (StopRequested()) return kExitStopped;
    if (pushed == 0) return Fail(kExitInput, "no frames found in '" + o.output.file + "'");
    if (pictures == 0) return Fail(kExitFailed, "no picture came out of '" + o.output.file + "'");
    return kExitOk;
}

}  // namespace qvtool
