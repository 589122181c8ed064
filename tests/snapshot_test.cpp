// Snapshots: the BMP writer, SavePicture, the snapshot converter and the decoder's saves.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "QVDecoder.h"
#include "bmp_file.h"
#include "field_pictures.h"
#include "decoder_parts.h"

using qvtest::Parts;
#include "media_factory.h"
#include "base/ffmpeg.h"
#include "base/legacy_ids.h"
#include "snapshot/snapshot_converter.h"

namespace {

using qvtest::BmpImage;
using qvtest::FileExists;
using qvtest::ReadBmp;
using qvtest::ReadFileBytes;

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> v(size);
    for (size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}

uint32_t Le32At(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// A planar YUV picture in the contiguous layout the library hands out.
struct YuvPicture {
    int width, height;
    AVPixelFormat format;
    std::vector<uint8_t> bytes;
    QVPicture planes{};

    YuvPicture(int w, int h, AVPixelFormat f) : width(w), height(h), format(f) {
        bytes.resize(av_image_get_buffer_size(f, w, h, 1));
        av_image_fill_arrays(planes.data, planes.linesize, bytes.data(), f, w, h, 1);
    }
    int ChromaRows() const {
        return AV_CEIL_RSHIFT(height, av_pix_fmt_desc_get(format)->log2_chroma_h);
    }
};

// Luma ramps down the picture; each chroma row gets a colour of its own, so a picture
// turned over with the wrong chroma rows shows the wrong colour at top or bottom.
YuvPicture StripedPicture(int w, int h, AVPixelFormat f) {
    YuvPicture p(w, h, f);
    for (int y = 0; y < h; ++y) {
        std::memset(p.planes.data[0] + y * p.planes.linesize[0], 60 + (y * 120) / h, w);
    }
    const int rows = p.planes.data[1] ? p.ChromaRows() : 0;  // grey pictures have no chroma
    for (int r = 0; r < rows; ++r) {
        std::memset(p.planes.data[1] + r * p.planes.linesize[1], r % 2 ? 40 : 220, p.planes.linesize[1]);
        if (p.planes.data[2]) {  // NV12 keeps both chroma components in plane 1
            std::memset(p.planes.data[2] + r * p.planes.linesize[2], r % 2 ? 220 : 40, p.planes.linesize[2]);
        }
    }
    return p;
}

// What libswscale itself makes of the picture, top row first. The scaler writes into
// aligned rows: some of its fast paths leave the right edge unwritten in rows of
// unaligned length.
std::vector<uint8_t> ReferenceBgr(const YuvPicture& p) {
    std::unique_ptr<SwsContext, qv::SwsDeleter> sws(sws_getContext(
        p.width, p.height, p.format, p.width, p.height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr,
        nullptr, nullptr));
    uint8_t* dst[4] = {};
    int dst_linesize[4] = {};
    av_image_alloc(dst, dst_linesize, p.width, p.height, AV_PIX_FMT_BGR24, 32);
    sws_scale(sws.get(), p.planes.data, p.planes.linesize, 0, p.height, dst, dst_linesize);
    std::vector<uint8_t> out(3u * p.width * p.height);
    av_image_copy_to_buffer(out.data(), static_cast<int>(out.size()), dst, dst_linesize,
                            AV_PIX_FMT_BGR24, p.width, p.height, 1);
    av_freep(&dst[0]);
    return out;
}

std::vector<uint8_t> ReverseRows(const std::vector<uint8_t>& bgr, int width, int height) {
    std::vector<uint8_t> out(bgr.size());
    const size_t row = 3u * width;
    for (int y = 0; y < height; ++y) {
        std::memcpy(out.data() + row * y, bgr.data() + row * (height - 1 - y), row);
    }
    return out;
}

class BmpWriterTest : public ::testing::Test {
protected:
    std::string dir = qvtest::ScratchDir("bmp");
    std::string Path(const char* name) const { return dir + "/" + name; }
};

TEST_F(BmpWriterTest, WriteBmpFile_TwoByTwoHasHeaderAndRowsAsGiven) {
    std::vector<uint8_t> pixels = Pattern(12);
    ASSERT_EQ(WriteBmpFile(Path("a.bmp").c_str(), pixels.data(), 2, 2), 0);
    const std::vector<uint8_t> file = ReadFileBytes(Path("a.bmp"));
    ASSERT_EQ(file.size(), 66u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Le32At(file, 2), 66u);
    EXPECT_EQ(Le32At(file, 6), 0u);
    EXPECT_EQ(Le32At(file, 10), 54u);
    EXPECT_EQ(Le32At(file, 14), 40u);
    EXPECT_EQ(Le32At(file, 18), 2u);
    EXPECT_EQ(Le32At(file, 22), 2u);
    EXPECT_EQ(file[26], 1);
    EXPECT_EQ(file[27], 0);
    EXPECT_EQ(file[28], 24);
    EXPECT_EQ(file[29], 0);
    for (size_t i = 30; i < 54; ++i) EXPECT_EQ(file[i], 0) << "header byte " << i;
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), file.begin() + 54));
}

