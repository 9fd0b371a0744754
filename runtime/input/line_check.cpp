// The input statement's field check: the variable tables, the field splitter, and the checks of
// string, integer and floating-point fields with the stores that follow a passed check. Nothing
// here touches the screen or the keyboard, so the fuzzer drives it directly. Program thread only.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/base/error.h"
#include "runtime/input/line_input.h"
#include "runtime/strings/str.h"

namespace {

struct InputVariable {
    uint32_t type_word = 0;
    void* address = nullptr;
};

// Entry 0 is unused: the statement counts its variables from 1.
struct InputTables {
    std::vector<InputVariable> variables = std::vector<InputVariable>(1);
};

InputTables tables;

uint32_t size_bits(uint32_t type_word) {
    return type_word & INPUT_TYPE_SIZE_MASK;
}
bool is_string(uint32_t type_word) {
    return (type_word & INPUT_TYPE_STRING) != 0;
}
bool is_float(uint32_t type_word) {
    return !is_string(type_word) && (type_word & INPUT_TYPE_FLOAT) != 0;
}
bool is_unsigned(uint32_t type_word) {
    return (type_word & INPUT_TYPE_UNSIGNED) != 0;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_hex_digit(char c) {
    return is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
int hex_value(char c) {
    if (is_digit(c)) return c - '0';
    return (c | 0x20) - 'a' + 10;
}

// Writes the low `bits` of `value` into the variable in the host's own layout.
void store_integer(void* address, uint32_t bits, uint64_t value) {
    switch (bits) {
    case 8: {
        uint8_t v = uint8_t(value);
        std::memcpy(address, &v, 1);
        break;
    }
    case 16: {
        uint16_t v = uint16_t(value);
        std::memcpy(address, &v, 2);
        break;
    }
    case 32: {
        uint32_t v = uint32_t(value);
        std::memcpy(address, &v, 4);
        break;
    }
    default: std::memcpy(address, &value, 8); break;
    }
}

// The "&" forms: "&", "&H" and "&O" alone are 0; "&H" takes hexadecimal digits and "&O" octal
// ones, no more than the number of digits of 2^bits - 1 in that base, and the value must fit in
// `bits`. For 64 bits that is 16 hexadecimal digits, or 22 octal ones beginning with 0 or 1,
// which is exactly what fits.
bool parse_ampersand(const std::string& field, uint32_t bits, uint64_t& value) {
    value = 0;
    if (field.size() == 1) return true;
    char base_letter = char(field[1] | 0x20);
    if (base_letter != 'h' && base_letter != 'o') return false;
    bool hex = base_letter == 'h';
    size_t digits = field.size() - 2;
    size_t most_digits = hex ? bits / 4 : (bits + 2) / 3;
    if (digits > most_digits) return false;
    for (size_t i = 2; i < field.size(); ++i) {
        char c = field[i];
        if (hex ? !is_hex_digit(c) : !(c >= '0' && c <= '7')) return false;
        value = value * (hex ? 16 : 8) + uint64_t(hex_value(c));
    }
    if (!hex && digits == 22 && field[2] > '1') return false; // beyond 2^64 - 1
    if (bits < 64 && value > (uint64_t(1) << bits) - 1) return false;
    return true;
}

// Decimal integers: an optional "-" for signed types ("-" alone is 0), no "0" in front of
// further digits, digits only, within the type's range. `value` is the two's-complement bit
// pattern of the result.
bool parse_decimal(const std::string& field, uint32_t bits, bool unsigned_type, uint64_t& value) {
    value = 0;
    size_t i = 0;
    bool negative = false;
    if (!field.empty() && field[0] == '-') {
        if (unsigned_type) return false;
        negative = true;
        i = 1;
    }
    std::string digits = field.substr(i);
    if (digits.empty()) return true;
    if (digits[0] == '0' && digits.size() > 1) return false;
    for (char c : digits)
        if (!is_digit(c)) return false;
    if (bits == 64) {
        // Compared as text at the full length, so no conversion can overflow.
        size_t most = unsigned_type ? 20 : 19;
        if (digits.size() > most) return false;
        if (digits.size() == most) {
            const char* limit = unsigned_type ? "18446744073709551615"
                                : negative    ? "9223372036854775808"
                                              : "9223372036854775807";
            if (digits.compare(limit) > 0) return false;
        }
    } else if (digits.size() > 10) {
        return false; // longer than any 32-bit value
    }
    uint64_t magnitude = 0;
    for (char c : digits) magnitude = magnitude * 10 + uint64_t(c - '0');
    if (bits < 64) {
        uint64_t most = unsigned_type ? (uint64_t(1) << bits) - 1
                        : negative    ? uint64_t(1) << (bits - 1)
                                      : (uint64_t(1) << (bits - 1)) - 1;
        if (magnitude > most) return false;
    }
    value = negative ? uint64_t(0) - magnitude : magnitude;
    return true;
}

bool check_integer(uint32_t type_word, void* address, const std::string& field) {
    uint32_t bits = size_bits(type_word);
    uint64_t value = 0;
    bool passed = !field.empty() && field[0] == '&'
                      ? parse_ampersand(field, bits, value)
                      : parse_decimal(field, bits, is_unsigned(type_word), value);
    if (!passed) return false;
    if (bits == 64 || !(type_word & INPUT_TYPE_NO_CLEAR)) store_integer(address, bits, value);
    return true;
}

// What the syntax check of a floating-point field found, for the range check.
struct DecimalNumber {
    std::string whole;    // digits before the point
    std::string fraction; // digits after it
    bool has_point = false;
    int64_t exponent = 0; // saturated far beyond any limit below
};

// Syntax of a floating-point field without its "-": digits, at most one ".", digits, then an
// optional exponent letter (E, and D for double and extended), sign and digits. A field that
// ends in the letter or its sign is still being typed and passes.
bool parse_float_syntax(const std::string& text, bool allow_d, DecimalNumber& number) {
    if (text.size() > 1 && text[0] == '0' && text[1] != '.') return false;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (is_digit(c)) {
            (number.has_point ? number.fraction : number.whole).push_back(c);
        } else if (c == '.' && !number.has_point) {
            number.has_point = true;
        } else {
            break;
        }
    }
    if (i == text.size()) return true;
    char letter = char(text[i] | 0x20);
    if (i == 0 || !(letter == 'e' || (allow_d && letter == 'd'))) return false;
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i + 1 < text.size() && text[i] == '0') return false;
    for (; i < text.size(); ++i) {
        if (!is_digit(text[i])) return false;
        if (number.exponent < 1000000) number.exponent = number.exponent * 10 + (text[i] - '0');
    }
    if (negative) number.exponent = -number.exponent;
    return true;
}

struct FloatLimits {
    size_t most_digits;          // for numbers with digits after the point
    int64_t highest_magnitude;   // power of ten of the first significant digit
    const char* highest_leading; // the leading digits may not be above these there
    int64_t lowest_magnitude;
    const char* lowest_leading; // nor below these there
};
constexpr FloatLimits SINGLE_LIMITS{8, 38, "3402823", -45, "1401298"};
constexpr FloatLimits DOUBLE_LIMITS{16, 308, "17976931", -324, "4940656"};

// The leading `count` significant digits of `digits` from `first`, padded with zeros.
std::string leading_digits(const std::string& digits, size_t first, size_t count) {
    std::string lead = digits.substr(first, count);
    lead.resize(count, '0');
    return lead;
}

bool in_range(const DecimalNumber& number, const FloatLimits& limits) {
    // A "0" before the point is no digit of the number, and neither are the zeros between the
    // point and the first significant digit when nothing else stands before the point.
    bool nothing_before = number.whole.empty() || number.whole == "0";
    if (!number.fraction.empty()) {
        size_t count = nothing_before ? 0 : number.whole.size();
        size_t skipped = 0;
        if (nothing_before)
            while (skipped < number.fraction.size() && number.fraction[skipped] == '0') ++skipped;
        count += number.fraction.size() - skipped;
        if (count > limits.most_digits) return false;
    }
    std::string digits = number.whole + number.fraction;
    size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return true; // zero
    int64_t magnitude = int64_t(number.whole.size()) - 1 - int64_t(first) + number.exponent;
    if (magnitude > limits.highest_magnitude) return false;
    if (magnitude == limits.highest_magnitude) {
        size_t n = std::strlen(limits.highest_leading);
        if (leading_digits(digits, first, n).compare(limits.highest_leading) > 0) return false;
    }
    if (magnitude < limits.lowest_magnitude) return false;
    if (magnitude == limits.lowest_magnitude) {
        size_t n = std::strlen(limits.lowest_leading);
        if (leading_digits(digits, first, n).compare(limits.lowest_leading) < 0) return false;
    }
    return true;
}

bool check_float(uint32_t type_word, void* address, const std::string& field) {
    uint32_t bits = size_bits(type_word);
    long double value = 0;
    if (!field.empty() && field[0] == '&') {
        uint64_t pattern = 0;
        if (!parse_ampersand(field, 64, pattern)) return false;
        value = static_cast<long double>(pattern);
    } else {
        std::string text = field;
        if (!text.empty() && text[0] == '-') text.erase(0, 1);
        DecimalNumber number;
        if (!parse_float_syntax(text, bits != 32, number)) return false;
        if (bits == 32 && !in_range(number, SINGLE_LIMITS)) return false;
        if (bits == 64 && !in_range(number, DOUBLE_LIMITS)) return false;
        // The conversion reads the exponent letter as E; D means the same to the dialect.
        std::string converted = field;
        for (char& c : converted)
            if (c == 'D' || c == 'd') c = 'E';
        if (bits == 32) {
            float f = std::strtof(converted.c_str(), nullptr);
            // The leading-digit limits let through up to 3.4028239...E38, above the largest
            // single; such a field would store infinity, so it is refused like any other
            // value out of range. The same holds for double below.
            if (std::isinf(f)) return false;
            std::memcpy(address, &f, sizeof f);
            return true;
        }
        if (bits == 64) {
            double d = std::strtod(converted.c_str(), nullptr);
            if (std::isinf(d)) return false;
            std::memcpy(address, &d, sizeof d);
            return true;
        }
        value = std::strtold(converted.c_str(), nullptr);
    }
    if (bits == 32) {
        float f = float(value);
        std::memcpy(address, &f, sizeof f);
    } else if (bits == 64) {
        double d = double(value);
        std::memcpy(address, &d, sizeof d);
    } else {
        std::memcpy(address, &value, sizeof value);
    }
    return true;
}

bool check_string(void* address, const std::string& field) {
    auto* variable = static_cast<BasicString*>(address);
    if (variable->is_fixed && int64_t(field.size()) > variable->length) return false;
    BasicString* text = str_new(int32_t(field.size()), true);
    if (!field.empty()) std::memcpy(text->chars, field.data(), field.size());
    str_set(variable, text);
    return true;
}

} // namespace

