// Windows back end of a console program's arguments and output: the wide command line, and the
// wide console call where the output is a console, so that names in any script arrive and show
// as they are whatever the console's code page.
#include <windows.h>

#include <shellapi.h>

#include "runtime/platform/cli.h"
#include "runtime/platform/utf16.h"

std::vector<std::string> cli_arguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return arguments;
    for (int i = 1; i < count; ++i) {
        const std::wstring_view item(wide[i]);
        arguments.push_back(utf16_to_utf8(std::u16string(item.begin(), item.end())));
    }
    LocalFree(wide);
    return arguments;
}

void cli_write(std::string_view text, bool to_error) {
    HANDLE out = GetStdHandle(to_error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        const std::u16string units = utf8_to_utf16(text);
        size_t at = 0;
        while (at < units.size()) {
            DWORD done = 0;
            const DWORD want = DWORD(units.size() - at > 8192 ? 8192 : units.size() - at);
            if (!WriteConsoleW(out, units.data() + at, want, &done, nullptr) || done == 0) return;
            at += done;
        }
        return;
    }
    DWORD done = 0;
    WriteFile(out, text.data(), DWORD(text.size()), &done, nullptr);
}

void cli_hold(int seconds, std::string_view message, std::string_view title) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (seconds <= 0 || in == nullptr || in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode))
        return;
    cli_write(message);
    // Keys pressed while the work ran are not an answer to this message. The title changes only
    // after they are gone, so that whoever waits for it knows that a key now counts.
    FlushConsoleInputBuffer(in);
    const std::u16string units = utf8_to_utf16(title);
    SetConsoleTitleW(std::wstring(units.begin(), units.end()).c_str());
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(seconds) * 1000;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return;
        if (WaitForSingleObject(in, DWORD(deadline - now)) != WAIT_OBJECT_0) return;
        INPUT_RECORD records[16];
        DWORD count = 0;
        if (!ReadConsoleInputW(in, records, 16, &count)) return;
        for (DWORD i = 0; i < count; ++i)
            if (records[i].EventType == KEY_EVENT && records[i].Event.KeyEvent.bKeyDown) return;
    }
}
