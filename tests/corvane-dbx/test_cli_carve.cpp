// corvane-dbx carve: the files, the map and the summary a user gets, and the
// arguments it refuses.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "carve/CarveTestSupport.h"
#include "support/CliRun.h"
#include "support/TestFiles.h"

using namespace corvane::testsupport;

namespace {

struct TCarveImage {
    TScratchFolder Scratch{"corvane-cli-carve"};
    std::string Path;
    std::vector<TPlacedPiece> A, B;
    TCarveImage() {
        TDiskImage image(21, 8 << 20, 63, TFiller::Binary);
        const TCarveFolder a("FolderA", 31, 25, 3, true), b("FolderB", 32, 15, 0, false);
        A = image.Place(a.Bytes(), 3);
        B = image.Place(b.Bytes(), 1);
        Path = Scratch / "disk.img";
        image.Save(Path);
    }
};

TEST(CliCarve, WritesFolderFilesTheOtherCommandsRead) {
    TCarveImage image;
    const std::string out = image.Scratch / "out";
    const TCliResult r = Dbx({"carve", image.Path, "--out", out});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("2 folder files"), std::string::npos) << r.Out;
    const auto map = nlohmann::json::parse(ReadWholeFile(out + "/carve.json"));
    ASSERT_EQ(map["files"].size(), 2u);
    std::size_t complete = 0;
    for (const auto& f : map["files"]) {
        const std::string name = f["file"];
        // The summary names each file, its header and its counts.
        const std::int64_t header = f["headerOffset"];
        char hex[32];
        std::snprintf(hex, sizeof hex, "header at 0x%llX", static_cast<unsigned long long>(header));
        EXPECT_NE(r.Out.find(hex), std::string::npos) << r.Out;
        EXPECT_EQ(f["kind"], "live");
        EXPECT_EQ(f["messages"]["partial"], 0);
        for (const auto& p : f["pieces"]) {
            EXPECT_EQ(p["imageEnd"].get<std::int64_t>() - p["imageStart"].get<std::int64_t>(),
                      p["fileEnd"].get<std::int64_t>() - p["fileStart"].get<std::int64_t>());
        }
        // list reads the reconstructed file as any folder file: one row per complete message.
        const TCliResult list = Dbx({"list", "--format", "json", out + "/" + name});
        ASSERT_EQ(list.Status, 0) << list.Err;
        const std::size_t rows = nlohmann::json::parse(list.Out).size();
        EXPECT_EQ(rows, f["messages"]["complete"].get<std::size_t>()) << name;
        complete += rows;
    }
    EXPECT_EQ(complete, 22u + 15u);
    const std::int64_t headerA = map["files"][0]["headerOffset"];
    EXPECT_EQ(headerA, std::min(image.A[0].Image, image.B[0].Image));
}

TEST(CliCarve, ListWritesNothing) {
    TCarveImage image;
    const TCliResult r = Dbx({"carve", "--list", image.Path});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("2 folder files"), std::string::npos);
    EXPECT_EQ(r.Out.find("->"), std::string::npos) << "no file is named as written";
    EXPECT_EQ(NamesIn(image.Scratch.Path()), std::vector<std::string>{"disk.img"});
}

TEST(CliCarve, ImageWithoutFolderFilesFails) {
    TScratchFolder scratch("corvane-cli-carve");
    TDiskImage image(2, 4 << 20, 63, TFiller::Text);
    image.Save(scratch / "text.img");
    const TCliResult r = Dbx({"carve", "--list", scratch / "text.img"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Out.find("0 folder files"), std::string::npos);
    EXPECT_NE(r.Err.find("no folder file was found"), std::string::npos);
}

TEST(CliCarve, StopKeepsWholeFiles) {
    TCarveImage image;
    const std::string out = image.Scratch / "out";
    std::ostringstream o, e;
    corvane::cli::TConsole console{o, e, 0, false};
    console.StopAt = [](const char* stage, std::int64_t) {
        return std::string(stage) == corvane::carve::kCarveWriteStage ? 15 : 0;
    };
    EXPECT_EQ(corvane::cli::RunCorvaneDbx({"carve", image.Path, "--out", out}, console), 128 + 15);
    EXPECT_NE(e.str().find("stopped"), std::string::npos);
    EXPECT_EQ(NamesIn(out), std::vector<std::string>{"carve.json"});
    EXPECT_EQ(nlohmann::json::parse(ReadWholeFile(out + "/carve.json"))["files"].size(), 0u);
}

TEST(CliCarve, RefusesArgumentsThatMakeNoSense) {
    const std::vector<std::vector<std::string>> bad = {
        {"carve", "disk.img"},                            // neither --out nor --list
        {"carve", "--list", "--out", "x", "disk.img"},    // both
        {"carve", "--list", "--partial", "disk.img"},     // partial messages need a folder
        {"carve", "--out", "x"},                          // no image
        {"carve", "--deleted", "--list", "disk.img"},     // a reading option
        {"carve", "--list=yes", "disk.img"},
    };
    for (const auto& arguments : bad) {
        const TCliResult r = Dbx(arguments);
        EXPECT_EQ(r.Status, 2) << arguments[1];
        EXPECT_TRUE(r.Out.empty());
    }
    const TCliResult help = Dbx({"carve", "--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("usage: corvane-dbx carve"), std::string::npos);
    EXPECT_NE(Dbx({"--help"}).Out.find("carve"), std::string::npos);
}

}  // namespace
