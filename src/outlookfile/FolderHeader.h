#pragma once
// The file header of a message folder file, as far as the reader looks at
// it: the scan finds the blocks without it, but the header tells how long
// the file should be, so a file cut short (a copy that stopped, a damaged
// disk) can be told from one that is whole.

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::read {

// Where the header keeps the length of the used part of the file: a 32-bit
// little-endian word.
inline constexpr std::int64_t kUsedSizeOffset = 0x7C;

// The used size the header of the named file gives; nothing when the file
// does not begin with the folder file signature, is too short to hold the
// word, or cannot be read.
std::optional<std::uint32_t> HeaderUsedSize(const std::string& path);

}  // namespace corvane::read
