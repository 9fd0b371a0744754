#pragma once
// A differential interpreter: statement-shaped sequences of string operations run on the engine
// and on a plain std::string model side by side. Every choice comes from a byte source, so the
// same interpreter serves the seeded property test and the fuzz target.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/base/run_state.h"
#include "runtime/core/startup.h"
#include "runtime/strings/detail.h"
#include "runtime/strings/str.h"

namespace str_model {

struct ByteSource {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t position = 0;
    bool exhausted() const { return position >= size; }
    uint8_t next() { return position < size ? data[position++] : 0; }
    // A value in [low, high].
    int32_t pick(int32_t low, int32_t high) {
        uint32_t raw = uint32_t(next()) | uint32_t(next()) << 8;
        return low + int32_t(raw % uint32_t(high - low + 1));
    }
};

inline std::string view(const BasicString* s) {
    return std::string(reinterpret_cast<const char*>(s->chars), size_t(s->length));
}

// Reference behaviour of the operations, written from their rules rather than from the engine.
inline std::string model_right(const std::string& s, int32_t n) {
    n = std::clamp(n, 0, int32_t(s.size()));
    return s.substr(s.size() - size_t(n));
}
inline std::string model_mid(const std::string& s, int32_t start, int32_t n, bool n_given) {
    int32_t length = int32_t(s.size());
    if (!n_given) {
        if (start < 1) start = 1;
        return start > length ? std::string() : s.substr(size_t(start - 1));
    }
    if (start < 1) {
        n -= 1 - start;
        start = 1;
    }
    if (n < 1 || start > length) return std::string();
    n = std::min(n, length - start + 1);
    return s.substr(size_t(start - 1), size_t(n));
}
inline void model_mid_assign(std::string& target, int32_t start, int32_t n,
                             const std::string& source, bool n_given) {
    if (!n_given) n = int32_t(source.size());
    int32_t skip = 0;
    if (start < 1) {
        skip = 1 - start;
        n -= skip;
        start = 1;
    }
    int32_t left_in_source = int32_t(source.size()) - skip;
    if (n <= 0 || start > int32_t(target.size()) || left_in_source <= 0) return;
    n = std::min({n, int32_t(target.size()) - start + 1, left_in_source});
    target.replace(size_t(start - 1), size_t(n), source.substr(size_t(skip), size_t(n)));
}
inline int32_t model_instr(int32_t start, const std::string& s, const std::string& find,
                           bool start_given) {
    if (!start_given) start = 1;
    if (s.empty()) return 0;
    if (start <= 0) {
        if (find.empty()) return 0;
        start = 1;
    }
    if (start > int32_t(s.size())) return 0;
    if (find.empty()) return start;
    size_t at = s.find(find, size_t(start - 1));
    return at == std::string::npos ? 0 : int32_t(at) + 1;
}
inline std::string model_case(std::string s, bool upper) {
    for (char& c : s) {
        if (upper && c >= 'a' && c <= 'z') c = char(c - 32);
        if (!upper && c >= 'A' && c <= 'Z') c = char(c + 32);
    }
    return s;
}
inline std::string model_ltrim(const std::string& s) {
    size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first);
}
inline std::string model_rtrim(const std::string& s) {
    size_t last = s.find_last_not_of(' ');
    return last == std::string::npos ? std::string() : s.substr(0, last + 1);
}
inline std::string model_justify(const std::string& source, size_t width, bool right) {
    if (source.size() >= width) return source.substr(0, width);
    std::string pad(width - source.size(), ' ');
    return right ? pad + source : source + pad;
}

constexpr int VARIABLES = 6; // 0-3 heap, 4 in the data segment, 5 fixed-length
constexpr int HEAP_VARIABLES = 4;
constexpr int SEGMENT_VARIABLE = 4;
constexpr int FIXED_VARIABLE = 5;
constexpr int32_t FIXED_LENGTH = 8;
constexpr int32_t MAX_VALUE_LENGTH = 6000; // keeps values well inside the 64 KB data segment

// Capacities so small that every statement grows, packs or compacts something.
inline StrLimits tiny_limits() {
    StrLimits tiny;
    tiny.descriptor_block = 4;
    tiny.free_stack_capacity = 2;
    tiny.heap_size = 64;
    tiny.heap_list_capacity = 2;
    tiny.segment_list_capacity = 2;
    tiny.temp_capacity = 2;
    tiny.scratch_size = 16;
    return tiny;
}

