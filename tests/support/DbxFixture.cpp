#include "support/DbxFixture.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace corvane::testsupport {

TDbxWriter::TDbxWriter(std::uint64_t seed, std::string_view folderName) : random_(seed) {
    bytes_.assign(kDbxHeaderSize, '\0');
    PutBytes(0, std::string_view(reinterpret_cast<const char*>(kDbxSignature), sizeof kDbxSignature));
    // A few header fields as the mail program fills them: a version word, the
    // header's own length, and the offset of the folder information.
    PutU32(0x10, 5);
    PutU32(0x14, kDbxHeaderSize);
    PutU32(0x1C, kDbxHeaderSize);
    // Folder information: its length, then the folder's name. It begins with
    // no self offset, so nothing in it looks like a block.
    std::string info(4, '\0');
    info += folderName;
    info.push_back('\0');
    PutBytes(kDbxHeaderSize, info);
    PutU32(kDbxHeaderSize, static_cast<std::uint32_t>(info.size()));
    End();
}

void TDbxWriter::PutBytes(std::uint64_t offset, std::string_view bytes) {
    if (offset + bytes.size() > bytes_.size()) bytes_.resize(offset + bytes.size(), '\0');
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
}

void TDbxWriter::PutU32(std::uint64_t offset, std::uint32_t value) {
    char le[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                  static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF)};
    PutBytes(offset, std::string_view(le, 4));
}

std::uint32_t TDbxWriter::U32At(std::uint64_t offset) const {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        std::uint64_t at = offset + static_cast<std::uint64_t>(i);
        v = (v << 8) | (at < bytes_.size() ? static_cast<unsigned char>(bytes_[at]) : 0u);
    }
    return v;
}

std::string TDbxWriter::TextAt(std::uint64_t offset, std::size_t n) const {
    std::string text(n, ' ');
    for (std::size_t i = 0; i < n; ++i) {
        if (offset + i >= bytes_.size()) break;
        char c = bytes_[offset + i];
        text[i] = c == '\0' ? ' ' : c;
    }
    return text;
}

void TDbxWriter::PutLiveBlock(std::uint32_t offset, std::uint32_t dataLength, std::uint32_t next,
                              std::string_view body) {
    if (body.size() > kBlockText) throw std::invalid_argument("live block body longer than 512 bytes");
    PutU32(offset, offset);
    PutU32(offset + 4ull, kBlockText);
    PutU32(offset + 8ull, dataLength);
    PutU32(offset + 12ull, next);
    PutBytes(offset + 16ull, body);
}

void TDbxWriter::PutDeletedBlock(std::uint32_t offset, std::uint32_t next, std::uint32_t prev,
                                 std::string_view body, std::uint32_t field8) {
    if (body.size() > kDeletedText) throw std::invalid_argument("deleted block body longer than 508 bytes");
    PutU32(offset, offset);
    PutU32(offset + 4ull, kDeletedText);
    PutU32(offset + 8ull, field8);
    PutU32(offset + 12ull, next);
    PutU32(offset + 16ull, prev);
    PutBytes(offset + 20ull, body);
}

std::uint32_t TDbxWriter::End() {
    if (bytes_.size() % 4 != 0) bytes_.resize(bytes_.size() + 4 - bytes_.size() % 4, '\0');
    if (bytes_.size() > 0xFFFFFFFFull) throw std::length_error("folder file beyond 4 GiB");
    return static_cast<std::uint32_t>(bytes_.size());
}

std::uint32_t TDbxWriter::NewBlockSlot() {
    std::uint32_t at = End();
    bytes_.resize(bytes_.size() + kBlockSize, '\0');
    return at;
}

void TDbxWriter::ReserveScatteredSlots(std::size_t count) {
    std::uint32_t at = End();
    bytes_.resize(bytes_.size() + count * kBlockSize, '\0');
    std::vector<std::uint32_t> slots(count);
    for (std::size_t i = 0; i < count; ++i) slots[i] = at + static_cast<std::uint32_t>(i * kBlockSize);
    std::shuffle(slots.begin(), slots.end(), random_);
    // Taken from the back: keep the pool reversed so that the first slots
    // handed out are the first shuffled ones.
    std::reverse(slots.begin(), slots.end());
    pool_.insert(pool_.begin(), slots.begin(), slots.end());
}

std::uint32_t TDbxWriter::AddIndexNode(const std::vector<std::uint32_t>& records) {
    std::uint32_t at = End();
    bytes_.resize(bytes_.size() + kIndexNodeSize, '\0');
    // Own offset, a zero word, the child node (none), the parent node (none),
    // a count byte, then entries of (record offset, child, value).
    PutU32(at, at);
    PutU32(at + 0x11ull, static_cast<std::uint32_t>(std::min<std::size_t>(records.size(), 0x33)));
    std::uint64_t entry = at + 0x18ull;
    for (std::size_t i = 0; i < records.size() && entry + 12 <= at + kIndexNodeSize; ++i, entry += 12)
        PutU32(entry, records[i]);
    return at;
}

