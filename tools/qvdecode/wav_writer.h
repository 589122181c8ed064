// A minimal writer of 16-bit PCM WAV files whose sizes are filled in at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qvtool {

class WavWriter {
public:
    ~WavWriter();
    bool Open(const std::string& path);
    bool Append(const uint8_t* data, int size);
    // Writes the header with the final sizes and closes the file; false on any write error.
    bool Finish(int sample_rate, int channels);
    int64_t data_bytes() const { return data_bytes_; }

private:
    std::FILE* file_ = nullptr;
    int64_t data_bytes_ = 0;
};

}  // namespace qvtool
