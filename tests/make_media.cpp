// Writes a recording made by the media factory, for suites outside C++ (the Python archive
// test): make_media PATH [frames] [gop] [seed] [data|subtitle]. The muxer follows the file's
// extension; the last argument adds a track the library does not decode.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "file_factory.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_media PATH [frames] [gop] [seed] [data|subtitle]\n");
        return 2;
    }
    const std::string path = argv[1];
    const size_t dot = path.rfind('.');
    const std::string extension = dot == std::string::npos ? "mp4" : path.substr(dot + 1);
    qvtest::MediaFile media;
    media.muxer = extension == "mkv" ? "matroska" : extension == "ts" ? "mpegts" : extension;
    media.frames = argc > 2 ? std::atoi(argv[2]) : 100;
    qvtest::VideoTrack track;
    track.gop = argc > 3 ? std::atoi(argv[3]) : 50;
    track.seed = argc > 4 ? std::atoi(argv[4]) : 0;
    media.video.push_back(track);
    const std::string extra = argc > 5 ? argv[5] : "";
    media.extra = extra == "data" ? qvtest::ExtraStream::kData
                  : extra == "subtitle" ? qvtest::ExtraStream::kSubtitle
                                        : qvtest::ExtraStream::kNone;
    const std::string error = qvtest::WriteMediaFile(path, media);
    if (!error.empty()) std::fprintf(stderr, "make_media: %s: %s\n", path.c_str(), error.c_str());
    return error.empty() ? 0 : 1;
}
