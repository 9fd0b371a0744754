// The interpreter proper: lines, batch files and the internal commands. Messages follow the
// Windows command interpreter's wording where a user would recognise them.
#include "runtime/platform/posix/cmd/cmd_run.h"

#include "runtime/platform/posix/cmd/cmd_detail.h"

#include "runtime/platform/posix/cmd/cmd_parse.h"
#include "runtime/platform/posix/drives.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct CmdBatch {
    std::vector<std::string> lines;
    std::vector<std::string> args; // %0 (the batch's full path) .. %9
    size_t next = 0;               // index of the next line to run
    bool done = false;             // GOTO :EOF, EXIT /B, or a batch started without CALL
};

namespace {

constexpr int NOT_RECOGNISED = 9009;
// Deep enough for any honest batch file; a CALL that recurses without end stops here.
constexpr int MAX_CALL_DEPTH = 64;

std::optional<std::string> lookup(CmdState& state, const std::string& name) {
    const std::string key = cmd_upper(name);
    if (key == "RANDOM") {
        static std::minstd_rand generator{std::random_device{}()};
        return std::to_string(generator() % 32768);
    }
    if (key == "ERRORLEVEL") return std::to_string(state.errorlevel);
    if (key == "CD") {
        char buffer[4096];
        return getcwd(buffer, sizeof buffer) != nullptr ? cmd_host_to_dos(buffer) : std::string();
    }
    const auto found = state.variables.find(key);
    if (found != state.variables.end()) return found->second;
    if (const char* value = std::getenv(name.c_str())) return std::string(value);
    if (const char* value = std::getenv(key.c_str())) return std::string(value);
    return std::nullopt;
}

int internal_set(CmdState& state, const std::string& rest) {
    std::string text = rest;
    if (text.size() >= 2 && text.front() == '"' && text.find('"', 1) != std::string::npos)
        text = text.substr(1, text.rfind('"') - 1);
    const size_t eq = text.find('=');
    if (text.empty() || eq == std::string::npos) {
        if (text.rfind("/", 0) == 0) {
            std::fprintf(stderr, "SET %s is not supported here.\n", text.c_str());
            return 1;
        }
        for (const auto& [name, value] : state.variables)
            if (text.empty() || cmd_upper(name).rfind(cmd_upper(text), 0) == 0)
                std::printf("%s=%s\n", name.c_str(), value.c_str());
        return 0;
    }
    const std::string name = text.substr(0, eq);
    const std::string value = text.substr(eq + 1);
    if (name.empty()) {
        std::fprintf(stderr, "The syntax of the command is incorrect.\n");
        return 1;
    }
    if (value.empty()) {
        state.variables.erase(cmd_upper(name));
        unsetenv(name.c_str());
    } else {
        state.variables[cmd_upper(name)] = value;
        setenv(name.c_str(), value.c_str(), 1);
    }
    return 0;
}

void run_expanded(CmdState& state, std::string_view line);

// GOTO: the next line to run is the one after the label.
int internal_goto(CmdState& state, const std::string& rest) {
    const std::vector<std::string> words = cmd_split_words(rest);
    std::string label = words.empty() ? std::string() : cmd_unquote(words[0]);
    if (!label.empty() && label.front() == ':') label.erase(0, 1);
    if (state.batch == nullptr) return 0;
    if (cmd_iequals(label, "eof")) {
        state.batch->done = true;
        return state.errorlevel;
    }
    for (size_t i = 0; i < state.batch->lines.size(); ++i) {
        std::string_view line = state.batch->lines[i];
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.empty() || line.front() != ':') continue;
        const std::vector<std::string> found = cmd_split_words(line.substr(1));
        if (!found.empty() && cmd_iequals(found[0], label)) {
            state.batch->next = i + 1;
            return state.errorlevel;
        }
    }
    std::fprintf(stderr, "The system cannot find the batch label specified - %s\n", label.c_str());
    state.batch->done = true;
    return 1;
}

int run_batch_lines(CmdState& state, CmdBatch& batch);

