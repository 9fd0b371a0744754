#pragma once
// The command-line grammar of unveilo-cmd, the stand-in for the Windows command interpreter on
// POSIX hosts. Pure text in, structures out: nothing here touches files or processes, so that the
// tests and the fuzz target can drive every rule directly.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Splits arguments the way the interpreter's commands do: spaces and tabs separate, a double
// quote toggles quoting, and the quotes stay in the word (cmd_unquote removes them).
std::vector<std::string> cmd_split_words(std::string_view text);
std::string cmd_unquote(std::string_view word);

// The first word of a command (quotes kept) and the raw text after it. The name ends at a space,
// a tab, or the first "." "/" "(" that follows a name of letters, as in "echo." or "cd/".
struct CmdName {
    std::string name;
    std::string rest; // without the one separator after the name
};
CmdName cmd_split_name(std::string_view text);

// The first parsing phase of a batch line: percent expansion, once, left to right; what a
// value brings is never scanned again. "%%" is "%"; %0 to %9 and %* are the arguments (missing
// ones are nothing) and "%~mods0" applies path modifiers; "%NAME%" is the variable (a name may
// hold spaces), nothing when unset; "%NAME:~s,n%" takes a part and "%NAME:old=new%" replaces
// (ASCII case ignored, "*old" up to the first match). A "%" that starts none of these is
// dropped and the scan goes on after it. `fatal` is set (and the line is not to be run) for a
// "%~" without an argument digit, which stops a batch file under cmd.
using CmdVariables = std::function<std::optional<std::string>(const std::string& name)>;
std::string cmd_expand(std::string_view line, const std::vector<std::string>& args,
                       const CmdVariables& variable, bool* fatal = nullptr);

// Applies path modifiers to a value: the letters between "~" and the variable, as in %~nx1.
// d drive ("E:"), p folder with its closing backslash, n name, x extension with its point, f the
// whole value; no letter at all means the value without surrounding quotes. The value is taken
// as it is: the caller makes it absolute first where d and p must see a drive.
std::string cmd_path_modifiers(std::string_view modifiers, std::string_view value);

// Replaces the FOR variable (%f, %~nf, %~nxf, ...) in a command by one value; `full` is the
// value as a full DOS path, which the d, p and f modifiers take (the value itself when empty).
std::string cmd_substitute_for(std::string_view text, char variable, std::string_view value,
                               std::string_view full = {});

// ATTRIB's arguments: +R -H ... (letters r h s a, any case), /S, /D, and path patterns.
struct CmdAttribArgs {
    uint32_t set = 0;   // DOS attribute bits to set
    uint32_t clear = 0; // bits to clear
    bool recurse = false;
    bool directories = false;
    std::vector<std::string> paths; // unquoted
    std::string error;              // non-empty when the arguments are refused
};
CmdAttribArgs cmd_parse_attrib(const std::vector<std::string>& words);

// DOS wildcard matching without regard to ASCII case: "*" any run, "?" one character, and a
// pattern ending in ".*" also matches a name without a dot ("*.*" matches everything).
bool cmd_wildcard_match(std::string_view pattern, std::string_view name);
bool cmd_has_wildcard(std::string_view text);

// A case-insensitive ASCII comparison, as the interpreter compares command names.
bool cmd_iequals(std::string_view a, std::string_view b);
