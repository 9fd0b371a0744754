#pragma once
// The string engine: descriptors, their storage, the per-statement temporaries and the string
// operations of the dialect. Program thread only.
//
// Memory rule shared by every operation: an operation frees its temporary arguments unless it
// returns them, may change a plain temporary in place, and may return an argument itself when
// the result equals it. Callers never free a result that is not temporary.
#include <cstdint>

struct BasicString {
    uint8_t* chars = nullptr; // not terminated; any byte value
    int32_t length = 0;
    uint8_t in_segment = 0;           // data lies in the emulated data segment
    uint8_t* segment_entry = nullptr; // 4-byte record in the segment: u16 length, u16 offset
    int32_t segment_entry_offset = 0; // offset of that record within the segment
    int32_t list_slot = 0;            // index in the heap list or the segment list
    uint8_t is_temporary = 0;
    int32_t temp_slot = 0;      // index in the temporary list; 0 = not on it
    uint8_t is_fixed = 0;       // fixed length over foreign storage
    uint8_t is_read_only = 0;   // foreign storage that must not be written (literals)
    void* field_link = nullptr; // file record field binding (see str_hooks.h)
};

// A temporary that operations may change in place or hand over to an assignment.
inline bool str_is_plain_temporary(const BasicString* s) {
    return s->is_temporary && !s->is_fixed && !s->is_read_only && !s->in_segment;
}

// --- The engine's permanent strings ------------------------------------------------------------

// Printed with end-of-line to end a printed line; never written into.
extern BasicString* str_shared_empty;
// A single space, used by the print-zone operation.
extern BasicString* str_one_space;
// Creates the two above in the data segment. Start-up calls it first after reserving the top of
// the segment, so that they take the same places in every run; str_engine_reset forgets them.
void str_constants_create();

// --- Creation, freeing and the temporaries of a statement -------------------------------------

BasicString* str_new(int32_t length, bool temporary);
BasicString* str_new_literal(const char* text, int32_t length);
BasicString* str_new_cstring(const char* text);
BasicString* str_new_segment(int32_t length, bool temporary);
BasicString* str_new_fixed(uint8_t* address, int32_t length, bool temporary);
BasicString* str_make_temporary(BasicString* s);
void str_free(BasicString* s);

// The number of used temporary-list slots; a statement reads it as its mark.
int32_t str_temp_mark();
// Frees every temporary created since `mark` and returns `value` unchanged.
int32_t str_cleanup(int32_t mark, int32_t value);

// Bump allocation for procedures' local numbers.
void* scratch_alloc(int32_t size);
void scratch_reset(void* position);

// Brings the engine to its start-up state (empty lists and heap, fresh arena). The emulated
// memory must exist: the data segment lives there. Anything created before is forgotten.
void str_engine_reset();

// --- Assignment, concatenation, extraction ---------------------------------------------------

BasicString* str_set(BasicString* target, BasicString* source);
BasicString* str_add(BasicString* left, BasicString* right);
BasicString* str_left(BasicString* s, int32_t n);
BasicString* str_right(BasicString* s, int32_t n);
BasicString* str_mid(BasicString* s, int32_t start, int32_t n, int32_t n_given);
void str_mid_assign(BasicString* target, int32_t start, int32_t n, BasicString* source,
                    int32_t n_given);
int32_t str_instr(int32_t start, BasicString* s, BasicString* find, int32_t start_given);
BasicString* str_upper(BasicString* s);
BasicString* str_lower(BasicString* s);
BasicString* str_ltrim(BasicString* s);
BasicString* str_rtrim(BasicString* s);
BasicString* str_space(int32_t n);
BasicString* str_repeat(int32_t n, int32_t code);
BasicString* str_chr(int32_t code);
int32_t str_asc(BasicString* s);
int32_t str_asc_at(BasicString* s, int32_t position);
int32_t str_len(BasicString* s);
void str_lset(BasicString* target, BasicString* source);
void str_rset(BasicString* target, BasicString* source);
BasicString* str_byte_word(int32_t b, int32_t w);

// Comparisons: -1 true, 0 false; bytes unsigned, no case folding. They never free arguments.
int32_t str_equal(BasicString* left, BasicString* right);
int32_t str_not_equal(BasicString* left, BasicString* right);
int32_t str_less(BasicString* left, BasicString* right);
int32_t str_greater(BasicString* left, BasicString* right);
int32_t str_less_equal(BasicString* left, BasicString* right);
int32_t str_greater_equal(BasicString* left, BasicString* right);

// --- Binary images of numbers (little-endian) -------------------------------------------------

BasicString* str_pack_i8(int8_t value);
BasicString* str_pack_u8(uint8_t value);
BasicString* str_pack_i16(int16_t value);
BasicString* str_pack_u16(uint16_t value);
BasicString* str_pack_i32(int32_t value);
BasicString* str_pack_u32(uint32_t value);
BasicString* str_pack_i64(int64_t value);
BasicString* str_pack_u64(uint64_t value);
BasicString* str_pack_f32(float value);
BasicString* str_pack_f64(double value);
BasicString* str_pack_f80(long double value);             // 32-byte zero-padded image
BasicString* str_pack_bits(int32_t bits, uint64_t value); // 1..64 bits, (bits + 7) / 8 bytes
int8_t str_unpack_i8(BasicString* s);
uint8_t str_unpack_u8(BasicString* s);
int16_t str_unpack_i16(BasicString* s);
uint16_t str_unpack_u16(BasicString* s);
int32_t str_unpack_i32(BasicString* s);
uint32_t str_unpack_u32(BasicString* s);
int64_t str_unpack_i64(BasicString* s);
uint64_t str_unpack_u64(BasicString* s);
float str_unpack_f32(BasicString* s);
double str_unpack_f64(BasicString* s);
long double str_unpack_f80(BasicString* s);
int64_t str_unpack_bits_signed(int32_t bits, BasicString* s);
uint64_t str_unpack_bits_unsigned(int32_t bits, BasicString* s);
// The dialect's older binary real layouts.
BasicString* str_pack_legacy_single(float value);
BasicString* str_pack_legacy_double(double value);
float str_unpack_legacy_single(BasicString* s);
double str_unpack_legacy_double(BasicString* s);
