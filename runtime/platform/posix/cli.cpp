// POSIX back end of a console program's arguments and output: argv and the byte streams as they
// are, since names there are bytes already.
#include "runtime/platform/cli.h"

#include <cstdio>

std::vector<std::string> cli_arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return arguments;
}

void cli_write(std::string_view text, bool to_error) {
    FILE* stream = to_error ? stderr : stdout;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// A Linux clean-up runs without a console window of its own: its record is the quarantine's
// README, and a terminal it was started from stays open anyway.
void cli_hold(int, std::string_view, std::string_view) {}
