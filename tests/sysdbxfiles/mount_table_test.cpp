// Reading the Linux mount table and choosing the mounts that are local fixed
// disks, on mountinfo texts of the kinds of machines the search meets.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/MountTable.h"

namespace {

using corvane::drives::ParseMountInfo;
using corvane::drives::SelectFixedMounts;
using corvane::drives::TMountEntry;
using Paths = std::vector<std::string>;

bool NothingRemovable(const TMountEntry&) { return false; }

Paths Fixed(const std::string& text, const corvane::drives::TRemovableQuery& removable = NothingRemovable) {
    return SelectFixedMounts(ParseMountInfo(text), removable);
}

// A laptop with Debian on an NVMe disk, a second internal disk, snaps, a
// DVD in the drive and the usual pseudo file systems.
const std::string kDesktop =
    "22 28 0:21 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw\n"
    "23 28 0:22 / /proc rw,nosuid,nodev,noexec,relatime shared:13 - proc proc rw\n"
    "24 28 0:5 / /dev rw,nosuid,relatime shared:2 - devtmpfs udev rw,size=8052156k,nr_inodes=2013039,mode=755\n"
    "25 24 0:23 / /dev/pts rw,nosuid,noexec,relatime shared:3 - devpts devpts rw,gid=5,mode=620,ptmxmode=000\n"
    "26 28 0:24 / /run rw,nosuid,nodev,noexec,relatime shared:5 - tmpfs tmpfs rw,size=1615300k,mode=755\n"
    "28 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
    "29 22 0:6 / /sys/kernel/security rw,nosuid,nodev,noexec,relatime shared:8 - securityfs securityfs rw\n"
    "30 24 0:25 / /dev/shm rw,nosuid,nodev shared:4 - tmpfs tmpfs rw\n"
    "32 22 0:27 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 cgroup2 rw,nsdelegate\n"
    "40 28 7:0 / /snap/core20/2015 ro,nodev,relatime shared:40 - squashfs /dev/loop0 ro\n"
    "45 28 259:1 / /boot/efi rw,relatime shared:31 - vfat /dev/nvme0n1p1 rw,fmask=0077,dmask=0077,codepage=437\n"
    "47 28 259:3 / /home rw,relatime shared:33 - ext4 /dev/nvme0n1p3 rw\n"
    "50 28 8:17 / /media/data\\040disk rw,relatime shared:35 - ntfs3 /dev/sdb1 rw,uid=1000\n"
    "52 26 0:46 / /run/user/1000 rw,nosuid,nodev,relatime shared:300 - tmpfs tmpfs rw,size=1615296k,mode=700\n"
    "53 52 0:47 / /run/user/1000/gvfs rw,nosuid,nodev,relatime shared:310 - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "60 28 252:0 / /var/cache/swapcache rw,relatime shared:41 - ext4 /dev/zram0 rw\n"
    "61 28 1:0 / /mnt/ramdisk rw,relatime shared:42 - ext2 /dev/ram0 rw\n"
    "71 47 11:0 / /media/user/DVD ro,nosuid,nodev,relatime shared:400 - iso9660 /dev/sr0 ro,nojoliet\n"
    "72 47 11:1 / /media/user/BLURAY ro,nosuid,nodev,relatime shared:401 - udf /dev/sr1 ro\n";

TEST(MountTable, ParsesEveryFieldOfALine) {
    const auto entries = ParseMountInfo(
        "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 shared:7 - ext3 /dev/root rw,errors=continue\n");
    ASSERT_EQ(entries.size(), 1u);
    const TMountEntry& e = entries[0];
    EXPECT_EQ(e.MountId, 36);
    EXPECT_EQ(e.ParentId, 35);
    EXPECT_EQ(e.Major, 98u);
    EXPECT_EQ(e.Minor, 0u);
    EXPECT_EQ(e.Root, "/mnt1");
    EXPECT_EQ(e.MountPoint, "/mnt/parent");
    EXPECT_EQ(e.FsType, "ext3");
    EXPECT_EQ(e.Source, "/dev/root");
}

TEST(MountTable, ParsingUndoesEscapesAndSkipsBrokenLines) {
    const auto entries = ParseMountInfo(
        "50 28 8:17 / /media/My\\040Disk\\011\\134x rw - ntfs3 /dev/sdb1 rw\n"
        "garbage\n"
        "51 28 8:18 / /no/separator rw ext4 /dev/sdb2 rw\n"
        "52 28 8:x / /bad/device rw - ext4 /dev/sdb3 rw\n"
        "\n"
        "53 28 8:19 / /last\\04 rw - ext4 /dev/sdb4 rw");  // no final newline; a cut escape stays as it is
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].MountPoint, "/media/My Disk\t\\x");
    EXPECT_EQ(entries[1].MountPoint, "/last\\04");
    EXPECT_EQ(entries[1].Minor, 19u);
}

TEST(MountTable, DesktopCountsItsDiskPartitionsOnly) {
    EXPECT_EQ(Fixed(kDesktop), (Paths{"/", "/boot/efi", "/home", "/media/data disk"}));
}

