#pragma once
// The mount table of Linux (/proc/self/mountinfo) and which of its mounts are
// local fixed disks, the drives of the search outside Windows. Pure text
// handling: the questions to the system are asked by the caller.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::drives {

// One line of mountinfo:
//   36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue
struct TMountEntry {
    int MountId = 0;
    int ParentId = 0;
    unsigned Major = 0;
    unsigned Minor = 0;
    std::string Root;        // the folder of the file system mounted here
    std::string MountPoint;  // with the table's octal escapes (\040 ...) undone
    std::string FsType;      // "ext4", "fuse.sshfs", ...
    std::string Source;      // "/dev/sda1", "server:/export", "tmpfs", ...

    bool operator==(const TMountEntry&) const = default;
};

// The entries of a mountinfo text, in its order; malformed lines are left out.
std::vector<TMountEntry> ParseMountInfo(std::string_view text);

// Answers whether the block device of a mount is removable.
using TRemovableQuery = std::function<bool(const TMountEntry&)>;

// The mount points that count as fixed drives, in table order:
// - the root file system, whatever its type, and also when the table does not
//   name it (as seen from inside a chroot), then first;
// - otherwise a file system on a block device (source under /dev/) that is
//   not a network, pseudo or optical file system, not on a RAM disk, and whose
//   device isRemovable does not report as removable.
// A mount point that is mounted over later in the table counts by its last
// mount only, and once.
std::vector<std::string> SelectFixedMounts(const std::vector<TMountEntry>& entries, const TRemovableQuery& isRemovable);

}  // namespace corvane::drives
