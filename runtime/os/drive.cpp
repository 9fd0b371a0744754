#include "runtime/os/drive.h"

#include "runtime/base/error.h"
#include "runtime/platform/platform.h"

int32_t drive_is_system(BasicString* path) {
    if (error_pending() || path->length < 2 || path->chars[1] != ':') return 0;
    uint8_t letter = path->chars[0];
    bool is_letter = (letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z');
    return is_letter && platform_fs_is_system_drive(char(letter)) ? -1 : 0;
}
