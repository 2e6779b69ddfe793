// assetgen: writes every image and sound of the game into a "Files" folder.
//
//   assetgen <Files dir> [--fonts <dir>]   generate everything
//   assetgen --sheet <Files dir> <out.png>  contact sheet of all images
//   assetgen --stats <Files dir>            length and peak of all sounds
//   assetgen --spectrogram <sound> <out.png> picture of one WAV or OGG
//   assetgen --icon <out.png> [size]        the desktop icon, 128 pixels square
//                                           (dist/wormlob2.png) or another size
//
// The logos are rendered with the committed fonts, read from --fonts or by
// default from the source tree's Files/Common.
#include "assetgen.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#ifndef ASSETGEN_FONT_DIR
#define ASSETGEN_FONT_DIR "Files/Common"
#endif

int main(int argc, char** argv) {
    using namespace assetgen;
    if (argc >= 4 && std::strcmp(argv[1], "--sheet") == 0) {
        if (!MakeContactSheet(argv[2], argv[3])) return 1;
        std::printf("wrote %s\n", argv[3]);
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "--spectrogram") == 0) return MakeSpectrogram(argv[2], argv[3]) ? 0 : 1;
    if (argc >= 3 && std::strcmp(argv[1], "--icon") == 0)
        return MakeIconFile(argv[2], argc >= 4 ? std::atoi(argv[3]) : 128) ? 0 : 1;
    if (argc >= 3 && std::strcmp(argv[1], "--stats") == 0) return PrintSoundStats(argv[2]) ? 0 : 1;
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr,
                     "usage: assetgen <Files dir> [--fonts <dir>]\n"
                     "       assetgen --sheet <Files dir> <out.png>\n"
                     "       assetgen --stats <Files dir>\n"
                     "       assetgen --spectrogram <sound file> <out.png>\n"
                     "       assetgen --icon <out.png> [size]\n");
        return 2;
    }
    std::string files = argv[1];
    std::string fonts = ASSETGEN_FONT_DIR;
    for (int i = 2; i + 1 < argc; i++)
        if (std::strcmp(argv[i], "--fonts") == 0) fonts = argv[i + 1];

    std::error_code ec;
    std::filesystem::create_directories(files + "/Common", ec);
    std::filesystem::create_directories(files + "/418", ec);
    std::vector<std::string> written;
    bool ok = MakeImages(files, fonts, written);
    ok &= MakeSounds(files, written);
    ok &= MakeMusic(files, written);
    std::printf("assetgen: wrote %zu files into %s\n", written.size(), files.c_str());
    return ok ? 0 : 1;
}
