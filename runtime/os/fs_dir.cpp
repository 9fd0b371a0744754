// The directory statements and the directory listing.
#include <cctype>
#include <cstring>
#include <string>

#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/os/detail.h"
#include "runtime/os/fs.h"
#include "runtime/platform/platform.h"
#include "runtime/strings/str_from.h"

namespace {

DirListPrinter printer;

const char* prepare(BasicString*& work, BasicString* path) {
    os_store_terminated(work, fs_state.terminator, path);
    path_fixup(work);
    return os_c_text(work);
}

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

// One cell of the listing: an 8.3 name laid out as name, dot in column 9 and extension, then the
// directory mark, 18 characters in all; longer names run over their cell.
std::string listing_cell(const FsFindEntry& entry) {
    std::string name = upper(entry.short_name.empty() ? entry.name : entry.short_name);
    if (name.size() <= 11) {
        name.resize(12, ' ');
        size_t dot = name.find('.');
        if (dot != std::string::npos) {
            std::string base = name.substr(0, dot);
            std::string extension = name.substr(dot + 1, 3);
            base.resize(8, ' ');
            extension.resize(3, ' ');
            name = base + "." + extension;
        }
    }
    bool directory = (entry.attributes & FS_ATTRIBUTE_DIRECTORY) != 0;
    return name + (directory ? "<DIR> " : "      ");
}

// A permanent string holding `text`, replaced in place when the length fits.
void set_text(BasicString*& target, const std::string& text) {
    if (target != nullptr && target->length != int32_t(text.size())) {
        str_free(target);
        target = nullptr;
    }
    if (target == nullptr) target = str_new(int32_t(text.size()), false);
    if (!text.empty()) std::memcpy(target->chars, text.data(), text.size());
}

void print_text(const std::string& text, bool end_line, bool fit) {
    if (printer.print == nullptr) return;
    set_text(fs_state.list_entry, text);
    if (fit && printer.fit != nullptr) printer.fit(fs_state.list_entry);
    printer.print(fs_state.list_entry, end_line ? 1 : 0);
}

} // namespace

void dir_list_set_printer(const DirListPrinter& p) {
    printer = p;
}

void dir_change(BasicString* path) {
    if (error_pending()) return;
    if (platform_fs_change_dir(prepare(fs_state.change_work, path)) != FsStatus::ok)
        error_raise(ERROR_PATH_NOT_FOUND);
}

void dir_make(BasicString* path) {
    if (error_pending()) return;
    if (os_hosted_mode != 0) {
        error_raise(ERROR_UNAVAILABLE_HOSTED);
        return;
    }
    FsStatus status = platform_fs_make_dir(prepare(fs_state.make_work, path));
    if (status == FsStatus::ok) return;
    error_raise(status == FsStatus::exists ? ERROR_PATH_FILE_ACCESS : ERROR_PATH_NOT_FOUND);
}

void dir_remove(BasicString* path) {
    if (error_pending()) return;
    FsStatus status = platform_fs_remove_dir(prepare(fs_state.remove_work, path));
    if (status == FsStatus::ok) return;
    error_raise(status == FsStatus::not_empty ? ERROR_PATH_FILE_ACCESS : ERROR_PATH_NOT_FOUND);
}

void dir_list(BasicString* listing, int32_t given) {
    if (error_pending()) return;
    if (os_hosted_mode != 0) {
        error_raise(ERROR_UNAVAILABLE_HOSTED);
        return;
    }
    FsState& st = fs_state;
    if (given == 0 || listing == nullptr) listing = str_new(0, true);
    os_store_terminated(st.list_work, st.terminator, listing);
    // An empty pattern or a directory name with a closing separator lists everything in
    // it. A closing forward slash counts too: it is a backslash once fixed up.
    int32_t length = st.list_work->length - 1;
    uint8_t last = length > 0 ? st.list_work->chars[length - 1] : 0;
    if (length == 0 || last == '\\' || last == '/') {
        BasicString* star = str_new(2, true);
        star->chars[0] = '*';
        star->chars[1] = 0;
        str_set(st.list_work, str_add(str_left(st.list_work, length), star));
    }
    path_fixup(st.list_work);
    std::string pattern = os_c_text(st.list_work);
    std::string directory = os_directory_part(pattern);

    std::string current, current_short;
    if (!platform_fs_current_dir(current) ||
        !platform_fs_short_path(current.c_str(), current_short)) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }
    print_text(upper(current_short), true, false);

    FsFindEntry entry;
    FsFind* find = platform_fs_find_first(pattern.c_str(), entry);
    if (find == nullptr) {
        error_raise(ERROR_FILE_NOT_FOUND);
        return;
    }
    do {
        print_text(listing_cell(entry), false, true);
    } while (platform_fs_find_next(find, entry));
    platform_fs_find_close(find);

    uint64_t free_bytes = 0;
    if (!platform_fs_free_bytes(directory.c_str(), free_bytes)) free_bytes = 0;
    if (printer.print == nullptr) return;
    if (printer.cursor_column != nullptr && printer.cursor_column() != 1 &&
        printer.newline != nullptr)
        printer.newline();
    int64_t shown = free_bytes > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(free_bytes);
    BasicString* line = str_add(str_from_int64(shown), str_new_cstring(" Bytes free"));
    printer.print(line, 1);
}
