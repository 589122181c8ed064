#include "file_factory.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace qvtest {
namespace {

struct CodecCtxFree {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameFree {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct OutputFree {
    void operator()(AVFormatContext* p) const {
        if (p->pb) avio_closep(&p->pb);
        avformat_free_context(p);
    }
};
struct InputFree {
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
using CodecCtx = std::unique_ptr<AVCodecContext, CodecCtxFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

const char* EncoderName(AVCodecID codec) {
    switch (codec) {
        case AV_CODEC_ID_H264: return "libx264";
        case AV_CODEC_ID_FLV1: return "flv";
        case AV_CODEC_ID_HEVC: return "libx265";
        case AV_CODEC_ID_VP9: return "libvpx-vp9";
        case AV_CODEC_ID_AV1: return "libaom-av1";
        default: return avcodec_get_name(codec);
    }
}

// The track's packets from the media factory, times in 1/fps; a size change re-encodes
// the rest of the pictures at the new size behind the first part.
EncodedVideo EncodeTrack(const VideoTrack& t, int frames, bool global_header) {
    VideoOptions o;
    o.width = t.width;
    o.height = t.height;
    o.frames = t.resize_at >= 0 ? t.resize_at : frames;
    o.fps = (t.fps + t.fps_den / 2) / t.fps_den;  // the encoder's rate control only
    o.gop = t.gop;
    o.b_frames = t.max_b_frames;
    o.global_header = global_header;
    o.seed = t.seed;
    o.sar_num = t.sample_aspect.num;
    o.sar_den = t.sample_aspect.den;
    if (t.slices > 0) o.x264_params = "slices=" + std::to_string(t.slices);
    if (!t.encoder_params.empty()) o.x264_params += (o.x264_params.empty() ? "" : ":") + t.encoder_params;
    EncodedVideo video = EncodeVideo(EncoderName(t.codec), o);
    if (t.resize_at < 0) return video;
    o.width = t.resize_width;
    o.height = t.resize_height;
    o.frames = frames - t.resize_at;
    EncodedVideo rest = EncodeVideo(EncoderName(t.codec), o);
    for (EncodedPacket& pkt : rest.packets) {
        pkt.pts += t.resize_at;
        pkt.dts += t.resize_at;
        video.packets.push_back(std::move(pkt));
    }
    return video;
}

std::string WritePacket(AVFormatContext* fmt, AVStream* stream, const EncodedPacket& source, const VideoTrack& t) {
    Packet pkt(av_packet_alloc());
    if (av_new_packet(pkt.get(), static_cast<int>(source.data.size())) < 0) return "packet alloc failed";
    std::copy(source.data.begin(), source.data.end(), pkt->data);
    pkt->pts = source.pts + t.start_frames;
    pkt->dts = source.dts + t.start_frames;
    pkt->duration = 1;
    pkt->flags = source.key ? AV_PKT_FLAG_KEY : 0;
    av_packet_rescale_ts(pkt.get(), AVRational{t.fps_den, t.fps}, stream->time_base);
    pkt->stream_index = stream->index;
    return av_interleaved_write_frame(fmt, pkt.get()) < 0 ? "write failed" : "";
}

std::string Drain(AVCodecContext* ctx, AVFormatContext* fmt, AVStream* stream, const AVFrame* frame) {
    if (avcodec_send_frame(ctx, frame) < 0) return "encode failed";
    Packet pkt(av_packet_alloc());
    while (true) {
        const int r = avcodec_receive_packet(ctx, pkt.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return {};
        if (r < 0) return "encode failed";
        av_packet_rescale_ts(pkt.get(), ctx->time_base, stream->time_base);
        pkt->stream_index = stream->index;
        if (av_interleaved_write_frame(fmt, pkt.get()) < 0) return "write failed";
    }
}

}  // namespace

std::string WriteMediaFile(const std::string& path, const MediaFile& media) {
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, media.muxer.c_str(), path.c_str()) < 0 || !raw)
        return "no muxer " + media.muxer;
    std::unique_ptr<AVFormatContext, OutputFree> fmt(raw);
    const AVOutputFormat* oformat = fmt->oformat;

