// POSIX back end of the drive the clean-up works on: a host folder (a drive letter's folder from
// the drive map, or a folder named on the command line), reached by paths built from checked
// names, with every folder on the way examined by lstat so that no symbolic link is followed.
#include "runtime/platform/volume.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "runtime/platform/posix/dos_attrib.h"
#include "runtime/platform/posix/drives.h"

namespace {

struct VolumeState {
    std::string root; // absolute, no trailing slash (except for "/", which is refused)
    std::string shown;
    char letter = 0;
};
VolumeState state;

bool valid_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

// The root still there? A drive pulled out takes its folder (or the mount's contents) away.
bool root_present() {
    struct stat info {};
    return lstat(state.root.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

VolumeStatus status_of(int error) {
    switch (error) {
    case 0: return VolumeStatus::ok;
    case ENOENT:
    case ENOTDIR: return root_present() ? VolumeStatus::not_found : VolumeStatus::gone;
    case EEXIST:
    case ENOTEMPTY: return VolumeStatus::exists;
    case ELOOP: return VolumeStatus::is_link;
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ: return VolumeStatus::bad_name;
    case ENOSPC:
    case EDQUOT: return VolumeStatus::no_space;
    case EROFS: return VolumeStatus::write_protected;
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY: return VolumeStatus::denied;
    case EIO:
    case ENODEV:
    case ENXIO:
    case ESTALE:
    case ENOMEDIUM: return VolumeStatus::gone;
    default: return VolumeStatus::other;
    }
}

// The host path of `path`, with every folder above its last name checked: each must be a real
// folder, not a link. `host` is left empty unless the result is ok.
VolumeStatus host_path(const VolumePath& path, std::string& host) {
    host.clear();
    if (state.root.empty()) return VolumeStatus::gone;
    std::string built = state.root;
    for (size_t i = 0; i < path.size(); ++i) {
        if (!valid_name(path[i])) return VolumeStatus::bad_name;
        if (i > 0) {
            struct stat info {};
            if (lstat(built.c_str(), &info) != 0) return status_of(errno);
            if (S_ISLNK(info.st_mode)) return VolumeStatus::is_link;
            if (!S_ISDIR(info.st_mode)) return VolumeStatus::not_found;
        }
        built += '/';
        built += path[i];
    }
    host = std::move(built);
    return VolumeStatus::ok;
}

VolumeEntry entry_of(std::string name, const struct stat& info) {
    VolumeEntry entry;
    entry.name = std::move(name);
    entry.is_link = S_ISLNK(info.st_mode);
    entry.is_dir = S_ISDIR(info.st_mode);
    entry.size_bytes = S_ISREG(info.st_mode) ? uint64_t(info.st_size) : 0;
    return entry;
}

VolumeStatus write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t done = write(fd, data.data(), data.size());
        if (done < 0) {
            if (errno == EINTR) continue;
            return status_of(errno);
        }
        data.remove_prefix(size_t(done));
    }
    return fdatasync(fd) == 0 || errno == EINVAL ? VolumeStatus::ok : status_of(errno);
}

// O_NOFOLLOW refuses a link as the last name; the folders above were checked by host_path.
VolumeStatus write_file(const VolumePath& path, std::string_view data, int flags) {
    std::string host;
    if (VolumeStatus status = host_path(path, host); status != VolumeStatus::ok) return status;
    const int fd = open(host.c_str(), flags | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return status_of(errno);
    VolumeStatus status = write_all(fd, data);
    if (close(fd) != 0 && status == VolumeStatus::ok) status = status_of(errno);
    return status;
}

} // namespace

VolumeOpen volume_open(std::string_view drive, std::string& shown) {
    state = VolumeState{};
    std::string root;
    char letter = volume_drive_letter(drive);
    const bool letter_form = letter != 0;
    if (letter_form) {
        if (drive_root_is_system(letter)) return VolumeOpen::system_drive;
        root = drive_root(letter);
        if (root.empty()) return VolumeOpen::missing;
    } else if (!drive.empty() && drive[0] == '/') {
        root = std::string(drive);
    } else {
        return VolumeOpen::bad_argument;
    }
    // The root is the user's choice, so a link to it is taken; below it nothing is followed.
    char resolved[PATH_MAX];
    if (realpath(root.c_str(), resolved) == nullptr) return VolumeOpen::missing;
    root = resolved;
    if (root == "/") return VolumeOpen::system_drive;
    struct stat info {};
    if (stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return VolumeOpen::missing;
    if (letter == 0) {
        // A folder that is a drive's root gets its letter, so that shortcuts naming it resolve.
        std::string dos;
        if (host_to_dos_path(root, dos) && dos.size() == 3 && volume_drive_letter(dos) != 'C')
            letter = volume_drive_letter(dos);
    }
    state.root = root;
    state.letter = letter;
    state.shown = letter_form ? std::string{letter, ':'} : root;
    shown = state.shown;
    return VolumeOpen::ok;
}

char volume_letter() {
    return state.letter;
}

VolumeStatus volume_list(const VolumePath& folder, std::vector<VolumeEntry>& entries) {
    entries.clear();
    std::string host;
    if (VolumeStatus status = host_path(folder, host); status != VolumeStatus::ok) return status;
    const int fd = open(host.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return status_of(errno);
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        close(fd);
        return status_of(error);
    }
    VolumeStatus status = VolumeStatus::ok;
    for (;;) {
        errno = 0;
        const dirent* item = readdir(dir);
        if (item == nullptr) {
            if (errno != 0) status = status_of(errno);
            break;
        }
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        struct stat info {};
        if (fstatat(fd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue; // gone between the listing and the look
            status = status_of(errno);
            break;
        }
        entries.push_back(entry_of(name, info));
    }
    closedir(dir);
    return status;
}

VolumeStatus volume_stat(const VolumePath& path, VolumeEntry& entry) {
    std::string host;
    if (VolumeStatus status = host_path(path, host); status != VolumeStatus::ok) return status;
    struct stat info {};
    if (lstat(host.c_str(), &info) != 0) return status_of(errno);
    entry = entry_of(path.empty() ? std::string() : path.back(), info);
    return VolumeStatus::ok;
}

VolumeStatus volume_read(const VolumePath& path, size_t max_bytes, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::string host;
    if (VolumeStatus status = host_path(path, host); status != VolumeStatus::ok) return status;
    // O_NONBLOCK: a FIFO planted on the stick must not hang the open.
    const int fd = open(host.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return status_of(errno);
    struct stat info {};
    VolumeStatus status = VolumeStatus::ok;
    if (fstat(fd, &info) != 0)
        status = status_of(errno);
    else if (!S_ISREG(info.st_mode))
        status = VolumeStatus::not_found;
    while (status == VolumeStatus::ok && bytes.size() < max_bytes) {
        uint8_t chunk[65536];
        const size_t want = std::min(sizeof chunk, max_bytes - bytes.size());
        const ssize_t got = read(fd, chunk, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            status = status_of(errno);
        } else if (got == 0) {
            break;
        } else {
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
    }
    close(fd);
    if (status != VolumeStatus::ok) bytes.clear();
    return status;
}

VolumeStatus volume_move(const VolumePath& from, const VolumePath& to) {
    if (from.empty() || to.empty()) return VolumeStatus::bad_name;
    std::string source, target;
    if (VolumeStatus status = host_path(from, source); status != VolumeStatus::ok) return status;
    if (VolumeStatus status = host_path(to, target); status != VolumeStatus::ok) return status;
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return VolumeStatus::ok;
    if (errno != EINVAL && errno != ENOSYS) return status_of(errno);
    // A file system without the no-replace flag: look first. Nothing else writes to the stick
    // while the clean-up runs, so the gap between the look and the rename is harmless.
    struct stat info {};
    if (lstat(target.c_str(), &info) == 0) return VolumeStatus::exists;
    if (errno != ENOENT) return status_of(errno);
    return rename(source.c_str(), target.c_str()) == 0 ? VolumeStatus::ok : status_of(errno);
}

VolumeStatus volume_make_folder(const VolumePath& path) {
    std::string host;
    if (VolumeStatus status = host_path(path, host); status != VolumeStatus::ok) return status;
    return mkdir(host.c_str(), 0777) == 0 ? VolumeStatus::ok : status_of(errno);
}

VolumeStatus volume_create_file(const VolumePath& path, std::string_view data) {
    return write_file(path, data, O_CREAT | O_EXCL);
}

VolumeStatus volume_append(const VolumePath& path, std::string_view data) {
    return write_file(path, data, O_APPEND);
}

VolumeStatus volume_add_attributes(const VolumePath& path, uint32_t set) {
    std::string host;
    if (VolumeStatus status = host_path(path, host); status != VolumeStatus::ok) return status;
    struct stat info {};
    if (lstat(host.c_str(), &info) != 0) return status_of(errno);
    if (S_ISLNK(info.st_mode)) return VolumeStatus::is_link;
    const bool on_fat = dos_attrib_on_fat(host.c_str());
    return dos_attrib_change(host.c_str(), info, on_fat, set, 0) ? VolumeStatus::ok
                                                                 : status_of(errno);
}

bool volume_read_only() {
    struct statvfs info {};
    return statvfs(state.root.c_str(), &info) == 0 && (info.f_flag & ST_RDONLY) != 0;
}

std::string volume_display(const VolumePath& path) {
    const bool letter_form = state.shown.size() == 2 && state.shown[1] == ':';
    const char separator = letter_form ? '\\' : '/';
    std::string shown = state.shown;
    if (path.empty() && letter_form) shown += separator;
    for (const std::string& name : path) {
        shown += separator;
        shown += name;
    }
    return shown;
}
