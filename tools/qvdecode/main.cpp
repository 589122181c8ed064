// qvdecode: inspect, decode, push, extract and listen to media through libqvdecoder.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/log.h>
}

#include "QVDecoder.h"
#include "commands.h"
#include "time_text.h"
#include "tool_common.h"

using namespace qvtool;

namespace {

void AddOutputOptions(CLI::App* cmd, DecodeOptions* o, const std::string& size_option) {
    cmd->add_option("--format", o->format, "output pixel format: " + PixelFormatNames());
    cmd->add_option(size_option, o->size, "output picture size WxH (scaled)");
    cmd->add_flag("--hq", o->high_quality, "bicubic instead of bilinear scaling");
    auto* dir = cmd->add_option("--snapshots", o->snapshots, "write snapshots into this folder");
    cmd->add_option("--every", o->every, "one snapshot every N pictures (default 25)")
        ->check(CLI::PositiveNumber)
        ->needs(dir);
    // --format already names the output pixel format.
    cmd->add_option("--snapshot-format", o->snapshot_format, "snapshot files: png (default), jpg or bmp")
        ->check(CLI::IsMember({"png", "jpg", "jpeg", "bmp"}))
        ->needs(dir);
    cmd->add_flag_callback("--no-autorotate", [o] { o->autorotate = false; },
                           "snapshots as decoded, not turned upright as the picture's display rotation says");
    cmd->add_option("--raw", o->raw, "append every delivered picture to this raw file");
    cmd->add_flag("-v,--verbose", o->verbose, "show FFmpeg's warnings");
    cmd->add_option("--threads", o->threads, "decoding threads, 0 for one per core (default 0)")
        ->check(CLI::Range(0, 64));
    cmd->add_option("--max-pixels", o->max_pixels,
                    "largest picture accepted, width x height (default 8192x4320 = 35389440)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--converter", o->converter,
                    "conversion engine: auto (libyuv where it covers the conversion, default) or swscale")
        ->check(CLI::IsMember({"auto", "swscale"}));
}

// Seconds ("90", "90s") or [hh:]mm:ss[.frac].
const CLI::Validator kTimeText(
    [](std::string& text) {
        double seconds = 0.0;
        return ParseTimeText(text, &seconds) ? std::string() : "'" + text + "' is no time (seconds or hh:mm:ss)";
    },
    "TIME");

}  // namespace

