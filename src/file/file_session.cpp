#include "file/file_session.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "base/ffmpeg.h"
#include "base/library.h"
#include "file/file_rates.h"
#include "video/picture_limit.h"

namespace qv {

namespace {

const AVCodec* FindDecoder(AVCodecID id) {
    std::lock_guard<std::mutex> lock(GlobalLock());
    return avcodec_find_decoder(id);
}

// A decoder context of our own for one stream, filled from the stream's parameters.
AVCodecContext* MakeStreamContext(const AVCodec* codec, const AVStream* stream) {
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) return nullptr;
    if (avcodec_parameters_to_context(ctx, stream->codecpar) < 0) {
        avcodec_free_context(&ctx);
        return nullptr;
    }
    ctx->thread_count = 1;
    ctx->pkt_timebase = stream->time_base;
    return ctx;
}

bool OpenStreamContext(AVCodecContext* ctx, const AVCodec* codec) {
    std::lock_guard<std::mutex> lock(GlobalLock());
    return avcodec_open2(ctx, codec, nullptr) == 0;
}

}  // namespace

FileSession::FileSession(const Logger& log, const DecoderModes& modes, VideoDecoder& video, AudioDecoder& audio,
                         PictureStore& picture, OutputConverter& output, PictureDelivery& delivery)
    : log_(log), modes_(modes), video_(video), audio_(audio), picture_(picture), output_(output), delivery_(delivery) {
    raw_.LookUpFormats();
}

OpenOutcome FileSession::Open(const char* name) {
    audio_.ResetAudioDecoding();
    seek_.Cancel();
    untimed_us_ = INT64_MIN;
    last_picture_us_ = INT64_MIN;
    units_.Reset(AV_CODEC_ID_NONE);
    budget_.Reset();
    const int container = file_.Open(name, modes_.max_pixels, modes_.video_stream, modes_.audio_stream);
    delivery_.set_file_source(file_mode());
    if (container == -10001) return OpenOutcome::Kept(-10001, "QVOpen: failed to open input file.");
    if (container == MediaFile::kTimedOut) return OpenOutcome::Closed(-10010, "QVOpen: timed out.");
    if (container == MediaFile::kNetworkError) return OpenOutcome::Closed(-10011, "QVOpen: network error.");
    if (container == MediaFile::kPictureOverLimit) return OpenOutcome::Closed(-10005, "QVOpen: picture size over the limit.");
    if (container == MediaFile::kNoSuchVideo) return OpenOutcome::Closed(-10005, "QVOpen: no such video stream.");
    if (container == MediaFile::kNoSuchAudio) return OpenOutcome::Closed(-10005, "QVOpen: no such audio stream.");
    if (container != 0) return OpenOutcome::Closed(-10005, "QVOpen: can't find stream information in file.");

    if (file_.video_stream()) {
        if (const OpenOutcome video = OpenVideo(); video.code != 0) return video;
        const AVCodecParameters* par = file_.video_stream()->codecpar;
        units_.Reset(par->codec_id, par->extradata_size > 0);
        // No real picture of the stream's size is larger than its samples raw at 16 bits in
        // 4:4:4; a hostile sender's is dropped before it costs more.
        if (par->width > 0 && par->height > 0) {
            units_.set_max_bytes(int64_t{par->width} * par->height * 6 + (1 << 20));
        }
    }
    if (file_.audio_stream()) {
        if (const OpenOutcome audio = OpenAudio(); audio.code != 0) return audio;
    }

    // Frame threads deliver each picture thread_count - 1 packets later than one thread.
    const AVCodecContext* vctx = video_.context();
    const bool frame_threads = vctx && (vctx->active_thread_type & FF_THREAD_FRAME) && vctx->thread_count > 1;
    clock_.Reset(frame_threads ? vctx->thread_count - 1 : 0);
    // Frame threads keep every core busy already: slicing the conversion as well only adds
    // hand-overs (measured slower on two cores), so it runs in the caller's thread then.
    output_.set_threads(frame_threads ? 1 : modes_.thread_request);
    output_.AfterOpen(delivery_.Decoded(false).source());
    delivery_.StartStream();
    LearnStartTime();
    raw_.OnOpen(file_, picture_.video_param.codec_id);
    return OpenOutcome::Done();
}

