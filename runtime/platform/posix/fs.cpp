// POSIX back end of the file-system calls: DOS paths go through the drive map, and the answers
// follow what the Windows calls would answer for the same tree, so that the portable code above
// sees one system.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "runtime/platform/platform.h"
#include "runtime/platform/posix/dos_attrib.h"
#include "runtime/platform/posix/drives.h"

struct FsFind {
    DIR* dir = nullptr;
    std::string host_directory; // with a closing slash
    std::string pattern;
    bool drive_root = false; // a drive's root lists no "." and ".." entries
    std::set<std::string> short_names;
};

namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool has_wildcard(const char* path) {
    return std::strpbrk(path, "*?") != nullptr;
}

// A DOS path as a host path. A path rooted without a letter ("\dir") lies on the drive of the
// working directory; "X:" alone is taken as the drive's root.
bool to_host(const char* dos, std::string& host) {
    host.clear();
    if (dos == nullptr || dos[0] == 0) return false;
    if ((dos[0] == '\\' || dos[0] == '/') && dos[1] != '\\' && dos[1] != '/') {
        char cwd[4096];
        std::string current;
        if (getcwd(cwd, sizeof cwd) == nullptr || !host_to_dos_path(cwd, current)) return false;
        return dos_to_host_path((current.substr(0, 2) + dos).c_str(), host);
    }
    return dos_to_host_path(dos, host);
}

bool is_drive_root(const char* dos_directory) {
    size_t n = std::strlen(dos_directory);
    if (n == 1 && (dos_directory[0] == '\\' || dos_directory[0] == '/')) return true;
    if (n < 2 || !is_letter(dos_directory[0]) || dos_directory[1] != ':') return false;
    return n == 2 || (n == 3 && (dos_directory[2] == '\\' || dos_directory[2] == '/'));
}

bool match_here(const char* pattern, const char* name) {
    for (; *pattern != 0; ++pattern, ++name) {
        if (*pattern == '*') {
            while (pattern[1] == '*') ++pattern;
            for (const char* rest = name;; ++rest) {
                if (match_here(pattern + 1, rest)) return true;
                if (*rest == 0) return false;
            }
        }
        if (*name == 0) return false;
        if (*pattern != '?' && upper(*pattern) != upper(*name)) return false;
    }
    return *name == 0;
}

// Windows matching: without regard to case, and a closing ".*" also matches a name without any
// extension ("*.*" matches everything).
bool wildcard_match(const std::string& pattern, const std::string& name) {
    if (match_here(pattern.c_str(), name.c_str())) return true;
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
        name.find('.') == std::string::npos)
        return match_here(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
    return false;
}

bool short_name_character(char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    if (static_cast<unsigned char>(c) >= 128) return true;
    return std::strchr("!#$%&'()-@^_`{}~", c) != nullptr;
}

bool fits_8_3(const std::string& name) {
    if (name == "." || name == "..") return true;
    size_t dot = name.find('.');
    std::string base = name.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || extension.size() > 3) return false;
    if (extension.find('.') != std::string::npos) return false;
    for (char c : base + extension)
        if (!short_name_character(c)) return false;
    return true;
}

// The 8.3 name of an entry: itself when it fits, else the first six usable characters of the
// name, "~" and a number that is unique among the names handed out in `used`.
std::string short_name(const std::string& name, std::set<std::string>* used) {
    if (fits_8_3(name)) {
        if (used != nullptr) used->insert(name);
        return name;
    }
    size_t dot = name.rfind('.');
    if (dot == 0) dot = std::string::npos; // ".profile" has a name, not an extension
    auto usable = [](const std::string& part) {
        std::string out;
        for (char c : part) {
            if (c == ' ' || c == '.') continue;
            out.push_back(short_name_character(c) ? upper(c) : '_');
        }
        return out;
    };
    std::string base = usable(name.substr(0, dot));
    std::string extension = dot == std::string::npos ? "" : usable(name.substr(dot + 1));
    if (base.empty()) base = "_";
    extension = extension.substr(0, 3);
    for (int number = 1;; ++number) {
        std::string tail = "~" + std::to_string(number);
        std::string candidate = base.substr(0, 8 - tail.size()) + tail;
        if (!extension.empty()) candidate += "." + extension;
        if (used == nullptr) return candidate;
        if (used->insert(candidate).second) return candidate;
    }
}

