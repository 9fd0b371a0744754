#include "runtime/platform/posix/dos_attrib.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

constexpr const char* XATTR_NAME = "user.DOSATTRIB";
// Samba's record stays well below this; anything longer is not ours to interpret.
constexpr size_t XATTR_MAX_BYTES = 256;
// Samba's binary record says in `valid_flags` which of its fields hold values.
constexpr uint32_t SAMBA_VALID_ATTRIB = 0x1;

static_assert(DOS_ATTRIB_READONLY == ATTR_RO && DOS_ATTRIB_HIDDEN == ATTR_HIDDEN &&
                  DOS_ATTRIB_SYSTEM == ATTR_SYS && DOS_ATTRIB_DIRECTORY == ATTR_DIR &&
                  DOS_ATTRIB_ARCHIVE == ATTR_ARCH,
              "the FAT directory entry and the DOS API number the bits alike");

// The hook is set by tests before they touch files, on the thread that then uses it; the
// companion program is single-threaded. No other thread reads it.
DosAttribIoctl ioctl_hook = nullptr;

int call_ioctl(int fd, unsigned long request, uint32_t* value) {
    if (ioctl_hook != nullptr) return ioctl_hook(fd, request, value);
    return ioctl(fd, request, value);
}

uint32_t read_le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t read_le16(const unsigned char* p) {
    return uint16_t(p[0] | p[1] << 8);
}

// "0x" and one to eight hex digits, nothing else.
bool parse_hex_text(const char* text, size_t size, uint32_t& value) {
    if (size < 3 || size > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    uint32_t result = 0;
    for (size_t i = 2; i < size; ++i) {
        const char c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = uint32_t(c - 'A' + 10);
        else
            return false;
        result = result << 4 | digit;
    }
    value = result;
    return true;
}

// The mode's verdict on read-only: nobody may write to it.
bool mode_read_only(mode_t mode) {
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

enum class Stored { none, value, unsupported };

Stored read_xattr(const char* path, uint32_t& attrib) {
    unsigned char buffer[XATTR_MAX_BYTES];
    const ssize_t size = lgetxattr(path, XATTR_NAME, buffer, sizeof buffer);
    if (size < 0) {
        // No value, no support on this file system, or a link (which cannot carry user xattrs):
        // all mean "no DOS bits stored".
        return errno == ENODATA || errno == ENOTSUP || errno == EPERM ? Stored::none
                                                                      : Stored::unsupported;
    }
    if (!dos_attrib_parse_xattr(buffer, size_t(size), attrib)) return Stored::none;
    return Stored::value;
}

bool fat_get(const char* path, uint32_t& attrib, bool& not_fat) {
    not_fat = false;
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    uint32_t value = 0;
    const int result = call_ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &value);
    const int saved = errno;
    close(fd);
    if (result != 0) {
        not_fat = saved == ENOTTY || saved == EINVAL;
        errno = saved;
        return false;
    }
    attrib = value;
    return true;
}

// Returns 1 when done through the ioctl, 0 when the file system is not FAT after all, -1 on error.
int fat_change(const char* path, uint32_t set, uint32_t clear, uint32_t* before) {
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    uint32_t value = 0;
    int result = call_ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &value);
    if (result == 0) {
        if (before != nullptr) *before = value;
        uint32_t next = (value & ~(clear & DOS_ATTRIB_CHANGEABLE)) | (set & DOS_ATTRIB_CHANGEABLE);
        if (next != value) result = call_ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &next);
    }
    const int saved = errno;
    close(fd);
    errno = saved;
    if (result == 0) return 1;
    return saved == ENOTTY || saved == EINVAL ? 0 : -1;
}

bool xattr_change(const char* path, const struct stat& info, uint32_t set, uint32_t clear,
                  uint32_t* before) {
    uint32_t stored = 0;
    const Stored kind = read_xattr(path, stored);
    if (kind == Stored::unsupported) return false;
    uint32_t current = stored & DOS_ATTRIB_CHANGEABLE;
    if (mode_read_only(info.st_mode)) current |= DOS_ATTRIB_READONLY;
    if (before != nullptr) *before = current | (S_ISDIR(info.st_mode) ? DOS_ATTRIB_DIRECTORY : 0);
    const uint32_t next = (current & ~clear) | (set & DOS_ATTRIB_CHANGEABLE);

    const uint32_t want = (stored & ~DOS_ATTRIB_CHANGEABLE) | next;
    // A file without a stored value and without bits needs none; anything else is kept in step.
    if ((kind == Stored::value && want != stored) || (kind == Stored::none && next != 0)) {
        const std::string text = dos_attrib_format_xattr(want);
        if (lsetxattr(path, XATTR_NAME, text.data(), text.size(), 0) != 0) {
            // Without user xattrs only the read-only bit can be kept; that is not a failure
            // when read-only is all that changes.
            if (!(errno == ENOTSUP && (next & ~DOS_ATTRIB_READONLY) == 0)) return false;
        }
    }
    const bool want_read_only = (next & DOS_ATTRIB_READONLY) != 0;
    if (want_read_only != mode_read_only(info.st_mode)) {
        const mode_t mode = want_read_only ? info.st_mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)
                                           : info.st_mode | S_IWUSR;
        if (chmod(path, mode & 07777) != 0) return false;
    }
    return true;
}

} // namespace

