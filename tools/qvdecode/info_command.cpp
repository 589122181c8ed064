// qvdecode info: what a file holds and what the library makes of it.
#include <cinttypes>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "commands.h"
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
bool ReadFacts(const std::string& path, FileFacts* facts) {
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) != 0) return false;
    if (avformat_find_stream_info(ctx, nullptr) < 0) {
        avformat_close_input(&ctx);
        return false;
    }
    facts->container = ctx->iformat->name;
    facts->duration = ctx->duration > 0 ? ctx->duration / 1e6 : -1;
    facts->bit_rate = ctx->bit_rate;
    facts->size = FileSize(path);
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
    return true;
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

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\u%04x", c);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

int RunInfo(const InfoOptions& o) {
    if (!CheckReadable(o.file)) return kExitInput;
    FileFacts facts;
    if (!ReadFacts(o.file, &facts)) {
        return Fail(kExitInput, "'" + o.file + "' is not a media file FFmpeg can read");
    }
    QVDecoder decoder;
    InstallLog(decoder, false);
    const int opened = decoder.QVOpen(o.file.c_str());
    _video_param param{};
    if (opened == 0) decoder.QVGetParam(param);
    decoder.QVClose();
    const bool raw = opened == 0 && RawSupported(o.file);

    // The library decodes the last stream of each kind; mark those.
    int video_index = -1, audio_index = -1;
    for (const StreamFacts& s : facts.streams) {
        if (s.type == "video") video_index = s.index;
        if (s.type == "audio") audio_index = s.index;
    }
    auto interface_id = [&](const StreamFacts& s) {
        if (opened != 0) return -1;
        if (s.index == video_index) return param.codec_id;
        if (s.index == audio_index) return param.audio_codec_id;
        return -1;
    };

    if (o.json) {
        std::printf("{\n  \"file\": %s,\n  \"container\": %s,\n  \"size\": %" PRId64
                    ",\n  \"duration\": %.3f,\n  \"bit_rate\": %" PRId64
                    ",\n  \"opens\": %s,\n  \"open_result\": %d,\n  \"raw_extraction\": %s,\n"
                    "  \"streams\": [",
                    JsonString(o.file).c_str(), JsonString(facts.container).c_str(), facts.size,
                    facts.duration, facts.bit_rate, opened == 0 ? "true" : "false", opened,
                    raw ? "true" : "false");
        for (size_t i = 0; i < facts.streams.size(); ++i) {
            const StreamFacts& s = facts.streams[i];
            std::printf("%s\n    {\"index\": %d, \"type\": %s, \"codec\": %s, \"codec_id\": %d, "
                        "\"decoded\": %s, \"bit_rate\": %" PRId64 ", \"duration\": %.3f",
                        i ? "," : "", s.index, JsonString(s.type).c_str(),
                        JsonString(s.codec).c_str(), interface_id(s),
                        interface_id(s) >= 0 ? "true" : "false", s.bit_rate, s.duration);
            if (s.type == "video") {
                std::printf(", \"width\": %d, \"height\": %d, \"frame_rate\": %.3f", s.width,
                            s.height, s.frame_rate);
            } else if (s.type == "audio") {
                std::printf(", \"sample_rate\": %d, \"channels\": %d", s.sample_rate, s.channels);
            }
            std::printf("}");
        }
        std::printf("\n  ]\n}\n");
        return kExitOk;
    }

    std::printf("%s: %s container, %" PRId64 " bytes, %.3f s, %" PRId64 " bit/s\n", o.file.c_str(),
                facts.container.c_str(), facts.size, facts.duration, facts.bit_rate);
    for (const StreamFacts& s : facts.streams) {
        std::printf("  stream %d: %s %s", s.index, s.type.c_str(), s.codec.c_str());
        const int id = interface_id(s);
        // The library's own ids (0x990000 on) read best in hexadecimal.
        if (id >= 0x990000) std::printf(" (codec id 0x%x, decoded by the library)", id);
        else if (id >= 0) std::printf(" (codec id %d, decoded by the library)", id);
        if (s.type == "video") {
            std::printf(", %dx%d, %.3f frames/s", s.width, s.height, s.frame_rate);
        } else if (s.type == "audio") {
            std::printf(", %d Hz, %d channel%s", s.sample_rate, s.channels,
                        s.channels == 1 ? "" : "s");
        }
        if (s.bit_rate > 0) std::printf(", %" PRId64 " bit/s", s.bit_rate);
        if (s.duration >= 0) std::printf(", %.3f s", s.duration);
        std::printf("\n");
    }
    if (opened != 0) {
        std::printf("The library cannot open this file: %s.\n", ResultText(opened).c_str());
    } else {
        std::printf("The library decodes it as");
        const bool video = param.width > 0 && param.height > 0;
        if (video) {
            std::printf(" %dx%d %s at %d/%d frames/s, %d bit/s", param.width, param.height,
                        PixelFormatName(param.pix_fmt), param.frame_rate_num, param.frame_rate_den,
                        param.bit_rate);
        }
        if (param.audio_codec_id) {
            std::printf("%s audio %d Hz %d ch %d bit/s", video ? "," : "", param.sample_rate,
                        param.channels, param.audio_bit_rate);
        }
        std::printf("; raw extraction is %ssupported.\n", raw ? "" : "not ");
    }
    return kExitOk;
}

}  // namespace qvtool
