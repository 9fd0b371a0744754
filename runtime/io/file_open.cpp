// Opening a file number: the mode's access and creation rule, the lock's sharing, serial ports
// by name, and the checks an INPUT file gets before the program reads it.
#include <new>
#include <string>

#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/io/detail.h"
#include "runtime/strings/str.h"

namespace {

int32_t open_error(int32_t result) {
    switch (result) {
    case FILE_RESULT_PATH_NOT_FOUND: return ERROR_PATH_NOT_FOUND;
    case FILE_RESULT_PERMISSION_DENIED: return ERROR_PERMISSION_DENIED;
    case FILE_RESULT_DEVICE_UNAVAILABLE: return ERROR_DEVICE_UNAVAILABLE;
    case FILE_RESULT_BAD_SERIAL_OPTIONS: return ERROR_BAD_FILE_NAME;
    default: return ERROR_FILE_NOT_FOUND;
    }
}

struct OpenPlan {
    uint32_t access = 0;
    uint32_t share = PLATFORM_SHARE_READ | PLATFORM_SHARE_WRITE;
    PlatformCreate create = PlatformCreate::open_always;
    bool fallback = false; // RANDOM and BINARY without an explicit access
};

OpenPlan plan_for(int32_t mode, int32_t access, int32_t lock) {
    constexpr uint32_t BOTH = PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE;
    OpenPlan plan;
    switch (mode) {
    case FILE_MODE_INPUT:
        plan.access = PLATFORM_ACCESS_READ;
        plan.create = PlatformCreate::open_existing;
        break;
    case FILE_MODE_OUTPUT:
    case FILE_MODE_APPEND: plan.access = PLATFORM_ACCESS_WRITE; break;
    default:
        plan.access = BOTH;
        plan.fallback = true;
        break;
    }
    if (access == FILE_ACCESS_READ_WRITE) plan.access = BOTH;
    if (access == FILE_ACCESS_READ) plan.access = PLATFORM_ACCESS_READ;
    if (access == FILE_ACCESS_WRITE) plan.access = PLATFORM_ACCESS_WRITE;
    if (access != FILE_ACCESS_DEFAULT) plan.fallback = false;
    // The lock names what others may NOT do.
    if (lock == FILE_LOCK_READ_WRITE) plan.share = 0;
    if (lock == FILE_LOCK_READ) plan.share = PLATFORM_SHARE_WRITE;
    if (lock == FILE_LOCK_WRITE) plan.share = PLATFORM_SHARE_READ;
    return plan;
}

int32_t open_file(const std::string& path, int32_t mode, OpenPlan& plan, PlatformFile* file) {
    int32_t result = platform_file_open(path.c_str(), plan.access, plan.share, plan.create, file);
    if (result != FILE_RESULT_OK && plan.fallback) {
        // A file the platform will not let us write is still readable, and the other way round;
        // the first refusal is the one worth reporting when neither works.
        for (uint32_t fallback : {PLATFORM_ACCESS_READ, PLATFORM_ACCESS_WRITE}) {
            if (platform_file_open(path.c_str(), fallback, plan.share, plan.create, file) ==
                FILE_RESULT_OK) {
                plan.access = fallback;
                return FILE_RESULT_OK;
            }
        }
    }
    if (result != FILE_RESULT_OK || mode != FILE_MODE_OUTPUT) return result;
    int64_t size = 0;
    if (platform_file_size(*file, &size) == FILE_RESULT_OK && size == 0) return FILE_RESULT_OK;
    platform_file_close(*file);
    *file = PLATFORM_FILE_NONE;
    return platform_file_open(path.c_str(), plan.access, plan.share,
                              PlatformCreate::truncate_existing, file);
}

void open_checked(const std::string& path, int32_t mode, int32_t access, int32_t lock,
                  int32_t number, int64_t length, int32_t has_length) {
    OpenPlan plan = plan_for(mode, access, lock);
    FileNameInfo kind = file_name_kind(path.data(), path.size());
    ComSettings com;
    PlatformFile handle = PLATFORM_FILE_NONE;
    int32_t result;
    if (kind.kind == FileNameKind::bad_serial) {
        result = FILE_RESULT_BAD_SERIAL_OPTIONS;
    } else if (kind.kind == FileNameKind::serial) {
        result =
            serial_options_parse(path.data() + kind.options_at, path.size() - kind.options_at, &com)
                ? serial_open(kind.port, plan.access, com, &handle)
                : FILE_RESULT_BAD_SERIAL_OPTIONS;
    } else {
        result = open_file(path, mode, plan, &handle);
    }
    if (result != FILE_RESULT_OK) {
        error_raise(open_error(result));
        return;
    }

    int32_t index = file_record_take();
    FileRecord& record = file_table.records[size_t(index)];
    file_table.handles[size_t(index)] = handle;
    record.can_read = (plan.access & PLATFORM_ACCESS_READ) != 0;
    record.can_write = (plan.access & PLATFORM_ACCESS_WRITE) != 0;
    record.lock_read = lock == FILE_LOCK_READ_WRITE || lock == FILE_LOCK_READ;
    record.lock_write = lock == FILE_LOCK_READ_WRITE || lock == FILE_LOCK_WRITE;
    record.file_number = number;
    record.mode = uint8_t(mode == FILE_MODE_APPEND ? FILE_MODE_OUTPUT : mode);
    if (kind.kind == FileNameKind::serial) {
        record.com_port = kind.port;
        record.com = com;
    }
    if (mode == FILE_MODE_RANDOM) {
        record.record_length = has_length && length > 0 ? length : FILE_DEFAULT_RECORD_LENGTH;
        record.record_buffer = new (std::nothrow) uint8_t[size_t(record.record_length)]();
        if (!record.record_buffer) {
            file_record_release(index);
            error_raise(ERROR_OUT_OF_MEMORY);
            return;
        }
    }
    if (record.com_port == 0 && (mode == FILE_MODE_APPEND || mode == FILE_MODE_INPUT)) {
        int64_t size = 0;
        platform_file_size(handle, &size);
        if (mode == FILE_MODE_APPEND) record.position = size;
        if (mode == FILE_MODE_INPUT && size > 0) {
            uint8_t first = 0;
            int64_t done = 0;
            int32_t read = platform_file_read(handle, 0, &first, 1, &done);
            if (read != FILE_RESULT_OK || done != 1) {
                file_record_release(index);
                error_raise(read == FILE_RESULT_PERMISSION_DENIED ? ERROR_PERMISSION_DENIED
                                                                  : ERROR_PATH_FILE_ACCESS);
                return;
            }
            record.at_end = first == FILE_END_MARK;
        }
    }
    file_numbers_reserve(number);
    file_table.numbers[size_t(number)] = index;
}

} // namespace

