// The interpreter proper: batch files read line by line as cmd reads them, the parsing phases
// (percent expansion, the command tree, FOR substitution, CALL's second expansion) and the
// internal commands that steer a batch. Messages follow the Windows command interpreter's
// wording where a user would recognise them. docs/linux-shell.md lists the rules followed.
#include "cmd/cmd_run.h"

#include "cmd/cmd_detail.h"
#include "cmd/cmd_parse.h"
#include "cmd/cmd_tree.h"
#include "runtime/platform/posix/drives.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

// cmd keeps only the file's name and the place of the next line: every line is read afresh, so
// a batch file that is changed, moved or pulled out while it runs behaves here as it does there.
struct CmdBatch {
    std::string host;              // the file
    std::vector<std::string> args; // %0 (the batch's full DOS path) .. %9
    off_t offset = 0;              // where the next line starts
    bool done = false;             // GOTO :EOF, EXIT /B, or a batch started without CALL
    size_t locals = 0;             // SETLOCALs in force when it started
};

namespace {

constexpr int NOT_RECOGNISED = 9009;
// Deep enough for any honest batch file; a CALL that recurses without end stops here.
constexpr int MAX_CALL_DEPTH = 64;
// Windows' MAX_PATH less the terminating zero, in UTF-16 units.
constexpr size_t MAX_DOS_PATH = 259;

// Batch files are read in the console's code page, 437 on an English Windows; the names the
// file system gives are UTF-8 here, so the bytes above 127 of a batch line become UTF-8 too.
constexpr char16_t CP437_HIGH[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

std::string from_cp437(const std::string& bytes) {
    std::string out;
    for (const char byte : bytes) {
        const unsigned char b = static_cast<unsigned char>(byte);
        if (b < 0x80) {
            out.push_back(byte);
            continue;
        }
        const char16_t u = CP437_HIGH[b - 0x80];
        if (u < 0x800) {
            out.push_back(char(0xC0 | (u >> 6)));
        } else {
            out.push_back(char(0xE0 | (u >> 12)));
            out.push_back(char(0x80 | ((u >> 6) & 0x3F)));
        }
        out.push_back(char(0x80 | (u & 0x3F)));
    }
    return out;
}

// UTF-16 units of a UTF-8 text, as Windows counts a path's length.
size_t utf16_length(std::string_view text) {
    size_t units = 0;
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
    }
    return units;
}

// Windows finds "E:\\MUSIC" when the folder is "Music": the parts of a host path that do not
// exist as written are looked up again without regard to ASCII case, folder by folder.
std::string case_resolved(const std::string& host) {
    struct stat info {};
    if (host.empty() || lstat(host.c_str(), &info) == 0) return host;
    std::string done = host.front() == '/' ? "/" : "";
    size_t at = host.front() == '/' ? 1 : 0;
    while (at <= host.size()) {
        size_t end = host.find('/', at);
        if (end == std::string::npos) end = host.size();
        std::string part = host.substr(at, end - at);
        const std::string here = done.empty() ? "." : done;
        std::string candidate = done + part;
        if (!part.empty() && lstat(candidate.c_str(), &info) != 0) {
            if (DIR* dir = opendir(here.c_str())) {
                while (const dirent* entry = readdir(dir))
                    if (cmd_iequals(entry->d_name, part)) {
                        part = entry->d_name;
                        break;
                    }
                closedir(dir);
            }
        }
        done += part;
        if (end == host.size()) break;
        done += '/';
        at = end + 1;
    }
    return done;
}

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

std::optional<std::string> lookup(CmdState& state, const std::string& name) {
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

// ENDLOCAL, and the implicit one when a batch context ends: the saved variables come back, in
// the process's environment too.
void end_local(CmdState& state) {
    if (state.saved.empty()) return;
    std::map<std::string, CmdVariable> back = std::move(state.saved.back());
    state.saved.pop_back();
    for (const auto& [key, variable] : state.variables)
        if (back.find(key) == back.end()) unsetenv(variable.name.c_str());
    for (const auto& [key, variable] : back)
        setenv(variable.name.c_str(), variable.value.c_str(), 1);
    state.variables = std::move(back);
}

// SET /A: integers with + - * / % and parentheses, names of variables, and = += -= *= /=.
struct Arithmetic {
    CmdState& state;
    std::string_view text;
    size_t at = 0;
    bool bad = false;

    void blanks() {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '"')) ++at;
    }
    long primary() {
        blanks();
        if (at < text.size() && text[at] == '(') {
            ++at;
            const long value = sum();
            blanks();
            if (at < text.size() && text[at] == ')') ++at;
            return value;
        }
        if (at < text.size() && text[at] == '-') {
            ++at;
            return -primary();
        }
        const size_t start = at;
        while (at < text.size() && std::strchr("+-*/%()= \t\"", text[at]) == nullptr) ++at;
        const std::string word(text.substr(start, at - start));
        if (word.empty()) {
            bad = true;
            return 0;
        }
        if (word[0] >= '0' && word[0] <= '9') return std::strtol(word.c_str(), nullptr, 0);
        return std::strtol(lookup(state, word).value_or("0").c_str(), nullptr, 0);
    }
    long product() {
        long value = primary();
        for (;;) {
            blanks();
            if (at >= text.size() || std::strchr("*/%", text[at]) == nullptr) return value;
            if (at + 1 < text.size() && text[at + 1] == '=') return value;
            const char op = text[at++];
            const long right = primary();
            if (op == '*')
                value *= right;
            else if (right == 0)
                bad = true;
            else
                value = op == '/' ? value / right : value % right;
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
            value = op == '+' ? value + right : value - right;
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
    if (parse.bad || name.empty()) {
        std::fprintf(stderr, "Missing operand.\n");
        return 1;
    }
    if (op != 0) {
        const long old = std::strtol(lookup(state, name).value_or("0").c_str(), nullptr, 0);
        if ((op == '/' || op == '%') && value == 0) {
            std::fprintf(stderr, "Divide by zero error.\n");
            return 1;
        }
        value = op == '+'   ? old + value
                : op == '-' ? old - value
                : op == '*' ? old * value
                : op == '/' ? old / value
                            : old % value;
    }
    if (parse.at != start || op != 0) assign(state, name, std::to_string(value));
    return 0;
}

int internal_set(CmdState& state, const std::string& rest) {
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

int internal_setlocal(CmdState& state, const std::string& rest) {
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

// Reads the next physical line of a batch file at its offset; false at its end. A file that
// cannot be found any more ends every batch file that runs, as under cmd.
bool read_physical(CmdState& state, CmdBatch& batch, std::string& line) {
    auto& cache = state.file_cache;
    struct stat info {};
    const bool found = stat(batch.host.c_str(), &info) == 0;
    const unsigned long long changed_ns =
        (unsigned long long)info.st_mtim.tv_sec * 1000000000ULL + info.st_mtim.tv_nsec;
    if (!found || cache.host != batch.host || cache.device != info.st_dev ||
        cache.inode != info.st_ino || cache.size != (unsigned long long)info.st_size ||
        cache.changed_ns != changed_ns) {
        cache.host.clear();
        const int fd = found ? open(batch.host.c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (fd < 0) {
            std::fprintf(stderr, "The batch file cannot be found.\n");
            state.batch_lost = true;
            return false;
        }
        cache.bytes.clear();
        char buffer[4096];
        for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            cache.bytes.append(buffer, size_t(got));
        }
        close(fd);
        cache = {batch.host,
                 (unsigned long long)info.st_dev,
                 (unsigned long long)info.st_ino,
                 (unsigned long long)info.st_size,
                 changed_ns,
                 std::move(cache.bytes)};
    }
    const std::string& bytes = cache.bytes;
    if (batch.offset < 0 || size_t(batch.offset) >= bytes.size()) return false;
    size_t end = bytes.find('\n', size_t(batch.offset));
    const size_t stop = end == std::string::npos ? bytes.size() : end;
    line.clear();
    for (size_t i = size_t(batch.offset); i < stop; ++i)
        if (bytes[i] != '\r') line.push_back(bytes[i]);
    batch.offset = off_t(end == std::string::npos ? bytes.size() : end + 1);
    line = from_cp437(line);
    return true;
}

// GOTO and CALL look for a label from the current line to the end, then from the start. Labels
// are ASCII, so the file's bytes are searched as they are.
bool find_label(CmdState& state, CmdBatch& batch, const std::string& label) {
    std::string first;
    CmdBatch probe = batch;
    probe.offset = 0;
    if (!read_physical(state, probe, first)) return false; // brings the file up to date
    const std::string& bytes = state.file_cache.bytes;
    const size_t from = std::min(size_t(batch.offset), bytes.size());
    for (int pass = 0; pass < 2; ++pass) {
        size_t at = pass == 0 ? from : 0;
        const size_t stop = pass == 0 ? bytes.size() : from;
        while (at < stop) {
            size_t end = bytes.find('\n', at);
            if (end == std::string::npos) end = bytes.size();
            size_t i = bytes.find_first_not_of(" \t,;=@", at);
            if (i < end && bytes[i] == ':') {
                ++i;
                size_t last = bytes.find_first_of(" \t,;=+:&<>|\r\n", i);
                if (last == std::string::npos || last > end) last = end;
                if (cmd_iequals(std::string_view(bytes).substr(i, last - i), label)) {
                    batch.offset = off_t(end == bytes.size() ? end : end + 1);
                    return true;
                }
            }
            at = end + 1;
        }
    }
    return false;
}

int internal_goto(CmdState& state, const std::string& rest) {
    std::string label = cmd_unquote(rest);
    const size_t start = label.find_first_not_of(" \t:");
    label = start == std::string::npos ? std::string() : label.substr(start);
    const size_t end = label.find_first_of(" \t,;=+&<>|");
    if (end != std::string::npos) label.resize(end);
    if (state.batch == nullptr) return 0;
    state.goto_taken = true;
    if (cmd_iequals(label, "eof")) {
        state.batch->done = true;
        return state.errorlevel;
    }
    if (find_label(state, *state.batch, label)) return state.errorlevel;
    if (!state.batch_lost)
        std::fprintf(stderr, "The system cannot find the batch label specified - %s\n",
                     label.c_str());
    state.batch->done = true;
    return 1;
}

void run_list(CmdState& state, const CmdList& list);
int run_batch(CmdState& state, CmdBatch& batch);

bool stopping(const CmdState& state) {
    return state.exit_requested || state.goto_taken || state.batch_lost ||
           (state.batch != nullptr && state.batch->done);
}

std::string expand(CmdState& state, std::string_view line, bool* fatal) {
    static const std::vector<std::string> no_args;
    return cmd_expand(
        line, state.batch != nullptr ? state.batch->args : no_args,
        [&state](const std::string& name) { return lookup(state, name); }, fatal);
}

// CALL: the text once more through carets doubled, percent expansion and the command tree,
// then a label of this batch file, another batch file that returns here, or a command.
int internal_call(CmdState& state, const std::string& rest) {
    if (state.call_depth >= MAX_CALL_DEPTH) {
        std::fprintf(stderr, "CALL: too many nested calls\n");
        return 1;
    }
    std::string doubled;
    for (const char c : rest) {
        if (c == '^') doubled.push_back('^');
        doubled.push_back(c);
    }
    bool fatal = false;
    const std::string text = expand(state, doubled, &fatal);
    if (fatal) {
        std::fprintf(stderr,
                     "The following usage of the path operator in batch-parameter "
                     "substitution is invalid: %s\n",
                     rest.c_str());
        return 1;
    }
    const size_t first = text.find_first_not_of(" \t,;=");
    ++state.call_depth;
    int result = 0;
    if (first != std::string::npos && text[first] == ':' && state.batch != nullptr) {
        // A label of this batch file, with its own arguments.
        // Its arguments pass the special-character phase again: carets outside quotes go, so
        // that the doubling above leaves them as they were, while quoted ones stay doubled.
        std::string args;
        bool quoted = false;
        for (size_t i = first; i < text.size(); ++i) {
            if (text[i] == '"') quoted = !quoted;
            if (!quoted && text[i] == '^' && ++i >= text.size()) break;
            args.push_back(text[i]);
        }
        const std::vector<std::string> words = cmd_split_words(args);
        CmdBatch sub;
        sub.host = state.batch->host;
        sub.offset = state.batch->offset;
        sub.args.push_back(state.batch->args.empty() ? std::string() : state.batch->args[0]);
        sub.args.insert(sub.args.end(), words.begin() + 1, words.end());
        const std::string label = words[0].substr(1);
        if (find_label(state, sub, label)) {
            result = run_batch(state, sub);
        } else {
            if (!state.batch_lost)
                std::fprintf(stderr, "The system cannot find the batch label specified - %s\n",
                             label.c_str());
            result = 1;
        }
        --state.call_depth;
        return result;
    }
    const CmdParse parsed = cmd_parse_line(text);
    const CmdName head =
        parsed.commands.empty() ? CmdName{} : cmd_split_name(parsed.commands.front().text);
    if (!parsed.error.empty() || parsed.incomplete) {
        std::fprintf(stderr, "%s\n",
                     parsed.error.empty() ? "The syntax of the command is incorrect."
                                          : parsed.error.c_str());
        result = 1;
    } else if (!parsed.commands.empty() && parsed.commands.front().kind == CmdCommand::simple &&
               (cmd_ends_with_i(cmd_unquote(head.name), ".bat") ||
                cmd_ends_with_i(cmd_unquote(head.name), ".cmd"))) {
        // Another batch file, which returns here when it ends.
        result = cmd_run_batch(state, cmd_unquote(head.name), cmd_split_words(head.rest));
    } else {
        run_list(state, parsed.commands);
        result = state.errorlevel;
    }
    --state.call_depth;
    return result;
}

int run_program(CmdState& state, const CmdName& command) {
    const std::string name = cmd_unquote(command.name);
    if (cmd_ends_with_i(name, ".bat") || cmd_ends_with_i(name, ".cmd")) {
        // Started without CALL, a batch file takes over: the one running now does not resume.
        const int result = cmd_run_batch(state, name, cmd_split_words(command.rest));
        if (state.batch != nullptr) state.batch->done = true;
        return result;
    }
    std::string program;
    if (name.find_first_of("\\/") != std::string::npos || (name.size() >= 2 && name[1] == ':')) {
        std::string host;
        if (dos_to_host_path(name.c_str(), host)) program = cmd_find_on_path(host);
    } else {
        program = cmd_find_on_path(name);
    }
    if (program.empty()) {
        std::fprintf(stderr,
                     "'%s' is not recognized as an internal or external command,\n"
                     "operable program or batch file.\n",
                     name.c_str());
        return NOT_RECOGNISED;
    }
    std::vector<std::string> args{name};
    for (std::string& word : cmd_unquoted_words(command.rest)) args.push_back(std::move(word));
    return cmd_spawn_and_wait(program, args);
}

int internal_echo(CmdState& state, const std::string& text, const CmdName& command) {
    const std::string& rest = command.rest;
    const bool bare = text.size() == command.name.size();
    const char separator = bare ? ' ' : text[command.name.size()];
    if (separator != ' ' && separator != '\t') {
        // "echo." and its kin print what follows the character, even nothing.
        std::printf("%s\n", rest.c_str() + 1);
        return 0;
    }
    const size_t first = rest.find_first_not_of(" \t");
    if (bare || first == std::string::npos) {
        std::printf("ECHO is %s.\n", state.echo_on ? "on" : "off");
        return 0;
    }
    const std::string word = rest.substr(first);
    if (cmd_iequals(word, "off") || cmd_iequals(word, "on")) {
        state.echo_on = cmd_iequals(word, "on");
        return 0;
    }
    std::printf("%s\n", rest.c_str());
    return 0;
}

int change_folder(CmdState& state, const std::string& rest, bool push) {
    const std::vector<std::string> words = cmd_unquoted_words(rest);
    char cwd[4096];
    if (words.empty()) {
        if (push) return 0;
        std::printf("%s\n", lookup(state, "CD").value_or("").c_str());
        return 0;
    }
    std::string host;
    if (getcwd(cwd, sizeof cwd) == nullptr || !cmd_host_path(push ? words[0] : words.back(), host))
        return 1;
    if (chdir(host.c_str()) != 0) {
        std::fprintf(stderr, "The system cannot find the path specified.\n");
        return 1;
    }
    if (push) state.folders.push_back(cwd);
    return 0;
}

int run_simple(CmdState& state, const std::string& whole) {
    // A redirection in front leaves blanks before the command's name.
    const size_t start = whole.find_first_not_of(" \t");
    const std::string text = start == std::string::npos ? std::string() : whole.substr(start);
    const CmdName command = cmd_split_name(text);
    const std::string& rest = command.rest;
    const std::string name = cmd_upper(command.name);
    if (name.empty()) return state.errorlevel;
    if (name == "ECHO") return internal_echo(state, text, command);
    if (name == "SET") return internal_set(state, rest);
    if (name == "SETLOCAL") return internal_setlocal(state, rest);
    if (name == "ENDLOCAL") {
        if (state.batch != nullptr && state.saved.size() > state.batch->locals) end_local(state);
        return 0;
    }
    if (name == "GOTO") return internal_goto(state, rest);
    if (name == "CALL") return internal_call(state, rest);
    if (name == "EXIT") {
        std::vector<std::string> words = cmd_unquoted_words(rest);
        const bool batch_only = !words.empty() && cmd_iequals(words[0], "/b");
        if (batch_only) words.erase(words.begin());
        const int code = words.empty() ? state.errorlevel : std::atoi(words[0].c_str());
        if (batch_only && state.batch != nullptr)
            state.batch->done = true;
        else
            state.exit_requested = true;
        return code;
    }
    if (name == "COPY") return cmd_copy(rest);
    if (name == "DEL" || name == "ERASE") return cmd_del(rest);
    if (name == "MOVE") return cmd_move(rest);
    if (name == "REN" || name == "RENAME") return cmd_ren(rest);
    if (name == "MD" || name == "MKDIR") return cmd_md(rest);
    if (name == "TYPE") return cmd_type(rest);
    if (name == "DIR") return cmd_dir(rest);
    if (name == "CLS") {
        if (isatty(STDOUT_FILENO)) std::printf("\033[H\033[2J");
        return 0;
    }
    if (name == "PUSHD") return change_folder(state, rest, true);
    if (name == "POPD") {
        if (state.folders.empty()) return 0;
        const std::string back = state.folders.back();
        state.folders.pop_back();
        return chdir(back.c_str()) == 0 ? 0 : 1;
    }
    if (name == "CD" || name == "CHDIR") return change_folder(state, rest, false);
    if (name == "ATTRIB" || name == "ATTRIB.EXE") return cmd_attrib(cmd_split_words(rest));
    if (name == "FINDSTR" || name == "FINDSTR.EXE") return cmd_findstr(rest);
    if (name == "EXPLORER" || name == "EXPLORER.EXE") return cmd_explorer(rest);
    return run_program(state, command);
}

// The redirections of one command, in order, undone afterwards. False (with cmd's message on
// the standard error in force) when a file cannot be opened: the command does not run.
struct Redirections {
    std::vector<std::pair<int, int>> saved; // (handle, its copy)
    ~Redirections() {
        std::fflush(nullptr);
        for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
            dup2(it->second, it->first);
            close(it->second);
        }
    }
    void keep(int fd) {
        for (const auto& entry : saved)
            if (entry.first == fd) return;
        saved.emplace_back(fd, fcntl(fd, F_DUPFD_CLOEXEC, 10));
    }
    bool apply(const std::vector<CmdRedirect>& list) {
        std::fflush(nullptr);
        for (const CmdRedirect& redirect : list) {
            if (redirect.fd > 2) continue; // handles 3 to 9 have no use here
            keep(redirect.fd);
            if (redirect.duplicate >= 0) {
                if (redirect.duplicate <= 2) dup2(redirect.duplicate, redirect.fd);
                continue;
            }
            const std::string target = cmd_unquote(redirect.target);
            std::string host = "/dev/null";
            if (!cmd_is_nul(target) && !cmd_host_path(target, host)) return false;
            const int flags = redirect.fd == 0
                                  ? O_RDONLY
                                  : O_WRONLY | O_CREAT | (redirect.append ? O_APPEND : O_TRUNC);
            const int file = open(host.c_str(), flags | O_CLOEXEC, 0666);
            if (file < 0) {
                std::fprintf(stderr, "%s\n",
                             errno == ENOENT   ? "The system cannot find the path specified."
                             : errno == EROFS  ? "The media is write protected."
                             : errno == ENOSPC ? "There is not enough space on the disk."
                                               : "Access is denied.");
                return false;
            }
            dup2(file, redirect.fd);
            close(file);
        }
        return true;
    }
};

bool compare(const CmdCommand& test) {
    const std::string& a = test.left;
    const std::string& b = test.right;
    if (test.op == "==") return test.ignore_case ? cmd_iequals(a, b) : a == b;
    char* end_a = nullptr;
    char* end_b = nullptr;
    const long na = std::strtol(a.c_str(), &end_a, 0);
    const long nb = std::strtol(b.c_str(), &end_b, 0);
    int order = 0;
    if (!a.empty() && !b.empty() && *end_a == '\0' && *end_b == '\0') {
        order = na < nb ? -1 : na > nb ? 1 : 0;
    } else {
        const std::string ua = test.ignore_case ? cmd_upper(a) : a;
        const std::string ub = test.ignore_case ? cmd_upper(b) : b;
        order = ua.compare(ub) < 0 ? -1 : ua.compare(ub) > 0 ? 1 : 0;
    }
    if (test.op == "EQU") return order == 0;
    if (test.op == "NEQ") return order != 0;
    if (test.op == "LSS") return order < 0;
    if (test.op == "LEQ") return order <= 0;
    if (test.op == "GTR") return order > 0;
    return order >= 0;
}

bool if_holds(CmdState& state, const CmdCommand& test) {
    switch (test.test) {
    case CmdCommand::exist: {
        const std::string path = cmd_unquote(test.left);
        std::string host;
        // A wildcard asks whether any entry matches ("folder\*" is how a batch file asks for a
        // folder).
        return cmd_has_wildcard(path) ? cmd_any_entry_matches(path)
                                      : cmd_dos_to_host(path, host) && cmd_exists(host);
    }
    case CmdCommand::defined: return lookup(state, test.left).has_value();
    case CmdCommand::errorlevel: return state.errorlevel >= std::atoi(test.left.c_str());
    case CmdCommand::compare: return compare(test);
    }
    return false;
}

// A FOR value as a full DOS path, for the d, p and f modifiers.
std::string full_dos_path(CmdState& state, const std::string& value) {
    const std::string plain = cmd_unquote(value);
    if (plain.size() >= 3 && plain[1] == ':' && (plain[2] == '\\' || plain[2] == '/')) return plain;
    std::string cd = lookup(state, "CD").value_or("");
    if (plain.size() >= 2 && plain[1] == ':') return plain; // drive-relative: left as it is
    if (!plain.empty() && (plain[0] == '\\' || plain[0] == '/')) return cd.substr(0, 2) + plain;
    if (!cd.empty() && cd.back() != '\\') cd.push_back('\\');
    return cd + plain;
}

void run_for(CmdState& state, const CmdCommand& loop) {
    // The set is listed in full before the first command runs: that is what cmd gives for a
    // set whose commands move the files it lists, and it keeps the order stable.
    std::vector<std::string> values;
    for (const std::string& item : cmd_split_words(loop.set)) {
        std::string word = item;
        while (!word.empty() && std::strchr(",;=", word.front()) != nullptr) word.erase(0, 1);
        while (!word.empty() && std::strchr(",;=", word.back()) != nullptr) word.pop_back();
        if (word.empty()) continue;
        if (!cmd_has_wildcard(word)) {
            values.push_back(word);
            continue;
        }
        const bool quoted = word.find('"') != std::string::npos;
        for (const auto& found : cmd_match_entries(cmd_unquote(word), loop.folders))
            values.push_back(quoted ? "\"" + found.second + "\"" : found.second);
    }
    for (const std::string& value : values) {
        CmdList body = loop.body;
        cmd_substitute_tree(body, loop.variable, value, full_dos_path(state, value));
        run_list(state, body);
        if (stopping(state)) return;
    }
}

void run_command(CmdState& state, const CmdCommand& command) {
    Redirections redirections;
    if (!redirections.apply(command.redirects)) {
        state.errorlevel = 1;
        return;
    }
    switch (command.kind) {
    case CmdCommand::simple: state.errorlevel = run_simple(state, command.text); break;
    case CmdCommand::block: run_list(state, command.body); break;
    case CmdCommand::if_test:
        if (if_holds(state, command) != command.negate)
            run_list(state, command.body);
        else
            run_list(state, command.otherwise);
        break;
    case CmdCommand::for_loop: run_for(state, command); break;
    }
}

void run_list(CmdState& state, const CmdList& list) {
    for (const CmdCommand& command : list) {
        if (command.join == CmdJoin::on_success && state.errorlevel != 0) continue;
        if (command.join == CmdJoin::on_failure && state.errorlevel == 0) continue;
        run_command(state, command);
        if (stopping(state)) return;
    }
}

// Reads one logical line (a block goes on over the next lines; a caret at the end joins the
// next line), each physical line percent-expanded as it is read.
bool read_logical(CmdState& state, CmdBatch& batch, CmdParse& parsed, std::string& shown) {
    std::string raw;
    if (!read_physical(state, batch, raw)) return false;
    bool fatal = false;
    std::string line = expand(state, raw, &fatal);
    for (;;) {
        if (fatal) {
            std::fprintf(stderr,
                         "The following usage of the path operator in batch-parameter "
                         "substitution is invalid: %s\n",
                         raw.c_str());
            batch.done = true;
            return false;
        }
        size_t carets = 0;
        while (carets < line.size() && line[line.size() - 1 - carets] == '^') ++carets;
        if (carets % 2 == 1) {
            line.pop_back();
            if (!read_physical(state, batch, raw)) break;
            line += expand(state, raw, &fatal);
            continue;
        }
        parsed = cmd_parse_line(line);
        if (!parsed.incomplete) break;
        // Only a ")" can close the block: lines without one are taken in without a new parse.
        do {
            if (!read_physical(state, batch, raw)) {
                parsed.commands.clear(); // an unclosed block at the end is dropped
                shown = line;
                return true;
            }
            line += "\n" + expand(state, raw, &fatal);
        } while (!fatal && raw.find(')') == std::string::npos);
    }
    shown = line;
    return true;
}

int run_batch(CmdState& state, CmdBatch& batch) {
    CmdBatch* outer = state.batch;
    state.batch = &batch;
    batch.locals = state.saved.size();
    CmdParse parsed;
    std::string line;
    while (!batch.done && !state.exit_requested && !state.batch_lost) {
        if (!read_logical(state, batch, parsed, line)) break;
        state.goto_taken = false;
        const size_t first = line.find_first_not_of(" \t");
        if (state.echo_on && first != std::string::npos && line[first] != '@' && line[first] != ':')
            std::printf("\n%s>%s\n", lookup(state, "CD").value_or("").c_str(),
                        line.c_str() + first);
        if (!parsed.error.empty()) {
            std::fprintf(stderr, "%s\n", parsed.error.c_str());
            state.errorlevel = 1;
            // A line cmd cannot parse ends the batch file.
            break;
        }
        run_list(state, parsed.commands);
    }
    state.goto_taken = false;
    while (state.saved.size() > batch.locals) end_local(state);
    state.batch = outer;
    return state.errorlevel;
}

} // namespace

bool cmd_is_nul(const std::string& dos) {
    return cmd_iequals(dos, "nul") || cmd_iequals(dos, "nul:");
}

bool cmd_dos_to_host(const std::string& dos, std::string& host) {
    if (utf16_length(dos) > MAX_DOS_PATH) {
        errno = ENAMETOOLONG;
        return false;
    }
    // Windows' path rules: "." goes, ".." goes up but never above the drive's root, a part that
    // ends in one point loses it, and the points and spaces that end the last part go.
    size_t start = dos.size() >= 2 && dos[1] == ':' ? 2 : 0;
    std::string trimmed = dos.substr(0, start);
    const bool absolute = start < dos.size() && (dos[start] == '\\' || dos[start] == '/');
    if (absolute) trimmed.push_back('\\');
    std::vector<std::string> parts;
    for (size_t at = start; at <= dos.size();) {
        size_t end = dos.find_first_of("\\/", at);
        if (end == std::string::npos) end = dos.size();
        std::string part = dos.substr(at, end - at);
        const bool last = end == dos.size();
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);
        } else if (part != "." && !part.empty()) {
            if (last) {
                while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
            } else if (part.size() >= 2 && part.back() == '.' && part[part.size() - 2] != '.') {
                part.pop_back();
            }
            if (!part.empty()) parts.push_back(part);
        }
        at = end + 1;
    }
    for (size_t i = 0; i < parts.size(); ++i) trimmed += (i ? "\\" : "") + parts[i];
    if (trimmed.empty() && !dos.empty()) trimmed = ".";
    errno = ENOENT;
    if (!dos_to_host_path(trimmed.c_str(), host)) return false;
    host = case_resolved(host);
    return true;
}

