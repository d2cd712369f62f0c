// An EWF (E01) image, made by Debian's ewfacquirestream from a raw image in
// several segment files, carves as the raw image does; a raw image that only
// begins as an EWF segment does is carved as raw.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "carve/CarveTestSupport.h"
#include "platform/ImageFiles.h"
#include "support/TestFiles.h"

using namespace corvane::testsupport;
namespace carve = corvane::carve;

namespace {

TEST(CarveEwf, SegmentedImageGivesWhatTheRawImageGives) {
    if (!corvane::fs::ReadsEwfImages()) GTEST_SKIP() << "this build reads no EWF images (libewf was not found)";
    if (std::system("command -v ewfacquirestream >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ewfacquirestream (Debian's ewf-tools) is not installed";
    TScratchFolder scratch("corvane-carve");
    TDiskImage image(13, 6 << 20, 63, TFiller::Random);
    const TCarveFolder a("FolderA", 51, 30, 3, true), b("FolderB", 52, 20, 0, false);
    image.Place(a.Bytes(), 3);
    image.Place(b.Bytes(), 2);
    image.Save(scratch / "disk.raw");
    // Segment files of 1 MiB: disk.E01 ... disk.E07.
    const std::string make = "ewfacquirestream -q -S 1048576 -t '" + scratch / "disk" + "' < '" + scratch / "disk.raw" +
                             "' > '" + scratch / "ewf.log" + "' 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0) << ReadWholeFile(scratch / "ewf.log");
    ASSERT_TRUE(std::filesystem::exists(scratch / "disk.E02"));

    carve::TCarveOptions options;
    options.OutFolder = scratch / "raw";
    const carve::TCarveResult raw = carve::Carve({scratch / "disk.raw"}, options, nullptr);
    options.OutFolder = scratch / "ewf";
    const carve::TCarveResult ewf = carve::Carve({scratch / "disk.E01"}, options, nullptr);
    EXPECT_EQ(ewf.ImageBytes, raw.ImageBytes);
    ASSERT_EQ(ewf.Files.size(), 2u);
    ASSERT_EQ(raw.Files.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(ReadWholeFile(ewf.Files[i].Path), ReadWholeFile(raw.Files[i].Path));
    EXPECT_EQ(ewf.Files[0].Complete + ewf.Files[1].Complete, 27u + 20u);
}

TEST(CarveEwf, RawImageThatBeginsAsEwfDoesIsReadRaw) {
    if (!corvane::fs::ReadsEwfImages()) GTEST_SKIP() << "this build refuses EWF images by their first bytes";
    TScratchFolder scratch("corvane-carve");
    TDiskImage image(14, 2 << 20, 63, TFiller::Zeros);
    image.Place(TCarveFolder("FolderA", 53, 12, 0, true).Bytes(), 1);
    image.Save(scratch / "disk.img");
    carve::TCarveOptions options;
    const carve::TCarveResult plain = carve::Carve({scratch / "disk.img"}, options, nullptr);
    WriteAt(scratch / "disk.img", 0, std::string("EVF\x09\x0d\x0a\xff\x00", 8));
    const carve::TCarveResult ewfLike = carve::Carve({scratch / "disk.img"}, options, nullptr);
    EXPECT_EQ(ewfLike.ImageBytes, plain.ImageBytes);
    ASSERT_EQ(ewfLike.Files.size(), 1u);
    EXPECT_EQ(ewfLike.Files[0].Complete, plain.Files.at(0).Complete);
}

}  // namespace
