// The carve never writes to the device it reads: an output folder on that
// device, or on a partition of that disk, is refused before anything is
// read. The device is the one that holds the test's own scratch folder; only
// its status is asked for, so no read access to it is needed.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "carve/Carve.h"
#include "platform/Errors.h"
#include "platform/ImageFiles.h"
#include "support/ProgressSpy.h"
#include "support/TestFiles.h"

using namespace corvane::testsupport;
namespace carve = corvane::carve;
namespace fs = corvane::fs;

namespace {

// The device node named in a folder of /sys/dev/block (its uevent's DEVNAME), if it is one.
std::string NodeOf(const std::filesystem::path& sys) {
    std::ifstream uevent(sys / "uevent");
    for (std::string line; std::getline(uevent, line);)
        if (line.rfind("DEVNAME=", 0) == 0) {
            const std::string node = "/dev/" + line.substr(8);
            struct stat st {};
            return ::stat(node.c_str(), &st) == 0 && S_ISBLK(st.st_mode) ? node : std::string();
        }
    return {};
}

// The block device that holds path, and the whole disk when it is a
// partition of one; empty where there is none (a folder in memory, an
// overlay of a container).
struct TDevices {
    std::string Device, Disk;
};
TDevices DevicesOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    std::error_code ec;
    const std::filesystem::path sys = std::filesystem::canonical(
        "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)), ec);
    if (ec) return {};
    TDevices d;
    d.Device = NodeOf(sys);
    if (std::filesystem::exists(sys / "partition")) d.Disk = NodeOf(sys.parent_path());
    return d;
}

TEST(CarveDevice, RefusesAnOutputFolderOnTheDeviceBeingRead) {
    TScratchFolder scratch("corvane-carve");
    const TDevices d = DevicesOf(scratch.Path());
    if (d.Device.empty()) GTEST_SKIP() << "the scratch folder " << scratch.Path() << " is on no block device here";
    for (const std::string& device : {d.Device, d.Disk}) {
        if (device.empty()) continue;
        SCOPED_TRACE(device);
        carve::TCarveOptions options;
        options.OutFolder = scratch / "out";
        TProgressSpy progress;
        progress.StopAt = 1;  // were the device read after all, the carve would stop at once
        try {
            carve::Carve({device}, options, &progress);
            FAIL() << "carved into a folder on the device read";
        } catch (const ECorvaneError& e) {
            EXPECT_NE(std::string(e.what()).find("is on the device being read"), std::string::npos) << e.what();
        }
        EXPECT_EQ(progress.Reports(), 0) << "refused only after reading";
        EXPECT_FALSE(std::filesystem::exists(scratch / "out"));
    }
    // A folder elsewhere (in memory, or in a folder that does not exist yet
    // on another file system) is not refused.
    if (std::filesystem::is_directory("/dev/shm")) {
        struct stat shm {}, here {};
        if (::stat("/dev/shm", &shm) == 0 && ::stat(scratch.Path().c_str(), &here) == 0 && shm.st_dev != here.st_dev) {
            EXPECT_NO_THROW(fs::RefuseFolderOnImageDevice("/dev/shm/corvane-not-made/out", d.Device));
        }
    }
}

}  // namespace
