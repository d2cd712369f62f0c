#include "FuzzSupport.h"

#include <fstream>

#include <unistd.h>

namespace fuzzsupport {

namespace stdfs = std::filesystem;

namespace {

// One base folder per process; each run's folder lies inside it.
struct TBase {
    std::string path;
    TBase() {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/corvane-fuzz-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr) Fail("mkdtemp", __FILE__, __LINE__);
        path = templ;
    }
    ~TBase() {
        std::error_code ec;
        stdfs::remove_all(path, ec);
    }
};

const std::string& Base() {
    static TBase base;
    return base.path;
}

}  // namespace

void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

TScratch::TScratch() : path_(Base() + "/run") {
    std::error_code ec;
    stdfs::remove_all(path_, ec);
    FUZZ_CHECK(stdfs::create_directory(path_, ec));
    const char* old = std::getenv("TMPDIR");
    hadTmpdir_ = old != nullptr;
    if (hadTmpdir_) oldTmpdir_ = old;
    ::setenv("TMPDIR", path_.c_str(), 1);
}

TScratch::~TScratch() {
    if (hadTmpdir_) ::setenv("TMPDIR", oldTmpdir_.c_str(), 1);
    else ::unsetenv("TMPDIR");
    std::error_code ec;
    stdfs::remove_all(path_, ec);
}

std::string TScratch::Put(const std::string& name, std::string_view bytes) const {
    const std::string path = File(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(out.good());
    return path;
}

std::string TScratch::MessageFolder() const { return File("corvane-recovery-" + std::to_string(::getuid())); }

bool TScratch::HoldsOnly(std::initializer_list<std::string> inputs) const {
    for (const auto& entry : stdfs::directory_iterator(path_)) {
        const std::string name = entry.path().string();
        if (name == MessageFolder()) continue;
        bool known = false;
        for (const std::string& input : inputs) known = known || name == input;
        if (!known) return false;
    }
    if (!stdfs::exists(MessageFolder())) return true;
    for (const auto& entry : stdfs::directory_iterator(MessageFolder())) {
        const std::string name = entry.path().filename().string();
        const bool message = (name.starts_with("msg") || name.starts_with("delmsg")) && name.ends_with(".tmp");
        if (!message || !entry.is_regular_file()) return false;
    }
    return true;
}

}  // namespace fuzzsupport
