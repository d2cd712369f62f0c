#include "maildecode/MessageDate.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace corvane::mail {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// A cursor over a date text.
struct TScanner {
    std::string_view s;
    std::size_t i = 0;

    void SkipSpace() {
        while (i < s.size() && IsSpace(s[i])) ++i;
    }
    bool AtEnd() const { return i >= s.size(); }
    bool Take(char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    // Up to maxDigits digits as a number; the count of digits read in *count.
    bool Number(std::size_t minDigits, std::size_t maxDigits, int& value, std::size_t* count = nullptr) {
        std::size_t n = 0;
        value = 0;
        while (i < s.size() && IsDigit(s[i]) && n < maxDigits) {
            value = value * 10 + (s[i] - '0');
            ++i;
            ++n;
        }
        if (count != nullptr) *count = n;
        if (i < s.size() && IsDigit(s[i])) return false;  // more digits than allowed
        return n >= minDigits;
    }
    std::string_view Word() {
        const std::size_t from = i;
        while (i < s.size() && IsAlpha(s[i])) ++i;
        return s.substr(from, i - from);
    }
};

constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 7> kLongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                      "Thursday", "Friday", "Saturday"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 12> kLongMonthNames = {"January", "February", "March",     "April",
                                                         "May",     "June",     "July",      "August",
                                                         "September", "October", "November", "December"};

bool IsDayName(std::string_view word) {
    for (std::size_t d = 0; d < kDayNames.size(); ++d)
        if (EqualsIgnoreCase(word, kDayNames[d]) || EqualsIgnoreCase(word, kLongDayNames[d])) return true;
    return false;
}

int MonthNumber(std::string_view word) {
    for (std::size_t m = 0; m < kMonthNames.size(); ++m)
        if (EqualsIgnoreCase(word, kMonthNames[m]) || EqualsIgnoreCase(word, kLongMonthNames[m]))
            return static_cast<int>(m) + 1;
    return 0;
}

// The offset in minutes east of UTC of a zone name: the North American names
// of the old standard, and UT, UTC, GMT and Z for UTC itself. Nothing for
// any other name (the other military letters among them).
std::optional<int> NamedZoneMinutes(std::string_view name) {
    struct TZone {
        const char* name;
        int hours;
    };
    static constexpr TZone kZones[] = {{"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
                                       {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
    for (const TZone& z : kZones)
        if (EqualsIgnoreCase(name, z.name)) return z.hours * 60;
    for (const char* utc : {"UT", "UTC", "GMT", "Z"})
        if (EqualsIgnoreCase(name, utc)) return 0;
    return std::nullopt;
}

}  // namespace

std::string WithoutComments(std::string_view text) {
    if (text.find('(') == std::string_view::npos) return std::string(text);  // the usual case
    std::string out;
    out.reserve(text.size());
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (depth > 0) {
            if (c == '\\') ++i;
            else if (c == '(') ++depth;
            else if (c == ')' && --depth == 0) out += ' ';
            continue;
        }
        if (quoted) {
            out += c;
            if (c == '\\' && i + 1 < text.size()) out += text[++i];
            else if (c == '"') quoted = false;
            continue;
        }
        if (c == '(') depth = 1;
        else {
            if (c == '"') quoted = true;
            out += c;
        }
    }
    return out;
}


std::optional<TMessageDate> ReadMessageDate(std::string_view value) {
    const std::string text = WithoutComments(value);
    TScanner in{text};

    in.SkipSpace();
    // An optional day of the week, its comma optional too.
    {
        const std::size_t start = in.i;
        const std::string_view word = in.Word();
        if (!word.empty()) {
            if (!IsDayName(word)) return std::nullopt;
            in.SkipSpace();
            in.Take(',');
        } else {
            in.i = start;
        }
    }

    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    std::size_t yearDigits = 0;
    in.SkipSpace();
    if (!in.Number(1, 2, day)) return std::nullopt;
    in.SkipSpace();
    const int month = MonthNumber(in.Word());
    if (month == 0) return std::nullopt;
    in.SkipSpace();
    if (!in.Number(2, 4, year, &yearDigits)) return std::nullopt;
    if (yearDigits == 2) year += year < 50 ? 2000 : 1900;
    else if (yearDigits == 3) year += 1900;
    if (year < 1000) return std::nullopt;  // "0999": no year of a mail

    in.SkipSpace();
    if (!in.Number(1, 2, hour)) return std::nullopt;
    in.SkipSpace();
    if (!in.Take(':')) return std::nullopt;
    in.SkipSpace();
    if (!in.Number(2, 2, minute)) return std::nullopt;
    in.SkipSpace();
    if (in.Take(':')) {
        in.SkipSpace();
        if (!in.Number(2, 2, second)) return std::nullopt;
    }
    if (hour > 23 || minute > 59 || second > 60) return std::nullopt;

    std::optional<int> zoneMinutes;
    in.SkipSpace();
    if (!in.AtEnd()) {
        const char sign = in.s[in.i];
        if (sign == '+' || sign == '-') {
            ++in.i;
            int hhmm = 0;
            std::size_t digits = 0;
            if (!in.Number(4, 4, hhmm, &digits)) {
                // "+hh:mm", as some mailers write it.
                int hh = 0, mm = 0;
                if (digits != 2 || !in.Take(':') || !in.Number(2, 2, mm)) return std::nullopt;
                hh = hhmm;
                hhmm = hh * 100 + mm;
            }
            if (hhmm % 100 > 59) return std::nullopt;
            const int minutes = (hhmm / 100) * 60 + hhmm % 100;
            // "-0000": a local time whose zone is not known.
            if (sign == '+' || minutes != 0) zoneMinutes = sign == '-' ? -minutes : minutes;
        } else {
            const std::string_view name = in.Word();
            if (name.empty()) return std::nullopt;
            zoneMinutes = NamedZoneMinutes(name);
        }
    }

    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                              std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok()) return std::nullopt;
    return TMessageDate{year, month, day, hour, minute, second, zoneMinutes};
}

std::time_t UtcTime(const TMessageDate& date) {
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year{date.Year}, std::chrono::month{static_cast<unsigned>(date.Month)},
                             std::chrono::day{static_cast<unsigned>(date.Day)}};
    const std::int64_t days = sys_days(ymd).time_since_epoch().count();
    const std::int64_t seconds = days * 86400 + date.Hour * 3600 + date.Minute * 60 + date.Second -
                                 std::int64_t{date.ZoneMinutes.value_or(0)} * 60;
    return static_cast<std::time_t>(seconds);
}

std::string IsoDate(const TMessageDate& date) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", date.Year, date.Month, date.Day, date.Hour,
                  date.Minute, date.Second);
    std::string iso = text;
    if (date.ZoneMinutes) {
        const int z = *date.ZoneMinutes;
        const int a = z < 0 ? -z : z;
        std::snprintf(text, sizeof text, "%c%02d:%02d", z < 0 ? '-' : '+', a / 60, a % 60);
        iso += text;
    }
    return iso;
}

const char* DayName(unsigned weekday) { return weekday < kDayNames.size() ? kDayNames[weekday] : "???"; }

const char* MonthName(unsigned month) {
    return month >= 1 && month <= kMonthNames.size() ? kMonthNames[month - 1] : "???";
}

}  // namespace corvane::mail