uint32_t attributes_of_host(const std::string& host) {
    struct stat info {};
    if (stat(host.c_str(), &info) != 0) return FS_ATTRIBUTES_INVALID;
    if (S_ISDIR(info.st_mode)) return FS_ATTRIBUTE_DIRECTORY;
    uint32_t bits = 0;
    if (!dos_attrib_get(host.c_str(), bits)) bits = 0;
    bits &= DOS_ATTRIB_CHANGEABLE;
    return bits == 0 ? FS_ATTRIBUTE_NORMAL : bits;
}

bool fill_next(FsFind* find, FsFindEntry& entry) {
    while (dirent* d = readdir(find->dir)) {
        std::string name = d->d_name;
        if (find->drive_root && (name == "." || name == "..")) continue;
        if (!wildcard_match(find->pattern, name)) continue;
        // Searched by a relative name from the directory, so that the entry's attributes come
        // from the same directory the listing reads.
        int dir_fd = dirfd(find->dir);
        struct stat info {};
        if (fstatat(dir_fd, name.c_str(), &info, 0) != 0 &&
            fstatat(dir_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        entry.name = name;
        entry.short_name = short_name(name, &find->short_names);
        if (S_ISDIR(info.st_mode)) {
            entry.attributes = FS_ATTRIBUTE_DIRECTORY;
        } else {
            uint32_t bits = 0;
            std::string path = find->host_directory + name;
            if (!dos_attrib_get(path.c_str(), bits)) bits = 0;
            bits &= DOS_ATTRIB_CHANGEABLE;
            entry.attributes = bits == 0 ? FS_ATTRIBUTE_NORMAL : bits;
        }
        return true;
    }
    return false;
}

FsStatus status_of(int error) {
    switch (error) {
    case 0: return FsStatus::ok;
    case ENOENT:
    case ENOTDIR: return FsStatus::not_found;
    case EINVAL:
    case ENAMETOOLONG: return FsStatus::bad_name;
    case EACCES:
    case EPERM:
    case EISDIR: return FsStatus::access_denied;
    case EROFS: return FsStatus::write_protected;
    case EBUSY:
    case ETXTBSY: return FsStatus::sharing_violation;
    case EEXIST: return FsStatus::exists;
    case ENOTEMPTY: return FsStatus::not_empty;
    default: return FsStatus::other;
    }
}

} // namespace

uint32_t platform_fs_attributes(const char* path) {
    std::string host;
    if (has_wildcard(path) || !to_host(path, host)) return FS_ATTRIBUTES_INVALID;
    return attributes_of_host(host);
}

FsFind* platform_fs_find_first(const char* search, FsFindEntry& entry) {
    std::string text = search;
    size_t separator = text.find_last_of("\\/");
    std::string directory, pattern;
    if (separator != std::string::npos) {
        directory = text.substr(0, separator + 1);
        pattern = text.substr(separator + 1);
    } else if (text.size() >= 2 && is_letter(text[0]) && text[1] == ':') {
        directory = text.substr(0, 2);
        pattern = text.substr(2);
    } else {
        pattern = text;
    }
    if (pattern.empty()) return nullptr;
    std::string host = ".";
    if (!directory.empty() && !to_host(directory.c_str(), host)) return nullptr;
    DIR* dir = opendir(host.c_str());
    if (dir == nullptr) return nullptr;
    FsFind* find = new FsFind;
    find->dir = dir;
    find->host_directory = host.back() == '/' ? host : host + "/";
    find->pattern = pattern;
    find->drive_root = is_drive_root(directory.c_str());
    if (!fill_next(find, entry)) {
        platform_fs_find_close(find);
        return nullptr;
    }
    return find;
}

bool platform_fs_find_next(FsFind* find, FsFindEntry& entry) {
    return find != nullptr && fill_next(find, entry);
}

void platform_fs_find_close(FsFind* find) {
    if (find == nullptr) return;
    closedir(find->dir);
    delete find;
}

FsStatus platform_fs_delete(const char* path) {
    std::string host;
    if (has_wildcard(path)) return FsStatus::bad_name;
    if (!to_host(path, host)) return FsStatus::not_found;
    struct stat info {};
    if (lstat(host.c_str(), &info) != 0) return status_of(errno);
    if (S_ISDIR(info.st_mode)) return FsStatus::access_denied;
    // Windows refuses to delete a read-only file; unlink would not even look.
    uint32_t bits = 0;
    if (!S_ISLNK(info.st_mode) && dos_attrib_get(host.c_str(), bits) &&
        (bits & DOS_ATTRIB_READONLY) != 0)
        return FsStatus::access_denied;
    return unlink(host.c_str()) == 0 ? FsStatus::ok : status_of(errno);
}

FsStatus platform_fs_rename(const char* old_path, const char* new_path) {
    std::string from, to;
    if (!to_host(old_path, from) || !to_host(new_path, to)) return FsStatus::not_found;
    struct stat info {};
    if (lstat(from.c_str(), &info) != 0) return status_of(errno);
    // Windows refuses these characters in a name (ERROR_INVALID_NAME, which its C run-time reports
    // as EINVAL). Linux would take them, and the other file statements, which refuse wildcards,
    // could then not reach the renamed file.
    if (std::strpbrk(new_path, "*?<>|\"") != nullptr) return FsStatus::bad_name;
    // rename(2) replaces an existing target; Windows refuses, and so does this.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return FsStatus::ok;
    int error = errno;
    if (error == EEXIST) return FsStatus::access_denied;
    if (error != EINVAL && error != ENOSYS) return status_of(error);
    // A file system without RENAME_NOREPLACE: check, then rename.
    if (lstat(to.c_str(), &info) == 0) return FsStatus::access_denied;
    return std::rename(from.c_str(), to.c_str()) == 0 ? FsStatus::ok : status_of(errno);
}

FsStatus platform_fs_make_dir(const char* path) {
    std::string host;
    if (!to_host(path, host)) return FsStatus::not_found;
    return mkdir(host.c_str(), 0777) == 0 ? FsStatus::ok : status_of(errno);
}

FsStatus platform_fs_remove_dir(const char* path) {
    std::string host;
    if (!to_host(path, host)) return FsStatus::not_found;
    if (rmdir(host.c_str()) == 0) return FsStatus::ok;
    return errno == EEXIST ? FsStatus::not_empty : status_of(errno);
}

FsStatus platform_fs_change_dir(const char* path) {
    std::string host;
    if (!to_host(path, host)) return FsStatus::not_found;
    return chdir(host.c_str()) == 0 ? FsStatus::ok : status_of(errno);
}

bool platform_fs_current_dir(std::string& path) {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return false;
    return host_to_dos_path(cwd, path);
}

bool platform_fs_short_path(const char* path, std::string& short_path) {
    if (platform_fs_attributes(path) == FS_ATTRIBUTES_INVALID) return false;
    std::string text = path;
    short_path.clear();
    size_t start = 0;
    if (text.size() >= 2 && is_letter(text[0]) && text[1] == ':') {
        short_path = text.substr(0, 2);
        start = 2;
    }
    while (start < text.size()) {
        size_t end = text.find_first_of("\\/", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) short_path += short_name(text.substr(start, end - start), nullptr);
        if (end < text.size()) short_path += '\\';
        start = end + 1;
    }
    return true;
}

bool platform_fs_free_bytes(const char* directory, uint64_t& free_bytes) {
    std::string host = ".";
    if (directory != nullptr && directory[0] != 0 && !to_host(directory, host)) return false;
    struct statvfs info {};
    if (statvfs(host.c_str(), &info) != 0) return false;
    free_bytes = uint64_t(info.f_bavail) * uint64_t(info.f_frsize);
    return true;
}

bool platform_fs_is_system_drive(char letter) {
    return drive_root_is_system(letter);
}
