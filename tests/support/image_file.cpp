#include "image_file.h"

#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "bmp_file.h"

namespace qvtest {

bool ReadImage(const std::string& path, Image* image) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    AVCodecID id = AV_CODEC_ID_NONE;
    if (bytes.size() > 8 && std::memcmp(bytes.data(), "\x89PNG", 4) == 0) id = AV_CODEC_ID_PNG;
    if (bytes.size() > 4 && bytes[0] == 0xFF && bytes[1] == 0xD8) id = AV_CODEC_ID_MJPEG;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return false;

    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool ok = ctx && packet && frame && avcodec_open2(ctx, codec, nullptr) == 0 &&
              av_new_packet(packet, static_cast<int>(bytes.size())) == 0;
    if (ok) {
        std::memcpy(packet->data, bytes.data(), bytes.size());
        ok = avcodec_send_packet(ctx, packet) == 0 && avcodec_receive_frame(ctx, frame) == 0;
    }
    if (ok) {
        image->codec = codec->name;
        image->width = frame->width;
        image->height = frame->height;
        SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                         frame->width, frame->height, AV_PIX_FMT_RGB24, SWS_BILINEAR,
                                         nullptr, nullptr, nullptr);
        uint8_t* rgb[4];
        int lines[4];
        ok = sws && av_image_alloc(rgb, lines, frame->width, frame->height, AV_PIX_FMT_RGB24, 64) >= 0;
        if (ok) {
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, rgb, lines);
            image->rgb.resize(static_cast<size_t>(frame->width) * frame->height * 3);
            av_image_copy_to_buffer(image->rgb.data(), static_cast<int>(image->rgb.size()), rgb, lines,
                                    AV_PIX_FMT_RGB24, frame->width, frame->height, 1);
            av_freep(&rgb[0]);
        }
        sws_freeContext(sws);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return ok;
}

}  // namespace qvtest
