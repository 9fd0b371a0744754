// The byte level under the file statements: reads and writes at a record's position or at an
// explicit one, with the result codes the statements turn into errors.
#include <cstring>

#include "runtime/io/detail.h"

namespace {

// The position a transfer starts at, or a result code when there is none.
int32_t start_of(const FileRecord& record, int64_t pos, int64_t count, int64_t* offset) {
    if (pos < -1 || count < 0) return FILE_RESULT_NEGATIVE;
    *offset = pos != -1 ? pos : record.position;
    if (count > INT64_MAX - *offset) return FILE_RESULT_NEGATIVE; // past any file's end
    return FILE_RESULT_OK;
}

} // namespace

int32_t file_read_bytes(int32_t record_index, int64_t pos, void* buffer, int64_t count) {
    file_table.last_read_count = 0;
    FileRecord* record = file_record(record_index);
    if (!record) return FILE_RESULT_NOT_OPEN;
    if (!record->can_read) return FILE_RESULT_WRONG_DIRECTION;
    int64_t offset = 0;
    int32_t result = start_of(*record, pos, count, &offset);
    if (result != FILE_RESULT_OK) return result;
    int64_t done = 0;
    // A serial port is a stream: the platform reads it without a position.
    result = platform_file_read(file_table.handles[size_t(record_index)],
                                record->com_port ? -1 : offset, buffer, count, &done);
    record->position = offset + done;
    file_table.last_read_count = done;
    file_table.total_read_count += done;
    // The caller's buffer never keeps stale bytes past what was read, failure or not.
    if (done < count) std::memset(static_cast<uint8_t*>(buffer) + done, 0, size_t(count - done));
    if (result != FILE_RESULT_OK) return result;
    if (done < count) {
        record->at_end = 1;
        return FILE_RESULT_SHORT_READ;
    }
    record->at_end = 0;
    return FILE_RESULT_OK;
}

int32_t file_write_bytes(int32_t record_index, int64_t pos, const void* data, int64_t count) {
    FileRecord* record = file_record(record_index);
    if (!record) return FILE_RESULT_NOT_OPEN;
    if (!record->can_write) return FILE_RESULT_WRONG_DIRECTION;
    int64_t offset = 0;
    int32_t result = start_of(*record, pos, count, &offset);
    if (result != FILE_RESULT_OK) return result;
    int64_t done = 0;
    result = platform_file_write(file_table.handles[size_t(record_index)],
                                 record->com_port ? -1 : offset, data, count, &done);
    // Whatever reached the file stays there, and the next write goes after it.
    record->position = offset + done;
    if (result != FILE_RESULT_OK) return result;
    return done < count ? FILE_RESULT_SHORT_WRITE : FILE_RESULT_OK;
}

int64_t file_last_read_count() {
    return file_table.last_read_count;
}
int64_t file_total_read_count() {
    return file_table.total_read_count;
}
