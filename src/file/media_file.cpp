#include "file/media_file.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/ffmpeg.h"
#include "base/ffmpeg_errors.h"
#include "base/library.h"
#include "base/picture_time.h"
#include "live/live_input.h"
#include "video/picture_limit.h"

namespace qv {
namespace {

// Twelve reads in all: a transient read error (a network share hiccup) gets eleven
// immediate retries before the file counts as ended.
constexpr int kReadAttempts = 12;

// Packets read ahead, at most, to learn the picture size of a container whose header does
// not state it.
constexpr int kLookAheadPackets = 64;

// Access unit delimiters behind a start code (H.264: type 9, any picture kind; HEVC: type
// 35, layer 0, temporal id 0, any picture kind): units every decoder reads past.
constexpr uint8_t kH264Delimiter[] = {0, 0, 0, 1, 0x09, 0xf0};
constexpr uint8_t kHevcDelimiter[] = {0, 0, 0, 1, 0x46, 0x01, 0x50};

int DelimiterOf(int codec_id, const uint8_t** bytes) {
    const bool hevc = codec_id == AV_CODEC_ID_HEVC;
    *bytes = hevc ? kHevcDelimiter : kH264Delimiter;
    return hevc ? static_cast<int>(sizeof kHevcDelimiter) : static_cast<int>(sizeof kH264Delimiter);
}

// Whole quiet polls (a second) after which a demuxer that cannot resume a read cut in the
// middle is given up on anyway: its source stalled inside a packet, and the call must end.
constexpr int kStalledPolls = 10;

// Demuxers that go on where they were after a read given up between two of the pieces they
// read (transport packets).
bool ResumesCutReads(const char* format) { return av_match_name(format, "mpegts"); }

// A read that took this long waited for its packet to arrive (a queued one takes microseconds).
constexpr int64_t kWaitedMicros = 2000;
// Audio of a live sender held until its offset from the pictures is known (file/stream_clock.h).
constexpr size_t kMaxHeldAudio = 512;
constexpr int64_t kMaxHeldMicros = 3000000;

// Seconds of a packet: the preferred time, else its presentation time, else the time of
// the packet before it (a packet without either still belongs to the timeline).
double PacketSeconds(const AVPacket& pkt, int64_t preferred, const AVStream& stream, double previous) {
    int64_t time = preferred;
    if (time == AV_NOPTS_VALUE) time = pkt.pts;
    if (time == AV_NOPTS_VALUE || stream.time_base.den == 0) return previous;
    return static_cast<double>(stream.time_base.num) * static_cast<double>(time) / stream.time_base.den;
}

bool CarriesRtp(const char* format) {
    return av_match_name(format, "rtsp") || av_match_name(format, "sdp") || av_match_name(format, "rtp");
}

}  // namespace

MediaFile::MediaFile() = default;

MediaFile::~MediaFile() = default;

int MediaFile::Open(const char* name, int64_t max_pixels, int video, int audio) {
    // What was open goes; an interrupt made before this open stays, for this open to take.
    Release();
    live_ = IsLiveName(name);
    guard_.set_can_stall(CanStall(name));
    direct_network_ = IsDirectNetworkName(name);
    guard_.set_watch_memory(direct_network_);
    // One deadline for the whole open: the byte input, the header, the size look-ahead and
    // the probe. An interrupt made before the open ends it here.
    if (!guard_.Arm(true)) return kTimedOut;
    AVFormatContext* raw_format = avformat_alloc_context();
    if (!raw_format) return -10006;
    raw_format->interrupt_callback = guard_.callback();
    if (live_) {
        // A live source is decoded as it arrives: a short probe that stops once the codec
        // parameters are known (the frame rate is not worth a second of waiting), and its
        // packets are handed out afterwards.
        raw_format->probesize = 500000;
        raw_format->max_analyze_duration = AV_TIME_BASE / 2;
        raw_format->fps_probe_size = 0;
    }
    AVDictionary* options = network_.ForOpen(name);
    if (!IsDirectNetworkName(name)) {
        // Our own byte input: the size look-ahead below may read the first bytes again,
        // which a pipe or a network stream cannot give twice. A local file's bytes are read
        // whole whatever happens: its reads take no interrupt in the middle.
        AVDictionary* protocol_options = nullptr;
        av_dict_copy(&protocol_options, options, 0);
        const int opened =
            input_.Open(name, guard_.can_stall() ? &raw_format->interrupt_callback : nullptr, &protocol_options);
        av_dict_free(&protocol_options);
        raw_format->pb = opened == 0 ? input_.NewReader() : nullptr;
        if (!raw_format->pb) {
            avformat_free_context(raw_format);
            av_dict_free(&options);
            return OpenFailure(opened);
        }
    }
    const int opened = avformat_open_input(&raw_format, name, nullptr, &options);
    av_dict_free(&options);
    if (opened != 0) return OpenFailure(opened);
    // The probe decodes pictures, which take memory by right.
    guard_.set_watch_memory(false);
    format_ctx_.reset(raw_format);
    if (!packet_) packet_.reset(av_packet_alloc());
    ReadRtpUnits();
    audio_offset = 0;
    draining = false;

    // The probe decodes a few pictures of each stream it knows; a stream that claims a huge
    // picture must not make it allocate one.
    const bool over_limit = StatesPictureOverLimit(max_pixels);
    input_.StopRecording();
    if (guard_.GaveUp()) return kTimedOut;
    if (over_limit) return kPictureOverLimit;
    const unsigned announced = format_ctx_->nb_streams;
    std::vector<AVDictionary*> probe_options(announced, nullptr);
    for (AVDictionary*& options : probe_options) {
        av_dict_set_int(&options, "max_pixels", CodecPixelBound(max_pixels), 0);
        // RTP units: the probe's decoder gets each piece as it comes, fragments of units
        // without a start code and units cut short among them, and says so at the error
        // level ("No start code is found."), though it only looks for the stream's size and
        // format. Its lines go down to the verbose level; ours, decoding whole units, keeps
        // its own.
        if (rtp_units_) av_dict_set_int(&options, "log_level_offset", AV_LOG_VERBOSE - AV_LOG_ERROR, 0);
    }
    int probed;
    {
        // A live source's probe waits on the network for up to the timeout: holding the
        // library's lock through it would stall every other object's open behind one dead
        // camera (libavcodec 5.1 opens its decoders safely from any thread).
        std::unique_lock<std::mutex> lock(GlobalLock(), std::defer_lock);
        if (!live_) lock.lock();
        guard_.set_probing(live_);
        probed = avformat_find_stream_info(format_ctx_.get(), announced > 0 ? probe_options.data() : nullptr);
        guard_.set_probing(false);
    }
    for (AVDictionary*& options : probe_options) av_dict_free(&options);
    const bool gave_up = guard_.GaveUp();
    guard_.Disarm();
    // A source that sent more packets than any probe needs has failed.
    if (guard_.over_budget()) return kNetworkError;
    if (gave_up) return kTimedOut;
    if (probed < 0 || !packet_) return -10005;
    ForgetStandIns();
    // The network reads from now on bring packets, not pictures: they are watched again.
    guard_.set_watch_memory(direct_network_);
    // How a read takes an interrupt (live/live_input.h): RTP packets and transport packets
    // are read again from where a read was given up between two of them; other demuxers of a
    // stream read through our input lose their place, so they wait for bytes before reading.
    await_bytes_ = !direct_network_ && guard_.can_stall() && !input_.seekable() &&
                   !ResumesCutReads(format_ctx_->iformat->name);
    guard_.set_quiet_polls(await_bytes_ ? kStalledPolls : 1);

    for (unsigned i = 0; i < format_ctx_->nb_streams; ++i) {
        AVStream* stream = format_ctx_->streams[i];
        const int index = static_cast<int>(i);
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && (video == -2 || video == index)) {
            video_stream_ = stream;
        } else if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && (audio == -2 || audio == index)) {
            audio_stream_ = stream;
        }
    }
    // A stream asked for by index must be there, and of its kind.
    if (video >= 0 && !video_stream_) return kNoSuchVideo;
    if (audio >= 0 && !audio_stream_) return kNoSuchAudio;
    // An RTP sender times each stream on a clock of its own until its reports tie them.
    one_clock_ = live_ && video_stream_ && audio_stream_ && CarriesRtp(format_ctx_->iformat->name);
    return 0;
}

