#pragma once
// What the POSIX file and serial back ends share: the object behind a PlatformFile.
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

#include "runtime/platform/platform.h"

struct PosixLock {
    uint64_t offset = 0;
    uint64_t length = 0;
};

struct PosixFile {
    int fd = -1;
    uint32_t access = 0;
    uint32_t share = 0;
    dev_t device = 0; // identity of the file for the sharing check
    ino_t inode = 0;
    bool is_serial = false;
    uint32_t read_timeout_ms = 0;  // serial ports: 0 = return at once
    uint32_t write_timeout_ms = 0; // serial ports: 0 = wait as long as it takes
    std::vector<PosixLock> locks;  // ranges this handle holds, in the order taken
};

// The file result for an errno value of open, read or write.
int32_t posix_errno_result(int error);
// A run-time file name as a POSIX path: backslashes become slashes.
std::string posix_path(const char* name);
PosixFile* posix_file(PlatformFile file);
// Enters a handle into this process's sharing check, filling in its identity; false when an
// open handle's sharing (or this one's) forbids it. platform_file_close takes it out again.
bool posix_share_admit(PosixFile* f);
// Transfers on a device without positions, bounded by the handle's timeouts.
int32_t posix_stream_read(PosixFile& f, void* buffer, int64_t count, int64_t* done);
int32_t posix_stream_write(PosixFile& f, const void* data, int64_t count, int64_t* done);
