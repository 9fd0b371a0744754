// What the program asks about an open file number, and where it moves: length, end of file,
// seek and position, and the locks on a range of it.
#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/io/detail.h"

namespace {

// The open record of a number, or nullptr with error 52 raised.
FileRecord* open_record(int32_t number, int32_t* index) {
    *index = file_record_index(number);
    FileRecord* record = file_record(*index);
    if (!record) error_raise(ERROR_BAD_FILE_NUMBER);
    return record;
}

int64_t record_size(int32_t index, int32_t* result) {
    int64_t size = 0;
    *result = platform_file_size(file_table.handles[size_t(index)], &size);
    return size;
}

// A locked or unlocked range in bytes, converted from the statement's records or bytes.
bool lock_range(const FileRecord& record, int64_t first, int64_t last, int32_t flags,
                uint64_t* offset, uint64_t* length) {
    bool whole = (record.mode != FILE_MODE_RANDOM && record.mode != FILE_MODE_BINARY) ||
                 (flags & (FILE_RANGE_FIRST_GIVEN | FILE_RANGE_LAST_GIVEN)) == 0;
    if (whole) {
        *offset = 0;
        *length = UINT64_MAX;
        return true;
    }
    if (!(flags & FILE_RANGE_FIRST_GIVEN)) first = 1;
    if (!(flags & FILE_RANGE_LAST_GIVEN)) last = first;
    int64_t unit = record.mode == FILE_MODE_RANDOM ? record.record_length : 1;
    if (first < 1 || last < first || last > INT64_MAX / unit) return false;
    *offset = uint64_t(first - 1) * uint64_t(unit);
    *length = uint64_t(last - first + 1) * uint64_t(unit);
    return true;
}

void lock_or_unlock(int32_t number, int64_t first, int64_t last, int32_t flags, bool lock) {
    if (error_pending()) return;
    int32_t index = 0;
    FileRecord* record = open_record(number, &index);
    if (!record) return;
    uint64_t offset = 0, length = 0;
    if (!lock_range(*record, first, last, flags, &offset, &length)) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }
    int32_t result = platform_file_lock(file_table.handles[size_t(index)], offset, length, lock);
    if (result == FILE_RESULT_PERMISSION_DENIED)
        error_raise(ERROR_PERMISSION_DENIED);
    else if (result != FILE_RESULT_OK)
        error_raise(ERROR_PATH_FILE_ACCESS);
}

} // namespace

int64_t file_length(int32_t number) {
    if (error_pending()) return 0;
    int32_t index = 0;
    if (!open_record(number, &index)) return 0;
    int32_t result = FILE_RESULT_OK;
    int64_t size = record_size(index, &result);
    if (result == FILE_RESULT_OK) return size;
    if (result == FILE_RESULT_NOT_OPEN)
        error_raise(ERROR_INVALID_HANDLE);
    else if (result == FILE_RESULT_WRONG_DIRECTION)
        error_raise(ERROR_BAD_FILE_MODE);
    else
        error_raise(ERROR_PATH_FILE_ACCESS);
    return 0;
}

int32_t file_eof(int32_t number) {
    if (error_pending()) return 0;
    int32_t index = 0;
    FileRecord* record = open_record(number, &index);
    if (!record) return 0;
    if (record->mode == FILE_MODE_INPUT && record->com_port == 0) {
        int32_t result = FILE_RESULT_OK;
        int64_t size = record_size(index, &result);
        if (result == FILE_RESULT_OK && record->position >= size) return -1;
    }
    return record->at_end ? -1 : 0;
}

void file_seek(int32_t number, int64_t n) {
    if (error_pending()) return;
    int32_t index = 0;
    FileRecord* record = open_record(number, &index);
    if (!record) return;
    int64_t unit = record->mode == FILE_MODE_RANDOM ? record->record_length : 1;
    if (n < 1 || n - 1 > INT64_MAX / unit) {
        error_raise(ERROR_BAD_RECORD_NUMBER);
        return;
    }
    // Transfers always name their position to the platform, so moving is only bookkeeping.
    record->position = (n - 1) * unit;
}

int64_t file_position(int32_t number) {
    if (error_pending()) return 0;
    int32_t index = 0;
    FileRecord* record = open_record(number, &index);
    if (!record) return 0;
    if (record->mode == FILE_MODE_RANDOM) return record->position / record->record_length + 1;
    return record->position + 1;
}

void file_lock(int32_t number, int64_t first, int64_t last, int32_t flags) {
    lock_or_unlock(number, first, last, flags, true);
}

void file_unlock(int32_t number, int64_t first, int64_t last, int32_t flags) {
    lock_or_unlock(number, first, last, flags, false);
}
