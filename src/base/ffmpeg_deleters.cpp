// Deleters of the FFmpeg objects the decoder owns through std::unique_ptr.
#include "base/ffmpeg_deleters.h"
#include "base/ffmpeg.h"
#include "base/library.h"

namespace qv {

void CodecContextDeleter::operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
void FormatContextDeleter::operator()(AVFormatContext* p) const { avformat_close_input(&p); }
void PacketDeleter::operator()(AVPacket* p) const { av_packet_free(&p); }
void FrameDeleter::operator()(AVFrame* p) const { av_frame_free(&p); }
void SwsDeleter::operator()(SwsContext* p) const { sws_freeContext(p); }
void SwrDeleter::operator()(SwrContext* p) const { swr_free(&p); }
void AvFreeDeleter::operator()(uint8_t* p) const { av_free(p); }
void BufferRefDeleter::operator()(AVBufferRef* p) const { av_buffer_unref(&p); }
void ParserDeleter::operator()(AVCodecParserContext* p) const { av_parser_close(p); }

}  // namespace qv
