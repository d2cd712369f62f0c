// The search routines against a plain search: FindText in both directions and
// case modes (both overloads), the forward and backward searches, the skip
// scans, FindCharFrom and CopyFrom, on arbitrary patterns, texts and positions.
//
// Input: a flag byte (bit 0: case-sensitive, bit 1: forward), a 16-bit start
// position (signed), a 16-bit count for CopyFrom (signed), the byte that
// FindCharFrom looks for, a 16-bit pattern length, then the pattern and the
// text. Texts and patterns are copied into buffers of their exact size, so
// that a read past either end is caught.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "FastStringFuncs/FastStringFuncs.h"
#include "FastStrings/FastStrings.h"
#include "FuzzSupport.h"
#include "platform/Errors.h"

namespace {

bool SameAt(std::string_view text, std::string_view pattern, std::size_t at, bool caseSensitive) {
    for (std::size_t k = 0; k < pattern.size(); ++k) {
        const auto a = static_cast<unsigned char>(text[at + k]);
        const auto b = static_cast<unsigned char>(pattern[k]);
        if (caseSensitive ? a != b : UpperTable[a] != UpperTable[b]) return false;
    }
    return true;
}

// The plain searches, position by position.
std::int64_t PlainForward(std::string_view text, std::string_view pattern, std::int64_t start, bool caseSensitive) {
    const auto n = static_cast<std::int64_t>(text.size());
    const auto m = static_cast<std::int64_t>(pattern.size());
    for (std::int64_t pos = std::max<std::int64_t>(start, 1); pos + m - 1 <= n; ++pos)
        if (SameAt(text, pattern, static_cast<std::size_t>(pos - 1), caseSensitive)) return pos;
    return 0;
}

std::int64_t PlainBackward(std::string_view text, std::string_view pattern, std::int64_t start, bool caseSensitive) {
    const auto n = static_cast<std::int64_t>(text.size());
    const auto m = static_cast<std::int64_t>(pattern.size());
    if (m < 1 || m > n) return 0;
    if (start == 0 || start + m > n) start = n - m + 1;
    for (std::int64_t pos = start; pos >= 1; --pos)
        if (SameAt(text, pattern, static_cast<std::size_t>(pos - 1), caseSensitive)) return pos;
    return 0;
}

std::unique_ptr<char[]> Exact(std::string_view bytes) {
    auto copy = std::make_unique<char[]>(bytes.size());
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint32_t flags = fuzzsupport::Take(data, size, 1);
    const auto start = static_cast<std::int16_t>(fuzzsupport::Take(data, size, 2));
    const auto count = static_cast<std::int16_t>(fuzzsupport::Take(data, size, 2));
    const auto c = static_cast<char>(fuzzsupport::Take(data, size, 1));
    const std::size_t patternLen = std::min<std::size_t>(fuzzsupport::Take(data, size, 2), size);
    const bool caseSensitive = (flags & 1) != 0;
    const bool forward = (flags & 2) != 0;

    const auto buffer = Exact(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string_view pattern(buffer.get(), patternLen);
    const std::string_view text(buffer.get() + patternLen, size - patternLen);
    const auto patternCopy = Exact(pattern);
    const auto textCopy = Exact(text);
    const std::string_view p(patternCopy.get(), pattern.size());
    const std::string_view t(textCopy.get(), text.size());

    // FindText, both overloads.
    const std::int64_t expected = forward ? PlainForward(t, p, start, caseSensitive) : PlainBackward(t, p, start, caseSensitive);
    if (forward && p.empty()) {
        bool raised = false;
        try {
            FindText(p, t, caseSensitive, start, forward);
        } catch (const ECorvaneError& e) {
            raised = std::string(e.what()) == "BufferLen is 0";
        }
        FUZZ_CHECK(raised);
    } else {
        FUZZ_CHECK(FindText(p, t, caseSensitive, start, forward) == expected);
        FUZZ_CHECK(FindText(std::string(p), std::string(t), caseSensitive, start, forward) == expected);
    }

    // The other direction and case mode through the routines themselves.
    FUZZ_CHECK(FindBackward(t.data(), p.data(), static_cast<std::int64_t>(t.size()), static_cast<std::int64_t>(p.size()),
                            start) == PlainBackward(t, p, start, true));
    FUZZ_CHECK(FindBackwardIgnoreCase(t.data(), p.data(), static_cast<std::int64_t>(t.size()),
                                      static_cast<std::int64_t>(p.size()), start) == PlainBackward(t, p, start, false));
    if (!p.empty()) {
        FUZZ_CHECK(FindForward(t.data(), p.data(), static_cast<std::int64_t>(t.size()), static_cast<std::int64_t>(p.size()),
                               start) == PlainForward(t, p, start, true));
        FUZZ_CHECK(FindForwardIgnoreCase(t.data(), p.data(), static_cast<std::int64_t>(t.size()),
                                         static_cast<std::int64_t>(p.size()), start) == PlainForward(t, p, start, false));

        // The skip scans over the whole text.
        TSkipTable table;
        BuildSkipTable(p.data(), static_cast<std::int64_t>(p.size()), table);
        const char* hit = SkipScan(t.data(), p.data(), static_cast<std::int64_t>(t.size()), table,
                                   static_cast<std::int64_t>(p.size()));
        const std::int64_t plain = PlainForward(t, p, 1, true);
        FUZZ_CHECK(plain == 0 ? hit == nullptr : hit == t.data() + (plain - 1));
        BuildSkipTableIgnoreCase(p.data(), static_cast<std::int64_t>(p.size()), table);
        hit = SkipScanIgnoreCase(t.data(), p.data(), static_cast<std::int64_t>(t.size()), table,
                                 static_cast<std::int64_t>(p.size()));
        const std::int64_t plainIgnoringCase = PlainForward(t, p, 1, false);
        FUZZ_CHECK(plainIgnoringCase == 0 ? hit == nullptr : hit == t.data() + (plainIgnoringCase - 1));
    }

    // FindCharFrom and CopyFrom over the text.
    const std::string s(t);
    std::int64_t charAt = 0;
    if (!s.empty() && start <= static_cast<std::int64_t>(s.size())) {
        const std::size_t at = s.find(c, static_cast<std::size_t>(std::max<int>(start, 1) - 1));
        charAt = at == std::string::npos ? 0 : static_cast<std::int64_t>(at) + 1;
    }
    FUZZ_CHECK(FindCharFrom(s, c, start) == charAt);

    std::string copy;
    if (!s.empty() && start >= 1 && count >= 1 && static_cast<std::size_t>(start) <= s.size())
        copy = s.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(count));
    FUZZ_CHECK(CopyFrom(s, start, count) == copy);
    return 0;
}
