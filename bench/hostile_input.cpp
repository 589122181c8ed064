// Hostile input: what one small frame or file header that claims a huge picture costs a
// host, and what a stream keeps after a large picture once it returns to a small one.
//
// Every case runs in a process of its own (this program started again with the case
// name), so that the peak resident memory it reports belongs to that case alone. The input
// is made beforehand by another such process and read from files, so that the encoder's
// memory counts nowhere.
//
//   qv_hostile [--repeat N] [case ...]     cases: stream stream_bgr24 file_mp4 file_mkv
//                                          file_flv file_ts file_ps file_h264 shrink
//                                          shrink_bgr24, and stream_raised where the
//                                          library has a picture-size limit
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "QVDecoder.h"
#include "base/ffmpeg.h"
#include "media_factory.h"
#include "packet_muxer.h"
#include "sps_edit.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kHugeSide = 16000;                      // claimed by the hostile parameter sets
constexpr int kLargeWidth = 7680;                     // a legal picture: 8K UHD, under 8192 x 4320
constexpr int kLargeHeight = 4320;
constexpr int kSmallPictures = 50;                    // 64x48 pictures after the large one
constexpr int kFurtherPushes = 3;                     // hostile pushes after the first one
constexpr int kFileDecodes = 3;                       // QVDecodeFrame calls after QVOpen
// File cases and the extensions of their files.
const std::map<std::string, std::string> kFileCases = {{"file_mp4", "mp4"}, {"file_mkv", "mkv"}, {"file_flv", "flv"},
                                                       {"file_ts", "ts"},   {"file_ps", "mpg"},  {"file_h264", "264"}};

// ---- Input files: packets as a 4-byte length and the bytes ----

bool WritePackets(const std::string& path, const std::vector<Bytes>& packets) {
    std::ofstream out(path, std::ios::binary);
    for (const Bytes& p : packets) {
        const uint32_t size = static_cast<uint32_t>(p.size());
        out.write(reinterpret_cast<const char*>(&size), sizeof size);
        out.write(reinterpret_cast<const char*>(p.data()), static_cast<std::streamsize>(p.size()));
    }
    return static_cast<bool>(out);
}

std::vector<Bytes> ReadPackets(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<Bytes> packets;
    uint32_t size = 0;
    while (in.read(reinterpret_cast<char*>(&size), sizeof size)) {
        Bytes p(size);
        if (!in.read(reinterpret_cast<char*>(p.data()), size)) break;
        packets.push_back(std::move(p));
    }
    return packets;
}

std::vector<Bytes> DataOf(const qvtest::EncodedVideo& video) {
    std::vector<Bytes> out;
    for (const auto& p : video.packets) out.push_back(p.data);
    return out;
}

// The picture size libavcodec's H.264 parser reads from the parameter sets and first slice
// of an Annex B frame: proof that an edited frame claims what it should.
std::pair<int, int> ClaimedSize(const Bytes& frame) {
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
    if (!parser || !ctx) return {0, 0};
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    Bytes padded(frame);
    padded.resize(frame.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    uint8_t* out = nullptr;
    int out_size = 0;
    av_parser_parse2(parser, ctx, &out, &out_size, padded.data(), static_cast<int>(frame.size()), AV_NOPTS_VALUE,
                     AV_NOPTS_VALUE, 0);
    const std::pair<int, int> size{parser->width, parser->height};
    av_parser_close(parser);
    avcodec_free_context(&ctx);
    return size;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "qv_hostile: %s\n", what.c_str());
    return 1;
}

