// qvdecode audio: raw audio code words decoded through stream mode into a WAV file.
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "frame_cutter.h"
#include "tool_common.h"
#include "wav_writer.h"

namespace qvtool {
namespace {

// Bytes of 20 ms of input, the frame length of the speech codecs.
int TwentyMilliseconds(const CodecName& codec, int bitrate) {
    if (codec.interface_id == CODEC_ID_QV_G7221) return bitrate / 50 / 8;
    return bitrate / 8 / 50;
}

bool UsesFixedFrames(const CodecName& codec) {
    switch (codec.interface_id) {
        case CODEC_ID_QV_G722:
        case CODEC_ID_QV_G7221:
        case CODEC_ID_QV_FFMPEG_G722:
        case CODEC_ID_PCM_ALAW:
        case CODEC_ID_PCM_MULAW:
        case CODEC_ID_PCM_S16LE:
        case CODEC_ID_ADPCM_G726:
            return true;
        default:
            return false;
    }
}

}  // namespace

int RunAudio(const AudioOptions& o) {
    const CodecName* codec = FindCodec(o.codec);
    if (!codec || !codec->audio) {
        return Fail(kExitUsage, "unknown audio codec '" + o.codec + "' (known: " +
                                    CodecNames(true) + ")");
    }
    const bool fixed = UsesFixedFrames(*codec);
    const int chunk = o.chunk > 0 ? o.chunk : TwentyMilliseconds(*codec, o.bitrate);
    if (fixed && chunk <= 0) return Fail(kExitUsage, "the bit rate is too low for 20 ms frames");

    FrameCutter cutter(fixed ? FrameCutter::Mode::kFixedChunks : FrameCutter::Mode::kParser,
                       codec->ffmpeg_id, chunk);
    if (const int code = cutter.Open(o.file); code != kExitOk) return code;

    QVDecoder decoder;
    InstallLog(decoder, o.verbose);
    const int opened = decoder.QVOpenDecoder(static_cast<CodecID>(codec->interface_id),
                                             _audio_param{o.rate, o.channels, o.bitrate});
    if (opened != 0) {
        return Fail(kExitFailed, "the " + o.codec + " decoder did not open for " +
                                     std::to_string(o.rate) + " Hz, " + std::to_string(o.bitrate) +
                                     " bit/s, " + std::to_string(o.channels) + " channel(s): " +
                                     ResultText(opened));
    }

    WavWriter wav;
    if (!wav.Open(o.out)) {
        return Fail(kExitOutput, "cannot write '" + o.out + "': " + std::strerror(errno));
    }
    Progress progress("audio");
    std::vector<uint8_t> unit;
    int64_t frames = 0, refused = 0;
    while (cutter.Next(&unit)) {
        ++frames;
        if (decoder.QVDecodeAudioFrame(unit.data(), static_cast<int>(unit.size())) != 0) {
            ++refused;
            continue;
        }
        const unsigned char* pcm = decoder.QVGetAudioFrame();
        const int size = decoder.QVGetAudioFrameSize();
        if (pcm && size > 0 && !wav.Append(pcm, size)) {
            progress.Finish();
            return Fail(kExitOutput, "writing '" + o.out + "' failed");
        }
        progress.Update(cutter.size() > 0 ? static_cast<double>(cutter.consumed()) / cutter.size()
                                          : -1.0,
                        frames);
    }
    progress.Finish();
    if (cutter.read_error()) return Fail(kExitInput, "reading '" + o.file + "' failed");

    // The decoder knows the rate and channels it delivers; the options are only the request.
    _video_param param{};
    decoder.QVGetParam(param);
    const int rate = param.sample_rate > 0 ? param.sample_rate : o.rate;
    const int channels = param.channels > 0 ? param.channels : o.channels;
    if (!wav.Finish(rate, channels)) return Fail(kExitOutput, "writing '" + o.out + "' failed");

    const double seconds = progress.Seconds();
    const double audio_seconds =
        static_cast<double>(wav.data_bytes()) / (2.0 * rate * (channels > 0 ? channels : 1));
    std::printf("Decoded %s (%s, %d bit/s) into %s: %" PRId64 " frames pushed, %" PRId64
                " refused, %.2f s of %d Hz %d-channel 16-bit audio (%" PRId64
                " bytes) in %.2f s.\n",
                o.file.c_str(), o.codec.c_str(), o.bitrate, o.out.c_str(), frames, refused,
                audio_seconds, rate, channels, wav.data_bytes(), seconds);
    if (frames == 0) return Fail(kExitInput, "'" + o.file + "' holds no audio frames");
    if (wav.data_bytes() == 0) return Fail(kExitFailed, "no audio came out of '" + o.file + "'");
    return kExitOk;
}

}  // namespace qvtool