TEST_F(BmpWriterTest, WriteBmpFile_OddWidthRowsAreNotPadded) {
    std::vector<uint8_t> pixels = Pattern(15);
    ASSERT_EQ(WriteBmpFile(Path("b.bmp").c_str(), pixels.data(), 5, 1), 0);
    const std::vector<uint8_t> file = ReadFileBytes(Path("b.bmp"));
    ASSERT_EQ(file.size(), 69u);
    EXPECT_EQ(Le32At(file, 2), 69u);
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), file.begin() + 54));
}

TEST_F(BmpWriterTest, BadArgumentsAreRefusedWithoutAFile) {
    std::vector<uint8_t> pixels = Pattern(48);
    const std::string path = Path("bad.bmp");
    EXPECT_EQ(WriteBmpFile(path.c_str(), pixels.data(), 0, 2), -1);
    EXPECT_EQ(WriteBmpFile(path.c_str(), pixels.data(), 2, -1), -1);
    EXPECT_EQ(WriteBmpFile(path.c_str(), nullptr, 2, 2), -1);
    EXPECT_EQ(WriteBmpFile(nullptr, pixels.data(), 2, 2), -1);
    EXPECT_EQ(SavePicture(path.c_str(), pixels.data(), 0, 2, PIX_FMT_BGR24), -1);
    EXPECT_EQ(SavePicture(path.c_str(), nullptr, 4, 4, PIX_FMT_YUV420P), -1);
    EXPECT_EQ(SavePicture(nullptr, pixels.data(), 4, 4, PIX_FMT_YUV420P), -1);
    // Numbers that name no pixel format, and hardware surfaces that hold no pixels.
    EXPECT_EQ(SavePicture(path.c_str(), pixels.data(), 4, 4, static_cast<PixelFormat>(999)), -1);
    EXPECT_EQ(SavePicture(path.c_str(), pixels.data(), 4, 4, PIX_FMT_NONE), -1);
    EXPECT_EQ(SavePicture(path.c_str(), pixels.data(), 4, 4, PIX_FMT_VAAPI_VLD), -1);
    EXPECT_FALSE(FileExists(path));
    // A file that cannot be created.
    EXPECT_EQ(WriteBmpFile(Path("no/such/dir.bmp").c_str(), pixels.data(), 2, 2), -1);
}

TEST_F(BmpWriterTest, FailedWritesAreReportedAsFailures) {
    // /dev/full opens but every write fails: the save must not claim success.
    std::vector<uint8_t> pixels = Pattern(3 * 64 * 64);
    EXPECT_EQ(WriteBmpFile("/dev/full", pixels.data(), 64, 64), -1);
    EXPECT_EQ(WriteBmpFile("/dev/full", pixels.data(), 1, 1), -1);  // fails only when flushed
    EXPECT_EQ(SavePicture("/dev/full", pixels.data(), 64, 64, PIX_FMT_BGR24), -1);
    EXPECT_EQ(SavePicture("/dev/full", pixels.data(), 32, 32, PIX_FMT_YUV420P), -1);
}