    const bool global_header = (oformat->flags & AVFMT_GLOBALHEADER) != 0;
    std::vector<EncodedVideo> videos;
    std::vector<AVStream*> video_streams;
    for (const VideoTrack& t : media.video) {
        videos.push_back(EncodeTrack(t, media.frames, global_header));
        const EncodedVideo& v = videos.back();
        if (v.packets.empty()) return "no video packets";
        AVStream* stream = avformat_new_stream(fmt.get(), nullptr);
        stream->time_base = AVRational{t.fps_den, t.fps};
        AVCodecParameters* par = stream->codecpar;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = static_cast<AVCodecID>(v.codec_id);
        par->width = v.width;
        par->height = v.height;
        par->format = v.pix_fmt;
        par->bit_rate = 400000;
        par->sample_aspect_ratio = t.sample_aspect;
        stream->sample_aspect_ratio = par->sample_aspect_ratio;
        if (!v.extradata.empty()) {
            par->extradata = static_cast<uint8_t*>(av_mallocz(v.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            std::copy(v.extradata.begin(), v.extradata.end(), par->extradata);
            par->extradata_size = static_cast<int>(v.extradata.size());
        }
        video_streams.push_back(stream);
    }

    CodecCtx audio;
    AVStream* audio_stream = nullptr;
    Frame audio_frame;
    if (media.audio != AV_CODEC_ID_NONE) {
        const AVCodec* codec = avcodec_find_encoder(media.audio);
        if (!codec) return "no audio encoder";
        audio.reset(avcodec_alloc_context3(codec));
        AVCodecContext* a = audio.get();
        a->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        a->sample_rate = media.audio_rate;
        av_channel_layout_default(&a->ch_layout, media.audio_channels);
        a->bit_rate = 64000;
        a->time_base = AVRational{1, media.audio_rate};
        if (oformat->flags & AVFMT_GLOBALHEADER) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(a, codec, nullptr) < 0) return "audio encoder open failed";
        audio_stream = avformat_new_stream(fmt.get(), nullptr);
        audio_stream->time_base = a->time_base;
        avcodec_parameters_from_context(audio_stream->codecpar, a);
        audio_frame.reset(av_frame_alloc());
        audio_frame->format = a->sample_fmt;
        audio_frame->sample_rate = a->sample_rate;
        av_channel_layout_copy(&audio_frame->ch_layout, &a->ch_layout);
        audio_frame->nb_samples = a->frame_size > 0 ? a->frame_size : 1024;
        if (av_frame_get_buffer(audio_frame.get(), 0) < 0) return "audio frame alloc failed";
    }

    AVStream* extra = nullptr;
    if (media.extra != ExtraStream::kNone) {
        extra = avformat_new_stream(fmt.get(), nullptr);
        extra->time_base = AVRational{1, 1000};
        if (media.extra == ExtraStream::kSubtitle) {
            extra->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
            extra->codecpar->codec_id = AV_CODEC_ID_MOV_TEXT;
        } else {
            extra->codecpar->codec_type = AVMEDIA_TYPE_DATA;
            extra->codecpar->codec_id = AV_CODEC_ID_BIN_DATA;
        }
    }

    if (!(oformat->flags & AVFMT_NOFILE) && avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        return "cannot create " + path;
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : media.muxer_options) av_dict_set(&options, key.c_str(), value.c_str(), 0);
    const int header = avformat_write_header(fmt.get(), &options);
    av_dict_free(&options);
    if (header < 0) return "header failed";

    const AVRational period = media.video.empty() ? AVRational{1, 25} : AVRational{media.video[0].fps_den, media.video[0].fps};
    int64_t audio_samples = 0;
    for (int i = 0; i < media.frames; ++i) {
        for (size_t v = 0; v < videos.size(); ++v) {
            // Packets come out in decoding order; each loop step writes the next one.
            if (static_cast<size_t>(i) >= videos[v].packets.size()) continue;
            std::string error = WritePacket(fmt.get(), video_streams[v], videos[v].packets[i], media.video[v]);
            if (!error.empty()) return error;
        }
        if (audio) {
            AVCodecContext* a = audio.get();
            const int64_t until = static_cast<int64_t>(i + 1) * a->sample_rate * period.num / period.den;
            while (audio_samples < until) {
                if (av_frame_make_writable(audio_frame.get()) < 0) return "audio frame not writable";
                AVFrame* f = audio_frame.get();
                for (int ch = 0; ch < a->ch_layout.nb_channels; ++ch) {
                    for (int s = 0; s < f->nb_samples; ++s) {
                        const double value = 0.3 * std::sin((audio_samples + s) * 2.0 * M_PI * 440.0 / a->sample_rate);
                        if (a->sample_fmt == AV_SAMPLE_FMT_FLTP) {
                            reinterpret_cast<float*>(f->data[ch])[s] = static_cast<float>(value);
                        } else if (a->sample_fmt == AV_SAMPLE_FMT_S16) {
                            reinterpret_cast<int16_t*>(f->data[0])[s * a->ch_layout.nb_channels + ch] =
                                static_cast<int16_t>(value * 32767);
                        } else if (a->sample_fmt == AV_SAMPLE_FMT_S16P) {
                            reinterpret_cast<int16_t*>(f->data[ch])[s] = static_cast<int16_t>(value * 32767);
                        }
                    }
                }
                f->pts = audio_samples;
                audio_samples += f->nb_samples;
                std::string error = Drain(a, fmt.get(), audio_stream, f);
                if (!error.empty()) return error;
            }
        }
        if (extra && i % 5 == 0) {
            Packet pkt(av_packet_alloc());
            static const uint8_t kText[] = {0, 5, 'h', 'e', 'l', 'l', 'o'};
            av_new_packet(pkt.get(), sizeof(kText));
            std::copy(kText, kText + sizeof(kText), pkt->data);
            pkt->stream_index = extra->index;
            pkt->pts = pkt->dts = av_rescale_q(i, period, extra->time_base);
            pkt->duration = av_rescale_q(1, period, extra->time_base);
            pkt->flags = AV_PKT_FLAG_KEY;
            if (av_interleaved_write_frame(fmt.get(), pkt.get()) < 0) return "extra write failed";
        }
    }
    for (size_t v = 0; v < videos.size(); ++v) {
        for (size_t k = media.frames; k < videos[v].packets.size(); ++k) {
            std::string error = WritePacket(fmt.get(), video_streams[v], videos[v].packets[k], media.video[v]);
            if (!error.empty()) return error;
        }
    }
    if (audio) {
        std::string error = Drain(audio.get(), fmt.get(), audio_stream, nullptr);
        if (!error.empty()) return error;
    }
    if (av_write_trailer(fmt.get()) < 0) return "trailer failed";
    return {};
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qvtest-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data())) dir_ = name.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::Path(const std::string& name) const { return dir_ + "/" + name; }

Picture LayOut(const AVFrame* frame) {
    Picture p;
    p.width = frame->width;
    p.height = frame->height;
    p.format = frame->format;
    p.key = frame->key_frame != 0;
    p.damaged = frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0;
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const int size = av_image_get_buffer_size(format, frame->width, frame->height, 1);
    if (size <= 0) return p;
    p.bytes.resize(size);
    av_image_copy_to_buffer(p.bytes.data(), size, frame->data, frame->linesize, format, frame->width,
                            frame->height, 1);
    return p;
}

namespace {

void ReceiveAll(AVCodecContext* ctx, AVFrame* frame, std::vector<Picture>& out, AVRational time_base = {0, 1}) {
    while (avcodec_receive_frame(ctx, frame) == 0) {
        out.push_back(LayOut(frame));
        out.back().type = frame->pict_type;
        const int64_t t = frame->best_effort_timestamp;
        if (t != AV_NOPTS_VALUE && time_base.den > 0) {
            out.back().time_us = av_rescale_rnd(t, int64_t{time_base.num} * 1000000, time_base.den, AV_ROUND_ZERO);
        }
        av_frame_unref(frame);
    }
}

}  // namespace

std::vector<Picture> ReferencePictures(const std::string& path, AVDiscard skip) {
    std::vector<Picture> out;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) return out;
    std::unique_ptr<AVFormatContext, InputFree> fmt(raw);
    if (avformat_find_stream_info(fmt.get(), nullptr) < 0) return out;
    int index = -1;
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) index = static_cast<int>(i);
    if (index < 0) return out;
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[index]->codecpar->codec_id);
    CodecCtx ctx(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(ctx.get(), fmt->streams[index]->codecpar);
    ctx->thread_count = 1;
    ctx->skip_frame = skip;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return out;
    Packet pkt(av_packet_alloc());
    Frame frame(av_frame_alloc());
    while (av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == index) {
            avcodec_send_packet(ctx.get(), pkt.get());
            ReceiveAll(ctx.get(), frame.get(), out, fmt->streams[index]->time_base);
        }
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(ctx.get(), nullptr);
    ReceiveAll(ctx.get(), frame.get(), out, fmt->streams[index]->time_base);
    return out;
}

