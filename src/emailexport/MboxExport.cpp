#include "emailexport/MboxExport.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace corvane::mail {

namespace {

// The mbox is written in pieces of this size.
constexpr std::size_t kWriteChunk = std::size_t{1} << 20;

// The temporary file is the chosen name followed by this suffix (and a number
// when a file of that name is left from an earlier run).
const char* const kPartSuffix = ".part";
constexpr int kPartAttempts = 100;

const char* const kNoSender = "MAILER-DAEMON";

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

// The text with every comment (parentheses, nested, with backslash escapes)
// replaced by one space; quoted strings are passed over whole, so that a
// parenthesis inside one stays.
std::string WithoutComments(std::string_view text) {
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

// The bytes of an address that may stand in the separator line: no white
// space, no control bytes.
std::string SeparatorSafe(std::string_view address) {
    std::string out;
    for (char c : address)
        if (static_cast<unsigned char>(c) > 0x20 && c != 0x7F) out += c;
    return out;
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

// The offset in minutes east of UTC of a zone name. The North American names
// of the old standard have their offsets; UT, GMT, the military letters and
// any other name count as 0.
int NamedZoneMinutes(std::string_view name) {
    struct TZone {
        const char* name;
        int hours;
    };
    static constexpr TZone kZones[] = {{"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
                                       {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
    for (const TZone& z : kZones)
        if (EqualsIgnoreCase(name, z.name)) return z.hours * 60;
    return 0;
}

}  // namespace

// --- the separator line -------------------------------------------------------

std::string EnvelopeSender(std::string_view fromValue) {
    const std::string text = WithoutComments(fromValue);
    // An address in angle brackets, outside quoted strings.
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\') ++i;
            else if (c == '"') quoted = false;
            continue;
        }
        if (c == '"') quoted = true;
        else if (c == '<') {
            const std::size_t close = text.find('>', i + 1);
            std::string address =
                SeparatorSafe(text.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1));
            // An old source route (<@relay:user@host>) names the address after its colon.
            if (!address.empty() && address[0] == '@' && address.find(':') != std::string::npos)
                address.erase(0, address.find(':') + 1);
            return address.empty() ? kNoSender : address;
        }
    }
    // A bare address: the first word with an '@', or a lone word (a local
    // user's name); a list gives its first member.
    std::vector<std::string_view> words;
    std::string_view rest(text);
    if (const std::size_t comma = rest.find(','); comma != std::string_view::npos) rest = rest.substr(0, comma);
    std::size_t at = 0;
    while (at < rest.size()) {
        while (at < rest.size() && IsSpace(rest[at])) ++at;
        const std::size_t from = at;
        while (at < rest.size() && !IsSpace(rest[at])) ++at;
        if (at > from) words.push_back(rest.substr(from, at - from));
    }
    for (std::string_view w : words)
        if (w.find('@') != std::string_view::npos) {
            const std::string address = SeparatorSafe(w);
            return address.empty() ? kNoSender : address;
        }
    if (words.size() == 1 && words[0].find_first_of("\":;") == std::string_view::npos) return SeparatorSafe(words[0]);
    return kNoSender;
}

std::optional<std::time_t> ParseMessageDate(std::string_view value) {
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

    int zoneMinutes = 0;
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
            zoneMinutes = (hhmm / 100) * 60 + hhmm % 100;
            if (sign == '-') zoneMinutes = -zoneMinutes;
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
    const std::int64_t days = sys_days(date).time_since_epoch().count();
    const std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second - zoneMinutes * 60;
    return static_cast<std::time_t>(seconds);
}

std::string AsctimeUtc(std::time_t t) {
    using namespace std::chrono;
    const sys_seconds at{seconds{static_cast<std::int64_t>(t)}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{at - day};
    const unsigned weekdayIndex = weekday{day}.c_encoding();
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%s %s %2u %02d:%02d:%02d %d", kDayNames[weekdayIndex],
                                kMonthNames[static_cast<unsigned>(date.month()) - 1], static_cast<unsigned>(date.day()),
                                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                                static_cast<int>(time.seconds().count()), static_cast<int>(date.year()));
    return std::string(text, static_cast<std::size_t>(std::max(n, 0)));
}

std::string SeparatorLine(const TEmail& email, std::time_t exportTime) {
    const std::optional<std::time_t> date = ParseMessageDate(email.Date);
    return "From " + EnvelopeSender(email.From) + " " + AsctimeUtc(date.value_or(exportTime)) + "\n";
}

// --- the writer ---------------------------------------------------------------

TMboxWriter::TMboxWriter(const std::string& mboxPath, std::time_t exportTime, std::size_t readChunk)
    : mboxPath_(mboxPath),
      exportTime_(exportTime),
      readChunk_(static_cast<std::int64_t>(std::clamp<std::size_t>(readChunk, 1, kMboxReadChunk))) {
    for (int attempt = 0; attempt < kPartAttempts && !out_; ++attempt) {
        const std::string name = mboxPath + kPartSuffix + (attempt == 0 ? std::string() : std::to_string(attempt));
        if (fs::Exists(name)) continue;
        try {
            out_ = std::make_unique<fs::TWriteFile>(name, fs::Create::Exclusive);
            tempPath_ = name;
        } catch (const EFCreateError& e) {
            if (fs::Exists(name)) continue;  // taken meanwhile
            throw EFCreateError(mboxPath, e.Reason());
        }
    }
    if (!out_) throw EFCreateError(mboxPath, "No free temporary name next to it.");
    buffer_.resize(kWriteChunk);
}

TMboxWriter::~TMboxWriter() {
    if (committed_) return;
    source_.reset();
    out_.reset();  // closed before it is removed, as Windows requires
    if (!tempPath_.empty()) fs::RemoveFile(tempPath_);
}

void TMboxWriter::Flush() {
    if (used_ == 0) return;
    try {
        out_->Write(buffer_.data(), used_);
    } catch (const EInOutError& e) {
        throw EFCreateError(mboxPath_, e.what());
    }
    report_.MboxBytes += used_;
    used_ = 0;
}

void TMboxWriter::Put(const char* data, std::size_t n) {
    if (n > buffer_.size() - used_) {
        Flush();
        if (n >= buffer_.size()) {
            try {
                out_->Write(data, n);
            } catch (const EInOutError& e) {
                throw EFCreateError(mboxPath_, e.what());
            }
            report_.MboxBytes += n;
            return;
        }
    }
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
}

const fs::TReadFile& TMboxWriter::Source(const std::string& fileName) {
    if (!source_ || source_->Path() != fileName) {
        source_.reset();
        source_ = std::make_unique<fs::TReadFile>(fileName, fs::Share::All);
    }
    return *source_;
}

void TMboxWriter::Add(const TEmail& email) { Add(email, Source(email.FileName)); }

void TMboxWriter::Add(const TEmail& email, const fs::TReadFile& file) {
    if (committed_) throw ECorvaneError("The mbox file \"" + mboxPath_ + "\" is already complete.");
    const std::string separator = SeparatorLine(email, exportTime_);
    Put(separator.data(), separator.size());

    const std::int64_t length = std::max<std::int64_t>(0, email.MessageEnd - email.MessageStart);
    if (in_.size() < static_cast<std::size_t>(std::min<std::int64_t>(length, readChunk_)))
        in_.resize(static_cast<std::size_t>(std::min<std::int64_t>(length, readChunk_)));

    // The state of the copy between pieces of the text. At a line start the
    // bytes are held back while they can still become ">*From ": `quotes`
    // counts the leading '>', `matched` the bytes of "From " that follow.
    static constexpr char kFrom[] = "From ";
    bool lineStart = true;
    std::size_t quotes = 0;
    std::size_t matched = 0;
    bool pendingCR = false;  // the piece ended with a CR; the next byte decides
    const auto releasePrefix = [&] {
        for (std::size_t q = 0; q < quotes; ++q) Put('>');
        Put(kFrom, matched);
        lineStart = false;
    };

    std::int64_t done = 0;
    while (done < length) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - done, readChunk_));
        const std::size_t got = file.ReadAt(email.MessageStart + done, in_.data(), want);
        if (got < want)
            throw ECorvaneError("The message file \"" + email.FileName + "\" ends before the message does.");
        done += static_cast<std::int64_t>(got);
        report_.MessageBytes += got;

