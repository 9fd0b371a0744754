// Windows files: CreateFileA with sharing modes, positioned ReadFile and WriteFile, and LockFile,
// whose locks are per handle and refuse other handles' transfers by themselves.
#include "runtime/platform/platform.h"

#include <string>
#include <windows.h>

#include "runtime/platform/win32/file_handle.h"

int32_t win32_open_result(DWORD error) {
    switch (error) {
    case ERROR_PATH_NOT_FOUND: return FILE_RESULT_PATH_NOT_FOUND;
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT: return FILE_RESULT_OTHER_FAILURE;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return FILE_RESULT_PERMISSION_DENIED;
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY: return FILE_RESULT_DEVICE_UNAVAILABLE;
    default: return FILE_RESULT_FILE_NOT_FOUND;
    }
}

int32_t win32_transfer_result(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION
               ? FILE_RESULT_PERMISSION_DENIED
               : FILE_RESULT_OTHER_FAILURE;
}

int32_t platform_file_open(const char* name, uint32_t access, uint32_t share, PlatformCreate create,
                           PlatformFile* file) {
    *file = PLATFORM_FILE_NONE;
    std::string path = name ? name : "";
    for (char& c : path)
        if (c == '/') c = '\\';
    DWORD desired = 0;
    if (access & PLATFORM_ACCESS_READ) desired |= GENERIC_READ;
    if (access & PLATFORM_ACCESS_WRITE) desired |= GENERIC_WRITE;
    DWORD sharing = 0;
    if (share & PLATFORM_SHARE_READ) sharing |= FILE_SHARE_READ;
    if (share & PLATFORM_SHARE_WRITE) sharing |= FILE_SHARE_WRITE;
    DWORD disposition = create == PlatformCreate::open_existing       ? OPEN_EXISTING
                        : create == PlatformCreate::truncate_existing ? TRUNCATE_EXISTING
                                                                      : OPEN_ALWAYS;
    HANDLE h = CreateFileA(path.c_str(), desired, sharing, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32_open_result(GetLastError());
    *file = reinterpret_cast<PlatformFile>(h);
    return FILE_RESULT_OK;
}

void platform_file_close(PlatformFile file) {
    if (file != PLATFORM_FILE_NONE) CloseHandle(win32_handle(file));
}

namespace {

bool seek(HANDLE h, int64_t offset) {
    if (offset < 0) return true; // a device stream: no position to set
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return SetFilePointerEx(h, to, nullptr, FILE_BEGIN) != 0;
}

// ReadFile and WriteFile move at most 4 GB - 1 at a time; larger counts go in pieces.
constexpr int64_t MAX_PIECE = 0x40000000;

} // namespace

int32_t platform_file_read(PlatformFile file, int64_t offset, void* buffer, int64_t count,
                           int64_t* done) {
    *done = 0;
    HANDLE h = win32_handle(file);
    if (!seek(h, offset)) return FILE_RESULT_WRONG_DIRECTION;
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (*done < count) {
        DWORD piece = DWORD(count - *done < MAX_PIECE ? count - *done : MAX_PIECE);
        DWORD got = 0;
        BOOL ok = ReadFile(h, bytes + *done, piece, &got, nullptr);
        *done += got;
        if (!ok) return win32_transfer_result(GetLastError());
        if (got < piece) break; // end of file, or a serial port's timeout
    }
    return FILE_RESULT_OK;
}

int32_t platform_file_write(PlatformFile file, int64_t offset, const void* data, int64_t count,
                            int64_t* done) {
    *done = 0;
    HANDLE h = win32_handle(file);
    if (!seek(h, offset)) return FILE_RESULT_WRONG_DIRECTION;
    auto* bytes = static_cast<const uint8_t*>(data);
    while (*done < count) {
        DWORD piece = DWORD(count - *done < MAX_PIECE ? count - *done : MAX_PIECE);
        DWORD put = 0;
        BOOL ok = WriteFile(h, bytes + *done, piece, &put, nullptr);
        *done += put;
        if (!ok) return win32_transfer_result(GetLastError());
        if (put < piece) break;
    }
    return FILE_RESULT_OK;
}

int32_t platform_file_size(PlatformFile file, int64_t* size) {
    *size = 0;
    LARGE_INTEGER s;
    if (!GetFileSizeEx(win32_handle(file), &s)) return FILE_RESULT_WRONG_DIRECTION;
    *size = s.QuadPart;
    return FILE_RESULT_OK;
}

int32_t platform_file_lock(PlatformFile file, uint64_t offset, uint64_t length, bool lock) {
    DWORD off_low = DWORD(offset), off_high = DWORD(offset >> 32);
    DWORD len_low = DWORD(length), len_high = DWORD(length >> 32);
    HANDLE h = win32_handle(file);
    BOOL ok = lock ? LockFile(h, off_low, off_high, len_low, len_high)
                   : UnlockFile(h, off_low, off_high, len_low, len_high);
    if (ok) return FILE_RESULT_OK;
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
        (!lock && error == ERROR_NOT_LOCKED))
        return FILE_RESULT_PERMISSION_DENIED;
    return FILE_RESULT_OTHER_FAILURE;
}

bool platform_file_locks_refuse_transfers() {
    // Wine announces itself through an export of its ntdll that Windows does not have.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return !(ntdll && GetProcAddress(ntdll, "wine_get_version"));
}