TEST_F(BmpWriterTest, SavePicture_Bgr24IsWrittenUnchanged) {
    std::vector<uint8_t> pixels = Pattern(3 * 7 * 3);
    ASSERT_EQ(SavePicture(Path("c.bmp").c_str(), pixels.data(), 7, 3, PIX_FMT_BGR24), 0);
    BmpImage image;
    ASSERT_TRUE(ReadBmp(Path("c.bmp"), &image));
    EXPECT_EQ(image.width, 7);
    EXPECT_EQ(image.height, 3);
    EXPECT_EQ(image.rows, pixels);
}

TEST_F(BmpWriterTest, SavePicture_ConvertsOtherFormatsKeepingTheRowOrder) {
    // As with BGR24, the first row of the data is stored first (the bottom row).
    for (auto [legacy, format] : {std::pair{PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P},
                                  std::pair{PIX_FMT_YUV422P, AV_PIX_FMT_YUV422P},
                                  std::pair{PIX_FMT_YUV410P, AV_PIX_FMT_YUV410P}}) {
        YuvPicture picture = StripedPicture(20, 9, format);
        const std::string path = Path("d.bmp");
        ASSERT_EQ(SavePicture(path.c_str(), picture.bytes.data(), 20, 9, legacy), 0) << legacy;
        BmpImage image;
        ASSERT_TRUE(ReadBmp(path, &image));
        EXPECT_EQ(image.rows, ReferenceBgr(picture)) << "format " << legacy;
    }
}

// The header tells hosts how many bytes SavePicture reads for each format; each picture
// here is exactly that long (AddressSanitizer sees any read past it), and the PAL8 palette
// is read in the documented byte order.
TEST_F(BmpWriterTest, SavePicture_ReadsTheDocumentedBytes) {
    const int w = 5, h = 3, cw = 3, ch = 2;
    const std::pair<PixelFormat, int> documented[] = {
        {PIX_FMT_BGR24, 3 * w * h},   {PIX_FMT_RGB24, 3 * w * h},          {PIX_FMT_YUV444P, 3 * w * h},
        {PIX_FMT_BGRA, 4 * w * h},    {PIX_FMT_ARGB, 4 * w * h},           {PIX_FMT_RGB565LE, 2 * w * h},
        {PIX_FMT_GRAY16LE, 2 * w * h}, {PIX_FMT_GRAY8, w * h},             {PIX_FMT_BGR8, w * h},
        {PIX_FMT_YUV420P, w * h + 2 * cw * ch}, {PIX_FMT_NV12, w * h + 2 * cw * ch},
        {PIX_FMT_YUVJ422P, w * h + 2 * cw * h}, {PIX_FMT_YUYV422, 4 * cw * h}, {PIX_FMT_UYVY422, 4 * cw * h},
        {PIX_FMT_PAL8, w * h + 1024}};
    for (const auto& [format, bytes] : documented) {
        EXPECT_EQ(av_image_get_buffer_size(static_cast<AVPixelFormat>(qv::PixelFormatFromLegacy(format)), w, h, 1),
                  bytes)
            << format;
        std::vector<uint8_t> picture(static_cast<size_t>(bytes), 0);
        if (format == PIX_FMT_PAL8) {
            const uint8_t entry0[4] = {0x33, 0x22, 0x11, 0xFF};  // B G R A
            std::memcpy(picture.data() + w * h, entry0, 4);
        }
        EXPECT_EQ(SavePicture(Path("f.bmp").c_str(), picture.data(), w, h, format), 0) << format;
        if (format == PIX_FMT_PAL8) {
            BmpImage image;
            ASSERT_TRUE(ReadBmp(Path("f.bmp"), &image));
            EXPECT_EQ(image.rows[0], 0x33);
            EXPECT_EQ(image.rows[1], 0x22);
            EXPECT_EQ(image.rows[2], 0x11);
        }
    }
}

class SnapshotConverterTest : public ::testing::Test {};

