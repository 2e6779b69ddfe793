// F11 screenshots: the running screen's frame as a PNG in the data folder.
#pragma once
#include <string>

// Removes the characters a file name must not hold: # ' , ` . \ / : | * ? "
std::string FileSafeName(const std::string& text);