void MediaFile::ReadRtpUnits() {
    // libavformat's parser would join the units into pictures, and close one only when the
    // next begins: a picture late. The streams are known from the session description now,
    // before the probe reads anything, and the choice holds for the whole format.
    const char* name = format_ctx_->iformat->name;
    if (!live_ || !CarriesRtp(name)) return;
    // H.264 and HEVC; MJPEG needs nothing of the kind, its depacketizer hands a picture out
    // at its marker bit.
    bool units = false;
    for (unsigned i = 0; i < format_ctx_->nb_streams; ++i) {
        const AVCodecParameters* par = format_ctx_->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        if (par->codec_id != AV_CODEC_ID_H264 && par->codec_id != AV_CODEC_ID_HEVC) return;
        units = true;
    }
    if (!units) return;
    format_ctx_->flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
    // Units carry no decoding times, so the probe would read 50 of them (or all its bytes,
    // half a second of a camera) waiting for one: the first decoded picture is enough.
    format_ctx_->max_ts_probe = 1;
    rtp_units_ = true;
    // Without parameter sets from the session description, the probe looks for them in the
    // pieces it reads and gives up on the first piece without a start code: the middle of a
    // fragmented unit, as a sender joined mid-stream gives first (and HEVC, whose parameter
    // sets count only together, nearly always). An access unit delimiter stands in for them
    // until the probe is over: the decoders read the parameter sets in the stream.
    for (unsigned i = 0; i < format_ctx_->nb_streams; ++i) {
        AVCodecParameters* par = format_ctx_->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO || par->extradata) continue;
        const uint8_t* delimiter = nullptr;
        const int size = DelimiterOf(par->codec_id, &delimiter);
        par->extradata = static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata) continue;
        std::memcpy(par->extradata, delimiter, static_cast<size_t>(size));
        par->extradata_size = size;
    }
}

