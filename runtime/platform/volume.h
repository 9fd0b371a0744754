#pragma once
// A removable drive as the clean-up program sees it: one root folder, reached by a drive letter
// (or on POSIX also by a folder), inside which every path is a list of names. Nothing here ever
// leaves that root: a path is built from names that a listing returned or that the caller
// checked, no name may be empty, "." or "..", or hold a separator, and a symbolic link, junction
// or other reparse point on the way is refused rather than followed. Nothing here deletes or
// overwrites: a move refuses an existing target and a new file refuses an existing name.
//
// Names are UTF-8. On Windows they are converted from and to UTF-16 with lone surrogates kept
// (generalised UTF-8), and paths are handed to the wide calls with the \\?\ prefix, so that names
// ending in a space or a dot (which viruses use and the plain calls would trim) are reached as
// they are. On POSIX names are the bytes the file system stores.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using VolumePath = std::vector<std::string>; // names below the root; empty: the root itself

// Attribute bits as Windows numbers them.
constexpr uint32_t VOLUME_READ_ONLY = 0x01;
constexpr uint32_t VOLUME_HIDDEN = 0x02;
constexpr uint32_t VOLUME_SYSTEM = 0x04;

struct VolumeEntry {
    std::string name;
    bool is_dir = false;
    bool is_link = false; // a symbolic link, junction or other reparse point: never entered
    uint64_t size_bytes = 0;
};

enum class VolumeStatus {
    ok,
    not_found,       // no such entry, or a folder on the way is missing
    exists,          // the target of a move or a new file is taken
    is_link,         // a link or reparse point is on the way
    bad_name,        // a name the file system refuses (too long, a reserved character)
    no_space,        // the medium is full
    write_protected, // the medium or the mount refuses writes
    denied,          // no permission, or the entry is in use
    gone,            // the drive itself went away (pulled out)
    other,
};

// What a DRIVE argument names: a letter ("E:", "e", "E:\") or, on POSIX, a folder.
enum class VolumeOpen {
    ok,
    bad_argument, // neither a letter nor (on POSIX) an absolute folder
    missing,      // no such drive, no medium, or not a folder
    system_drive, // the drive that holds the operating system
};

// The upper-case letter of a DRIVE argument written as a letter ("E", "E:", "e:\\", "E:/"); 0 for
// anything else.
inline char volume_drive_letter(std::string_view drive) {
    const bool letter_form =
        !drive.empty() &&
        ((drive[0] >= 'A' && drive[0] <= 'Z') || (drive[0] >= 'a' && drive[0] <= 'z')) &&
        (drive.size() == 1 ||
         (drive[1] == ':' &&
          (drive.size() == 2 || (drive.size() == 3 && (drive[2] == '\\' || drive[2] == '/')))));
    if (!letter_form) return 0;
    return drive[0] >= 'a' ? char(drive[0] - 'a' + 'A') : drive[0];
}

// Makes `drive` the root that every other call works in. `shown` receives the drive as messages
// name it ("E:", or the folder on POSIX).
VolumeOpen volume_open(std::string_view drive, std::string& shown);
// The letter of the open drive, upper case; 0 when it was opened as a folder with no letter.
char volume_letter();

// The entries of a folder, "." and ".." left out, in the order the file system returns them.
VolumeStatus volume_list(const VolumePath& folder, std::vector<VolumeEntry>& entries);
// One entry without following it. The root itself is a folder named "".
VolumeStatus volume_stat(const VolumePath& path, VolumeEntry& entry);
// Up to `max_bytes` of a file's contents; a link is refused.
VolumeStatus volume_read(const VolumePath& path, size_t max_bytes, std::vector<uint8_t>& bytes);

// Renames within the drive; an existing target (in any letter case on a file system that ignores
// case) is refused with `exists`.
VolumeStatus volume_move(const VolumePath& from, const VolumePath& to);
VolumeStatus volume_make_folder(const VolumePath& path);
// Creates a new file with `data`, refusing an existing name, and forces it to the medium.
VolumeStatus volume_create_file(const VolumePath& path, std::string_view data);
// Appends to an existing file (never a link) and forces the new bytes to the medium, so that a
// record written before a move survives the stick being pulled out right after it.
VolumeStatus volume_append(const VolumePath& path, std::string_view data);
// Sets the bits of `set` in addition to those the entry has.
VolumeStatus volume_add_attributes(const VolumePath& path, uint32_t set);
// True when the medium or the mount is read-only as a whole, which a write would otherwise only
// find out by failing.
bool volume_read_only();

// How a path is shown to the user: the drive, then the names joined by the system's separator.
std::string volume_display(const VolumePath& path);
// The longest name the file system takes, in bytes of UTF-8 (both systems allow 255 units).
constexpr size_t VOLUME_NAME_MAX_BYTES = 255;
