#pragma once
// The family's state, for start-up and tests.
#include <cstdint>
#include <string>

#include "runtime/strings/str.h"

// Permanent work strings, one per operation and path argument, each created on first use.
struct FsState {
    BasicString* terminator = nullptr; // one zero byte
    BasicString* exists_work = nullptr;
    BasicString* dir_exists_work = nullptr;
    BasicString* delete_work = nullptr;
    BasicString* rename_old = nullptr;
    BasicString* rename_new = nullptr;
    BasicString* change_work = nullptr;
    BasicString* make_work = nullptr;
    BasicString* remove_work = nullptr;
    BasicString* list_work = nullptr;
    BasicString* list_entry = nullptr;
};
extern FsState fs_state;

struct ShellState {
    int32_t cmd_available = -1; // -1 not probed, 1 "cmd.exe" starts, 0 it does not
    BasicString* terminator = nullptr;
    BasicString* command = nullptr; // the command line as handed to the system
    BasicString* first_word = nullptr;
    BasicString* first_word_z = nullptr; // ... with a zero byte
    BasicString* rest = nullptr;
    BasicString* rest_z = nullptr;
    BasicString* parameters = nullptr; // " /c " and the rebuilt line, or "command.com /c " line
};
extern ShellState shell_state;

// Forget the work strings (with the string engine) and the probe.
void fs_reset();
void shell_reset();

// `work` becomes the bytes of `s` and one zero byte; a temporary `s` is consumed.
void os_store_terminated(BasicString*& work, BasicString*& terminator, BasicString* s);
inline const char* os_c_text(const BasicString* work) {
    return reinterpret_cast<const char*>(work->chars);
}
// The directory part of a pattern, to which the names a search finds are appended: up to
// and including its last slash or backslash, or the drive ("E:") of a drive-relative
// pattern without either, whose names lie on that drive and not in the working directory.
std::string os_directory_part(const std::string& pattern);
