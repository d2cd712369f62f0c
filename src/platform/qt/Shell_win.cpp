#include "platform/qt/Shell.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "platform/Errors.h"

namespace corvane::gui {

void OpenWebPage(const std::string& url) {
    const HINSTANCE result = ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    const auto code = static_cast<int>(reinterpret_cast<std::intptr_t>(result));
    if (code <= 32) throw ECorvaneError(SystemErrorText(code));
}

QString OpenDialogStartFolder() { return QStringLiteral("c:\\"); }

}  // namespace corvane::gui
