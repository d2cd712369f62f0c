#include "FastStringFuncs/FastStringFuncs.h"

#include <cstdint>

#include "FastStrings/FastStrings.h"

std::string CopyFrom(const std::string& S, int Start, int Count) {
    if (S.empty() || Start < 1 || Count < 1) return {};
    const auto len = static_cast<std::int64_t>(S.size());
    std::int64_t count = Count;
    if (static_cast<std::int64_t>(Start) + count - 1 > len) count = len - Start + 1;
    if (count < 1) return {};
    std::string out(static_cast<std::size_t>(count), '\0');
    CopyChars(S.data() + (Start - 1), out.data(), out.size());
    return out;
}
