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

std::vector<std::string> FieldsOf(const std::string& raw, const std::string& separator, int count) {
    std::vector<std::string> fields;
    if (count < 1) return fields;
    fields.reserve((size_t)count);
    std::string text = TrimText(raw);
    // Field n starts one past the separator that ends field n - 1. The
    // search that ends a field is also the step to the next one, so the
    // line is scanned once however many fields are taken.
    long start = 1, previous = 0;
    for (int n = 1; n <= count; n++) {
        long p = Instr(text, separator, start);
        long length = p - start;
        if ((size_t)(start - 1) >= text.size()) fields.emplace_back();
        else if (length < 0) fields.push_back(text.substr((size_t)(start - 1)));
        else fields.push_back(text.substr((size_t)(start - 1), (size_t)length));
        if (n == count) break;
        if (p + 1 <= previous) {
            // No separator left: every later field is missing.
            fields.resize((size_t)count, "-+-");
            break;
        }
        // With no separator at all the second field starts at the
        // beginning again, so a line without one reads whole as field 2.
        start = previous = previous > p + 1 ? previous : p + 1;
    }
    return fields;
}

std::string FieldOf(const std::string& raw, const std::string& separator, int n) {
    return FieldsOf(raw, separator, n < 1 ? 1 : n).back();
}
