#include "support/TestFiles.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "platform/Files.h"

namespace corvane::testsupport {

namespace stdfs = std::filesystem;

char Separator() { return corvane::fs::kPathSeparator; }

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : stdfs::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string NativePath(const std::string& relative) {
    std::string out = relative;
    for (char& c : out)
        if (c == '/') c = Separator();
    return out;
}

TScratchFolder::TScratchFolder(const std::string& prefix) {
    static std::atomic<unsigned> serial{0};
    std::random_device device;
    const auto seed = static_cast<std::uint64_t>(device()) ^
                      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937_64 random(seed + serial++);
    const stdfs::path base = stdfs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const stdfs::path candidate = base / (prefix + "-" + std::to_string(random() % 100000000));
        std::error_code ec;
        if (stdfs::create_directory(candidate, ec)) {  // false when it exists: another try
            path_ = candidate.string();
            while (path_.size() > 1 && path_.back() == Separator()) path_.pop_back();
            return;
        }
    }
    throw std::runtime_error("no scratch folder could be made in " + base.string());
}

TScratchFolder::~TScratchFolder() {
    std::error_code ec;
    // Read-only entries would stop the removal on Windows.
    for (auto it = stdfs::recursive_directory_iterator(path_, ec); !ec && it != stdfs::recursive_directory_iterator();
         it.increment(ec))
        stdfs::permissions(it->path(), stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    stdfs::remove_all(path_, ec);
}

std::string TScratchFolder::operator/(const std::string& relative) const {
    return path_ + Separator() + NativePath(relative);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteAt(const std::string& path, std::uint64_t offset, const std::string& bytes) {
    std::error_code ec;
    if (!stdfs::exists(path, ec)) WriteWholeFile(path, "");
    if (stdfs::file_size(path) < offset) stdfs::resize_file(path, offset);
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

TEnvOverride::TEnvOverride(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), previous_(GetEnv(name_)) {
    SetEnv(name_, value);
}

TEnvOverride::~TEnvOverride() { SetEnv(name_, previous_); }

}  // namespace corvane::testsupport
