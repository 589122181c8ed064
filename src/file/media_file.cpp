#include "file/media_file.h"

#include <mutex>
#include <vector>

#include "core/ffmpeg.h"
#include "core/library.h"
#include "video/picture_limit.h"

namespace qv {
namespace {

// Twelve reads in all: a transient read error (a network share hiccup) gets eleven
// immediate retries before the file counts as ended.
constexpr int kReadAttempts = 12;

// Packets read ahead, at most, to learn the picture size of a container whose header does
// not state it.
constexpr int kLookAheadPackets = 64;

// Seconds of a packet: the preferred time, else its presentation time, else the time of
// the packet before it (a packet without either still belongs to the timeline).
double PacketSeconds(const AVPacket& pkt, int64_t preferred, const AVStream& stream, double previous) {
    int64_t time = preferred;
    if (time == AV_NOPTS_VALUE) time = pkt.pts;
    if (time == AV_NOPTS_VALUE || stream.time_base.den == 0) return previous;
    return static_cast<double>(stream.time_base.num) * static_cast<double>(time) / stream.time_base.den;
}

}  // namespace

MediaFile::MediaFile() = default;

MediaFile::~MediaFile() = default;

int MediaFile::Open(const char* name, int64_t max_pixels) {
    Close();
    AVFormatContext* raw_format = nullptr;
    if (avformat_open_input(&raw_format, name, nullptr, nullptr) != 0) return -10001;
    format_ctx_.reset(raw_format);
    if (!packet_) packet_.reset(av_packet_alloc());
    audio_offset = 0;
    draining = false;

    // The probe decodes a few pictures of each stream it knows; a stream that claims a huge
    // picture must not make it allocate one.
    if (StatesPictureOverLimit(name, max_pixels)) return kPictureOverLimit;
    const unsigned announced = format_ctx_->nb_streams;
    std::vector<AVDictionary*> probe_options(announced, nullptr);
    for (AVDictionary*& options : probe_options) {
        av_dict_set_int(&options, "max_pixels", CodecPixelBound(max_pixels), 0);
    }
    int probed;
    {
        std::lock_guard<std::mutex> lock(GlobalLock());
        probed = avformat_find_stream_info(format_ctx_.get(), announced > 0 ? probe_options.data() : nullptr);
    }
    for (AVDictionary*& options : probe_options) av_dict_free(&options);
    if (probed < 0 || !packet_) return -10005;

    for (unsigned i = 0; i < format_ctx_->nb_streams; ++i) {
        AVStream* stream = format_ctx_->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            video_stream_ = stream;
        } else if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            audio_stream_ = stream;
        }
    }
    return 0;
}

namespace {

bool IsVideo(const AVStream* stream) { return stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO; }

// The first picture area a video packet states, read by the codec's parser, reading at most
// kLookAheadPackets packets; 0 when none states one.
int64_t FirstStatedArea(AVFormatContext* ctx, AVPacket* packet) {
    for (int read = 0; read < kLookAheadPackets; ++read) {
        if (av_read_frame(ctx, packet) < 0) break;
        const AVStream* stream = ctx->streams[packet->stream_index];
        const AVCodecParameters* par = stream->codecpar;
        const int64_t area = IsVideo(stream) ? StatedPictureArea(par->codec_id, par->extradata, par->extradata_size,
                                                                 packet->data, packet->size)
                                             : 0;
        av_packet_unref(packet);
        if (area > 0) return area;
    }
    return 0;
}

}  // namespace

