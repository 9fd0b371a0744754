// Windows back end of the process calls: the shell's launch, CreateProcessA, the wait and the
// console of an interactive command interpreter.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "runtime/platform/platform.h"

static_assert(PROCESS_NEW_CONSOLE == CREATE_NEW_CONSOLE);
static_assert(PROCESS_NO_WINDOW == CREATE_NO_WINDOW);
static_assert(SHOW_SHOWN == SW_SHOW);
static_assert(SHOW_HIDDEN == SW_HIDE);

bool platform_shell_execute(const char* file, const char* parameters, int32_t show,
                            bool keep_process, PlatformProcess* process) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    // No error dialogs from the shell: a failed launch falls back to the interpreter instead.
    info.fMask = SEE_MASK_FLAG_NO_UI | (keep_process ? SEE_MASK_NOCLOSEPROCESS : 0);
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = show;
    if (!ShellExecuteExA(&info)) return false;
    if (keep_process) {
        // A launch that reuses a running program hands back no process: nothing to wait for.
        if (process != nullptr) process->id = reinterpret_cast<intptr_t>(info.hProcess);
    }
    return true;
}

bool platform_create_process(const char* command_line, uint32_t flags, PlatformProcess* process) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string line = command_line; // CreateProcessA may write into its command line
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &info))
        return false;
    CloseHandle(info.hThread);
    if (process != nullptr) process->id = reinterpret_cast<intptr_t>(info.hProcess);
    return true;
}

int64_t platform_process_wait(PlatformProcess process) {
    HANDLE handle = reinterpret_cast<HANDLE>(process.id);
    if (handle == nullptr) return 0;
    WaitForSingleObject(handle, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(handle, &code)) code = 0;
    CloseHandle(handle);
    return int64_t(code);
}

void platform_process_release(PlatformProcess process) {
    HANDLE handle = reinterpret_cast<HANDLE>(process.id);
    if (handle != nullptr) CloseHandle(handle);
}

int64_t platform_system(const char* command) {
    return std::system(command);
}

void platform_console_alloc() {
    AllocConsole();
}

void platform_console_free() {
    FreeConsole();
}
