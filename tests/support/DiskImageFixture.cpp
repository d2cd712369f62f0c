#include "support/DiskImageFixture.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "support/DbxFixture.h"

namespace corvane::testsupport {
namespace {

const char* const kWords[] = {"mail", "recover", "disk", "folder", "message", "the", "and", "of", "sector", "cluster",
                              "Outlook", "Express", "block", "offset", "image", "piece", "chain", "header"};

void PutWord(std::string& bytes, std::int64_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(at + i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

TDiskImage::TDiskImage(std::uint64_t seed, std::int64_t bytes, std::int64_t partitionSector, TFiller filler)
    : random_(seed), bytes_(static_cast<std::size_t>(bytes), '\0'), partition_(partitionSector * kImageSector) {
    if (bytes % kImageCluster != 0 || partition_ >= bytes) throw std::invalid_argument("bad image geometry");
    taken_.assign(static_cast<std::size_t>((bytes - partition_) / kImageCluster), false);
    Fill(0, bytes, filler);
}

void TDiskImage::Fill(std::int64_t from, std::int64_t to, TFiller filler) {
    std::uniform_int_distribution<int> byte(0, 255);
    switch (filler) {
        case TFiller::Zeros:
            std::fill(bytes_.begin() + from, bytes_.begin() + to, '\0');
            break;
        case TFiller::Random:
            for (std::int64_t i = from; i < to; ++i) bytes_[static_cast<std::size_t>(i)] = static_cast<char>(byte(random_));
            break;
        case TFiller::Text: {
            std::uniform_int_distribution<std::size_t> word(0, std::size(kWords) - 1);
            std::string text;
            while (static_cast<std::int64_t>(text.size()) < to - from) {
                text += kWords[word(random_)];
                text += random_() % 12 == 0 ? "\r\n" : " ";
            }
            std::copy(text.begin(), text.begin() + (to - from), bytes_.begin() + from);
            break;
        }
        case TFiller::Binary: {
            // Code-like bytes with 0x200 words at 4-aligned places, some of
            // them after a word that makes a block header of a base of their own.
            for (std::int64_t i = from; i < to; ++i)
                bytes_[static_cast<std::size_t>(i)] = static_cast<char>(random_() % 3 == 0 ? 0 : byte(random_));
            for (std::int64_t at = (from + 63) / 4 * 4 + 4; at + 16 <= to; at += 4 * static_cast<std::int64_t>(64 + random_() % 512)) {
                PutWord(bytes_, at, 0x200);
                if (random_() % 50 == 0) {
                    // The word before names a self offset whose base is a
                    // multiple of 512, a base of its own; the length after is
                    // plausible.
                    const std::int64_t pos = at - 4;
                    const std::uint32_t self = static_cast<std::uint32_t>(pos + kImageSector * 3 * ++loneHeaders_);
                    PutWord(bytes_, pos, self);
                    PutWord(bytes_, at + 4, static_cast<std::uint32_t>(random_() % 513));
                }
            }
            break;
        }
    }
}

std::int64_t TDiskImage::FreeRun(std::int64_t clusters) {
    const std::int64_t total = static_cast<std::int64_t>(taken_.size());
    for (int attempt = 0; attempt < 10000; ++attempt) {
        const std::int64_t first = static_cast<std::int64_t>(random_() % static_cast<std::uint64_t>(std::max<std::int64_t>(total - clusters, 1)));
        if (first + clusters > total) continue;
        bool free = true;
        // A free cluster on each side too, so that pieces never touch.
        for (std::int64_t c = std::max<std::int64_t>(first - 1, 0); c < std::min(first + clusters + 1, total) && free; ++c)
            free = !taken_[static_cast<std::size_t>(c)];
        if (free) return first;
    }
    throw std::runtime_error("the image has no free run of that length");
}

void TDiskImage::PlaceAt(const std::string& folder, std::int64_t fileOffset, std::int64_t bytes, std::int64_t cluster) {
    const std::int64_t at = partition_ + cluster * kImageCluster;
    if (at + bytes > static_cast<std::int64_t>(bytes_.size())) throw std::invalid_argument("piece past the image's end");
    std::copy(folder.begin() + fileOffset, folder.begin() + fileOffset + bytes, bytes_.begin() + at);
    for (std::int64_t c = cluster; c < cluster + (bytes + kImageCluster - 1) / kImageCluster; ++c) taken_[static_cast<std::size_t>(c)] = true;
}

std::vector<TPlacedPiece> TDiskImage::Place(const std::string& folder, int pieces) {
    const std::int64_t size = static_cast<std::int64_t>(folder.size());
    const std::int64_t clusters = (size + kImageCluster - 1) / kImageCluster;
    std::vector<std::int64_t> cuts = {0, clusters};
    while (static_cast<int>(cuts.size()) < pieces + 1 && clusters > pieces) {
        const std::int64_t cut = 1 + static_cast<std::int64_t>(random_() % static_cast<std::uint64_t>(clusters - 1));
        if (std::find(cuts.begin(), cuts.end(), cut) == cuts.end()) cuts.push_back(cut);
    }
    std::sort(cuts.begin(), cuts.end());
    std::vector<TPlacedPiece> placed;
    std::vector<std::size_t> order(cuts.size() - 1);
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), random_);
    for (const std::size_t i : order) {
        const std::int64_t fileOffset = cuts[i] * kImageCluster;
        const std::int64_t bytes = std::min(cuts[i + 1] * kImageCluster, size) - fileOffset;
        const std::int64_t cluster = FreeRun(cuts[i + 1] - cuts[i]);
        PlaceAt(folder, fileOffset, bytes, cluster);
        placed.push_back({partition_ + cluster * kImageCluster, fileOffset, bytes});
    }
    std::sort(placed.begin(), placed.end(), [](const TPlacedPiece& a, const TPlacedPiece& b) { return a.File < b.File; });
    return placed;
}

void TDiskImage::Save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> TDiskImage::SaveSplit(const std::string& prefix, std::int64_t pieceBytes) const {
    std::vector<std::string> names;
    for (std::int64_t at = 0, n = 1; at < static_cast<std::int64_t>(bytes_.size()); at += pieceBytes, ++n) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, ".%03d", static_cast<int>(n));
        names.push_back(prefix + suffix);
        std::ofstream out(names.back(), std::ios::binary | std::ios::trunc);
        const std::int64_t bytes = std::min<std::int64_t>(pieceBytes, static_cast<std::int64_t>(bytes_.size()) - at);
        out.write(bytes_.data() + at, static_cast<std::streamsize>(bytes));
        if (!out) throw std::runtime_error("cannot write " + names.back());
    }
    return names;
}