void MediaFile::ForgetStandIns() {
    if (!rtp_units_) return;
    for (unsigned i = 0; i < format_ctx_->nb_streams; ++i) {
        AVCodecParameters* par = format_ctx_->streams[i]->codecpar;
        const uint8_t* delimiter = nullptr;
        const int size = DelimiterOf(par->codec_id, &delimiter);
        if (par->codec_type != AVMEDIA_TYPE_VIDEO || par->extradata_size != size ||
            std::memcmp(par->extradata, delimiter, static_cast<size_t>(size)) != 0) {
            continue;
        }
        av_freep(&par->extradata);
        par->extradata_size = 0;
    }
}

int MediaFile::OpenFailure(int error) {
    FFmpegErrorCapture::Code(error);  // why, for QVGetOpenError, when FFmpeg logged nothing
    input_.Close();
    // A source given up by the guard is a timeout whatever error the layer below made of it;
    // one that sent more than any reply or packet needs has failed.
    const bool gave_up = guard_.GaveUp();
    guard_.Disarm();
    if (guard_.over_budget()) return kNetworkError;
    if (gave_up || error == AVERROR_EXIT) return kTimedOut;
    return live_ ? kNetworkError : -10001;
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
// (exact for them); the others (transport and elementary streams) are read ahead by a second
// reader of the same input. Either way the input gives the bytes read ahead once more,
// so nothing is opened twice. Sources whose demuxer reads the network itself state their
// streams in their header: the probe's options bound their decoder, and the first packets
// are checked as they are decoded.
bool MediaFile::StatesPictureOverLimit(int64_t max_pixels) {
    AVFormatContext* ctx = format_ctx_.get();
    const bool headerless = (ctx->ctx_flags & AVFMTCTX_NOHEADER) != 0;
    bool sizes_known = !headerless;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVCodecParameters* par = ctx->streams[i]->codecpar;
        if (!IsVideo(ctx->streams[i])) continue;
        if (OverLimit(par->width, par->height, max_pixels)) return true;
        if (par->width <= 0 || par->height <= 0) sizes_known = false;
    }
    // Demuxers that open their media themselves (a playlist opens its segments, a session
    // description its RTP ports) are read ahead neither by byte nor by a second reader,
    // which would lose what was read or take the ports twice.
    const bool opens_media = (ctx->iformat->flags & (AVFMT_NOFILE | AVFMT_NO_BYTE_SEEK)) != 0 ||
                             std::strcmp(ctx->iformat->name, "sdp") == 0;
    if (sizes_known || !packet_ || !ctx->pb || opens_media) return false;

    if (headerless) {
        const int64_t start = avio_tell(ctx->pb);
        const int64_t area = FirstStatedArea(ctx, packet_.get());
        input_.StateKeptSize(true);
        av_seek_frame(ctx, -1, start, AVSEEK_FLAG_BYTE);
        input_.StateKeptSize(false);
        return area > max_pixels;
    }
    AVFormatContext* raw_ahead = avformat_alloc_context();
    if (!raw_ahead) return false;
    raw_ahead->interrupt_callback = ctx->interrupt_callback;
    AVIOContext* reader = input_.NewReader();
    raw_ahead->pb = reader;
    if (!reader || avformat_open_input(&raw_ahead, nullptr, ctx->iformat, nullptr) != 0) {
        if (!reader) avformat_free_context(raw_ahead);
        input_.FreeReader(reader);
        return false;
    }
    const int64_t area = FirstStatedArea(raw_ahead, packet_.get());
    avformat_close_input(&raw_ahead);
    input_.FreeReader(reader);
    return area > max_pixels;
}