bool dos_attrib_parse_xattr(const void* data, size_t size, uint32_t& attrib) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    const auto* text = static_cast<const char*>(data);
    const void* nul = std::memchr(bytes, 0, size);
    const size_t text_size =
        nul != nullptr ? size_t(static_cast<const unsigned char*>(nul) - bytes) : size;
    // Samba's record: the text and its NUL, padding to 2, u16 version, u16 level, padding to 4,
    // then the version's fields, all little-endian.
    const size_t version_at = (text_size + 1 + 1) & ~size_t(1);
    const size_t info_at = (version_at + 4 + 3) & ~size_t(3);
    if (nul != nullptr && version_at + 4 <= size) {
        const uint16_t version = read_le16(bytes + version_at);
        uint32_t text_value = 0;
        const bool has_text = parse_hex_text(text, text_size, text_value);
        if (version == 1 && info_at + 4 <= size) {
            attrib = read_le32(bytes + info_at);
            return true;
        }
        if (version == 2 && info_at + 8 <= size) {
            attrib = read_le32(bytes + info_at + 4);
            return true;
        }
        if (version >= 3 && version <= 5 && info_at + 8 <= size) {
            if ((read_le32(bytes + info_at) & SAMBA_VALID_ATTRIB) != 0) {
                attrib = read_le32(bytes + info_at + 4);
                return true;
            }
            if (has_text) attrib = text_value;
            return has_text;
        }
        // A record we do not know: trust its text when it has one.
        if (has_text) attrib = text_value;
        return has_text;
    }
    // The text form, with or without a closing NUL.
    for (size_t i = text_size; i < size; ++i)
        if (bytes[i] != 0) return false;
    return parse_hex_text(text, text_size, attrib);
}

std::string dos_attrib_format_xattr(uint32_t attrib) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", unsigned(attrib));
    return text;
}

void dos_attrib_set_ioctl(DosAttribIoctl hook) {
    ioctl_hook = hook;
}

bool dos_attrib_on_fat(const char* path) {
    if (ioctl_hook != nullptr) return true;
    struct statfs fs {};
    return statfs(path, &fs) == 0 && fs.f_type == MSDOS_SUPER_MAGIC;
}

bool dos_attrib_get(const char* path, uint32_t& attrib) {
    struct stat info {};
    if (lstat(path, &info) != 0) return false;
    const uint32_t dir_bit = S_ISDIR(info.st_mode) ? DOS_ATTRIB_DIRECTORY : 0;
    if (S_ISLNK(info.st_mode)) {
        attrib = 0;
        return true;
    }
    if (dos_attrib_on_fat(path)) {
        bool not_fat = false;
        if (fat_get(path, attrib, not_fat)) return true;
        if (!not_fat) return false;
    }
    uint32_t stored = 0;
    if (read_xattr(path, stored) == Stored::unsupported) return false;
    attrib = (stored & DOS_ATTRIB_CHANGEABLE) | dir_bit;
    if (mode_read_only(info.st_mode)) attrib |= DOS_ATTRIB_READONLY;
    return true;
}

bool dos_attrib_change(const char* path, const struct stat& info, bool on_fat, uint32_t set,
                       uint32_t clear, uint32_t* before) {
    if (S_ISLNK(info.st_mode)) {
        if (before != nullptr) *before = 0;
        return true;
    }
    if (on_fat) {
        const int done = fat_change(path, set, clear, before);
        if (done != 0) return done > 0;
    }
    return xattr_change(path, info, set, clear, before);
}

bool dos_attrib_set(const char* path, uint32_t attrib) {
    struct stat info {};
    if (lstat(path, &info) != 0) return false;
    return dos_attrib_change(path, info, dos_attrib_on_fat(path), attrib & DOS_ATTRIB_CHANGEABLE,
                             DOS_ATTRIB_CHANGEABLE);
}
