// The file path of a decoder object: opening a media file (container, chosen streams, their
// decoders, the picture and audio buffers), decoding it packet by packet with the packet
// times and the end-of-file drain, and raw packet extraction.
//
// Owns the media file, the picture clock and the raw extractor. Touches, by reference: the
// video decoder and the audio decoder (which it opens for the file's streams), the picture
// store, the output converter, picture delivery, the log and the object's modes.
#pragma once

#include <cstdint>

#include "audio/audio_decoder.h"
#include "core/decoder_modes.h"
#include "core/logger.h"
#include "file/media_file.h"
#include "file/picture_clock.h"
#include "file/raw_extractor.h"
#include "output/output_converter.h"
#include "output/picture_store.h"
#include "video/picture_delivery.h"
#include "video/video_decoder.h"

namespace qv {

class FileSession {
public:
    FileSession(const Logger& log, const DecoderModes& modes, VideoDecoder& video, AudioDecoder& audio,
                PictureStore& picture, OutputConverter& output, PictureDelivery& delivery);
    FileSession(const FileSession&) = delete;
    FileSession& operator=(const FileSession&) = delete;

    // Opens the file and the decoders of its streams.
    OpenOutcome Open(const char* name);
    // The next picture (0), piece of audio (1), packet without a result (-10002), end of the
    // file (-10003) or a packet of no chosen stream (-10001).
    int DecodeFrame();
    // The time of the last picture or audio piece, in microseconds.
    int64_t FrameTimestamp() const;
    int GetVideoRawFrame(unsigned char* buffer, int size, int& header_length, int64_t& timestamp_ms, int& key_flag,
                         int& position);

    // A file with video is open: its decoder feeds the pictures.
    bool file_mode() const { return file_.is_open() && file_.video_stream(); }
    // A file with audio is open: pushed audio is decoded as the file's.
    bool audio_file() const { return file_.is_open() && file_.audio_stream(); }
    // Closes the file; the container-format list of raw extraction stays.
    void Release();
    // The object closes for good: raw extraction offers no container after it.
    void ForgetFormats() { raw_.ForgetFormats(); }

    const MediaFile& file() const { return file_; }
    MediaFile& file() { return file_; }
    const RawExtractor& raw() const { return raw_; }

private:
    OpenOutcome OpenVideo();
    OpenOutcome OpenAudio();

    const Logger& log_;
    const DecoderModes& modes_;
    VideoDecoder& video_;
    AudioDecoder& audio_;
    PictureStore& picture_;
    OutputConverter& output_;
    PictureDelivery& delivery_;

    MediaFile file_;
    PictureClock clock_;  // picture times under threads and the drain
    RawExtractor raw_;
};

}  // namespace qv
