// qvdecode info: what a file holds and what the library makes of it.
#include <algorithm>
#include <cinttypes>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "commands.h"
#include "live_stats.h"
#include "tool_common.h"

namespace qvtool {
namespace {

struct StreamFacts {
    int index = 0;
    std::string type;  // "video", "audio", "subtitle", "data", ...
    std::string codec;
    int width = 0, height = 0;
    double frame_rate = 0;
    int64_t bit_rate = 0;
    int sample_rate = 0, channels = 0;
    double duration = -1;  // seconds
};

struct FileFacts {
    std::string container;
    double duration = -1;
    int64_t bit_rate = 0;
    int64_t size = 0;
    std::vector<StreamFacts> streams;
};

// Container facts the library's interface does not report, read with libavformat.
// 0, or FFmpeg's error code.
int ReadFacts(const std::string& path, FileFacts* facts) {
    AVFormatContext* ctx = nullptr;
    const int status = OpenMediaInput(path, &ctx);
    if (status != 0) return status;
    facts->container = ctx->iformat->name;
    facts->duration = ctx->duration > 0 ? ctx->duration / 1e6 : -1;
    facts->bit_rate = ctx->bit_rate;
    facts->size = FileSize(path);
    // A network source: the length the server stated, if any.
    if (facts->size < 0 && ctx->pb) facts->size = std::max<int64_t>(avio_size(ctx->pb), -1);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        const AVCodecParameters* par = st->codecpar;
        StreamFacts s;
        s.index = st->index;
        const char* type = av_get_media_type_string(par->codec_type);
        s.type = type ? type : "unknown";
        s.codec = avcodec_get_name(par->codec_id);
        s.width = par->width;
        s.height = par->height;
        if (st->avg_frame_rate.den > 0 && st->avg_frame_rate.num > 0) {
            s.frame_rate = av_q2d(st->avg_frame_rate);
        } else if (st->r_frame_rate.den > 0) {
            s.frame_rate = av_q2d(st->r_frame_rate);
        }
        s.bit_rate = par->bit_rate;
        s.sample_rate = par->sample_rate;
        s.channels = par->ch_layout.nb_channels;
        if (st->duration > 0 && st->time_base.den > 0) s.duration = st->duration * av_q2d(st->time_base);
        facts->streams.push_back(s);
    }
    avformat_close_input(&ctx);
    return 0;
}

// Raw extraction is offered when the library hands out a first raw frame.
bool RawSupported(const std::string& path) {
    QVDecoder probe;
    if (probe.QVOpen(path.c_str()) != 0) return false;
    std::vector<unsigned char> buffer(16 << 20);
    int64_t ms = 0;
    int key = 0;
    return probe.QVGetVideoRawFrame(buffer.data(), static_cast<int>(buffer.size()), ms, key) > 0;
}

// Unknown values: null in JSON, "unknown" in text.
std::string JsonSeconds(double seconds) { return seconds < 0 ? "null" : JsonNumber(seconds); }

std::string JsonRate(int64_t bits) { return bits > 0 ? std::to_string(bits) : "null"; }

std::string TextSeconds(double seconds) {
    if (seconds < 0) return "unknown duration";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f s", seconds);
    return buf;
}

std::string TextRate(int64_t bits) { return bits > 0 ? std::to_string(bits) + " bit/s" : "unknown bit rate"; }

}  // namespace

