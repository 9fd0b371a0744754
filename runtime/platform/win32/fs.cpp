// Windows back end of the file-system calls: the system calls themselves, with their answers
// sorted into the portable status vocabulary.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <direct.h>
#include <string>

#include "runtime/platform/platform.h"

static_assert(FS_ATTRIBUTES_INVALID == INVALID_FILE_ATTRIBUTES);
static_assert(FS_ATTRIBUTE_READ_ONLY == FILE_ATTRIBUTE_READONLY);
static_assert(FS_ATTRIBUTE_HIDDEN == FILE_ATTRIBUTE_HIDDEN);
static_assert(FS_ATTRIBUTE_SYSTEM == FILE_ATTRIBUTE_SYSTEM);
static_assert(FS_ATTRIBUTE_DIRECTORY == FILE_ATTRIBUTE_DIRECTORY);
static_assert(FS_ATTRIBUTE_ARCHIVE == FILE_ATTRIBUTE_ARCHIVE);
static_assert(FS_ATTRIBUTE_NORMAL == FILE_ATTRIBUTE_NORMAL);

struct FsFind {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

namespace {

constexpr DWORD PATH_BUFFER = 4096;

void fill(const WIN32_FIND_DATAA& data, FsFindEntry& entry) {
    entry.name = data.cFileName;
    entry.short_name = data.cAlternateFileName[0] != 0 ? data.cAlternateFileName : data.cFileName;
    entry.attributes = data.dwFileAttributes;
}

FsStatus status_of_errno(int error) {
    switch (error) {
    case 0: return FsStatus::ok;
    case ENOENT: return FsStatus::not_found;
    case EINVAL: return FsStatus::bad_name;
    case EACCES: return FsStatus::access_denied;
    case EEXIST: return FsStatus::exists;
    case ENOTEMPTY: return FsStatus::not_empty;
    default: return FsStatus::other;
    }
}

} // namespace

uint32_t platform_fs_attributes(const char* path) {
    return GetFileAttributesA(path);
}

FsFind* platform_fs_find_first(const char* pattern, FsFindEntry& entry) {
    WIN32_FIND_DATAA data{};
    HANDLE handle = FindFirstFileA(pattern, &data);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    fill(data, entry);
    FsFind* find = new FsFind;
    find->handle = handle;
    return find;
}

bool platform_fs_find_next(FsFind* find, FsFindEntry& entry) {
    WIN32_FIND_DATAA data{};
    if (find == nullptr || !FindNextFileA(find->handle, &data)) return false;
    fill(data, entry);
    return true;
}

void platform_fs_find_close(FsFind* find) {
    if (find == nullptr) return;
    FindClose(find->handle);
    delete find;
}

FsStatus platform_fs_delete(const char* path) {
    if (DeleteFileA(path)) return FsStatus::ok;
    switch (GetLastError()) {
    case ERROR_ACCESS_DENIED: return FsStatus::access_denied;
    case ERROR_WRITE_PROTECT: return FsStatus::write_protected;
    case ERROR_SHARING_VIOLATION: return FsStatus::sharing_violation;
    case ERROR_LOCK_VIOLATION: return FsStatus::lock_violation;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return FsStatus::not_found;
    default: return FsStatus::other;
    }
}

FsStatus platform_fs_rename(const char* old_path, const char* new_path) {
    return std::rename(old_path, new_path) == 0 ? FsStatus::ok : status_of_errno(errno);
}

FsStatus platform_fs_make_dir(const char* path) {
    return _mkdir(path) == 0 ? FsStatus::ok : status_of_errno(errno);
}

FsStatus platform_fs_remove_dir(const char* path) {
    return _rmdir(path) == 0 ? FsStatus::ok : status_of_errno(errno);
}

FsStatus platform_fs_change_dir(const char* path) {
    return _chdir(path) == 0 ? FsStatus::ok : status_of_errno(errno);
}

bool platform_fs_current_dir(std::string& path) {
    char buffer[PATH_BUFFER];
    DWORD n = GetCurrentDirectoryA(PATH_BUFFER, buffer);
    if (n == 0 || n >= PATH_BUFFER) return false;
    path.assign(buffer, n);
    return true;
}

bool platform_fs_short_path(const char* path, std::string& short_path) {
    char buffer[PATH_BUFFER];
    DWORD n = GetShortPathNameA(path, buffer, PATH_BUFFER);
    if (n == 0 || n >= PATH_BUFFER) return false;
    short_path.assign(buffer, n);
    return true;
}

bool platform_fs_free_bytes(const char* directory, uint64_t& free_bytes) {
    ULARGE_INTEGER available{};
    const char* where = directory != nullptr && directory[0] != 0 ? directory : nullptr;
    if (!GetDiskFreeSpaceExA(where, &available, nullptr, nullptr)) return false;
    free_bytes = available.QuadPart;
    return true;
}

bool platform_fs_is_system_drive(char letter) {
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
    if (n < 2 || n >= MAX_PATH || windows[1] != ':') return false;
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
    return upper(windows[0]) == upper(letter);
}