// A picture over the limit is refused before the probe, whose decoder would set up tables
// for the claimed size first. Most headers state the size; where the header does not, the
// first size the video packets state decides. Containers without a header (program streams,
// flv) make a stream known only when its first packet is read, too late for the probe's
// options, so they are read ahead in this reader, which then goes back by byte position
// (exact for them); the others (transport and elementary streams) in a second reader.
bool MediaFile::StatesPictureOverLimit(const char* name, int64_t max_pixels) {
    AVFormatContext* ctx = format_ctx_.get();
    const bool headerless = (ctx->ctx_flags & AVFMTCTX_NOHEADER) != 0;
    bool sizes_known = !headerless;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVCodecParameters* par = ctx->streams[i]->codecpar;
        if (!IsVideo(ctx->streams[i])) continue;
        if (OverLimit(par->width, par->height, max_pixels)) return true;
        if (par->width <= 0 || par->height <= 0) sizes_known = false;
    }
    if (sizes_known || !packet_) return false;

    if (headerless) {
        if (!ctx->pb) return false;
        const int64_t start = avio_tell(ctx->pb);
        const int64_t area = FirstStatedArea(ctx, packet_.get());
        av_seek_frame(ctx, -1, start, AVSEEK_FLAG_BYTE);
        return area > max_pixels;
    }
    AVFormatContext* raw_ahead = nullptr;
    if (avformat_open_input(&raw_ahead, name, ctx->iformat, nullptr) != 0) return false;
    FormatContextPtr ahead(raw_ahead);
    return FirstStatedArea(ahead.get(), packet_.get()) > max_pixels;
}

void MediaFile::Close() {
    // A packet still pending would otherwise leak into the next open.
    if (packet_) av_packet_unref(packet_.get());
    format_ctx_.reset();
    video_stream_ = nullptr;
    audio_stream_ = nullptr;
    audio_offset = 0;
    draining = false;
    video_seen_ = false;
    video_time_ = 0.0;
    key_positions_.clear();
    key_positions_complete_ = false;
}

const char* MediaFile::format_name() const { return format_ctx_ ? format_ctx_->iformat->name : nullptr; }

bool MediaFile::has_pending_packet() const { return packet_ && packet_->size > 0; }

int MediaFile::ReadFrame() {
    if (!format_ctx_ || !packet_) return -1;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        av_packet_unref(packet_.get());
        const int result = av_read_frame(format_ctx_.get(), packet_.get());
        if (result >= 0) return 0;
        if (result == AVERROR_EOF) return -1;
        // A failed read leaves the I/O error set when the file itself is broken; only
        // errors that leave the I/O context clean are worth another try.
        const AVIOContext* io = format_ctx_->pb;
        if (io && io->error != 0) return -1;
    }
    return -1;
}

int MediaFile::ReadAfterEnd() {
    if (!format_ctx_) return -1;
    // The end was only where the file stopped then: look again.
    if (format_ctx_->pb) {
        format_ctx_->pb->eof_reached = 0;
        format_ctx_->pb->error = 0;
    }
    return ReadFrame();
}

int MediaFile::ReadVideoPacket() {
    if (!format_ctx_ || !packet_ || !video_stream_) return -1;
    int read;
    do {
        av_packet_unref(packet_.get());
        read = av_read_frame(format_ctx_.get(), packet_.get());
    } while (read == 0 && packet_->stream_index != video_stream_->index);
    if (read < 0) {
        av_packet_unref(packet_.get());
        return -1;
    }
    return 0;
}

void MediaFile::DropPacket() {
    if (packet_) av_packet_unref(packet_.get());
}

double MediaFile::VideoSeconds(int64_t time, double fallback) const {
    if (!video_stream_ || time == AV_NOPTS_VALUE || video_stream_->time_base.den == 0) return fallback;
    return static_cast<double>(video_stream_->time_base.num) * static_cast<double>(time) /
           video_stream_->time_base.den;
}

void MediaFile::RecordPacketTime() {
    const AVPacket& pkt = *packet_;
    if (video_stream_ && pkt.stream_index == video_stream_->index) {
        // Elementary streams (a raw .264 file) carry no times at all: the frame period
        // keeps such pictures apart.
        const double untimed = video_seen_ ? video_time_ + frame_period_ : frame_time;
        frame_time = PacketSeconds(pkt, pkt.dts, *video_stream_, untimed);
        video_seen_ = true;
        video_time_ = frame_time;
        if (pkt.flags & AV_PKT_FLAG_KEY) {
            key_presentation = PacketSeconds(pkt, pkt.pts, *video_stream_, frame_time);
            NoteKeyPacket();
        }
    } else if (audio_stream_ && pkt.stream_index == audio_stream_->index) {
        frame_time = PacketSeconds(pkt, pkt.pts, *audio_stream_, frame_time);
    }
}

}  // namespace qv
