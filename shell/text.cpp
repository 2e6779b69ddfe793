#include "shell/text.h"

std::string TrimText(const std::string& text) {
    size_t a = 0, b = text.size();
    while (a < b && (unsigned char)text[a] < 33) a++;
    while (b > a && (unsigned char)text[b - 1] < 33) b--;
    return text.substr(a, b - a);
}

std::string UpperText(const std::string& text) {
    std::string r = text;
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    return r;
}

namespace {
// 1-based position of sep in text at or after start, 0 when absent.
long Instr(const std::string& text, const std::string& sep, long start) {
    if (start < 1) start = 1;
    if ((size_t)(start - 1) > text.size()) return 0;
    size_t p = text.find(sep, (size_t)(start - 1));
    return p == std::string::npos ? 0 : (long)p + 1;
}
}  // namespace

std::string FieldOf(const std::string& raw, const std::string& separator, int n) {
    std::string text = TrimText(raw);
    long start = 1, previous = 0;
    bool missing = false;
    for (int i = 1; i < n; i++) {
        long p = Instr(text, separator, start);
        if (p + 1 <= previous) {
            // No separator left: every later field is missing too, so
            // stop rather than scan the rest of the text again per field.
            missing = true;
            break;
        }
        long next = previous > p + 1 ? previous : p + 1;
        start = next;
        previous = next;
    }
    if (missing) return "-+-";
    long length = Instr(text, separator, start) - start;
    if ((size_t)(start - 1) >= text.size()) return "";
    if (length < 0) return text.substr((size_t)(start - 1));
    return text.substr((size_t)(start - 1), (size_t)length);
}