struct Value {
    BasicString* s;
    std::string m;
};

class Interpreter {
  public:
    explicit Interpreter(ByteSource& source) : in_(source) {
        // Start-up strings of an earlier run name descriptors this engine may reuse.
        str_shared_empty = str_one_space = machine_code_message = command_line = nullptr;
        for (int i = 0; i < HEAP_VARIABLES; ++i) vars_[i] = str_new(0, false);
        vars_[SEGMENT_VARIABLE] = str_new_segment(0, false);
        fixed_storage_.fill(' ');
        vars_[FIXED_VARIABLE] = str_new_fixed(fixed_storage_.data(), FIXED_LENGTH, false);
        model_[FIXED_VARIABLE] = std::string(FIXED_LENGTH, ' ');
    }

    // Runs statements until the bytes run out or a difference is found; returns an empty text
    // when engine and model agree throughout, else a description of the first difference.
    std::string run(int max_statements) {
        for (int i = 0; i < max_statements && !in_.exhausted(); ++i) {
            int32_t mark = str_temp_mark();
            statement();
            str_cleanup(mark, 0);
            if (!failure_.empty()) return failure_;
            if (str_temp_mark() != mark) return at(i, "temporaries survived the statement");
            if (const char* broken = str_check_invariants(); *broken) return at(i, broken);
            for (int v = 0; v < VARIABLES; ++v)
                if (view(vars_[v]) != model_[v])
                    return at(i, "variable " + std::to_string(v) + " is \"" + view(vars_[v]) +
                                     "\", expected \"" + model_[v] + "\"");
            ++statements_;
        }
        return "";
    }
    int statements() const { return statements_; }

  private:
    std::string at(int i, const std::string& what) {
        return "statement " + std::to_string(i) + ": " + what;
    }
    void expect(bool ok, const char* what) {
        if (!ok && failure_.empty()) failure_ = what;
    }

    Value literal() {
        static const std::array<std::string, 8> pool = {"",
                                                        "A",
                                                        "  pad  ",
                                                        "Hello, World",
                                                        "e:\\",
                                                        "ab ab a",
                                                        std::string(40, 'x'),
                                                        std::string(300, 'q') + "END"};
        const std::string& text = pool[size_t(in_.pick(0, int32_t(pool.size()) - 1))];
        return {str_new_literal(text.data(), int32_t(text.size())), text};
    }

    Value expression(int depth) {
        int kind = in_.pick(0, depth >= 4 ? 1 : 13);
        switch (kind) {
        case 0: return literal();
        case 1: {
            int v = in_.pick(0, VARIABLES - 1);
            return {vars_[v], model_[v]};
        }
        case 2: {
            Value a = expression(depth + 1);
            Value b = expression(depth + 1);
            if (a.m.size() + b.m.size() > size_t(MAX_VALUE_LENGTH)) return a;
            return {str_add(a.s, b.s), a.m + b.m};
        }
        case 3: {
            Value a = expression(depth + 1);
            int32_t n = in_.pick(-2, int32_t(a.m.size()) + 2);
            return {str_left(a.s, n), a.m.substr(0, size_t(std::clamp(n, 0, int32_t(a.m.size()))))};
        }
        case 4: {
            Value a = expression(depth + 1);
            int32_t n = in_.pick(-2, int32_t(a.m.size()) + 2);
            return {str_right(a.s, n), model_right(a.m, n)};
        }
        case 5: {
            Value a = expression(depth + 1);
            int32_t start = in_.pick(-3, int32_t(a.m.size()) + 2);
            int32_t n = in_.pick(-3, int32_t(a.m.size()) + 2);
            bool given = in_.next() & 1;
            return {str_mid(a.s, start, n, given), model_mid(a.m, start, n, given)};
        }
        case 6:
        case 7: {
            Value a = expression(depth + 1);
            bool upper = kind == 6;
            return {upper ? str_upper(a.s) : str_lower(a.s), model_case(a.m, upper)};
        }
        case 8: {
            Value a = expression(depth + 1);
            return {str_ltrim(a.s), model_ltrim(a.m)};
        }
        case 9: {
            Value a = expression(depth + 1);
            return {str_rtrim(a.s), model_rtrim(a.m)};
        }
        case 10: {
            int32_t n = in_.pick(-2, 70);
            return {str_space(n), std::string(size_t(std::max(n, 0)), ' ')};
        }
        case 11: {
            int32_t n = in_.pick(-2, 40);
            int32_t code = in_.pick(-300, 600);
            return {str_repeat(n, code), std::string(size_t(std::max(n, 0)), char(code & 255))};
        }
        case 12: {
            int32_t code = in_.pick(0, 255);
            return {str_chr(code), std::string(1, char(code))};
        }
        default: {
            // A result made straight from the heap, as run-time buffers are.
            int32_t n = in_.pick(0, 50);
            BasicString* s = str_new(n, true);
            std::string m;
            for (int32_t i = 0; i < n; ++i) m.push_back(char('a' + i % 26));
            std::memcpy(s->chars, m.data(), m.size());
            return {s, m};
        }
        }
    }

