// Reading the Linux mount table and choosing the mounts that are local fixed
// disks, on mountinfo texts of the kinds of machines the search meets.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/MountTable.h"

namespace {

using corvane::drives::ParseMountInfo;
using corvane::drives::SelectFixedMounts;
using corvane::drives::TMountEntry;
using Paths = std::vector<std::string>;

Paths Fixed(const std::string& text, const corvane::drives::TRemovableQuery& removable = {}) {
    return SelectFixedMounts(ParseMountInfo(text), removable ? removable : [](const TMountEntry&) { return false; });
}

// A laptop: Debian on an NVMe disk, a second internal disk, a snap, a DVD,
// a RAM disk and the usual pseudo file systems.
const std::string kDesktop =
    "22 28 0:21 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw\n"
    "23 28 0:22 / /proc rw,nosuid,nodev,noexec,relatime shared:13 - proc proc rw\n"
    "24 28 0:5 / /dev rw,nosuid,relatime shared:2 - devtmpfs udev rw,size=8052156k,mode=755\n"
    "26 28 0:24 / /run rw,nosuid,nodev,noexec,relatime shared:5 - tmpfs tmpfs rw,size=1615300k,mode=755\n"
    "28 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
    "32 22 0:27 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 cgroup2 rw\n"
    "40 28 7:0 / /snap/core20/2015 ro,nodev,relatime shared:40 - squashfs /dev/loop0 ro\n"
    "45 28 259:1 / /boot/efi rw,relatime shared:31 - vfat /dev/nvme0n1p1 rw,fmask=0077,codepage=437\n"
    "47 28 259:3 / /home rw,relatime shared:33 - ext4 /dev/nvme0n1p3 rw\n"
    "50 28 8:17 / /media/data\\040disk rw,relatime shared:35 - ntfs3 /dev/sdb1 rw,uid=1000\n"
    "53 26 0:47 / /run/user/1000/gvfs rw,nosuid,nodev,relatime shared:310 - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "60 28 252:0 / /var/cache/fast rw,relatime shared:41 - ext4 /dev/zram0 rw\n"
    "71 47 11:0 / /media/user/DVD ro,nosuid,nodev,relatime shared:400 - iso9660 /dev/sr0 ro,nojoliet\n";

TEST(MountTable, ParsingReadsTheFieldsUndoesEscapesAndSkipsBrokenLines) {
    const auto entries = ParseMountInfo(
        "36 35 98:0 /mnt1 /mnt/My\\040Disk\\134x rw,noatime master:1 shared:7 - ext3 /dev/root rw,errors=continue\n"
        "garbage\n"
        "51 28 8:18 / /no/separator rw ext4 /dev/sdb2 rw\n"
        "52 28 8:x / /bad/device rw - ext4 /dev/sdb3 rw\n"
        "\n"
        "53 28 8:19 / /cut\\04 rw - ext4 /dev/sdb4 rw");  // no final newline; a cut escape stays
    ASSERT_EQ(entries.size(), 2u);
    const TMountEntry first{36, 35, 98, 0, "/mnt1", "/mnt/My Disk\\x", "ext3", "/dev/root"};
    EXPECT_EQ(entries[0], first);
    EXPECT_EQ(entries[1].MountPoint, "/cut\\04");
    EXPECT_EQ(entries[1].Minor, 19u);
}

TEST(MountTable, DesktopCountsItsDiskPartitionsOnly) {
    EXPECT_EQ(Fixed(kDesktop), (Paths{"/", "/boot/efi", "/home", "/media/data disk"}));
}

TEST(MountTable, ContainerWithOverlayRootCountsTheRootAndBoundDiskFolders) {
    const std::string container =
        "1001 900 0:150 / / rw,relatime master:300 - overlay overlay rw,lowerdir=/var/lib/docker/overlay2/l/A,upperdir=/u\n"
        "1002 1001 0:152 / /proc rw,nosuid,nodev,noexec,relatime - proc proc rw\n"
        "1003 1001 0:153 / /dev rw,nosuid - tmpfs tmpfs rw,size=65536k,mode=755\n"
        "1008 1003 0:156 / /dev/shm rw,nosuid,nodev,noexec,relatime - tmpfs shm rw,size=65536k\n"
        "1009 1001 8:1 /var/lib/docker/containers/abc/hostname /etc/hostname rw,relatime - ext4 /dev/sda1 rw\n"
        "1010 1001 8:1 /home/user/project /work rw,relatime - ext4 /dev/sda1 rw\n"
        "1012 1001 0:160 / /data rw,relatime - overlay overlay rw,lowerdir=/a:/b\n";
    // /etc/hostname is a file: it passes the table and fails the folder test later.
    EXPECT_EQ(Fixed(container), (Paths{"/", "/etc/hostname", "/work"}));
}

TEST(MountTable, RemovableDevicesDoNotCount) {
    const std::string withStick =
        kDesktop +
        "80 28 8:33 / /media/user/STICK rw,nosuid,nodev,relatime shared:420 - vfat /dev/sdc1 rw,uhelper=udisks2\n"
        "81 28 8:49 / /media/user/Backup rw,nosuid,nodev,relatime shared:421 - exfat /dev/sdd1 rw,uid=1000\n";
    const auto stick = [](const TMountEntry& e) { return e.Major == 8 && e.Minor >= 32 && e.Minor < 48; };  // sdc
    EXPECT_EQ(Fixed(withStick, stick), (Paths{"/", "/boot/efi", "/home", "/media/data disk", "/media/user/Backup"}));
}

TEST(MountTable, NetworkFileSystemsNeverCount) {
    EXPECT_EQ(Fixed("28 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
                    "90 28 0:60 / /mnt/nas rw,relatime shared:500 - nfs4 nas.local:/export/mail rw,vers=4.2\n"
                    "92 28 0:62 / /mnt/office rw,relatime shared:502 - cifs //fileserver/mail rw,vers=3.1.1\n"
                    "93 28 0:63 / /mnt/remote rw,nosuid,nodev,relatime - fuse.sshfs user@host:/home/user rw\n"
                    "94 28 0:64 / /mnt/host rw,relatime shared:504 - 9p hostshare rw,trans=virtio\n"
                    "95 28 0:65 / /mnt/odd rw,relatime shared:505 - nfs /dev/looks-local rw\n"),
              (Paths{"/"}));
}

TEST(MountTable, TmpfsCountsOnlyAsTheRoot) {
    EXPECT_EQ(Fixed("2 1 0:2 / / rw - tmpfs rootfs rw\n"
                    "3 2 0:20 / /tmp rw,nosuid,nodev - tmpfs tmpfs rw,size=4g\n"),
              (Paths{"/"}));
}

TEST(MountTable, InsideAChrootTheUnnamedRootStillCountsFirst) {
    // Seen from a chroot: the mounts below it, but no entry for its root.
    EXPECT_EQ(Fixed("612 590 0:55 / /proc rw,relatime - proc proc rw\n"
                    "613 590 8:2 /srv/chroot/home /home rw - ext4 /dev/sda2 rw\n"
                    "614 590 0:5 / /dev rw - devtmpfs udev rw\n"),
              (Paths{"/", "/home"}));
    EXPECT_EQ(Fixed(""), (Paths{"/"}));
}

TEST(MountTable, OnlyTheLastMountOnAMountPointCounts) {
    EXPECT_EQ(Fixed("28 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
                    "40 28 259:3 / /data rw - ext4 /dev/nvme0n1p3 rw\n"
                    "41 28 0:30 / /scratch rw - tmpfs tmpfs rw\n"
                    "42 40 0:31 / /data rw - tmpfs tmpfs rw\n"            // hides the disk below it
                    "43 41 259:4 / /scratch rw - xfs /dev/nvme0n1p4 rw\n"  // a disk over the tmpfs
                    "44 43 259:5 / /scratch rw - xfs /dev/nvme0n1p5 rw\n"),
              (Paths{"/", "/scratch"}));
}

}  // namespace
