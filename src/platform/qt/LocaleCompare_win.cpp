// CompareStringA with the user's default locale, ignoring case.

#include "platform/qt/LocaleCompare.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/AnsiText.h"

namespace corvane::gui {

namespace {

int CompareAnsi(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    const int result = ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, static_cast<int>(aLength), b,
                                        static_cast<int>(bLength));
    // CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN follow one another; 0 on failure.
    return result == 0 ? 0 : result - CSTR_EQUAL;
}

}  // namespace

int CompareLocaleTextIgnoreCase(const QString& a, const QString& b) {
    // The list shows the ANSI header bytes converted one to one, so going back
    // gives the original bytes.
    const std::string ansiA = corvane::ansi::FromUtf8(a.toStdString());
    const std::string ansiB = corvane::ansi::FromUtf8(b.toStdString());
    return CompareAnsi(ansiA.data(), ansiA.size(), ansiB.data(), ansiB.size());
}

// The texts are taken back to their ANSI bytes once, and CompareStringA runs
// on those at each comparison.
struct TLocaleSortKeys::TKeys {
    std::string bytes;               // the ANSI texts end to end
    std::vector<std::size_t> ends;   // where each text ends in `bytes`
};

TLocaleSortKeys::TLocaleSortKeys() : keys_(std::make_unique<TKeys>()) {}
TLocaleSortKeys::~TLocaleSortKeys() = default;

void TLocaleSortKeys::Reserve(std::size_t count) { keys_->ends.reserve(count); }

void TLocaleSortKeys::Add(const QString& text) {
    keys_->bytes += corvane::ansi::FromUtf8(text.toStdString());
    keys_->ends.push_back(keys_->bytes.size());
}

int TLocaleSortKeys::Compare(std::size_t i, std::size_t j) const {
    const std::size_t aFrom = i == 0 ? 0 : keys_->ends[i - 1];
    const std::size_t bFrom = j == 0 ? 0 : keys_->ends[j - 1];
    return CompareAnsi(keys_->bytes.data() + aFrom, keys_->ends[i] - aFrom, keys_->bytes.data() + bFrom,
                       keys_->ends[j] - bFrom);
}

}  // namespace corvane::gui