std::string CarveMessageText(const std::string& folder, int number, std::mt19937_64& random) {
    std::string text = "Received: from mx.example.org by mail.example.org; Mon, 3 Mar 2003 10:00:00 +0100\r\n";
    text += "From: sender" + std::to_string(number) + "@example.org\r\n";
    text += "To: reader@example.org\r\n";
    text += "Subject: " + folder + " message " + std::to_string(number) + "\r\n";
    text += "Date: Mon, 3 Mar 2003 10:00:00 +0100\r\n\r\n";
    const std::size_t body = 50 + static_cast<std::size_t>(random() % 3000);
    std::uniform_int_distribution<std::size_t> word(0, std::size(kWords) - 1);
    while (text.size() < body) {
        text += kWords[word(random)];
        text += random() % 10 == 0 ? "\r\n" : " ";
    }
    text += "\r\n-- " + folder + " " + std::to_string(number) + "\r\n";
    return text;
}

std::vector<TImagedFolder> WriteTwoFolderImage(const std::string& path) {
    std::mt19937_64 random(7);
    const auto folderFile = [&random](TImagedFolder& folder, std::uint64_t seed, int messages, int deleted) {
        TDbxWriter writer(seed, folder.Name);
        std::vector<int> numbers;
        for (int m = 0; m < messages; ++m) numbers.push_back(writer.AddMessage(CarveMessageText(folder.Name, m, random)));
        for (int m = 0; m < messages; ++m) {
            if (m < deleted) writer.DeleteMessage(numbers[static_cast<std::size_t>(m)]);
            else folder.Live.push_back(writer.TextOf(numbers[static_cast<std::size_t>(m)]));
        }
        writer.End();
        return writer.Bytes();
    };
    const auto clusters = [](std::int64_t bytes) { return (bytes + kImageCluster - 1) / kImageCluster; };
    std::vector<TImagedFolder> folders = {{"Inbox", 1, {}}, {"Archive", 2, {}}};
    const std::string inbox = folderFile(folders[0], 1, 12, 2);
    const std::string archive = folderFile(folders[1], 2, 9, 0);
    const auto inboxBytes = static_cast<std::int64_t>(inbox.size());
    const auto archiveBytes = static_cast<std::int64_t>(archive.size());
    // Halfway through its blocks, which follow the file's header (0x24BC bytes).
    const std::int64_t cut = (archiveBytes + 0x24BC) / 2 / kImageCluster * kImageCluster;
    if (cut < 0x24BC + 2 * 528 || archiveBytes - cut < 2 * 528) throw std::logic_error("the archive is too small to cut");

    TDiskImage image(7, std::int64_t{2} << 20, 63, TFiller::Text);
    image.PlaceAt(inbox, 0, inboxBytes, 16);
    const std::int64_t tail = 16 + clusters(inboxBytes) + 8;
    image.PlaceAt(archive, cut, archiveBytes - cut, tail);
    image.PlaceAt(archive, 0, cut, tail + clusters(archiveBytes - cut) + 8);
    image.Save(path);
    return folders;
}

}  // namespace corvane::testsupport
