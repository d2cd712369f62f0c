// CompareStringA with the user's default locale, ignoring case.

#include "platform/qt/LocaleCompare.h"

#include <windows.h>

#include <string>

#include "platform/AnsiText.h"

namespace corvane::gui {

int CompareLocaleTextIgnoreCase(const QString& a, const QString& b) {
    // The list shows the ANSI header bytes converted one to one, so going back
    // gives the original bytes.
    const std::string ansiA = corvane::ansi::FromUtf8(a.toStdString());
    const std::string ansiB = corvane::ansi::FromUtf8(b.toStdString());
    const int result = ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, ansiA.data(), static_cast<int>(ansiA.size()),
                                        ansiB.data(), static_cast<int>(ansiB.size()));
    // CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN follow one another; 0 on failure.
    return result == 0 ? 0 : result - CSTR_EQUAL;
}

}  // namespace corvane::gui
