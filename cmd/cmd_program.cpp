// Starting processes: a name that is no internal command is another batch file or a program
// found on PATH, started with its arguments and waited for; EXPLORER starts the desktop's opener.
#include "cmd/cmd_detail.h"

#include "cmd/cmd_parse.h"
#include "runtime/platform/posix/drives.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int NOT_RECOGNISED = 9009;

} // namespace

int cmd_run_program(CmdState& state, const CmdName& command) {
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

std::string cmd_find_on_path(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 && !cmd_is_directory(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const size_t colon = dirs.find(':');
        // An empty entry is the current folder. (Built from a view: once this is inlined, GCC 12
        // warns wrongly, -Wrestrict, about assigning a one-character literal to a std::string.)
        const std::string_view folder = dirs.substr(0, colon);
        std::string candidate(folder.empty() ? std::string_view(".") : folder);
        candidate += '/';
        candidate += name;
        if (access(candidate.c_str(), X_OK) == 0 && !cmd_is_directory(candidate)) return candidate;
        if (colon == std::string_view::npos) return {};
        dirs.remove_prefix(colon + 1);
    }
}

// Starts a program with its arguments and waits for it; its exit status, or 1 when it could not
// start or died from a signal.
int cmd_spawn_and_wait(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return 1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int cmd_explorer(const std::string& rest) {
    const std::vector<std::string> words = cmd_unquoted_words(rest);
    std::string host = ".";
    if (!words.empty() && !cmd_host_path(words[0], host)) return 1;
    const std::string opener = cmd_find_on_path("xdg-open");
    if (opener.empty()) {
        std::fprintf(stderr,
                     "explorer: xdg-open was not found on PATH, so no file manager can be "
                     "opened; open %s yourself.\n",
                     host.c_str());
        return 1;
    }
    return cmd_spawn_and_wait(opener, {"xdg-open", host});
}