// Makes every input in dir and checks that the edited ones claim the huge size.
int Prepare(const std::string& dir) {
    av_log_set_level(AV_LOG_ERROR);
    qvtest::VideoOptions o;
    o.width = 176;
    o.height = 144;
    o.frames = 1 + kFurtherPushes;
    o.gop = 25;
    o.bit_rate = 40000;  // a key frame of under 2 KB, x264's own SEI included
    const qvtest::EncodedVideo small = qvtest::EncodeVideo("libx264", o);
    if (small.packets.size() != static_cast<size_t>(o.frames)) return Fail("176x144 encode failed");
    qvtest::EncodedVideo inband = small;
    if (!qvtest::SetCodedSize(inband.packets, kHugeSide, kHugeSide)) return Fail("SPS rewrite failed");
    const std::vector<Bytes> hostile = DataOf(inband);
    if (ClaimedSize(hostile[0]) != std::pair<int, int>{kHugeSide, kHugeSide}) return Fail("rewritten SPS not read back");
    if (ClaimedSize(small.packets[0].data) != std::pair<int, int>{176, 144}) return Fail("original SPS misread");
    // The encoder codes 176x144 without cropping, so coding that size again must give back
    // the very same bytes: every field behind the size is copied, escaped and ended right.
    Bytes same(small.packets[0].data);
    if (!qvtest::SetCodedSize(same, 176, 144) || same != small.packets[0].data) return Fail("SPS rewrite not exact");

    o.global_header = true;  // parameter sets in the extradata, as MP4 keeps them
    qvtest::EncodedVideo file = qvtest::EncodeVideo("libx264", o);
    if (file.packets.empty() || file.extradata.size() < 4 || file.extradata[2] > 1)
        return Fail("no Annex B extradata from the encoder");
    if (!qvtest::SetCodedSize(file.extradata, kHugeSide, kHugeSide)) return Fail("extradata SPS rewrite failed");
    Bytes first(file.extradata);
    first.insert(first.end(), file.packets[0].data.begin(), file.packets[0].data.end());
    if (ClaimedSize(first) != std::pair<int, int>{kHugeSide, kHugeSide}) return Fail("rewritten extradata not read back");

    o = qvtest::VideoOptions{};
    o.width = kLargeWidth;
    o.height = kLargeHeight;
    o.frames = 1;
    o.gop = 1;
    o.bit_rate = 8000000;
    const qvtest::EncodedVideo large = qvtest::EncodeVideo("libx264", o);
    o.width = 64;
    o.height = 48;
    o.frames = kSmallPictures;
    o.gop = 25;
    o.bit_rate = 100000;
    const qvtest::EncodedVideo tiny = qvtest::EncodeVideo("libx264", o);
    if (large.packets.size() != 1 || tiny.packets.size() != static_cast<size_t>(kSmallPictures))
        return Fail("large or 64x48 encode failed");

    if (!WritePackets(dir + "/hostile.pkt", hostile) || !WritePackets(dir + "/good_idr.pkt", {small.packets[0].data}) ||
        !qvtest::WriteEncodedVideo(dir + "/hostile.mp4", "mp4", file, kHugeSide, kHugeSide) ||
        !qvtest::WriteEncodedVideo(dir + "/hostile.mkv", "matroska", file, kHugeSide, kHugeSide) ||
        !qvtest::WriteEncodedVideo(dir + "/hostile.ts", "mpegts", inband, kHugeSide, kHugeSide) ||
        !qvtest::WriteEncodedVideo(dir + "/hostile.264", "h264", inband, kHugeSide, kHugeSide) ||
        !qvtest::WriteEncodedVideo(dir + "/hostile.mpg", "mpeg", inband, kHugeSide, kHugeSide) ||
        !qvtest::WriteEncodedVideo(dir + "/hostile.flv", "flv", file, kHugeSide, kHugeSide) ||
        !WritePackets(dir + "/large.pkt", DataOf(large)) || !WritePackets(dir + "/small.pkt", DataOf(tiny)))
        return Fail("cannot write the inputs to " + dir);
    std::printf("input: 176x144 key frame (SPS, PPS, IDR) of %zu bytes rewritten to claim %dx%d (%zu bytes), "
                "then %d P-frames; MP4 of %zu frames, avcC claiming %dx%d (%lld bytes), the same in Matroska and FLV, "
                "in-band in MPEG-TS, an MPEG program stream and a raw .264 file; one %dx%d key frame of "
                "%zu bytes, then %d 64x48 pictures\n",
                small.packets[0].data.size(), kHugeSide, kHugeSide, hostile[0].size(), kFurtherPushes,
                file.packets.size(), kHugeSide, kHugeSide,
                static_cast<long long>(std::filesystem::file_size(dir + "/hostile.mp4")), kLargeWidth, kLargeHeight,
                large.packets[0].data.size(), kSmallPictures);
    return 0;
}

