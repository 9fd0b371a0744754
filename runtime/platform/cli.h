#pragma once
// What a console program needs from the system, in UTF-8 on both: its arguments, its output and a
// pause that keeps a console window open long enough to be read.
#include <string>
#include <string_view>
#include <vector>

// The program's arguments, program name excluded. Windows takes them from the wide command line,
// so that a folder or drive named in any script arrives intact; POSIX takes argv as it is.
std::vector<std::string> cli_arguments(int argc, char** argv);

// Writes to standard output (or standard error). A Windows console gets the text through the wide
// console call, so names in any script show as they are; redirected output stays UTF-8.
void cli_write(std::string_view text, bool to_error = false);

// Where the program has a console window of its own (Windows), shows `message`, titles the
// window `title` and keeps it until a key is pressed or `seconds` have passed, so that a person
// can read the summary before it closes. Returns at once, showing nothing, without a console,
// with input from a file or pipe, and on POSIX.
void cli_hold(int seconds, std::string_view message, std::string_view title);
