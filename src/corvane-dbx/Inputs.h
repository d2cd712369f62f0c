#pragma once
// The folder files a run reads, from the names on its command line: a plain
// file is read where it lies; "-" (standard input) and every other input that
// cannot be read at any offset (a named pipe, /dev/stdin on a pipe, a device)
// is copied once into a private file of the run, read from there and removed
// when the run ends, also when a signal stops it; a folder is read as all
// the folder files in it (*.dbx, any letter case), sorted by name.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace corvane::cli {

struct TInput {
    std::string Shown;  // the name the user gave, or the folder's path and the file's name
    std::string Path;   // where it is read: the file itself, or the run's copy
};

class TInputs {
public:
    TInputs() = default;
    ~TInputs();  // removes the copies
    TInputs(const TInputs&) = delete;
    TInputs& operator=(const TInputs&) = delete;

    // Resolves the names in order. A name that cannot be resolved (missing,
    // a folder without folder files, an input that cannot be copied) is told
    // through fail ("FILE: what went wrong") and left out; stop is asked
    // while a stream is copied and, when it says so, ends the copy with
    // ECancelled (the copy removed).
    void Resolve(const std::vector<std::string>& names, const std::function<void(const std::string&)>& fail,
                 const std::function<bool()>& stop);
    const std::vector<TInput>& All() const { return inputs_; }
    // Every path read (for the checks that no output replaces an input).
    std::vector<std::string> Paths() const;

private:
    std::string CopyStream(const std::string& name, const std::function<bool()>& stop);
    void AddFolder(const std::string& folder, const std::function<void(const std::string&)>& fail);

    std::vector<TInput> inputs_;
    std::vector<std::string> copies_;
};

}  // namespace corvane::cli