    void assign(int v, const Value& value) {
        str_set(vars_[v], value.s);
        model_[v] = v == FIXED_VARIABLE ? model_justify(value.m, FIXED_LENGTH, false) : value.m;
    }

    void statement() {
        switch (in_.pick(0, 9)) {
        case 0:
        case 1:
        case 2:
        case 3: {
            int v = in_.pick(0, VARIABLES - 1);
            assign(v, expression(0));
            break;
        }
        case 4: {
            // v = v + literal: the concatenation is handed over to the variable.
            int v = in_.pick(0, VARIABLES - 1);
            Value lit = literal();
            if (model_[v].size() + lit.m.size() > size_t(MAX_VALUE_LENGTH)) break;
            assign(v, {str_add(vars_[v], lit.s), model_[v] + lit.m});
            break;
        }
        case 5: {
            Value a = expression(1);
            Value b = expression(1);
            int order = a.m.compare(b.m) < 0 ? -1 : a.m.compare(b.m) > 0 ? 1 : 0;
            // std::string compares chars as unsigned through char_traits, like the engine.
            expect(str_equal(a.s, b.s) == (order == 0 ? -1 : 0), "str_equal disagrees");
            expect(str_not_equal(a.s, b.s) == (order != 0 ? -1 : 0), "str_not_equal disagrees");
            expect(str_less(a.s, b.s) == (order < 0 ? -1 : 0), "str_less disagrees");
            expect(str_greater(a.s, b.s) == (order > 0 ? -1 : 0), "str_greater disagrees");
            expect(str_less_equal(a.s, b.s) == (order <= 0 ? -1 : 0), "str_less_equal disagrees");
            expect(str_greater_equal(a.s, b.s) == (order >= 0 ? -1 : 0),
                   "str_greater_equal disagrees");
            expect(str_len(a.s) == int32_t(a.m.size()), "str_len disagrees");
            bool given = in_.next() & 1;
            int32_t start = in_.pick(-2, int32_t(a.m.size()) + 2);
            expect(str_instr(start, a.s, b.s, given) == model_instr(start, a.m, b.m, given),
                   "str_instr disagrees");
            break;
        }
        case 6: {
            int v = in_.pick(0, VARIABLES - 1);
            Value source = expression(1);
            int32_t start = in_.pick(-3, int32_t(model_[v].size()) + 2);
            int32_t n = in_.pick(-3, int32_t(source.m.size()) + 2);
            bool given = in_.next() & 1;
            str_mid_assign(vars_[v], start, n, source.s, given);
            model_mid_assign(model_[v], start, n, source.m, given);
            break;
        }
        case 7: {
            Value source = expression(1);
            bool right = in_.next() & 1;
            if (right)
                str_rset(vars_[FIXED_VARIABLE], source.s);
            else
                str_lset(vars_[FIXED_VARIABLE], source.s);
            model_[FIXED_VARIABLE] = model_justify(source.m, FIXED_LENGTH, right);
            break;
        }
        case 8: {
            // A variable goes out of scope and a new one takes its place: frees in the middle
            // of the heap list leave gaps for compaction to close.
            int v = in_.pick(0, HEAP_VARIABLES - 1);
            str_free(vars_[v]);
            vars_[v] = str_new(0, false);
            model_[v].clear();
            break;
        }
        default: {
            // Temporaries that nobody consumes die at the statement's clean-up.
            int count = in_.pick(1, 5);
            for (int i = 0; i < count; ++i) (void)expression(2);
            break;
        }
        }
    }

    ByteSource& in_;
    std::array<BasicString*, VARIABLES> vars_{};
    std::array<std::string, VARIABLES> model_{};
    std::array<uint8_t, FIXED_LENGTH> fixed_storage_{};
    std::string failure_;
    int statements_ = 0;
};

} // namespace str_model
