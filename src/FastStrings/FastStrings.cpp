#include "FastStrings/FastStrings.h"

#include <bit>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/AnsiText.h"
#include "platform/Errors.h"

const TUpperTable UpperTable;

const unsigned char* TUpperTable::Data() {
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        for (std::size_t b = 0; b < t.size(); ++b) t[b] = static_cast<unsigned char>(b);
        corvane::ansi::UpperBuffer(t.data(), t.size());
        return t;
    }();
    return table.data();
}

namespace {

// Built during start-up, before main, whenever this unit is part of the program.
[[maybe_unused]] const unsigned char* const kUpperBuiltAtStart = TUpperTable::Data();

const unsigned char* Bytes(const char* p) { return reinterpret_cast<const unsigned char*>(p); }

void CheckPatternLen(std::int64_t patternLen) {
    if (patternLen <= 0) throw ECorvaneError("BufferLen is 0");
}

// Horspool over [0, n) of t. The table is read through Key(byte), which is the
// byte itself or its upper-case form; Same compares a text and a pattern byte.
template <class Key, class Same>
const unsigned char* Scan(const unsigned char* t, std::size_t n, const unsigned char* p, std::size_t len,
                          const TSkipTable& table, Key key, Same same) {
    if (len == 0 || n < len) return nullptr;
    const std::size_t lastIdx = len - 1;
    std::size_t pos = lastIdx;  // index of the text byte under the pattern's last byte
    while (pos < n) {
        const unsigned char under = t[pos];
        if (same(under, p[lastIdx])) {
            std::size_t k = lastIdx;
            const unsigned char* start = t + (pos - lastIdx);
            while (k > 0 && same(start[k - 1], p[k - 1])) --k;
            if (k == 0) return start;
        }
        pos += static_cast<std::size_t>(table[key(under)]);
    }
    return nullptr;
}

template <bool IgnoreCase>
const unsigned char* ScanRange(const unsigned char* t, std::size_t n, const unsigned char* p, std::size_t len,
                               const TSkipTable& table) {
    if constexpr (IgnoreCase) {
        const unsigned char* up = TUpperTable::Data();
        return Scan(
            t, n, p, len, table, [up](unsigned char b) { return up[b]; },
            [up](unsigned char a, unsigned char b) { return up[a] == up[b]; });
    } else {
        return Scan(
            t, n, p, len, table, [](unsigned char b) { return b; },
            [](unsigned char a, unsigned char b) { return a == b; });
    }
}

template <bool IgnoreCase>
void Build(const char* pattern, std::int64_t patternLen, TSkipTable& table) {
    CheckPatternLen(patternLen);
    // Longer patterns only ever skip by their length; entries are 32-bit.
    const std::int32_t full = patternLen > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(patternLen);
    table.fill(full);
    const unsigned char* p = Bytes(pattern);
    const unsigned char* up = TUpperTable::Data();
    for (std::int64_t i = 0; i + 1 < patternLen; ++i) {
        const std::int64_t dist = patternLen - 1 - i;
        if (dist > INT32_MAX) continue;
        table[IgnoreCase ? up[p[i]] : p[i]] = static_cast<std::int32_t>(dist);
    }
}

// The forward searches test eight text positions at a time: a position is a
// candidate when its byte matches the pattern's first byte and the byte
// L - 1 further on matches its last; only candidates are compared in full.
// The results are those of the skip-table scan, which the searches fall back
// to where a byte has more than two case forms.

constexpr std::uint64_t kLows = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
constexpr std::uint64_t kSevens = 0x7F7F7F7F7F7F7F7FULL;

[[maybe_unused]] std::uint64_t ByteSwap(std::uint64_t v) {
    std::uint64_t r = 0;
    for (int i = 0; i < 8; ++i) r = (r << 8) | ((v >> (8 * i)) & 0xFF);
    return r;
}

// Eight bytes as a word whose lowest byte is the first.
std::uint64_t Load8(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = ByteSwap(v);
    return v;
}

// The high bit of every byte of y that is zero, and nothing else.
std::uint64_t ZeroBytes(std::uint64_t y) { return ~(((y & kSevens) + kSevens) | y) & kHighs; }

// Which text bytes match one pattern byte: x matches when (x | Or) == Value,
// or, with Two, when x == Value2.
struct TByteTest {
    std::uint64_t Or = 0;
    std::uint64_t Value = 0;
    std::uint64_t Value2 = 0;
    bool Two = false;

    // False when the byte has more than two case forms.
    bool Make(unsigned char b, bool ignoreCase) {
        if (!ignoreCase) {
            Value = kLows * b;
            return true;
        }
        const unsigned char* up = TUpperTable::Data();
        unsigned char forms[2] = {0, 0};
        int count = 0;
        for (int x = 0; x < 256; ++x) {
            if (up[x] != up[b]) continue;
            if (count == 2) return false;
            forms[count++] = static_cast<unsigned char>(x);
        }
        if (count == 1) {
            Value = kLows * forms[0];
            return true;
        }
        const unsigned diff = forms[0] ^ forms[1];
        if (std::popcount(diff) == 1) {  // as with ASCII letters: one bit tells the forms apart
            Or = kLows * diff;
            Value = kLows * (forms[0] | diff);
        } else {
            Two = true;
            Value = kLows * forms[0];
            Value2 = kLows * forms[1];
        }
        return true;
    }

