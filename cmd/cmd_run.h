#pragma once
// unveilo-cmd's interpreter: runs command lines and batch files the way the Windows command
// interpreter runs the subset the tool and its datafile.dat need. One CmdState per interpreter.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct CmdBatch; // the batch file being run, if any (cmd_detail.h)

struct CmdVariable {
    std::string name; // as first set
    std::string value;
};

struct CmdState {
    int errorlevel = 0;
    bool echo_on = false;        // batch files start with it on, as they do under cmd
    bool exit_requested = false; // EXIT without /B: stop everything
    bool goto_taken = false;     // a GOTO left the block or loop it ran in
    bool batch_lost = false;     // the running batch file can no longer be read
    // The environment by upper-case name, read from the process's at first use. SET also writes
    // the process's own, so that started programs inherit what the batch set.
    bool environment_read = false;
    std::map<std::string, CmdVariable> variables;
    std::vector<std::map<std::string, CmdVariable>> saved; // SETLOCAL's stack
    std::vector<std::string> folders;                      // PUSHD's stack of host folders
    CmdBatch* batch = nullptr;
    int call_depth = 0;
    std::string cd_host, cd_dos; // the current folder, and %CD% for it
    // The last batch file read, kept while the file is unchanged: every line is looked up again
    // by path, but read again only when the file is another or has changed.
    struct {
        std::string host;
        unsigned long long device = 0, inode = 0, size = 0, changed_ns = 0;
        std::string bytes;
    } file_cache;
};

// Runs one command line (outside any batch file: no percent expansion of %0..%9). Returns the
// exit code of its last command, also left in state.errorlevel.
int cmd_run_line(CmdState& state, std::string_view line);

// Runs the lines of standard input as cmd runs typed lines, with a prompt when it is a terminal,
// until they end or EXIT; returns the last errorlevel.
int cmd_run_input(CmdState& state);

// Runs a batch file given by its DOS or host path, with %1.. from `args`.
int cmd_run_batch(CmdState& state, const std::string& path, const std::vector<std::string>& args);

// ATTRIB with its words as typed; output on standard output, errors on standard error.
int cmd_attrib(const std::vector<std::string>& words);

// A host path turned back into a DOS path on the letter whose directory holds it (the longest
// match); the host path unchanged when no letter holds it.
std::string cmd_host_to_dos(const std::string& host);

// The host path of a DOS path; false, with the interpreter's message on standard error, when
// it names a letter with no drive.
bool cmd_host_path(const std::string& dos, std::string& host);
