#include "platform/InputStream.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Errors.h"

namespace corvane::fs {

TInputKind KindOfInput(const std::string& path) {
    struct stat info {};
    const int result = path == "-" ? ::fstat(STDIN_FILENO, &info) : ::stat(path.c_str(), &info);
    if (result != 0) return TInputKind::Missing;
    if (S_ISDIR(info.st_mode)) return path == "-" ? TInputKind::Stream : TInputKind::Folder;
    // Standard input from a plain file is still read once, in order: the
    // program cannot name the file it came from.
    if (S_ISREG(info.st_mode)) return path == "-" ? TInputKind::Stream : TInputKind::RegularFile;
    return TInputKind::Stream;
}

TInputStream::TInputStream(const std::string& path) : path_(path), handle_(STDIN_FILENO), owned_(false) {
    if (path == "-") return;
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw EFOpenError(path, SystemErrorText(errno));
    handle_ = fd;
    owned_ = true;
}

TInputStream::~TInputStream() {
    if (owned_) ::close(static_cast<int>(handle_));
}

std::ptrdiff_t TInputStream::Read(char* buffer, std::size_t size) {
    const ssize_t got = ::read(static_cast<int>(handle_), buffer, size);
    if (got >= 0) return got;
    if (errno == EINTR) return -1;
    throw EInOutError("Cannot read \"" + path_ + "\". " + SystemErrorText(errno));
}

}  // namespace corvane::fs
