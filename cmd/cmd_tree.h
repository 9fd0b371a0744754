#pragma once
// The second phase of the Windows command interpreter's line parser, as unveilo-cmd follows it:
// a line whose percent signs are already expanded becomes a tree of commands. Carets escape
// outside quotes, quotes toggle, "&", "&&", "||" join commands, "(" at a command's start opens a
// block that may span lines, IF and FOR take the rest of the line (or a block) as their body,
// and redirections leave the command's text. The FOR variables are not substituted here: that
// happens on the finished tree, so a value can never become syntax (docs/linux-shell.md).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How one command follows the previous one: "a & b", "a && b", "a || b", or a new line in a
// block (which joins as "&").
enum class CmdJoin { always, on_success, on_failure };

struct CmdRedirect {
    int fd = 1;          // the handle redirected: 0 input, 1 output, 2 errors
    bool append = false; // ">>"
    int duplicate = -1;  // ">&N": the handle N instead of a file
    std::string target;  // the file, quotes kept, carets taken
};

struct CmdCommand;
using CmdList = std::vector<CmdCommand>;

struct CmdCommand {
    enum Kind { simple, block, if_test, for_loop } kind = simple;
    CmdJoin join = CmdJoin::always;
    std::vector<CmdRedirect> redirects;
    // simple: the command and its arguments as the command sees them (quotes kept, carets
    // taken). block: the commands inside. for_loop: the body.
    std::string text;
    CmdList body;
    // if_test: "if [/i] [not] exist X", "defined X", "errorlevel N", or "A op B"; the then-part
    // is `body`, an ELSE part `otherwise`.
    enum Test { exist, defined, errorlevel, compare } test = compare;
    bool negate = false;
    bool ignore_case = false;
    std::string left, op, right; // op "==", "EQU", "NEQ", "LSS", "LEQ", "GTR", "GEQ"
    CmdList otherwise;
    // for_loop: "for [/d] %v in (set) do ...".
    bool folders = false;
    char variable = 0;
    std::string set;
};

// The most blocks and IF or FOR bodies a line may hold inside one another; one more is refused
// with an error, which ends a batch file. Honest batch files stay far below it; the bound keeps
// the recursion of parsing and running a tree within the stack whatever a line holds.
constexpr int CMD_MAX_NESTING = 64;

struct CmdParse {
    CmdList commands;
    bool incomplete = false; // a block is still open: the next line belongs to it
    std::string error;       // the interpreter's message for a line it refuses
};

// Parses one logical line (several physical lines joined by "\n" when a block spans them).
CmdParse cmd_parse_line(std::string_view line);

// Replaces the FOR variable throughout a tree: in commands, redirection targets, IF operands and
// the sets of inner loops. `full` turns a value into its full DOS path for the d, p, f modifiers.
void cmd_substitute_tree(CmdList& list, char variable, const std::string& value,
                         const std::string& full);
