// The output picture: the host's request (size, pixel format, quality), output_param with
// the output buffer, and the scaler that converts decoded pictures into it. The scaler is
// rebuilt whenever the decoded picture or the request changes.
#pragma once

#include <cstdint>

#include "QVDecoder.h"
#include "base/ffmpeg_deleters.h"
#include "base/logger.h"
#include "base/picture.h"
#include "output/picture_colour.h"
#include "output/yuv_engine.h"

namespace qv {

// What the setters need to know of the decoder: the decoded picture's geometry, whether it
// is field-coded (the conversion source is then the merged frame of twice the height), and
// whether an open decoder knows its geometry yet.
struct DecodedPicture {
    _picture_param picture;
    int field_factor;
    bool has_picture;
    _picture_param source() const {
        return _picture_param{picture.width, picture.height * field_factor, picture.format};
    }
};

class OutputConverter {
public:
    explicit OutputConverter(const Logger& log);
    ~OutputConverter();
    OutputConverter(const OutputConverter&) = delete;
    OutputConverter& operator=(const OutputConverter&) = delete;

    // The output record; pix_fmt holds an FFmpeg pixel format.
    _video_param output_param;

    bool enabled() const { return output_enabled_; }
    bool format_set() const { return output_format_set_; }
    bool size_set() const { return output_size_set_; }
    bool high_quality() const { return high_quality_; }
    const _picture_param& request() const { return output_request_; }
    const _picture_param& converter_source() const { return converter_source_; }
    SwsContext* converter() const { return converter_.get(); }

    // The constructor's request: conversion on, quality left to the setters.
    void Request(_picture_param picture);
    // Threads the scaler may cut a picture into slices with (0: one per core); used by the
    // next SetConverter.
    void set_threads(int threads) { threads_ = threads; }
    // QV_CONVERTER_AUTO (libyuv where it covers the conversion, libswscale elsewhere) or
    // QV_CONVERTER_SWSCALE; -1 for anything else. Takes effect at the next picture.
    int SetEngine(int engine);
    int engine() const { return engine_; }
    // True when the last picture went through libyuv.
    bool converted_by_yuv() const { return converted_by_yuv_; }
    // The colour of contiguous pictures handed to ConvertPicture (a frame brings its own).
    void set_source_colour(PictureColour colour) { source_colour_ = colour; }

    // Builds the scaler from source to destination geometry and the output buffer for it.
    // A scaler or buffer that cannot be made turns conversion off (-1).
    int SetConverter(_picture_param source, _picture_param destination);
    void DestroyConverter();
    // Converts a contiguous picture of the source geometry into the output buffer.
    int ConvertPicture(const uint8_t* source, _picture_param geometry);
    // Converts straight from a decoded frame's planes (no copy in between).
    int ConvertFrame(const AVFrame* frame);
    // The same into memory of the host's, of at least output_param.video_buffer_size bytes:
    // the picture is converted there, not copied there after the conversion.
    int ConvertFrameInto(const AVFrame* frame, uint8_t* buffer);
    // The scaler and buffer are built for the frame's geometry: it can be converted.
    bool CanConvert(const AVFrame* frame) const;

    // After an open: the scaler for the decoded geometry, or the output record mirroring it.
    void AfterOpen(_picture_param decoded);
    // A decoded picture arrives: a size or format the host left open takes the picture's
    // (`field_factor` 2 for field-coded frames). `source` is the geometry decoded so far.
    void FillOpenRequest(_picture_param source, int width, int height, int format, int field_factor);
    // The decoded geometry changed: the output follows what the host left open, and the
    // scaler is rebuilt for the new source.
    void FollowPicture(int width, int height, int format, int field_factor);

    // The host's setters.
    void SetOutput(_picture_param picture, char quality, const DecodedPicture& decoded);
    void SetOutputFormat(int format, char quality, const DecodedPicture& decoded);
    void SetOutputResolution(int width, int height, char quality, const DecodedPicture& decoded);
    // The output size, or the decoded one (merged height for fields) without conversion.
    void GetOutputResolution(int& width, int& height, const DecodedPicture& decoded) const;

    // Releases the scaler and the buffer; conversion off, request kept.
    void Release();

private:
    bool LayOutPictureTarget(_picture_param destination);
    SwsContext* MakeScaler(_picture_param source, _picture_param destination, int flags) const;
    bool WrapTarget(_picture_param destination);
    bool Matches(_picture_param source) const;
    int Scale(const uint8_t* const data[4], const int linesize[4], int height);
    bool ConvertWithYuv(const uint8_t* const data[4], const int linesize[4], PictureColour colour);
    void PrepareEngine();
    void FollowColour(PictureColour colour);
    void PackTarget();
    void RebuildConverter(int width, int height, int format, const DecodedPicture& decoded);
    void RecordOutputRequest(int width, int height, int format, bool format_set, bool size_set, char quality);

    const Logger& log_;
    _picture_param output_request_;  // format holds an FFmpeg pixel format
    bool output_enabled_ = false;
    bool output_format_set_ = false;
    bool output_size_set_ = false;
    bool high_quality_ = false;
    SwsPtr converter_;
    QVPicture out_picture_{};
    AvBufferPtr out_picture_planes_;  // aligned scaler target, when the output rows are not
    int out_picture_size_ = 0;        // bytes the out_picture planes were laid out for
    bool out_picture_allocated_ = false;
    _picture_param converter_source_;  // geometry the scaler was built for
    _picture_param converter_destination_{0, 0, PIX_FMT_NONE};
    int threads_ = 1;
    // With slice threads: the scaler's target as a frame (its planes are out_picture's and
    // belong to us; the frame's buffer only lends them), so that frames can be scaled whole.
    FramePtr target_frame_;
    int engine_ = QV_CONVERTER_AUTO;
    YuvEngine yuv_;
    bool converted_by_yuv_ = false;
    QVPicture direct_{};  // the output buffer's own planes, libyuv's target
    PictureColour source_colour_;
    // The colour the scaler was last told; only YUV to RGB conversions depend on it.
    bool colour_matters_ = false;
    bool colour_applied_ = false;
    PictureColour applied_colour_;
};

}  // namespace qv