void FileSession::LearnStartTime() {
    // Containers that state only decoding times (AVI) start their stream at the first
    // packet's; with B-frames the first picture comes out later, with the time of the packet
    // it comes out with. A file that can go back decodes up to its first picture to know.
    const AVStream* stream = file_.video_stream();
    if (!stream || stream->codecpar->video_delay <= 0 || file_.is_live() || !file_.CanSeek() || file_.untimed()) return;
    constexpr int kPacketsToFirstPicture = 64;
    int64_t first = AV_NOPTS_VALUE;
    for (int i = 0; i < kPacketsToFirstPicture && first == AV_NOPTS_VALUE; ++i) {
        if (file_.ReadVideoPacket() != 0) break;
        const AVPacket* packet = file_.packet();
        if (i == 0 && packet->pts != AV_NOPTS_VALUE) break;  // times of its own: the stream's start is its first
        bool got = false;
        if (video_.DecodePacket(packet, got) >= 0 && got) first = video_.frame()->best_effort_timestamp;
    }
    if (first == AV_NOPTS_VALUE && video_.StartDrain() >= 0) {
        int status = 0;
        if (video_.ReceiveOne(status)) first = video_.frame()->best_effort_timestamp;
    }
    if (video_.frame()) av_frame_unref(video_.frame());
    video_.Restart();
    file_.SeekToStart();
    file_.set_first_picture_us(file_.VideoMicros(first));
}

OpenOutcome FileSession::OpenVideo() {
    AVStream* stream = file_.video_stream();
    if (OverLimit(stream->codecpar->width, stream->codecpar->height, modes_.max_pixels)) {
        return OpenOutcome::Closed(-10005, "QVOpen: picture size over the limit.");
    }
    const AVCodec* codec = FindDecoder(stream->codecpar->codec_id);
    if (!codec) return OpenOutcome::Closed(-10007, "QVOpen: unkown video codec.");
    AVCodecContext* c = MakeStreamContext(codec, stream);
    video_.Adopt(c);
    if (!c) return OpenOutcome::Closed(-10006, "QVOpen: failed to open video codec.");
    // Frame threads are fine for files: pictures held by the threads come out by the drain at
    // the end of the file. A live picture read unit by unit goes out as soon as its last unit
    // is in, which frame threads would hold back by a picture per thread.
    ApplyThreads(c, modes_.thread_request, !file_.rtp_units());
    video_.LimitPictures(modes_.max_pixels);
    _video_param& p = picture_.video_param;
    p.width = c->width;
    p.height = c->height;
    p.pix_fmt = c->pix_fmt;
    p.codec_id = c->codec_id;
    p.bit_rate = FileBitRate(c->bit_rate, c->bit_rate_tolerance);
    if (p.bit_rate == 0) return OpenOutcome::Closed(-10005, "QVOpen: find zero bitrate in stream.");
    const FrameRate rate = FileFrameRate(stream->r_frame_rate.num, stream->r_frame_rate.den, stream->time_base.num,
                                         stream->time_base.den, stream->duration, stream->nb_frames);
    p.frame_rate_num = rate.num;
    p.frame_rate_den = rate.den;
    file_.set_frame_period(rate.num > 0 && rate.den > 0 ? static_cast<double>(rate.den) / rate.num : 0.0);

    if (!OpenStreamContext(c, codec)) return OpenOutcome::Closed(-10005, "QVOpen: failed to open video codec.");
    return delivery_.AllocatePictureBuffer("QVOpen: wrong video buffer size.", "QVOpen: failed to allcoate video buffer.");
}

OpenOutcome FileSession::OpenAudio() {
    AVStream* stream = file_.audio_stream();
    const AVCodec* codec = FindDecoder(stream->codecpar->codec_id);
    if (!codec) return OpenOutcome::Closed(-10007, "QVOpen: unkown codec.");
    AVCodecContext* a = MakeStreamContext(codec, stream);
    audio_.AdoptFileContext(a);
    if (!a) return OpenOutcome::Closed(-10006, "QVOpen: failed to open audio codec.");
    // The stream's parameters as the container gave them, before the decoder opens.
    const int sample_rate = a->sample_rate;
    const int channels = a->ch_layout.nb_channels;
    const int bit_rate = a->bit_rate > INT_MAX ? INT_MAX : static_cast<int>(a->bit_rate);
    if (!OpenStreamContext(a, codec)) return OpenOutcome::Closed(-10005, "QVOpen: failed to open audio codec.");
    if (audio_.InitializeAudio(sample_rate, bit_rate, channels, codec->id) != 0) {
        return OpenOutcome::Closed(-10006, "QVOpen: failed to allocate audio buffer.");
    }
    return OpenOutcome::Done();
}

