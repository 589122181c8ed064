#include "live/replay_input.h"

#include <algorithm>
#include <cstring>

#include "base/ffmpeg.h"
#include "live/pipe_input.h"

namespace qv {

namespace {
constexpr int kReaderBufferSize = 32768;
}

ReplayInput::ReplayInput() = default;

ReplayInput::~ReplayInput() { Close(); }

int ReplayInput::Open(const char* name, const AVIOInterruptCB* interrupt, AVDictionary** options) {
    Close();
    int opened = 0;
    pipe_ = IsPipeName(name);
    if (pipe_) {
        source_ = OpenPipe(name, interrupt, &opened);
    } else {
        opened = avio_open2(&source_, name, AVIO_FLAG_READ, interrupt, options);
    }
    if (opened < 0) return opened;
    call_bytes_ = 0;
    seekable_ = (source_->seekable & AVIO_SEEKABLE_NORMAL) != 0;
    recording_ = !seekable_;
    return 0;
}

void ReplayInput::Close() {
    while (!cursors_.empty()) FreeReader(cursors_.back()->io);
    if (pipe_) ClosePipe(&source_);
    if (source_) avio_closep(&source_);
    pipe_ = false;
    kept_.clear();
    kept_.shrink_to_fit();
    kept_released_ = false;
    source_pos_ = 0;
    recording_ = true;
    ahead_.clear();
    ahead_at_ = 0;
}

AVIOContext* ReplayInput::NewReader() {
    if (!source_) return nullptr;
    auto cursor = std::make_unique<Cursor>();
    cursor->input = this;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kReaderBufferSize));
    if (!buffer) return nullptr;
    cursor->io = avio_alloc_context(buffer, kReaderBufferSize, 0, cursor.get(), &ReplayInput::Read, nullptr,
                                    &ReplayInput::Seek);
    if (!cursor->io) {
        av_free(buffer);
        return nullptr;
    }
    cursor->io->seekable = seekable_ ? AVIO_SEEKABLE_NORMAL : 0;
    AVIOContext* io = cursor->io;
    cursors_.push_back(std::move(cursor));
    return io;
}

void ReplayInput::FreeReader(AVIOContext* reader) {
    auto found = std::find_if(cursors_.begin(), cursors_.end(),
                              [reader](const std::unique_ptr<Cursor>& c) { return c->io == reader; });
    if (found == cursors_.end()) return;
    av_freep(&(*found)->io->buffer);
    avio_context_free(&(*found)->io);
    cursors_.erase(found);
}

void ReplayInput::ClearEnd() {
    if (!source_) return;
    source_->eof_reached = 0;
    source_->error = 0;
}

int ReplayInput::Read(void* opaque, uint8_t* buffer, int size) {
    auto* cursor = static_cast<Cursor*>(opaque);
    return cursor->input->ReadAt(*cursor, buffer, size);
}

int ReplayInput::ReadAt(Cursor& cursor, uint8_t* buffer, int size) {
    if (seekable_) {
        if (cursor.pos != source_pos_) {
            const int64_t moved = avio_seek(source_, cursor.pos, SEEK_SET);
            if (moved < 0) return static_cast<int>(moved);
            source_pos_ = moved;
        }
        // The end seen once is not final: a file still being written may have grown.
        source_->eof_reached = 0;
    } else if (cursor.pos < static_cast<int64_t>(kept_.size())) {
        const int n = static_cast<int>(std::min<int64_t>(size, static_cast<int64_t>(kept_.size()) - cursor.pos));
        std::memcpy(buffer, kept_.data() + cursor.pos, static_cast<size_t>(n));
        cursor.pos += n;
        return n;
    } else if (cursor.pos != source_pos_) {
        // Bytes no longer kept cannot be read again.
        return AVERROR(ESPIPE);
    } else if (!recording_ && !kept_.empty()) {
        // Every reader is past the kept bytes now.
        kept_.clear();
        kept_.shrink_to_fit();
        kept_released_ = true;
    }
    const bool keep = !seekable_ && recording_ && !kept_released_;
    if (!seekable_) {
        // A source that cannot seek is the kind a hostile sender feeds: bounded per call,
        // and in what it makes us keep.
        if (call_bytes_ >= kCallByteBudget) return AVERROR(EIO);
        if (keep && static_cast<int64_t>(kept_.size()) >= kKeptByteLimit) return AVERROR(ENOMEM);
        size = static_cast<int>(std::min<int64_t>(size, kCallByteBudget - call_bytes_));
    }
    const int n = ReadSource(buffer, size);
    if (n == 0) return AVERROR_EOF;
    if (n < 0) return n;
    call_bytes_ += n;
    if (keep) kept_.insert(kept_.end(), buffer, buffer + n);
    source_pos_ += n;
    cursor.pos += n;
    return n;
}

int ReplayInput::ReadSource(uint8_t* buffer, int size) {
    if (ahead_at_ >= ahead_.size()) return avio_read_partial(source_, buffer, size);
    const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(size), ahead_.size() - ahead_at_));
    std::memcpy(buffer, ahead_.data() + ahead_at_, static_cast<size_t>(n));
    ahead_at_ += static_cast<size_t>(n);
    return n;
}

int ReplayInput::ReadAhead() {
    if (!source_ || seekable_ || ahead_at_ < ahead_.size()) return 0;
    ahead_.resize(kReaderBufferSize);
    ahead_at_ = 0;
    const int n = avio_read_partial(source_, ahead_.data(), kReaderBufferSize);
    ahead_.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (n == 0) return AVERROR_EOF;
    return n < 0 ? n : 0;
}

int64_t ReplayInput::Seek(void* opaque, int64_t offset, int whence) {
    auto* cursor = static_cast<Cursor*>(opaque);
    ReplayInput& input = *cursor->input;
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) {
        if (input.seekable_) return avio_size(input.source_);
        return input.state_kept_size_ ? input.source_pos_ : AVERROR(ENOSYS);
    }
    int64_t target = offset;
    if (whence == SEEK_CUR) target = cursor->pos + offset;
    else if (whence == SEEK_END) {
        if (!input.seekable_) return AVERROR(ESPIPE);
        const int64_t size = avio_size(input.source_);
        if (size < 0) return size;
        target = size + offset;
    } else if (whence != SEEK_SET) {
        return AVERROR(EINVAL);
    }
    if (target < 0) return AVERROR(EINVAL);
    // A source that cannot seek goes back only within the kept bytes, and forward only to
    // where the source is.
    if (!input.seekable_ && target > static_cast<int64_t>(input.kept_.size()) && target != input.source_pos_) {
        return AVERROR(ESPIPE);
    }
    cursor->pos = target;
    return target;
}

}  // namespace qv
