#include "services/datetext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "media/system.h"

namespace {
const char* const Months[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string DateOf(int day, int month, int year) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d %s %04d", day, Months[month], year);
    return buf;
}
std::string TimeOf(int h, int m, int s) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, m, s);
    return buf;
}
}  // namespace

TEST(DateText, YearEndAndNewYearAreAdjacentAndShowTheirDates) {
    int64_t last = MakeTimestampAt("31 Dec 2009", "23:59:59");
    int64_t first = MakeTimestampAt("01 Jan 2010", "00:00:00");
    EXPECT_EQ(first, last + 1);
    EXPECT_EQ(TimestampDateText(last), "31-12-2009");
    EXPECT_EQ(TimestampTimeText(last), "23:59:59");
    EXPECT_EQ(TimestampDateText(first), "01-01-2010");
    EXPECT_EQ(TimestampTimeText(first), "00:00:00");
}

TEST(DateText, PadsDayMonthTimeAndYear) {
    int64_t t = MakeTimestampAt("05 Mar 2010", "07:04:09");
    EXPECT_EQ(TimestampDateText(t), "05-03-2010");
    EXPECT_EQ(TimestampTimeText(t), "07:04:09");
    // The platform's "%Y" gives "999" for the year 999; it still reads and
    // shows with four digits.
    EXPECT_EQ(TimestampDateText(MakeTimestampAt("01 Feb 999", "00:00:00")), "01-02-0999");
    // A five-digit year shows only its last four.
    int64_t big = (int64_t)12345 * 32140800 + 6 * 2678400 + 7 * 86400;
    EXPECT_EQ(TimestampDateText(big), "07-06-2345");
    // The month name is matched in any letter case.
    EXPECT_EQ(MakeTimestampAt("05 mar 2010", "07:04:09"), t);
}

TEST(DateText, IsTheExactInverseForEveryValidDate) {
    for (int year : {0, 1, 999, 2009, 2010, 9999}) {
        for (int month = 1; month <= 12; month++) {
            for (int day = 1; day <= 31; day++) {
                int h = (day * 7) % 24, m = (day * 13 + month) % 60, s = (year + day) % 60;
                int64_t t = MakeTimestampAt(DateOf(day, month, year), TimeOf(h, m, s));
                char want[16];
                std::snprintf(want, sizeof want, "%02d-%02d-%04d", day, month, year);
                ASSERT_EQ(TimestampDateText(t), want) << DateOf(day, month, year);
                ASSERT_EQ(TimestampTimeText(t), TimeOf(h, m, s));
            }
        }
    }
}

TEST(DateText, LaterMomentsHaveLargerValues) {
    // Last second of each day against the first second of the next, across
    // month and year ends.
    int64_t prev = MakeTimestampAt(DateOf(1, 1, 2009), "00:00:00");
    for (int year = 2009; year <= 2010; year++) {
        for (int month = 1; month <= 12; month++) {
            for (int day = 1; day <= 31; day++) {
                int64_t start = MakeTimestampAt(DateOf(day, month, year), "00:00:00");
                int64_t end = MakeTimestampAt(DateOf(day, month, year), "23:59:59");
                if (!(year == 2009 && month == 1 && day == 1)) {
                    ASSERT_EQ(start, prev + 1);
                }
                ASSERT_EQ(end - start, 86399);
                prev = end;
            }
        }
    }
}

TEST(DateText, TodayComesFromThePlatformDateAndTime) {
    // Retry when the second changes between the two readings.
    for (int attempt = 0; attempt < 5; attempt++) {
        std::string date = DateText(), time = TimeText();
        int64_t t = MakeTimestamp("");
        if (date != DateText() || time != TimeText()) continue;
        EXPECT_EQ(t, MakeTimestampAt(date, time));
        EXPECT_EQ(TimestampTimeText(t), time);
        // "05 Mar 2010" shows as "05-03-2010".
        std::string shown = TimestampDateText(t);
        EXPECT_EQ(shown.substr(0, 2), date.substr(0, 2));
        EXPECT_EQ(shown.substr(6), date.substr(7));
        return;
    }
    FAIL() << "clock never steady for one second";
}

TEST(DateText, OddInputGivesDefinedResults) {
    // An unknown month name encodes month 0; short or empty texts read as 0.
    int64_t t = MakeTimestampAt("05 Foo 2010", "12:00:00");
    EXPECT_EQ(t, (int64_t)2010 * 32140800 + 5 * 86400 + 12 * 3600);
    EXPECT_EQ(MakeTimestampAt("5", ""), 5 * 86400);
    EXPECT_EQ(MakeTimestampAt("", "xx"), 0);
    // Negative and extreme stamps (hand-edited files) still give text.
    for (int64_t v : {(int64_t)-1, INT64_MIN, INT64_MAX, (int64_t)0}) {
        EXPECT_EQ(TimestampDateText(v).size(), 10u);
        EXPECT_EQ(TimestampTimeText(v).size(), 8u);
    }
}

namespace {
// A platform calendar that moves on by one instant at every reading, so a
// test can place midnight between any two of MakeTimestamp's readings.
struct Instant {
    const char* date;
    const char* time;
};
std::vector<Instant> g_instants;
size_t g_reading = 0;
const Instant& Read() {
    const Instant& i = g_instants[std::min(g_reading, g_instants.size() - 1)];
    g_reading++;
    return i;
}
std::string FakeDate() { return Read().date; }
std::string FakeTime() { return Read().time; }

int64_t StampAcross(std::vector<Instant> instants) {
    g_instants = std::move(instants);
    g_reading = 0;
    TimestampDateSource = FakeDate;
    TimestampTimeSource = FakeTime;
    int64_t t = MakeTimestamp("");
    TimestampDateSource = nullptr;
    TimestampTimeSource = nullptr;
    return t;
}
}  // namespace

TEST(DateText, TodayIsOneConsistentReadingAcrossMidnight) {
    const int64_t before = MakeTimestampAt("31 Dec 2009", "23:59:59");
    const int64_t after = MakeTimestampAt("01 Jan 2010", "00:00:00");
    // Midnight between the date and the time: the old day's date must not
    // meet the new day's time (that would be 31-12-2009 00:00:00).
    EXPECT_EQ(StampAcross({{"31 Dec 2009", "23:59:59"},
                           {"01 Jan 2010", "00:00:00"},
                           {"01 Jan 2010", "00:00:00"},
                           {"01 Jan 2010", "00:00:00"}}),
              after);
    // Midnight after both readings: the old day, its last second.
    EXPECT_EQ(StampAcross({{"31 Dec 2009", "23:59:59"},
                           {"31 Dec 2009", "23:59:59"},
                           {"01 Jan 2010", "00:00:00"},
                           {"01 Jan 2010", "00:00:00"}}),
              after);
    EXPECT_EQ(StampAcross({{"31 Dec 2009", "23:59:59"},
                           {"31 Dec 2009", "23:59:59"},
                           {"31 Dec 2009", "23:59:59"}}),
              before);
    // A given date reads only the time.
    g_instants = {{"01 Jan 2010", "07:04:09"}};
    g_reading = 0;
    TimestampTimeSource = FakeTime;
    EXPECT_EQ(MakeTimestamp("05 Mar 2010"), MakeTimestampAt("05 Mar 2010", "07:04:09"));
    TimestampTimeSource = nullptr;
    EXPECT_EQ(g_reading, 1u);
}
