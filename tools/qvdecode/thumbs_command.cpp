// qvdecode thumbs: the key frame nearest each mark of a recording (every 60 s by default),
// written as PNG or JPEG, and a contact sheet of them all. Only key frames are decoded.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "commands.h"
#include "time_spec.h"
#include "tool_common.h"

namespace qvtool {
namespace {

struct Thumb {
    int64_t time = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

Thumb Capture(QVDecoder& decoder) {
    Thumb thumb;
    thumb.time = decoder.QVGetFrameTimestamp();
    decoder.QVGetOutputResolution(thumb.width, thumb.height);
    const unsigned char* data = decoder.QVGetVideoFrame();
    const int size = decoder.QVGetVideoFrameSize();
    if (data && size == thumb.width * thumb.height * 3) thumb.rgb.assign(data, data + size);
    return thumb;
}

// The thumbnails side by side in rows, as square a grid as the count allows, each cell the
// size of the first.
std::string WriteSheet(const std::string& path, const std::vector<Thumb>& thumbs) {
    const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(thumbs.size()))));
    const int rows = (static_cast<int>(thumbs.size()) + columns - 1) / columns;
    const int cell_w = thumbs.front().width, cell_h = thumbs.front().height;
    const int width = columns * cell_w, height = rows * cell_h;
    std::vector<uint8_t> sheet(static_cast<size_t>(width) * height * 3, 0);
    for (size_t i = 0; i < thumbs.size(); ++i) {
        const Thumb& t = thumbs[i];
        const int x0 = static_cast<int>(i) % columns * cell_w, y0 = static_cast<int>(i) / columns * cell_h;
        const int w = std::min(t.width, cell_w), h = std::min(t.height, cell_h);
        for (int y = 0; y < h; ++y) {
            std::copy_n(t.rgb.data() + static_cast<size_t>(y) * t.width * 3, static_cast<size_t>(w) * 3,
                        sheet.data() + (static_cast<size_t>(y0 + y) * width + x0) * 3);
        }
    }
    const std::string ext = std::filesystem::path(path).extension().string();
    const SnapshotFormat format = ext == ".jpg" || ext == ".jpeg" ? SnapshotFormat::kJpeg : SnapshotFormat::kPng;
    return WriteEncodedImage(path, format, sheet.data(), static_cast<int>(sheet.size()), width, height,
                             AV_PIX_FMT_RGB24);
}

}  // namespace

int RunThumbs(const ThumbsOptions& o) {
    double every = 60.0;
    ParseTimeSpec(o.every, &every);  // checked by the option parser
    if (every <= 0) return Fail(kExitUsage, "--every must be more than 0");
    int width = 0, height = 0;
    if (!o.size.empty() && !ParseSize(o.size, &width, &height)) {
        return Fail(kExitUsage, "--size must be WxH, not '" + o.size + "'");
    }
    if (!CheckReadable(o.file)) return kExitInput;
    std::error_code ec;
    std::filesystem::create_directories(o.dir, ec);
    if (ec) return Fail(kExitOutput, "cannot create '" + o.dir + "': " + ec.message());

    QVDecoder decoder;
    InstallLog(decoder, o.verbose);
    decoder.QVDecoderSetThreads(o.threads);
    decoder.QVDecoderSetFrameSkip(QV_SKIP_NONKEY);
    const int opened = decoder.QVOpen(o.file.c_str());
    if (opened != 0) return Fail(kExitInput, "cannot open '" + o.file + "': " + ResultText(opened));
    _video_param param{};
    decoder.QVGetParam(param);
    if (param.width <= 0 || param.height <= 0) return Fail(kExitInput, "'" + o.file + "' has no video");
    decoder.QVSetOutput(_picture_param{width, height, PIX_FMT_RGB24}, 0);

    const int64_t start = decoder.QVGetStartTime();
    const int64_t duration = decoder.QVGetDuration();
    const int64_t step = static_cast<int64_t>(every * 1e6);
    SnapshotFormat format = SnapshotFormat::kPng;
    ParseSnapshotFormat(o.format, &format);

    std::vector<Thumb> chosen;
    Thumb previous;
    bool have_previous = false;
    auto mark = [&](size_t k) { return start + static_cast<int64_t>(k) * step; };
    auto take = [&](const Thumb& t) -> bool {
        const size_t index = chosen.size();
        char name[64];
        std::snprintf(name, sizeof(name), "thumb_%04zu.%s", index, SnapshotExtension(format));
        const std::string path = (std::filesystem::path(o.dir) / name).string();
        const std::string error = WriteEncodedImage(path, format, t.rgb.data(), static_cast<int>(t.rgb.size()),
                                                    t.width, t.height, AV_PIX_FMT_RGB24);
        if (!error.empty()) {
            Fail(kExitOutput, "cannot write '" + path + "': " + error);
            return false;
        }
        std::printf("%s: mark %.3f s, key frame at %.3f s\n", path.c_str(), (mark(index) - start) / 1e6,
                    (t.time - start) / 1e6);
        chosen.push_back(t);
        return true;
    };

    Progress progress("thumbs");
    int result;
    while ((result = decoder.QVDecodeFrame()) != QV_ERR_END_OF_FILE) {
        if (result != QV_OK) continue;
        const Thumb current = Capture(decoder);
        if (current.rgb.empty()) continue;
        // Each mark the key frames have passed takes the nearer of the two around it.
        while (current.time >= mark(chosen.size())) {
            const bool previous_nearer =
                have_previous && mark(chosen.size()) - previous.time < current.time - mark(chosen.size());
            if (!take(previous_nearer ? previous : current)) return kExitOutput;
        }
        previous = current;
        have_previous = true;
        progress.Update(duration > 0 ? static_cast<double>(current.time - start) / duration : -1.0,
                        static_cast<int64_t>(chosen.size()));
    }
    // Marks after the last key frame, up to the end of the recording, take the last one.
    const int64_t last = duration > 0 ? start + duration : previous.time;
    while (have_previous && mark(chosen.size()) <= last) {
        if (!take(previous)) return kExitOutput;
    }
    progress.Finish();
    if (chosen.empty()) return Fail(kExitFailed, "no key frame could be decoded from '" + o.file + "'");
    if (!o.sheet.empty()) {
        const std::string error = WriteSheet(o.sheet, chosen);
        if (!error.empty()) return Fail(kExitOutput, "cannot write the sheet '" + o.sheet + "': " + error);
        std::printf("contact sheet: %s\n", o.sheet.c_str());
    }
    std::printf("%zu thumbnails of %s in %.2f s.\n", chosen.size(), o.file.c_str(), progress.Seconds());
    return kExitOk;
}

}  // namespace qvtool
