// POSIX files with the behaviour of the Windows calls the file family was written against:
// sharing modes between the handles of this process, byte-range locks that belong to one handle
// (open-file-description locks, so that two handles of one process exclude each other), locked
// ranges that refuse reads and writes through other handles, and positioned transfers.
#include "runtime/platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "runtime/platform/posix/file_handle.h"

namespace {

// The open handles of this process, for the sharing check: POSIX has no sharing modes, and a
// program that opens one file twice expects the second open to honour the first one's lock mode.
std::vector<PosixFile*> open_files;

bool share_conflict(const PosixFile& a, uint32_t access, uint32_t share) {
    if ((access & PLATFORM_ACCESS_READ) && !(a.share & PLATFORM_SHARE_READ)) return true;
    if ((access & PLATFORM_ACCESS_WRITE) && !(a.share & PLATFORM_SHARE_WRITE)) return true;
    if ((a.access & PLATFORM_ACCESS_READ) && !(share & PLATFORM_SHARE_READ)) return true;
    if ((a.access & PLATFORM_ACCESS_WRITE) && !(share & PLATFORM_SHARE_WRITE)) return true;
    return false;
}

// ENOENT stands for both a missing file and a missing folder; the folder decides which.
int32_t missing_result(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return FILE_RESULT_FILE_NOT_FOUND;
    struct stat info {};
    std::string folder = path.substr(0, slash);
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return FILE_RESULT_PATH_NOT_FOUND;
    return FILE_RESULT_FILE_NOT_FOUND;
}

// A range as fcntl takes it; the all-ones length of "the whole file" runs to the end of off_t.
bool to_flock(uint64_t offset, uint64_t length, short type, struct flock* lock) {
    if (offset > uint64_t(INT64_MAX) || length == 0) return false;
    std::memset(lock, 0, sizeof *lock);
    lock->l_type = type;
    lock->l_whence = SEEK_SET;
    lock->l_start = off_t(offset);
    lock->l_len = length > uint64_t(INT64_MAX) - offset ? 0 : off_t(length);
    return true;
}

// True when another handle holds a lock over part of the range.
bool locked_elsewhere(const PosixFile& f, int64_t offset, int64_t count) {
    if (count <= 0) return false;
    struct flock probe {};
    if (!to_flock(uint64_t(offset), uint64_t(count), F_WRLCK, &probe)) return false;
    if (fcntl(f.fd, F_OFD_GETLK, &probe) != 0) return false;
    return probe.l_type != F_UNLCK;
}

} // namespace

bool posix_share_admit(PosixFile* f) {
    struct stat info {};
    if (fstat(f->fd, &info) != 0) return false;
    f->device = info.st_dev;
    f->inode = info.st_ino;
    for (const PosixFile* other : open_files) {
        if (other->device == info.st_dev && other->inode == info.st_ino &&
            share_conflict(*other, f->access, f->share))
            return false;
    }
    open_files.push_back(f);
    return true;
}

int32_t posix_errno_result(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EBUSY:
    case ETXTBSY:
    case EISDIR:
    case EAGAIN:
    case EBADF: // a transfer the descriptor's access does not allow, refused as Windows does
        return FILE_RESULT_PERMISSION_DENIED;
    case ENOTDIR: return FILE_RESULT_PATH_NOT_FOUND;
    case ENXIO:
    case ENODEV: return FILE_RESULT_DEVICE_UNAVAILABLE;
    case EIO:
    case ENOSPC:
    case EFBIG:
    case EMFILE:
    case ENFILE:
    case EINVAL: return FILE_RESULT_OTHER_FAILURE;
    default: return FILE_RESULT_FILE_NOT_FOUND;
    }
}

std::string posix_path(const char* name) {
    std::string path = name ? name : "";
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

PosixFile* posix_file(PlatformFile file) {
    return reinterpret_cast<PosixFile*>(file);
}

int32_t platform_file_open(const char* name, uint32_t access, uint32_t share, PlatformCreate create,
                           PlatformFile* file) {
    *file = PLATFORM_FILE_NONE;
    std::string path = posix_path(name);
    if (path.empty()) return FILE_RESULT_FILE_NOT_FOUND;
    int flags = O_CLOEXEC;
    if ((access & PLATFORM_ACCESS_READ) && (access & PLATFORM_ACCESS_WRITE))
        flags |= O_RDWR;
    else if (access & PLATFORM_ACCESS_WRITE)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    if (create == PlatformCreate::open_always) flags |= O_CREAT;
    int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) {
        int error = errno;
        return error == ENOENT ? missing_result(path) : posix_errno_result(error);
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        return FILE_RESULT_PERMISSION_DENIED;
    }
    auto* f = new PosixFile{};
    f->fd = fd;
    f->access = access;
    f->share = share;
    if (!posix_share_admit(f)) {
        close(fd);
        delete f;
        return FILE_RESULT_PERMISSION_DENIED;
    }
    // Emptied only after the sharing check, so that a refused open leaves the file alone.
    if (create == PlatformCreate::truncate_existing && ftruncate(fd, 0) != 0) {
        int error = errno;
        platform_file_close(reinterpret_cast<PlatformFile>(f));
        return posix_errno_result(error);
    }
    *file = reinterpret_cast<PlatformFile>(f);
    return FILE_RESULT_OK;
}

