// The index readers on arbitrary bytes, as a mail folder file and as a
// Folders.dbx: whatever the bytes, the reads end without an error, a read
// that is not usable says why, and nothing found is more than the bytes can
// hold (each value of the tree needs a node entry of 12 bytes).

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "dbxindex/MessageIndex.h"
#include "dbxindex/Store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const corvane::dbx::TMemorySource source(bytes);

    const corvane::dbx::TMessageIndex index = corvane::dbx::ReadMessageIndex(source);
    FUZZ_CHECK(index.Usable || !index.Problem.empty());
    FUZZ_CHECK(index.Entries.size() <= size / 12);
    const corvane::dbx::TMessageIndex again = corvane::dbx::ReadMessageIndex(source);
    FUZZ_CHECK(again.Entries.size() == index.Entries.size() && again.Problem == index.Problem);

    // The same bytes as a folder list: the kind word says which it is, so
    // the fuzzer's inputs that reach a tree are tried as both.
    std::string list(bytes);
    if (list.size() >= 8) list[4] = static_cast<char>(0xC6);
    std::string problem;
    const auto folders = corvane::dbx::ReadFolderList(corvane::dbx::TMemorySource(list), problem);
    FUZZ_CHECK(folders.size() <= size / 12);
    for (const auto& f : folders) FUZZ_CHECK(!f.Path.empty() && f.Path.size() <= 64);
    return 0;
}
