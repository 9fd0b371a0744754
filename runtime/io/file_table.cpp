// The table from file numbers to open records, and the records' life: taking, releasing,
// closing one number or all of them, and the lowest free number.
#include <algorithm>

#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/io/detail.h"

FileTable file_table;

void file_table_reset() {
    for (size_t i = 0; i < file_table.records.size(); ++i) {
        if (file_table.records[i].in_use) file_record_release(int32_t(i));
    }
    FileNetworkCloseHook close_one = file_table.network_close;
    FileNetworkCloseAllHook close_all = file_table.network_close_all;
    file_table = FileTable{};
    file_table.network_close = close_one;
    file_table.network_close_all = close_all;
}

void file_set_network_hooks(FileNetworkCloseHook close_one, FileNetworkCloseAllHook close_all) {
    file_table.network_close = close_one;
    file_table.network_close_all = close_all;
}

void file_numbers_reserve(int32_t number) {
    if (number >= int32_t(file_table.numbers.size()))
        file_table.numbers.resize(size_t(number) + 1, -1);
}

int32_t file_record_take() {
    int32_t index;
    if (!file_table.free_records.empty()) {
        index = file_table.free_records.back();
        file_table.free_records.pop_back();
    } else {
        index = int32_t(file_table.records.size());
        file_table.records.emplace_back();
        file_table.handles.push_back(PLATFORM_FILE_NONE);
    }
    FileRecord& record = file_table.records[size_t(index)];
    record = FileRecord{};
    record.serial = file_table.next_serial++;
    record.in_use = 1;
    file_table.handles[size_t(index)] = PLATFORM_FILE_NONE;
    return index;
}

void file_record_release(int32_t index) {
    FileRecord& record = file_table.records[size_t(index)];
    record.in_use = 0;
    delete[] record.record_buffer;
    record.record_buffer = nullptr;
    PlatformFile& handle = file_table.handles[size_t(index)];
    if (handle != PLATFORM_FILE_NONE) platform_file_close(handle);
    handle = PLATFORM_FILE_NONE;
    file_table.free_records.push_back(index);
}

int32_t file_record_index(int32_t number) {
    if (number < 1 || number >= int32_t(file_table.numbers.size())) return -1;
    return file_table.numbers[size_t(number)];
}

FileRecord* file_record(int32_t record) {
    if (record < 0 || record >= int32_t(file_table.records.size())) return nullptr;
    FileRecord& r = file_table.records[size_t(record)];
    return r.in_use ? &r : nullptr;
}

void file_close(int32_t number) {
    if (error_pending()) return;
    if (number < 0) {
        if (file_table.network_close) file_table.network_close(number);
        return;
    }
    int32_t index = file_record_index(number);
    if (index < 0) return;
    file_table.numbers[size_t(number)] = -1;
    file_record_release(index);
}

// Runs at program end whatever is pending: an error that ends the program must not leave data
// unwritten behind it.
void file_close_all() {
    if (file_table.network_close_all) file_table.network_close_all();
    for (size_t number = 1; number < file_table.numbers.size(); ++number) {
        int32_t index = file_table.numbers[number];
        if (index < 0) continue;
        file_table.numbers[number] = -1;
        file_record_release(index);
    }
}

int32_t free_file_number() {
    if (error_pending()) return 0;
    for (size_t number = 1; number < file_table.numbers.size(); ++number) {
        if (file_table.numbers[number] < 0) return int32_t(number);
    }
    return std::max<int32_t>(1, int32_t(file_table.numbers.size()));
}