void MediaFile::Close() {
    Release();
    // An interrupt nobody waited for goes with the object's state.
    guard_.Reset();
}

void MediaFile::Release() {
    // A packet still pending would otherwise leak into the next open.
    if (packet_) av_packet_unref(packet_.get());
    format_ctx_.reset();
    // The container is gone: its byte input can go too.
    input_.Close();
    guard_.Disarm();
    guard_.NewCall();
    live_ = false;
    kept_after_give_up_ = false;
    direct_network_ = false;
    await_bytes_ = false;
    guard_.set_watch_memory(false);
    packets_read_ = 0;
    bytes_read_ = 0;
    rtp_units_ = false;
    one_clock_ = false;
    stream_clock_.Reset();
    held_audio_.clear();
    held_end_ = 0;
    next_audio_ = AV_NOPTS_VALUE;
    video_stream_ = nullptr;
    audio_stream_ = nullptr;
    audio_offset = 0;
    draining = false;
    network_failed = false;
    video_seen_ = false;
    video_us_ = 0;
    first_picture_us_ = AV_NOPTS_VALUE;
    key_positions_.clear();
    key_positions_complete_ = false;
}

const char* MediaFile::format_name() const { return format_ctx_ ? format_ctx_->iformat->name : nullptr; }

bool MediaFile::has_pending_packet() const { return packet_ && packet_->size > 0; }

int MediaFile::ReadFailure(int error) {
    if (error == AVERROR_EOF || !live_) return kEnd;
    // A demuxer may name the end of its input otherwise (a multipart stream that stops
    // after its last part): the input itself says whether it ended or failed.
    const AVIOContext* io = format_ctx_->pb;
    if (io && io->eof_reached && (io->error == 0 || io->error == AVERROR_EOF)) return kEnd;
    return kNetworkError;
}

void MediaFile::ResumeAfterGiveUp() {
    // The read that gave up (or found the end of a file still being written) marked the
    // input ended; the bytes after it are still to come.
    if (format_ctx_->pb) {
        format_ctx_->pb->eof_reached = 0;
        format_ctx_->pb->error = 0;
    }
    input_.ClearEnd();
}

// The one guarded read of a packet: every read of decoding, raw extraction and seeking
// comes here, so an interrupt or a timeout ends the public call that reads, whichever it is.
int MediaFile::ReadFrame() {
    if (!one_clock_) return ReadFromSource();
    for (;;) {
        // Audio read before the offset between the streams was known goes out once it is,
        // timed by it; the pictures do not wait.
        if (!held_audio_.empty() && (stream_clock_.settled() || held_end_ != 0)) {
            av_packet_unref(packet_.get());
            av_packet_move_ref(packet_.get(), held_audio_.front().get());
            held_audio_.pop_front();
            return 0;
        }
        if (held_end_ != 0) return held_end_;
        const int read = ReadFromSource();
        if (read != 0 && read != kTimedOut && !held_audio_.empty()) {
            held_end_ = read;  // after the audio still held
            continue;
        }
        // Audio read behind audio still held goes behind it, in order.
        if (read != 0 || packet_->stream_index != audio_stream_->index ||
            (stream_clock_.settled() && held_audio_.empty())) {
            return read;
        }
        PacketPtr held(av_packet_alloc());
        if (!held) return read;  // no memory to hold it: it goes out as it is
        av_packet_move_ref(held.get(), packet_.get());
        held_audio_.push_back(std::move(held));
        // A source whose streams do not both arrive while read (pictures that never come)
        // holds its sound no longer than this: it goes with the offset known so far.
        const int64_t span = held_audio_.back()->pts - held_audio_.front()->pts;
        if (held_audio_.size() >= kMaxHeldAudio || TicksToMicros(span, audio_stream_->time_base) > kMaxHeldMicros) {
            stream_clock_.GiveUp();
        }
    }
}

