// 16-bit PCM WAV files.
#include "wav_writer.h"

#include <algorithm>

namespace qvtool {
namespace {

void Le16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr int kHeaderSize = 44;

}  // namespace

WavWriter::~WavWriter() {
    if (file_) std::fclose(file_);
}

bool WavWriter::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return false;
    // Room for the header, written for real once the sizes are known.
    const uint8_t zeros[kHeaderSize] = {};
    return std::fwrite(zeros, 1, kHeaderSize, file_) == kHeaderSize;
}

bool WavWriter::Append(const uint8_t* data, int size) {
    if (!file_ || size < 0) return false;
    if (std::fwrite(data, 1, size, file_) != static_cast<size_t>(size)) return false;
    data_bytes_ += size;
    return true;
}

bool WavWriter::Finish(int sample_rate, int channels) {
    if (!file_) return false;
    uint8_t h[kHeaderSize] = {};
    const uint32_t data = static_cast<uint32_t>(data_bytes_ & ~int64_t{1});
    std::copy_n("RIFF", 4, h);                  // chunk id
    Le32(h + 4, 36 + data);                     // chunk size
    std::copy_n("WAVE", 4, h + 8);              // format
    std::copy_n("fmt ", 4, h + 12);             // sub-chunk id
    Le32(h + 16, 16);                           // sub-chunk size
    Le16(h + 20, 1);                            // PCM
    Le16(h + 22, channels);                     // channels
    Le32(h + 24, sample_rate);                  // sample rate
    Le32(h + 28, sample_rate * channels * 2);   // byte rate
    Le16(h + 32, channels * 2);                 // block align
    Le16(h + 34, 16);                           // bits per sample
    std::copy_n("data", 4, h + 36);             // sub-chunk id
    Le32(h + 40, data);                         // sub-chunk size
    bool ok = std::fseek(file_, 0, SEEK_SET) == 0 && std::fwrite(h, 1, kHeaderSize, file_) == kHeaderSize;
    if (std::fclose(file_) != 0) ok = false;
    file_ = nullptr;
    return ok;
}

}  // namespace qvtool