int internal_call(CmdState& state, const std::string& rest) {
    const std::vector<std::string> words = cmd_split_words(rest);
    if (words.empty()) return 0;
    if (state.call_depth >= MAX_CALL_DEPTH) {
        std::fprintf(stderr, "CALL: too many nested calls\n");
        return 1;
    }
    if (words[0].front() == ':' && state.batch != nullptr) {
        CmdBatch sub;
        sub.lines = state.batch->lines;
        sub.args.push_back(state.batch->args.empty() ? std::string() : state.batch->args[0]);
        for (size_t i = 1; i < words.size(); ++i) sub.args.push_back(words[i]);
        CmdBatch* outer = state.batch;
        state.batch = &sub;
        const int status = internal_goto(state, words[0]);
        if (status != 0 && sub.done) {
            state.batch = outer;
            return status;
        }
        ++state.call_depth;
        const int result = run_batch_lines(state, sub);
        --state.call_depth;
        state.batch = outer;
        return result;
    }
    ++state.call_depth;
    const std::vector<std::string> args(words.begin() + 1, words.end());
    const int result = cmd_run_batch(state, cmd_unquote(words[0]), args);
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

int run_simple(CmdState& state, const std::string& text) {
    const CmdName command = cmd_split_name(text);
    const std::string& rest = command.rest;
    const std::string name = cmd_upper(command.name);
    if (name.empty()) return state.errorlevel;
    if (name.front() == ':') return state.errorlevel; // a label
    if (name == "REM") return state.errorlevel;
    if (name == "ECHO") {
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
    if (name == "SET") return internal_set(state, rest);
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
    if (name == "CLS") {
        if (isatty(STDOUT_FILENO)) std::printf("\033[H\033[2J");
        return 0;
    }
    if (name == "PUSHD") {
        const std::vector<std::string> words = cmd_unquoted_words(rest);
        char cwd[4096];
        std::string host;
        if (words.empty() || getcwd(cwd, sizeof cwd) == nullptr) return 1;
        if (!cmd_host_path(words[0], host)) return 1;
        if (chdir(host.c_str()) != 0) {
            std::fprintf(stderr, "The system cannot find the path specified.\n");
            return 1;
        }
        state.folders.push_back(cwd);
        return 0;
    }
    if (name == "POPD") {
        if (state.folders.empty()) return 0;
        const std::string back = state.folders.back();
        state.folders.pop_back();
        return chdir(back.c_str()) == 0 ? 0 : 1;
    }
    if (name == "CD" || name == "CHDIR") {
        const std::vector<std::string> words = cmd_unquoted_words(rest);
        if (words.empty()) {
            std::printf("%s\n", lookup(state, "CD").value_or("").c_str());
            return 0;
        }
        std::string host;
        if (!cmd_host_path(words.back(), host)) return 1;
        if (chdir(host.c_str()) != 0) {
            std::fprintf(stderr, "The system cannot find the path specified.\n");
            return 1;
        }
        return 0;
    }
    if (name == "ATTRIB" || name == "ATTRIB.EXE") return cmd_attrib(cmd_split_words(rest));
    if (name == "FINDSTR" || name == "FINDSTR.EXE") return cmd_findstr(rest);
    if (name == "EXPLORER" || name == "EXPLORER.EXE") return cmd_explorer(rest);
    return run_program(state, command);
}

// Runs one segment with its redirection in place around it.
int run_segment(CmdState& state, const CmdSegment& segment) {
    if (segment.redirect.empty()) return run_simple(state, segment.text);
    std::string target = "/dev/null";
    if (!cmd_iequals(segment.redirect, "nul") && !cmd_iequals(segment.redirect, "nul:") &&
        !cmd_host_path(segment.redirect, target))
        return 1;
    const int file =
        open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (segment.append ? O_APPEND : O_TRUNC),
             0666);
    if (file < 0) {
        std::fprintf(stderr, "%s: %s\n", segment.redirect.c_str(), std::strerror(errno));
        return 1;
    }
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file, STDOUT_FILENO);
    close(file);
    const int result = run_simple(state, segment.text);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return result;
}

