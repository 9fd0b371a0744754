#pragma once
// The memory family's internal state, for conv.cpp and for tests. Not for callers.
#include <cstdint>
#include <vector>

#include "runtime/memory/conv.h"

// One memory block below 640 KB: [start, end) in linear addresses.
struct ConvBlockRecord {
    uint32_t start = 0;
    uint32_t end = 0;
    uint32_t size = 0;
    int32_t next = -1; // next lower block in the list, -1 at its end
};

constexpr uint32_t CONV_SIDE_TABLE_BYTES = 65536;

struct ConvState {
    // Linear address of the segment that PEEK and POKE address.
    uint32_t current_segment = DATA_SEGMENT_BASE;

    // Block records, handed out in order and then reused last-in first-out. record_limit is the
    // table size; tests lower it to reach the table's end without 147 136 allocations.
    std::vector<ConvBlockRecord> records;
    int32_t records_issued = 0;
    std::vector<int32_t> freed_records;
    uint32_t record_limit = CONV_BLOCK_RECORDS;
    // The allocated blocks in descending address order.
    int32_t block_list = -1;

    // A 64 KB table zeroed together with the memory, kept for the machine-code emulation.
    std::vector<uint8_t> side_table;
};

extern ConvState conv_state;

// Empties the block list and the record table and selects the default data segment. Keeps the
// storage of the tables.
void conv_state_reset();
