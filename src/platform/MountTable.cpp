#include "platform/MountTable.h"

#include <algorithm>
#include <iterator>
#include <charconv>

namespace corvane::drives {
namespace {

// Splits one line at spaces (the table escapes the spaces inside fields).
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// Undoes the table's escapes: a backslash and three octal digits.
std::string Unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) && IsOctal(field[i + 2]) &&
            IsOctal(field[i + 3])) {
            int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out += static_cast<char>(value);
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

template <typename T>
bool Number(std::string_view s, T& value) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size();
}

bool ParseLine(std::string_view line, TMountEntry& e) {
    const auto f = Fields(line);
    // Six fixed fields, optional fields, the "-" separator, then three more.
    auto dash = std::find(f.begin() + std::min<std::size_t>(f.size(), 6), f.end(), std::string_view("-"));
    if (f.size() < 10 || dash == f.end() || f.end() - dash < 3) return false;
    const std::string_view dev = f[2];
    const auto colon = dev.find(':');
    if (colon == std::string_view::npos) return false;
    if (!Number(f[0], e.MountId) || !Number(f[1], e.ParentId) || !Number(dev.substr(0, colon), e.Major) ||
        !Number(dev.substr(colon + 1), e.Minor))
        return false;
    e.Root = Unescape(f[3]);
    e.MountPoint = Unescape(f[4]);
    e.FsType = Unescape(dash[1]);
    e.Source = Unescape(dash[2]);
    return true;
}

// File systems that never count as local disks, whatever their source says.
constexpr std::string_view kNotDisks[] = {
    // network and shared
    "nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "fuse.sshfs", "9p", "afs", "ceph", "glusterfs",
    "fuse.glusterfs", "lustre", "ncpfs", "coda", "davfs", "fuse.davfs2", "virtiofs", "fuse.rclone",
    // pseudo and in-memory
    "proc", "sysfs", "tmpfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "securityfs", "debugfs", "tracefs",
    "pstore", "bpf", "mqueue", "hugetlbfs", "configfs", "fusectl", "autofs", "binfmt_misc", "efivarfs",
    "ramfs", "rpc_pipefs", "nsfs", "overlay", "squashfs",
    // optical discs
    "iso9660", "udf"};

bool IsRamDisk(std::string_view source) {
    const auto slash = source.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? source : source.substr(slash + 1);
    for (std::string_view prefix : {std::string_view("ram"), std::string_view("zram")}) {
        if (name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix &&
            std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                        [](char c) { return c >= '0' && c <= '9'; }))
            return true;
    }
    return false;
}

bool IsFixedDisk(const TMountEntry& e, const TRemovableQuery& isRemovable) {
    if (e.MountPoint == "/") return true;
    if (std::find(std::begin(kNotDisks), std::end(kNotDisks), e.FsType) != std::end(kNotDisks)) return false;
    if (e.Source.rfind("/dev/", 0) != 0) return false;
    if (IsRamDisk(e.Source)) return false;
    return !(isRemovable && isRemovable(e));
}

}  // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view text) {
    std::vector<TMountEntry> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        TMountEntry e;
        if (ParseLine(text.substr(start, end - start), e)) out.push_back(std::move(e));
        start = end + 1;
    }
    return out;
}

std::vector<std::string> SelectFixedMounts(const std::vector<TMountEntry>& entries, const TRemovableQuery& isRemovable) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TMountEntry& e = entries[i];
        const bool hidden = std::any_of(entries.begin() + static_cast<std::ptrdiff_t>(i) + 1, entries.end(),
                                        [&](const TMountEntry& later) { return later.MountPoint == e.MountPoint; });
        if (!hidden && IsFixedDisk(e, isRemovable)) out.push_back(e.MountPoint);
    }
    // A table seen from inside a chroot or a container need not name the root
    // at all; the root file system still counts, first.
    if (std::find(out.begin(), out.end(), "/") == out.end()) out.insert(out.begin(), "/");
    return out;
}

}  // namespace corvane::drives
