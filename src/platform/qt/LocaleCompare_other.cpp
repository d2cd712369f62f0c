// The toolkit's collation for the user's locale, ignoring case.

#include "platform/qt/LocaleCompare.h"

#include <QCollator>
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

// In the C locale the collator compares the case-folded code points (its own
// sort keys would keep the letter case): there each text is folded once into
// bytes that compare as the code points do. Elsewhere the collator compares
// the texts, kept end to end; its comparison skips the beginning two texts
// share, which makes it quicker than making its sort key for every text.
struct TLocaleSortKeys::TKeys {
    bool folding = UserCollator().locale().language() == QLocale::C;
    std::string folded;              // C locale: the folded texts, two bytes a unit
    std::u16string texts;            // other locales: the texts
    std::vector<std::size_t> ends;   // where each text ends in `folded` or `texts`
};

TLocaleSortKeys::TLocaleSortKeys() : keys_(std::make_unique<TKeys>()) {}
TLocaleSortKeys::~TLocaleSortKeys() = default;

void TLocaleSortKeys::Reserve(std::size_t count) { keys_->ends.reserve(count); }

void TLocaleSortKeys::Add(const QString& text) {
    if (!keys_->folding) {
        keys_->texts.append(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
        keys_->ends.push_back(keys_->texts.size());
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
    const std::size_t aFrom = i == 0 ? 0 : keys_->ends[i - 1];
    const std::size_t bFrom = j == 0 ? 0 : keys_->ends[j - 1];
    const std::size_t aLength = keys_->ends[i] - aFrom;
    const std::size_t bLength = keys_->ends[j] - bFrom;
    if (!keys_->folding) {
        const QStringView a(keys_->texts.data() + aFrom, static_cast<qsizetype>(aLength));
        const QStringView b(keys_->texts.data() + bFrom, static_cast<qsizetype>(bLength));
        return Sign(UserCollator().compare(a, b));
    }
    const int common = std::memcmp(keys_->folded.data() + aFrom, keys_->folded.data() + bFrom,
                                   aLength < bLength ? aLength : bLength);
    if (common != 0) return Sign(common);
    return static_cast<int>(aLength > bLength) - static_cast<int>(aLength < bLength);
}

}  // namespace corvane::gui
