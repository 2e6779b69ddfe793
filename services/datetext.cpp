#include "services/datetext.h"

#include "media/system.h"

namespace {
const char* const MonthNames[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                    "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    return text;
}

// Characters first..last (1-based, inclusive) of text; short text gives what
// is there.
std::string Mid(const std::string& text, size_t first, size_t last) {
    if (first > text.size()) return "";
    return text.substr(first - 1, last - first + 1);
}

// The last `width` characters of zeros followed by the decimal digits.
std::string Padded(int64_t v, size_t width) {
    std::string s = std::string(width, '0') + std::to_string(v);
    return s.substr(s.size() - width);
}
}  // namespace

int64_t MakeTimestampAt(const std::string& dateText, const std::string& timeText) {
    std::string date = Upper(dateText);
    int64_t year = AbsInt(TextToInt(Mid(date, 8, 11)));
    std::string mon = Mid(date, 4, 6);
    int64_t month = 0;
    for (int i = 0; i < 12; i++)
        if (mon == MonthNames[i]) month = i + 1;
    int64_t day = AbsInt(TextToInt(Mid(date, 1, 2)));
    int64_t hours = AbsInt(TextToInt(Mid(timeText, 1, 2)));
    int64_t minutes = AbsInt(TextToInt(Mid(timeText, 4, 5)));
    int64_t seconds = AbsInt(TextToInt(Mid(timeText, 7, 8)));
    // Every part has at most four digits, so the sum stays far inside 64 bits.
    return ((((year * 12 + month) * 31 + day) * 24 + hours) * 60 + minutes) * 60 + seconds;
}

std::string (*TimestampDateSource)() = nullptr;
std::string (*TimestampTimeSource)() = nullptr;

int64_t MakeTimestamp(const std::string& dateText) {
    auto today = [] { return TimestampDateSource ? TimestampDateSource() : DateText(); };
    auto now = [] { return TimestampTimeSource ? TimestampTimeSource() : TimeText(); };
    if (!dateText.empty()) return MakeTimestampAt(dateText, now());
    // The date and the time are two readings of the clock. When midnight
    // falls between them the date of the old day would meet the time of the
    // new one, a day too early, and the record would sort below games played
    // a moment before. The date is read again after the time; if it moved,
    // the time is read again too.
    std::string date = today();
    std::string time = now();
    std::string again = today();
    if (again != date) {
        date = again;
        time = now();
    }
    return MakeTimestampAt(date, time);
}

std::string TimestampDateText(int64_t t) {
    int64_t d = t / 86400 - 32;  // days since the first day of month 1, year 0
    int64_t day = d % 31 + 1;
    int64_t month = (d / 31) % 12 + 1;
    int64_t year = d / 372;
    return Padded(day, 2) + "-" + Padded(month, 2) + "-" + Padded(year, 4);
}

std::string TimestampTimeText(int64_t t) {
    return Padded((t / 3600) % 24, 2) + ":" + Padded((t / 60) % 60, 2) + ":" + Padded(t % 60, 2);
}