int RunInfo(const InfoOptions& o) {
    if (!CheckReadable(o.file)) return kExitInput;
    const std::string shown = PrintableName(o.file);  // an address's password masked
    QVDecoder decoder;
    InstallLog(decoder, false);  // before FFmpeg reads the file: its reasons are kept
    FileFacts facts;
    const int read = ReadFacts(o.file, &facts);
    if (read != 0) {
        // FFmpeg's own line says why; without one (an HTTP error is only a warning), its code.
        char code[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(read, code, sizeof code);
        const std::string reason = FFmpegReason().empty() ? " (FFmpeg: " + std::string(code) + ")" : FFmpegReason();
        return Fail(kExitInput, "'" + shown + "' is not a media file FFmpeg can read" + reason);
    }
    decoder.QVDecoderSelectStreams(o.video_stream, o.audio_stream);
    const int opened = decoder.QVOpen(o.file.c_str());
    // A stream asked for that the file lacks is the user's mistake, not a fact of the file.
    if (opened != 0 && (o.video_stream != -2 || o.audio_stream != -2)) {
        return Fail(kExitInput, OpenFailure(shown, opened, decoder));
    }
    _video_param param{};
    if (opened == 0) decoder.QVGetParam(param);
    // What the library tells of the decoded video: the frames the container states, the
    // first picture's time and its sample aspect (read from that picture).
    const int64_t frame_count = opened == 0 ? decoder.QVGetFrameCount() : -1;
    const int64_t start_us = opened == 0 ? decoder.QVGetStartTime() : 0;
    int aspect_num = 0, aspect_den = 0, rotation = 0;
    for (int i = 0; opened == 0 && param.width > 0 && i < 1000; ++i) {
        const int result = decoder.QVDecodeFrame();
        if (result == QV_OK) {
            if (decoder.QVGetPictureAspect(aspect_num, aspect_den) != 1) aspect_num = aspect_den = 1;
            rotation = decoder.QVGetPictureRotation();
            break;
        }
        if (result == QV_ERR_END_OF_FILE || result == QV_ERR_TIMEOUT || result == QV_ERR_NETWORK) break;
    }
    const std::string aspect =
        aspect_num > 0 ? std::to_string(aspect_num) + ":" + std::to_string(aspect_den) : std::string();
    decoder.QVClose();
    const bool raw = opened == 0 && RawSupported(o.file);

    // The library decodes the streams asked for, by default the last of each kind; mark those.
    int video_index = -1, audio_index = -1;
    for (const StreamFacts& s : facts.streams) {
        if (s.type == "video") video_index = s.index;
        if (s.type == "audio") audio_index = s.index;
    }
    if (o.video_stream != -2) video_index = o.video_stream;
    if (o.audio_stream != -2) audio_index = o.audio_stream;
    auto interface_id = [&](const StreamFacts& s) {
        if (opened != 0) return -1;
        if (s.index == video_index) return param.codec_id;
        if (s.index == audio_index) return param.audio_codec_id;
        return -1;
    };

    if (o.json) {
        std::printf("{\n  \"file\": %s,\n  \"container\": %s,\n  \"size\": %" PRId64
                    ",\n  \"duration\": %s,\n  \"bit_rate\": %s"
                    ",\n  \"opens\": %s,\n  \"open_result\": %d,\n  \"raw_extraction\": %s,\n"
                    "  \"streams\": [",
                    JsonString(shown).c_str(), JsonString(facts.container).c_str(), facts.size,
                    JsonSeconds(facts.duration).c_str(), JsonRate(facts.bit_rate).c_str(),
                    opened == 0 ? "true" : "false", opened, raw ? "true" : "false");
        for (size_t i = 0; i < facts.streams.size(); ++i) {
            const StreamFacts& s = facts.streams[i];
            std::printf("%s\n    {\"index\": %d, \"type\": %s, \"codec\": %s, \"codec_id\": %d, "
                        "\"decoded\": %s, \"bit_rate\": %s, \"duration\": %s",
                        i ? "," : "", s.index, JsonString(s.type).c_str(),
                        JsonString(s.codec).c_str(), interface_id(s),
                        interface_id(s) >= 0 ? "true" : "false", JsonRate(s.bit_rate).c_str(),
                        JsonSeconds(s.duration).c_str());
            if (s.type == "video") {
                std::printf(", \"width\": %d, \"height\": %d, \"frame_rate\": %s", s.width,
                            s.height, JsonSeconds(s.frame_rate > 0 ? s.frame_rate : -1).c_str());
                if (s.index == video_index && opened == 0) {
                    std::printf(", \"frames\": %s, \"sample_aspect\": %s, \"start_time\": %s, \"rotation\": %d",
                                frame_count >= 0 ? std::to_string(frame_count).c_str() : "null",
                                aspect.empty() ? "null" : JsonString(aspect).c_str(),
                                JsonSeconds(start_us >= 0 ? start_us / 1e6 : 0).c_str(), rotation);
                }
            } else if (s.type == "audio") {
                std::printf(", \"sample_rate\": %d, \"channels\": %d", s.sample_rate, s.channels);
            }
            std::printf("}");
        }
        std::printf("\n  ]\n}\n");
        return kExitOk;
    }

    std::printf("%s: %s container, %" PRId64 " bytes, %s, %s\n", shown.c_str(), facts.container.c_str(),
                facts.size, TextSeconds(facts.duration).c_str(), TextRate(facts.bit_rate).c_str());
    for (const StreamFacts& s : facts.streams) {
        std::printf("  stream %d: %s %s", s.index, s.type.c_str(), s.codec.c_str());
        const int id = interface_id(s);
        // The library's own ids (0x990000 on) read best in hexadecimal.
        if (id >= 0x990000) std::printf(" (codec id 0x%x, decoded by the library)", id);
        else if (id >= 0) std::printf(" (codec id %d, decoded by the library)", id);
        if (s.type == "video") {
            std::printf(", %dx%d, %.3f frames/s", s.width, s.height, s.frame_rate);
            if (s.index == video_index && opened == 0) {
                if (!aspect.empty()) std::printf(", sample aspect %s", aspect.c_str());
                if (rotation != 0) std::printf(", shown turned %d degrees clockwise", rotation);
                if (frame_count >= 0) std::printf(", %" PRId64 " frames", frame_count);
                std::printf(", first picture at %.6f s", start_us / 1e6);
            }
        } else if (s.type == "audio") {
            std::printf(", %d Hz, %d channel%s", s.sample_rate, s.channels,
                        s.channels == 1 ? "" : "s");
        }
        std::printf(", %s, %s", TextRate(s.bit_rate).c_str(), TextSeconds(s.duration).c_str());
        std::printf("\n");
    }
    if (opened != 0) {
        std::printf("The library cannot open this file: %s.\n", ResultText(opened).c_str());
    } else if (!(param.width > 0 && param.height > 0) && !param.audio_codec_id) {
        std::printf("The library opens it but finds no stream it decodes.\n");
    } else {
        std::printf("The library decodes it as");
        const bool video = param.width > 0 && param.height > 0;
        // The library stands in a bit rate where a stream states none: only a stated one is told.
        int64_t video_rate = 0, audio_rate = 0;
        for (const StreamFacts& s : facts.streams) {
            if (s.index == video_index) video_rate = s.bit_rate;
            if (s.index == audio_index) audio_rate = s.bit_rate;
        }
        if (video) {
            std::printf(" %dx%d %s at %d/%d frames/s, %s", param.width, param.height,
                        PixelFormatName(param.pix_fmt), param.frame_rate_num, param.frame_rate_den,
                        TextRate(video_rate).c_str());
        }
        if (param.audio_codec_id) {
            std::printf("%s audio %d Hz %d ch, %s", video ? "," : "", param.sample_rate, param.channels,
                        TextRate(audio_rate).c_str());
        }
        std::printf("; raw extraction is %ssupported.\n", raw ? "" : "not ");
    }
    return kExitOk;
}

}  // namespace qvtool
