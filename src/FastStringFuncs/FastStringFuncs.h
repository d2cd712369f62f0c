#pragma once
// Substring copy with clamping.

#include <string>

// At most Count bytes of S from the 1-based position Start: the rest of S when
// fewer are left, the empty string when S is empty, Start < 1, Count < 1 or
// Start lies past the end.
std::string CopyFrom(const std::string& S, int Start, int Count);
