#include "runtime/memory/conv.h"

#include <cstring>

#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/memory/detail.h"

uint8_t* conv_memory = nullptr;
ConvState conv_state;

namespace {

// PEEK, POKE and DEF SEG take 17-bit signed values; a negative one stands for its low 16 bits.
constexpr int32_t ADDRESS_ARGUMENT_MIN = -65536;
constexpr int32_t ADDRESS_ARGUMENT_MAX = 65535;

constexpr uint32_t BLOCK_GRANULE = 16; // one paragraph, so that every block starts a segment

bool address_argument_ok(int32_t value) {
    return value >= ADDRESS_ARGUMENT_MIN && value <= ADDRESS_ARGUMENT_MAX;
}

uint32_t segment_address(int32_t offset) {
    return conv_state.current_segment + (uint32_t(offset) & 0xFFFF);
}

int32_t take_record() {
    ConvState& s = conv_state;
    if (!s.freed_records.empty()) {
        int32_t record = s.freed_records.back();
        s.freed_records.pop_back();
        return record;
    }
    if (uint32_t(s.records_issued) >= s.record_limit)
        error_critical(ERROR_CRITICAL_BLOCK_NO_RECORD);
    return s.records_issued++;
}

} // namespace

void conv_state_reset() {
    ConvState& s = conv_state;
    s.current_segment = DATA_SEGMENT_BASE;
    s.records.resize(CONV_BLOCK_RECORDS);
    s.records_issued = 0;
    s.freed_records.clear();
    s.freed_records.reserve(CONV_BLOCK_RECORDS);
    s.record_limit = CONV_BLOCK_RECORDS;
    s.block_list = -1;
    s.side_table.assign(CONV_SIDE_TABLE_BYTES, 0);
}

void conv_memory_init() {
    if (!conv_memory) conv_memory = new uint8_t[CONV_MEMORY_SIZE];
    std::memset(conv_memory, 0, CONV_MEMORY_SIZE);
    conv_state_reset();
}

void def_segment(int32_t segment, int32_t given) {
    if (error_pending()) return;
    if (!given) {
        conv_state.current_segment = DATA_SEGMENT_BASE;
        return;
    }
    if (!address_argument_ok(segment)) {
        error_raise(ERROR_OVERFLOW);
        return;
    }
    conv_state.current_segment = (uint32_t(segment) & 0xFFFF) * 16;
}

// Deliberately runs while an error is pending: it has no effect to hold back.
int32_t peek_byte(int32_t offset) {
    if (!address_argument_ok(offset)) {
        error_raise(ERROR_OVERFLOW);
        return 0;
    }
    return conv_load8(segment_address(offset));
}

void poke_byte(int32_t offset, int32_t value) {
    if (error_pending()) return;
    if (!address_argument_ok(offset)) {
        error_raise(ERROR_OVERFLOW);
        return;
    }
    conv_store8(segment_address(offset), uint8_t(value));
}

uint8_t* conv_block_alloc(uint32_t size) {
    ConvState& s = conv_state;
    if (size > CONV_BLOCK_MAX_SIZE) error_critical(ERROR_CRITICAL_BLOCK_SIZE);
    if (size == 0) return conv_memory + CONV_BLOCK_HIGH;
    size = (size + BLOCK_GRANULE - 1) & ~(BLOCK_GRANULE - 1);

    // First fit from the top: walk the blocks downwards, each gap lying between the previous
    // block's start (the boundary) and this block's end.
    uint32_t boundary = CONV_BLOCK_HIGH;
    int32_t previous = -1;
    int32_t block = s.block_list;
    while (block != -1 && boundary - s.records[block].end < size) {
        boundary = s.records[block].start;
        previous = block;
        block = s.records[block].next;
    }
    if (block == -1 && boundary - CONV_BLOCK_LOW < size)
        error_critical(ERROR_CRITICAL_BLOCK_NO_SPACE);

    int32_t record = take_record();
    s.records[record] = ConvBlockRecord{boundary - size, boundary, size, block};
    if (previous == -1) {
        s.block_list = record;
    } else {
        s.records[previous].next = record;
    }
    return conv_memory + (boundary - size);
}

void conv_block_free(uint8_t* pointer) {
    ConvState& s = conv_state;
    if (!pointer || s.block_list == -1) return;
    // Compared as integers: a pointer from elsewhere is simply not found.
    uintptr_t base = reinterpret_cast<uintptr_t>(conv_memory);
    uintptr_t address = reinterpret_cast<uintptr_t>(pointer);
    if (address < base || address - base >= CONV_BLOCK_HIGH) return;
    uint32_t start = uint32_t(address - base);

    int32_t previous = -1;
    for (int32_t block = s.block_list; block != -1; block = s.records[block].next) {
        if (s.records[block].start == start) {
            if (previous == -1) {
                s.block_list = s.records[block].next;
            } else {
                s.records[previous].next = s.records[block].next;
            }
            s.freed_records.push_back(block);
            return;
        }
        previous = block;
    }
}
