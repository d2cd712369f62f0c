// The toolkit's collation for the user's locale, ignoring case.

#include "platform/qt/LocaleCompare.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::gui {

namespace {

const QCollator& UserCollator() {
    static const QCollator collator = [] {
        QCollator c{QLocale()};
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator;
}

int Sign(int value) { return (value > 0) - (value < 0); }

// The order of code points for UTF-16 units that differ: the units of
// surrogate pairs stand for code points above every other unit.
int CodePointOrder(char16_t a, char16_t b) {
    auto rank = [](char16_t u) -> std::uint32_t {
        if (u >= 0xD800 && u < 0xE000) return u + 0x2000u;
        if (u >= 0xE000) return u - 0x800u;
        return u;
    };
    return Sign(static_cast<int>(rank(a)) - static_cast<int>(rank(b)));
}

}  // namespace

int CompareLocaleTextIgnoreCase(const QString& a, const QString& b) { return Sign(UserCollator().compare(a, b)); }

// In the C locale the collator compares the case-folded code points, while its
// sort keys keep the letter case; there the folded text is the key. Elsewhere
// the collator's own keys order as its comparison does.
struct TLocaleSortKeys::TKeys {
    bool folding = UserCollator().locale().language() == QLocale::C;
    std::u16string folded;           // the folded texts end to end
    std::vector<std::size_t> ends;   // where each folded text ends in `folded`
    std::vector<QCollatorSortKey> collated;
};

TLocaleSortKeys::TLocaleSortKeys() : keys_(std::make_unique<TKeys>()) {}
TLocaleSortKeys::~TLocaleSortKeys() = default;

void TLocaleSortKeys::Reserve(std::size_t count) {
    if (keys_->folding)
        keys_->ends.reserve(count);
    else
        keys_->collated.reserve(count);
}

void TLocaleSortKeys::Add(const QString& text) {
    if (!keys_->folding) {
        keys_->collated.push_back(UserCollator().sortKey(text));
        return;
    }
    const auto* units = reinterpret_cast<const char16_t*>(text.utf16());
    const auto n = static_cast<std::size_t>(text.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t u = units[i];
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(units[i + 1])) {
            const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(u, units[i + 1]));
            keys_->folded.push_back(QChar::highSurrogate(folded));
            keys_->folded.push_back(QChar::lowSurrogate(folded));
            ++i;
        } else {
            keys_->folded.push_back(static_cast<char16_t>(QChar::toCaseFolded(char32_t{u})));
        }
    }
    keys_->ends.push_back(keys_->folded.size());
}

int TLocaleSortKeys::Compare(std::size_t i, std::size_t j) const {
    if (!keys_->folding) return Sign(keys_->collated[i].compare(keys_->collated[j]));
    const std::size_t aFrom = i == 0 ? 0 : keys_->ends[i - 1];
    const std::size_t bFrom = j == 0 ? 0 : keys_->ends[j - 1];
    const std::size_t aLength = keys_->ends[i] - aFrom;
    const std::size_t bLength = keys_->ends[j] - bFrom;
    const char16_t* a = keys_->folded.data() + aFrom;
    const char16_t* b = keys_->folded.data() + bFrom;
    const std::size_t common = aLength < bLength ? aLength : bLength;
    for (std::size_t k = 0; k < common; ++k)
        if (a[k] != b[k]) return CodePointOrder(a[k], b[k]);
    return Sign(static_cast<int>(aLength > bLength) - static_cast<int>(aLength < bLength));
}

}  // namespace corvane::gui
