// ParseMessageFiles on arbitrary bytes as one or two message files, and
// FindLineEnd against a plain search for CR LF. Every summary carries the
// deleted flag asked for, lies inside its file, follows the one before it, and
// its stored values are bytes of the file. With whole messages each file gives
// one record at most, the default parse's first record stretched to the end
// of the file.
//
// Input: a flag byte (bit 0: deleted, bit 1: two files, bit 2: whole
// messages), two bytes giving
// where the second file starts, two bytes giving a start offset for the line
// end search, then the files' bytes.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "emailparser/emailparser.h"

namespace {

std::int64_t PlainLineEnd(std::string_view bytes, std::int64_t start) {
    const std::size_t from = static_cast<std::size_t>(std::max<std::int64_t>(start, 0));
    if (from >= bytes.size()) return -1;
    const std::size_t at = bytes.find("\r\n", from);
    return at == std::string_view::npos ? -1 : static_cast<std::int64_t>(at);
}

void CheckValue(const std::string& value, std::string_view file) {
    FUZZ_CHECK(value.empty() || file.find(value) != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint32_t flags = fuzzsupport::Take(data, size, 1);
    const std::uint32_t split = fuzzsupport::Take(data, size, 2);
    const std::int64_t lineStart = static_cast<std::int16_t>(fuzzsupport::Take(data, size, 2));
    const bool deleted = (flags & 1) != 0;
    const bool whole = (flags & 4) != 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    std::string_view parts[2] = {bytes, {}};
    std::size_t count = 1;
    if ((flags & 2) != 0) {
        const std::size_t at = std::min<std::size_t>(split, bytes.size());
        parts[0] = bytes.substr(0, at);
        parts[1] = bytes.substr(at);
        count = 2;
    }

    fuzzsupport::TScratch scratch;
    TMessageFiles files;
    for (std::size_t i = 0; i < count; ++i) files.push_back(scratch.Put("msg" + std::to_string(i + 1) + ".tmp", parts[i]));

    const TEmailArray emails = ParseMessageFiles(files, deleted, whole);
    std::size_t file = 0;
    std::int64_t lastStart = 0;
    std::string lastFile;
    for (const TEmail& e : emails) {
        if (whole) {
            FUZZ_CHECK(e.FileName != lastFile);
            lastFile = e.FileName;
            const TEmailArray split = ParseMessageFiles({e.FileName}, deleted);
            FUZZ_CHECK(!split.empty() && split[0].From == e.From && split[0].To == e.To &&
                       split[0].Subject == e.Subject && split[0].Date == e.Date && split[0].HeaderEnd == e.HeaderEnd &&
                       e.MessageStart <= split[0].MessageStart);
        }
        FUZZ_CHECK(e.Deleted == (deleted ? 1 : 0));
        while (file < count && e.FileName != files[file]) {
            ++file;
            lastStart = 0;
        }
        FUZZ_CHECK(file < count);  // in list order, each file's records together
        const std::string_view content = parts[file];
        const auto length = static_cast<std::int64_t>(content.size());
        FUZZ_CHECK(lastStart <= e.MessageStart);
        FUZZ_CHECK(0 <= e.MessageStart && e.MessageStart <= e.MessageEnd && e.MessageEnd <= length);
        FUZZ_CHECK(e.HeaderEnd == 0 || (e.MessageStart <= e.HeaderEnd && e.HeaderEnd <= e.MessageEnd));
        FUZZ_CHECK(!whole || e.MessageEnd == length);
        CheckValue(e.From, content);
        CheckValue(e.To, content);
        CheckValue(e.Subject, content);
        CheckValue(e.Date, content);
        lastStart = e.MessageStart;
    }

    for (std::size_t i = 0; whole && i < count; ++i) {
        const bool listed = std::any_of(emails.begin(), emails.end(), [&](const TEmail& e) { return e.FileName == files[i]; });
        FUZZ_CHECK(listed == !ParseMessageFiles({files[i]}, deleted).empty());
    }

    for (std::size_t i = 0; i < count; ++i) {
        FUZZ_CHECK(FindLineEnd(files[i], lineStart) == PlainLineEnd(parts[i], lineStart));
        FUZZ_CHECK(FindLineEnd(files[i], 0) == PlainLineEnd(parts[i], 0));
    }
    return 0;
}
