// CompareStringW with the user's default locale, ignoring case, on the texts
// as shown: decoded texts hold letters of every script, which the ANSI code
// page would turn into '?'.

#include "platform/qt/LocaleCompare.h"

#include <windows.h>

#include <string>
#include <vector>

namespace corvane::gui {

namespace {

int CompareWide(const wchar_t* a, std::size_t aLength, const wchar_t* b, std::size_t bLength) {
    const int result = ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, static_cast<int>(aLength), b,
                                        static_cast<int>(bLength));
    // CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN follow one another; 0 on failure.
    return result == 0 ? 0 : result - CSTR_EQUAL;
}

const wchar_t* Units(const QString& text) { return reinterpret_cast<const wchar_t*>(text.utf16()); }

}  // namespace

int CompareLocaleTextIgnoreCase(const QString& a, const QString& b) {
    return CompareWide(Units(a), static_cast<std::size_t>(a.size()), Units(b), static_cast<std::size_t>(b.size()));
}

// The texts end to end, compared where they lie.
struct TLocaleSortKeys::TKeys {
    std::wstring texts;
    std::vector<std::size_t> ends;  // where each text ends in `texts`
};

TLocaleSortKeys::TLocaleSortKeys() : keys_(std::make_unique<TKeys>()) {}
TLocaleSortKeys::~TLocaleSortKeys() = default;

void TLocaleSortKeys::Reserve(std::size_t count) { keys_->ends.reserve(count); }

void TLocaleSortKeys::Add(const QString& text) {
    keys_->texts.append(Units(text), static_cast<std::size_t>(text.size()));
    keys_->ends.push_back(keys_->texts.size());
}

int TLocaleSortKeys::Compare(std::size_t i, std::size_t j) const {
    const std::size_t aFrom = i == 0 ? 0 : keys_->ends[i - 1];
    const std::size_t bFrom = j == 0 ? 0 : keys_->ends[j - 1];
    return CompareWide(keys_->texts.data() + aFrom, keys_->ends[i] - aFrom, keys_->texts.data() + bFrom,
                       keys_->ends[j] - bFrom);
}

}  // namespace corvane::gui
