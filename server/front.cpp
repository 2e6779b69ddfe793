#include "server/front.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

std::string AddressBucket(const std::string& address) {
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return address;
    in6_addr v6{};
    std::string text = address;
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) return address;
    const unsigned char* b = v6.s6_addr;
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(mapped, mapped + 12, b)) {
        char buf[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, b + 12, buf, sizeof buf);
        return buf;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%x:%x:%x:%x::/64", b[0] << 8 | b[1], b[2] << 8 | b[3], b[4] << 8 | b[5],
                  b[6] << 8 | b[7]);
    return buf;
}

std::string ForwardedClient(const std::vector<std::string>& lines) {
    if (lines.empty()) return "";
    const std::string& line = lines.back();
    size_t comma = line.rfind(',');
    std::string last = line.substr(comma == std::string::npos ? 0 : comma + 1);
    size_t a = last.find_first_not_of(" \t"), b = last.find_last_not_of(" \t");
    if (a == std::string::npos) return "";
    last = last.substr(a, b - a + 1);
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, last.c_str(), &v4) == 1 || inet_pton(AF_INET6, last.c_str(), &v6) == 1) return last;
    return "";
}

size_t RequestGuard::Take(const char* p, size_t n) {
    if (refusal) return 0;
    for (size_t i = 0; i < n; i++) {
        if (!inHead) {
            // The rest is body: only its length matters here.
            size_t room = maxBody - bodyBytes;
            size_t body = n - i;
            if (body > room) {
                bodyBytes = maxBody;
                refusal = 413;
                return i + room;
            }
            bodyBytes += body;
            return n;
        }
        char c = p[i];
        if (c == '\n') {
            bool blank = lineBytes == 0 || (lineBytes == 1 && lastWasCr);
            if (blank && lines > 0) {
                inHead = false;
            } else if (!blank) {
                lines++;
                // The request line, then at most maxHeaders header lines.
                if (lines > maxHeaders + 1) {
                    refusal = 431;
                    return i;
                }
            }
            lineBytes = 0;
            lastWasCr = false;
            continue;
        }
        lineBytes++;
        lastWasCr = c == '\r';
        // The line's own end (CR LF) is not part of its length.
        if (lineBytes > maxLine + (lastWasCr ? 1 : 0)) {
            // A request line that long is a URI too long; a header line, a
            // header too large.
            refusal = lines == 0 ? 414 : 431;
            return i;
        }
    }
    return n;
}
