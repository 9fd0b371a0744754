// libFuzzer entry for the input statement's field check: the first bytes choose up to three
// variables and their type words, the rest is typed one character at a time (byte 8 is
// Backspace), as the key loop does it. Aborts when a refused character changed any variable,
// when an accepted integer field stored anything but the value typed, when an accepted single or
// double is not finite, when a variable other than the one being typed changed, or when the
// string engine's invariants break.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/base/run_state.h"
#include "runtime/input/line_input.h"
#include "runtime/memory/conv.h"
#include "runtime/strings/detail.h"
#include "runtime/strings/str.h"

namespace {

constexpr uint32_t FIXED_STRING = 0xFFFFFFFF; // stands for a fixed-length string of 4 bytes

constexpr uint32_t TYPE_WORDS[] = {
    INPUT_TYPE_STRING,
    INPUT_TYPE_STRING | INPUT_TYPE_WHOLE_LINE,
    FIXED_STRING,
    8,
    16,
    32,
    64,
    INPUT_TYPE_UNSIGNED | 8,
    INPUT_TYPE_UNSIGNED | 16,
    INPUT_TYPE_UNSIGNED | 32,
    INPUT_TYPE_UNSIGNED | 64,
    INPUT_TYPE_NO_CLEAR | 16,
    INPUT_TYPE_NO_CLEAR | INPUT_TYPE_UNSIGNED | 64,
    INPUT_TYPE_FLOAT | 32,
    INPUT_TYPE_FLOAT | 64,
    INPUT_TYPE_FLOAT | INPUT_TYPE_EXTENDED_BITS,
};
constexpr size_t TYPE_COUNT = sizeof TYPE_WORDS / sizeof TYPE_WORDS[0];

struct Variable {
    uint32_t type_word = 0;
    alignas(16) uint8_t bytes[32] = {};
    uint8_t fixed_storage[4] = {};
    BasicString* string = nullptr;

