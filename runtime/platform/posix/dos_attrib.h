#pragma once
// The DOS attribute bits (read-only, hidden, system, archive) of files on a POSIX host.
//
// Where they live depends on the file system:
//   - on FAT (vfat, msdos) the kernel keeps the real directory-entry bits and hands them out
//     through FAT_IOCTL_GET_ATTRIBUTES / FAT_IOCTL_SET_ATTRIBUTES;
//   - elsewhere they sit in the `user.DOSATTRIB` extended attribute, which Samba and Wine share.
//     Both of its forms are read: the text "0x22" and Samba's binary record; the text form is
//     written. A file system without user extended attributes simply has no such bits.
// Read-only is also the file's write permission: a file without owner write permission reads as
// read-only, and setting or clearing the bit changes the permission too.
//
// Symbolic links are never followed: a link's own attributes are reported (none), and it is
// never changed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>

// Bits as a FAT directory entry and the Windows API number them.
constexpr uint32_t DOS_ATTRIB_READONLY = 0x01;
constexpr uint32_t DOS_ATTRIB_HIDDEN = 0x02;
constexpr uint32_t DOS_ATTRIB_SYSTEM = 0x04;
constexpr uint32_t DOS_ATTRIB_DIRECTORY = 0x10;
constexpr uint32_t DOS_ATTRIB_ARCHIVE = 0x20;
// The bits a program may change; the others describe what the entry is.
constexpr uint32_t DOS_ATTRIB_CHANGEABLE =
    DOS_ATTRIB_READONLY | DOS_ATTRIB_HIDDEN | DOS_ATTRIB_SYSTEM | DOS_ATTRIB_ARCHIVE;

// Reads the bits of a path (DOS_ATTRIB_DIRECTORY included for a directory). False with errno set
// when the path cannot be examined (ENOENT when it does not exist).
bool dos_attrib_get(const char* path, uint32_t& attrib);

// Sets the changeable bits to those of `attrib`, leaving the others. False with errno set.
bool dos_attrib_set(const char* path, uint32_t attrib);

// Clears the bits of `clear`, then sets those of `set`, writing only when something changes.
// `info` is the caller's lstat of the path and `on_fat` says whether it lies on a FAT file system
// (dos_attrib_on_fat), so that a walk over many files asks neither again. A symbolic link is left
// alone (true, nothing changed). The bits before the change go to `before` when not null.
bool dos_attrib_change(const char* path, const struct stat& info, bool on_fat, uint32_t set,
                       uint32_t clear, uint32_t* before = nullptr);

// True when the path lies on a FAT file system, where the kernel's attribute ioctls apply.
bool dos_attrib_on_fat(const char* path);

// The two forms of `user.DOSATTRIB`. Parsing gives false for a value that is neither form.
bool dos_attrib_parse_xattr(const void* data, size_t size, uint32_t& attrib);
std::string dos_attrib_format_xattr(uint32_t attrib);

// Tests replace the FAT ioctl with their own function to drive the FAT path and its fallback on a
// file system that is not FAT; while one is installed the ioctl is tried on every file system.
// Same contract as ioctl(2) on a u32 argument: 0, or -1 with errno set. Null restores the kernel.
using DosAttribIoctl = int (*)(int fd, unsigned long request, uint32_t* value);
void dos_attrib_set_ioctl(DosAttribIoctl hook);