bool input_type_known(uint32_t type_word) {
    if (is_string(type_word)) return true;
    uint32_t bits = size_bits(type_word);
    if (is_float(type_word)) return bits == 32 || bits == 64 || bits == INPUT_TYPE_EXTENDED_BITS;
    return bits == 8 || bits == 16 || bits == 32 || bits == 64;
}

void input_set_variable(int32_t index, uint32_t type_word, void* address) {
    if (index < 1 || index > INPUT_VARIABLES_MAX) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }
    if (tables.variables.size() <= size_t(index)) tables.variables.resize(size_t(index) + 1);
    tables.variables[size_t(index)] = InputVariable{type_word, address};
}

void input_reset() {
    tables = InputTables{};
}

bool input_variables_valid(int32_t count) {
    if (count < 1 || size_t(count) >= tables.variables.size()) return false;
    for (int32_t i = 1; i <= count; ++i) {
        const InputVariable& v = tables.variables[size_t(i)];
        if (v.address == nullptr || !input_type_known(v.type_word)) return false;
    }
    return true;
}

int32_t input_split_line(const std::string& line, int32_t count, bool whole_line,
                         std::string& field) {
    field.clear();
    if (whole_line) {
        field = line;
        return 1;
    }
    enum class Quote { none, open, closed };
    int32_t number = 1;
    Quote quote = Quote::none;
    for (char c : line) {
        if (c == ',' && quote != Quote::open) {
            if (number == count) return 0;
            ++number;
            field.clear();
            quote = Quote::none;
        } else if (quote == Quote::closed) {
            return 0;
        } else if (c == '"' && quote == Quote::none && field.empty()) {
            quote = Quote::open;
        } else if (c == '"' && quote == Quote::open) {
            quote = Quote::closed;
        } else {
            field.push_back(c);
        }
    }
    return number;
}

