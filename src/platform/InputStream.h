#pragma once
// Inputs that are not plain files: standard input and the names of pipes,
// sockets and devices, which can be read once from their start but not at
// any offset. The command line copies such an input into a file of its run
// before it reads it as a folder file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace corvane::fs {

// What a name given as input stands for (links followed).
enum class TInputKind {
    Missing,      // nothing of that name, or it cannot be asked about
    RegularFile,  // a plain file: read where it lies
    Folder,
    Stream,       // a pipe, a socket, a device: read once, in order
};
// "-" is standard input: RegularFile when it is redirected from a plain file
// the system can name, else Stream.
TInputKind KindOfInput(const std::string& path);

// Reads a stream in order, raw bytes.
class TInputStream {
public:
    // "-": standard input (binary mode); else the named input, opened for
    // reading (a named pipe: once a writer opens it). Raises EFOpenError.
    explicit TInputStream(const std::string& path);
    ~TInputStream();
    TInputStream(const TInputStream&) = delete;
    TInputStream& operator=(const TInputStream&) = delete;

    // Reads up to size bytes: how many were read, 0 at the end of the stream,
    // -1 when a signal came first (the caller may look at its stop and read
    // again). Raises EInOutError when the system fails the read.
    std::ptrdiff_t Read(char* buffer, std::size_t size);

private:
    std::string path_;
    std::intptr_t handle_;
    bool owned_;  // closed at the end (standard input is not)
};

}  // namespace corvane::fs