// ---- One case, in its own process ----

double ResidentMb() {
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double PeakMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The library's first own message (FFmpeg's come with a context): why it refused.
std::string g_message;
void CaptureLog(void* context, int level, const char* text, va_list args) {
    if (context != nullptr || level > AV_LOG_ERROR || !g_message.empty()) return;
    char line[512];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(line, sizeof line, text, copy);
    va_end(copy);
    g_message = line;
    while (!g_message.empty() && (g_message.back() == '\n' || g_message.back() == '\r')) g_message.pop_back();
}

struct Measure {
    double first_ms = 0;    // the hostile call (the large picture for shrink)
    double further_ms = 0;  // the calls after it
    double before_mb = 0;   // resident before the first call
    double after_first_mb = 0;
    double peak_first_mb = 0;  // peak up to the end of the first call
    double end_mb = 0;      // after the further calls
    double closed_mb = 0;   // after QVClose
    double peak_mb = 0;
    std::string results;
};

void Configure(QVDecoder& d, bool bgr24, int64_t max_pixels) {
    d.QVDecoderRegisterLog(CaptureLog, 16);
    if (bgr24) d.QVSetOutputFormat(PIX_FMT_BGR24, 0);
#ifdef QV_HAS_MAX_PIXELS
    if (max_pixels > 0) d.QVDecoderSetMaxPixels(max_pixels);
#else
    (void)max_pixels;
#endif
}

// One push, and the picture taken as a host takes it (which lays it out).
int Push(QVDecoder& d, Bytes& frame) {
    const int result = d.QVDecodeVideoFrame(frame.data(), static_cast<int>(frame.size()), 0);
    if (result == 0 && d.QVGetVideoFrame() == nullptr) return -100;
    return result;
}

Measure StreamCase(const std::string& dir, bool bgr24, int64_t max_pixels) {
    std::vector<Bytes> hostile = ReadPackets(dir + "/hostile.pkt");
    std::vector<Bytes> good = ReadPackets(dir + "/good_idr.pkt");
    Measure m;
    QVDecoder d;
    Configure(d, bgr24, max_pixels);
    const int open = d.QVOpenDecoder(CODEC_ID_H264, _picture_param{176, 144, PIX_FMT_YUV420P});
    m.before_mb = ResidentMb();
    Clock::time_point start = Clock::now();
    const int first = Push(d, hostile[0]);
    m.first_ms = MsSince(start);
    m.after_first_mb = ResidentMb();
    m.peak_first_mb = PeakMb();
    std::string further;
    start = Clock::now();
    for (size_t i = 1; i < hostile.size(); ++i) further += (i > 1 ? "," : "") + std::to_string(Push(d, hostile[i]));
    m.further_ms = MsSince(start);
    // A real key frame afterwards: the object must still decode.
    const int recovered = Push(d, good[0]);
    m.end_mb = ResidentMb();
    d.QVClose();
    m.closed_mb = ResidentMb();
    m.peak_mb = PeakMb();
    m.results = "open " + std::to_string(open) + ", frame " + std::to_string(first) + ", P-frames " + further +
                ", real key frame " + std::to_string(recovered);
    return m;
}

Measure FileCase(const std::string& path) {
    Measure m;
    QVDecoder d;
    Configure(d, false, 0);
    m.before_mb = ResidentMb();
    Clock::time_point start = Clock::now();
    const int open = d.QVOpen(path.c_str());
    m.first_ms = MsSince(start);
    m.after_first_mb = ResidentMb();
    m.peak_first_mb = PeakMb();
    std::string decodes;
    start = Clock::now();
    for (int i = 0; i < kFileDecodes; ++i) decodes += (i > 0 ? "," : "") + std::to_string(d.QVDecodeFrame());
    m.further_ms = MsSince(start);
    m.end_mb = ResidentMb();
    d.QVClose();
    m.closed_mb = ResidentMb();
    m.peak_mb = PeakMb();
    m.results = "QVOpen " + std::to_string(open) + ", QVDecodeFrame " + decodes;
    return m;
}

