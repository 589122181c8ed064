// qvdecode thumbs: the key frame nearest each mark of a recording (every 60 s by default),
// written as PNG or JPEG, and a contact sheet of them all with each tile's time written in
// its corner. Only key frames are decoded; with --exact, the picture at each mark instead
// (accurate seeks, decoding from the key frame before it).
#include <algorithm>
#include <climits>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "commands.h"
#include "image_writer.h"
#include "interrupt_on_stop.h"
#include "live_stats.h"
#include "stop_signal.h"
#include "time_label.h"
#include "time_text.h"
#include "tool_common.h"

namespace qvtool {
namespace {

struct Thumb {
    int64_t time = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// The picture as a thumbnail, turned upright as its display rotation says with `autorotate`.
Thumb Capture(QVDecoder& decoder, bool autorotate) {
    Thumb thumb;
    thumb.time = decoder.QVGetPictureTime();
    decoder.QVGetOutputResolution(thumb.width, thumb.height);
    const unsigned char* data = decoder.QVGetVideoFrame();
    const int size = decoder.QVGetVideoFrameSize();
    if (!data || size != thumb.width * thumb.height * 3) return thumb;
    const int rotation = autorotate ? decoder.QVGetPictureRotation() : 0;
    thumb.rgb.resize(static_cast<size_t>(size));
    TurnPacked(data, thumb.width * 3, 3, rotation, &thumb.width, &thumb.height, thumb.rgb.data());
    return thumb;
}

// The thumbnails side by side in rows, as square a grid as the count allows, each cell the
// size of the first and, with `labels`, its picture's time in its bottom-left corner.
std::string WriteSheet(const std::string& path, const std::vector<Thumb>& thumbs, bool labels) {
    const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(thumbs.size()))));
    const int rows = (static_cast<int>(thumbs.size()) + columns - 1) / columns;
    const int cell_w = thumbs.front().width, cell_h = thumbs.front().height;
    const int width = columns * cell_w, height = rows * cell_h;
    std::vector<uint8_t> sheet(static_cast<size_t>(width) * height * 3, 0);
    // Hours on every label once a time reaches them, so that all labels read alike.
    bool hours = false;
    for (const Thumb& t : thumbs) hours = hours || t.time >= 3600000000LL || t.time <= -3600000000LL;
    for (size_t i = 0; i < thumbs.size(); ++i) {
        const Thumb& t = thumbs[i];
        const int x0 = static_cast<int>(i) % columns * cell_w, y0 = static_cast<int>(i) / columns * cell_h;
        const int w = std::min(t.width, cell_w), h = std::min(t.height, cell_h);
        for (int y = 0; y < h; ++y) {
            std::copy_n(t.rgb.data() + static_cast<size_t>(y) * t.width * 3, static_cast<size_t>(w) * 3,
                        sheet.data() + (static_cast<size_t>(y0 + y) * width + x0) * 3);
        }
        if (labels) {
            DrawTimeLabel(sheet.data() + (static_cast<size_t>(y0) * width + x0) * 3, w, h, width * 3,
                          TimeLabelText(t.time, hours));
        }
    }
    const std::string ext = std::filesystem::path(path).extension().string();
    const SnapshotFormat format = ext == ".jpg" || ext == ".jpeg" ? SnapshotFormat::kJpeg : SnapshotFormat::kPng;
    return WriteEncodedImage(path, format, sheet.data(), static_cast<int>(sheet.size()), width, height,
                             AV_PIX_FMT_RGB24);
}

// WxH, Wx or xH: a side left out (0) follows the picture's display shape.
bool ParseThumbSize(const std::string& text, int* width, int* height) {
    if (ParseSize(text, width, height)) return true;
    // A side of any size is the form; the picture limit judges it once the other side is known.
    long long side = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%lldx%c", &side, &extra) == 1 && side > 0 && side <= INT_MAX / 4 &&
        text.back() == 'x') {
        *width = static_cast<int>(side);
        *height = 0;
        return true;
    }
    if (std::sscanf(text.c_str(), "x%lld%c", &side, &extra) == 1 && side > 0 && side <= INT_MAX / 4) {
        *width = 0;
        *height = static_cast<int>(side);
        return true;
    }
    return false;
}

// The thumbnail size for pictures of `display` width to height: a side asked for stays, the
// other follows the display shape; with both, the largest size of that shape inside them, so a
// 4:3 recording is never stretched into 16:9 tiles. Even sides, at least 2.
void FitDisplay(double display, int* width, int* height) {
    // Clamped far above any picture limit, so that a wild side cannot overflow the int.
    auto even = [](double v) { return std::max(2, static_cast<int>(std::lround(std::min(v, 1e9) / 2.0)) * 2); };
    if (*width > 0 && *height > 0) {
        if (*width > *height * display) {
            *width = even(*height * display);
        } else {
            *height = even(*width / display);
        }
    } else if (*width > 0) {
        *height = even(*width / display);
    } else if (*height > 0) {
        *width = even(*height * display);
    }
}

}  // namespace

