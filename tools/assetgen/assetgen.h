// The asset generator's entry points: each writes its files under the
// "Files" folder given, and appends the paths it wrote.
#pragma once

#include <string>
#include <vector>

namespace assetgen {

bool MakeImages(const std::string& filesDir, const std::string& fontDir, std::vector<std::string>& written);
bool MakeSounds(const std::string& filesDir, std::vector<std::string>& written);
bool MakeMusic(const std::string& filesDir, std::vector<std::string>& written);

// The program's desktop icon, size pixels square: 128 (dist/wormlob2.png),
// 256, or a smaller size scaled down from the 128 one.
bool MakeIconFile(const std::string& outPng, int size);
// Renders every image under filesDir onto one dark sheet, raw and as the
// game draws them (tinted, with their glows), for looking at.
bool MakeContactSheet(const std::string& filesDir, const std::string& outPng);
// Prints the length and peak level of every sound under filesDir.
bool PrintSoundStats(const std::string& filesDir);
// A log-frequency spectrogram of one WAV or OGG file, for looking at sound.
bool MakeSpectrogram(const std::string& soundPath, const std::string& outPng);

}  // namespace assetgen
