// The toolkit's collation for the user's locale, ignoring case.

#include "platform/qt/LocaleCompare.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>

#include <cstdint>
#include <cstring>
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

// Appends a UTF-16 unit as two bytes that compare, byte by byte, in the order
// of the code points: the units of surrogate pairs stand for code points above
// every other unit, so they move to the top.
void AppendUnit(std::string& key, char16_t u) {
    std::uint32_t rank = u;
    if (u >= 0xD800 && u < 0xE000)
        rank += 0x2000;
    else if (u >= 0xE000)
        rank -= 0x800;
    key.push_back(static_cast<char>(rank >> 8));
    key.push_back(static_cast<char>(rank & 0xFF));
}

}  // namespace

int CompareLocaleTextIgnoreCase(const QString& a, const QString& b) { return Sign(UserCollator().compare(a, b)); }

// In the C locale the collator compares the case-folded code points, while its
// sort keys keep the letter case; there the folded text is the key. Elsewhere
// the collator's own keys order as its comparison does.
struct TLocaleSortKeys::TKeys {
    bool folding = UserCollator().locale().language() == QLocale::C;
    std::string folded;              // the folded texts end to end, two bytes a unit
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
            AppendUnit(keys_->folded, QChar::highSurrogate(folded));
            AppendUnit(keys_->folded, QChar::lowSurrogate(folded));
            ++i;
        } else {
            AppendUnit(keys_->folded, static_cast<char16_t>(QChar::toCaseFolded(char32_t{u})));
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
    const int common = std::memcmp(keys_->folded.data() + aFrom, keys_->folded.data() + bFrom,
                                   aLength < bLength ? aLength : bLength);
    if (common != 0) return Sign(common);
    return static_cast<int>(aLength > bLength) - static_cast<int>(aLength < bLength);
}

}  // namespace corvane::gui
