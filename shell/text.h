// Text helpers shared by the setup file, the settings panel and the score
// file: trimming, upper case and the field splitter.
#pragma once
#include <string>
#include <vector>

// Field n (1-based) of the trimmed text split at separator: the text after
// the (n-1)-th separator up to the next one, the last field running to the
// end. On a text that has separators, a field beyond the last one present
// reads as the marker "-+-".
std::string FieldOf(const std::string& text, const std::string& separator, int n);
// Fields 1 to count of the text, each as FieldOf gives it, in one pass.
std::vector<std::string> FieldsOf(const std::string& text, const std::string& separator, int count);
// Trims characters with codes below 33 at both ends.
std::string TrimText(const std::string& text);
std::string UpperText(const std::string& text);