TEST_F(SnapshotConverterTest, FlippedPicturesOfOddHeightEqualTheScaledPictureTurnedOver) {
    // Odd heights leave chroma planes with one row more than half (or a quarter) of the
    // picture; the turned-over result must still be the upright picture, byte for byte.
    for (AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV410P,
                                 AV_PIX_FMT_NV12, AV_PIX_FMT_YUV440P}) {
        for (int height : {1, 5, 7, 10, 13}) {
            YuvPicture picture = StripedPicture(18, height, format);
            if (format == AV_PIX_FMT_NV12) {
                // NV12 keeps U and V interleaved in plane 1; give its rows distinct bytes too.
                for (int r = 0; r < picture.ChromaRows(); ++r) {
                    std::memset(picture.planes.data[1] + r * picture.planes.linesize[1],
                                r % 2 ? 30 : 210, picture.planes.linesize[1]);
                }
            }
            SnapshotConverter converter(18, height, format, 18, height, AV_PIX_FMT_BGR24);
            ASSERT_TRUE(converter.Usable());
            uint8_t* out = nullptr;
            ASSERT_EQ(converter.ConvertFlipped(picture.bytes.data(), &out), 3 * 18 * height);
            const std::vector<uint8_t> flipped(out, out + 3 * 18 * height);
            EXPECT_EQ(flipped, ReverseRows(ReferenceBgr(picture), 18, height))
                << av_get_pix_fmt_name(format) << " height " << height;
        }
    }
}

TEST_F(SnapshotConverterTest, KeepsRowOrderWithoutFlipAndCanBeReused) {
    YuvPicture first = StripedPicture(16, 9, AV_PIX_FMT_YUV420P);
    YuvPicture second = StripedPicture(16, 9, AV_PIX_FMT_YUV420P);
    std::reverse(second.bytes.begin(), second.bytes.end());
    SnapshotConverter converter(16, 9, AV_PIX_FMT_YUV420P, 16, 9, AV_PIX_FMT_BGR24);
    uint8_t* out = nullptr;
    ASSERT_EQ(converter.Convert(first.bytes.data(), &out, 0), 16 * 9 * 3);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 16 * 9 * 3), ReferenceBgr(first));
    ASSERT_EQ(converter.Convert(second.bytes.data(), &out, 0), 16 * 9 * 3);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 16 * 9 * 3), ReferenceBgr(second));
}

TEST_F(SnapshotConverterTest, UnconvertibleSourcesMakeNoUsableConverter) {
    for (int format : {-1, 100000, static_cast<int>(AV_PIX_FMT_VAAPI), static_cast<int>(AV_PIX_FMT_CUDA)}) {
        SnapshotConverter converter(16, 16, format, 16, 16, AV_PIX_FMT_BGR24);
        EXPECT_FALSE(converter.Usable()) << format;
        std::vector<uint8_t> data(16 * 16 * 4);
        uint8_t* out = nullptr;
        EXPECT_EQ(converter.ConvertFlipped(data.data(), &out), -1);
        EXPECT_EQ(out, nullptr);
    }
    SnapshotConverter empty(0, 16, AV_PIX_FMT_YUV420P, 0, 16, AV_PIX_FMT_BGR24);
    EXPECT_FALSE(empty.Usable());
    SnapshotConverter good(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_BGR24);
    uint8_t* out = nullptr;
    EXPECT_EQ(good.Convert(nullptr, &out, 1), -1);
}

// Decoder snapshots: pictures decoded from real H.264 packets.
class DecoderSnapshotTest : public ::testing::Test {
protected:
    void SetUp() override { QVDecoderInitialize(); }

    // Opens d for the video and pushes packets until `pictures` pictures came out.
    void DecodePictures(QVDecoder& d, const qvtest::EncodedVideo& video, size_t pictures) {
        ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264,
                                  _picture_param{video.width, video.height, PIX_FMT_YUV420P}),
                  0);
        size_t decoded = 0;
        for (const auto& packet : video.packets) {
            if (decoded == pictures) break;
            std::vector<uint8_t> copy = packet.data;
            if (d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), 0) == 0) ++decoded;
        }
        ASSERT_EQ(decoded, pictures);
    }

    static qvtest::EncodedVideo Video(int width, int height) {
        qvtest::VideoOptions options;
        options.width = width;
        options.height = height;
        options.frames = 4;
        return qvtest::EncodeVideo("libx264", options);
    }

    std::string dir = qvtest::ScratchDir("decoder-snapshot");
    std::string Path(const char* name) const { return dir + "/" + name; }
};

