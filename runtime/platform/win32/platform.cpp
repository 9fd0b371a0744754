// Windows back end: the system the program ships for. Test runs under Wine use the same code,
// including the real MessageBoxA.
#include "runtime/platform/platform.h"
#include "runtime/platform/path_rules.h"

#include <windows.h>

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <direct.h>
#include <float.h>
#include <string>

static_assert(DIALOG_OK == MB_OK);
static_assert(DIALOG_YES_NO == MB_YESNO);
static_assert(DIALOG_SYSTEM_MODAL == MB_SYSTEMMODAL);
static_assert(DIALOG_ANSWER_OK == IDOK);
static_assert(DIALOG_ANSWER_YES == IDYES);
static_assert(DIALOG_ANSWER_NO == IDNO);

namespace {

// A message box is a dialog of the system class "#32770" whose text sits in a static control
// with the id 0xFFFF.
constexpr char DIALOG_CLASS[] = "#32770";
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;
constexpr DWORD SCRIPTED_ANSWER_TIMEOUT_MS = 10000;
constexpr DWORD SCRIPTED_ANSWER_POLL_MS = 20;

int64_t counter_ms() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    // Split so that neither the product nor the division loses range or precision.
    int64_t ticks = count.QuadPart, per_second = frequency.QuadPart;
    return ticks / per_second * 1000 + ticks % per_second * 1000 / per_second;
}

// Taken during static initialisation, so the clock reads near zero from the start.
const int64_t clock_base_ms = counter_ms();

bool is_yes_no(unsigned style) {
    return (style & 0xF) == DIALOG_YES_NO;
}

// Only answers that the box's buttons offer; anything else is the box's safe answer.
int scripted_answer(const char* requested, unsigned style) {
    if (!is_yes_no(style)) return IDOK;
    return std::strcmp(requested, "yes") == 0 ? IDYES : IDNO;
}

// What the answering thread needs; written before the thread starts and only read by it.
struct ScriptedBox {
    const char* caption;
    int button;
    HWND found;
};

BOOL CALLBACK match_box(HWND window, LPARAM parameter) {
    auto* box = reinterpret_cast<ScriptedBox*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    char name[sizeof DIALOG_CLASS + 1];
    if (!GetClassNameA(window, name, sizeof name) || std::strcmp(name, DIALOG_CLASS) != 0) {
        return TRUE;
    }
    // Visible only once the dialog has finished its initialisation, text included.
    if (!IsWindowVisible(window)) return TRUE;
    std::string title(size_t(GetWindowTextLengthA(window)) + 1, '\0');
    title.resize(size_t(GetWindowTextA(window, title.data(), int(title.size()))));
    if (title != box->caption) return TRUE;
    box->found = window;
    return FALSE;
}

// Finds this process's box by its caption, echoes what it shows and presses the button, the
// way a user would. Gives up after the timeout so that a box that never appears cannot keep it.
DWORD WINAPI answer_box(void* parameter) {
    auto* box = static_cast<ScriptedBox*>(parameter);
    DWORD started = GetTickCount();
    while (GetTickCount() - started < SCRIPTED_ANSWER_TIMEOUT_MS) {
        box->found = nullptr;
        EnumWindows(match_box, reinterpret_cast<LPARAM>(box));
        if (HWND window = box->found) {
            HWND label = GetDlgItem(window, MESSAGE_BOX_TEXT_ID);
            std::string text(size_t(GetWindowTextLengthA(label)) + 1, '\0');
            text.resize(size_t(GetWindowTextA(label, text.data(), int(text.size()))));
            std::fprintf(stderr, "[dialog] %s: %s\n", box->caption, text.c_str());
            std::fflush(stderr);
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(box->button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(window, box->button)));
            return 0;
        }
        Sleep(SCRIPTED_ANSWER_POLL_MS);
    }
    return 1;
}

} // namespace

int platform_message_box(const char* text, const char* caption, unsigned style) {
    const char* requested = std::getenv("UNVEILO_TEST_DIALOG_ANSWER");
    if (!requested) return MessageBoxA(nullptr, text, caption, style);

    ScriptedBox box{caption, scripted_answer(requested, style), nullptr};
    HANDLE answerer = CreateThread(nullptr, 0, answer_box, &box, 0, nullptr);
    int answer = MessageBoxA(nullptr, text, caption, style);
    if (answerer) {
        WaitForSingleObject(answerer, INFINITE);
        CloseHandle(answerer);
    }
    return answer;
}

