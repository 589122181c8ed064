// Construction, closing, modes and logging of the decoder object.
#include "decoder/decoder_impl.h"

#include "base/legacy_ids.h"

QVDecoder::Impl::Impl()
    : output(log),
      audio(log),
      delivery(log, modes, video, picture, output),
      stream(log, modes, video, picture, output, delivery),
      session(log, modes, video, audio, picture, output, delivery) {}

QVDecoder::Impl::Impl(_picture_param requested, char /*high_quality*/) : Impl() {
    // The character is accepted for compatibility; quality is chosen by the output setters.
    requested.format = static_cast<enum PixelFormat>(qv::PixelFormatFromLegacy(requested.format));
    // A size that can never be produced leaves conversion off, as the default constructor does.
    if (AcceptOutputSize(requested.width, requested.height, "QVDecoder: invalid output size.")) output.Request(requested);
}

bool QVDecoder::Impl::AcceptOutputSize(int width, int height, const char* refusal) const {
    if (width >= 0 && height >= 0 && !qv::OverLimit(width, height, modes.max_pixels)) return true;
    QVDECODE_LOG(refusal, 15);
    return false;
}

QVDecoder::Impl::~Impl() { ReleaseAll(); }

void QVDecoder::Impl::ReleaseAll() {
    // Stream-mode decoders close under the global lock, a file's without it.
    video.Close(!file_mode());
    picture.Release();
    audio.Release();
    output.Release();
    session.Release();
    snapshots.Release();
    stream.Release();
    delivery.Release();
    opened = false;
    has_video = false;
    has_audio = false;
}

void QVDecoder::Impl::QVClose() {
    ReleaseAll();
    session.ForgetFormats();
}

int QVDecoder::Impl::Conclude(const qv::OpenOutcome& outcome) {
    if (outcome.close) QVClose();
    if (outcome.message) QVDECODE_LOG(outcome.message, 15);
    return outcome.code;
}

int QVDecoder::Impl::QVDecoderRegisterLog(QVLogCallback callback, int level) {
    log.Register(callback, level);
    return 0;
}

int QVDecoder::Impl::QVDecoderSetParam(_decoder_param param) {
    modes.code_mode = param.code_mode;
    modes.transfer_mode = param.transfer_mode;
    modes.output_mode = param.output_mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetEncodeMode(enum code_mode mode) {
    modes.code_mode = mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetStreamMode(enum transfer_mode mode) {
    modes.transfer_mode = mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetOutputMode(enum output_mode mode) {
    modes.output_mode = mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetDemux(int value) {
    if (value != 0 && value != 1) return -1;
    modes.demux = value;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetLatencyMode(enum latency_mode mode) {
    if (mode != LATENCY_MODE_LOW && mode != LATENCY_MODE_COMPLETE) return -1;
    modes.latency = mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetThreads(int count) {
    if (count < 0 || count > 64) return -1;
    modes.thread_request = count;
    return 0;
}

int QVDecoder::Impl::QVDecoderSelectStreams(int video, int audio) {
    if (video < -2 || audio < -2) return -1;
    modes.video_stream = video;
    modes.audio_stream = audio;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetMaxPixels(int64_t value) {
    if (value < 0) return -1;
    modes.max_pixels = value == 0 ? qv::kDefaultMaxPixels : value;
    return 0;
}
