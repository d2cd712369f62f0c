// The carve on arbitrary bytes as a disk image. Whatever the bytes, the carve
// completes without an error, leaves the image as it was, writes nothing but
// the reconstructed files and their map into its output folder, agrees with
// its own listing, and every file is as the map describes it: pieces in file
// order inside the image and the file, holes between them, every live block
// counted in at most one message.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "carve/Carve.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::TScratch scratch;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string image = scratch.Put("disk.img", bytes);

    corvane::carve::TCarveOptions options;
    options.ChunkBytes = 4096;  // the smallest reads: blocks across every boundary
    options.Chunks = 2;
    const corvane::carve::TCarveResult listed = corvane::carve::Carve({image}, options, nullptr);
    options.OutFolder = scratch.File("out");
    options.Partial = true;
    const corvane::carve::TCarveResult carved = corvane::carve::Carve({image}, options, nullptr);

    FUZZ_CHECK(ReadAll(image) == bytes);
    FUZZ_CHECK(carved.ImageBytes == static_cast<std::int64_t>(size));
    FUZZ_CHECK(listed.Files.size() == carved.Files.size());
    std::set<std::string> names = {"carve.json"};
    for (std::size_t i = 0; i < carved.Files.size(); ++i) {
        const corvane::carve::TCarvedFile& f = carved.Files[i];
        FUZZ_CHECK(f.Number == static_cast<int>(i + 1));
        FUZZ_CHECK(listed.Files[i].Complete == f.Complete && listed.Files[i].Partial == f.Partial);
        FUZZ_CHECK(listed.Files[i].Size == f.Size);
        FUZZ_CHECK(f.Complete + f.Partial <= f.LiveBlocks);
        FUZZ_CHECK(f.LiveBlocks + f.DeletedBlocks >= 1);
        std::error_code ec;
        FUZZ_CHECK(static_cast<std::int64_t>(std::filesystem::file_size(f.Path, ec)) == f.Size && !ec);
        names.insert(std::filesystem::path(f.Path).filename().string());
        std::int64_t at = 0;
        std::size_t hole = 0;
        FUZZ_CHECK(!f.Pieces.empty());
        for (const auto& r : f.Pieces) {
            FUZZ_CHECK(0 <= r.ImageStart && r.ImageStart < r.ImageEnd && r.ImageEnd <= carved.ImageBytes);
            FUZZ_CHECK(r.FileEnd - r.FileStart == r.ImageEnd - r.ImageStart);
            FUZZ_CHECK(r.FileStart >= at);
            if (r.FileStart > at) {
                FUZZ_CHECK(hole < f.Holes.size() && f.Holes[hole].first == at && f.Holes[hole].second == r.FileStart);
                ++hole;
            }
            at = r.FileEnd;
        }
        FUZZ_CHECK(hole == f.Holes.size() && at == f.Size);
    }
    for (const auto& entry : std::filesystem::directory_iterator(scratch.File("out"))) {
        const std::string name = entry.path().filename().string();
        if (name == "partial") continue;
        FUZZ_CHECK(names.count(name) == 1);
    }
    return 0;
}
