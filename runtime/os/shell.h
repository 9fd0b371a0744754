#pragma once
// Shell commands: hand a command line to the system as a program, a document or an internal
// command of the command interpreter, and (for the waiting forms) block the program thread until
// the started process has ended. The routing below is portable; starting and waiting are the
// launcher's, which is the platform back end unless a test sets its own.
#include <cstdint>

#include "runtime/platform/platform.h"
#include "runtime/strings/str.h"

// Words the command interpreter executes itself, so that they cannot be started as programs.
constexpr int32_t SHELL_INTERNAL_COUNT = 46;
extern const char* const SHELL_INTERNAL_COMMANDS[SHELL_INTERNAL_COUNT];

// Option bits of shell_run_hidden and shell_start_shown.
constexpr int32_t SHELL_OPTION_NO_WAIT = 1 << 0; // hand the call to shell_start
constexpr int32_t SHELL_OPTION_COMMAND = 1 << 1; // a command is given

// Runs the command shown and waits for it. has_command 0, or an empty command, opens an
// interactive command interpreter in a console of its own.
void shell_run(BasicString* command, int32_t has_command);
// As shell_run; the started process's exit code (or the interpreter's status on the system
// paths), 1 when nothing could be started, when an error was pending or in hosted mode, 0 for a
// form that does not wait.
int64_t shell_run_value(BasicString* command, int32_t has_command);
// Hidden window, waits, the exit code; error 5 without a command.
int64_t shell_run_hidden_value(BasicString* command, int32_t has_command);
void shell_run_hidden(BasicString* command, int32_t options);
// Shown window, no wait; without a command it starts an interactive interpreter.
void shell_start_shown(BasicString* command, int32_t options);
// Hidden window, no wait; error 5 without a command.
void shell_start(BasicString* command, int32_t has_command);

// -1 when the whole word, upper-cased (ASCII letters only), is one of SHELL_INTERNAL_COMMANDS.
int32_t shell_is_internal(BasicString* word);
// 1 when "cmd.exe" can be started, else 0; probed on the first call only.
int32_t shell_probe_cmd();

// What starts and waits for processes.
struct ShellLauncher {
    bool (*shell_execute)(const char* file, const char* parameters, int32_t show, bool keep_process,
                          PlatformProcess* process);
    bool (*create_process)(const char* command_line, uint32_t flags, PlatformProcess* process);
    int64_t (*wait)(PlatformProcess process);
    void (*release)(PlatformProcess process);
    int64_t (*system)(const char* command);
    void (*console_alloc)();
    void (*console_free)();
};
extern const ShellLauncher SHELL_PLATFORM_LAUNCHER;
// Replaces the launcher (tests); nullptr restores the platform's.
void shell_set_launcher(const ShellLauncher* launcher);