TEST_F(DecoderSnapshotTest, NothingDecodedYetWritesNoFile) {
    QVDecoder d;
    EXPECT_EQ(d.QVSaveCurrentImage(Path("none.bmp").c_str()), 0);
    EXPECT_EQ(d.QVSaveOutputImage(Path("none.bmp").c_str()), 0);
    EXPECT_FALSE(FileExists(Path("none.bmp")));
    EXPECT_EQ(d.QVSaveCurrentImage(nullptr), -1);
    EXPECT_EQ(d.QVSaveOutputImage(nullptr), -1);
}

TEST_F(DecoderSnapshotTest, CurrentImageIsTheDecodedPictureUpright) {
    const qvtest::EncodedVideo video = Video(96, 72);
    const auto reference = qvtest::DecodeReference(video.codec_id, video.packets);
    ASSERT_GE(reference.size(), 3u);
    QVDecoder d;
    DecodePictures(d, video, 3);
    ASSERT_EQ(d.QVSaveCurrentImage(Path("current.bmp").c_str()), 0);
    BmpImage image;
    ASSERT_TRUE(ReadBmp(Path("current.bmp"), &image));
    EXPECT_EQ(image.width, 96);
    EXPECT_EQ(image.height, 72);
    EXPECT_EQ(image.file_size, 54u + 3u * 96 * 72);
    EXPECT_EQ(image.TopDown(),
              qvtest::ScaleReference(reference[2], 96, 72, AV_PIX_FMT_BGR24, SWS_BILINEAR));
    // Without output conversion the output image is the same file.
    ASSERT_EQ(d.QVSaveOutputImage(Path("output.bmp").c_str()), 0);
    EXPECT_EQ(ReadFileBytes(Path("output.bmp")), ReadFileBytes(Path("current.bmp")));
    EXPECT_EQ(d.QVSaveCurrentImage("/dev/full"), -1);
}

TEST_F(DecoderSnapshotTest, Bgr24OutputIsSavedUpright) {
    const qvtest::EncodedVideo video = Video(64, 48);
    QVDecoder d(_picture_param{64, 48, PIX_FMT_BGR24}, 0);
    DecodePictures(d, video, 2);
    ASSERT_EQ(d.QVGetVideoFrameSize(), 64 * 48 * 3);
    const std::vector<uint8_t> output(d.QVGetVideoFrame(), d.QVGetVideoFrame() + 64 * 48 * 3);
    ASSERT_EQ(d.QVSaveOutputImage(Path("bgr.bmp").c_str()), 0);
    BmpImage image;
    ASSERT_TRUE(ReadBmp(Path("bgr.bmp"), &image));
    // The output buffer holds the top row first; the image must show it at the top.
    EXPECT_EQ(image.TopDown(), output);
    EXPECT_EQ(Parts(d).snapshots.snapshot_converter(), nullptr);  // written without converting
    EXPECT_EQ(d.QVSaveOutputImage("/dev/full"), -1);
}

