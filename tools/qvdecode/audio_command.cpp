// qvdecode audio: raw audio code words decoded through stream mode into a WAV file.
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "commands.h"
#include "frame_cutter.h"
#include "live_stats.h"
#include "stop_signal.h"
#include "tool_common.h"
#include "wav_writer.h"

namespace qvtool {
namespace {

// Codecs whose raw streams carry no frame headers: the file is pushed in fixed-size chunks.
bool UsesFixedFrames(const CodecName& codec) {
    switch (codec.interface_id) {
        case CODEC_ID_QV_G722:
        case CODEC_ID_QV_G7221:
        case CODEC_ID_QV_FFMPEG_G722:
        case CODEC_ID_PCM_ALAW:
        case CODEC_ID_PCM_MULAW:
        case CODEC_ID_PCM_S16LE:
            return true;
        default:
            return false;
    }
}

// The parameters the decoder is opened with: the options where given, else what the
// stream's headers say, else the codec's usual values.
struct AudioSetup {
    int rate = 0;
    int channels = 0;
    int bitrate = 0;
};

AudioSetup ChooseSetup(const AudioOptions& o, const CodecName& codec, int stream_rate,
                       int stream_channels) {
    AudioSetup s;
    const bool speech = codec.interface_id == CODEC_ID_QV_G722 ||
                        codec.interface_id == CODEC_ID_QV_G7221 ||
                        codec.interface_id == CODEC_ID_QV_FFMPEG_G722;
    s.rate = o.rate > 0 ? o.rate : stream_rate;
    if (s.rate <= 0) s.rate = speech ? 16000 : 8000;
    s.channels = o.channels > 0 ? o.channels : stream_channels;
    if (s.channels <= 0) s.channels = 1;
    s.bitrate = o.bitrate;
    if (s.bitrate <= 0) {
        switch (codec.interface_id) {
            case CODEC_ID_QV_G7221: s.bitrate = 24000; break;
            case CODEC_ID_PCM_ALAW:
            case CODEC_ID_PCM_MULAW: s.bitrate = s.rate * 8 * s.channels; break;
            case CODEC_ID_PCM_S16LE: s.bitrate = s.rate * 16 * s.channels; break;
            default: s.bitrate = speech ? 64000 : 0; break;  // 0: the stream knows its own
        }
    }
    return s;
}

// Decodes one frame with libavcodec to learn the rate and channels its decoder delivers:
// AAC's headers say neither (and SBR doubles the rate they would say). 0 when unknown.
void ProbeDecodedFormat(int ffmpeg_id, const std::vector<uint8_t>& unit, int* rate,
                        int* channels) {
    *rate = 0;
    *channels = 0;
    const AVCodec* decoder = avcodec_find_decoder(static_cast<AVCodecID>(ffmpeg_id));
    if (!decoder || unit.empty()) return;
    AVCodecContext* ctx = avcodec_alloc_context3(decoder);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (ctx && packet && frame && avcodec_open2(ctx, decoder, nullptr) == 0 &&
        av_new_packet(packet, static_cast<int>(unit.size())) == 0) {
        std::memcpy(packet->data, unit.data(), unit.size());
        if (avcodec_send_packet(ctx, packet) == 0 && avcodec_receive_frame(ctx, frame) == 0) {
            *rate = frame->sample_rate;
            *channels = frame->ch_layout.nb_channels;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
}

}  // namespace

int RunAudio(const AudioOptions& o) {
    const CodecName* codec = FindCodec(o.codec);
    if (!codec || !codec->audio) {
        return Fail(kExitUsage, "unknown audio codec '" + o.codec + "' (known: " +
                                    CodecNames(true) + ")");
    }
    const bool fixed = UsesFixedFrames(*codec);
    AudioSetup setup = ChooseSetup(o, *codec, 0, 0);
    // 20 ms of input, the frame length of the speech codecs.
    const int chunk = o.chunk > 0 ? o.chunk : setup.bitrate / 8 / 50;
    if (fixed && chunk <= 0) return Fail(kExitUsage, "the bit rate is too low for 20 ms frames");

    FrameCutter cutter(fixed ? FrameCutter::Mode::kFixedChunks : FrameCutter::Mode::kParser,
                       codec->ffmpeg_id, chunk);
    if (const int code = cutter.Open(o.file); code != kExitOk) return code;
    // Streams with frame headers tell their rate and channels with the first frame.
    std::vector<uint8_t> unit;
    bool have_unit = cutter.Next(&unit);
    if (!have_unit) {
        if (cutter.read_error()) return Fail(kExitInput, "reading '" + o.file + "' failed");
        return Fail(kExitInput, "'" + o.file + "' holds no audio frames");
    }
    int stream_rate = 0, stream_channels = 0;
    if (!fixed) {
        ProbeDecodedFormat(codec->ffmpeg_id, unit, &stream_rate, &stream_channels);
        if (stream_rate <= 0) stream_rate = cutter.stream_sample_rate();
        if (stream_channels <= 0) stream_channels = cutter.stream_channels();
        setup = ChooseSetup(o, *codec, stream_rate, stream_channels);
    }

    InstallStopHandlers();
    QVDecoder decoder;
    InstallLog(decoder, o.verbose);
    const int opened = decoder.QVOpenDecoder(static_cast<CodecID>(codec->interface_id),
                                             _audio_param{setup.rate, setup.channels, setup.bitrate});
    if (opened != 0) {
        std::string hint;
        if (codec->interface_id == CODEC_ID_QV_G722) {
            hint = " (g722 takes one channel at 8000 or 16000 Hz and 48000, 56000 or 64000 bit/s)";
        } else if (codec->interface_id == CODEC_ID_QV_G7221) {
            hint = " (g7221 takes 16000 Hz at 24000 or 32000 bit/s)";
        }
        return Fail(kExitFailed, "the " + o.codec + " decoder did not open for " +
                                     std::to_string(setup.rate) + " Hz, " +
                                     std::to_string(setup.bitrate) + " bit/s, " +
                                     std::to_string(setup.channels) + " channel(s): " +
                                     ResultText(opened) + hint);
    }

    WavWriter wav;
    if (!wav.Open(o.out)) {
        return Fail(kExitOutput, "cannot write '" + o.out + "': " + std::strerror(errno));
    }
    Progress progress("audio");
    int64_t frames = 0, refused = 0;
    // A stop (Ctrl-C) ends the work between two frames; the WAV header is written below.
    for (; have_unit && !StopRequested(); have_unit = cutter.Next(&unit)) {
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

    // The samples come out at the stream's own rate and channels whatever was asked for;
    // for raw code words the decoder reports what it was opened with.
    _video_param param{};
    decoder.QVGetParam(param);
    int rate = param.sample_rate > 0 ? param.sample_rate : setup.rate;
    int channels = param.channels > 0 ? param.channels : setup.channels;
    if (stream_rate > 0) rate = stream_rate;
    if (stream_channels > 0) channels = stream_channels;
    if ((o.rate > 0 && o.rate != rate) || (o.channels > 0 && o.channels != channels)) {
        std::fprintf(stderr,
                     "qvdecode: warning: the stream holds %d Hz, %d channel(s) audio; the WAV "
                     "file says so, not what the options asked for\n",
                     rate, channels);
    }
    if (!wav.Finish(rate, channels)) return Fail(kExitOutput, "writing '" + o.out + "' failed");

    const double seconds = progress.Seconds();
    const double audio_seconds =
        static_cast<double>(wav.data_bytes()) / (2.0 * rate * (channels > 0 ? channels : 1));
    std::string codec_text = o.codec;
    if (fixed) codec_text += ", " + std::to_string(setup.bitrate) + " bit/s";
    if (JsonOutput()) {
        if (wav.data_bytes() == 0 && !StopRequested()) return Fail(kExitFailed, "no audio came out of '" + o.file + "'");
        JsonObject json;
        json.Text("file", o.file);
        json.Text("output", o.out);
        json.Number("pushed", static_cast<double>(frames));
        json.Number("refused", static_cast<double>(refused));
        json.Number("sample_rate", rate);
        json.Number("channels", channels);
        json.Number("audio_seconds", audio_seconds);
        json.Number("bytes", static_cast<double>(wav.data_bytes()));
        if (StopRequested()) json.Add("stopped", "true");
        json.Print();
        return StopRequested() ? kExitStopped : kExitOk;
    }
    std::printf("Decoded %s (%s) into %s: %" PRId64 " %s pushed, %" PRId64
                " refused, %.2f s of %d Hz %d-channel 16-bit audio (%" PRId64
                " bytes) in %.2f s.\n",
                PrintableName(o.file).c_str(), codec_text.c_str(), o.out.c_str(), frames,
                fixed ? "chunks" : "frames", refused, audio_seconds, rate, channels,
                wav.data_bytes(), seconds);
    if (StopRequested()) {
        std::printf("Stopped.\n");
        return kExitStopped;
    }
    if (wav.data_bytes() == 0) return Fail(kExitFailed, "no audio came out of '" + o.file + "'");
    return kExitOk;
}

}  // namespace qvtool