void platform_exit(int status) {
    // The process ends from the display thread (or wherever a critical error struck) while the
    // window thread is still inside the window library's event loop: exit() would run the
    // library's exit handlers and destroy static objects under that thread's feet, and the
    // library then fails the process with a status of its own. Nothing needs tearing down (the
    // program keeps no files of its own), so only the output streams are flushed.
    std::fflush(nullptr);
    std::_Exit(status);
}

// Sleep(0) gives up the rest of the time slice, which is what a zero delay asks for.
void platform_sleep_ms(uint32_t delay_ms) {
    Sleep(delay_ms);
}

// SetThreadDescription exists from Windows 10 1607 on (and not in Wine 8), so it is looked up
// rather than linked.
void platform_thread_name(const char* name) {
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto set = kernel ? reinterpret_cast<SetDescription>(
                            reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")))
                      : nullptr;
    if (!set) return;
    wchar_t wide[64] = {};
    for (size_t i = 0; i + 1 < 64 && name[i] != 0; ++i) wide[i] = wchar_t(uint8_t(name[i]));
    set(GetCurrentThread(), wide);
}

int64_t platform_clock_ms() {
    return counter_ms() - clock_base_ms;
}

std::string platform_executable_path() {
    std::string path(65536, '\0');
    DWORD length = GetModuleFileNameA(nullptr, path.data(), DWORD(path.size()));
    if (length == 0 || length >= path.size()) return {};
    path.resize(length);
    return path;
}

bool platform_chdir(const char* path) {
    return _chdir(path) == 0;
}

bool platform_enter_executable_directory() {
    // The wide calls: with the ANSI ones a folder named outside the ANSI code page (a Cyrillic
    // user name on an English Windows older than 1903, or Wine) comes back with '?' in it and
    // cannot be entered. 32768 characters is the longest path Windows knows.
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (length == 0 || length >= path.size()) return false;
    path.resize(platform_directory_length(path.data(), length));
    return SetCurrentDirectoryW(path.c_str()) != 0;
}

bool platform_setenv(const char* name, const char* value) {
    // The C library's _putenv_s updates the process environment block too, so child processes
    // inherit the change; an empty value removes the variable.
    return _putenv_s(name, value ? value : "") == 0;
}

int32_t platform_environment_count() {
    // The C run-time's table, which _putenv_s keeps in step; the process block would also hold
    // the per-drive current directories ("=C:=C:\\dir").
    int32_t count = 0;
    for (char** entry = _environ; entry && *entry; ++entry) ++count;
    return count;
}

void platform_fpu_extended_precision() {
#if defined(__i386__) || defined(_M_IX86)
    _controlfp(_PC_64, _MCW_PC);
#else
    // x86-64 Windows does not let a program set the x87 precision control through _controlfp;
    // float and double arithmetic runs on SSE, which has none.
#endif
}

namespace {
// The guard of the calling thread, or null. Written only by its own thread; read by the handler,
// which the C run-time calls on the faulting thread.
thread_local jmp_buf* division_guard = nullptr;

extern "C" void division_fault(int) {
    // The C run-time calls this from its exception filter; a long jump out of it is the
    // documented way to resume after a floating-point or division fault.
    if (jmp_buf* guard = division_guard) longjmp(*guard, 1);
    signal(SIGFPE, SIG_DFL);
    raise(SIGFPE);
}
} // namespace

void platform_division_trap_install() {
    signal(SIGFPE, division_fault);
}

bool platform_run_guarded(void (*body)(void*), void* context) {
    jmp_buf guard;
    jmp_buf* outer = division_guard;
    if (setjmp(guard) != 0) {
        _fpreset();
        division_guard = outer;
        // The run-time put SIGFPE back to its default before calling the handler.
        signal(SIGFPE, division_fault);
        return true;
    }
    division_guard = &guard;
    body(context);
    division_guard = outer;
    return false;
}
