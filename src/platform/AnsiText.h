#pragma once
// The system's 8-bit (ANSI) code page: upper-casing and conversion to and from
// Unicode. On Windows these are the system calls for the active code page;
// elsewhere the code page is Windows-1252, the code page of the mail these
// folder files hold in Western Europe and the Americas.

#include <cstddef>
#include <string>

namespace corvane::ansi {

// Upper-cases n bytes in place (CharUpperBuffA on Windows).
void UpperBuffer(unsigned char* bytes, std::size_t n);

// 8-bit text in the ANSI code page to UTF-8. Every byte maps to one character,
// so nothing is lost (bytes the code page leaves undefined map to U+0080..U+009F).
std::string ToUtf8(const std::string& ansi);

// UTF-8 to the ANSI code page; characters it cannot hold become '?'.
std::string FromUtf8(const std::string& utf8);

}  // namespace corvane::ansi
