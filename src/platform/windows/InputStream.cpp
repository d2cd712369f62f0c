#include "platform/InputStream.h"

#include <windows.h>

#include "platform/Errors.h"

namespace corvane::fs {

TInputKind KindOfInput(const std::string& path) {
    if (path == "-") return TInputKind::Stream;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return TInputKind::Missing;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return TInputKind::Folder;
    const HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return TInputKind::RegularFile;  // opening it tells the reason
    const DWORD type = ::GetFileType(h);
    ::CloseHandle(h);
    return type == FILE_TYPE_DISK ? TInputKind::RegularFile : TInputKind::Stream;
}

TInputStream::TInputStream(const std::string& path) : path_(path), handle_(0), owned_(false) {
    if (path == "-") {
        handle_ = reinterpret_cast<std::intptr_t>(::GetStdHandle(STD_INPUT_HANDLE));
        return;
    }
    const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw EFOpenError(path, LastSystemErrorText());
    handle_ = reinterpret_cast<std::intptr_t>(h);
    owned_ = true;
}

TInputStream::~TInputStream() {
    if (owned_) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::ptrdiff_t TInputStream::Read(char* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, want, &got, nullptr)) return static_cast<std::ptrdiff_t>(got);
    const DWORD error = ::GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;  // the writer closed its end
    if (error == ERROR_OPERATION_ABORTED) return -1;
    throw EInOutError("Cannot read \"" + path_ + "\". " + SystemErrorText(static_cast<int>(error)));
}

}  // namespace corvane::fs