Measure ShrinkCase(const std::string& dir, bool bgr24) {
    std::vector<Bytes> large = ReadPackets(dir + "/large.pkt");
    std::vector<Bytes> small = ReadPackets(dir + "/small.pkt");
    Measure m;
    QVDecoder d;
    Configure(d, bgr24, 0);
    const int open = d.QVOpenDecoder(CODEC_ID_H264, _picture_param{64, 48, PIX_FMT_YUV420P});
    m.before_mb = ResidentMb();
    Clock::time_point start = Clock::now();
    const int first = Push(d, large[0]);
    m.first_ms = MsSince(start);
    m.after_first_mb = ResidentMb();
    m.peak_first_mb = PeakMb();
    _video_param decoded{};
    d.QVGetParam(decoded);
    int pictures = 0;
    start = Clock::now();
    for (Bytes& p : small) pictures += Push(d, p) == 0 ? 1 : 0;
    m.further_ms = MsSince(start);
    _video_param last{};
    d.QVGetParam(last);
    m.end_mb = ResidentMb();
    d.QVClose();
    m.closed_mb = ResidentMb();
    m.peak_mb = PeakMb();
    m.results = "open " + std::to_string(open) + ", large " + std::to_string(first) + " (" + std::to_string(decoded.width) +
                "x" + std::to_string(decoded.height) + "), " + std::to_string(pictures) + "/" + std::to_string(small.size()) +
                " small pictures (" + std::to_string(last.width) + "x" + std::to_string(last.height) + ")";
    return m;
}

int RunCase(const std::string& name, const std::string& dir) {
    QVDecoderInitialize();
    Measure m;
    if (name == "stream") {
        m = StreamCase(dir, false, 0);
    } else if (name == "stream_bgr24") {
        m = StreamCase(dir, true, 0);
#ifdef QV_HAS_MAX_PIXELS
    } else if (name == "stream_raised") {
        m = StreamCase(dir, false, static_cast<int64_t>(kHugeSide) * kHugeSide);
#endif
    } else if (kFileCases.count(name) != 0) {
        m = FileCase(dir + "/hostile." + kFileCases.at(name));
    } else if (name == "shrink") {
        m = ShrinkCase(dir, false);
    } else if (name == "shrink_bgr24") {
        m = ShrinkCase(dir, true);
    } else {
        return Fail("no case " + name);
    }
    QVDecoderDestroy();
    std::printf("first_ms=%.2f further_ms=%.2f before_mb=%.1f after_first_mb=%.1f peak_first_mb=%.1f end_mb=%.1f "
                "closed_mb=%.1f peak_mb=%.1f\nresults=%s\nmessage=%s\n",
                m.first_ms, m.further_ms, m.before_mb, m.after_first_mb, m.peak_first_mb, m.end_mb, m.closed_mb,
                m.peak_mb,
                m.results.c_str(), g_message.c_str());
    return 0;
}

// ---- The launcher ----

struct Child {
    std::string out;
    int status = 0;
};

// Runs this program again with args and collects its standard output. The launcher itself
// stays small, so that the child starts from little resident memory.
Child Run(const std::vector<std::string>& args) {
    Child child;
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return {"", -1};
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        std::vector<char*> argv;
        static char self[] = "/proc/self/exe";
        argv.push_back(self);
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(self, argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) child.out.append(buffer, static_cast<size_t>(n));
    close(pipe_fds[0]);
    if (pid < 0 || waitpid(pid, &child.status, 0) != pid) child.status = -1;
    return child;
}

std::map<std::string, std::string> Fields(const std::string& out) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("results=", 0) == 0 || line.rfind("message=", 0) == 0) {
            fields[line.substr(0, 7)] = line.substr(8);
            continue;
        }
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            const size_t eq = word.find('=');
            if (eq != std::string::npos) fields[word.substr(0, eq)] = word.substr(eq + 1);
        }
    }
    return fields;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

const char* const kNumbers[] = {"first_ms",       "further_ms", "before_mb", "after_first_mb",
                                "peak_first_mb",  "end_mb",     "closed_mb", "peak_mb"};