TEST_F(DecoderSnapshotTest, ConverterIsKeptPerGeometryAndRebuiltOnChange) {

    const qvtest::EncodedVideo video = Video(96, 72);
    QVDecoder d;
    DecodePictures(d, video, 1);
    ASSERT_EQ(d.QVSaveCurrentImage(Path("a.bmp").c_str()), 0);
    const SnapshotConverter* first = Parts(d).snapshots.snapshot_converter();
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(d.QVSaveCurrentImage(Path("b.bmp").c_str()), 0);
    EXPECT_EQ(Parts(d).snapshots.snapshot_converter(), first);
    EXPECT_EQ(ReadFileBytes(Path("a.bmp")), ReadFileBytes(Path("b.bmp")));

    // A scaled 4:2:2 output picture has another geometry: the converter follows it.
    d.QVSetOutput(_picture_param{48, 35, PIX_FMT_YUV422P}, 0);
    DecodePictures(d, video, 1);
    ASSERT_EQ(d.QVSaveOutputImage(Path("small.bmp").c_str()), 0);
    ASSERT_NE(Parts(d).snapshots.snapshot_converter(), nullptr);
    EXPECT_EQ(Parts(d).snapshots.snapshot_converter()->src_width(), 48);
    EXPECT_EQ(Parts(d).snapshots.snapshot_converter()->src_height(), 35);
    EXPECT_EQ(Parts(d).snapshots.snapshot_converter()->src_format(), AV_PIX_FMT_YUV422P);
    BmpImage small;
    ASSERT_TRUE(ReadBmp(Path("small.bmp"), &small));
    ASSERT_EQ(small.width, 48);
    ASSERT_EQ(small.height, 35);
    qvtest::Picture output;
    output.width = 48;
    output.height = 35;
    output.format = AV_PIX_FMT_YUV422P;
    output.bytes.assign(d.QVGetVideoFrame(), d.QVGetVideoFrame() + d.QVGetVideoFrameSize());
    YuvPicture as_yuv(48, 35, AV_PIX_FMT_YUV422P);
    as_yuv.bytes = output.bytes;
    av_image_fill_arrays(as_yuv.planes.data, as_yuv.planes.linesize, as_yuv.bytes.data(),
                         AV_PIX_FMT_YUV422P, 48, 35, 1);
    EXPECT_EQ(small.TopDown(), ReferenceBgr(as_yuv));

    d.QVClose();
    EXPECT_EQ(Parts(d).snapshots.snapshot_converter(), nullptr);
}

TEST_F(DecoderSnapshotTest, FieldCodedFramesAreSavedAtTwiceTheFieldHeight) {
    const qvtest::FieldStreams fields = qvtest::EncodeFieldPairs(352, 240, 2);
    const auto reference = qvtest::DecodeReference(fields.first.codec_id, fields.first.packets);
    ASSERT_EQ(reference.size(), 2u);
    QVDecoder d;
    ASSERT_EQ(d.QVDecoderSetEncodeMode(CODE_MODE_FIELD), 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 240, PIX_FMT_YUV420P}), 0);
    for (size_t i = 0; i < 2; ++i) {
        std::vector<uint8_t> frame = qvtest::FieldPair(fields, i);
        ASSERT_EQ(d.QVDecodeVideoFrame(frame.data(), static_cast<int>(frame.size()), 0), 0) << i;
        ASSERT_EQ(d.QVSaveCurrentImage(Path("field.bmp").c_str()), 0) << i;
        BmpImage image;
        ASSERT_TRUE(ReadBmp(Path("field.bmp"), &image));
        ASSERT_EQ(image.width, 352);
        ASSERT_EQ(image.height, 480);
        const qvtest::Picture merged = qvtest::LineDoubled420(reference[i].bytes, 352, 240);
        EXPECT_EQ(image.TopDown(),
                  qvtest::ScaleReference(merged, 352, 480, AV_PIX_FMT_BGR24, SWS_BILINEAR))
            << i;
    }
    // Without output conversion the output image is the merged frame too.
    ASSERT_EQ(d.QVSaveOutputImage(Path("output.bmp").c_str()), 0);
    EXPECT_EQ(ReadFileBytes(Path("output.bmp")), ReadFileBytes(Path("field.bmp")));

    // A scaled output is saved at its own size.
    d.QVSetOutput(_picture_param{176, 240, PIX_FMT_YUV420P}, 0);
    std::vector<uint8_t> frame = qvtest::FieldPair(fields, 0);
    ASSERT_EQ(d.QVDecodeVideoFrame(frame.data(), static_cast<int>(frame.size()), 0), 0);
    ASSERT_EQ(d.QVSaveOutputImage(Path("scaled.bmp").c_str()), 0);
    BmpImage scaled;
    ASSERT_TRUE(ReadBmp(Path("scaled.bmp"), &scaled));
    EXPECT_EQ(scaled.width, 176);
    EXPECT_EQ(scaled.height, 240);
    ASSERT_EQ(d.QVSaveCurrentImage(Path("current.bmp").c_str()), 0);
    BmpImage current;
    ASSERT_TRUE(ReadBmp(Path("current.bmp"), &current));
    EXPECT_EQ(current.height, 480);
}

}  // namespace
