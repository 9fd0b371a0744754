// SET, SETLOCAL and ENDLOCAL: the interpreter's variables, read from the process's environment
// at first use and written back to it, so that started programs inherit what a batch set.
#include "cmd/cmd_detail.h"

#include "cmd/cmd_parse.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <unistd.h>

extern char** environ;

namespace {

void read_environment(CmdState& state) {
    if (state.environment_read) return;
    state.environment_read = true;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* eq = std::strchr(*entry, '=');
        if (eq == nullptr || eq == *entry) continue;
        const std::string name(*entry, size_t(eq - *entry));
        state.variables.emplace(cmd_upper(name), CmdVariable{name, eq + 1});
    }
}

void assign(CmdState& state, const std::string& name, const std::string& value) {
    read_environment(state);
    const std::string key = cmd_upper(name);
    if (value.empty()) {
        const auto found = state.variables.find(key);
        if (found != state.variables.end()) {
            unsetenv(found->second.name.c_str());
            state.variables.erase(found);
        }
        return;
    }
    CmdVariable& variable = state.variables[key];
    if (variable.name.empty()) variable.name = name;
    variable.value = value;
    setenv(variable.name.c_str(), value.c_str(), 1);
}

// "(" and "-" recurse once each: a bound keeps "set /a x=((((..." within the stack.
constexpr int MAX_ARITHMETIC_DEPTH = 256;

// One operation on 64-bit numbers as two's complement computes it: what overflows wraps round
// instead of being undefined, and the smallest number divided by -1 gives itself (the remainder
// 0) instead of the processor's division trap. Division by zero is the caller's to refuse.
long wrapping(char op, long a, long b) {
    const unsigned long x = static_cast<unsigned long>(a);
    const unsigned long y = static_cast<unsigned long>(b);
    switch (op) {
    case '+': return static_cast<long>(x + y);
    case '-': return static_cast<long>(x - y);
    case '*': return static_cast<long>(x * y);
    case '/': return b == -1 ? static_cast<long>(0 - x) : a / b;
    default: return b == -1 ? 0 : a % b;
    }
}

// SET /A: integers with + - * / % and parentheses, names of variables, and = += -= *= /=.
struct Arithmetic {
    CmdState& state;
    std::string_view text;
    size_t at = 0;
    bool bad = false;
    bool too_deep = false;
    int depth = 0; // "(" and "-" around the position

    void blanks() {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '"')) ++at;
    }
    long primary() {
        blanks();
        if (at < text.size() && (text[at] == '(' || text[at] == '-') &&
            depth == MAX_ARITHMETIC_DEPTH) {
            too_deep = bad = true;
            at = text.size();
            return 0;
        }
        if (at < text.size() && text[at] == '(') {
            ++at;
            ++depth;
            const long value = sum();
            --depth;
            blanks();
            if (at < text.size() && text[at] == ')') ++at;
            return value;
        }
        if (at < text.size() && text[at] == '-') {
            ++at;
            ++depth;
            const long value = primary();
            --depth;
            return wrapping('-', 0, value);
        }
        const size_t start = at;
        while (at < text.size() && std::strchr("+-*/%()= \t\"", text[at]) == nullptr) ++at;
        const std::string word(text.substr(start, at - start));
        if (word.empty()) {
            bad = true;
            return 0;
        }
        if (word[0] >= '0' && word[0] <= '9') return std::strtol(word.c_str(), nullptr, 0);
        return std::strtol(cmd_lookup(state, word).value_or("0").c_str(), nullptr, 0);
    }
    long product() {
        long value = primary();
        for (;;) {
            blanks();
            if (at >= text.size() || std::strchr("*/%", text[at]) == nullptr) return value;
            if (at + 1 < text.size() && text[at + 1] == '=') return value;
            const char op = text[at++];
            const long right = primary();
            if (op != '*' && right == 0)
                bad = true;
            else
                value = wrapping(op, value, right);
        }
    }
    long sum() {
        long value = product();
        for (;;) {
            blanks();
            if (at >= text.size() || (text[at] != '+' && text[at] != '-')) return value;
            if (at + 1 < text.size() && text[at + 1] == '=') return value;
            const char op = text[at++];
            const long right = product();
            value = wrapping(op, value, right);
        }
    }
};

