#include "packet_muxer.h"

#include <cstring>
#include <memory>

#include "base/ffmpeg.h"

namespace qvtest {

bool WriteEncodedVideo(const std::string& path, const char* muxer, const EncodedVideo& video, int width, int height) {
    AVFormatContext* fmt = nullptr;
    if (avformat_alloc_output_context2(&fmt, nullptr, muxer, path.c_str()) < 0 || !fmt) return false;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> owned(fmt, [](AVFormatContext* f) {
        if (f->pb) avio_closep(&f->pb);
        avformat_free_context(f);
    });
    AVStream* stream = avformat_new_stream(fmt, nullptr);
    if (!stream) return false;
    stream->time_base = AVRational{1, video.fps};
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_H264;
    par->width = width;
    par->height = height;
    par->format = video.pix_fmt;
    if (!video.extradata.empty()) {
        par->extradata = static_cast<uint8_t*>(av_mallocz(video.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata) return false;
        std::memcpy(par->extradata, video.extradata.data(), video.extradata.size());
        par->extradata_size = static_cast<int>(video.extradata.size());
    }
    if (avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(fmt, nullptr) < 0) return false;
    AVPacket* pkt = av_packet_alloc();
    bool ok = pkt != nullptr;
    for (const auto& p : video.packets) {
        if (!ok || av_new_packet(pkt, static_cast<int>(p.data.size())) < 0) {
            ok = false;
            break;
        }
        std::memcpy(pkt->data, p.data.data(), p.data.size());
        pkt->pts = p.pts;
        pkt->dts = p.dts;
        pkt->duration = 1;
        pkt->flags = p.key ? AV_PKT_FLAG_KEY : 0;
        av_packet_rescale_ts(pkt, AVRational{1, video.fps}, stream->time_base);
        ok = av_interleaved_write_frame(fmt, pkt) >= 0;
    }
    av_packet_free(&pkt);
    return av_write_trailer(fmt) >= 0 && ok;
}

}  // namespace qvtest
