#pragma once
// Splits the command lines that shortcuts and autorun.inf hand to Windows, by the rules the
// programs themselves apply: the start of a process line as CreateProcess finds the program, the
// arguments as the C run-time and CommandLineToArgvW split them, and the text after cmd's /c,
// /k or /r as cmd reads it (commands joined by & && || |, quotes, the ^ escape, redirections).
// All texts are UTF-8; nothing here touches a file.
#include <string>
#include <string_view>
#include <vector>

// The program of a process command line: a quoted first word up to the next quote, else the
// text up to the first space or tab. `rest` receives what follows, leading blanks removed.
std::string command_program(std::string_view line, std::string* rest = nullptr);

// The arguments of a command line as CommandLineToArgvW splits them (backslashes before a quote,
// doubled quotes inside quotes), program excluded: pass the `rest` of command_program.
std::vector<std::string> command_arguments(std::string_view rest);

// cmd's switches and the command it runs, from cmd's argument text ("/c start x.vbs",
// "/RcMD<x.y", "/q /d /c ..."): the text after the first /c, /k or /r switch (any case, with or
// without a space after it), with cmd's own outer-quote rule applied. `found` is false when the
// text holds no such switch (an interactive cmd).
std::string cmd_command_text(std::string_view arguments, bool* found = nullptr);

// One simple command of a cmd line: its words as cmd reads them (carets outside quotes resolved,
// quotes kept, since "start" takes a quoted first word as a window title), and the files its
// redirections name (unquoted).
struct CmdCommand {
    std::vector<std::string> words;
    std::vector<std::string> inputs;  // <file, 0<file
    std::vector<std::string> outputs; // >file, >>file, 2>file (not 2>&1)
};

// A word without its quotes: every double quote removed, as cmd's built-ins and most programs
// read a quoted name.
std::string cmd_unquote(std::string_view word);

// The simple commands of a cmd line, in order, split at & && || | outside quotes (parentheses
// of a block are dropped; their commands are listed like the others). Environment variables
// are not expanded: %x% stays as written.
std::vector<CmdCommand> cmd_commands(std::string_view text);
