// The toolkit's collation for the user's locale, ignoring case.

#include "platform/qt/LocaleCompare.h"

#include <QCollator>
#include <QLocale>

namespace corvane::gui {

int CompareLocaleTextIgnoreCase(const QString& a, const QString& b) {
    static const QCollator collator = [] {
        QCollator c{QLocale()};
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    const int result = collator.compare(a, b);
    return (result > 0) - (result < 0);
}

}  // namespace corvane::gui