bool cmd_host_path(const std::string& dos, std::string& host) {
    if (cmd_dos_to_host(dos, host)) return true;
    std::fprintf(stderr, "%s\n",
                 errno == ENAMETOOLONG ? "The filename or extension is too long."
                                       : "The system cannot find the drive specified.");
    return false;
}

std::string cmd_host_to_dos(const std::string& host) {
    std::string dos;
    return host_to_dos_path(host, dos) ? dos : host;
}

int cmd_run_line(CmdState& state, std::string_view line) {
    // Outside a batch file, the percent signs were the caller's to expand; what remains is the
    // command tree.
    const CmdParse parsed = cmd_parse_line(line);
    if (!parsed.error.empty() || parsed.incomplete) {
        std::fprintf(stderr, "%s\n",
                     parsed.error.empty() ? "The syntax of the command is incorrect."
                                          : parsed.error.c_str());
        return state.errorlevel = 1;
    }
    run_list(state, parsed.commands);
    return state.errorlevel;
}

int cmd_run_batch(CmdState& state, const std::string& path, const std::vector<std::string>& args) {
    std::string host;
    if (!cmd_host_path(path, host)) return state.errorlevel = 1;
    if (access(host.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "The system cannot find the path specified.\n");
        return state.errorlevel = 1;
    }
    CmdBatch batch;
    // %0 is the full DOS path, so that %~d0 names the batch file's own drive.
    std::string full = host;
    if (!full.empty() && full.front() != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) full = std::string(cwd) + "/" + full;
    }
    batch.host = full;
    batch.args.push_back(path.size() >= 2 && path[1] == ':' ? path : cmd_host_to_dos(full));
    for (const std::string& arg : args) batch.args.push_back(arg);
    const bool echo_before = state.echo_on;
    state.echo_on = true;
    const int result = run_batch(state, batch);
    state.echo_on = echo_before;
    state.batch_lost = false;
    return result;
}
