// GetEmails on arbitrary bytes as a folder file, with and without deleted
// messages. Whatever the bytes, the read completes without an error, every
// summary points into its own message file, the live summaries are the same
// whether or not deleted messages are wanted, and nothing is written but the
// message files in the temporary folder.

#include <cstdint>
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "outlookfile/outlookfile.h"

namespace {

std::int64_t FileSize(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    FUZZ_CHECK(!ec);
    return static_cast<std::int64_t>(size);
}

void CheckSummaries(const TEmailArray& emails, const fuzzsupport::TScratch& scratch) {
    const std::string folder = scratch.MessageFolder() + "/";
    for (const TEmail& e : emails) {
        FUZZ_CHECK(e.FileName.starts_with(folder));
        const std::string name = e.FileName.substr(folder.size());
        FUZZ_CHECK(name.starts_with(e.Deleted != 0 ? "delmsg" : "msg"));
        const std::int64_t size = FileSize(e.FileName);
        FUZZ_CHECK(0 <= e.MessageStart && e.MessageStart <= e.MessageEnd && e.MessageEnd <= size);
        FUZZ_CHECK(e.HeaderEnd == 0 || (e.MessageStart <= e.HeaderEnd && e.HeaderEnd <= e.MessageEnd));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::TScratch scratch;
    const std::string folderFile =
        scratch.Put("folder.dbx", std::string_view(reinterpret_cast<const char*>(data), size));

    TEmailArray live;
    {
        Toutlookfile reader;
        live = reader.GetEmails(folderFile, false);
    }
    for (const TEmail& e : live) FUZZ_CHECK(e.Deleted == 0);
    CheckSummaries(live, scratch);

    TEmailArray all;
    {
        Toutlookfile reader;
        all = reader.GetEmails(folderFile, true);
    }
    CheckSummaries(all, scratch);
    // The live summaries first, as without the deleted ones, then the deleted.
    FUZZ_CHECK(all.size() >= live.size());
    for (std::size_t i = 0; i < live.size(); ++i) FUZZ_CHECK(all[i] == live[i]);
    for (std::size_t i = live.size(); i < all.size(); ++i) FUZZ_CHECK(all[i].Deleted == 1);

    FUZZ_CHECK(scratch.HoldsOnly({folderFile}));
    return 0;
}
