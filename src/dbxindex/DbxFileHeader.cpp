#include "dbxindex/DbxFileHeader.h"

#include <algorithm>
#include <vector>

namespace corvane::dbx {

TDbxFileHeader ReadFileHeader(const TByteSource& source) {
    TDbxFileHeader header;
    std::vector<unsigned char> bytes(kRootNodeOffset + 4);
    if (source.Size() < static_cast<std::int64_t>(kHeaderSize) ||
        source.ReadAt(0, bytes.data(), bytes.size()) != bytes.size())
        return header;
    const std::uint32_t kind = U32At(bytes.data() + kKindOffset);
    header.Kind = kind == kMessageFolderKind ? TFileKind::MessageFolder
                  : kind == kFolderListKind  ? TFileKind::FolderList
                                             : TFileKind::Other;
    header.RecordCount = U32At(bytes.data() + kRecordCountOffset);
    header.RootNode = U32At(bytes.data() + kRootNodeOffset);
    header.FileInfoLength = U32At(bytes.data() + kFileInfoLengthOffset);
    if (header.Kind == TFileKind::MessageFolder && header.FileInfoLength > kFolderNameOffset) {
        const std::uint32_t room = std::min(header.FileInfoLength - kFolderNameOffset, kMaxFolderName);
        std::string name(room, '\0');
        const std::size_t got = source.ReadAt(kHeaderSize + kFolderNameOffset, name.data(), name.size());
        name.resize(got);
        // A name needs its NUL within the object; one without is no name.
        if (const auto end = name.find('\0'); end != std::string::npos) header.FolderName = name.substr(0, end);
    }
    return header;
}

}  // namespace corvane::dbx