        const char* p = in_.data();
        const char* const end = p + got;
        if (pendingCR) {
            pendingCR = false;
            if (*p == '\n') {
                Put('\n');
                ++p;
                lineStart = true;
                quotes = matched = 0;
            } else {
                Put('\r');  // a CR of its own is kept
            }
        }
        while (p < end) {
            if (lineStart) {
                const char c = *p;
                if (matched == 0 && c == '>') {
                    ++quotes;
                    ++p;
                    continue;
                }
                if (c == kFrom[matched]) {
                    ++p;
                    if (++matched == 5) {
                        Put('>');
                        releasePrefix();
                    }
                    continue;
                }
                releasePrefix();  // not a separator: the held bytes as they were
                continue;
            }
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (nl == nullptr) {
                const char* stop = end;
                if (end[-1] == '\r') {
                    --stop;
                    pendingCR = true;
                }
                Put(p, static_cast<std::size_t>(stop - p));
                p = end;
                break;
            }
            const char* stop = (nl > p && nl[-1] == '\r') ? nl - 1 : nl;
            Put(p, static_cast<std::size_t>(stop - p));
            Put('\n');
            p = nl + 1;
            lineStart = true;
            quotes = matched = 0;
        }
    }
    // The end of the text: held bytes out, a line end where the last line
    // has none, then the empty line.
    const bool endedWithLineEnd = lineStart && quotes == 0 && matched == 0;
    if (lineStart) releasePrefix();
    if (pendingCR) Put('\r');
    if (!endedWithLineEnd) Put('\n');
    Put('\n');
    ++report_.Written;
}

TMboxReport TMboxWriter::Commit() {
    if (committed_) return report_;
    source_.reset();
    Flush();
    try {
        out_->Close();
    } catch (const EInOutError& e) {
        throw EFCreateError(mboxPath_, e.what());
    }
    fs::RenameFile(tempPath_, mboxPath_);
    committed_ = true;
    return report_;
}

void TMboxWriter::AddAll(const std::vector<const TEmail*>& emails) {
    for (const TEmail* email : emails)
        if (email != nullptr) Add(*email);
}

TMboxReport WriteMbox(const std::vector<const TEmail*>& emails, const std::string& mboxPath, std::time_t exportTime) {
    TMboxWriter mbox(mboxPath, exportTime);
    mbox.AddAll(emails);
    return mbox.Commit();
}

}  // namespace corvane::mail
