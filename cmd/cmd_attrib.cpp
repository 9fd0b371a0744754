// ATTRIB: shows or changes the DOS attributes of files through dos_attrib, optionally over a
// whole tree. The walk never follows a symbolic link (neither to a file nor into a folder), so a
// link planted on a stick cannot lead it off the drive.
#include "cmd/cmd_parse.h"
#include "cmd/cmd_run.h"
#include "runtime/platform/posix/dos_attrib.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

struct Walk {
    uint32_t set = 0;
    uint32_t clear = 0;
    bool show = false; // no + or -: list the attributes
    bool directories = false;
    bool recurse = false;
    size_t matched = 0;
    size_t failed = 0;
    // FAT or not, per device: one statfs per file system met rather than one per file.
    std::unordered_map<dev_t, bool> fat_by_device;
};

bool on_fat(Walk& walk, const std::string& path, dev_t device) {
    const auto known = walk.fat_by_device.find(device);
    if (known != walk.fat_by_device.end()) return known->second;
    const bool fat = dos_attrib_on_fat(path.c_str());
    walk.fat_by_device.emplace(device, fat);
    return fat;
}

void show(const std::string& dos_path, uint32_t attrib) {
    std::printf("%c  %c%c%c       %s\n", attrib & DOS_ATTRIB_ARCHIVE ? 'A' : ' ',
                attrib & DOS_ATTRIB_SYSTEM ? 'S' : ' ', attrib & DOS_ATTRIB_HIDDEN ? 'H' : ' ',
                attrib & DOS_ATTRIB_READONLY ? 'R' : ' ', dos_path.c_str());
}

void apply(Walk& walk, const std::string& host, const std::string& dos, const struct stat& info) {
    ++walk.matched;
    if (S_ISLNK(info.st_mode)) return; // a link has no DOS bits of its own here, and is not ours
    const bool fat = on_fat(walk, host, info.st_dev);
    uint32_t before = 0;
    const bool ok = walk.show ? dos_attrib_change(host.c_str(), info, fat, 0, 0, &before)
                              : dos_attrib_change(host.c_str(), info, fat, walk.set, walk.clear);
    if (!ok) {
        ++walk.failed;
        std::fprintf(stderr, "Access denied - %s (%s)\n", dos.c_str(), std::strerror(errno));
        return;
    }
    if (walk.show) show(dos, before);
}

// Visits the entries of one folder that match `pattern`, then (with /S) its subfolders.
// Folders to visit are kept on an explicit stack: a deep tree cannot exhaust the C stack.
void walk_tree(Walk& walk, const std::string& host_root, const std::string& dos_root,
               const std::string& pattern) {
    std::vector<std::pair<std::string, std::string>> pending{{host_root, dos_root}};
    std::string host, dos;
    while (!pending.empty()) {
        const auto [host_dir, dos_dir] = std::move(pending.back());
        pending.pop_back();
        const int fd = open(host_dir.empty() ? "." : host_dir.c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        DIR* dir = fdopendir(fd);
        if (dir == nullptr) {
            close(fd);
            continue;
        }
        const size_t first_child = pending.size();
        while (const dirent* entry = readdir(dir)) {
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            struct stat info {};
            if (fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
            host.assign(host_dir);
            if (!host.empty() && host.back() != '/') host.push_back('/');
            host.append(name);
            dos.assign(dos_dir);
            if (!dos.empty() && dos.back() != '\\' && dos.back() != ':') dos.push_back('\\');
            dos.append(name);
            const bool is_dir = S_ISDIR(info.st_mode);
            if ((!is_dir || walk.directories) && cmd_wildcard_match(pattern, name))
                apply(walk, host, dos, info);
            if (walk.recurse && is_dir) pending.emplace_back(host, dos);
        }
        closedir(dir);
        // Visit subfolders in the order they were listed.
        std::reverse(pending.begin() + long(first_child), pending.end());
    }
}

} // namespace

int cmd_attrib(const std::vector<std::string>& words) {
    const CmdAttribArgs args = cmd_parse_attrib(words);
    if (!args.error.empty()) {
        std::fprintf(stderr, "%s\n", args.error.c_str());
        return 1;
    }
    Walk walk;
    walk.set = args.set;
    walk.clear = args.clear;
    walk.show = args.set == 0 && args.clear == 0;
    walk.recurse = args.recurse;
    walk.directories = args.directories;
    std::vector<std::string> paths = args.paths;
    if (paths.empty()) paths.push_back("*.*");
    int status = 0;
    for (const std::string& path : paths) {
        const size_t cut = path.find_last_of("\\/");
        // "E:*.*" has its folder in the drive letter.
        const size_t name_at = cut != std::string::npos               ? cut + 1
                               : (path.size() >= 2 && path[1] == ':') ? 2
                                                                      : 0;
        const std::string dos_dir = path.substr(0, name_at);
        const std::string name = path.substr(name_at);
        std::string host_dir;
        if (!cmd_host_path(dos_dir.empty() ? "." : dos_dir, host_dir)) {
            status = 1;
            continue;
        }
        const size_t before = walk.matched;
        if (!cmd_has_wildcard(name) && !walk.recurse) {
            std::string host;
            if (!cmd_host_path(path, host)) {
                status = 1;
                continue;
            }
            struct stat info {};
            if (!name.empty() && lstat(host.c_str(), &info) == 0) apply(walk, host, path, info);
        } else {
            walk_tree(walk, dos_dir.empty() ? std::string() : host_dir, dos_dir,
                      name.empty() ? "*.*" : name);
        }
        if (walk.matched == before) {
            std::fprintf(stderr, "File not found - %s\n", path.c_str());
            status = 1;
        }
    }
    return walk.failed != 0 ? 1 : status;
}
