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

// How one simple command is joined to the next on a line: "a & b", "a && b", "a || b".
enum class CmdJoin { always, on_success, on_failure };

struct CmdSegment {
    CmdJoin join = CmdJoin::always; // how this segment follows the previous one
    std::string text;               // the command, without its redirection
    std::string redirect;           // "" when standard output is not redirected
    bool append = false;            // ">>" rather than ">"
};

// Splits a line at "&", "&&" and "||" outside double quotes and takes each segment's ">" or ">>"
// redirection out of its text. A leading "@" is dropped. Empty segments are dropped.
std::vector<CmdSegment> cmd_split_segments(std::string_view line);

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

// Percent expansion of a batch line. `args` holds %0 to %9 (missing ones expand to nothing);
// `variable` answers %NAME% (nullopt when unset, which expands to nothing in a batch file).
// "%%" becomes "%", so that "%%f" reaches the FOR command as "%f".
using CmdVariables = std::function<std::optional<std::string>(const std::string& name)>;
std::string cmd_expand(std::string_view line, const std::vector<std::string>& args,
                       const CmdVariables& variable);

// Applies path modifiers to a value: the letters between "~" and the variable, as in %~nx1.
// d drive ("E:"), p folder with its closing backslash, n name, x extension with its point, f the
// whole value; no letter at all means the value without surrounding quotes. The value is taken
// as it is: the caller makes it absolute first where d and p must see a drive.
std::string cmd_path_modifiers(std::string_view modifiers, std::string_view value);

// Replaces the FOR variable (%f, %~nf, %~nxf, ...) in a command by one value.
std::string cmd_substitute_for(std::string_view text, char variable, std::string_view value);

// "if [/i] [not] exist X cmd", "if [not] errorlevel N cmd", "if [/i] [not] A==B cmd".
struct CmdIf {
    enum Kind { exist, errorlevel, compare } kind = exist;
    bool negate = false;
    bool ignore_case = false;
    std::string left;  // path, level or first string (quotes kept for compare, removed for exist)
    std::string right; // second string of a comparison
    std::string command;
};
std::optional<CmdIf> cmd_parse_if(std::string_view rest);

// "for %f in (set) do command": the set's words (quotes kept) and the command.
struct CmdFor {
    char variable = 0;
    std::vector<std::string> set;
    std::string command;
};
std::optional<CmdFor> cmd_parse_for(std::string_view rest);

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
