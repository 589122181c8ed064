// Construction, closing, modes and logging of the decoder object.
#include "core/decoder_impl.h"

#include "core/ffmpeg.h"
#include "core/legacy_ids.h"

QVDecoder::Impl::Impl() : output(log), audio(log) { raw.LookUpFormats(); }

QVDecoder::Impl::Impl(_picture_param requested, char /*high_quality*/) : Impl() {
    // The character is accepted for compatibility; quality is chosen by the output setters.
    requested.format = static_cast<enum PixelFormat>(qv::PixelFormatFromLegacy(requested.format));
    // A size that can never be produced leaves conversion off, as the default constructor does.
    if (AcceptOutputSize(requested.width, requested.height, "QVDecoder: invalid output size.")) output.Request(requested);
}

QVDecoder::Impl::~Impl() { ReleaseAll(); }

void QVDecoder::Impl::ReleaseAll() {
    // Stream-mode decoders close under the global lock, a file's without it.
    video.Close(!file_mode());
    picture.Release();
    audio.Release();
    output.Release();
    file.Close();
    raw.OnClose();
    snapshots.Release();
    fields.Release();
    demux_stage.Release();
    repack.Release();
    chunks.Release();
    opened = false;
    has_video = false;
    has_audio = false;
    reference_missing = false;
    flush_pending = false;
    picture_flags = 0;
}

void QVDecoder::Impl::QVClose() {
    ReleaseAll();
    raw.ForgetFormats();
}

int QVDecoder::Impl::QVDecoderRegisterLog(QVLogCallback callback, int level) {
    log.Register(callback, level);
    return 0;
}

int QVDecoder::Impl::QVDecoderSetParam(_decoder_param param) {
    code_mode = param.code_mode;
    transfer_mode = param.transfer_mode;
    output_mode = param.output_mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetEncodeMode(enum code_mode mode) {
    code_mode = mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetStreamMode(enum transfer_mode mode) {
    transfer_mode = mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetOutputMode(enum output_mode mode) {
    output_mode = mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetDemux(int value) {
    if (value != 0 && value != 1) return -1;
    demux = value;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetLatencyMode(enum latency_mode mode) {
    if (mode != LATENCY_MODE_LOW && mode != LATENCY_MODE_COMPLETE) return -1;
    latency = mode;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetThreads(int count) {
    if (count < 0 || count > 64) return -1;
    thread_request = count;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetMaxPixels(int64_t value) {
    if (value < 0) return -1;
    max_pixels = value == 0 ? qv::kDefaultMaxPixels : value;
    return 0;
}
