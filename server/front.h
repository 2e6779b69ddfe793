// The rules the HTTP front end applies before a request reaches the API:
// which bucket an address counts in, which client a trusted proxy names, and
// how much of a request's head and body is taken. Pure functions, so that
// the tests can try them on every case.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The key an address's allowances and connections count under: an IPv4
// address itself (an IPv4 address written as IPv6, ::ffff:a.b.c.d, too),
// and for IPv6 its /64, since one subscriber commonly holds a whole /64 and
// can pick any address in it. Text that is not an address is its own key.
std::string AddressBucket(const std::string& address);

// The client a trusted proxy names in X-Forwarded-For: the last address over
// all of the header's lines (the one the proxy appended; every earlier one
// the client may have written itself). "" when that one is not an address.
std::string ForwardedClient(const std::vector<std::string>& lines);

// Counts the bytes of one request as the HTTP library reads them: the head
// (request line and header lines, up to the blank line) and then the body.
// Take says how many of the next bytes may go on to the library; once it
// refuses, the request is answered with status() and the connection closed,
// and nothing more of it is read (so a huge line or body is never held).
struct RequestGuard {
    size_t maxLine = 8192;       // bytes of one line of the head
    size_t maxHeaders = 100;     // header lines
    size_t maxBody = 1 << 20;    // bytes of body as sent (chunk framing included)

    bool inHead = true;
    size_t lineBytes = 0, lines = 0, bodyBytes = 0;
    bool lastWasCr = false;
    int refusal = 0;  // 0 while the request is within bounds, else the status to answer

    // Of the n bytes at p, how many may be handed on (all of them unless a
    // limit is reached there).
    size_t Take(const char* p, size_t n);
};