int MediaFile::ReadFromSource() {
    if (!format_ctx_ || !packet_) return kEnd;
    if (kept_after_give_up_) {
        // A call that gave up left the packet it still got: it is the next one.
        kept_after_give_up_ = false;
        if (has_pending_packet()) return 0;
    }
    int result = AVERROR_EOF;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        av_packet_unref(packet_.get());
        if (!guard_.Arm()) return kTimedOut;
        input_.StartCall();
        const int64_t asked = av_gettime_relative();
        if (!AwaitBytes()) {
            guard_.GaveUp();
            guard_.Disarm();
            ResumeAfterGiveUp();
            return guard_.over_budget() ? kNetworkError : kTimedOut;
        }
        result = av_read_frame(format_ctx_.get(), packet_.get());
        const bool gave_up = guard_.GaveUp();
        guard_.Disarm();
        if (gave_up || result == AVERROR_EXIT) ResumeAfterGiveUp();
        if (guard_.over_budget()) {
            av_packet_unref(packet_.get());
            return kNetworkError;
        }
        if (result >= 0) {
            ++packets_read_;
            bytes_read_ += packet_->size;
            arrival_ = av_gettime_relative();
            waited_ = arrival_ - asked >= kWaitedMicros;
            NoteStreamClock();
            // A demuxer given up on may still hand out what it held (the last picture of a
            // source that went quiet): the call that waited reports the timeout, and the
            // packet stays pending for the next one.
            kept_after_give_up_ = gave_up;
            return gave_up ? kTimedOut : 0;
        }
        if (gave_up || result == AVERROR_EXIT) return kTimedOut;
        if (result == AVERROR_EOF || live_) break;
        // A failed read leaves the I/O error set when the file itself is broken; only
        // errors that leave the I/O context clean are worth another try.
        const AVIOContext* io = format_ctx_->pb;
        if (io && io->error != 0) break;
    }
    return ReadFailure(result);
}

bool MediaFile::AwaitBytes() {
    const AVIOContext* io = format_ctx_->pb;
    if (!await_bytes_ || !io || io->buf_ptr < io->buf_end) return true;
    // Nothing is read yet: the wait takes an interrupt at once, and loses nothing.
    guard_.set_quiet_polls(0);
    const int ahead = input_.ReadAhead();
    guard_.set_quiet_polls(kStalledPolls);
    return ahead != AVERROR_EXIT;
}

int MediaFile::ReadAfterEnd() {
    if (!format_ctx_ || live_) return kEnd;
    // The end was only where the file stopped then: look again.
    ResumeAfterGiveUp();
    return ReadFrame();
}

int MediaFile::ReadVideoPacket() {
    if (!format_ctx_ || !packet_ || !video_stream_) return kEnd;
    for (;;) {
        const int read = ReadFrame();
        if (read != 0) {
            // A packet kept by a call that gave up is the next call's, whatever its stream.
            if (read != kTimedOut) av_packet_unref(packet_.get());
            return read;
        }
        if (packet_->stream_index == video_stream_->index) return 0;
    }
}

void MediaFile::NoteStreamClock() {
    if (!one_clock_) return;
    const bool video = packet_->stream_index == video_stream_->index;
    if (!video && packet_->stream_index != audio_stream_->index) return;
    const int64_t time = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
    if (time == AV_NOPTS_VALUE) return;
    const int64_t micros = TicksToMicros(time, (video ? video_stream_ : audio_stream_)->time_base);
    // libavformat attaches the capture time once the stream's own sender report came.
    const bool reported = av_packet_get_side_data(packet_.get(), AV_PKT_DATA_PRFT, nullptr) != nullptr;
    stream_clock_.Note(video, micros, arrival_, reported, waited_);
}

