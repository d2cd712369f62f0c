#pragma once
// Disk images and devices as the carve reads them, and the sparse files it
// writes. An image is only ever read: opened read-only, never locked, never
// written; a device needs no more than read access.
//
// TImageFile reads one input: a raw image file, a block device (Windows:
// \\.\PhysicalDriveN or \\.\X:), a named pipe, standard input ("-"), or,
// where the build has libewf (Linux), an EWF image (.E01, its other segment
// files found beside it), read as the disk it holds.
// Files and devices can be read at any offset; pipes and standard input only
// from start to end, once. Used by one thread at a time, but for ReadAt
// where ReadsAtOnce says so.

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane::fs {

class TImageFile {
public:
    // Raises EFOpenError (path, system explanation) when it cannot be opened
    // for reading, is a folder, or is an EWF image this build cannot read.
    explicit TImageFile(const std::string& path);
    ~TImageFile();
    TImageFile(const TImageFile&) = delete;
    TImageFile& operator=(const TImageFile&) = delete;

    const std::string& Path() const { return path_; }
    // Whether ReadAt works: false for pipes and standard input.
    bool Seekable() const { return seekable_; }
    // Whether ReadAt may be called from several threads at once (not for an
    // EWF image, whose library keeps one reading position).
    bool ReadsAtOnce() const { return seekable_ && ewf_ == nullptr; }
    // The bytes of the image; -1 for a stream, whose size is known only at its end.
    std::int64_t Size() const { return size_; }
    // The next n bytes of a stream (or, for a seekable input, from where the
    // last Read ended): fewer only at the end. Raises EInOutError.
    std::size_t Read(void* buffer, std::size_t n);
    // n bytes from offset of a seekable input: fewer only at its end. Raises
    // EInOutError.
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t n) const;
    // Tells the system that ReadAt will soon ask for these bytes, so that a
    // disk can be reading them meanwhile (where the system takes such a
    // hint; nothing for streams and EWF images). Never fails.
    void WillRead(std::int64_t offset, std::size_t n) const;

private:
    std::string path_;
    std::intptr_t handle_ = -1;
    bool owned_ = true;      // false: standard input, left open
    bool seekable_ = false;
    std::int64_t size_ = -1;
    std::int64_t next_ = 0;  // where Read goes on
    void* ewf_ = nullptr;    // an EWF image's libewf handle
};

// Whether TImageFile reads EWF (E01) images in this build.
bool ReadsEwfImages();

// Raises ECorvaneError with a text naming both when folder (or, while it does
// not exist yet, the nearest folder above it that does) lies on the device
// that imagePath names: a carve must never write to the disk it reads, not
// even to another partition of it. Nothing is said for an image file.
void RefuseFolderOnImageDevice(const std::string& folder, const std::string& imagePath);

// A file written at any offset, the bytes not written reading as zeros (a
// sparse file where the file system makes one). Created under its name
// only where no file of that name exists, never through a link.
class TPlacedFile {
public:
    // Raises EFCreateError (path, system explanation).
    explicit TPlacedFile(const std::string& path);
    ~TPlacedFile();  // closes it if Close was not called; the file stays
    TPlacedFile(const TPlacedFile&) = delete;
    TPlacedFile& operator=(const TPlacedFile&) = delete;

    const std::string& Path() const { return path_; }
    // Raises EInOutError when the n bytes cannot all be written.
    void WriteAt(std::int64_t offset, const void* data, std::size_t n);
    // Sets the file's length (growing it with zeros) and closes it; raises
    // EInOutError.
    void Close(std::int64_t size);

private:
    std::string path_;
    std::intptr_t handle_ = -1;
};

}  // namespace corvane::fs
