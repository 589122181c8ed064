// Owners of FFmpeg objects: std::unique_ptr with a deleter that calls the matching free.
#pragma once

#include <cstdint>
#include <memory>

struct AVCodecContext;
struct AVFormatContext;
struct AVPacket;
struct AVStream;
struct AVInputFormat;
struct AVFrame;
struct SwsContext;
struct SwrContext;
struct AVBufferRef;
struct AVCodecParserContext;

namespace qv {

struct CodecContextDeleter { void operator()(AVCodecContext* p) const; };
struct FormatContextDeleter { void operator()(AVFormatContext* p) const; };
struct PacketDeleter { void operator()(AVPacket* p) const; };
struct FrameDeleter { void operator()(AVFrame* p) const; };
struct SwsDeleter { void operator()(SwsContext* p) const; };
struct SwrDeleter { void operator()(SwrContext* p) const; };
struct AvFreeDeleter { void operator()(uint8_t* p) const; };
struct BufferRefDeleter { void operator()(AVBufferRef* p) const; };
struct ParserDeleter { void operator()(AVCodecParserContext* p) const; };

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using AvBufferPtr = std::unique_ptr<uint8_t, AvFreeDeleter>;
using BufferRefPtr = std::unique_ptr<AVBufferRef, BufferRefDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserDeleter>;

}  // namespace qv
