// Text that came from outside (request paths, addresses, header fields, a
// replay's output) made safe to put into the log and into stored reasons.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// For one log line: printable ASCII kept, everything else (line breaks, other
// control bytes, bytes over 126) written as \xNN, and a backslash as \\, so
// that no client can start a line of its own or write a byte the log's
// reader would choke on. At most max bytes of s are taken ("..." after).
std::string LogEscape(std::string_view s, size_t max = 300);

// A detail taken from a replay or a client for a stored reason: valid UTF-8
// only (broken sequences dropped), control characters as spaces, runs of
// spaces folded, at most max characters ("..." after), and in double quotes.
std::string QuotedDetail(std::string_view s, size_t max = 200);
