#pragma once
// The clean-up's rules over command lines read from a stick: which programs run code that is
// handed to them, and which files a command line makes Windows run or load. Pure functions over
// texts, so that the tests' tables read like the rules in docs/cleanup-rules.md.
#include <string>
#include <string_view>
#include <vector>

// The program as a known runner of handed code, lower case with its extension ("cmd.exe",
// "rundll32.exe"); empty when it is none. `program` is written as a shortcut or a command line
// names it: a bare name or a path (any folder, environment variables left in), quoted or not,
// with or without ".exe", in any letter case.
std::string rules_interpreter(std::string_view program);

// A file that a command line runs or loads, as the line writes it (quotes removed).
struct FileRef {
    std::string text;
    bool any_extension = false; // run or loaded whatever its extension (rundll32's library,
                                // cmd's < input, the script a host is told to run)
    bool pattern = false;       // may hold * and ?: every file it matches (ren's source)
    bool operator==(const FileRef&) const = default;
};

// The files that running `program` with `arguments` would run or load, in order: the program
// itself, what an interpreter is handed (cmd's start, call, < input, ren to a script name and the
// programs of its commands; the script of wscript and cscript; rundll32's and regsvr32's library;
// mshta's application; PowerShell's -File; msiexec's package), and any other word naming a file
// of a runnable kind. A document or folder opened for the user ("start explorer Photos",
// start "" "CV.docx") is not among them. `program_any_extension`: the program is started as a
// program whatever its name (autorun.inf's open=), not opened by its extension.
std::vector<FileRef> rules_command_files(std::string_view program, std::string_view arguments,
                                         bool program_any_extension = false);
