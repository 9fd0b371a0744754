#pragma once
// Numbered files: the table from file numbers to open files and serial ports, opening and
// closing, and the byte level under the file statements. Program thread only.
//
// Every operation does nothing (and returns 0) while an error is pending, and reports its own
// failures through error_raise. Negative file numbers are network connections and go to the
// network layer through the hooks below.
#include <cstdint>

#include "runtime/platform/platform.h"

struct BasicString;

constexpr int32_t FILE_MODE_RANDOM = 1;
constexpr int32_t FILE_MODE_BINARY = 2;
constexpr int32_t FILE_MODE_INPUT = 3;
constexpr int32_t FILE_MODE_OUTPUT = 4;
constexpr int32_t FILE_MODE_APPEND = 5; // stored as OUTPUT once open

constexpr int32_t FILE_ACCESS_DEFAULT = 0;
constexpr int32_t FILE_ACCESS_READ_WRITE = 1;
constexpr int32_t FILE_ACCESS_READ = 2;
constexpr int32_t FILE_ACCESS_WRITE = 3;

constexpr int32_t FILE_LOCK_DEFAULT = 0;
constexpr int32_t FILE_LOCK_SHARED = 1;
constexpr int32_t FILE_LOCK_READ_WRITE = 2;
constexpr int32_t FILE_LOCK_READ = 3;
constexpr int32_t FILE_LOCK_WRITE = 4;

// file_lock / file_unlock flags: which ends of the range the statement gave.
constexpr int32_t FILE_RANGE_FIRST_GIVEN = 1;
constexpr int32_t FILE_RANGE_LAST_GIVEN = 2;

constexpr int64_t FILE_DEFAULT_RECORD_LENGTH = 128;
// The largest file number the table grows to; larger numbers are bad file numbers (52).
constexpr int32_t FILE_NUMBER_LIMIT = 1 << 20;
// The byte an INPUT file may begin with to say it holds nothing (the old end-of-file mark).
constexpr uint8_t FILE_END_MARK = 26;

// A serial port's options as written after COMn:. Unset values are -1 while parsing.
struct ComSettings {
    int32_t baud = 300;
    int8_t parity = 1; // 0 N, 1 E, 2 O, 3 S, 4 M, 5 PE
    int8_t data_bits = 7;
    int8_t stop_bits = 10; // in tenths: 10, 15, 20
    int8_t ascii_mode = 0;
    int8_t line_feed = 0;
    int8_t suppress_rts = 0;
    int32_t cd_ms = 0;
    int32_t cs_ms = 1000;
    int32_t ds_ms = 1000;
    int32_t op_ms = 10000;
    int8_t transmit_buffer = 0; // TB given
    int8_t receive_buffer = 0;  // RB given
};

struct FileRecord {
    uint64_t serial = 0; // taken from a counter at allocation, never reused
    uint8_t in_use = 0;
    uint8_t can_read = 0;
    uint8_t can_write = 0;
    uint8_t lock_read = 0;  // as requested at open
    uint8_t lock_write = 0; // as requested at open
    int64_t position = 0;   // where the record believes the platform file pointer is
    uint8_t at_end = 0;     // last read came up short, or an INPUT file starts with 26
    int32_t file_number = 0;
    uint8_t mode = 0; // FILE_MODE_RANDOM .. FILE_MODE_OUTPUT
    int64_t record_length = 0;
    uint8_t* record_buffer = nullptr; // record_length zero bytes (RANDOM only)
    int32_t com_port = 0;             // 0 for a file
    ComSettings com{};
};

void file_open(BasicString* name, int32_t mode, int32_t access, int32_t lock, int32_t number,
               int64_t length, int32_t has_length);
// Closing a number that is not open does nothing.
void file_close(int32_t number);
// Closes every network connection and then every open file number; program end calls it.
void file_close_all();
// The lowest free file number, or one above the table when every number in it is in use.
int32_t free_file_number();

int64_t file_length(int32_t number);
int32_t file_eof(int32_t number);
void file_seek(int32_t number, int64_t n);
int64_t file_position(int32_t number);
void file_lock(int32_t number, int64_t first, int64_t last, int32_t flags);
void file_unlock(int32_t number, int64_t first, int64_t last, int32_t flags);

// The record an open file number maps to, or -1; the byte level is addressed by record.
int32_t file_record_index(int32_t number);
// The open record with this index, or nullptr.
FileRecord* file_record(int32_t record);

// The byte level: results are the FILE_RESULT_* values. pos -1 means the current position.
// A short read zero-fills the rest of the buffer and sets at_end; a failed or short write keeps
// every byte that reached the file and advances the position past them.
int32_t file_read_bytes(int32_t record, int64_t pos, void* buffer, int64_t count);
int32_t file_write_bytes(int32_t record, int64_t pos, const void* data, int64_t count);
// Bytes delivered by the last file_read_bytes, and by all of them since the table was reset.
int64_t file_last_read_count();
int64_t file_total_read_count();

// The network layer's side of negative file numbers, set at start-up by whoever owns it.
using FileNetworkCloseHook = void (*)(int32_t number);
using FileNetworkCloseAllHook = void (*)();
void file_set_network_hooks(FileNetworkCloseHook close_one, FileNetworkCloseAllHook close_all);
