// Timestamps of finished games: one 64-bit number per moment that sorts in
// time order and turns back into the date and time shown in the score table.
//
// A timestamp counts pseudo-seconds in a calendar of twelve 31-day months:
//   ((((year * 12 + month) * 31 + day) * 24 + hours) * 60 + minutes) * 60 + seconds
// with month 1..12, day 1..31. It is cheap to build from the platform's date
// text and a later moment always has the larger value.
#pragma once

#include <cstdint>
#include <string>

// Builds the timestamp of the given date text ("%d %b %Y", e.g. "05 MAR 2010";
// empty means today) at the current time of day. Today's date and the time
// are taken as one consistent reading, also across midnight.
int64_t MakeTimestamp(const std::string& dateText);
// Where MakeTimestamp reads today's date and the time of day: DateText and
// TimeText unless a test puts its own calendar here (null restores them).
extern std::string (*TimestampDateSource)();
extern std::string (*TimestampTimeSource)();
// The same from a date text and an explicit time text ("%H:%M:%S").
int64_t MakeTimestampAt(const std::string& dateText, const std::string& timeText);
// "DD-MM-YYYY": day and month two digits, year four digits (only its last
// four when longer).
std::string TimestampDateText(int64_t t);
// "HH:MM:SS".
std::string TimestampTimeText(int64_t t);