std::vector<Picture> DecodeAnnexB(const std::vector<uint8_t>& stream, AVCodecID codec_id) {
    std::vector<Picture> out;
    const AVCodec* codec = avcodec_find_decoder(codec_id);
    CodecCtx ctx(avcodec_alloc_context3(codec));
    ctx->thread_count = 1;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return out;
    AVCodecParserContext* parser = av_parser_init(codec_id);
    if (!parser) return out;
    std::vector<uint8_t> padded(stream);
    padded.resize(stream.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    Packet pkt(av_packet_alloc());
    Frame frame(av_frame_alloc());
    const uint8_t* data = padded.data();
    int left = static_cast<int>(stream.size());
    // The parser holds the last picture until it is flushed with an empty call.
    bool flushed = false;
    while (!flushed) {
        uint8_t* unit = nullptr;
        int unit_size = 0;
        flushed = left == 0;
        const int used = av_parser_parse2(parser, ctx.get(), &unit, &unit_size, flushed ? nullptr : data, left,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        data += used;
        left -= used;
        if (unit_size > 0) {
            pkt->data = unit;
            pkt->size = unit_size;
            avcodec_send_packet(ctx.get(), pkt.get());
            ReceiveAll(ctx.get(), frame.get(), out);
        }
    }
    av_parser_close(parser);
    avcodec_send_packet(ctx.get(), nullptr);
    ReceiveAll(ctx.get(), frame.get(), out);
    return out;
}

std::vector<PacketInfo> ReadPackets(const std::string& path) {
    std::vector<PacketInfo> out;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) return out;
    std::unique_ptr<AVFormatContext, InputFree> fmt(raw);
    if (avformat_find_stream_info(fmt.get(), nullptr) < 0) return out;
    Packet pkt(av_packet_alloc());
    while (av_read_frame(fmt.get(), pkt.get()) >= 0) {
        PacketInfo info;
        info.stream = pkt->stream_index;
        info.dts = pkt->dts;
        info.pts = pkt->pts;
        info.time_base = fmt->streams[pkt->stream_index]->time_base;
        info.flags = pkt->flags;
        info.pos = pkt->pos;
        info.data.assign(pkt->data, pkt->data + pkt->size);
        out.push_back(std::move(info));
        av_packet_unref(pkt.get());
    }
    return out;
}

bool OverwriteBytes(const std::string& path, int64_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) return false;
    file.seekp(offset);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

bool TruncateFile(const std::string& path, int64_t size) {
    std::error_code error;
    std::filesystem::resize_file(path, static_cast<uintmax_t>(size), error);
    return !error;
}

int64_t FileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<int64_t>(size);
}

}  // namespace qvtest
