#pragma once
// File and process helpers for tests that run on Linux and on Windows alike:
// a scratch folder, whole-file reads and writes, environment variables, the
// engine's temporary folder pointed elsewhere, and the few questions whose
// answer comes from the system (is a file held open, how much memory did the
// process take at most). What differs between the systems lives in
// support/posix/ and support/windows/.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::testsupport {

// True in the Windows build (also under Wine).
bool IsWindows();

// The system's separator between folder and file names.
char Separator();

// A folder of its own below the system's temporary folder, removed with
// everything in it when the object goes.
class TScratchFolder {
public:
    explicit TScratchFolder(const std::string& prefix = "corvane-test");
    ~TScratchFolder();
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    // The folder's full path, without a trailing separator.
    const std::string& Path() const { return path_; }
    // The folder's path, the separator, then the relative name with every '/'
    // in it turned into the system's separator.
    std::string operator/(const std::string& relative) const;

private:
    std::string path_;
};

// The relative name with every '/' turned into the system's separator.
std::string NativePath(const std::string& relative);

std::string ReadWholeFile(const std::string& path);
// The names of the entries of a folder, sorted byte by byte (none when it
// is missing).
std::vector<std::string> NamesIn(const std::string& folder);
// Creates or empties the file and writes the bytes.
void WriteWholeFile(const std::string& path, const std::string& bytes);
// Writes the bytes at the offset of an existing or new file, leaving the rest
// of it as it is; a gap below the offset reads as zeros (and takes no disk
// space where the file system keeps sparse files).
void WriteAt(const std::string& path, std::uint64_t offset, const std::string& bytes);

// Sets (value given) or removes (no value) a variable of this process's
// environment, as the C library and the system's own calls see it.
void SetEnv(const std::string& name, const std::optional<std::string>& value);
std::optional<std::string> GetEnv(const std::string& name);

// Sets an environment variable for the object's life, then puts back what
// was there before.
class TEnvOverride {
public:
    TEnvOverride(std::string name, const std::optional<std::string>& value);
    ~TEnvOverride();
    TEnvOverride(const TEnvOverride&) = delete;
    TEnvOverride& operator=(const TEnvOverride&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Points the engine's temporary folder for message files into the given
// folder for the object's life (TMPDIR on Linux, TMP and TEMP on Windows).
class TTempFolderOverride {
public:
    explicit TTempFolderOverride(const std::string& folder);
    ~TTempFolderOverride();
    TTempFolderOverride(const TTempFolderOverride&) = delete;
    TTempFolderOverride& operator=(const TTempFolderOverride&) = delete;

    // Where the message files then go, without a trailing separator: on
    // Linux the user's private folder inside it, on Windows the folder itself.
    std::string MessageFolder() const;

private:
    std::string folder_;
    struct TSaved;
    TSaved* saved_;
};

// Whether any handle or descriptor of this process has the file open. On
// Windows: whether the file cannot be opened without sharing just now, which
// any open handle of any process prevents.
bool IsHeldOpen(const std::string& path);

// The most memory this process has held at once so far, in KiB (resident
// set on Linux, working set on Windows).
std::int64_t PeakMemoryKiB();

// Makes a symbolic link; false when the system or the user's rights do not
// allow one (Windows without the privilege), so the test can skip.
bool MakeSymlink(const std::string& target, const std::string& link);

// Whether permission bits keep this process out of a file: false for root,
// and on Windows, where the bits only set the read-only attribute.
bool PermissionBitsApply();

// The times the system keeps for a file: equal when the file was neither
// written nor had its attributes changed in between.
struct TFileStamp {
    std::int64_t Modified = 0;  // nanoseconds (Linux) or 100 ns (Windows)
    std::int64_t Changed = 0;   // status change (Linux), the attributes (Windows)
    bool operator==(const TFileStamp&) const = default;
};
TFileStamp Stamp(const std::string& path);
// Sets the file's modification time far into the past, so that any later
// write shows in its stamp.
void SetOldTimes(const std::string& path);

// The system's error codes that tests expect in the file layer's texts
// (errno values on Linux, GetLastError values on Windows).
struct TErrorCodes {
    int NoSuchFile;    // a missing file in an existing folder
    int NoSuchFolder;  // a path through a missing folder
    int IsAFolder;     // a folder opened as a file
    int AccessDenied;  // no right to open
};
const TErrorCodes& ErrorCodes();

}  // namespace corvane::testsupport
