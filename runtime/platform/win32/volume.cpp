// Windows back end of the drive the clean-up works on: a drive letter's root, reached through the
// wide calls with the \\?\ prefix (no trimming of trailing spaces and dots, no length limit of
// 260), every folder on the way checked for a reparse point so that no junction or symbolic link
// is followed.
#include <windows.h>

#include <string>

#include "runtime/platform/utf16.h"
#include "runtime/platform/volume.h"

namespace {

struct VolumeState {
    std::wstring root; // \\?\E:  (no trailing backslash)
    std::string shown; // E:
    char letter = 0;
};
VolumeState state;

std::wstring wide(std::string_view text) {
    const std::u16string units = utf8_to_utf16(text);
    return std::wstring(units.begin(), units.end());
}

std::string narrow(const wchar_t* text) {
    const std::wstring_view view(text);
    return utf16_to_utf8(std::u16string(view.begin(), view.end()));
}

bool valid_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("\\/\0", 3)) == std::string::npos;
}

bool root_present() {
    const DWORD a = GetFileAttributesW((state.root + L"\\").c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

VolumeStatus status_of(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS: return VolumeStatus::ok;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY: return root_present() ? VolumeStatus::not_found : VolumeStatus::gone;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
    case ERROR_DIR_NOT_EMPTY: return VolumeStatus::exists;
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME: return VolumeStatus::bad_name;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return VolumeStatus::no_space;
    case ERROR_WRITE_PROTECT: return VolumeStatus::write_protected;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return VolumeStatus::denied;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_GEN_FAILURE:
    case ERROR_CRC: return VolumeStatus::gone;
    default: return VolumeStatus::other;
    }
}

VolumeStatus last_status() {
    return status_of(GetLastError());
}

// The wide path of `path`, each folder above its last name checked: a folder, no reparse point.
VolumeStatus wide_path(const VolumePath& path, std::wstring& out) {
    out.clear();
    if (state.root.empty()) return VolumeStatus::gone;
    std::wstring built = state.root;
    if (path.empty()) built += L"\\";
    for (size_t i = 0; i < path.size(); ++i) {
        if (!valid_name(path[i])) return VolumeStatus::bad_name;
        if (i > 0) {
            const DWORD a = GetFileAttributesW(built.c_str());
            if (a == INVALID_FILE_ATTRIBUTES) return last_status();
            if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return VolumeStatus::is_link;
            if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) return VolumeStatus::not_found;
        }
        built += L"\\";
        built += wide(path[i]);
    }
    out = std::move(built);
    return VolumeStatus::ok;
}

VolumeEntry entry_of(const WIN32_FIND_DATAW& data) {
    VolumeEntry entry;
    entry.name = narrow(data.cFileName);
    entry.is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.is_dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!entry.is_dir) entry.size_bytes = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return entry;
}

// Opens a file (never a reparse point, never a folder) for `access`.
VolumeStatus open_file(const VolumePath& path, DWORD access, DWORD disposition, HANDLE& handle) {
    handle = INVALID_HANDLE_VALUE;
    std::wstring name;
    if (VolumeStatus status = wide_path(path, name); status != VolumeStatus::ok) return status;
    handle =
        CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return last_status();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        const VolumeStatus status = last_status();
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        return status;
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                   ? VolumeStatus::is_link
                   : VolumeStatus::not_found;
    }
    return VolumeStatus::ok;
}

VolumeStatus write_handle(HANDLE handle, std::string_view data) {
    while (!data.empty()) {
        DWORD done = 0;
        const DWORD want = data.size() > 1u << 20 ? 1u << 20 : DWORD(data.size());
        if (!WriteFile(handle, data.data(), want, &done, nullptr)) return last_status();
        data.remove_prefix(done);
    }
    return FlushFileBuffers(handle) ? VolumeStatus::ok : last_status();
}

VolumeStatus write_file(const VolumePath& path, std::string_view data, DWORD access,
                        DWORD disposition) {
    HANDLE handle;
    VolumeStatus status = open_file(path, access, disposition, handle);
    if (status != VolumeStatus::ok) return status;
    status = write_handle(handle, data);
    CloseHandle(handle);
    return status;
}

} // namespace

VolumeOpen volume_open(std::string_view drive, std::string& shown) {
    state = VolumeState{};
    const char letter = volume_drive_letter(drive);
    if (letter == 0) return VolumeOpen::bad_argument;
    wchar_t windows[MAX_PATH + 1]{};
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length >= 2 && volume_drive_letter(std::string{char(windows[0]), ':'}) == letter)
        return VolumeOpen::system_drive;
    const wchar_t root[] = {wchar_t(letter), L':', L'\\', 0};
    const UINT type = GetDriveTypeW(root);
    if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) return VolumeOpen::missing;
    const DWORD a = GetFileAttributesW(root);
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return VolumeOpen::missing;
    state.root = std::wstring(L"\\\\?\\") + wchar_t(letter) + L":";
    state.letter = letter;
    state.shown = std::string{letter, ':'};
    shown = state.shown;
    return VolumeOpen::ok;
}