    std::uint64_t Hits(std::uint64_t w) const {
        std::uint64_t m = ZeroBytes((w | Or) ^ Value);
        if (Two) m |= ZeroBytes(w ^ Value2);
        return m;
    }
};

template <bool IgnoreCase>
bool SameBytes(const unsigned char* a, const unsigned char* b, std::size_t n) {
    if constexpr (IgnoreCase) {
        const unsigned char* up = TUpperTable::Data();
        for (std::size_t k = 0; k < n; ++k)
            if (up[a[k]] != up[b[k]]) return false;
        return true;
    } else {
        return n == 0 || std::memcmp(a, b, n) == 0;
    }
}

// The first match in [t, t + n), or nullptr; false in `done` when the pattern
// needs the skip-table scan instead.
template <bool IgnoreCase>
const unsigned char* WordScan(const unsigned char* t, std::size_t n, const unsigned char* p, std::size_t len,
                              bool& done) {
    done = true;
    if (n < len) return nullptr;
    if (!IgnoreCase && len == 1) return static_cast<const unsigned char*>(std::memchr(t, p[0], n));
    TByteTest first;
    TByteTest last;
    if (!first.Make(p[0], IgnoreCase) || !last.Make(p[len - 1], IgnoreCase)) {
        done = false;
        return nullptr;
    }
    const std::size_t middle = len > 2 ? len - 2 : 0;
    std::size_t i = 0;
    if (n >= len + 7) {
        const std::size_t end = n - len - 7;  // the last i whose eight positions all fit
        for (; i <= end; i += 8) {
            std::uint64_t m = first.Hits(Load8(t + i)) & last.Hits(Load8(t + i + len - 1));
            while (m != 0) {
                const unsigned char* at = t + i + static_cast<std::size_t>(std::countr_zero(m) / 8);
                if (SameBytes<IgnoreCase>(at + 1, p + 1, middle)) return at;
                m &= m - 1;
            }
        }
    }
    for (; i + len <= n; ++i)
        if (SameBytes<IgnoreCase>(t + i, p, len)) return t + i;
    return nullptr;
}

// Patterns longer than this are searched in time linear in the text: the scans
// above compare a whole pattern at each candidate position, which for a long
// pattern of repeats over text of the same repeats costs text times pattern.
constexpr std::size_t kLongPattern = 64;

// Knuth-Morris-Pratt over [t, t + n): the first match, or nullptr.
template <bool IgnoreCase>
const unsigned char* LinearScan(const unsigned char* t, std::size_t n, const unsigned char* p, std::size_t len) {
    const unsigned char* up = TUpperTable::Data();
    auto key = [up](unsigned char b) { return IgnoreCase ? up[b] : b; };
    if (n < len) return nullptr;
    std::vector<std::size_t> border(len, 0);  // longest proper border of p[0..i]
    for (std::size_t i = 1, k = 0; i < len; ++i) {
        while (k > 0 && key(p[i]) != key(p[k])) k = border[k - 1];
        if (key(p[i]) == key(p[k])) ++k;
        border[i] = k;
    }
    for (std::size_t i = 0, k = 0; i < n; ++i) {
        while (k > 0 && key(t[i]) != key(p[k])) k = border[k - 1];
        if (key(t[i]) == key(p[k])) ++k;
        if (k == len) return t + i + 1 - len;
    }
    return nullptr;
}

template <bool IgnoreCase>
std::int64_t Forward(const char* text, const char* pattern, std::int64_t textLen, std::int64_t patternLen,
                     std::int64_t startPos) {
    CheckPatternLen(patternLen);
    if (startPos < 1) startPos = 1;
    if (textLen <= 0 || startPos > textLen) return 0;
    const auto rangeLen = static_cast<std::size_t>(textLen - (startPos - 1));
    const unsigned char* first = Bytes(text) + (startPos - 1);
    const auto len = static_cast<std::size_t>(patternLen);
    if (len > kLongPattern) {
        const unsigned char* hit = LinearScan<IgnoreCase>(first, rangeLen, Bytes(pattern), len);
        return hit == nullptr ? 0 : (hit - Bytes(text)) + 1;
    }
    bool done = false;
    const unsigned char* hit = WordScan<IgnoreCase>(first, rangeLen, Bytes(pattern), len, done);
    if (!done) {
        TSkipTable table;
        Build<IgnoreCase>(pattern, patternLen, table);
        hit = ScanRange<IgnoreCase>(first, rangeLen, Bytes(pattern), len, table);
    }
    return hit == nullptr ? 0 : (hit - Bytes(text)) + 1;
}

template <bool IgnoreCase>
std::int64_t Backward(const char* text, const char* pattern, std::int64_t textLen, std::int64_t patternLen,
                      std::int64_t startPos) {
    if (patternLen < 1 || patternLen > textLen) return 0;
    if (startPos == 0 || startPos + patternLen > textLen) startPos = textLen - patternLen + 1;
    const unsigned char* t = Bytes(text);
    const unsigned char* p = Bytes(pattern);
    const unsigned char* up = TUpperTable::Data();
    auto key = [up](unsigned char b) { return IgnoreCase ? up[b] : b; };
    const unsigned char first = key(p[0]);
    for (std::int64_t pos = startPos; pos >= 1; --pos) {
        const unsigned char* at = t + (pos - 1);
        if (key(at[0]) != first) continue;
        std::int64_t k = patternLen - 1;
        while (k >= 1 && key(at[k]) == key(p[k])) --k;
        if (k == 0) return pos;
    }
    return 0;
}

}  // namespace

