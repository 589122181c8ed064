// The pushed-video path of a decoder object: the stream-mode video open, and each pushed
// frame through the byte stages (H.264 repack, program-stream demux), then field assembly
// (field-coded frames) or the chunk parser (chunked input) or straight to the decoder, and
// the further pictures a push yields (receive loop, end-of-stream flush).
//
// Owns the stages, the chunked input, the field buffers and the pending flush. Touches, by
// reference: the video decoder (which it opens in stream mode), the picture store, the
// output converter, picture delivery, the log and the object's modes.
#pragma once

#include <cstdint>

#include "QVDecoder.h"
#include "base/decoder_modes.h"
#include "base/logger.h"
#include "output/output_converter.h"
#include "output/picture_store.h"
#include "stream/chunked_input.h"
#include "stream/field_assembler.h"
#include "stream/push_stages.h"
#include "video/picture_delivery.h"
#include "video/video_decoder.h"

namespace qv {

class StreamVideoPath {
public:
    StreamVideoPath(const Logger& log, const DecoderModes& modes, VideoDecoder& video, PictureStore& picture,
                    OutputConverter& output, PictureDelivery& delivery)
        : log_(log), modes_(modes), video_(video), picture_(picture), output_(output), delivery_(delivery) {}
    StreamVideoPath(const StreamVideoPath&) = delete;
    StreamVideoPath& operator=(const StreamVideoPath&) = delete;

    // The video half of both stream-mode opens: context, codec, picture record and buffer.
    // The combined video-and-audio open leaves the interlacing flags clear and words its
    // messages its own way.
    OpenOutcome Open(enum CodecID codec, _picture_param requested, bool combined);
    // The last steps of both opens that carry video: output set-up, the demux buffer when
    // demultiplexing, and a fresh stream state.
    OpenOutcome FinishOpen();
    // A picture-size change reopens the decoder: it closes with its parser, the rest stays.
    void CloseDecoder();

    // One pushed frame: 0 with a picture, -1 otherwise.
    int Push(unsigned char* data, int length, int repack);
    // Takes pictures from the decoder (and queued input) until one is handed out: 0 or -1.
    int Receive();
    // End of stream: queued input goes in, then the decoder gives up what it holds.
    int Flush();
    void Release();

    MergedFrame merged() const { return MergedFrame{fields_.merged_frame_buffer(), fields_.merged_frame_size()}; }
    const RepackStage& repack() const { return repack_; }
    const DemuxStage& demux_stage() const { return demux_stage_; }
    const ChunkedInput& chunks() const { return chunks_; }
    const FieldAssembler& fields() const { return fields_; }

private:
    AVCodecContext* NewVideoContext(_picture_param requested);
    OpenOutcome OpenVideoCodec(AVCodecContext* ctx, int av_codec, bool combined);
    void RecordStreamPicture(const AVCodecContext* ctx, int codec);
    int DecodeFieldFrame(const uint8_t* data, int length);
    int DecodeChunkedVideo(const uint8_t* data, int length);
    bool UsesChunkedInput();

    const Logger& log_;
    const DecoderModes& modes_;
    VideoDecoder& video_;
    PictureStore& picture_;
    OutputConverter& output_;
    PictureDelivery& delivery_;

    RepackStage repack_;
    DemuxStage demux_stage_;
    ChunkedInput chunks_;
    FieldAssembler fields_;
    // The host asked for the end of the stream; queued input goes in before the drain.
    bool flush_pending_ = false;
    bool chunked_ = false;  // opened in a mode whose pushed bytes the parser may cut
};

}  // namespace qv