int set_arithmetic(CmdState& state, std::string_view text) {
    Arithmetic parse{state, text};
    parse.blanks();
    const size_t start = parse.at;
    while (parse.at < text.size() && std::strchr("+-*/%= \t\"", text[parse.at]) == nullptr)
        ++parse.at;
    const std::string name(text.substr(start, parse.at - start));
    parse.blanks();
    char op = 0;
    if (parse.at + 1 < text.size() && std::strchr("+-*/%", text[parse.at]) != nullptr &&
        text[parse.at + 1] == '=') {
        op = text[parse.at];
        parse.at += 2;
    } else if (parse.at < text.size() && text[parse.at] == '=') {
        ++parse.at;
    } else {
        parse.at = start; // an expression alone
    }
    long value = parse.sum();
    if (parse.too_deep) {
        std::fprintf(stderr, "The expression is nested too deeply.\n");
        return 1;
    }
    if (parse.bad || name.empty()) {
        std::fprintf(stderr, "Missing operand.\n");
        return 1;
    }
    if (op != 0) {
        const long old = std::strtol(cmd_lookup(state, name).value_or("0").c_str(), nullptr, 0);
        if ((op == '/' || op == '%') && value == 0) {
            std::fprintf(stderr, "Divide by zero error.\n");
            return 1;
        }
        value = wrapping(op, old, value);
    }
    if (parse.at != start || op != 0) assign(state, name, std::to_string(value));
    return 0;
}

} // namespace

std::optional<std::string> cmd_lookup(CmdState& state, const std::string& name) {
    const std::string key = cmd_upper(name);
    if (key == "RANDOM") {
        static std::minstd_rand generator{std::random_device{}()};
        return std::to_string(generator() % 32768);
    }
    if (key == "ERRORLEVEL") return std::to_string(state.errorlevel);
    if (key == "CD") {
        // The DOS form of the last folder asked for is kept: a FOR takes it for every value.
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer) == nullptr) return std::string();
        if (state.cd_host != buffer) {
            state.cd_host = buffer;
            state.cd_dos = cmd_host_to_dos(buffer);
        }
        return state.cd_dos;
    }
    read_environment(state);
    const auto found = state.variables.find(key);
    if (found != state.variables.end()) return found->second.value;
    return std::nullopt;
}

// ENDLOCAL, and the implicit one when a batch context ends: the saved variables come back, in
// the process's environment too.
void cmd_end_local(CmdState& state) {
    if (state.saved.empty()) return;
    std::map<std::string, CmdVariable> back = std::move(state.saved.back());
    state.saved.pop_back();
    for (const auto& [key, variable] : state.variables)
        if (back.find(key) == back.end()) unsetenv(variable.name.c_str());
    for (const auto& [key, variable] : back)
        setenv(variable.name.c_str(), variable.value.c_str(), 1);
    state.variables = std::move(back);
}

int cmd_set(CmdState& state, const std::string& rest) {
    std::string text = rest;
    if (text.size() >= 2 && (text[0] == '/') && (text[1] == 'a' || text[1] == 'A'))
        return set_arithmetic(state, std::string_view(text).substr(2));
    // SET "NAME=value" takes what lies between the first and the last quote.
    if (!text.empty() && text.front() == '"' && text.find('"', 1) != std::string::npos)
        text = text.substr(1, text.rfind('"') - 1);
    const size_t eq = text.find('=');
    if (text.empty() || eq == std::string::npos) {
        if (text.rfind("/", 0) == 0) {
            std::fprintf(stderr, "SET %s is not offered by unveilo-cmd.\n", text.c_str());
            return 1;
        }
        read_environment(state);
        bool any = false;
        for (const auto& [key, variable] : state.variables)
            if (text.empty() || key.rfind(cmd_upper(text), 0) == 0) {
                std::printf("%s=%s\n", variable.name.c_str(), variable.value.c_str());
                any = true;
            }
        if (!any) std::fprintf(stderr, "Environment variable %s not defined\n", text.c_str());
        return any ? 0 : 1;
    }
    const std::string name = text.substr(0, eq);
    if (name.empty()) {
        std::fprintf(stderr, "The syntax of the command is incorrect.\n");
        return 1;
    }
    assign(state, name, text.substr(eq + 1));
    return 0;
}

int cmd_setlocal(CmdState& state, const std::string& rest) {
    for (const std::string& word : cmd_unquoted_words(rest)) {
        if (cmd_iequals(word, "EnableDelayedExpansion")) {
            std::fprintf(stderr, "Delayed expansion is not offered by unveilo-cmd.\n");
            return 1;
        }
        if (!cmd_iequals(word, "EnableExtensions") && !cmd_iequals(word, "DisableExtensions") &&
            !cmd_iequals(word, "DisableDelayedExpansion")) {
            std::fprintf(stderr, "Invalid parameter to SETLOCAL command\n");
            return 1;
        }
    }
    read_environment(state);
    state.saved.push_back(state.variables);
    return 0;
}
