#pragma once
// A private folder tree for one test, removed again at its end.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TTempTree {
public:
    TTempTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-sysdbx-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
    }
    ~TTempTree() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TTempTree(const TTempTree&) = delete;
    TTempTree& operator=(const TTempTree&) = delete;

    // The tree's root, without a trailing separator.
    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

    // Makes a file (and the folders above it) with a little content.
    void File(const std::string& relative) const {
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        std::ofstream(Path(relative)) << "x";
    }
    void Folder(const std::string& relative) const { std::filesystem::create_directories(Path(relative)); }
    void Link(const std::string& relative, const std::string& target) const {
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        std::filesystem::create_symlink(target, Path(relative));
    }

private:
    std::string root_;
};
