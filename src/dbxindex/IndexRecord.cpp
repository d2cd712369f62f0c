#include "dbxindex/IndexRecord.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace corvane::dbx {
namespace {

// Ticks from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ull;
constexpr std::uint64_t kTicksPerSecond = 10000000ull;
// 9999-12-31T23:59:59Z in seconds since 1970.
constexpr std::int64_t kLastSecond = 253402300799ll;

struct TCivil {
    int Year;
    unsigned Month, Day, Hour, Minute, Second, Weekday;  // Weekday 0: Sunday
};

std::optional<TCivil> Civil(std::uint64_t fileTime) {
    if (fileTime == 0) return std::nullopt;
    const std::int64_t seconds =
        static_cast<std::int64_t>(fileTime / kTicksPerSecond) - static_cast<std::int64_t>(kUnixEpochTicks / kTicksPerSecond);
    if (seconds > kLastSecond) return std::nullopt;
    using namespace std::chrono;
    const sys_seconds at{std::chrono::seconds{seconds}};
    const sys_days day = floor<days>(at);
    const year_month_day ymd{day};
    const hh_mm_ss<std::chrono::seconds> time{at - day};
    return TCivil{static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<unsigned>(time.hours().count()), static_cast<unsigned>(time.minutes().count()),
                  static_cast<unsigned>(time.seconds().count()), weekday{day}.c_encoding()};
}

}  // namespace

std::string_view TIndexRecord::DataOf(const TProperty& p) const {
    return p.Inline ? std::string_view() : std::string_view(Body).substr(p.DataStart, p.DataLength);
}

const TProperty* TIndexRecord::Find(unsigned number) const {
    for (const TProperty& p : Properties)
        if (p.Number == number) return &p;
    return nullptr;
}

std::optional<std::uint32_t> TIndexRecord::Integer(unsigned number) const {
    const TProperty* p = Find(number);
    if (p == nullptr) return std::nullopt;
    if (p->Inline) return p->Value;
    const std::string_view data = DataOf(*p);
    if (data.empty()) return std::nullopt;
    std::uint32_t v = 0;
    for (std::size_t i = std::min<std::size_t>(data.size(), 4); i-- > 0;) v = (v << 8) | static_cast<unsigned char>(data[i]);
    return v;
}

std::string TIndexRecord::Text(unsigned number) const {
    const TProperty* p = Find(number);
    if (p == nullptr || p->Inline) return {};
    const std::string_view data = DataOf(*p);
    return std::string(data.substr(0, data.find('\0')));
}

std::optional<std::uint64_t> TIndexRecord::FileTime(unsigned number) const {
    const TProperty* p = Find(number);
    if (p == nullptr || p->Inline || p->DataLength < 8) return std::nullopt;
    const std::string_view data = DataOf(*p);
    std::uint64_t v = 0;
    for (std::size_t i = 8; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(data[i]);
    return v;
}

TRecordRead ReadIndexRecord(const TByteSource& source, std::uint32_t offset) {
    TRecordRead read;
    const auto fail = [&](const std::string& why) {
        read.Problem = "the record at " + Hex(offset) + " " + why;
        return read;
    };
    unsigned char head[kRecordHeaderSize];
    if (offset == 0 || source.ReadAt(offset, head, sizeof head) != sizeof head) return fail("lies past the end of the file");
    if (U32At(head + kRecordSelfOffset) != offset) return fail("does not carry its own offset");
    const std::uint32_t length = U32At(head + kRecordBodyLength);
    if (length > kMaxRecordBody) return fail("claims a body of " + std::to_string(length) + " bytes");
    const unsigned count = head[kRecordPropertyCount];
    if (std::uint64_t{count} * 4 > length) return fail("has more property words than its body holds");
    std::string body(length, '\0');
    if (source.ReadAt(std::int64_t{offset} + kRecordHeaderSize, body.data(), length) != length)
        return fail("runs past the end of the file");

    const std::uint32_t dataSize = length - count * 4;
    std::vector<std::uint32_t> starts;  // the data offsets, to find where each value ends
    starts.reserve(count);
    TIndexRecord record;
    record.Offset = offset;
    record.Properties.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        const auto* word = reinterpret_cast<const unsigned char*>(body.data() + i * 4);
        TProperty p;
        p.Number = word[0] & kPropertyNumberMask;
        p.Inline = (word[0] & kInlineValueBit) != 0;
        p.Value = static_cast<std::uint32_t>(word[1]) | static_cast<std::uint32_t>(word[2]) << 8 |
                  static_cast<std::uint32_t>(word[3]) << 16;
        if (!record.Properties.empty() && p.Number <= record.Properties.back().Number)
            return fail("lists its properties out of order");
        if (!p.Inline) {
            if (p.Value >= dataSize) return fail("points a property past its data");
            starts.push_back(p.Value);
        }
        record.Properties.push_back(std::move(p));
    }
    std::sort(starts.begin(), starts.end());
    for (TProperty& p : record.Properties) {
        if (p.Inline) continue;
        const auto next = std::upper_bound(starts.begin(), starts.end(), p.Value);
        const std::uint32_t end = next == starts.end() ? dataSize : *next;
        p.DataStart = count * 4 + p.Value;
        p.DataLength = end - p.Value;
    }
    record.Body = std::move(body);
    read.Record = std::move(record);
    return read;
}

std::string FileTimeToIso(std::uint64_t fileTime) {
    const auto c = Civil(fileTime);
    if (!c) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02uZ", c->Year, c->Month, c->Day, c->Hour, c->Minute,
                  c->Second);
    return text;
}

std::string FileTimeToMailDate(std::uint64_t fileTime) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto c = Civil(fileTime);
    if (!c) return {};
    char text[48];
    std::snprintf(text, sizeof text, "%s, %02u %s %04d %02u:%02u:%02u +0000", kDays[c->Weekday], c->Day,
                  kMonths[c->Month - 1], c->Year, c->Hour, c->Minute, c->Second);
    return text;
}

}  // namespace corvane::dbx
