// Makes encoded audio with FFmpeg's encoders, and decodes it with libavcodec, for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

using Bytes = std::vector<uint8_t>;

// A deterministic test signal: two tones and a little noise, interleaved S16.
std::vector<int16_t> MakeTestSignal(int sample_rate, int channels, int samples_per_channel);

// Encodes interleaved S16 PCM with FFmpeg's encoder for codec_id (an AVCodecID).
// AAC packets come wrapped in ADTS headers so that they decode without extradata.
// Returns the packets in order; empty on failure.
std::vector<Bytes> EncodeAudio(int codec_id, int sample_rate, int channels, int bit_rate,
                               const std::vector<int16_t>& pcm);

// Decodes the packets with libavcodec's decoder for codec_id and converts every frame to
// interleaved S16 with libswresample. ok is false when any step fails.
std::vector<int16_t> DecodeToS16(int codec_id, int sample_rate, int channels, int bit_rate,
                                 const std::vector<Bytes>& packets, bool* ok);

// Reads a whole file; empty when it cannot be read.
Bytes ReadFile(const std::string& path);

// The G.722 prompts of the Asterisk sound package, sorted; empty when it is not installed.
std::vector<std::string> AsteriskG722Files();

}  // namespace qvtest
