// unveilo-cmd: the command interpreter the tool starts on POSIX hosts where Windows would start
// cmd. "unveilo-cmd /c <line>" runs one line (its arguments joined with spaces); without
// arguments it runs the lines of standard input. The exit status is the last command's.
#include "cmd/cmd_run.h"

#include <cstdio>
#include <string>

namespace {

// A process status holds 8 bits; a code that does not fit (9009 for "not recognised") must not
// wrap round to a different small number, so it becomes 1.
int exit_status(int code) {
    return code >= 0 && code <= 255 ? code : 1;
}

} // namespace

int main(int argc, char** argv) {
    CmdState state;
    int first = 1;
    if (argc > 1 && (std::string(argv[1]) == "/c" || std::string(argv[1]) == "/C")) first = 2;
    if (argc > first) {
        std::string line;
        for (int i = first; i < argc; ++i) {
            if (i > first) line.push_back(' ');
            line += argv[i];
        }
        const int status = cmd_run_line(state, line);
        std::fflush(nullptr);
        return exit_status(status);
    }
    if (argc > 1) return 0; // "/c" with nothing to run
    return exit_status(cmd_run_input(state));
}
