#include "runtime/os/fs.h"

#include <cstring>
#include <string>

#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/os/detail.h"
#include "runtime/platform/platform.h"

FsState fs_state;
int32_t os_hosted_mode = 0;

void fs_reset() {
    fs_state = FsState{};
}

void os_store_terminated(BasicString*& work, BasicString*& terminator, BasicString* s) {
    if (work == nullptr) work = str_new(0, false);
    if (terminator == nullptr) {
        terminator = str_new(1, false);
        terminator->chars[0] = 0;
    }
    str_set(work, str_add(s, terminator));
}

std::string os_directory_part(const std::string& pattern) {
    size_t separator = pattern.find_last_of("\\/");
    if (separator != std::string::npos) return pattern.substr(0, separator + 1);
    bool drive =
        pattern.size() >= 2 && pattern[1] == ':' &&
        ((pattern[0] >= 'A' && pattern[0] <= 'Z') || (pattern[0] >= 'a' && pattern[0] <= 'z'));
    return drive ? pattern.substr(0, 2) : std::string();
}

namespace {

// The hosted edition names files in one plain alphabet, so that a name means the same on every
// host it runs on.
bool hosted_name_character(uint8_t c, int32_t position, bool last) {
    if (c == 0) return last;
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '_') return true;
    return c == '.' && position != 0;
}

// Copies `path` into `work` with a zero byte and fixes it up; the C text is valid until the
// next string allocation.
const char* prepare(BasicString*& work, BasicString* path) {
    os_store_terminated(work, fs_state.terminator, path);
    path_fixup(work);
    return os_c_text(work);
}

uint32_t attributes_of(BasicString*& work, BasicString* path) {
    return platform_fs_attributes(prepare(work, path));
}

} // namespace

void path_fixup(BasicString* work) {
    uint8_t* chars = work->chars;
    int32_t length = work->length;
    if (os_hosted_mode != 0) {
        for (int32_t i = 0; i < length; ++i) {
            if (chars[i] >= 'A' && chars[i] <= 'Z') chars[i] = uint8_t(chars[i] - 'A' + 'a');
            if (!hosted_name_character(chars[i], i, i == length - 1))
                error_raise(ERROR_PATH_ILLEGAL_HOSTED);
        }
    }
    for (int32_t i = 0; i < length; ++i)
        if (chars[i] == '/') chars[i] = '\\';
}

int32_t file_exists(BasicString* path) {
    if (error_pending()) return 0;
    uint32_t a = attributes_of(fs_state.exists_work, path);
    if (a == FS_ATTRIBUTES_INVALID || (a & FS_ATTRIBUTE_DIRECTORY) != 0) return 0;
    return -1;
}

int32_t dir_exists(BasicString* path) {
    if (error_pending()) return 0;
    uint32_t a = attributes_of(fs_state.dir_exists_work, path);
    return a != FS_ATTRIBUTES_INVALID && (a & FS_ATTRIBUTE_DIRECTORY) != 0 ? -1 : 0;
}

void file_delete(BasicString* files) {
    if (error_pending()) return;
    FsState& st = fs_state;
    std::string pattern = prepare(st.delete_work, files);
    std::string directory = os_directory_part(pattern);
    FsFindEntry entry;
    FsFind* find = platform_fs_find_first(pattern.c_str(), entry);
    if (find == nullptr) {
        error_raise(ERROR_FILE_NOT_FOUND);
        return;
    }
    int32_t deleted = 0;
    do {
        if ((entry.attributes & FS_ATTRIBUTE_DIRECTORY) != 0) continue;
        FsStatus status = platform_fs_delete((directory + entry.name).c_str());
        if (status == FsStatus::ok) {
            ++deleted;
            continue;
        }
        platform_fs_find_close(find);
        bool in_use = status == FsStatus::access_denied || status == FsStatus::write_protected ||
                      status == FsStatus::sharing_violation || status == FsStatus::lock_violation;
        error_raise(in_use ? ERROR_FILE_ALREADY_OPEN : ERROR_FILE_NOT_FOUND);
        return;
    } while (platform_fs_find_next(find, entry));
    platform_fs_find_close(find);
    if (deleted == 0) error_raise(ERROR_FILE_NOT_FOUND);
}

void file_rename(BasicString* old_name, BasicString* new_name) {
    if (error_pending()) return;
    FsState& st = fs_state;
    prepare(st.rename_old, old_name);
    prepare(st.rename_new, new_name);
    FsStatus status = platform_fs_rename(os_c_text(st.rename_old), os_c_text(st.rename_new));
    switch (status) {
    case FsStatus::ok: return;
    case FsStatus::not_found: error_raise(ERROR_FILE_NOT_FOUND); return;
    case FsStatus::bad_name: error_raise(ERROR_BAD_FILE_NAME); return;
    case FsStatus::access_denied:
    case FsStatus::exists: error_raise(ERROR_PATH_FILE_ACCESS); return;
    default: error_raise(ERROR_ILLEGAL_FUNCTION_CALL); return;
    }
}