    bool is_string() const { return string != nullptr; }
    // Everything the check may change, as bytes.
    std::string state() const {
        if (is_string())
            return std::string(reinterpret_cast<const char*>(string->chars),
                               size_t(string->length));
        return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
    }
};

[[noreturn]] void fail(const char* what, const std::string& line) {
    std::fprintf(stderr, "%s after typing \"%s\"\n", what, line.c_str());
    std::abort();
}

// The value a field the check accepted must have stored, worked out independently with the C
// library's conversions: the bit pattern, already masked to `bits`.
uint64_t model_integer(const std::string& field, uint32_t bits, bool unsigned_type,
                       const std::string& line) {
    if (field.empty() || field == "-") return 0;
    uint64_t value = 0;
    if (field[0] == '&') {
        if (field.size() <= 2) return 0;
        int base = (field[1] | 0x20) == 'h' ? 16 : 8;
        for (size_t i = 2; i < field.size(); ++i)
            if (!std::isxdigit(uint8_t(field[i]))) fail("non-digit in an accepted & field", line);
        value = std::strtoull(field.c_str() + 2, nullptr, base);
    } else {
        for (size_t i = field[0] == '-' ? 1 : 0; i < field.size(); ++i)
            if (field[i] < '0' || field[i] > '9') fail("non-digit in an accepted field", line);
        if (unsigned_type && field[0] == '-') fail("negative unsigned accepted", line);
        errno = 0;
        char* end = nullptr;
        if (unsigned_type) {
            value = std::strtoull(field.c_str(), &end, 10);
            if (bits < 64 && value > (uint64_t(1) << bits) - 1) fail("unsigned out of range", line);
        } else {
            int64_t signed_value = std::strtoll(field.c_str(), &end, 10);
            if (bits < 64) {
                int64_t top = (int64_t(1) << (bits - 1)) - 1;
                if (signed_value > top || signed_value < -top - 1) fail("out of range", line);
            }
            value = uint64_t(signed_value);
        }
        if (errno != 0 || *end != 0) fail("accepted field beyond 64 bits", line);
    }
    return bits < 64 ? value & ((uint64_t(1) << bits) - 1) : value;
}

void check_stored(const Variable& v, const std::string& before, const std::string& field,
                  const std::string& line) {
    if (v.is_string()) {
        std::string expected = field;
        if (v.string->is_fixed) expected.resize(size_t(v.string->length), ' ');
        if (v.state() != expected) fail("string not stored as typed", line);
        return;
    }
    uint32_t bits = v.type_word & INPUT_TYPE_SIZE_MASK;
    if (v.type_word & INPUT_TYPE_FLOAT) {
        if (bits == 32) {
            float f;
            std::memcpy(&f, v.bytes, sizeof f);
            if (!std::isfinite(f)) fail("single not finite", line);
        } else if (bits == 64) {
            double d;
            std::memcpy(&d, v.bytes, sizeof d);
            if (!std::isfinite(d)) fail("double not finite", line);
        }
        return;
    }
    if ((v.type_word & INPUT_TYPE_NO_CLEAR) && bits <= 32) {
        if (v.state() != before) fail("integer stored despite bit 24", line);
        return;
    }
    uint64_t expected = model_integer(field, bits, v.type_word & INPUT_TYPE_UNSIGNED, line);
    uint64_t stored = 0;
    std::memcpy(&stored, v.bytes, bits / 8); // little-endian host: the low bytes
    if (stored != expected) fail("integer differs from the value typed", line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    run_state_reset();
    // The emulated memory is zeroed once: the check never reads it, and the string engine's
    // reset below starts its segment afresh. Tiny engine limits keep each run cheap and make
    // the engine grow and compact while strings are stored.
    static const bool memory_ready = (conv_memory_init(), true);
    (void)memory_ready;
    StrLimits limits;
    limits.descriptor_block = 4;
    limits.free_stack_capacity = 2;
    limits.heap_size = 64;
    limits.heap_list_capacity = 2;
    limits.segment_list_capacity = 2;
    limits.temp_capacity = 2;
    limits.scratch_size = 16;
    str_engine_reset(limits);
    input_reset();
    int32_t mark = str_temp_mark();

    int32_t count = 1 + data[0] % 3;
    size_t at = 1;
    Variable variables[4];
    for (int32_t i = 1; i <= count; ++i) {
        Variable& v = variables[i];
        uint32_t type = TYPE_WORDS[at < size ? data[at] % TYPE_COUNT : 0];
        ++at;
        // Whole-line mode belongs to variable 1 only; elsewhere bit 9 is just a string's flag.
        if (type == FIXED_STRING) {
            v.string = str_new_fixed(v.fixed_storage, sizeof v.fixed_storage, false);
            v.type_word = INPUT_TYPE_STRING;
        } else if (type & INPUT_TYPE_STRING) {
            v.string = str_new(0, false);
            v.type_word = type;
        } else {
            v.type_word = type;
            std::memset(v.bytes, 0x5A, sizeof v.bytes);
        }
        input_set_variable(i, v.type_word, v.is_string() ? static_cast<void*>(v.string) : v.bytes);
    }
    input_clear_variables(count);
    bool whole_line = (variables[1].type_word & INPUT_TYPE_STRING) &&
                      (variables[1].type_word & INPUT_TYPE_WHOLE_LINE);

    std::string accepted;
    for (; at < size; ++at) {
        std::string line = accepted;
        if (data[at] == 8) {
            if (line.empty()) continue;
            line.pop_back();
        } else {
            if (int32_t(accepted.size()) >= INPUT_LINE_MAX) continue;
            line.push_back(char(data[at]));
        }
        std::string before[4];
        for (int32_t i = 1; i <= count; ++i) before[i] = variables[i].state();
        bool passed = input_check_line(line, count);
        str_cleanup(mark, 0);
        if (data[at] == 8 && !passed) fail("a shorter line than an accepted one was refused", line);
        std::string field;
        int32_t number = passed ? input_split_line(line, count, whole_line, field) : 0;
        if (passed && number == 0) fail("accepted a line the splitter refuses", line);
        for (int32_t i = 1; i <= count; ++i) {
            if (i == number) continue;
            if (variables[i].state() != before[i]) fail("a variable changed unasked", line);
        }
        if (passed) {
            check_stored(variables[number], before[number], field, line);
            accepted = line;
        }
    }
    const char* broken = str_check_invariants();
    if (broken[0] != 0) {
        std::fprintf(stderr, "string engine: %s\n", broken);
        std::abort();
    }
    return 0;
}
