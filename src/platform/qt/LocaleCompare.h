#pragma once
// Text order by the user's locale, ignoring letter case, for sorting the
// message list. One implementation per system: LocaleCompare_win.cpp and
// LocaleCompare_other.cpp.

#include <QString>

namespace corvane::gui {

// -1 when a sorts before b, 0 when the two compare equal, 1 when a sorts after b.
int CompareLocaleTextIgnoreCase(const QString& a, const QString& b);

}  // namespace corvane::gui
