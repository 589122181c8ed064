// Delivery of decoded pictures, shared by the stream and the file path: one decoding step
// (a pushed frame, a file packet, the end-of-file drain), laying out the picture the decoder
// gave (picture buffer, output conversion, geometry changes), its flags, and the result code
// of the step.
//
// Owns the per-picture state (key frame seen, a reference missing, the flags and time of the
// last picture). Touches, by reference: the video decoder, the picture store, the output
// converter, the log and the object's modes; it never opens or closes any of them.
#pragma once

#include <cstdint>

#include "base/decoder_modes.h"
#include "base/logger.h"
#include "output/output_converter.h"
#include "output/picture_store.h"
#include "video/video_decoder.h"

namespace qv {

// The merged frame of a field-coded stream, as the stream path holds it.
struct MergedFrame {
    uint8_t* buffer = nullptr;
    int size = 0;
};

class PictureDelivery {
public:
    PictureDelivery(const Logger& log, const DecoderModes& modes, VideoDecoder& video, PictureStore& picture,
                    OutputConverter& output)
        : log_(log), modes_(modes), video_(video), picture_(picture), output_(output) {}
    PictureDelivery(const PictureDelivery&) = delete;
    PictureDelivery& operator=(const PictureDelivery&) = delete;

    // The decoder is a file's (set by the file path while a file with video is open): its
    // pictures are whole, whatever the code mode says, and its messages name QVDecodeFrame.
    void set_file_source(bool file) { file_source_ = file; }
    bool file_source() const { return file_source_; }
    // Field-coded pushed frames: two fields merged into one picture.
    bool field_coded() const { return modes_.code_mode == CODE_MODE_FIELD && !file_source_; }
    // The decoded geometry as the output setters see it (`opened`: the object is open).
    DecodedPicture Decoded(bool opened) const;

    // Makes the picture buffer for the recorded geometry at an open; a failure closes the
    // object with the message of its kind.
    OpenOutcome AllocatePictureBuffer(const char* wrong_size_message, const char* no_memory_message);

    // One decoding step; each lays out the picture it gets and returns 0, or -10005 with its
    // log line. A pushed frame (null or empty input is no frame at all):
    int DecodeFrame(const uint8_t* data, int length);
    // A demuxed file packet, sent as it is.
    int DecodePacket(const AVPacket* packet);
    // The end of a file: the decoder gives up one picture it still holds.
    int Drain();

    // Lays out the picture in the video decoder's frame (picture buffer, conversion),
    // following a change of geometry first. False when it could not be laid out.
    bool LayOutPicture();
    // The result of a decode step after LayOutPicture: 0, or -10005 with its log line.
    int DeliverPicture(bool got_picture, int decode_status);
    // A frame that gave no picture: a level-15 message when it states a picture over the limit.
    void ExplainMissingPicture(const uint8_t* data, int length, int status);

    // The output settings or the converter changed: the picture last laid out is converted
    // anew, with the new settings, when something next reads it (read before or not).
    void OutputChanged();

    // What the host reads: the output picture when converting, else the merged frame of a
    // field-coded stream, else the decoded picture (laid out now if it was only held).
    unsigned char* VideoFrame(const MergedFrame& merged);
    int VideoFrameSize(const MergedFrame& merged) const;
    // The same bytes written straight into the host's `buffer`: converted there (or the
    // held picture laid out there) when nothing has read the picture yet, else copied. The
    // bytes written; QV_ERR_BUFFER_TOO_SMALL (nothing written) when `size` is short of
    // VideoFrameSize, -1 when there is no picture to hand out.
    int VideoFrameInto(const MergedFrame& merged, uint8_t* buffer, int size);
    // The picture's own planes, without a copy, while output conversion is off: 0, or -1
    // (all null) when conversion is on or there is no picture.
    int VideoPlanes(const MergedFrame& merged, uint8_t* data[4], int linesize[4]) const;
    // The last picture's colour matrix and range as the public QV_COLOUR_* code; -1 before one.
    int PictureColourCode() const;
    // What VideoFrame hands out is there: a buffer of positive size.
    bool PictureReady(const MergedFrame& merged) const;

    // Gating by key frames (output mode 1) and the damaged flag.
    bool key_frame_seen() const { return key_frame_seen_; }
    void ForgetKeyFrame() { key_frame_seen_ = false; }
    // A frame was lost or refused: later pictures may be smeared until the next key frame.
    void MarkReferenceMissing() { reference_missing_ = true; }
    // A new stream starts: no key frame yet, nothing missing.
    void StartStream() {
        key_frame_seen_ = false;
        reference_missing_ = false;
    }
    int picture_flags() const { return picture_flags_; }
    // Pictures whose time is before `micros` (the picture clock) are passed over in the next
    // steps (a seek on its way to the picture asked for): decoded and flagged, but neither
    // copied nor converted. INT64_MIN passes none.
    void set_passing_before(int64_t micros) { passing_before_ = micros; }
    static constexpr int64_t kPassAll = INT64_MAX;  // every picture, timed or not
    // The decoder itself found nothing missing in the last picture (whatever was lost before).
    bool decoder_whole() const { return decoder_whole_; }
    // A picture taken out by a drain that did not end the stream (key-frame-only decoding
    // drains after every key frame) is not marked drained.
    void KeepStreamGoing() { picture_flags_ &= ~QV_PICTURE_DRAINED; }
    // The best-effort presentation time of the picture last laid out, in the decoder's
    // packet time base (AV_NOPTS_VALUE when it has none).
    int64_t picture_time() const { return picture_time_; }
    // The coding type of the picture last laid out (QV_PICTURE_TYPE_*, 0 for any other).
    int picture_type() const { return picture_type_; }
    // Its sample aspect ratio; false (1:1) when the stream does not say.
    bool PictureAspect(int& num, int& den) const;
    // The object closes: flags cleared, nothing missing.
    void Release();

private:
    int Decode(const uint8_t* data, int length, const AVPacket* packet);
    void LogOverLimit() const;

    const Logger& log_;
    const DecoderModes& modes_;
    VideoDecoder& video_;
    PictureStore& picture_;
    OutputConverter& output_;

    bool file_source_ = false;
    bool key_frame_seen_ = false;
    bool reference_missing_ = false;
    int picture_flags_ = 0;
    bool decoder_whole_ = true;
    int64_t passing_before_ = INT64_MIN;
    int picture_type_ = 0;
    int aspect_num_ = 0;  // sample aspect ratio (0/1 unknown)
    int aspect_den_ = 1;
    // The held picture is to be converted when something reads it: conversion waits for the
    // reader so that it can write straight into the host's memory (VideoFrameInto).
    bool output_pending_ = false;
    int64_t picture_time_ = 0;  // best-effort time of the picture last laid out (decoder time base)
};

}  // namespace qv
