#include "BrowseForFolderU/BrowseForFolderU.h"

#include "platform/qt/BrowseForFolder.h"

std::string InitialFolder;

std::string BrowseForFolder(const std::string& title, const std::string& initialFolder, bool allowNewFolder) {
    InitialFolder = initialFolder;
    return corvane::gui::RunFolderBrowser(title, allowNewFolder);
}