void file_open(BasicString* name, int32_t mode, int32_t access, int32_t lock, int32_t number,
               int64_t length, int32_t has_length) {
    std::string path;
    if (name) {
        path.assign(reinterpret_cast<const char*>(name->chars), size_t(name->length));
        if (name->is_temporary) str_free(name);
    }
    if (error_pending()) return;
    if (mode == 0) mode = FILE_MODE_RANDOM;
    if (mode < FILE_MODE_RANDOM || mode > FILE_MODE_APPEND || access < 0 ||
        access > FILE_ACCESS_WRITE || lock < 0 || lock > FILE_LOCK_WRITE ||
        (has_length && (length == 0 || length < -1))) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }
    // A record buffer lives in one allocation of at most 2 GB; beyond it the program is out of
    // memory rather than the process.
    if (mode == FILE_MODE_RANDOM && has_length && length > INT32_MAX) {
        error_raise(ERROR_OUT_OF_MEMORY);
        return;
    }
    // The number table is a plain array indexed by number, so a number far beyond any real use
    // is refused rather than allowed to claim gigabytes.
    if (number < 1 || number > FILE_NUMBER_LIMIT) {
        error_raise(ERROR_BAD_FILE_NUMBER);
        return;
    }
    if (file_record_index(number) >= 0) {
        error_raise(ERROR_FILE_ALREADY_OPEN);
        return;
    }
    // The platform sees the name up to its first NUL, with slashes as the system writes them.
    path = path.c_str();
    for (char& c : path)
        if (c == '/') c = '\\';
    open_checked(path, mode, access, lock, number, length, has_length);
}