int FindText(const std::string& Pattern, const std::string& Text, bool CaseSensitive, int StartPos, bool Forward) {
    const std::int64_t found =
        FindText(std::string_view(Pattern), std::string_view(Text), CaseSensitive, StartPos, Forward);
    // Beyond 2 GiB a position no longer fits the result; the view overload gives it.
    return found > INT_MAX ? 0 : static_cast<int>(found);
}

std::int64_t FindText(std::string_view Pattern, std::string_view Text, bool CaseSensitive, std::int64_t StartPos,
                      bool Forward) {
    const auto patternLen = static_cast<std::int64_t>(Pattern.size());
    const auto textLen = static_cast<std::int64_t>(Text.size());
    if (CaseSensitive)
        return Forward ? FindForward(Text.data(), Pattern.data(), textLen, patternLen, StartPos)
                       : FindBackward(Text.data(), Pattern.data(), textLen, patternLen, StartPos);
    return Forward ? FindForwardIgnoreCase(Text.data(), Pattern.data(), textLen, patternLen, StartPos)
                   : FindBackwardIgnoreCase(Text.data(), Pattern.data(), textLen, patternLen, StartPos);
}

std::int64_t FindForward(const char* Text, const char* Pattern, std::int64_t TextLen, std::int64_t PatternLen,
                         std::int64_t StartPos) {
    return Forward<false>(Text, Pattern, TextLen, PatternLen, StartPos);
}

std::int64_t FindForwardIgnoreCase(const char* Text, const char* Pattern, std::int64_t TextLen,
                                   std::int64_t PatternLen, std::int64_t StartPos) {
    return Forward<true>(Text, Pattern, TextLen, PatternLen, StartPos);
}

std::int64_t FindBackward(const char* Text, const char* Pattern, std::int64_t TextLen, std::int64_t PatternLen,
                          std::int64_t StartPos) {
    return Backward<false>(Text, Pattern, TextLen, PatternLen, StartPos);
}

std::int64_t FindBackwardIgnoreCase(const char* Text, const char* Pattern, std::int64_t TextLen,
                                    std::int64_t PatternLen, std::int64_t StartPos) {
    return Backward<true>(Text, Pattern, TextLen, PatternLen, StartPos);
}

void BuildSkipTable(const char* Pattern, std::int64_t PatternLen, TSkipTable& Table) {
    Build<false>(Pattern, PatternLen, Table);
}

void BuildSkipTableIgnoreCase(const char* Pattern, std::int64_t PatternLen, TSkipTable& Table) {
    Build<true>(Pattern, PatternLen, Table);
}

const char* SkipScan(const char* First, const char* Pattern, std::int64_t RangeLen, const TSkipTable& Table,
                     std::int64_t PatternLen) {
    if (RangeLen <= 0 || PatternLen <= 0) return nullptr;
    return reinterpret_cast<const char*>(ScanRange<false>(Bytes(First), static_cast<std::size_t>(RangeLen),
                                                          Bytes(Pattern), static_cast<std::size_t>(PatternLen),
                                                          Table));
}

const char* SkipScanIgnoreCase(const char* First, const char* Pattern, std::int64_t RangeLen,
                               const TSkipTable& Table, std::int64_t PatternLen) {
    if (RangeLen <= 0 || PatternLen <= 0) return nullptr;
    return reinterpret_cast<const char*>(ScanRange<true>(Bytes(First), static_cast<std::size_t>(RangeLen),
                                                         Bytes(Pattern), static_cast<std::size_t>(PatternLen),
                                                         Table));
}

int FindCharFrom(const std::string& S, char C, int StartPos) {
    if (StartPos < 1) StartPos = 1;
    if (S.empty() || static_cast<std::size_t>(StartPos) > S.size()) return 0;
    const std::size_t from = static_cast<std::size_t>(StartPos) - 1;
    const void* hit = std::memchr(S.data() + from, static_cast<unsigned char>(C), S.size() - from);
    if (hit == nullptr) return 0;
    return static_cast<int>(static_cast<const char*>(hit) - S.data()) + 1;
}

void CopyChars(const char* Source, char* Dest, std::size_t N) {
    for (std::size_t i = 0; i < N; ++i) Dest[i] = Source[i];
}
