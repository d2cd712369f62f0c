#pragma once
// Files as the engine uses them: opened for one operation, closed on every path
// out (RAII), positioned by 64-bit offsets. Failures raise the texts of
// platform/Errors.h with the file's full path.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace corvane::fs {

// The separator the system puts between folder and file names.
extern const char kPathSeparator;

enum class Share {
    None,  // no other handle may open the file meanwhile (Windows share mode 0;
           // elsewhere there is no mandatory lock, so this is a plain read-only open)
    All,   // other handles may read and write it
};

// A file opened for reading only. Never writes, never changes the file's times.
class TReadFile {
public:
    // Raises EFOpenError (path, system explanation) when the file is missing,
    // unreadable, a folder, or held by another program.
    TReadFile(const std::string& path, Share share);
    ~TReadFile();
    TReadFile(const TReadFile&) = delete;
    TReadFile& operator=(const TReadFile&) = delete;

    const std::string& Path() const { return path_; }
    std::int64_t Size() const;
    // Reads up to n bytes from offset; returns how many were read, fewer only
    // at the end of the file. Raises EInOutError when the system fails the read.
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) const;

private:
    friend struct TScratchFile CreateScratchFile();
    TReadFile(std::string path, std::intptr_t handle) : path_(std::move(path)), handle_(handle) {}

    std::string path_;
    std::intptr_t handle_;
};

enum class Create {
    Overwrite,  // create, or empty an existing file of the name
    Fresh,      // remove an existing file of the name, then create a new one
                // exclusively, never through a symbolic link
    Exclusive,  // create only if no file of the name exists (no link followed)
};

// Who may read a file created for writing.
enum class Readers {
    Owner,     // the user alone (mode 0600): the private message files
    Everyone,  // as the umask allows (mode 0666 less the umask), like any
               // program's output; Windows: the folder's permissions either way
};

// A file created for writing.
class TWriteFile {
public:
    // Raises EFCreateError (path, system explanation).
    TWriteFile(const std::string& path, Create mode, Readers readers = Readers::Owner);
    ~TWriteFile();
    TWriteFile(const TWriteFile&) = delete;
    TWriteFile& operator=(const TWriteFile&) = delete;

    const std::string& Path() const { return path_; }
    // Writes all n bytes; raises EInOutError when they cannot all be written.
    void Write(const void* data, std::size_t n);
    // Closes the file (a file of TFolder::Rewrite cut to the bytes written);
    // raises EInOutError when the system reports a failure.
    void Close();
    // Gives a file of CreateUnnamedFile the name path (in the same folder) in
    // one step, exclusively and before it is closed: false when something
    // holds the name already (a link included), and then nothing changes.
    // Raises EFCreateError on any other failure.
    bool LinkAs(const std::string& path);
    // Marks the file as held by this process for as long as it stays open
    // (an advisory lock; Windows: its handle shares nothing already), so that
    // RemoveAbandonedFile of a later process can tell it from one whose
    // writer has ended.
    void Hold();

private:
    friend std::unique_ptr<TWriteFile> CreateUnnamedFile(const std::string& target, Readers readers);
    friend struct TScratchFile CreateScratchFile();
    friend class TFolder;
    TWriteFile(std::string path, std::intptr_t handle) : path_(std::move(path)), handle_(handle) {}

    std::string path_;
    std::intptr_t handle_;
    std::int64_t oldSize_ = -1;  // written anew in place: the size it had; what lies past the new bytes goes
    std::int64_t written_ = 0;   // bytes written so far
};

// Creates a file with no name in the folder of target, for an output that
// must not be seen under its name before it is whole: written, then named by
// LinkAs. If the process ends first, nothing of it is left. Path() gives
// target, for the error texts. Null where the system or the folder's file
// system cannot make one (Windows among them): the caller then writes under a
// temporary name instead. Raises EFCreateError when the folder refuses it
// (missing, not writeable, full).
std::unique_ptr<TWriteFile> CreateUnnamedFile(const std::string& target, Readers readers);

// A private file for a run's own data (a chain too long to hold in memory):
// written through Writer, read through Reader (while it is written too, any
// part written so far; the two may be used on different threads), and gone
// once both are closed. It never has a name that outlives its process:
// POSIX: made without one (O_TMPFILE) in ScratchFolder, else its name is
// removed as soon as it is open; Windows: a file the system deletes when its
// last handle closes, as it does for a process that is killed. Raises
// EFCreateError when the scratch folder takes no file.
struct TScratchFile {
    std::unique_ptr<TWriteFile> Writer;
    std::shared_ptr<TReadFile> Reader;
};
TScratchFile CreateScratchFile();