void platform_file_close(PlatformFile file) {
    PosixFile* f = posix_file(file);
    if (!f) return;
    open_files.erase(std::remove(open_files.begin(), open_files.end(), f), open_files.end());
    close(f->fd); // releases the handle's locks with its open file description
    delete f;
}

int32_t platform_file_read(PlatformFile file, int64_t offset, void* buffer, int64_t count,
                           int64_t* done) {
    *done = 0;
    PosixFile* f = posix_file(file);
    if (!f) return FILE_RESULT_OTHER_FAILURE;
    if (f->is_serial || offset < 0) return posix_stream_read(*f, buffer, count, done);
    if (locked_elsewhere(*f, offset, count)) return FILE_RESULT_PERMISSION_DENIED;
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (*done < count) {
        ssize_t n = pread(f->fd, bytes + *done, size_t(count - *done), off_t(offset + *done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return posix_errno_result(errno);
        }
        if (n == 0) break; // end of file
        *done += n;
    }
    return FILE_RESULT_OK;
}

int32_t platform_file_write(PlatformFile file, int64_t offset, const void* data, int64_t count,
                            int64_t* done) {
    *done = 0;
    PosixFile* f = posix_file(file);
    if (!f) return FILE_RESULT_OTHER_FAILURE;
    if (f->is_serial || offset < 0) return posix_stream_write(*f, data, count, done);
    if (locked_elsewhere(*f, offset, count)) return FILE_RESULT_PERMISSION_DENIED;
    auto* bytes = static_cast<const uint8_t*>(data);
    while (*done < count) {
        ssize_t n = pwrite(f->fd, bytes + *done, size_t(count - *done), off_t(offset + *done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return posix_errno_result(errno);
        }
        if (n == 0) break; // the device took nothing: a short write
        *done += n;
    }
    return FILE_RESULT_OK;
}

int32_t platform_file_size(PlatformFile file, int64_t* size) {
    *size = 0;
    PosixFile* f = posix_file(file);
    struct stat info {};
    if (!f || f->is_serial || fstat(f->fd, &info) != 0) return FILE_RESULT_WRONG_DIRECTION;
    *size = int64_t(info.st_size);
    return FILE_RESULT_OK;
}

int32_t platform_file_lock(PlatformFile file, uint64_t offset, uint64_t length, bool lock) {
    PosixFile* f = posix_file(file);
    if (!f) return FILE_RESULT_OTHER_FAILURE;
    // fcntl takes a write lock only through a descriptor open for writing; a read-only handle
    // takes a read lock, and the probe below, which finds locks of either kind, makes every lock
    // exclude every other handle as Windows locks do.
    short type = !lock ? F_UNLCK : (f->access & PLATFORM_ACCESS_WRITE) ? F_WRLCK : F_RDLCK;
    struct flock range {};
    if (!to_flock(offset, length, type, &range)) return FILE_RESULT_OTHER_FAILURE;
    auto held = std::find_if(f->locks.begin(), f->locks.end(), [&](const PosixLock& l) {
        return l.offset == offset && l.length == length;
    });
    if (lock) {
        // Locks of one open file description merge silently; the handle's own list keeps them
        // apart, so that an overlapping second lock fails as it does on Windows.
        for (const PosixLock& l : f->locks) {
            uint64_t end = offset + std::min(length, UINT64_MAX - offset);
            uint64_t held_end = l.offset + std::min(l.length, UINT64_MAX - l.offset);
            if (offset < held_end && l.offset < end) return FILE_RESULT_PERMISSION_DENIED;
        }
        struct flock probe = range;
        probe.l_type = F_WRLCK;
        if (fcntl(f->fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK)
            return FILE_RESULT_PERMISSION_DENIED;
    } else if (held == f->locks.end()) {
        return FILE_RESULT_PERMISSION_DENIED;
    }
    if (fcntl(f->fd, F_OFD_SETLK, &range) != 0) {
        int error = errno;
        return error == EAGAIN || error == EACCES ? FILE_RESULT_PERMISSION_DENIED
                                                  : FILE_RESULT_OTHER_FAILURE;
    }
    if (lock)
        f->locks.push_back({offset, length});
    else
        f->locks.erase(held);
    return FILE_RESULT_OK;
}

bool platform_file_locks_refuse_transfers() {
    return true;
}