char volume_letter() {
    return state.letter;
}

VolumeStatus volume_list(const VolumePath& folder, std::vector<VolumeEntry>& entries) {
    entries.clear();
    std::wstring name;
    if (VolumeStatus status = wide_path(folder, name); status != VolumeStatus::ok) return status;
    if (!folder.empty()) {
        const DWORD a = GetFileAttributesW(name.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) return last_status();
        if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return VolumeStatus::is_link;
        if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) return VolumeStatus::not_found;
    }
    if (name.back() != L'\\') name += L"\\";
    name += L"*";
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(name.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        // An empty root has no "." entry to find.
        return GetLastError() == ERROR_FILE_NOT_FOUND ? VolumeStatus::ok : last_status();
    }
    do {
        const std::wstring_view item(data.cFileName);
        if (item == L"." || item == L"..") continue;
        entries.push_back(entry_of(data));
    } while (FindNextFileW(find, &data));
    const DWORD error = GetLastError();
    FindClose(find);
    return error == ERROR_NO_MORE_FILES ? VolumeStatus::ok : status_of(error);
}

VolumeStatus volume_stat(const VolumePath& path, VolumeEntry& entry) {
    std::wstring name;
    if (VolumeStatus status = wide_path(path, name); status != VolumeStatus::ok) return status;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return last_status();
    entry = VolumeEntry{};
    entry.name = path.empty() ? std::string() : path.back();
    entry.is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.is_dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!entry.is_dir) entry.size_bytes = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return VolumeStatus::ok;
}

VolumeStatus volume_read(const VolumePath& path, size_t max_bytes, std::vector<uint8_t>& bytes) {
    bytes.clear();
    HANDLE handle;
    VolumeStatus status = open_file(path, GENERIC_READ, OPEN_EXISTING, handle);
    if (status != VolumeStatus::ok) return status;
    while (bytes.size() < max_bytes) {
        uint8_t chunk[65536];
        const size_t left = max_bytes - bytes.size();
        DWORD got = 0;
        if (!ReadFile(handle, chunk, DWORD(left < sizeof chunk ? left : sizeof chunk), &got,
                      nullptr)) {
            status = last_status();
            break;
        }
        if (got == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    CloseHandle(handle);
    if (status != VolumeStatus::ok) bytes.clear();
    return status;
}

VolumeStatus volume_move(const VolumePath& from, const VolumePath& to) {
    if (from.empty() || to.empty()) return VolumeStatus::bad_name;
    std::wstring source, target;
    if (VolumeStatus status = wide_path(from, source); status != VolumeStatus::ok) return status;
    if (VolumeStatus status = wide_path(to, target); status != VolumeStatus::ok) return status;
    // Without MOVEFILE_REPLACE_EXISTING an existing target is refused; a reparse point is moved
    // as itself, not followed.
    return MoveFileExW(source.c_str(), target.c_str(), 0) ? VolumeStatus::ok : last_status();
}

VolumeStatus volume_make_folder(const VolumePath& path) {
    std::wstring name;
    if (VolumeStatus status = wide_path(path, name); status != VolumeStatus::ok) return status;
    return CreateDirectoryW(name.c_str(), nullptr) ? VolumeStatus::ok : last_status();
}

VolumeStatus volume_create_file(const VolumePath& path, std::string_view data) {
    return write_file(path, data, GENERIC_WRITE, CREATE_NEW);
}

VolumeStatus volume_append(const VolumePath& path, std::string_view data) {
    return write_file(path, data, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_EXISTING);
}

VolumeStatus volume_add_attributes(const VolumePath& path, uint32_t set) {
    std::wstring name;
    if (VolumeStatus status = wide_path(path, name); status != VolumeStatus::ok) return status;
    const DWORD a = GetFileAttributesW(name.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return last_status();
    if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return VolumeStatus::is_link;
    const DWORD keep = a & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL);
    return SetFileAttributesW(name.c_str(), keep | set) ? VolumeStatus::ok : last_status();
}

bool volume_read_only() {
    DWORD flags = 0;
    return GetVolumeInformationW((state.root + L"\\").c_str(), nullptr, 0, nullptr, nullptr, &flags,
                                 nullptr, 0) &&
           (flags & FILE_READ_ONLY_VOLUME) != 0;
}

std::string volume_display(const VolumePath& path) {
    std::string shown = state.shown;
    if (path.empty()) shown += '\\';
    for (const std::string& name : path) {
        shown += '\\';
        shown += name;
    }
    return shown;
}
