#include "platform/Drives.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/MountTable.h"
#include "progress/Progress.h"

namespace corvane::drives {
namespace {

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The removable flag of a block device's sysfs folder; a partition has none
// of its own and takes its disk's. -1 when the folder tells nothing.
int RemovableFlag(const std::string& sysDir) {
    struct stat st {};
    std::string flag;
    if (::stat((sysDir + "/removable").c_str(), &st) == 0) flag = ReadSmallFile(sysDir + "/removable");
    else if (::stat((sysDir + "/partition").c_str(), &st) == 0) flag = ReadSmallFile(sysDir + "/../removable");
    if (flag.empty()) return -1;
    return flag[0] == '1' ? 1 : 0;
}

// /sys/block/<disk>/removable of the mount's device, found by its device
// number or else by its name (after following /dev/disk/by-... and
// /dev/mapper links). A device sysfs knows nothing of counts as fixed.
bool DeviceIsRemovable(const TMountEntry& e) {
    if (e.Major != 0) {
        int flag = RemovableFlag("/sys/dev/block/" + std::to_string(e.Major) + ":" + std::to_string(e.Minor));
        if (flag >= 0) return flag == 1;
    }
    std::string device = e.Source;
    char resolved[PATH_MAX];
    if (::realpath(e.Source.c_str(), resolved) != nullptr) device = resolved;
    const std::string name = device.substr(device.rfind('/') + 1);
    if (name.empty() || name == "." || name == "..") return false;
    return RemovableFlag("/sys/class/block/" + name) == 1;
}

}  // namespace

std::vector<std::string> FixedDriveRoots() {
    std::vector<std::string> roots;
    const std::string table = ReadSmallFile("/proc/self/mountinfo");
    if (table.empty()) {
        roots.push_back("/");  // no mount table to read: the root file system still counts
        return roots;
    }
    for (std::string mountPoint : SelectFixedMounts(ParseMountInfo(table), DeviceIsRemovable)) {
        if (mountPoint.back() != '/') mountPoint += '/';
        roots.push_back(std::move(mountPoint));
    }
    return roots;
}

bool CanEnterDrive(const std::string& root) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

namespace {

struct TIdentity {
    dev_t Device = 0;
    std::uint64_t MountId = 0;
    bool HasMountId = false;
    bool MountRoot = false;
    bool IsDir = false;
    bool IsRegular = false;
};

// What the folder walk needs to know of a folder's entry, links not
// followed, automounts not triggered. statx tells the mount apart even where
// a bind mount shares the device number.
bool Identify(int dirFd, const char* name, int flags, TIdentity& id) {
    struct statx sx {};
    if (::statx(dirFd, name, flags | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MNT_ID, &sx) == 0) {
        id.Device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
        id.HasMountId = (sx.stx_mask & STATX_MNT_ID) != 0;
        id.MountId = sx.stx_mnt_id;
        id.MountRoot = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
                       (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
        id.IsDir = S_ISDIR(sx.stx_mode);
        id.IsRegular = S_ISREG(sx.stx_mode);
        return true;
    }
    if (errno != ENOSYS) return false;
    struct stat st {};
    if (::fstatat(dirFd, name, &st, flags | AT_NO_AUTOMOUNT) != 0) return false;
    id.Device = st.st_dev;
    id.IsDir = S_ISDIR(st.st_mode);
    id.IsRegular = S_ISREG(st.st_mode);
    return true;
}

bool IsRegularFile(int dirFd, const dirent& d) {
    if (d.d_type == DT_REG) return true;
    if (d.d_type != DT_LNK && d.d_type != DT_UNKNOWN) return false;
    TIdentity id;  // a link to a file lists as that file
    return Identify(dirFd, d.d_name, 0, id) && id.IsRegular;
}

bool IsFolderOf(int dirFd, const dirent& d, const TIdentity& parent) {
    if (d.d_type != DT_DIR && d.d_type != DT_UNKNOWN) return false;
    TIdentity id;
    if (!Identify(dirFd, d.d_name, AT_SYMLINK_NOFOLLOW, id) || !id.IsDir) return false;
    if (id.Device != parent.Device || id.MountRoot) return false;
    return !(id.HasMountId && parent.HasMountId && id.MountId != parent.MountId);
}

}  // namespace

struct TFolderListing::TState {
    std::vector<std::pair<std::string, bool>> entries;  // name, enterable folder
    std::size_t next = 0;
};

TFolderListing::TFolderListing(const std::string& folder, const std::string& mask, TListKind kind,
                               corvane::TProgress* progress)
    : state_(std::make_unique<TState>()) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    DIR* opened = ::fdopendir(fd);
    if (opened == nullptr) {
        ::close(fd);
        return;
    }
    // Closed on every way out, a stop included.
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opened, &::closedir);
    TIdentity self;
    const bool known = kind == TListKind::Files || Identify(fd, "", AT_EMPTY_PATH, self);
    std::int64_t read = 0;
    while (const dirent* d = ::readdir(dir.get())) {
        // A folder of a million entries takes a while to read.
        if (++read % 1024 == 0) corvane::CheckPoint(progress, kListStage, read, 0);
        const std::string_view name = d->d_name;
        if (name == "." || name == "..") continue;
        if (!MatchesMask(name, mask)) continue;
        if (kind == TListKind::Files) {
            if (IsRegularFile(fd, *d)) state_->entries.emplace_back(std::string(name), false);
        } else {
            state_->entries.emplace_back(std::string(name), known && IsFolderOf(fd, *d, self));
        }
    }
    std::sort(state_->entries.begin(), state_->entries.end());
}

TFolderListing::~TFolderListing() = default;

bool TFolderListing::Next() {
    if (state_->next >= state_->entries.size()) return false;
    auto& entry = state_->entries[state_->next++];
    name_ = std::move(entry.first);
    isFolder_ = entry.second;
    return true;
}

}  // namespace corvane::drives
