#include "BrowseForFolderU/BrowseForFolderU.h"

#include "platform/qt/BrowseForFolder.h"

std::string BrowseForFolder(const std::string& title, const std::string& initialFolder, bool allowNewFolder) {
    return corvane::gui::RunFolderBrowser(title, initialFolder, allowNewFolder);
}
