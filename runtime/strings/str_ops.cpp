// The table-driven string functions: extraction, search, case, trimming, character codes and the
// justified copies into fixed-length strings.
//
// Heap data can move on every str_new (compaction packs the heap, growth reallocates it), so a
// `chars` pointer of an argument is read only after the result has been allocated.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/strings/str.h"

namespace {

// A temporary argument that the result does not reuse dies with the operation.
void consume(BasicString* s) {
    if (s->is_temporary) str_free(s);
}

// The bytes [offset, offset + n) of `s` as the operation's result. The whole string is `s`
// itself; a plain temporary is narrowed in place; anything else is copied into a new temporary
// and given up. 0 <= offset, 0 <= n, offset + n <= s->length.
BasicString* substring(BasicString* s, int32_t offset, int32_t n) {
    if (offset == 0 && n == s->length) return s;
    if (str_is_plain_temporary(s)) {
        s->chars += offset;
        s->length = n;
        return s;
    }
    BasicString* result = str_new(n, true);
    if (n > 0) std::memcpy(result->chars, s->chars + offset, size_t(n));
    consume(s);
    return result;
}

bool is_lower(uint8_t c) {
    return c >= 'a' && c <= 'z';
}
bool is_upper(uint8_t c) {
    return c >= 'A' && c <= 'Z';
}

// ASCII-only case change: the dialect never folds bytes above 127, whatever the code page.
template <bool (*is_from)(uint8_t), int delta> BasicString* change_case(BasicString* s) {
    if (s->length == 0) return s;
    if (!str_is_plain_temporary(s)) {
        const uint8_t* begin = s->chars;
        if (std::none_of(begin, begin + s->length, is_from)) return s;
        BasicString* copy = str_new(s->length, true);
        std::memcpy(copy->chars, s->chars, size_t(s->length));
        consume(s);
        s = copy;
    }
    for (uint8_t *c = s->chars, *end = c + s->length; c != end; ++c) {
        if (is_from(*c)) *c = uint8_t(*c + delta);
    }
    return s;
}

BasicString* filled(int32_t n, uint8_t byte) {
    BasicString* result = str_new(std::max(n, 0), true);
    if (result->length > 0) std::memset(result->chars, byte, size_t(result->length));
    return result;
}

// The source of a statement form has been used up; a temporary dies here as it would in an
// assignment. A target passed as its own source stays.
void consume_source(BasicString* target, BasicString* source) {
    if (source != target) consume(source);
}

enum class Justify { left, right };

// Literals point at the program's constant data: a read-only target is left as it is, as if
// there were nothing to copy.
void justified_copy(BasicString* target, BasicString* source, Justify justify) {
    if (error_pending()) return;
    if (target->is_read_only) {
        consume_source(target, source);
        return;
    }
    const int32_t n = std::min(source->length, target->length);
    const int32_t pad = target->length - n;
    uint8_t* to = target->chars;
    // memmove: a target that is its own source overlaps itself.
    if (justify == Justify::left) {
        if (n > 0) std::memmove(to, source->chars, size_t(n));
        if (pad > 0) std::memset(to + n, ' ', size_t(pad));
    } else {
        if (n > 0) std::memmove(to + pad, source->chars, size_t(n));
        if (pad > 0) std::memset(to, ' ', size_t(pad));
    }
    // A target bound to a file record field would refresh the record buffer here; no string of
    // this program is bound (field_link is always null).
    consume_source(target, source);
}

} // namespace

BasicString* str_right(BasicString* s, int32_t n) {
    n = std::clamp(n, 0, s->length);
    return substring(s, s->length - n, n);
}

BasicString* str_mid(BasicString* s, int32_t start, int32_t n, int32_t n_given) {
    // 64-bit so that start = INT32_MIN with a count cannot overflow.
    int64_t first = start;
    int64_t count;
    if (n_given) {
        count = n;
        if (first < 1) {
            count -= 1 - first;
            first = 1;
        }
    } else {
        first = std::max<int64_t>(first, 1);
        count = int64_t(s->length) - first + 1;
    }
    if (count < 1 || first > s->length) return substring(s, 0, 0);
    count = std::min(count, int64_t(s->length) - first + 1);
    return substring(s, int32_t(first - 1), int32_t(count));
}

void str_mid_assign(BasicString* target, int32_t start, int32_t n, BasicString* source,
                    int32_t n_given) {
    if (error_pending()) return;
    int64_t first = start;
    int64_t count = n_given ? n : source->length;
    int64_t skip = 0;
    if (first < 1) {
        skip = 1 - first;
        count -= skip;
        first = 1;
    }
    // Literals point at the program's constant data, and the shared empty string ends every
    // printed line: neither is written, as if there were nothing to copy.
    const bool writable = !target->is_read_only && target != str_shared_empty;
    if (writable && count > 0 && first <= target->length && skip < source->length) {
        count =
            std::min({count, int64_t(target->length) - first + 1, int64_t(source->length) - skip});
        // memmove: a target that is its own source overlaps itself.
        std::memmove(target->chars + (first - 1), source->chars + skip, size_t(count));
    }
    consume_source(target, source);
}

int32_t str_instr(int32_t start, BasicString* s, BasicString* find, int32_t start_given) {
    if (!start_given) start = 1;
    if (s->length == 0) return 0;
    if (start <= 0) {
        if (find->length == 0) return 0;
        start = 1;
    }
    if (start > s->length) return 0;
    if (find->length == 0) return start;
    const uint8_t* begin = s->chars;
    const uint8_t* end = begin + s->length;
    const uint8_t* hit =
        std::search(begin + (start - 1), end, find->chars, find->chars + find->length);
    return hit == end ? 0 : int32_t(hit - begin) + 1;
}

BasicString* str_upper(BasicString* s) {
    return change_case<is_lower, -32>(s);
}
BasicString* str_lower(BasicString* s) {
    return change_case<is_upper, +32>(s);
}

BasicString* str_ltrim(BasicString* s) {
    int32_t offset = 0;
    while (offset < s->length && s->chars[offset] == ' ') ++offset;
    return substring(s, offset, s->length - offset);
}

BasicString* str_rtrim(BasicString* s) {
    int32_t n = s->length;
    while (n > 0 && s->chars[n - 1] == ' ') --n;
    return substring(s, 0, n);
}

BasicString* str_space(int32_t n) {
    return filled(n, ' ');
}

BasicString* str_repeat(int32_t n, int32_t code) {
    return filled(n, uint8_t(code & 255));
}

BasicString* str_chr(int32_t code) {
    if (code < 0 || code > 255) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return str_new(0, true);
    }
    BasicString* result = str_new(1, true);
    result->chars[0] = uint8_t(code);
    return result;
}

int32_t str_asc(BasicString* s) {
    return str_asc_at(s, 1);
}

int32_t str_asc_at(BasicString* s, int32_t position) {
    if (position < 1 || position > s->length) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return 0;
    }
    return s->chars[position - 1];
}

int32_t str_len(BasicString* s) {
    return s->length;
}

void str_lset(BasicString* target, BasicString* source) {
    justified_copy(target, source, Justify::left);
}

void str_rset(BasicString* target, BasicString* source) {
    justified_copy(target, source, Justify::right);
}

BasicString* str_byte_word(int32_t b, int32_t w) {
    BasicString* result = str_new(3, true);
    result->chars[0] = uint8_t(b);
    result->chars[1] = uint8_t(w);
    result->chars[2] = uint8_t(w >> 8);
    return result;
}
