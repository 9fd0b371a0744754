#pragma once
// Which drive holds the operating system. The recovery program refuses that drive: clearing the
// hidden and system attributes of everything on it would expose every protected system file.
#include <cstdint>

#include "runtime/strings/str.h"

// -1 when `path` starts with a drive letter and a colon ("C:\", "c:") naming the system drive:
// on Windows the drive of the Windows directory, on POSIX any letter mapped to "/". 0 for
// anything else, and while a run-time error is pending.
int32_t drive_is_system(BasicString* path);