TEST(MountTable, ContainerWithOverlayRootCountsTheRootAndBoundDiskFolders) {
    const std::string container =
        "1001 900 0:150 / / rw,relatime master:300 - overlay overlay rw,lowerdir=/var/lib/docker/overlay2/l/A:/var/lib/docker/overlay2/l/B,upperdir=/var/lib/docker/overlay2/x/diff\n"
        "1002 1001 0:152 / /proc rw,nosuid,nodev,noexec,relatime - proc proc rw\n"
        "1003 1001 0:153 / /dev rw,nosuid - tmpfs tmpfs rw,size=65536k,mode=755\n"
        "1004 1003 0:154 / /dev/pts rw,nosuid,noexec,relatime - devpts devpts rw,gid=5,mode=620\n"
        "1005 1001 0:155 / /sys ro,nosuid,nodev,noexec,relatime - sysfs sysfs ro\n"
        "1006 1005 0:30 / /sys/fs/cgroup ro,nosuid,nodev,noexec,relatime - cgroup2 cgroup rw\n"
        "1007 1003 0:151 / /dev/mqueue rw,nosuid,nodev,noexec,relatime - mqueue mqueue rw\n"
        "1008 1003 0:156 / /dev/shm rw,nosuid,nodev,noexec,relatime - tmpfs shm rw,size=65536k\n"
        "1009 1001 8:1 /var/lib/docker/containers/abc/hostname /etc/hostname rw,relatime - ext4 /dev/sda1 rw\n"
        "1010 1001 8:1 /home/user/project /work rw,relatime - ext4 /dev/sda1 rw\n"
        "1011 1002 0:153 /null /proc/kcore rw,nosuid - tmpfs tmpfs rw,size=65536k,mode=755\n"
        "1012 1001 0:160 / /data rw,relatime - overlay overlay rw,lowerdir=/a:/b\n";
    // /etc/hostname is a file: it passes the table and fails the folder test later.
    EXPECT_EQ(Fixed(container), (Paths{"/", "/etc/hostname", "/work"}));
}

TEST(MountTable, RemovableDevicesDoNotCount) {
    const std::string withStick =
        kDesktop +
        "80 28 8:33 / /media/user/STICK rw,nosuid,nodev,relatime shared:420 - vfat /dev/sdc1 rw,uid=1000,uhelper=udisks2\n"
        "81 28 8:49 / /media/user/Backup rw,nosuid,nodev,relatime shared:421 - exfat /dev/sdd1 rw,uid=1000\n";
    std::vector<TMountEntry> asked;
    auto stickOnly = [&asked](const TMountEntry& e) {
        asked.push_back(e);
        return e.Major == 8 && e.Minor >= 32 && e.Minor < 48;  // sdc, the stick
    };
    EXPECT_EQ(Fixed(withStick, stickOnly), (Paths{"/", "/boot/efi", "/home", "/media/data disk", "/media/user/Backup"}));
    // The device of every candidate is asked about, the stick's included.
    ASSERT_FALSE(asked.empty());
    EXPECT_TRUE(std::any_of(asked.begin(), asked.end(), [](const TMountEntry& e) { return e.Source == "/dev/sdc1"; }));
}

TEST(MountTable, NetworkFileSystemsNeverCount) {
    const std::string withNetwork =
        "28 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
        "90 28 0:60 / /mnt/nas rw,relatime shared:500 - nfs4 nas.local:/export/mail rw,vers=4.2,addr=10.0.0.5\n"
        "91 28 0:61 / /mnt/old rw,relatime shared:501 - nfs nas.local:/old rw,vers=3\n"
        "92 28 0:62 / /mnt/office rw,relatime shared:502 - cifs //fileserver/mail rw,vers=3.1.1\n"
        "93 28 0:63 / /mnt/remote rw,nosuid,nodev,relatime shared:503 - fuse.sshfs user@host:/home/user rw\n"
        "94 28 0:64 / /mnt/host rw,relatime shared:504 - 9p hostshare rw,trans=virtio\n"
        "95 28 0:65 / /mnt/odd rw,relatime shared:505 - nfs4 /dev/looks-local rw\n";
    EXPECT_EQ(Fixed(withNetwork), (Paths{"/"}));
}

TEST(MountTable, TmpfsCountsOnlyAsTheRoot) {
    EXPECT_EQ(Fixed("2 1 0:2 / / rw - tmpfs rootfs rw\n"
                    "3 2 0:20 / /tmp rw,nosuid,nodev - tmpfs tmpfs rw,size=4g\n"),
              (Paths{"/"}));
    EXPECT_TRUE(Fixed("3 2 0:20 / /tmp rw,nosuid,nodev - tmpfs tmpfs rw,size=4g\n").empty());
}

TEST(MountTable, OnlyTheLastMountOnAMountPointCounts) {
    const std::string overmounted =
        "28 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
        "40 28 259:3 / /data rw - ext4 /dev/nvme0n1p3 rw\n"
        "41 28 0:30 / /scratch rw - tmpfs tmpfs rw\n"
        "42 40 0:31 / /data rw - tmpfs tmpfs rw\n"           // hides the disk below it
        "43 41 259:4 / /scratch rw - xfs /dev/nvme0n1p4 rw\n"  // a disk over the tmpfs
        "44 43 259:5 / /scratch rw - xfs /dev/nvme0n1p5 rw\n";
    EXPECT_EQ(Fixed(overmounted), (Paths{"/", "/scratch"}));
}

}  // namespace