int Launch(int repeat, std::vector<std::string> cases) {
    if (cases.empty()) {
        cases = {"stream",  "stream_bgr24", "file_mp4",  "file_mkv", "file_flv",
                 "file_ts", "file_ps",      "file_h264", "shrink",   "shrink_bgr24"};
#ifdef QV_HAS_MAX_PIXELS
        cases.push_back("stream_raised");
#endif
    }
    char dir_template[] = "/tmp/qv_hostile_XXXXXX";
    if (!mkdtemp(dir_template)) return Fail("no temporary directory");
    const std::string dir = dir_template;
    const Child prepared = Run({"--prepare", dir});
    std::fputs(prepared.out.c_str(), stdout);
    if (prepared.status != 0) {
        std::filesystem::remove_all(dir);
        return Fail("making the input failed");
    }
    std::printf("library picture-size limit: %s\n",
#ifdef QV_HAS_MAX_PIXELS
                "present (QVDecoderSetMaxPixels)"
#else
                "absent"
#endif
    );

    struct Row {
        std::string name;
        std::map<std::string, std::vector<double>> numbers;
        std::vector<std::string> results;
        std::string message;
        int failures = 0;
    };
    std::vector<Row> rows;
    for (const std::string& name : cases) {
        Row row{name, {}, {}, {}, 0};
        for (int i = 0; i < repeat; ++i) {
            const Child child = Run({"--case", name, dir});
            if (!WIFEXITED(child.status) || WEXITSTATUS(child.status) != 0) {
                std::printf("%s run %d: child failed (status %d%s)\n", name.c_str(), i + 1, child.status,
                            WIFSIGNALED(child.status) ? ", killed by a signal" : "");
                ++row.failures;
                continue;
            }
            std::map<std::string, std::string> f = Fields(child.out);
            for (const char* key : kNumbers) row.numbers[key].push_back(std::atof(f[key].c_str()));
            row.results.push_back(f["results"]);
            row.message = f["message"];
            std::printf("%s run %d: first call %s ms (peak %s MB), further calls %s ms, peak %s MB; %s\n", name.c_str(),
                        i + 1, f["first_ms"].c_str(), f["peak_first_mb"].c_str(), f["further_ms"].c_str(),
                        f["peak_mb"].c_str(), f["results"].c_str());
            std::fflush(stdout);
        }
        rows.push_back(std::move(row));
    }
    std::filesystem::remove_all(dir);

    std::printf("\nMedians of %d runs (MB are MiB resident):\n\n", repeat);
    std::printf("| case | first call (ms) | further calls (ms) | RSS before | RSS after first call | peak RSS to "
                "there | RSS at end | RSS after close | peak RSS | results |\n|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        if (row.results.empty()) {
            std::printf("| %s | failed | | | | | | | | |\n", row.name.c_str());
            continue;
        }
        auto med = [&](const char* key) { return Median(row.numbers.at(key)); };
        std::string results = row.results[0];
        if (std::count(row.results.begin(), row.results.end(), results) != static_cast<long>(row.results.size()))
            results += " (results differ between runs)";
        if (row.failures > 0) results += " (" + std::to_string(row.failures) + " runs failed)";
        std::printf("| %s | %.1f | %.1f | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %s |\n", row.name.c_str(),
                    med("first_ms"), med("further_ms"), med("before_mb"), med("after_first_mb"), med("peak_first_mb"),
                    med("end_mb"), med("closed_mb"), med("peak_mb"), results.c_str());
    }
    std::printf("\nLibrary messages:\n");
    for (const Row& row : rows) std::printf("  %s: %s\n", row.name.c_str(), row.message.empty() ? "(none)" : row.message.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "--prepare") return Prepare(args[1]);
    if (args.size() == 3 && args[0] == "--case") return RunCase(args[1], args[2]);
    int repeat = 3;
    std::vector<std::string> cases;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--repeat" && i + 1 < args.size()) {
            repeat = std::max(1, std::atoi(args[++i].c_str()));
        } else if (!args[i].empty() && args[i][0] == '-') {
            return Fail("usage: qv_hostile [--repeat N] [case ...]");
        } else {
            cases.push_back(args[i]);
        }
    }
    return Launch(repeat, cases);
}