bool input_check_field(uint32_t type_word, void* address, const std::string& field) {
    if (is_string(type_word)) return check_string(address, field);
    if (is_float(type_word)) return check_float(type_word, address, field);
    return check_integer(type_word, address, field);
}

bool input_check_line(const std::string& line, int32_t count) {
    if (!input_variables_valid(count)) return false;
    uint32_t first_type = tables.variables[1].type_word;
    bool whole_line = is_string(first_type) && (first_type & INPUT_TYPE_WHOLE_LINE);
    std::string field;
    int32_t number = input_split_line(line, count, whole_line, field);
    if (number == 0) return false;
    const InputVariable& v = tables.variables[size_t(number)];
    return input_check_field(v.type_word, v.address, field);
}

void input_clear_variables(int32_t count) {
    if (!input_variables_valid(count)) return;
    for (int32_t i = 1; i <= count; ++i) {
        const InputVariable& v = tables.variables[size_t(i)];
        if (is_string(v.type_word)) {
            auto* s = static_cast<BasicString*>(v.address);
            if (s->is_fixed) {
                if (s->length > 0) std::memset(s->chars, ' ', size_t(s->length));
            } else {
                str_set(s, str_new(0, true));
            }
        } else if (!(v.type_word & INPUT_TYPE_NO_CLEAR)) {
            std::memset(v.address, 0, size_bits(v.type_word) / 8);
        }
    }
}
