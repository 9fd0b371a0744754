#pragma once
// The file family's internal state and helpers, for its own files and for tests.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/io/file.h"

struct FileTable {
    std::vector<int32_t> numbers;      // file number -> record index, -1 when free (0 unused)
    std::vector<FileRecord> records;   // records, in use or waiting on the free stack
    std::vector<PlatformFile> handles; // parallel to records
    std::vector<int32_t> free_records; // indices of closed records, reused last-in first
    uint64_t next_serial = 1;
    int64_t last_read_count = 0;
    int64_t total_read_count = 0;
    FileNetworkCloseHook network_close = nullptr;
    FileNetworkCloseAllHook network_close_all = nullptr;
};

extern FileTable file_table;

// Closes whatever is open and forgets the table; used by start-up and test fixtures. The
// network hooks stay set.
void file_table_reset();

// Takes a record (a free one first) and gives it a new serial; returns its index.
int32_t file_record_take();
// Frees a record's buffer, closes its handle and puts it on the free stack.
void file_record_release(int32_t index);
// Grows the number table to hold `number`.
void file_numbers_reserve(int32_t number);

// What a file name stands for after the COMn: test.
enum class FileNameKind { file, serial, bad_serial };
struct FileNameInfo {
    FileNameKind kind = FileNameKind::file;
    int32_t port = 0;
    size_t options_at = 0; // first byte after the colon
};
FileNameInfo file_name_kind(const char* name, size_t length);

// Parses the options after COMn: into `settings` with every default filled in; false (and the
// bad-options result for the caller) on any text the options do not allow.
bool serial_options_parse(const char* text, size_t length, ComSettings* settings);

// Opens serial port `port` with parsed settings; a FILE_RESULT_* value.
int32_t serial_open(int32_t port, uint32_t access, const ComSettings& settings, PlatformFile* file);