std::uint32_t TDbxWriter::AddMessageInfo(std::string_view data) {
    std::uint32_t at = End();
    std::uint32_t size = static_cast<std::uint32_t>((data.size() + 4 + 3) / 4 * 4);
    // A record of exactly a block's body size would read as a block header.
    if (size == kBlockText || size == kDeletedText) size += 4;
    PutU32(at, at);
    PutU32(at + 4ull, size);
    PutU32(at + 8ull, static_cast<std::uint32_t>(data.size()));
    PutBytes(at + 12ull, data);
    bytes_.resize(at + 8ull + size, '\0');
    End();
    return at;
}

TRecordProperty InlineProperty(unsigned number, std::uint32_t value) {
    return {number, true, value & 0xFFFFFF, {}};
}

TRecordProperty DataProperty(unsigned number, std::string data) { return {number, false, 0, std::move(data)}; }

TRecordProperty TextProperty(unsigned number, std::string_view text) {
    std::string data(text);
    data.push_back('\0');
    return DataProperty(number, std::move(data));
}

TRecordProperty U32Property(unsigned number, std::uint32_t value) {
    std::string data(4, '\0');
    for (int i = 0; i < 4; ++i) data[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return DataProperty(number, std::move(data));
}

TRecordProperty DateProperty(unsigned number, int year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                             unsigned second) {
    // Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = static_cast<long long>(era) * 146097 + static_cast<long long>(doe) - 719468;
    const long long seconds = days * 86400 + hour * 3600ll + minute * 60ll + second;
    // FILETIME: 100 ns ticks since 1601-01-01, which lies 11644473600 s before 1970.
    const unsigned long long ticks = static_cast<unsigned long long>(seconds + 11644473600ll) * 10000000ull;
    std::string data(8, '\0');
    for (int i = 0; i < 8; ++i) data[static_cast<std::size_t>(i)] = static_cast<char>((ticks >> (8 * i)) & 0xFF);
    return DataProperty(number, std::move(data));
}

void TDbxWriter::SetKind(std::uint32_t kind) { PutU32(4, kind); }

void TDbxWriter::PutFileInfo(std::string_view folderName) {
    std::string info(0x105, '\0');
    info += folderName;
    info.push_back('\0');
    PutBytes(kDbxHeaderSize, info);
    PutU32(0x1C, static_cast<std::uint32_t>(info.size()));
    End();
}

std::uint32_t TDbxWriter::AddIndexRecord(const std::vector<TRecordProperty>& properties) {
    std::string words, data;
    for (const TRecordProperty& p : properties) {
        std::uint32_t v = p.isInline ? (p.value & 0xFFFFFF) : static_cast<std::uint32_t>(data.size());
        words.push_back(static_cast<char>((p.number & 0x7F) | (p.isInline ? 0x80 : 0)));
        for (int i = 0; i < 3; ++i) words.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        if (!p.isInline) data += p.data;
    }
    std::string body = words + data;
    while (body.size() % 4 != 0 || body.size() == kBlockText || body.size() == kDeletedText) body.push_back('\0');
    const std::uint32_t at = End();
    PutU32(at, at);
    PutU32(at + 4ull, static_cast<std::uint32_t>(body.size()));
    PutBytes(at + 8ull, std::string(4, '\0'));
    PutBytes(at + 0x0Aull, std::string(1, static_cast<char>(properties.size())));
    PutBytes(at + 12ull, body);
    End();
    return at;
}

std::uint32_t TDbxWriter::BuildTree(const std::vector<std::uint32_t>& values, std::size_t from, std::size_t to,
                                    std::uint32_t parent, unsigned perNode) {
    const std::uint32_t at = End();
    bytes_.resize(bytes_.size() + kIndexNodeSize, '\0');
    treeNodes_.push_back(at);
    PutU32(at, at);
    PutU32(at + 0x0Cull, parent);
    const std::size_t n = to - from;
    const auto putCount = [&](unsigned entries) { bytes_[at + 0x11ull] = static_cast<char>(entries); };
    if (n <= perNode) {
        putCount(static_cast<unsigned>(n));
        for (std::size_t i = 0; i < n; ++i) PutU32(at + 0x18ull + 12 * i, values[from + i]);
        return at;
    }
    // perNode entries, and perNode + 1 children sharing the rest evenly:
    // child 0 (at +0x08), entry 0, child 1, entry 1, ...
    const std::size_t rest = n - perNode;
    std::size_t next = from;
    const auto child = [&](std::size_t c) -> std::pair<std::uint32_t, std::uint32_t> {
        const std::size_t size = rest / (perNode + 1) + (c < rest % (perNode + 1) ? 1 : 0);
        if (size == 0) return {0, 0};
        const std::uint32_t node = BuildTree(values, next, next + size, at, perNode);
        next += size;
        return {node, static_cast<std::uint32_t>(size)};
    };
    putCount(perNode);
    const auto first = child(0);
    PutU32(at + 0x08ull, first.first);
    PutU32(at + 0x14ull, first.second);
    for (unsigned e = 0; e < perNode; ++e) {
        const std::uint64_t entry = at + 0x18ull + 12ull * e;
        PutU32(entry, values[next++]);
        const auto c = child(e + 1);
        PutU32(entry + 4, c.first);
        PutU32(entry + 8, c.second);
    }
    return at;
}

std::uint32_t TDbxWriter::AddIndexTree(const std::vector<std::uint32_t>& values, unsigned perNode) {
    treeNodes_.clear();
    const std::uint32_t root = values.empty() ? 0 : BuildTree(values, 0, values.size(), 0, perNode);
    PutU32(0xC4, static_cast<std::uint32_t>(values.size()));
    PutU32(0xE4, root);
    return root;
}

std::uint32_t TDbxWriter::AddMessageRecord(int message, std::vector<TRecordProperty> properties) {
    properties.push_back(U32Property(0x04, BlocksOf(message).front()));
    std::sort(properties.begin(), properties.end(),
              [](const TRecordProperty& a, const TRecordProperty& b) { return a.number < b.number; });
    return AddIndexRecord(properties);
}

std::vector<std::uint32_t> TDbxWriter::TakeSlots(std::size_t count, TBlockOrder order, bool reuseFreed) {
    std::vector<std::uint32_t> slots;
    if (reuseFreed) {
        std::size_t k = std::min(count, freeList_.size());
        slots.assign(freeList_.begin(), freeList_.begin() + static_cast<std::ptrdiff_t>(k));
        freeList_.erase(freeList_.begin(), freeList_.begin() + static_cast<std::ptrdiff_t>(k));
        // The mail program leaves the new head's previous offset as it was.
    }
    std::vector<std::uint32_t> fresh;
    while (slots.size() + fresh.size() < count) {
        if (!pool_.empty()) {
            fresh.push_back(pool_.back());
            pool_.pop_back();
        } else {
            fresh.push_back(NewBlockSlot());
        }
    }
    switch (order) {
        case TBlockOrder::Ascending: std::sort(fresh.begin(), fresh.end()); break;
        case TBlockOrder::Descending: std::sort(fresh.rbegin(), fresh.rend()); break;
        case TBlockOrder::Scattered: std::shuffle(fresh.begin(), fresh.end(), random_); break;
    }
    slots.insert(slots.end(), fresh.begin(), fresh.end());
    return slots;
}

int TDbxWriter::AddMessage(std::string_view text, TBlockOrder order, bool reuseFreed) {
    std::size_t pieces = std::max<std::size_t>(1, (text.size() + kBlockText - 1) / kBlockText);
    Message m;
    m.text = std::string(text);
    m.blocks = TakeSlots(pieces, order, reuseFreed);
    for (std::size_t i = 0; i < pieces; ++i) {
        std::string_view piece = text.substr(std::min(text.size(), i * kBlockText), kBlockText);
        std::uint32_t next = i + 1 < pieces ? m.blocks[i + 1] : 0;
        std::string body(piece);
        body.resize(kBlockText, '\0');  // a reused block keeps no old text
        PutLiveBlock(m.blocks[i], static_cast<std::uint32_t>(piece.size()), next, body);
    }
    messages_.push_back(std::move(m));
    return static_cast<int>(messages_.size() - 1);
}

void TDbxWriter::DeleteMessage(int message) {
    Message& m = messages_.at(message);
    if (m.deleted) throw std::logic_error("message already deleted");
    m.deleted = true;
    for (std::uint32_t block : m.blocks) {
        std::uint32_t prev = freeList_.empty() ? 0 : freeList_.back();
        if (!freeList_.empty()) PutU32(prev + 12ull, block);
        PutU32(block + 4ull, kDeletedText);
        PutU32(block + 8ull, kBlockSize);
        PutU32(block + 12ull, 0);
        PutU32(block + 16ull, prev);  // over the first four text bytes
        freeList_.push_back(block);
    }
}

std::string TDbxWriter::LiveChainText(const std::vector<std::uint32_t>& chain) const {
    std::string text;
    for (std::uint32_t block : chain) text += TextAt(block + 16ull, U32At(block + 8ull) & 0xFFFF);
    return text;
}

std::string TDbxWriter::DeletedChainText(const std::vector<std::uint32_t>& chain) const {
    std::string text;
    for (std::uint32_t block : chain) text += "[??]" + TextAt(block + 20ull, kDeletedText);
    return text;
}

void TDbxWriter::Save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

void TDbxWriter::Release() {
    std::string().swap(bytes_);
    std::vector<std::uint32_t>().swap(pool_);
}

}  // namespace corvane::testsupport
