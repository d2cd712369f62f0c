#pragma once
// Internet message dates (RFC 5322 with its obsolete forms) read into their
// parts, for the mbox separator line and for the dates shown decoded.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::mail {

// A date as the message wrote it: its local time and, where the text says
// it, the offset of that time from UTC.
struct TMessageDate {
    int Year = 0;
    int Month = 0;  // 1..12
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;  // 0..60
    // Minutes east of UTC. Nothing when the text gives no zone, gives
    // "-0000" (local time of an unknown zone) or names a zone that is not
    // known (the military letters other than Z, made-up names).
    std::optional<int> ZoneMinutes;

    bool operator==(const TMessageDate&) const = default;
};

// Reads a date: an optional weekday (its comma optional too), day, month
// name, a year of two, three or four digits (two-digit years below 50 are
// 20xx, others 19xx; three-digit ones count from 1900), hours and minutes
// with optional seconds, and a zone: +hhmm / -hhmm (or +hh:mm), UT, UTC,
// GMT, Z, EST/EDT, CST/CDT, MST/MDT, PST/PDT. Comments in parentheses may
// stand anywhere. Nothing when the text is no such date (or no real day).
std::optional<TMessageDate> ReadMessageDate(std::string_view value);

// The date as seconds since 1970 in UTC; a date without a known zone
// counts as UTC, as the standard advises.
std::time_t UtcTime(const TMessageDate& date);

// ISO 8601: "2003-05-05T10:00:00+01:00", without the offset when the zone
// is not known ("2003-05-05T10:00:00").
std::string IsoDate(const TMessageDate& date);

// English three-letter names: weekday 0 (Sunday) to 6, month 1 to 12.
const char* DayName(unsigned weekday);
const char* MonthName(unsigned month);

// The text with every comment (parentheses, nested, with backslash escapes)
// replaced by one space; quoted strings are passed over whole, so that a
// parenthesis inside one stays.
std::string WithoutComments(std::string_view text);

}  // namespace corvane::mail
