#pragma once
// Reads and writes at a file offset on a handle opened without
// FILE_FLAG_OVERLAPPED: each call names its offset in an OVERLAPPED, so no
// file pointer is shared, and moves at most 1 GiB, as a DWORD count allows.

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace corvane::fs::positioned {

inline OVERLAPPED At(std::int64_t offset) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ov;
}

inline DWORD Piece(std::size_t left) { return static_cast<DWORD>(left > (1u << 30) ? (1u << 30) : left); }

// Up to n bytes from offset into buffer; done tells how many came (fewer at
// the end of the file). False, with GetLastError telling why, when the
// system refused.
inline bool Read(HANDLE h, std::int64_t offset, void* buffer, std::size_t n, std::size_t& done) {
    auto* out = static_cast<char*>(buffer);
    done = 0;
    while (done < n) {
        OVERLAPPED ov = At(offset + static_cast<std::int64_t>(done));
        DWORD got = 0;
        if (!::ReadFile(h, out + done, Piece(n - done), &got, &ov)) return ::GetLastError() == ERROR_HANDLE_EOF;
        if (got == 0) break;
        done += got;
    }
    return true;
}

// All n bytes at offset. False, with GetLastError telling why, when the
// system refused or wrote nothing.
inline bool Write(HANDLE h, std::int64_t offset, const void* data, std::size_t n) {
    const auto* in = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < n) {
        OVERLAPPED ov = At(offset + static_cast<std::int64_t>(done));
        DWORD put = 0;
        if (!::WriteFile(h, in + done, Piece(n - done), &put, &ov) || put == 0) return false;
        done += put;
    }
    return true;
}

}  // namespace corvane::fs::positioned
