// Decoding calls of the decoder object and the picture record: each checks the object's
// state and hands over to the stream path, the file session or the audio decoder.
#include "decoder/decoder_impl.h"
#include "base/ffmpeg.h"
#include "base/legacy_ids.h"
#include "output/display_rotation.h"

int QVDecoder::Impl::QVDecodeVideoFrame(unsigned char* data, int length, int repack) {
    return stream.Push(data, length, repack);
}

int QVDecoder::Impl::QVReceiveVideoFrame() {
    if (!opened || !video.ready() || file_mode() || field_coded()) return -1;
    return stream.Receive();
}

int QVDecoder::Impl::QVFlushVideo() {
    if (!opened || !video.ready() || file_mode() || field_coded()) return -1;
    return stream.Flush();
}

int QVDecoder::Impl::QVDecodeAudioFrame(unsigned char* data, int size) {
    return audio.DecodeAudioFrame(data, size, session.audio_file()) > 0 ? 0 : -1;
}

int QVDecoder::Impl::QVDecodeFrame() {
    if (!opened) {
        QVDECODE_LOG("QVDecodeFrame: non-opened decoder.", 15);
        return -10008;
    }
    return session.DecodeFrame();
}

int QVDecoder::Impl::QVSeek(int64_t time_us, int flags) {
    if (!opened || !session.file().is_open()) return -10008;
    return session.Seek(time_us, flags);
}

int QVDecoder::Impl::QVDecoderSetFrameSkip(int mode) {
    if (mode != QV_SKIP_NONE && mode != QV_SKIP_NONREF && mode != QV_SKIP_NONKEY) return -1;
    session.SetFrameSkip(mode);
    return 0;
}

int QVDecoder::Impl::QVGetParam(_video_param& param) {
    param = picture.video_param;
    const _video_param& a = audio.audio_param;
    param.sample_rate = a.sample_rate;
    param.channels = a.channels;
    param.audio_bit_rate = a.audio_bit_rate;
    param.audio_buffer_size = a.audio_buffer_size;
    param.video_buffer = nullptr;
    param.audio_buffer = nullptr;
    if (field_coded()) param.height *= 2;
    // The host speaks the interface numbering.
    param.codec_id = qv::CodecToLegacy(picture.video_param.codec_id);
    param.pix_fmt = qv::PixelFormatToLegacy(picture.video_param.pix_fmt);
    param.audio_codec_id = qv::CodecToLegacy(a.audio_codec_id);
    return 0;
}

int QVDecoder::Impl::QVGetPictureRotation() const {
    if (!delivery.PictureReady(stream.merged())) return 0;
    // The container's matrix (a phone's recording) first, as players apply it; else what the
    // picture itself states.
    const AVStream* video_stream = file_mode() && session.file().is_open() ? session.file().video_stream() : nullptr;
    if (video_stream) {
        size_t size = 0;
        const uint8_t* matrix = av_stream_get_side_data(video_stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
        const int rotation = qv::DisplayRotation(matrix, size);
        if (rotation >= 0) return rotation;
    }
    return picture.rotation() > 0 ? picture.rotation() : 0;
}
