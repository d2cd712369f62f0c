#pragma once
// Shared by the fuzz harnesses: a check that stops the run (libFuzzer reports
// it as a crash and keeps the input; the replay driver fails), and a scratch
// folder made anew for every run that is also the temporary folder of the
// message files while the run lasts.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::fuzzsupport::Fail(#cond, __FILE__, __LINE__))

namespace fuzzsupport {

[[noreturn]] void Fail(const char* what, const char* file, int line);

// Creates an empty folder for one run and points TMPDIR at it; removes it
// again and puts TMPDIR back when the run ends.
class TScratch {
public:
    TScratch();
    ~TScratch();
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Writes bytes into a file of the folder and returns its full name.
    std::string Put(const std::string& name, std::string_view bytes) const;
    // The folder the reader writes its message files into.
    std::string MessageFolder() const;
    // True when the folder holds nothing but the given files and the message
    // folder, and that only message files.
    bool HoldsOnly(std::initializer_list<std::string> inputs) const;

private:
    std::string path_;
    std::string oldTmpdir_;
    bool hadTmpdir_ = false;
};

// Reads a little-endian integer from the front of the input and moves past it;
// zero once the input is used up.
inline std::uint32_t Take(const std::uint8_t*& data, std::size_t& size, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes && size > 0; ++i, ++data, --size) v |= static_cast<std::uint32_t>(*data) << (8 * i);
    return v;
}

}  // namespace fuzzsupport
