// Cuts a file read from disk into the units stream mode expects: frames of an elementary
// stream (libavcodec's parser), packs of an MPEG program stream, fixed-size chunks, or the
// video packets of a container (codecs whose frames no parser cuts out of a byte stream).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct AVCodecParserContext;
struct AVCodecContext;
struct AVFormatContext;
struct AVPacket;

namespace qvtool {

class FrameCutter {
public:
    enum class Mode { kParser, kProgramStreamPacks, kFixedChunks, kContainerPackets };

    // kParser needs an FFmpeg codec id with a parser; kFixedChunks a chunk size;
    // kContainerPackets hands out the packets of the file's first stream of that codec.
    FrameCutter(Mode mode, int ffmpeg_codec_id, int chunk_size);
    ~FrameCutter();
    FrameCutter(const FrameCutter&) = delete;
    FrameCutter& operator=(const FrameCutter&) = delete;

    // Opens the file: kExitOk, or (with a message printed) kExitInput when it cannot be
    // read (or, for kContainerPackets, holds no stream of the codec) and kExitUsage when no
    // parser exists for the codec.
    int Open(const std::string& path);
    // Next unit into *unit; false at the end of the file.
    bool Next(std::vector<uint8_t>* unit);
    // Bytes of the file consumed so far, and the file's size.
    int64_t consumed() const { return consumed_; }
    int64_t size() const { return size_; }
    bool read_error() const { return read_error_; }
    // Sample rate and channels the audio parser read from the stream's headers so far; 0
    // when unknown (no parser, or a codec whose frames carry no such header).
    int stream_sample_rate() const;
    int stream_channels() const;

private:
    bool Fill();  // reads more of the file into buffer_; false at end of file
    int OpenContainer(const std::string& path);
    bool NextPacket(std::vector<uint8_t>* unit);

    Mode mode_;
    int codec_id_;
    int chunk_size_;
    std::FILE* file_ = nullptr;
    std::vector<uint8_t> buffer_;  // bytes read, then zero padding for the parser
    size_t start_ = 0;             // first byte of buffer_ not yet handed out
    size_t end_ = 0;               // end of the bytes read; the padding follows
    bool eof_ = false;
    bool flushed_ = false;
    bool read_error_ = false;
    int64_t consumed_ = 0;
    int64_t size_ = 0;
    AVCodecParserContext* parser_ = nullptr;
    AVCodecContext* parser_ctx_ = nullptr;
    AVFormatContext* container_ = nullptr;
    AVPacket* packet_ = nullptr;
    int stream_index_ = -1;
};

}  // namespace qvtool