int main(int argc, char** argv) {
    // --json holds for every subcommand and for the errors of the parser itself, wherever it
    // stands: it is taken out before the parser sees the arguments.
    std::vector<char*> args;
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::string(argv[i]) == "--json") {
            json = true;
        } else {
            args.push_back(argv[i]);
        }
    }
    argc = static_cast<int>(args.size());
    argv = args.data();
    SetJsonOutput(json);
    CLI::App app{"qvdecode: decodes media files and camera streams with libqvdecoder"};
    app.require_subcommand(1);
    app.footer(
        "Run 'qvdecode SUBCOMMAND --help' for the options of one subcommand.\n\n"
        "Examples:\n"
        "  qvdecode info samples/clip.mp4\n"
        "  qvdecode decode samples/clip.mp4 --snapshots out --every 25 --snapshot-format jpg\n"
        "  qvdecode decode rtsp://camera/stream --duration 60 --transport udp --reconnect\n"
        "  qvdecode wall rtsp://cam1/stream rtsp://cam2/stream --size 480x270 --cols 2 -o wall.png\n"
        "  qvdecode decode samples/clip.mp4 --start 1.5 --duration 00:00:02 --snapshots out\n"
        "  qvdecode thumbs recording.mp4 -o thumbs --every 60s --size 160x90 --sheet sheet.png\n"
        "  qvdecode thumbs recording.mp4 -o exact --every 10 --exact --sheet sheet.png\n"
        "  qvdecode push samples/clip.mpg --codec mpeg2 --size 320x240 --demux --raw out.yuv\n"
        "  qvdecode audio samples/speech.g722 -o speech.wav --codec g722\n\n"
        "Exit codes: 0 success, 1 decoding failed, 2 bad arguments, 3 input file missing or "
        "not understood, 4 output could not be written.");

    app.set_version_flag("--version", std::string("qvdecode 1.0.0 (libqvdecoder 1, FFmpeg ") +
                                          av_version_info() + ")");
    app.add_flag("--json", json, "print the result, or the error, as one JSON object on stdout (any subcommand)");

    InfoOptions info;
    auto* info_cmd = app.add_subcommand(
        "info", "show the streams, codecs, picture size, rates and duration of a media file");
    info_cmd->add_option("FILE", info.file, "media file")->required();
    info_cmd->add_option("--video-stream", info.video_stream,
                         "describe the decoding of this video stream (index as listed; -1 none)")
        ->check(CLI::Range(-1, 1 << 20));
    info_cmd->add_option("--audio-stream", info.audio_stream,
                         "describe the decoding of this audio stream (index as listed; -1 none)")
        ->check(CLI::Range(-1, 1 << 20));
    info.json = json;

    DecodeOptions decode;
    auto* decode_cmd = app.add_subcommand(
        "decode", "decode a whole media file (video and audio) through file mode");
    decode_cmd->add_option("FILE", decode.file,
                           "media file, or a live source: rtsp://..., an .sdp file (RTP), http(s)://..., "
                           "srt://..., udp://..., pipe:0")
        ->required();
    AddOutputOptions(decode_cmd, &decode, "--size");
    decode_cmd->add_option("--start", decode.start, "begin at this time from the file's start (seconds or hh:mm:ss)")
        ->check(kTimeText);
    decode_cmd->add_option("--duration", decode.duration, "decode this long (seconds or hh:mm:ss)")->check(kTimeText);
    decode_cmd->add_option("--video-stream", decode.video_stream, "decode this video stream (index as info lists it; -1 none)")
        ->check(CLI::Range(-1, 1 << 20));
    decode_cmd->add_option("--audio-stream", decode.audio_stream, "decode this audio stream (index as info lists it; -1 none)")
        ->check(CLI::Range(-1, 1 << 20));

    ThumbsOptions thumbs;
    auto* thumbs_cmd = app.add_subcommand(
        "thumbs", "write the key frame nearest each mark of a recording as a thumbnail (key frames only are decoded; "
        "--exact: the picture at each mark, decoded in full)");
    thumbs_cmd->add_option("FILE", thumbs.file, "media file")->required();
    thumbs_cmd->add_option("-o,--output", thumbs.dir, "folder for the thumbnails")->required();
    thumbs_cmd->add_option("--every", thumbs.every, "marks this far apart (default 60s; seconds or hh:mm:ss)")
        ->check(kTimeText);
    thumbs_cmd->add_option("--size", thumbs.size, "thumbnail size WxH, Wx or xH (a side left out follows the display shape; WxH keeps the shape inside it; default: the decoded size, pixels made square)");
    thumbs_cmd->add_option("--format", thumbs.format, "png (default) or jpg")->check(CLI::IsMember({"png", "jpg", "jpeg"}));
    thumbs_cmd->add_option("--sheet", thumbs.sheet,
                           "also write a contact sheet of them all (.png or .jpg), each tile labelled with its "
                           "picture's time");
    thumbs_cmd->add_flag_callback("--no-labels", [&thumbs] { thumbs.labels = false; },
                                  "no times on the contact sheet's tiles");
    thumbs_cmd->add_flag_callback("--no-autorotate", [&thumbs] { thumbs.autorotate = false; },
                                  "thumbnails as decoded, not turned upright as the recording's display rotation says "
                                  "(phone videos)");
    thumbs_cmd->add_flag("--exact", thumbs.exact,
                         "the picture at each mark (the first at or after it, by accurate seeks) instead of the "
                         "nearest key frame; decodes from the key frame before each mark");
    thumbs_cmd->add_option("--threads", thumbs.threads, "decoding threads, 0 for one per core (default 0)")
        ->check(CLI::Range(0, 64));
    thumbs_cmd->add_flag("-v,--verbose", thumbs.verbose, "show FFmpeg's warnings");
    decode_cmd->add_option("--timeout", decode.timeout,
                           "seconds an open or read of a live source may wait, 0 forever (default 10)")
        ->check(CLI::NonNegativeNumber);
    decode_cmd->add_option("--transport", decode.transport, "RTSP transport: tcp (default) or udp")
        ->check(CLI::IsMember({"tcp", "udp"}));
    decode_cmd->add_option("--wav", decode.wav, "write the audio (a file's track, a camera's G.711 or AAC) as 16-bit WAV");
    decode_cmd->add_flag("--reconnect", decode.reconnect,
                         "reopen a live source that ended or failed, with growing pauses; the summary "
                         "counts the outages");

    WallOptions wall;
    auto* wall_cmd = app.add_subcommand(
        "wall", "a live camera wall: each camera in a tile of one mosaic, written as PNG, with a status line "
                "per camera once a second");
    wall_cmd->add_option("URL", wall.urls, "live sources (rtsp://..., .sdp files, ...)")->required();
    wall_cmd->add_option("--size", wall.size, "tile size WxH (default 320x180)");
    wall_cmd->add_option("--cols", wall.cols, "tiles per row (default: a square grid)")->check(CLI::Range(1, 64));
    wall_cmd->add_option("--every", wall.every, "seconds between mosaic PNGs (default 1)")->check(CLI::PositiveNumber);
    wall_cmd->add_option("-o,--output", wall.out, "the mosaic PNG, rewritten each time (default wall.png)");
    wall_cmd->add_option("--duration", wall.duration, "seconds to run (default: until killed)")
        ->check(CLI::NonNegativeNumber);
    wall_cmd->add_option("--max-latency", wall.max_latency_ms,
                         "milliseconds a picture may be old when shown; older ones are skipped (default 500, "
                         "0: every picture)")
        ->check(CLI::Range(0, 600000));
    wall_cmd->add_option("--timeout", wall.timeout, "seconds a camera may be silent before a reconnect (default 5)")
        ->check(CLI::PositiveNumber);
    wall_cmd->add_option("--transport", wall.transport, "RTSP transport: tcp (default) or udp")
        ->check(CLI::IsMember({"tcp", "udp"}));
    wall_cmd->add_flag("-v,--verbose", wall.verbose, "show FFmpeg's warnings");
    wall_cmd->add_option("--http", wall.http,
                         "serve the wall to browsers on [ADDR:]PORT (address 127.0.0.1 unless given, port 0: a "
                         "free one): the page at /, /status.json, /camera/N.jpg, /camera/N.mjpg, /wall.jpg");
    wall_cmd->add_flag("--exact", wall.exact, "decode every picture in full (default: skip what a tile cannot show)");

    PushOptions push;
    auto* push_cmd = app.add_subcommand(
        "push", "feed a video stream file frame by frame (or pack by pack) through stream mode, as a "
                "camera host would");
    push_cmd->add_option("FILE", push.output.file,
                         "elementary stream or MPEG program stream; for vp8, vp9, av1, flv1 and "
                         "wmv1/2 a container (IVF, WebM, mp4, flv, asf) whose packets are pushed")
        ->required();
    push_cmd->add_option("--codec", push.codec, "video codec: " + CodecNames(false))->required();
    push_cmd->add_option("--size", push.picture_size, "size WxH of the pushed pictures (of one field with --fields)")
        ->required();
    push_cmd->add_flag("--repack", push.repack,
                       "repack H.264 NAL units before decoding; expects the parameter sets (SPS, PPS) "
                       "ahead of each key frame, as some cameras send them: ordinary streams lose "
                       "pictures through it");
    push_cmd->add_flag("--demux", push.demux,
                       "the file is an MPEG-2 program stream: push packs (chunked, since a picture "
                       "may span several packs and a pack may hold several pictures)");
    push_cmd->add_flag("--frame-per-pack", push.frame_per_pack,
                       "with --demux: every pack holds exactly one whole frame, decode each as it is");
    push_cmd->add_flag("--chunks", push.chunks,
                       "pushed units may end inside a picture (sets the chunked transfer mode)");
    push_cmd->add_flag("--fields", push.fields, "each picture is two separately coded fields: push them in pairs");
    push_cmd->add_flag("--key-first,--key-frames-only", push.key_first,
                       "deliver nothing before the first key frame");
    AddOutputOptions(push_cmd, &push.output, "--out-size");

    ExtractOptions extract;
    auto* extract_cmd = app.add_subcommand(
        "extract",
        "copy the compressed video frames of a media file out (H.264 as Annex B) with key flags and times");
    extract_cmd->add_option("FILE", extract.file, "media file")->required();
    extract_cmd->add_option("-o,--output", extract.out, "file for the frames, back to back")->required();
    extract_cmd->add_option("--index", extract.index, "write a CSV index: frame, offset, size, header_length, key, timestamp_ms, file_position");
    extract_cmd->add_flag("-v,--verbose", extract.verbose, "show FFmpeg's warnings");

    AudioOptions audio;
    auto* audio_cmd = app.add_subcommand(
        "audio", "decode a raw audio stream (G.722, G.722.1, PCM, AAC in ADTS, MP3, ...) to a WAV file");
    audio_cmd->add_option("FILE", audio.file, "raw audio: code words (g722, g7221), samples (PCM) or frames with headers")->required();
    audio_cmd->add_option("-o,--output", audio.out, "WAV file")->required();
    audio_cmd->add_option("--codec", audio.codec, "audio codec: " + CodecNames(true))->required();
    audio_cmd->add_option("--rate", audio.rate,
                          "sample rate in Hz (default: 16000 for g722/g7221/ffg722, 8000 for "
                          "PCM; read from the stream for aac, mp3, mp2, ac3)")
        ->check(CLI::PositiveNumber);
    audio_cmd->add_option("--bitrate", audio.bitrate,
                          "bit rate in bit/s (default: 64000 for g722/ffg722, 24000 for g7221 "
                          "(24000 or 32000), 8 or 16 bits per sample for PCM)")
        ->check(CLI::PositiveNumber);
    audio_cmd->add_option("--channels", audio.channels, "channels (default 1, or from the stream)")
        ->check(CLI::Range(1, 8));
    audio_cmd->add_option("--chunk", audio.chunk,
                          "bytes pushed per call for g722/g7221/PCM (default: 20 ms)")
        ->check(CLI::PositiveNumber);
    audio_cmd->add_flag("-v,--verbose", audio.verbose, "show FFmpeg's warnings");

    // A mistyped subcommand would otherwise only be told that a subcommand is required.
    if (argc > 1 && argv[1][0] != '-' && app.get_subcommands([&](CLI::App* sub) {
                                             return sub->get_name() == argv[1];
                                         }).empty()) {
        return Fail(kExitUsage, std::string("unknown subcommand '") + argv[1] +
                                    "' (known: info, decode, thumbs, push, extract, audio; see --help)");
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "qvdecode: error: %s\nRun 'qvdecode%s --help' for the options.\n",
                     e.what(), argc > 1 && argv[1][0] != '-' ? (std::string(" ") + argv[1]).c_str() : "");
        if (json) std::printf("{\"error\": %s, \"exit_code\": %d}\n", JsonString(e.what()).c_str(), kExitUsage);
        return kExitUsage;
    }
    // FFmpeg's warnings only with --verbose; the decoders' log callbacks take over from here.
    av_log_set_level(AV_LOG_ERROR);

    QVDecoderInitialize();
    int code = kExitUsage;
    if (*info_cmd) code = RunInfo(info);
    else if (*decode_cmd) code = RunDecode(decode);
    else if (*wall_cmd) code = RunWall(wall);
    else if (*thumbs_cmd) code = RunThumbs(thumbs);
    else if (*push_cmd) code = RunPush(push);
    else if (*extract_cmd) code = RunExtract(extract);
    else if (*audio_cmd) code = RunAudio(audio);
    QVDecoderDestroy();
    return code;
}
