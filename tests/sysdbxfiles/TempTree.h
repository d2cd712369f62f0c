#pragma once
// A private folder tree for one test, removed again at its end. Relative
// names are written with '/' and turned into the system's separator.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/TestFiles.h"

class TTempTree {
public:
    TTempTree() = default;
    TTempTree(const TTempTree&) = delete;
    TTempTree& operator=(const TTempTree&) = delete;

    // The tree's root, without a trailing separator.
    const std::string& Root() const { return folder_.Path(); }
    // The root, a separator and the relative name; Path("") ends with the separator.
    std::string Path(const std::string& relative) const { return folder_ / relative; }

    // Makes a file (and the folders above it) with a little content.
    void File(const std::string& relative) const {
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        std::ofstream(Path(relative)) << "x";
    }
    void Folder(const std::string& relative) const { std::filesystem::create_directories(Path(relative)); }
    // A symbolic link; false where this user may not make one (Windows
    // without the privilege).
    bool Link(const std::string& relative, const std::string& target) const {
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        return corvane::testsupport::MakeSymlink(corvane::testsupport::NativePath(target), Path(relative));
    }

private:
    corvane::testsupport::TScratchFolder folder_{"corvane-sysdbx"};
};