int RunThumbs(const ThumbsOptions& o) {
    double every = 60.0;
    ParseTimeText(o.every, &every);  // checked by the option parser
    if (every <= 0) return Fail(kExitUsage, "--every must be more than 0");
    int width = 0, height = 0;
    if (!o.size.empty() && !ParseThumbSize(o.size, &width, &height)) {
        return Fail(kExitUsage, "--size must be WxH, Wx or xH, not '" + o.size + "'");
    }
    if (!o.size.empty() && !CheckOutputSize(width, height, 0)) return kExitUsage;
    if (!CheckReadable(o.file)) return kExitInput;
    const std::string shown = PrintableName(o.file);  // an address's password masked
    std::error_code ec;
    std::filesystem::create_directories(o.dir, ec);
    if (ec) return Fail(kExitOutput, "cannot create '" + o.dir + "': " + ec.message());

    InstallStopHandlers();
    QVDecoder decoder;
    InstallLog(decoder, o.verbose);
    decoder.QVDecoderSetThreads(o.threads);
    if (!o.exact) decoder.QVDecoderSetFrameSkip(QV_SKIP_NONKEY);
    InterruptOnStop interrupt_on_stop(decoder);
    decoder.QVDecoderSetFastDecode(o.exact ? 0 : 1);  // a thumbnail cannot show the full picture
    const int opened = decoder.QVOpen(o.file.c_str());
    if (opened != 0 && StopRequested()) return kExitStopped;
    if (opened != 0) return Fail(kExitInput, OpenFailure(shown, opened, decoder));
    _video_param param{};
    decoder.QVGetParam(param);
    if (param.width <= 0 || param.height <= 0) return Fail(kExitInput, "'" + shown + "' has no video");
    // The shape of the pixels and their turn for display, as the first picture states them:
    // the tool never opens the name itself, which a pipe or a FIFO would hand it instead of
    // the library.
    int first = decoder.QVDecodeFrame();
    while (first != QV_OK && first != QV_ERR_END_OF_FILE && first != QV_ERR_TIMEOUT && first != QV_ERR_NETWORK &&
           !StopRequested()) {
        first = decoder.QVDecodeFrame();
    }
    Thumb current;
    bool have_current = first == QV_OK;
    int aspect_num = 1, aspect_den = 1;
    decoder.QVGetPictureAspect(aspect_num, aspect_den);
    const double sample_aspect = aspect_num > 0 && aspect_den > 0 ? static_cast<double>(aspect_num) / aspect_den : 1.0;
    const int turn = have_current ? decoder.QVGetPictureRotation() : 0;
    // A recording turned sideways for display is fitted in its display shape, then asked of
    // the library as decoded: each thumbnail turns upright after it.
    const bool sideways = o.autorotate && (turn == 90 || turn == 270);
    // Without a size, pixels that are not square are shown square: the decoded height stays.
    if (width == 0 && height == 0 && std::fabs(sample_aspect - 1.0) > 1e-3) {
        (sideways ? width : height) = param.height;
    }
    const double display = static_cast<double>(param.width) * sample_aspect / param.height;
    FitDisplay(sideways ? 1.0 / display : display, &width, &height);
    if (sideways) std::swap(width, height);
    if (!CheckOutputSize(width, height, 0)) return kExitUsage;  // one side given: the other is known now
    decoder.QVSetOutput(_picture_param{width, height, PIX_FMT_RGB24}, 0);
    // The picture already decoded is converted with the output just set when it is read.
    if (have_current) current = Capture(decoder, o.autorotate);
    have_current = have_current && !current.rgb.empty();

    const int64_t start = decoder.QVGetStartTime();
    const int64_t duration = decoder.QVGetDuration();
    const int64_t step = static_cast<int64_t>(every * 1e6);
    SnapshotFormat format = SnapshotFormat::kPng;
    ParseSnapshotFormat(o.format, &format);

    std::vector<Thumb> chosen;
    std::string listed;  // with --json: the thumbnails as a JSON array's items
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
        // Marks and pictures on one clock, the pictures' own (seekable to, as decode --start).
        if (JsonOutput()) {
            listed += std::string(listed.empty() ? "" : ", ") + "{\"path\": " + JsonString(path) +
                      ", \"mark\": " + JsonNumber(mark(index) / 1e6) +
                      ", \"time\": " + JsonNumber(t.time / 1e6) + "}";
        } else {
            std::printf("%s: mark %.3f s, %s at %.3f s\n", path.c_str(), mark(index) / 1e6,
                        o.exact ? "picture" : "key frame", t.time / 1e6);
        }
        chosen.push_back(t);
        return true;
    };

    Progress progress("thumbs");
    bool seekable = true;
    // The next picture decoded: the next key frame, or with --exact the next picture.
    auto next_picture = [&](Thumb* out) -> bool {
        for (int result = decoder.QVDecodeFrame(); result != QV_ERR_END_OF_FILE && !StopRequested();
             result = decoder.QVDecodeFrame()) {
            if (result != QV_OK) continue;
            *out = Capture(decoder, o.autorotate);
            if (!out->rgb.empty()) return true;
        }
        return false;
    };
    // --exact: the first picture at or after each mark. A file that can seek goes to each
    // mark (an accurate seek); one that cannot reads on to it. The file's end, not its stated
    // length, ends the marks.
    // A stop (Ctrl-C) ends the marks: the thumbnails so far make the sheet and the summary.
    while (o.exact && !StopRequested()) {
        const int64_t m = mark(chosen.size());
        if (seekable) {
            const int sought = decoder.QVSeek(m, QV_SEEK_ACCURATE);
            if (sought != 0 && sought != QV_ERR_NOT_SEEKABLE) {
                return Fail(kExitFailed, "cannot seek in '" + shown + "': " + ResultText(sought));
            }
            if (sought == 0) have_current = false;
            seekable = sought == 0;
        }
        while (!have_current || current.time < m) {
            have_current = next_picture(&current);
            if (!have_current) break;
        }
        if (!have_current) break;
        if (!take(current)) return kExitOutput;
        progress.Update(duration > 0 ? static_cast<double>(m - start) / duration : -1.0,
                        static_cast<int64_t>(chosen.size()));
    }
    // The key frames around each mark: the last at or before it and the first after it. A
    // file that can seek goes to each mark that lies past the key frames read so far (a key
    // frame seek, then the next key frame); one that cannot reads its key frames in order.
    while (!o.exact && !StopRequested()) {
        const int64_t m = mark(chosen.size());
        if (duration > 0 && m > start + duration) break;
        if (!have_current || current.time <= m) {
            // A seek past the last picture finds nothing: the last key frame read before it
            // is then the last at or before the mark.
            const bool had = have_current || have_previous;
            const Thumb before = have_current ? current : previous;
            if (seekable) {
                const int sought = decoder.QVSeek(m, QV_SEEK_KEY);
                if (sought == 0) have_previous = have_current = false;
                seekable = sought != QV_ERR_NOT_SEEKABLE;
            }
            while (!have_current || current.time <= m) {
                if (have_current) previous = current;
                have_previous = have_previous || have_current;
                have_current = next_picture(&current);
                if (!have_current) break;
            }
            if (!have_current && !have_previous && had && before.time <= m) {
                previous = before;
                have_previous = true;
            }
        }
        // After the last key frame: the last one, up to the end of the recording.
        if (!have_current && (!have_previous || (duration <= 0 && m > previous.time))) break;
        const bool previous_nearer =
            have_previous && (!have_current || m - previous.time < current.time - m);
        if (!take(previous_nearer ? previous : current)) return kExitOutput;
        progress.Update(duration > 0 ? static_cast<double>(m - start) / duration : -1.0,
                        static_cast<int64_t>(chosen.size()));
    }
    progress.Finish();
    const int done = StopRequested() ? kExitStopped : kExitOk;
    if (chosen.empty() && done != kExitStopped) {
        return Fail(kExitFailed, std::string(o.exact ? "no picture" : "no key frame") + " could be decoded from '" +
                                     shown + "'");
    }
    if (!o.sheet.empty() && !chosen.empty()) {
        const std::string error = WriteSheet(o.sheet, chosen, o.labels);
        if (!error.empty()) return Fail(kExitOutput, "cannot write the sheet '" + o.sheet + "': " + error);
        if (!JsonOutput()) std::printf("contact sheet: %s\n", o.sheet.c_str());
    }
    if (JsonOutput()) {
        JsonObject json;
        json.Text("file", shown);
        json.Number("count", static_cast<double>(chosen.size()));
        json.Add("thumbnails", "[" + listed + "]");
        if (!o.sheet.empty() && !chosen.empty()) json.Text("sheet", o.sheet);
        json.Number("seconds", progress.Seconds());
        if (done == kExitStopped) json.Add("stopped", "true");
        json.Print();
        return done;
    }
    std::printf("%zu thumbnail%s of %s in %.2f s%s.\n", chosen.size(), chosen.size() == 1 ? "" : "s", shown.c_str(),
                progress.Seconds(), done == kExitStopped ? "; stopped" : "");
    return done;
}

}  // namespace qvtool
