#include "outlookfile/FolderHeader.h"

#include <algorithm>
#include <exception>
#include <iterator>

#include "outlookfile/outlookfile.h"
#include "platform/Files.h"

namespace corvane::read {

std::optional<std::uint32_t> HeaderUsedSize(const std::string& path) {
    try {
        const corvane::fs::TReadFile file(path, corvane::fs::Share::All);
        unsigned char start[sizeof kFolderFileSignature] = {};
        if (file.ReadAt(0, start, sizeof start) != sizeof start ||
            !std::equal(std::begin(start), std::end(start), std::begin(kFolderFileSignature)))
            return std::nullopt;
        unsigned char word[4] = {};
        if (file.ReadAt(kUsedSizeOffset, word, sizeof word) != sizeof word) return std::nullopt;
        return std::uint32_t{word[0]} | std::uint32_t{word[1]} << 8 | std::uint32_t{word[2]} << 16 |
               std::uint32_t{word[3]} << 24;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace corvane::read