double MediaFile::AudioSeconds(int64_t time, double fallback) {
    if (!audio_stream_ || time == AV_NOPTS_VALUE || audio_stream_->time_base.den == 0) return fallback;
    if (!one_clock_) {
        return static_cast<double>(audio_stream_->time_base.num) * static_cast<double>(time) /
               audio_stream_->time_base.den;
    }
    const int64_t micros = TicksToMicros(time, audio_stream_->time_base) + stream_clock_.AudioShift();
    return static_cast<double>(stream_clock_.AudioOut(micros)) / 1000000.0;
}

int64_t MediaFile::Wallclock(int64_t pts) const {
    if (!format_ctx_ || !video_stream_ || pts == AV_NOPTS_VALUE) return -1;
    // libavformat dates the stream's time 0 from the first sender report (the report's
    // wall-clock time less its RTP time since the stream's first packet), whenever that report
    // came: a picture was captured that long after it.
    if (format_ctx_->start_time_realtime == AV_NOPTS_VALUE || format_ctx_->start_time_realtime <= 0) return -1;
    return format_ctx_->start_time_realtime + av_rescale_q(pts, video_stream_->time_base, AVRational{1, 1000000});
}

void MediaFile::DropPacket() {
    if (packet_) av_packet_unref(packet_.get());
}

double MediaFile::VideoSeconds(int64_t time, double fallback) const {
    if (!video_stream_ || time == AV_NOPTS_VALUE || video_stream_->time_base.den == 0) return fallback;
    return static_cast<double>(video_stream_->time_base.num) * static_cast<double>(time) /
           video_stream_->time_base.den;
}

int64_t MediaFile::VideoMicros(int64_t time) const {
    return video_stream_ ? TicksToMicros(time, video_stream_->time_base) : AV_NOPTS_VALUE;
}

double MediaFile::NextUntimedSeconds() {
    if (!video_seen_) return frame_time;
    video_us_ += period_us_;
    return MicrosToSeconds(video_us_);
}

void MediaFile::RecordPacketTime() {
    const AVPacket& pkt = *packet_;
    if (video_stream_ && pkt.stream_index == video_stream_->index) {
        // Elementary streams (a raw .264 file) carry no times at all: the frame period keeps
        // such pictures apart, counted in whole microseconds from the last time known.
        const int64_t stated = VideoMicros(pkt.dts != AV_NOPTS_VALUE ? pkt.dts : pkt.pts);
        if (stated != AV_NOPTS_VALUE) {
            frame_time = PacketSeconds(pkt, pkt.dts, *video_stream_, frame_time);
            video_us_ = stated;
        } else {
            video_us_ = video_seen_ ? video_us_ + period_us_ : static_cast<int64_t>(std::trunc(frame_time * 1e6));
            frame_time = MicrosToSeconds(video_us_);
        }
        video_seen_ = true;
        if (pkt.flags & AV_PKT_FLAG_KEY) {
            const int64_t key_micros = VideoMicros(pkt.pts);
            key_presentation_us = key_micros != AV_NOPTS_VALUE ? key_micros : video_us_;
            NoteKeyPacket();
        }
    } else if (audio_stream_ && pkt.stream_index == audio_stream_->index) {
        int64_t time = pkt.pts != AV_NOPTS_VALUE ? pkt.pts : pkt.dts;
        // An RTP packet of several audio frames times only its first: the others follow it.
        if (time == AV_NOPTS_VALUE && live_) time = next_audio_;
        next_audio_ = AV_NOPTS_VALUE;
        const AVCodecParameters* par = audio_stream_->codecpar;
        int64_t length = pkt.duration;
        if (length <= 0 && par->frame_size > 0 && par->sample_rate > 0) {
            length = av_rescale_q(par->frame_size, AVRational{1, par->sample_rate}, audio_stream_->time_base);
        }
        if (time != AV_NOPTS_VALUE && length > 0) next_audio_ = time + length;
        frame_time = AudioSeconds(time, frame_time);
    }
}

}  // namespace qv
