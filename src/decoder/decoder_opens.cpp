// The opens of the decoder object and their order: stream-mode video, audio, both, the
// picture-size change, and a media file. The work is the stream path's and the file
// session's; a failing step closes the object before its message is logged.
#include "decoder/decoder_impl.h"
#include "base/ffmpeg.h"
#include "base/ffmpeg_errors.h"
#include "base/legacy_ids.h"
#include "base/library.h"

bool QVDecoder::Impl::CheckInitialized() {
    if (qv::IsInitialized()) return true;
    QVDECODE_LOG("QVOpenDecoder: decoder has not been initinalized.", 15);
    return false;
}

bool QVDecoder::Impl::AlreadyOpen(const char* message) const {
    // The open changes nothing (new limits, threads, latency or codec included): the host
    // is told, since the result is success as always.
    if (opened) QVDECODE_LOG(message, 15);
    return opened;
}

int QVDecoder::Impl::QVOpenDecoder(enum CodecID codec, _picture_param requested) {
    if (!CheckInitialized()) return -1;
    if (AlreadyOpen("QVOpenDecoder: decoder already opened, QVClose it first.")) return 0;
    if (const int result = Conclude(stream.Open(codec, requested, false)); result != 0) return result;
    if (const int result = Conclude(stream.FinishOpen()); result != 0) return result;
    opened = true;
    return 0;
}

// The audio decoder of a stream-mode open; a failure closes the object. The combined
// open reports every failure of its audio half as -10100.
int QVDecoder::Impl::OpenStreamAudio(int codec, _audio_param params, bool combined) {
    const int own = audio.SetUpOwnAudioDecoder(codec, params);
    if (own < 0) return Conclude(qv::OpenOutcome::Closed(combined ? -10100 : -1, nullptr));
    if (own > 0) {
        const char* message = nullptr;
        const int result = audio.OpenAudioCodec(codec, params, combined, &message);
        if (result != 0) return Conclude(qv::OpenOutcome::Closed(combined ? -10100 : result, message));
    }
    if (audio.InitializeAudio(params.sample_rate, params.bit_rate, params.channels, codec) != 0) {
        return Conclude(qv::OpenOutcome::Closed(combined ? -10100 : -10006, nullptr));
    }
    return 0;
}

int QVDecoder::Impl::QVOpenDecoder(enum CodecID codec, _audio_param params) {
    if (!CheckInitialized()) return -1;
    // An audio decoder opened before is released, not leaked.
    audio.CloseStreamContext();
    if (const int result = OpenStreamAudio(qv::CodecFromLegacy(codec), params, false); result != 0) return result;
    delivery.ForgetKeyFrame();
    opened = true;
    return 0;
}

int QVDecoder::Impl::QVOpenDecoder(enum CodecID video_codec, _picture_param requested, enum CodecID audio_codec,
                                   _audio_param params) {
    if (!CheckInitialized()) return -1;
    if (AlreadyOpen("QVOpenDecoder: decoder already opened, QVClose it first.")) return 0;
    if (const int result = Conclude(stream.Open(video_codec, requested, true)); result != 0) return result;
    if (const int result = OpenStreamAudio(qv::CodecFromLegacy(audio_codec), params, true); result != 0) return result;
    if (const int result = Conclude(stream.FinishOpen()); result != 0) return result;
    opened = true;
    return 0;
}

int QVDecoder::Impl::QVSetPictureParam(_picture_param requested) {
    const int format = qv::PixelFormatFromLegacy(requested.format);
    if (picture.SameGeometry(requested.width, requested.height, format)) return 0;
    if (qv::OverLimit(requested.width, requested.height, modes.max_pixels)) {
        QVDECODE_LOG("QVSetPictureParam: picture size over the limit.", 15);
        return -1;
    }
    if (!picture.Replace(requested.width, requested.height, format)) {
        QVDECODE_LOG("QVSetPictureParam: allocate video buffer failed.", 15);
        return -1;
    }
    if (!video.context() || file_mode()) return 0;

    // The decoder is opened again for the new picture; the host's output request stays.
    const int codec = qv::CodecToLegacy(picture.video_param.codec_id);
    stream.CloseDecoder();
    opened = false;
    if (QVOpenDecoder(static_cast<enum CodecID>(codec), requested) != 0) {
        QVDECODE_LOG("QVSetPictureParam: reopen decoder failed.", 15);
        return -1;
    }
    const _picture_param& wanted = output.request();
    output.output_param.width = wanted.width;
    output.output_param.height = wanted.height;
    output.output_param.pix_fmt = wanted.format;
    return 0;
}

int QVDecoder::Impl::QVOpen(const char* name) {
    open_error.clear();
    if (!qv::IsInitialized()) {
        open_error = "QVDecoderInitialize has not been called.";
        return -1;
    }
    if (!name) {
        open_error = "QVOpen: failed to open decoer with NULL name.";
        QVDECODE_LOG(open_error.c_str(), 15);
        return -10001;
    }
    if (AlreadyOpen("QVOpen: decoder already opened, QVClose it first.")) return 0;
    // FFmpeg says why a source does not open only in its log: the reason is kept for
    // QVGetOpenError, else the library's own message.
    qv::FFmpegErrorCapture capture;
    const qv::OpenOutcome outcome = session.Open(name);
    if (const int result = Conclude(outcome); result != 0) {
        // A timeout or interrupt is the library's doing, whatever FFmpeg made of it.
        if (result != -10010) open_error = capture.reason();
        if (open_error.empty() && outcome.message) open_error = outcome.message;
        return result;
    }
    has_video = session.file().video_stream() != nullptr;
    has_audio = session.file().audio_stream() != nullptr;
    opened = true;
    return 0;
}
