// The carve through its interface: disk images made of folder files placed
// among other data, carved, and the reconstructed files read back with the
// folder reader and compared with the messages placed.

#include <cstring>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "carve/CarveTestSupport.h"
#include "platform/Errors.h"
#include "progress/Progress.h"
#include "support/TestFiles.h"

using namespace corvane::testsupport;
namespace carve = corvane::carve;

namespace {

struct TImageCase {
    const char* Name;
    TFiller Filler;
    std::int64_t PartitionSector;
    std::int64_t ImageMiB;
    int Folders;
    int Pieces;         // per folder file
    bool Scattered;     // messages' blocks spread over the folder file
    bool SameOffsets;   // the folder files share one layout
    bool Overwrite;     // a stretch of blocks of the first folder file overwritten
    std::int64_t SplitBytes;  // > 0: the image saved as raw pieces of this size
    std::uint64_t Seed = 7;   // where the pieces go and what lies around them
    // The pieces leave joins that no rule can tell (two folder files cut at
    // the same offset, between messages): what cannot be joined may stay
    // apart, but nothing is joined wrongly and nothing false comes back.
    bool Ambiguous = false;
    int Messages = 60;  // per folder file
};

class CarveImages : public ::testing::TestWithParam<TImageCase> {};

// The image offsets of a folder file's blocks, from where its pieces went.
std::vector<std::int64_t> BlockPositions(const TCarveFolder& folder, const std::vector<TPlacedPiece>& placed) {
    std::vector<std::int64_t> out;
    for (std::size_t m = 0; m < folder.Writer.MessageCount(); ++m)
        for (const std::uint32_t b : folder.Writer.BlocksOf(static_cast<int>(m)))
            for (const TPlacedPiece& p : placed)
                if (b >= p.File && b < p.File + p.Bytes) out.push_back(p.Image + (b - p.File));
    std::sort(out.begin(), out.end());
    return out;
}

TEST_P(CarveImages, RecoversEveryIntactMessageAndNothingElse) {
    const TImageCase& c = GetParam();
    TScratchFolder scratch("corvane-carve");
    TDiskImage image(c.Seed, c.ImageMiB << 20, c.PartitionSector, c.Filler);
    std::vector<std::unique_ptr<TCarveFolder>> folders;
    std::map<std::string, std::set<std::string>> expected;
    std::map<std::string, std::vector<std::string>> all;
    std::vector<std::pair<std::int64_t, std::int64_t>> overwritten;
    for (int f = 0; f < c.Folders; ++f) {
        const std::string name = std::string("Folder") + static_cast<char>('A' + f);
        const std::uint64_t seed = c.SameOffsets ? 100 : 100 + static_cast<std::uint64_t>(f);
        folders.push_back(std::make_unique<TCarveFolder>(name, seed, c.Messages, 6, c.Scattered, c.SameOffsets && f % 2 == 1));
        const TCarveFolder& folder = *folders.back();
        const std::vector<TPlacedPiece> placed = image.Place(folder.Bytes(), c.Pieces);
        if (c.Overwrite && f == 0) {
            // Sixteen blocks in a row, from the first block's start to the
            // sixteenth's end: every block is whole or gone.
            const std::vector<std::int64_t> blocks = BlockPositions(folder, placed);
            ASSERT_GT(blocks.size(), 60u);
            const std::size_t first = blocks.size() / 2;
            std::size_t last = first + 15;
            while (last > first && blocks[last] - blocks[first] > 64 * 528) --last;
            overwritten.emplace_back(blocks[first], blocks[last] + 528);
            image.Fill(blocks[first], blocks[last] + 528, TFiller::Random);
        }
        // A piece that holds no whole block header cannot be found: the
        // messages with bytes in it are not expected back whole.
        std::vector<bool> findable;
        for (const TPlacedPiece& p : placed) {
            bool header = false;
            for (const std::int64_t b : BlockPositions(folder, {p})) header = header || b + 20 <= p.Image + p.Bytes;
            findable.push_back(header);
        }
        for (const int m : folder.Live) {
            all[name].push_back(folder.Writer.TextOf(m));
            bool intact = true;
            for (const std::uint32_t b : folder.Writer.BlocksOf(m))
                for (std::size_t k = 0; k < placed.size(); ++k) {
                    const TPlacedPiece& p = placed[k];
                    if (b + 528 <= p.File || b >= p.File + p.Bytes) continue;
                    if (!findable[k]) intact = false;
                    for (const auto& [from, to] : overwritten)
                        if (p.Image + (b - p.File) < to && p.Image + (b - p.File) + 528 > from) intact = false;
                }
            if (intact) expected[name].insert(folder.Writer.TextOf(m));
        }
    }
    std::vector<std::string> inputs;
    if (c.SplitBytes > 0) {
        inputs = image.SaveSplit(scratch / "disk", c.SplitBytes);
    } else {
        inputs = {scratch / "disk.img"};
        image.Save(inputs[0]);
    }

    carve::TCarveOptions options;
    options.OutFolder = scratch / "out";
    options.ChunkBytes = 1 << 20;  // many reads, so that blocks lie across their boundaries
    options.Partial = true;
    const carve::TCarveResult result = carve::Carve(inputs, options, nullptr);

    const TCarveCheck check = CheckCarve(result, expected, all);
    std::size_t intact = 0;
    for (const auto& [name, texts] : expected) intact += texts.size();
    EXPECT_EQ(check.WrongJoins, 0u);
    EXPECT_EQ(check.False, 0u);
    if (c.Ambiguous) {
        EXPECT_GT(check.Recovered, intact * 9 / 10);
        EXPECT_EQ(CompleteCount(result), check.Recovered) << "a message cut at an unjoined piece is partial";
        return;
    }
    EXPECT_EQ(check.Recovered, intact);
    EXPECT_EQ(check.Missing, 0u);
    EXPECT_EQ(CompleteCount(result), intact);
    // Each folder file has its header at its base and its deleted blocks with it.
    std::size_t headers = 0;
    for (const auto& file : result.Files) {
        if (file.HeaderOffset) ++headers;
        EXPECT_TRUE(file.Live());
    }
    EXPECT_EQ(headers, static_cast<std::size_t>(c.Folders));
    if (!c.Overwrite) {
        EXPECT_EQ(result.Files.size(), static_cast<std::size_t>(c.Folders));
    }
    // The map names every file written.
    const std::string map = ReadWholeFile(scratch / "out/carve.json");
    for (const auto& file : result.Files)
        EXPECT_NE(map.find("\"recovered-" + std::to_string(file.Number) + ".dbx\""), std::string::npos);

    // Scanned and assembled on the calling thread alone (the other way of
    // reading), and in chunks that do not divide the image, it finds the same.
    carve::TCarveOptions alone;
    alone.Threads = 1;
    alone.ChunkBytes = (1 << 20) + 4096;
    const carve::TCarveResult listing = carve::Carve(inputs, alone, nullptr);
    EXPECT_EQ(carve::CarveMapJson(listing), map);
    EXPECT_EQ(listing.Candidates, result.Candidates);
    EXPECT_EQ(listing.Dropped, result.Dropped);
    // Counted on one thread, the partial messages are the same files, in the
    // same order (a file's count is shared by both threads otherwise).
    alone.OutFolder = scratch / "out-alone";
    alone.Partial = true;
    carve::Carve(inputs, alone, nullptr);
    const std::vector<std::string> partials = NamesIn(scratch / "out/partial");
    EXPECT_EQ(NamesIn(scratch / "out-alone/partial"), partials);
    for (const std::string& name : partials)
        EXPECT_EQ(ReadWholeFile(scratch / ("out-alone/partial/" + name)), ReadWholeFile(scratch / ("out/partial/" + name))) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Images, CarveImages,
    ::testing::Values(TImageCase{"contiguous_in_zeros", TFiller::Zeros, 2048, 8, 1, 1, false, false, false, 0},
                      TImageCase{"fragmented_in_random", TFiller::Random, 2048, 16, 1, 5, true, false, false, 0},
                      TImageCase{"sector63_among_binaries", TFiller::Binary, 63, 16, 2, 3, false, false, false, 0, 8},
                      TImageCase{"three_folders_in_text", TFiller::Text, 63, 24, 3, 4, true, false, false, 0},
                      TImageCase{"same_offsets_fragmented", TFiller::Binary, 63, 16, 2, 4, true, true, false, 0},
                      TImageCase{"partly_overwritten", TFiller::Random, 63, 16, 1, 3, true, false, true, 0},
                      TImageCase{"raw_split_pieces", TFiller::Text, 63, 16, 2, 3, false, false, false, 1000 * 512},
                      TImageCase{"cut_at_one_offset", TFiller::Binary, 63, 16, 2, 3, false, false, false, 0, 7, true},
                      // Blocks enough for the threads to share the joins' work in many stretches.
                      TImageCase{"many_blocks_same_offsets", TFiller::Zeros, 63, 64, 2, 4, true, true, false, 0, 9, false, 4000}),
    [](const ::testing::TestParamInfo<TImageCase>& info) { return std::string(info.param.Name); });

// Data with no folder file in it gives nothing, whatever it holds.
TEST(Carve, FindsNothingInDataWithoutFolderFiles) {
    for (const TFiller filler : {TFiller::Zeros, TFiller::Random, TFiller::Text, TFiller::Binary}) {
        TScratchFolder scratch("corvane-carve");
        TDiskImage image(11, 32 << 20, 63, filler);
        image.Save(scratch / "disk.img");
        carve::TCarveOptions options;
        options.OutFolder = scratch / "out";
        const carve::TCarveResult result = carve::Carve({scratch / "disk.img"}, options, nullptr);
        EXPECT_TRUE(result.Files.empty()) << static_cast<int>(filler);
        EXPECT_EQ(result.ImageBytes, 32 << 20);
        if (filler == TFiller::Binary) {
            EXPECT_GT(result.Candidates, 0) << "the binaries hold lone block headers";
        }
    }
}

// A listing writes nothing and finds what a carve writes.
TEST(Carve, ListingWritesNothingAndAgreesWithTheCarve) {
    TScratchFolder scratch("corvane-carve");
    TDiskImage image(3, 8 << 20, 63, TFiller::Random);
    const TCarveFolder a("FolderA", 1, 40, 4, true), b("FolderB", 2, 30, 0, false);
    image.Place(a.Bytes(), 3);
    image.Place(b.Bytes(), 2);
    image.Save(scratch / "disk.img");
    const carve::TCarveResult listed = carve::Carve({scratch / "disk.img"}, carve::TCarveOptions{}, nullptr);
    EXPECT_EQ(NamesIn(scratch.Path()), std::vector<std::string>{"disk.img"});
    carve::TCarveOptions options;
    options.OutFolder = scratch / "out";
    const carve::TCarveResult carved = carve::Carve({scratch / "disk.img"}, options, nullptr);
    ASSERT_EQ(listed.Files.size(), 2u);
    ASSERT_EQ(carved.Files.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(listed.Files[i].Path.empty());
        EXPECT_EQ(listed.Files[i].Complete, carved.Files[i].Complete);
        EXPECT_EQ(listed.Files[i].Size, carved.Files[i].Size);
        EXPECT_EQ(listed.Files[i].HeaderOffset, carved.Files[i].HeaderOffset);
    }
    EXPECT_EQ(listed.Files[0].Complete + listed.Files[1].Complete, 36u + 30u);
}

// A piece of a folder file that holds no header and no link to the rest is
// a folder file of its own; the pieces of the same folder file are never
// given the same offsets twice.
TEST(Carve, ReconstructedFileHoldsEachPieceAtItsOwnOffset) {
    TScratchFolder scratch("corvane-carve");
    TDiskImage image(5, 8 << 20, 63, TFiller::Text);
    const TCarveFolder a("FolderA", 9, 50, 0, true);
    const std::vector<TPlacedPiece> placed = image.Place(a.Bytes(), 4);
    image.Save(scratch / "disk.img");
    carve::TCarveOptions options;
    options.OutFolder = scratch / "out";
    const carve::TCarveResult result = carve::Carve({scratch / "disk.img"}, options, nullptr);
    ASSERT_EQ(result.Files.size(), 1u);
    const carve::TCarvedFile& file = result.Files[0];
    EXPECT_EQ(file.HeaderOffset, placed[0].Image);
    const std::string bytes = ReadWholeFile(file.Path);
    // Every range the map names holds the image's bytes, and those are the folder file's.
    for (const carve::TCarveRange& r : file.Pieces) {
        ASSERT_LE(r.FileEnd, static_cast<std::int64_t>(bytes.size()));
        EXPECT_EQ(bytes.substr(static_cast<std::size_t>(r.FileStart), static_cast<std::size_t>(r.FileEnd - r.FileStart)),
                  image.Bytes().substr(static_cast<std::size_t>(r.ImageStart), static_cast<std::size_t>(r.ImageEnd - r.ImageStart)));
    }
    // Every block of the folder file is where it was.
    for (std::size_t m = 0; m < a.Writer.MessageCount(); ++m)
        for (const std::uint32_t b : a.Writer.BlocksOf(static_cast<int>(m)))
            EXPECT_EQ(bytes.substr(b, 528), a.Bytes().substr(b, 528)) << b;
}

class TStopAt : public corvane::TProgress {
public:
    TStopAt(const char* stage, int at) : stage_(stage), at_(at) {}
    void Report(const char* Stage, std::int64_t, std::int64_t) override {
        if (std::string(Stage) == stage_) ++heard_;
    }
    bool StopRequested() override { return heard_ >= at_; }

private:
    std::string stage_;
    int at_;
    int heard_ = 0;
};

// A stopped carve leaves each folder file whole or absent, and a map of those it kept.
TEST(Carve, StoppedCarveKeepsWholeFilesOnly) {
    TScratchFolder scratch("corvane-carve");
    TDiskImage image(3, 8 << 20, 63, TFiller::Zeros);
    for (int f = 0; f < 3; ++f) image.Place(TCarveFolder("Folder" + std::to_string(f), 20 + f, 30, 0, false).Bytes(), 1);
    image.Save(scratch / "disk.img");
    carve::TCarveOptions options;
    options.OutFolder = scratch / "whole";
    const carve::TCarveResult whole = carve::Carve({scratch / "disk.img"}, options, nullptr);
    ASSERT_EQ(whole.Files.size(), 3u);

    struct TStopCase {
        const char* Stage;
        int At;
        std::vector<std::string> Left;
    };
    const std::vector<TStopCase> cases = {
        {carve::kCarveScanStage, 1, {}},
        {carve::kCarveWriteStage, 1, {"carve.json"}},
        {carve::kCarveWriteStage, 2, {"carve.json", "recovered-1.dbx"}},
        {carve::kCarveWriteStage, 3, {"carve.json", "recovered-1.dbx", "recovered-2.dbx"}},
    };
    for (const TStopCase& c : cases) {
        const std::string out = scratch / ("stop" + std::to_string(c.At) + c.Stage[0]);
        TStopAt stop(c.Stage, c.At);
        options.OutFolder = out;
        // The files the carve tells of as written are the ones it leaves.
        std::vector<std::string> told;
        options.FileWritten = [&told](const carve::TCarvedFile& f) {
            told.push_back(std::filesystem::path(f.Path).filename().string());
        };
        EXPECT_THROW(carve::Carve({scratch / "disk.img"}, options, &stop), corvane::ECancelled);
        std::vector<std::string> left;
        if (std::filesystem::exists(out)) left = NamesIn(out);
        EXPECT_EQ(left, c.Left) << c.Stage << ' ' << c.At;
        std::vector<std::string> folderFiles = c.Left;
        std::erase(folderFiles, "carve.json");
        EXPECT_EQ(told, folderFiles) << c.Stage << ' ' << c.At;
        for (const std::string& name : left)
            if (name != "carve.json") {
                EXPECT_EQ(ReadWholeFile(out + "/" + name), ReadWholeFile(scratch / ("whole/" + name)));
            }
    }
}

// An input is never replaced by an output, and nothing of it changes.
// A stop heard while the image is read, at any chunk, whichever way it is
// read: nothing is written and the carve's threads end (a thread left
// waiting would hang this test).
TEST(Carve, StopDuringTheScanWritesNothingReadEitherWay) {
    TScratchFolder scratch("corvane-carve");
    TDiskImage image(4, 8 << 20, 63, TFiller::Random);
    image.Place(TCarveFolder("Folder", 21, 30, 0, false).Bytes(), 1);
    image.Save(scratch / "disk.img");
    for (const int threads : {1, 2})
        for (const int at : {1, 2, 3, 7, 8}) {
            carve::TCarveOptions options;
            options.OutFolder = scratch / ("out-" + std::to_string(threads) + "-" + std::to_string(at));
            options.Threads = threads;
            options.ChunkBytes = 1 << 20;  // 8 chunks, half of them read by the carve's own thread
            TStopAt stop(carve::kCarveScanStage, at);
            EXPECT_THROW(carve::Carve({scratch / "disk.img"}, options, &stop), corvane::ECancelled) << threads << ' ' << at;
            EXPECT_FALSE(std::filesystem::exists(options.OutFolder)) << threads << ' ' << at;
        }
}

// A carve whose blocks would not fit in its memory searches the image as far
// as they fit, reconstructs what lies there and says so; with more memory it
// never searches less, and with enough it reads the whole image.
TEST(Carve, FullMemoryStopsTheScanWhereTheBlocksStillFit) {
    TScratchFolder scratch("corvane-carve");
    TDiskImage image(5, 4 << 20, 63, TFiller::Zeros);
    const TCarveFolder a("FolderA", 3, 10, 0, false), b("FolderB", 4, 40, 0, false);  // b's blocks need more
    const auto size = [](const TCarveFolder& f) { return static_cast<std::int64_t>(f.Bytes().size()); };
    image.PlaceAt(a.Bytes(), 0, size(a), 8);    // near the start
    image.PlaceAt(b.Bytes(), 0, size(b), 700);  // past the middle
    image.Save(scratch / "disk.img");
    const auto imageBytes = static_cast<std::int64_t>(image.Bytes().size());
    for (const int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        auto carveWith = [&](std::size_t memory) {
            carve::TCarveOptions options;
            options.Threads = threads;
            options.ChunkBytes = 256 << 10;
            options.MemoryBytes = memory;
            return carve::Carve({scratch / "disk.img"}, options, nullptr);
        };
        // The least memory that finds all of the first folder file.
        auto foundA = [](const carve::TCarveResult& r) { return !r.Files.empty() && r.Files[0].Complete == 10; };
        std::size_t low = 0, high = std::size_t{64} << 20;
        while (low + 1 < high) {
            const std::size_t mid = (low + high) / 2;
            (foundA(carveWith(mid)) ? high : low) = mid;
        }
        const carve::TCarveResult first = carveWith(high);
        EXPECT_TRUE(first.MemoryFull);
        EXPECT_LT(first.ImageBytes, image.PartitionStart() + 700 * kImageCluster);
        ASSERT_EQ(first.Files.size(), 1u);
        EXPECT_EQ(first.Files[0].HeaderOffset, image.PartitionStart() + 8 * kImageCluster);
        EXPECT_NE(carve::CarveMapJson(first).find("\"memoryFull\": true"), std::string::npos);
        const carve::TCarveResult less = carveWith(low);
        EXPECT_TRUE(less.MemoryFull);
        EXPECT_LT(less.ImageBytes, first.ImageBytes);
        std::int64_t searched = 0;
        for (const std::size_t memory : {low, high, high + (4 << 10), high + (64 << 10), std::size_t{64} << 20}) {
            const carve::TCarveResult r = carveWith(memory);
            EXPECT_GE(r.ImageBytes, searched) << memory;
            searched = r.ImageBytes;
            for (const carve::TCarvedFile& f : r.Files)
                for (const carve::TCarveRange& piece : f.Pieces) EXPECT_LE(piece.ImageEnd, r.ImageBytes) << memory;
        }
        const carve::TCarveResult whole = carveWith(carve::TCarveOptions{}.MemoryBytes);
        EXPECT_FALSE(whole.MemoryFull);
        EXPECT_EQ(whole.ImageBytes, imageBytes);
        EXPECT_EQ(whole.Files.size(), 2u);
        EXPECT_EQ(carve::CarveMapJson(whole).find("memoryFull"), std::string::npos);
    }
}

TEST(Carve, RefusesToReplaceAnInput) {
    TScratchFolder scratch("corvane-carve");
    TDiskImage image(3, 4 << 20, 63, TFiller::Zeros);
    image.Place(TCarveFolder("FolderA", 1, 10, 0, false).Bytes(), 1);
    std::filesystem::create_directories(scratch / "out");
    image.Save(scratch / "out/recovered-1.dbx");
    carve::TCarveOptions options;
    options.OutFolder = scratch / "out";
    EXPECT_THROW(carve::Carve({scratch / "out/recovered-1.dbx"}, options, nullptr), EFCreateError);
    EXPECT_EQ(ReadWholeFile(scratch / "out/recovered-1.dbx"), image.Bytes());
}

// Partial messages go into a folder of their own, each as much of its chain as is left.
// The second block of a message of three blocks or more is gone, or a
// deleted block's header stands in its place (the first block still names
// it as next): its head and the rest of its chain are left apart, whether
// the folder file is whole or in pieces.
// Carves the image saved in scratch with its partial messages, which the
// one folder file found holds with `complete` others; their texts.
std::vector<std::string> PartialTexts(const TScratchFolder& scratch, TDiskImage& image, std::int64_t complete, std::int64_t partial) {
    image.Save(scratch / "disk.img");
    carve::TCarveOptions options;
    options.OutFolder = scratch / "out";
    options.Partial = true;
    const carve::TCarveResult result = carve::Carve({scratch / "disk.img"}, options, nullptr);
    std::vector<std::string> texts;
    EXPECT_EQ(result.Files.size(), 1u);
    if (result.Files.size() != 1) return texts;
    EXPECT_EQ(result.Files[0].Complete, complete);
    EXPECT_EQ(result.Files[0].Partial, partial);
    for (const std::string& name : NamesIn(scratch / "out/partial")) texts.push_back(ReadWholeFile(scratch / ("out/partial/" + name)));
    return texts;
}

TEST(Carve, PartialMessagesAreWrittenApart) {
    struct TCase {
        const char* Name;
        int Pieces;
        bool Deleted;
    };
    for (const TCase c : {TCase{"gone", 1, false}, TCase{"deleted", 1, true}, TCase{"deleted, in pieces", 3, true}}) {
        SCOPED_TRACE(c.Name);
        TScratchFolder scratch("corvane-carve");
        TDiskImage image(3, 4 << 20, 63, TFiller::Zeros);
        const TCarveFolder a("FolderA", 4, 20, 0, false);
        const std::vector<TPlacedPiece> placed = image.Place(a.Bytes(), c.Pieces);
        // The last such message: not the file's first blocks.
        const auto longer = std::find_if(a.Live.rbegin(), a.Live.rend(), [&a](int m) { return a.Writer.BlocksOf(m).size() >= 3; });
        ASSERT_NE(longer, a.Live.rend());
        const std::vector<std::uint32_t>& blocks = a.Writer.BlocksOf(*longer);
        std::int64_t gone = -1;
        for (const TPlacedPiece& p : placed)
            if (blocks[1] >= p.File && blocks[1] + 528 <= p.File + p.Bytes) gone = p.Image + (blocks[1] - p.File);
        ASSERT_GE(gone, 0);
        if (c.Deleted) {
            // A deleted block: its own offset, 0x1FC, a word, next (as the
            // live block had it), previous (the message's first block).
            std::string header = a.Bytes().substr(blocks[1], 16);
            const std::uint32_t deletedBody = 0x1FC;
            std::memcpy(header.data() + 4, &deletedBody, 4);
            header.append(reinterpret_cast<const char*>(&blocks[0]), 4);
            image.Write(gone, header);
        } else {
            image.Fill(gone, gone + 528, TFiller::Random);
        }
        // The message's head, and the rest after the gap.
        const std::vector<std::string> partial = PartialTexts(scratch, image, 19, 2);
        ASSERT_EQ(partial.size(), 2u);
        const std::set<std::string> texts(partial.begin(), partial.end());
        const std::string& text = a.Writer.TextOf(*longer);
        EXPECT_EQ(texts.count(text.substr(0, 512)), 1u);
        EXPECT_EQ(texts.count(text.substr(1024)), 1u);
    }
}

// A chain that runs back into itself is a message all the same, partial:
// one whose last block names its second (a head, then a loop), and one whose
// last names its first (a loop alone, no block that nobody names).
TEST(Carve, ChainsThatLoopArePartialMessages) {
    for (const std::size_t back : {std::size_t{1}, std::size_t{0}}) {
        SCOPED_TRACE(back);
        TScratchFolder scratch("corvane-carve");
        TDiskImage image(5, 4 << 20, 63, TFiller::Zeros);
        const TCarveFolder a("FolderA", 4, 20, 0, false);
        const TPlacedPiece placed = image.Place(a.Bytes(), 1).at(0);
        const auto longer = std::find_if(a.Live.begin(), a.Live.end(), [&a](int m) { return a.Writer.BlocksOf(m).size() >= 3; });
        ASSERT_NE(longer, a.Live.end());
        const std::vector<std::uint32_t>& blocks = a.Writer.BlocksOf(*longer);
        // A live block's header: self, 0x200, length, next.
        image.Write(placed.Image + (blocks.back() - placed.File) + 12,
                    std::string(reinterpret_cast<const char*>(&blocks[back]), 4));
        const std::vector<std::string> partial = PartialTexts(scratch, image, 19, 1);
        ASSERT_EQ(partial.size(), 1u);
        // Each block once, from the first (the lowest offset of the loop alone).
        EXPECT_EQ(partial[0], a.Writer.TextOf(*longer));
    }
}

// Two chains that meet (a message's last block names another's second
// block): the walk from the lower offset goes through the shared blocks, the
// other one stops where they begin; both are partial unless the first is whole.
TEST(Carve, ChainsThatMeetAreWalkedFromTheLowerOffsetFirst) {
    for (const bool intoLater : {true, false}) {
        SCOPED_TRACE(intoLater);
        TScratchFolder scratch("corvane-carve");
        TDiskImage image(5, 4 << 20, 63, TFiller::Zeros);
        const TCarveFolder a("FolderA", 4, 20, 0, false);
        const TPlacedPiece placed = image.Place(a.Bytes(), 1).at(0);
        std::vector<int> longer;  // messages of two blocks or more, by offset
        for (const int m : a.Live)
            if (a.Writer.BlocksOf(m).size() >= 2) longer.push_back(m);
        ASSERT_GE(longer.size(), 2u);
        const int first = longer[0], second = longer[1];
        const int from = intoLater ? first : second, into = intoLater ? second : first;
        image.Write(placed.Image + (a.Writer.BlocksOf(from).back() - placed.File) + 12,
                    std::string(reinterpret_cast<const char*>(&a.Writer.BlocksOf(into)[1]), 4));
        const std::string text = a.Writer.TextOf(into);
        if (intoLater) {  // the first runs on into the second's blocks, cut short
            const std::vector<std::string> partial = PartialTexts(scratch, image, 18, 2);
            EXPECT_EQ(partial, (std::vector<std::string>{a.Writer.TextOf(from) + text.substr(512), text.substr(0, 512)}));
        } else {  // the first is whole; the second stops at its blocks
            EXPECT_EQ(PartialTexts(scratch, image, 19, 1), std::vector<std::string>{a.Writer.TextOf(from)});
        }
    }
}

}  // namespace
