#pragma once
// What the Windows file and serial back ends share.
#include <windows.h>

#include "runtime/platform/platform.h"

// The file result for a GetLastError value of CreateFileA.
int32_t win32_open_result(DWORD error);
// The file result for a GetLastError value of ReadFile or WriteFile.
int32_t win32_transfer_result(DWORD error);

inline HANDLE win32_handle(PlatformFile file) {
    return reinterpret_cast<HANDLE>(file);
}
