#include "runtime/os/shell.h"

#include <cstring>

#include "runtime/base/error.h"
#include "runtime/base/event.h"
#include "runtime/base/run_state.h"
#include "runtime/os/control.h"
#include "runtime/os/detail.h"
#include "runtime/os/fs.h"

const char* const SHELL_INTERNAL_COMMANDS[SHELL_INTERNAL_COUNT] = {
    "ASSOC",  "BREAK", "BCDBOOT", "BCDEDIT", "CALL",     "CD",       "CHDIR", "CLS",
    "COLOR",  "COPY",  "DATE",    "DEFRAG",  "DEL",      "DIR",      "ECHO",  "ENDLOCAL",
    "ERASE",  "FOR",   "FTYPE",   "GOTO",    "GRAFTABL", "IF",       "MD",    "MKDIR",
    "MKLINK", "MOVE",  "PATH",    "PAUSE",   "POPD",     "PROMPT",   "PUSHD", "RD",
    "REM",    "REN",   "RENAME",  "RMDIR",   "SET",      "SETLOCAL", "SHIFT", "START",
    "TIME",   "TITLE", "TYPE",    "VER",     "VERIFY",   "VOL",
};

const ShellLauncher SHELL_PLATFORM_LAUNCHER = {
    platform_shell_execute,   platform_create_process, platform_process_wait,
    platform_process_release, platform_system,         platform_console_alloc,
    platform_console_free,
};

ShellState shell_state;

bool (*os_console_path_hook)() = nullptr;

namespace {

const ShellLauncher* launcher = &SHELL_PLATFORM_LAUNCHER;

// The forms of the family differ only in these.
enum class NoCommand {
    interactive, // an interpreter in a console of its own, waited for
    refused,     // error 5
    start_cmd,   // "cmd" started shown, not waited for
};
struct ShellForm {
    int32_t show;
    bool waits;
    bool leaves_fullscreen;
    NoCommand no_command;
};
constexpr ShellForm FORM_RUN{SHOW_SHOWN, true, true, NoCommand::interactive};
constexpr ShellForm FORM_HIDDEN{SHOW_HIDDEN, true, false, NoCommand::refused};
constexpr ShellForm FORM_START_SHOWN{SHOW_SHOWN, false, false, NoCommand::start_cmd};
constexpr ShellForm FORM_START{SHOW_HIDDEN, false, false, NoCommand::refused};

// The result of a waiting form: the exit code of what was waited for; 1 when the last launch
// failed (also for an error pending or hosted mode); 0 when nothing was to be started.
constexpr int64_t RESULT_NOT_STARTED = 1;

// The equality is over the whole counted string: a zero byte inside it is no end.
bool internal_word(const uint8_t* chars, int32_t length) {
    if (length <= 0) return false;
    for (const char* known : SHELL_INTERNAL_COMMANDS) {
        if (int32_t(std::strlen(known)) != length) continue;
        int32_t i = 0;
        while (i < length) {
            uint8_t c = chars[i];
            if (c >= 'a' && c <= 'z') c = uint8_t(c - 'a' + 'A');
            if (c != uint8_t(known[i])) break;
            ++i;
        }
        if (i == length) return true;
    }
    return false;
}

// The waiting forms keep the display thread out of the way while the process runs: it composes
// one last frame when it sees the 1 and then idles until the 0.
int64_t wait_for(PlatformProcess process) {
    os_shell_running().store(1, std::memory_order_release);
    int64_t code = launcher->wait(process);
    os_shell_running().store(0, std::memory_order_release);
    return code;
}

int64_t system_waited(const char* command) {
    os_shell_running().store(1, std::memory_order_release);
    int64_t code = launcher->system(command);
    os_shell_running().store(0, std::memory_order_release);
    return code;
}

// A full-screen window would cover the started program's window: leave full screen first and
// wait for the window thread to have done it. Returns the mode to restore, 0 for none.
int32_t leave_fullscreen() {
    int32_t mode = os_fullscreen_mode().load(std::memory_order_acquire);
    if (mode == 0) return 0;
    os_fullscreen_request().store(0, std::memory_order_release);
    // The window thread answers; once the exit sequence has begun the process may end before it
    // does, so the poll parks on a stop request.
    while (os_fullscreen_mode().load(std::memory_order_acquire) != 0) {
        program_park_on_stop();
        platform_sleep_ms(0);
    }
    return mode;
}

void restore_fullscreen(int32_t mode) {
    if (mode == 0) return;
    os_fullscreen_request().store(mode, std::memory_order_release);
    while (os_fullscreen_mode().load(std::memory_order_acquire) == 0) {
        program_park_on_stop();
        platform_sleep_ms(0);
    }
}

// `work` becomes `length` bytes of `source`'s work string from `start` (0-based), plus a zero
// byte in `work_z`.
void set_part(BasicString*& work, BasicString*& work_z, int32_t start, int32_t length) {
    ShellState& st = shell_state;
    if (work == nullptr) work = str_new(0, false);
    str_set(work, str_mid(st.command, start + 1, length, 1));
    os_store_terminated(work_z, st.terminator, work);
}

// The command line with a launch through the shell: the whole line as a file, then the first
// word as a program with the rest as its parameters, then the command interpreter.
int64_t run_through_shell(const ShellForm& form) {
    ShellState& st = shell_state;
    PlatformProcess process;
    int32_t length = st.command->length - 1; // without the zero byte
    auto finish = [&](bool started) -> int64_t {
        if (!started) return RESULT_NOT_STARTED;
        return form.waits ? wait_for(process) : 0;
    };

    if (!internal_word(st.command->chars, length) &&
        launcher->shell_execute(os_c_text(st.command), nullptr, form.show, form.waits, &process))
        return finish(true);

    // The first blank outside double quotes ends the first word.
    int32_t split = -1;
    bool quoted = false;
    for (int32_t i = 0; i < length && split < 0; ++i) {
        if (st.command->chars[i] == '"') quoted = !quoted;
        if (st.command->chars[i] == ' ' && !quoted) split = i;
    }
    if (split < 0) {
        set_part(st.first_word, st.first_word_z, 0, length);
        set_part(st.rest, st.rest_z, 0, 0);
    } else {
        set_part(st.first_word, st.first_word_z, 0, split);
        set_part(st.rest, st.rest_z, split + 1, length - split - 1);
    }
    // A line that begins with a blank names nothing to start.
    if (st.first_word->length == 0) return RESULT_NOT_STARTED;

    bool internal = internal_word(st.first_word->chars, st.first_word->length);
    if (st.rest->length != 0 && !internal &&
        launcher->shell_execute(os_c_text(st.first_word_z), os_c_text(st.rest_z), form.show,
                                form.waits, &process))
        return finish(true);

    // " /c " and the line rebuilt from its two parts.
    if (st.parameters == nullptr) st.parameters = str_new(0, false);
    BasicString* line = str_add(str_new_cstring(" /c "), st.first_word);
    if (st.rest->length != 0) line = str_add(str_add(line, str_new_cstring(" ")), st.rest);
    os_store_terminated(st.parameters, st.terminator, line);
    return finish(
        launcher->shell_execute("cmd", os_c_text(st.parameters), form.show, form.waits, &process));
}

// Without "cmd.exe" the older interpreter runs the line in a console of its own.
int64_t run_through_command_com(const ShellForm& form) {
    ShellState& st = shell_state;
    if (st.parameters == nullptr) st.parameters = str_new(0, false);
    BasicString* line =
        str_add(str_new_cstring("command.com /c "), str_left(st.command, st.command->length - 1));
    os_store_terminated(st.parameters, st.terminator, line);
    PlatformProcess process;
    if (!launcher->create_process(os_c_text(st.parameters), PROCESS_NEW_CONSOLE, &process))
        return RESULT_NOT_STARTED;
    if (!form.waits) {
        launcher->release(process);
        return 0;
    }
    return wait_for(process);
}

int64_t run_interactive(bool console_path) {
    if (!console_path) launcher->console_alloc();
    int64_t code = system_waited("cmd");
    if (!console_path) launcher->console_free();
    return code;
}

int64_t run_form(const ShellForm& form, BasicString* command, int32_t has_command) {
    if (error_pending()) return RESULT_NOT_STARTED;
    if (os_hosted_mode != 0) {
        error_raise(ERROR_UNAVAILABLE_HOSTED);
        return RESULT_NOT_STARTED;
    }
    if (command == nullptr || command->length == 0) has_command = 0;
    if (has_command == 0 && form.no_command == NoCommand::refused) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return RESULT_NOT_STARTED;
    }
    int32_t fullscreen = form.leaves_fullscreen ? leave_fullscreen() : 0;
    bool console_path = os_console_path();
    int64_t result = 0;
    if (has_command == 0) {
        if (form.no_command == NoCommand::interactive) {
            result = run_interactive(console_path);
        } else {
            PlatformProcess none;
            result = launcher->shell_execute("cmd", nullptr, form.show, false, &none)
                         ? 0
                         : RESULT_NOT_STARTED;
        }
    } else {
        ShellState& st = shell_state;
        os_store_terminated(st.command, st.terminator, command);
        if (console_path && form.waits)
            result = system_waited(os_c_text(st.command));
        else if (shell_probe_cmd() == 1)
            result = run_through_shell(form);
        else
            result = run_through_command_com(form);
    }
    restore_fullscreen(fullscreen);
    return result;
}

} // namespace

