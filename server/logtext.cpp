#include "server/logtext.h"

#include <cstdint>

std::string LogEscape(std::string_view s, size_t max) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    size_t n = s.size() > max ? max : s.size();
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)s[i];
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 32 && c < 127) {
            out += (char)c;
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    if (s.size() > max) out += "...";
    return out;
}

namespace {
// Length of the valid UTF-8 sequence at s[i] (1 to 4), or 0 when it is not
// one: overlong forms, surrogates and values past U+10FFFF are refused.
size_t Utf8Length(std::string_view s, size_t i, uint32_t& cp) {
    unsigned char c = (unsigned char)s[i];
    size_t len;
    uint32_t min;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if ((c & 0xe0) == 0xc0) {
        len = 2, cp = c & 0x1f, min = 0x80;
    } else if ((c & 0xf0) == 0xe0) {
        len = 3, cp = c & 0x0f, min = 0x800;
    } else if ((c & 0xf8) == 0xf0) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; k++) {
        unsigned char d = (unsigned char)s[i + k];
        if ((d & 0xc0) != 0x80) return 0;
        cp = (cp << 6) | (d & 0x3f);
    }
    if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
    return len;
}
}  // namespace

std::string QuotedDetail(std::string_view s, size_t max) {
    std::string body;
    size_t chars = 0;
    bool cut = false;
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        size_t len = Utf8Length(s, i, cp);
        if (len == 0) {
            i++;  // a broken byte is dropped
            continue;
        }
        bool control = cp < 32 || cp == 127 || (cp >= 0x80 && cp < 0xa0) || cp == 0x2028 || cp == 0x2029;
        if (control || cp == ' ') {
            if (!body.empty() && body.back() != ' ') {
                if (chars == max) {
                    cut = true;
                    break;
                }
                body += ' ';
                chars++;
            }
        } else {
            if (chars == max) {
                cut = true;
                break;
            }
            body.append(s.substr(i, len));
            chars++;
        }
        i += len;
    }
    while (!body.empty() && body.back() == ' ') body.pop_back();
    return "\"" + body + (cut ? "...\"" : "\"");
}
