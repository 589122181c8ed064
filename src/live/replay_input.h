// Byte input opened once, read by one or more readers that may go back to earlier bytes.
// A pipe, a FIFO or a network stream cannot seek, yet the container probe and the
// picture-size look-ahead read ahead and then start again: while recording, the bytes read
// from such a source are kept so that any reader can read them again.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct AVIOContext;
struct AVIOInterruptCB;
struct AVDictionary;

namespace qv {

class ReplayInput {
public:
    ReplayInput();
    ~ReplayInput();
    ReplayInput(const ReplayInput&) = delete;
    ReplayInput& operator=(const ReplayInput&) = delete;

    // Opens the name with libavformat's protocols (pipes and FIFOs with our bounded reader):
    // 0 or an AVERROR. `options` keeps what the protocol did not take. `interrupt` (may be
    // null: a local file) is asked while a read waits.
    int Open(const char* name, const AVIOInterruptCB* interrupt, AVDictionary** options);
    void Close();

    // A new reader from the first byte; the input owns it. Null when out of memory.
    AVIOContext* NewReader();
    void FreeReader(AVIOContext* reader);
    // Bytes read from now on are not kept; those kept go once a reader has passed them.
    void StopRecording() { recording_ = false; }
    bool seekable() const { return seekable_; }
    // While on, a source that cannot seek states the bytes read so far as its size:
    // libavformat's byte seek checks the target against the size.
    void StateKeptSize(bool on) { state_kept_size_ = on; }
    // Resets the end of input so that a file still being written is read further.
    void ClearEnd();
    // A source that cannot seek hands each blocking call at most this many bytes: a hostile
    // source (a multipart part or a reply claiming gigabytes) cannot make one call hold
    // more. Reads past it fail until the next call starts (StartCall).
    static constexpr int64_t kCallByteBudget = 32 << 20;
    // Bytes kept for reading again, at most: a reader that would need more fails instead.
    static constexpr int64_t kKeptByteLimit = 16 << 20;
    void StartCall() { call_bytes_ = 0; }
    // A source that cannot seek: reads what the source has next, waiting for it, and keeps
    // it for the readers. A wait given up (AVERROR_EXIT: the interrupt callback) consumes
    // nothing, so that a demuxer is asked to read only once bytes are there: cut in the
    // middle of its read, many a demuxer loses its place. 0 when bytes are kept (or the
    // source can seek), else the source's error or its end.
    int ReadAhead();

private:
    struct Cursor {
        ReplayInput* input = nullptr;
        AVIOContext* io = nullptr;
        int64_t pos = 0;
    };
    static int Read(void* opaque, uint8_t* buffer, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);
    int ReadAt(Cursor& cursor, uint8_t* buffer, int size);
    // The source's next bytes: those read ahead first.
    int ReadSource(uint8_t* buffer, int size);

    AVIOContext* source_ = nullptr;
    bool pipe_ = false;  // source_ is our bounded pipe reader
    bool seekable_ = false;
    int64_t call_bytes_ = 0;  // bytes of a source that cannot seek read in this call
    bool recording_ = true;
    std::vector<uint8_t> kept_;  // bytes 0 .. kept_.size() of a source that cannot seek
    bool kept_released_ = false;
    bool state_kept_size_ = false;
    int64_t source_pos_ = 0;     // where the next byte of the source comes from
    std::vector<uint8_t> ahead_;  // read from the source by ReadAhead, not yet by a reader
    size_t ahead_at_ = 0;
    std::vector<std::unique_ptr<Cursor>> cursors_;
};

}  // namespace qv
