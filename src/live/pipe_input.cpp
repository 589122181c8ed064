#include "live/pipe_input.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/ffmpeg.h"
#include "live/live_input.h"

namespace qv {

namespace {

constexpr int kBufferSize = 32768;
// The longest wait between two looks at the interrupt callback: the guard's poll, whose
// length tells it that the pipe was quiet.
constexpr int kPollStepMs = InputGuard::kPollMs;

struct Pipe {
    int fd = -1;
    bool owned = false;  // a FIFO opened here; pipe:N's descriptor stays the host's
    AVIOInterruptCB interrupt{nullptr, nullptr};
};

bool HasPrefix(const char* name, const char* prefix) { return std::strncmp(name, prefix, std::strlen(prefix)) == 0; }

const char* LocalPath(const char* name) { return HasPrefix(name, "file:") ? name + 5 : name; }

bool Interrupted(const Pipe& pipe) { return pipe.interrupt.callback && pipe.interrupt.callback(pipe.interrupt.opaque); }

int ReadPipe(void* opaque, uint8_t* buffer, int size) {
    auto* pipe = static_cast<Pipe*>(opaque);
    for (;;) {
        if (Interrupted(*pipe)) return AVERROR_EXIT;
        pollfd p{pipe->fd, POLLIN, 0};
        const int ready = poll(&p, 1, kPollStepMs);
        if (ready < 0 && errno != EINTR) return AVERROR(errno);
        if (ready <= 0) continue;
        // Readable, ended or failed: the read below does not block and says which.
        const ssize_t n = read(pipe->fd, buffer, static_cast<size_t>(size));
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return AVERROR_EOF;
        if (errno != EAGAIN && errno != EINTR) return AVERROR(errno);
    }
}

}  // namespace

bool IsPipeName(const char* name) {
    if (HasPrefix(name, "pipe:")) return true;
    const char* path = LocalPath(name);
    struct stat info;
    return stat(path, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode));
}

AVIOContext* OpenPipe(const char* name, const AVIOInterruptCB* interrupt, int* error) {
    auto* pipe = new Pipe();
    if (interrupt) pipe->interrupt = *interrupt;
    if (HasPrefix(name, "pipe:")) {
        // pipe: alone is the standard input, as in FFmpeg.
        char* end = nullptr;
        const long fd = name[5] ? std::strtol(name + 5, &end, 10) : 0;
        pipe->fd = (name[5] && (*end != '\0' || fd < 0 || fd > 65535)) ? -1 : static_cast<int>(fd);
        if (pipe->fd < 0) errno = EINVAL;
    } else {
        // Opened without waiting for a writer; the reads wait, bounded.
        pipe->fd = open(LocalPath(name), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        pipe->owned = pipe->fd >= 0;
        if (pipe->fd >= 0) fcntl(pipe->fd, F_SETFL, fcntl(pipe->fd, F_GETFL) & ~O_NONBLOCK);
    }
    auto* buffer = pipe->fd >= 0 ? static_cast<unsigned char*>(av_malloc(kBufferSize)) : nullptr;
    AVIOContext* io = buffer ? avio_alloc_context(buffer, kBufferSize, 0, pipe, &ReadPipe, nullptr, nullptr) : nullptr;
    if (!io) {
        *error = pipe->fd < 0 ? AVERROR(errno) : AVERROR(ENOMEM);
        av_free(buffer);
        if (pipe->owned) close(pipe->fd);
        delete pipe;
        return nullptr;
    }
    io->seekable = 0;
    *error = 0;
    return io;
}

void ClosePipe(AVIOContext** io) {
    if (!*io) return;
    auto* pipe = static_cast<Pipe*>((*io)->opaque);
    if (pipe->owned) close(pipe->fd);
    delete pipe;
    av_freep(&(*io)->buffer);
    avio_context_free(io);
}

}  // namespace qv
