// Arbitrary file bytes opened in file mode: QVOpen, then QVDecodeFrame and
// QVGetVideoRawFrame in turns. QVOpen takes a file name, so each input is written to one
// temporary file in memory (/dev/shm when there is one). The first byte picks the calls:
// bit 0 raw extraction, bit 1 output conversion, bits 2-3 the raw buffer size.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "QVDecoder.h"

namespace {

constexpr size_t kMaxFile = 256 * 1024;  // keeps probing and decoding per input small
constexpr int kMaxCalls = 96;
constexpr int kMaxPixels = 1024 * 1024;  // larger pictures only make a run slow

// One file per process, rewritten for each input and removed at exit.
class ScratchFile {
public:
    ScratchFile() {
        for (const char* dir : {"/dev/shm", "/tmp"}) {
            std::string pattern = std::string(dir) + "/qv_file_fuzzer_XXXXXX";
            std::vector<char> name(pattern.begin(), pattern.end());
            name.push_back('\0');
            fd_ = mkstemp(name.data());
            if (fd_ >= 0) {
                path_ = name.data();
                break;
            }
        }
    }
    ~ScratchFile() {
        if (fd_ < 0) return;
        close(fd_);
        unlink(path_.c_str());
    }
    bool Write(const uint8_t* data, size_t size) {
        if (fd_ < 0 || ftruncate(fd_, 0) != 0) return false;
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    const char* path() const { return path_.c_str(); }

private:
    int fd_ = -1;
    std::string path_;
};

void Touch(const uint8_t* buffer, int size) {
    if (!buffer || size <= 0) return;
    // The buffer must hold what its size claims; ASan reports it otherwise.
    volatile uint8_t first = buffer[0];
    volatile uint8_t last = buffer[size - 1];
    (void)first;
    (void)last;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool initialized = [] {
        QVDecoderInitialize();
        return true;
    }();
    (void)initialized;
    static ScratchFile file;
    if (size < 1) return 0;
    if (size > kMaxFile + 1) size = kMaxFile + 1;
    const uint8_t mode = data[0];
    if (!file.Write(data + 1, size - 1)) return 0;

    QVDecoder d;
    if (mode & 2) d.QVSetOutput(_picture_param{64, 48, PIX_FMT_BGR24}, 0);
    if (d.QVOpen(file.path()) != 0) return 0;
    _video_param param{};
    d.QVGetParam(param);
    if (static_cast<int64_t>(param.width) * param.height > kMaxPixels) return 0;

    // Raw buffers from a few bytes (packets are cut) to more than any packet here.
    const int raw_sizes[4] = {16, 1000, 64 * 1024, static_cast<int>(kMaxFile) + 4096};
    // An exact-size heap block, so that a write past it is caught.
    std::vector<uint8_t> raw(static_cast<size_t>(raw_sizes[(mode >> 2) & 3]));
    for (int call = 0; call < kMaxCalls; ++call) {
        if ((mode & 1) && call % 2 == 1) {
            int header = 0, key = 0, position = 0;
            int64_t time = 0;
            const int n = d.QVGetVideoRawFrame(raw.data(), static_cast<int>(raw.size()), header, time,
                                               key, position);
            if (n > static_cast<int>(raw.size()) || header > n) std::abort();  // claims more than it wrote
            continue;
        }
        const int result = d.QVDecodeFrame();
        if (result == -10003) break;  // end of file, decoder drained
        if (result == 0) {
            Touch(d.QVGetVideoFrame(), d.QVGetVideoFrameSize());
        } else if (result == 1) {
            Touch(d.QVGetAudioFrame(), d.QVGetAudioFrameSize());
        }
    }
    d.QVClose();
    return 0;
}
