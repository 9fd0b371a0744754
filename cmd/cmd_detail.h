#pragma once
// What the interpreter (cmd_run.cpp) and its file commands (cmd_files.cpp) share inside
// unveilo-cmd. Commands take the raw text after their name and return their exit code; messages
// go to standard output and standard error as the Windows command interpreter words them.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

std::string cmd_upper(std::string_view text);
bool cmd_ends_with_i(std::string_view text, std::string_view tail);
// The words of a command's arguments with their quotes removed.
std::vector<std::string> cmd_unquoted_words(std::string_view text);
// lstat succeeds: anything, a dangling link included, is there.
bool cmd_exists(const std::string& host);

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
