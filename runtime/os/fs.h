#pragma once
// File-system queries and statements: existence tests, delete, rename, the directory statements
// and the directory listing. Program thread only. Every operation copies its path into a
// permanent work string of its own with a zero byte appended (the system wants terminated text)
// and passes it through path_fixup; failures are raised as run-time errors.
#include <cstdint>

#include "runtime/base/error.h"
#include "runtime/strings/str.h"

// Set at start-up by the hosted edition, which restricts names and refuses some statements.
// 0 in this program. Program thread only.
extern int32_t os_hosted_mode;

// In place over a zero-terminated work string: forward slashes become backslashes. In hosted
// mode the name is checked first: a character the hosted edition refuses is critical error 263.
void path_fixup(BasicString* work);

// -1 when the path names an existing object that is not a directory, else 0.
int32_t file_exists(BasicString* path);
// -1 when the path names an existing directory (a drive root such as "E:\" included), else 0.
int32_t dir_exists(BasicString* path);
// Deletes the files matching a pattern with * and ?; errors 53 and 55.
void file_delete(BasicString* pattern);
// Errors 53, 64, 75 and 5.
void file_rename(BasicString* old_name, BasicString* new_name);
void dir_change(BasicString* path); // error 76
void dir_make(BasicString* path);   // errors 75, 76, 262
void dir_remove(BasicString* path); // errors 75, 76
// Lists the matching entries on the screen in 18-column cells, then the free bytes of the
// volume. `given` 0 lists the current directory.
void dir_list(BasicString* pattern, int32_t given);

// The screen operations dir_list prints through. Text output sits above this family, so the
// run-time's start-up hands them in; until then dir_list prints nothing.
struct DirListPrinter {
    void (*print)(BasicString* s, int32_t end_line) = nullptr; // does not free s
    void (*fit)(BasicString* s) = nullptr; // new line first when s does not fit on this one
    void (*newline)() = nullptr;
    int32_t (*cursor_column)() = nullptr; // 1-based
};
void dir_list_set_printer(const DirListPrinter& printer);