// A line after percent expansion: IF and FOR take the rest of the line as their command, the
// rest is split at "&", "&&" and "||".
void run_expanded(CmdState& state, std::string_view line) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t' || line.front() == '@'))
        line.remove_prefix(1);
    if (line.empty() || line.front() == ':') return;
    const CmdName head = cmd_split_name(line);
    if (cmd_iequals(head.name, "rem")) return;
    if (cmd_iequals(head.name, "if")) {
        const std::optional<CmdIf> test = cmd_parse_if(head.rest);
        if (!test) {
            std::fprintf(stderr, "The syntax of the command is incorrect.\n");
            state.errorlevel = 1;
            return;
        }
        bool truth = false;
        switch (test->kind) {
        case CmdIf::exist: {
            std::string host;
            // A wildcard asks whether any entry matches, as under cmd ("folder\\*" is how a
            // batch file asks for a folder).
            truth = cmd_has_wildcard(test->left)
                        ? cmd_any_entry_matches(test->left)
                        : dos_to_host_path(test->left.c_str(), host) && cmd_exists(host);
            break;
        }
        case CmdIf::errorlevel: truth = state.errorlevel >= std::atoi(test->left.c_str()); break;
        case CmdIf::compare:
            truth = test->ignore_case ? cmd_iequals(test->left, test->right)
                                      : test->left == test->right;
            break;
        }
        if (truth != test->negate) run_expanded(state, test->command);
        return;
    }
    if (cmd_iequals(head.name, "for")) {
        const std::optional<CmdFor> loop = cmd_parse_for(head.rest);
        if (!loop) {
            std::fprintf(stderr, "The syntax of the command is incorrect.\n");
            state.errorlevel = 1;
            return;
        }
        // The set is listed in full before the first command runs, so that commands that move
        // files cannot make the loop see a file twice or skip one.
        std::vector<std::string> values;
        for (const std::string& item : loop->set) {
            if (!cmd_has_wildcard(item)) {
                values.push_back(item);
                continue;
            }
            const bool quoted = item.find('"') != std::string::npos;
            for (const auto& found : cmd_match_files(cmd_unquote(item)))
                values.push_back(quoted ? "\"" + found.second + "\"" : found.second);
        }
        for (const std::string& value : values) {
            run_expanded(state, cmd_substitute_for(loop->command, loop->variable, value));
            if (state.exit_requested || (state.batch != nullptr && state.batch->done)) return;
        }
        return;
    }
    for (const CmdSegment& segment : cmd_split_segments(line)) {
        if (segment.join == CmdJoin::on_success && state.errorlevel != 0) continue;
        if (segment.join == CmdJoin::on_failure && state.errorlevel == 0) continue;
        state.errorlevel = run_segment(state, segment);
        if (state.exit_requested || (state.batch != nullptr && state.batch->done)) return;
    }
}

int run_batch_lines(CmdState& state, CmdBatch& batch) {
    CmdBatch* outer = state.batch;
    state.batch = &batch;
    while (!batch.done && !state.exit_requested && batch.next < batch.lines.size()) {
        const std::string& raw = batch.lines[batch.next++];
        const std::string line = cmd_expand(
            raw, batch.args, [&state](const std::string& name) { return lookup(state, name); });
        std::string_view shown = line;
        while (!shown.empty() && (shown.front() == ' ' || shown.front() == '\t'))
            shown.remove_prefix(1);
        if (state.echo_on && !shown.empty() && shown.front() != '@' && shown.front() != ':')
            std::printf("\n%s>%s\n", lookup(state, "CD").value_or("").c_str(), line.c_str());
        run_expanded(state, line);
    }
    state.batch = outer;
    return state.errorlevel;
}

} // namespace

bool cmd_host_path(const std::string& dos, std::string& host) {
    if (dos_to_host_path(dos.c_str(), host)) return true;
    std::fprintf(stderr, "The system cannot find the drive specified.\n");
    return false;
}

std::string cmd_host_to_dos(const std::string& host) {
    std::string dos;
    return host_to_dos_path(host, dos) ? dos : host;
}

int cmd_run_line(CmdState& state, std::string_view line) {
    run_expanded(state, line);
    return state.errorlevel;
}

int cmd_run_batch(CmdState& state, const std::string& path, const std::vector<std::string>& args) {
    std::string host;
    if (!cmd_host_path(path, host)) return state.errorlevel = 1;
    std::ifstream in(host, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "The system cannot find the path specified.\n");
        return state.errorlevel = 1;
    }
    CmdBatch batch;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        batch.lines.push_back(std::move(line));
    }
    // %0 is the full DOS path, so that %~d0 names the batch file's own drive.
    std::string full = host;
    if (!full.empty() && full.front() != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) full = std::string(cwd) + "/" + full;
    }
    batch.args.push_back(path.size() >= 2 && path[1] == ':' ? path : cmd_host_to_dos(full));
    for (const std::string& arg : args) batch.args.push_back(arg);
    const bool echo_before = state.echo_on;
    state.echo_on = true;
    const int result = run_batch_lines(state, batch);
    state.echo_on = echo_before;
    return result;
}