// Removes a file that a writer held (TWriteFile::Hold) when that writer is
// gone: true when it was removed; false when a process still holds it, it
// is no regular file of this user's (never through a link), or it cannot be
// removed.
bool RemoveAbandonedFile(const std::string& path);

// A folder held open, so that the files made in it are found by their names
// alone: the system need not walk the folder's path for each of many files.
class TFolder {
public:
    // Raises EFOpenError when the folder cannot be opened.
    explicit TFolder(const std::string& path);
    ~TFolder();
    TFolder(const TFolder&) = delete;
    TFolder& operator=(const TFolder&) = delete;

    const std::string& Path() const { return path_; }
    // Creates the file name (no separator in it) in the folder, only where
    // the name is free (Create::Exclusive): null when something holds the
    // name, a link included. Path() of the file is the folder's path (less
    // a separator at its end), the separator and name. Raises EFCreateError
    // for any other failure.
    std::unique_ptr<TWriteFile> CreateNew(const std::string& name, Readers readers) const;
    // Opens the file name of the folder to be written anew in place, where
    // that is safe: a regular file of this user's, not reached through a
    // link, with no other name and no access for other users. What is
    // written replaces its bytes from the start, and Close cuts it to them,
    // so the file ends as a fresh one of that name would. Null when the name
    // holds no such file (the caller then replaces the name); on Windows,
    // always. Writing in place spares the system a removal and a creation
    // and the file system the freeing and taking of the file's space: for
    // the many message files that a read writes again, most of its cost.
    std::unique_ptr<TWriteFile> Rewrite(const std::string& name) const;

private:
    std::string path_;
    std::intptr_t handle_;
};

// Removes a file; false when it could not be removed (or did not exist).
bool RemoveFile(const std::string& path);
// True when a file or folder of that name exists (links are not followed).
bool Exists(const std::string& path);
// Gives the file `from` the name `to` in one step, replacing a file of that
// name (not a folder); both names in the same folder. Raises EFCreateError
// (`to`, system explanation) when it cannot, and then both files stay as they
// were. Windows: MoveFileExA with MOVEFILE_REPLACE_EXISTING; elsewhere rename.
void RenameFile(const std::string& from, const std::string& to);

// What tells one file from another on a system: the device and the inode
// number; Windows: the volume's serial number and the file index.
struct TFileIdentity {
    std::uint64_t Volume = 0;
    std::uint64_t Index = 0;
    bool operator==(const TFileIdentity&) const = default;
};
// The identity of the file of that name; with followLinks false that of a
// symbolic link itself. False when there is no such file or it cannot be
// asked about.
bool IdentifyFile(const std::string& path, bool followLinks, TFileIdentity& identity);

// The user's temporary folder for message files, ending with a separator.
// Windows: GetTempPathA. Elsewhere a private folder of the user,
// $TMPDIR (or /tmp) + "/corvane-recovery-<uid>", created with mode 0700.
// When something else holds that name (another user's folder, a symbolic
// link, a file), a private folder of the user's own takes its place:
// "corvane-recovery-<uid>-XXXXXX" beside it, made with mkdtemp (mode 0700),
// or one made so before that the user still owns with that mode; then
// TakeTempFolderNotice has a text for the user. Raises EFCreateError when no
// folder can be made.
std::string UserTempPath();
// What the user should hear once about the temporary folder: that the
// usual one was taken and which folder serves instead. Empty when there is
// nothing to say, or it was taken already; safe from any thread.
std::string TakeTempFolderNotice();
// The name UserTempPath gives, without making or checking the folder.
std::string UserTempPathName();
// The folder of this process's message files, ending with a separator. The
// first call settles it for the rest of the process's life:
// - the user's temporary folder (UserTempPath) when no other process of ours
//   holds it; this process then holds it until it ends (an advisory lock;
//   Windows: a named mutex), and its files stay there afterwards;
// - else a private folder of its own below the user's folder (mode 0700;
//   Windows: in the temporary folder), removed with its files when the
//   process ends, also on SIGINT, SIGTERM and SIGHUP when nothing else of the
//   process handles those signals.
// Private folders left by processes that died without removing them (killed,
// crashed) are removed by the first call of a later process. Raises
// EFCreateError when no folder can be made.
std::string TempPath();
// The folder TempPath gives once settled; before that the user's temporary
// folder's name, without making, checking or locking anything (for naming
// message files that a run does not write).
std::string TempPathName();
// The system's folder for short-lived files of a run (not the message
// files): $TMPDIR or /tmp; Windows: GetTempPathA. Ends with a separator.
std::string ScratchFolder();

}  // namespace corvane::fs
