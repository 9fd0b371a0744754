// The interpreter proper: a command tree run command by command with its joins and
// redirections, and the internal commands that need no file of their own (ECHO, CD, PUSHD, POPD,
// CLS, EXIT, ENDLOCAL); the others are dispatched to the files of their jobs. Messages follow the
// Windows command interpreter's wording where a user would recognise them.
#include "cmd/cmd_run.h"

#include "cmd/cmd_detail.h"
#include "cmd/cmd_parse.h"
#include "cmd/cmd_tree.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

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
        std::printf("%s\n", cmd_lookup(state, "CD").value_or("").c_str());
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
    if (name == "SET") return cmd_set(state, rest);
    if (name == "SETLOCAL") return cmd_setlocal(state, rest);
    if (name == "ENDLOCAL") {
        if (state.batch != nullptr && state.saved.size() > state.batch->locals)
            cmd_end_local(state);
        return 0;
    }
    if (name == "GOTO") return cmd_goto(state, rest);
    if (name == "CALL") return cmd_call(state, rest);
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
    return cmd_run_program(state, command);
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

void run_command(CmdState& state, const CmdCommand& command) {
    Redirections redirections;
    if (!redirections.apply(command.redirects)) {
        state.errorlevel = 1;
        return;
    }
    switch (command.kind) {
    case CmdCommand::simple: state.errorlevel = run_simple(state, command.text); break;
    case CmdCommand::block: cmd_run_list(state, command.body); break;
    case CmdCommand::if_test:
        if (cmd_if_holds(state, command) != command.negate)
            cmd_run_list(state, command.body);
        else
            cmd_run_list(state, command.otherwise);
        break;
    case CmdCommand::for_loop: cmd_run_for(state, command); break;
    }
}

} // namespace

bool cmd_stopping(const CmdState& state) {
    return state.exit_requested || state.goto_taken || state.batch_lost ||
           (state.batch != nullptr && state.batch->done);
}

void cmd_run_list(CmdState& state, const CmdList& list) {
    for (const CmdCommand& command : list) {
        if (command.join == CmdJoin::on_success && state.errorlevel != 0) continue;
        if (command.join == CmdJoin::on_failure && state.errorlevel == 0) continue;
        run_command(state, command);
        if (cmd_stopping(state)) return;
    }
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
    cmd_run_list(state, parsed.commands);
    return state.errorlevel;
}

int cmd_run_input(CmdState& state) {
    const bool interactive = isatty(STDIN_FILENO) != 0;
    std::string line;
    while (!state.exit_requested) {
        if (interactive) {
            std::printf("unveilo-cmd> ");
            std::fflush(stdout);
        }
        if (!std::getline(std::cin, line)) break;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        cmd_run_line(state, line);
        std::fflush(stdout);
    }
    return state.errorlevel;
}