int FileSession::DecodeStep() {
    // An object opened for pushed frames has no file to end: nothing of the file path moves.
    if (!file_.is_open()) return -10003;
    // A piece that started a picture closed the one before: that one goes first.
    if (units_.ready()) return DecodeHeldUnit();
    if (!file_.draining && !file_.has_pending_packet()) {
        const int read = file_.ReadFrame();
        // A live source that went quiet keeps its state: the next call waits again.
        if (read == MediaFile::kTimedOut) {
            log_.Log("QVDecodeFrame: timed out.", 15);
            return -10010;
        }
        if (read == MediaFile::kNetworkError) {
            log_.Log("QVDecodeFrame: network error.", 15);
            file_.network_failed = true;
        }
        if (read != 0) file_.draining = true;
    }

    // The unit held when the stream ended is whole.
    if (file_.draining && units_.held()) return DecodeHeldUnit();
    if (file_.draining) {
        // At the end of the file the video decoder still holds the pictures it delayed for
        // reordering (and threads): hand them out one per call before reporting the end.
        // Each reports its own time, or the packet time one thread would have given it.
        if (file_.video_stream() && video_.ready() && delivery_.Drain() == 0) {
            picture_delay_ = av_gettime_relative() - file_.arrival();
            double seconds = 0.0;
            int64_t packet_us = 0;
            if (!clock_.NextDrainedTime(&seconds, &packet_us)) {
                const int64_t own = delivery_.picture_time();
                if (own != AV_NOPTS_VALUE) {
                    seconds = file_.VideoSeconds(own, file_.frame_time);
                    packet_us = file_.VideoMicros(own);
                } else {
                    seconds = file_.NextUntimedSeconds();
                    packet_us = file_.video_us();
                }
            }
            file_.frame_time = seconds;
            CountUntimedPicture(packet_us);
            return 0;
        }
        // A file still being written may have grown since: reading goes on where it ended.
        const int again = file_.ReadAfterEnd();
        if (again == MediaFile::kTimedOut) {
            log_.Log("QVDecodeFrame: timed out.", 15);
            return -10010;
        }
        if (again != 0) return file_.network_failed ? -10011 : -10003;
        file_.draining = false;
        if (video_.draining()) {
            // The drained decoder starts afresh; until the next key frame its pictures lack
            // the references the drain dropped.
            video_.Restart();
            delivery_.MarkReferenceMissing();
        }
    }

    const AVPacket* packet = file_.packet();
    const AVStream* video_stream = file_.video_stream();
    const AVStream* audio_stream = file_.audio_stream();
    if (video_stream && packet->stream_index == video_stream->index) {
        if (file_.rtp_units()) return DecodeUnitPiece();
        file_.RecordPacketTime();
        const int result = DecodeVideoPacket(packet);
        file_.DropPacket();
        return result;
    }

    if (audio_stream && packet->stream_index == audio_stream->index) {
        file_.RecordPacketTime();
        const int rest = packet->size - file_.audio_offset;
        const bool first_piece = file_.audio_offset == 0;
        const int used = audio_.DecodeAudioFrame(packet->data + file_.audio_offset, rest, true,
                                                 first_piece ? packet : nullptr);
        // A packet whose first samples the stream drops (cut by an edit list) starts where
        // its kept samples do, as libavcodec times them; any other keeps its own time.
        const int64_t kept = audio_.piece_pts();
        if (first_piece && used > 0 && kept != AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE &&
            kept > packet->pts && audio_stream->time_base.den > 0) {
            file_.frame_time = file_.AudioSeconds(kept, file_.frame_time);
        }
        // A piece that consumed nothing would be retried forever on the same bytes, so it
        // ends the packet like a failed one.
        if (used > 0 && rest - used > 0) {
            file_.audio_offset += used;
        } else {
            file_.DropPacket();
            file_.audio_offset = 0;
            audio_.ForgetPacket();
        }
        // A packet whose samples the stream drops (an encoder's start-up delay) gave no audio.
        return used > 0 && audio_.audio_frame_size > 0 ? 1 : -10002;
    }

    file_.DropPacket();
    return -10001;
}

