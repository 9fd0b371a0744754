#pragma once
// What the files of unveilo-cmd share among themselves: the line runner (cmd_run.cpp), batch
// files and their control (cmd_batch.cpp), the variables (cmd_env.cpp), paths (cmd_paths.cpp),
// the file commands (cmd_files.cpp) and started programs (cmd_program.cpp). Commands take the raw
// text after their name and return their exit code; messages go to standard output and standard
// error as the Windows command interpreter words them.
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "cmd/cmd_parse.h"
#include "cmd/cmd_run.h"
#include "cmd/cmd_tree.h"

// cmd keeps only the file's name and the place of the next line: every line is read afresh, so
// a batch file that is changed, moved or pulled out while it runs behaves here as it does there.
struct CmdBatch {
    std::string host;              // the file
    std::vector<std::string> args; // %0 (the batch's full DOS path) .. %9
    off_t offset = 0;              // where the next line starts
    bool done = false;             // GOTO :EOF, EXIT /B, or a batch started without CALL
    size_t locals = 0;             // SETLOCALs in force when it started
};

// --- The line runner (cmd_run.cpp) -------------------------------------------------------------

// Runs the commands of a tree in order, each after the join that links it to the one before.
void cmd_run_list(CmdState& state, const CmdList& list);
// An EXIT, a GOTO, a lost or finished batch file: the commands still to run are left alone.
bool cmd_stopping(const CmdState& state);

// --- Batch files and their control (cmd_batch.cpp) ---------------------------------------------

int cmd_goto(CmdState& state, const std::string& rest);
int cmd_call(CmdState& state, const std::string& rest);
bool cmd_if_holds(CmdState& state, const CmdCommand& test);
void cmd_run_for(CmdState& state, const CmdCommand& loop);

// --- Variables (cmd_env.cpp) -------------------------------------------------------------------

// A variable's value by name, ASCII case ignored; RANDOM, ERRORLEVEL and CD are computed. No value
// when it is not set.
std::optional<std::string> cmd_lookup(CmdState& state, const std::string& name);
// ENDLOCAL, explicit or when a batch context ends.
void cmd_end_local(CmdState& state);
int cmd_set(CmdState& state, const std::string& rest);
int cmd_setlocal(CmdState& state, const std::string& rest);

// --- Programs (cmd_program.cpp) ----------------------------------------------------------------

// A command that is no internal one: another batch file, which takes over from the one running,
// or a program on PATH; 9009 with cmd's message when there is neither.
int cmd_run_program(CmdState& state, const CmdName& command);

// --- Text, paths and the file commands ---------------------------------------------------------

std::string cmd_upper(std::string_view text);
bool cmd_ends_with_i(std::string_view text, std::string_view tail);
// The words of a command's arguments with their quotes removed.
std::vector<std::string> cmd_unquoted_words(std::string_view text);
// lstat succeeds: anything, a dangling link included, is there.
bool cmd_exists(const std::string& host);
// stat succeeds and names a folder (a link to one included).
bool cmd_is_directory(const std::string& host);

// A DOS path's host path under Windows' rules: at most 259 UTF-16 units (else ENAMETOOLONG), the
// dots and spaces that end its last part dropped. False when no drive holds it.
bool cmd_dos_to_host(const std::string& dos, std::string& host);
// The NUL device.
bool cmd_is_nul(const std::string& dos);

// Files (or, with `folders`, folders) matching a DOS path whose last part may hold wildcards, as
// pairs of (host path, DOS path) sorted by DOS name. A wildcard lists no hidden or system entry,
// as cmd's FOR, COPY, DEL and MOVE list none. A path without wildcards gives itself when it is
// of the kind asked for.
std::vector<std::pair<std::string, std::string>> cmd_match_entries(const std::string& dos,
                                                                   bool folders);
std::vector<std::pair<std::string, std::string>> cmd_match_files(const std::string& dos);
// IF EXIST with a wildcard: whether any file or folder matches ("folder\*" holds for any
// existing folder, since every folder lists ".").
bool cmd_any_entry_matches(const std::string& dos);

// The program's path when it is executable (a name with a slash) or found on PATH; "" if not.
std::string cmd_find_on_path(const std::string& name);
// Starts a program and waits for it: its exit status, or 1 when it could not start or died
// from a signal.
int cmd_spawn_and_wait(const std::string& program, const std::vector<std::string>& args);

int cmd_copy(const std::string& rest);
int cmd_del(const std::string& rest);
int cmd_move(const std::string& rest);
int cmd_ren(const std::string& rest);
int cmd_md(const std::string& rest);
int cmd_type(const std::string& rest);
int cmd_dir(const std::string& rest);
int cmd_findstr(const std::string& rest);
int cmd_explorer(const std::string& rest);
