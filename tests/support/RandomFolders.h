#pragma once
// Random folder files for the tests that compare two ways of reading one:
// messages of random header and body lines (known and unknown headers, quote
// markers, long lines across blocks, NUL bytes, stray CRs, a missing last
// line end), laid out in blocks in any order, some deleted.

#include <random>
#include <string>

#include "support/DbxFixture.h"

namespace corvane::testsupport {

// A message of random lines; its first line is followed by a Subject naming
// number.
std::string RandomMessage(std::mt19937_64& random, int number);

// A folder file of 1 to maxMessages random messages in random block orders,
// some in reused blocks, about a third deleted, scattered among up to 200
// spare block slots.
TDbxWriter RandomFolderFile(std::mt19937_64& random, std::uint64_t seed, int maxMessages = 40);

}  // namespace corvane::testsupport