int64_t FileSession::FrameCount() const {
    AVStream* stream = file_.is_open() ? file_.video_stream() : nullptr;
    if (!stream || stream->nb_frames <= 0) return -1;
    // A cut made without re-encoding keeps the frames from the key frame before its start,
    // and its edit list hides them: they are decoded but never shown, so they are no frames
    // of the recording.
    int64_t hidden = 0;
    const int entries = avformat_index_get_entries_count(stream);
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (entry && (entry->flags & AVINDEX_DISCARD_FRAME)) ++hidden;
    }
    return stream->nb_frames > hidden ? stream->nb_frames - hidden : stream->nb_frames;
}

int64_t FileSession::StatedBitRate(bool audio) const {
    if (!file_.is_open()) return -1;
    const AVStream* stream = audio ? file_.audio_stream() : file_.video_stream();
    return stream && stream->codecpar->bit_rate > 0 ? stream->codecpar->bit_rate : -1;
}

int64_t FileSession::PictureTime() const {
    if (!file_mode()) return -1;
    const int64_t own = file_.VideoMicros(delivery_.picture_time());
    if (own != AV_NOPTS_VALUE) return own;
    return untimed_us_ != INT64_MIN ? untimed_us_ : FrameTimestamp();
}

void FileSession::CountUntimedPicture(int64_t packet_us) {
    const int64_t own = file_.VideoMicros(delivery_.picture_time());
    if (own != AV_NOPTS_VALUE) {
        last_picture_us_ = own;
        return;
    }
    // In a stream with times, a picture without one takes the time of the packet it came out
    // with (a drained one: a frame period after the last), as libavcodec times the pictures
    // of packets without a presentation time, and so whatever pictures a seek skipped. In a
    // stream without any, pictures are counted in the order they come out, a frame period
    // after the one before; where nothing came before since the open or the seek, or pictures
    // are skipped (key frames only, pictures no other refers to), a key picture takes the
    // time counted for its packet (pictures before a key frame in decoding order come out
    // before it).
    const bool key = (delivery_.picture_flags() & QV_PICTURE_KEY) != 0;
    if (!file_.untimed()) {
        untimed_us_ = packet_us;
    } else if (last_picture_us_ == INT64_MIN || (key && video_.skip() != QV_SKIP_NONE)) {
        untimed_us_ = file_.key_presentation_us != INT64_MAX ? file_.key_presentation_us : packet_us;
    } else {
        untimed_us_ = last_picture_us_ + file_.period_us();
    }
    last_picture_us_ = untimed_us_;
}

bool FileSession::BehindBudget(const AVPacket* packet) {
    if (!budget_.on() || !file_.is_live()) return false;
    bool skip_started = false;
    const bool behind = budget_.Behind(file_.arrival(), static_cast<int64_t>(file_.frame_time * 1e6),
                                       (packet->flags & AV_PKT_FLAG_KEY) != 0, file_.waited(), packet->pts,
                                       skip_started);
    if (skip_started) {
        video_.Restart();
        delivery_.MarkReferenceMissing();
    }
    return behind;
}

bool FileSession::DamagedWithinBudget(const AVPacket* packet) {
    // A host that asked for current pictures gets none smeared by a lost reference or piece:
    // the stream starts again from the next key frame.
    if (!file_.is_live() || (delivery_.picture_flags() & QV_PICTURE_DAMAGED) == 0) return false;
    budget_.SkipToKey(packet->pts);
    video_.Restart();
    delivery_.MarkReferenceMissing();
    return true;
}