void shell_reset() {
    shell_state = ShellState{};
}

void shell_set_launcher(const ShellLauncher* l) {
    launcher = l != nullptr ? l : &SHELL_PLATFORM_LAUNCHER;
}

int32_t shell_is_internal(BasicString* word) {
    return internal_word(word->chars, word->length) ? -1 : 0;
}

int32_t shell_probe_cmd() {
    ShellState& st = shell_state;
    if (st.cmd_available != -1) return st.cmd_available;
    PlatformProcess process;
    if (launcher->create_process("cmd.exe /c ver", PROCESS_NO_WINDOW, &process)) {
        launcher->wait(process);
        st.cmd_available = 1;
    } else {
        st.cmd_available = 0;
    }
    return st.cmd_available;
}

void shell_run(BasicString* command, int32_t has_command) {
    run_form(FORM_RUN, command, has_command);
}

int64_t shell_run_value(BasicString* command, int32_t has_command) {
    return run_form(FORM_RUN, command, has_command);
}

int64_t shell_run_hidden_value(BasicString* command, int32_t has_command) {
    return run_form(FORM_HIDDEN, command, has_command);
}

void shell_run_hidden(BasicString* command, int32_t options) {
    int32_t has_command = (options & SHELL_OPTION_COMMAND) != 0 ? 1 : 0;
    if ((options & SHELL_OPTION_NO_WAIT) != 0)
        shell_start(command, has_command);
    else
        run_form(FORM_HIDDEN, command, has_command);
}

void shell_start_shown(BasicString* command, int32_t options) {
    int32_t has_command = (options & SHELL_OPTION_COMMAND) != 0 ? 1 : 0;
    if ((options & SHELL_OPTION_NO_WAIT) != 0)
        shell_start(command, has_command);
    else
        run_form(FORM_START_SHOWN, command, has_command);
}

void shell_start(BasicString* command, int32_t has_command) {
    run_form(FORM_START, command, has_command);
}