int FileSession::DecodeVideoPacket(const AVPacket* packet) {
    if (!seek_.TakePacket((packet->flags & AV_PKT_FLAG_KEY) != 0, file_.frame_time,
                          (packet->flags & AV_PKT_FLAG_DISCARD) != 0)) {
        return -10002;
    }
    if (video_.skip() == QV_SKIP_NONKEY) return DecodeKeyPacket(packet);
    const bool behind = BehindBudget(packet);
    if (budget_.skipping_to_key()) return -10002;
    // On the way to an accurate seek's picture, a picture shown before it is never shown
    // at all: decoded only when another picture refers to it. Its own presentation time
    // says so (a B-frame read before the target may be shown after it); without one it is
    // decoded.
    // A picture passed over for the latency budget is never shown either.
    const int64_t shown_us = file_.VideoMicros(packet->pts);
    video_.SkipUnreferenced(behind || (shown_us != AV_NOPTS_VALUE && shown_us < seek_.PassingBefore()));
    clock_.PacketSent(file_.frame_time, file_.video_us());
    delivery_.set_passing_before(behind ? PictureDelivery::kPassAll : seek_.PassingBefore());
    const int64_t started = budget_.on() ? av_gettime_relative() : 0;
    const int result = delivery_.DecodePacket(packet);
    delivery_.set_passing_before(INT64_MIN);
    if (budget_.on()) {
        budget_.Decoded(av_gettime_relative() - started, result == 0);
        if (result == 0 && !behind && DamagedWithinBudget(packet)) return -10002;
    }
    if (result != 0 || behind) return -10002;
    picture_delay_ = av_gettime_relative() - file_.arrival();
    file_.frame_time = clock_.PictureTime(file_.frame_time);
    CountUntimedPicture(clock_.PictureMicros(file_.video_us()));
    return 0;
}

int FileSession::DecodeUnitPiece() {
    const AVPacket* piece = file_.packet();
    // A piece that shows data lost before it leaves its picture without that data.
    const int64_t oversized = units_.oversized();
    if (!units_.Add(piece->data, piece->size, piece->pts)) delivery_.MarkReferenceMissing();
    if (units_.oversized() != oversized) log_.Log("QVDecodeFrame: a picture over the stream's size was dropped.", 24);
    file_.DropPacket();
    return units_.ready() ? DecodeHeldUnit() : -10002;
}

int FileSession::DecodeHeldUnit() {
    const AVPacket* unit = units_.unit();
    if (!units_.started()) {
        // Joined mid-stream: nothing decodes before the parameter sets come (with the first
        // key picture, mostly), and the decoder would only complain.
        units_.Clear();
        return -10002;
    }
    // Each picture carries the time of its own units.
    file_.frame_time = file_.VideoSeconds(unit->pts, file_.frame_time);
    const int result = DecodeVideoPacket(unit);
    units_.Clear();
    return result;
}

int64_t FileSession::FrameTimestamp() const {
    // Truncation toward zero: -1.5 microseconds is reported as -1, not -2.
    const double micros = std::trunc(file_.frame_time * 1000000.0);
    if (!(micros < 9.2e18)) return micros > 0 ? INT64_MAX : INT64_MIN;
    if (micros < -9.2e18) return INT64_MIN;
    return static_cast<int64_t>(micros);
}

int FileSession::GetVideoRawFrame(unsigned char* buffer, int size, int& header_length, int64_t& timestamp_ms,
                                  int& key_flag, int& position) {
    file_.guard().NewCall();
    // Raw reads share the file position with DecodeFrame: a pending audio packet is dropped,
    // and a seek goes on from its key frame without choosing pictures.
    if (raw_.WillRead(file_, buffer, size)) {
        audio_.ForgetPacket();
        seek_.Cancel();
    }
    const _video_param& p = picture_.video_param;
    const int bytes = raw_.GetVideoRawFrame(file_, p.frame_rate_num, p.frame_rate_den, buffer, size, header_length,
                                            timestamp_ms, key_flag, position);
    if (bytes == 0 && raw_.timed_out()) {
        log_.Log("QVGetVideoRawFrame: timed out.", 15);
    } else if (bytes == 0 && raw_.held_size() > 0) {
        // The packet stays for the next call: the host learns what to grow its buffer to.
        char text[96];
        std::snprintf(text, sizeof text, "QVGetVideoRawFrame: buffer too small, %d bytes needed.", raw_.held_size());
        log_.Log(text, 15);
    }
    return bytes;
}

int FileSession::GetVideoRawFrameSize() {
    if (!file_.is_open()) return -1;
    file_.guard().NewCall();
    // Reading ahead moves past a pending audio packet and ends a seek's choice, as a raw read does.
    if (raw_.held_size() == 0 && raw_.raw_supported()) {
        audio_.ForgetPacket();
        seek_.Cancel();
    }
    return raw_.NextSize(file_);
}

int64_t FileSession::PictureWallclock() const {
    return file_mode() ? file_.Wallclock(delivery_.picture_time()) : -1;
}

void FileSession::Release() {
    file_.Close();
    picture_delay_ = -1;
    raw_.OnClose();
    delivery_.set_file_source(false);
    seek_.Cancel();
}

}  // namespace qv
