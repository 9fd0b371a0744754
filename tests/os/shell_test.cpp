#include "runtime/os/shell.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "os_fixture.h"
#include "runtime/base/error.h"
#include "runtime/os/control.h"

using namespace os_test;

namespace {

// A launcher that starts nothing: it records every call and answers like Windows would for a
// small set of known programs and documents.
struct Call {
    std::string kind; // execute, create, wait, release, system, alloc, free
    std::string file; // the file, command line or command
    std::string parameters;
    bool has_parameters = false;
    int32_t show = -1;
    bool keep = false;
    uint32_t flags = 0;
    int32_t shell_running_seen = 0;
    int32_t fullscreen_seen = 0;
};

struct FakeSystem {
    std::vector<Call> calls;
    std::vector<std::string> startable{
        "attrib", "explorer", "cmd", "E:\\temp.bat", "notepad", "\"C:\\Program Files\\tool.exe\""};
    bool cmd_exe = true;
    bool command_com = true;
    int64_t exit_code = 0;
};
FakeSystem* fake = nullptr;

Call call(const char* kind, const std::string& file = "") {
    Call c;
    c.kind = kind;
    c.file = file;
    return c;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

bool fake_execute(const char* file, const char* parameters, int32_t show, bool keep,
                  PlatformProcess* process) {
    Call c = call("execute", file);
    c.parameters = parameters ? parameters : "";
    c.has_parameters = parameters != nullptr;
    c.show = show;
    c.keep = keep;
    c.fullscreen_seen = os_fullscreen_mode().load();
    fake->calls.push_back(c);
    for (const std::string& known : fake->startable) {
        if (lower(known) == lower(file)) {
            process->id = 42;
            return true;
        }
    }
    return false;
}

bool fake_create(const char* line, uint32_t flags, PlatformProcess* process) {
    Call c = call("create", line);
    c.flags = flags;
    fake->calls.push_back(c);
    bool ok = std::string(line).rfind("cmd.exe ", 0) == 0 ? fake->cmd_exe : fake->command_com;
    if (ok) process->id = 43;
    return ok;
}

int64_t fake_wait(PlatformProcess process) {
    Call c = call("wait", std::to_string(process.id));
    c.shell_running_seen = os_shell_running().load();
    fake->calls.push_back(c);
    return fake->exit_code;
}

void fake_release(PlatformProcess process) {
    fake->calls.push_back(call("release", std::to_string(process.id)));
}

int64_t fake_system(const char* command) {
    Call c = call("system", command);
    c.shell_running_seen = os_shell_running().load();
    fake->calls.push_back(c);
    return 7;
}

void fake_alloc() {
    fake->calls.push_back(call("alloc"));
}
void fake_free() {
    fake->calls.push_back(call("free"));
}

const ShellLauncher FAKE_LAUNCHER{fake_execute, fake_create, fake_wait, fake_release,
                                  fake_system,  fake_alloc,  fake_free};

class Shell : public OsTest {
  protected:
    void SetUp() override {
        OsTest::SetUp();
        fake = &system_;
        shell_set_launcher(&FAKE_LAUNCHER);
        shell_running.store(0);
    }
    void TearDown() override {
        shell_set_launcher(nullptr);
        fake = nullptr;
        OsTest::TearDown();
    }
    static std::string describe(const std::vector<Call>& calls) {
        std::string out;
        for (const Call& c : calls)
            out += c.kind + "(" + c.file + (c.has_parameters ? ", " + c.parameters : "") + ") ";
        return out;
    }
    FakeSystem system_;
};

// One expected launch: file and parameters (nullptr for none), whether it starts.
struct Launch {
    const char* file;
    const char* parameters;
};

struct RoutingCase {
    const char* command;
    std::vector<Launch> launches; // every shell launch, in order; the last one starts
};

// The recovery program's five command lines on drive E:, and the shapes the shell sees.
TEST_F(Shell, each_command_of_the_recovery_program_takes_its_launch_path) {
    const RoutingCase cases[] = {
        // Program and arguments: the whole line is no file, "attrib" is a program.
        {"attrib -h -r -s /s /d E:\\*.* ",
         {{"attrib -h -r -s /s /d E:\\*.* ", nullptr}, {"attrib", "-h -r -s /s /d E:\\*.* "}}},
        // Internal: through the interpreter with " /c " and the line.
        {"copy datafile.dat E:\\temp.bat",
         {{"copy datafile.dat E:\\temp.bat", nullptr},
          {"cmd", " /c copy datafile.dat E:\\temp.bat"}}},
        // A document: the whole line is the batch file.
        {"E:\\temp.bat", {{"E:\\temp.bat", nullptr}}},
        {"del E:\\temp.bat", {{"del E:\\temp.bat", nullptr}, {"cmd", " /c del E:\\temp.bat"}}},
        {"explorer E:\\", {{"explorer E:\\", nullptr}, {"explorer", "E:\\"}}},
    };
    for (const RoutingCase& c : cases) {
        SCOPED_TRACE(c.command);
        system_.calls.clear();
        shell_run(text(c.command), 1);
        EXPECT_EQ(error(), 0u);
        std::vector<Call> calls = system_.calls;
        if (!calls.empty() && calls[0].kind == "create") { // the probe, on the first command only
            ASSERT_GE(calls.size(), 2u);
            EXPECT_EQ(calls[0].file, "cmd.exe /c ver");
            EXPECT_EQ(calls[0].flags, PROCESS_NO_WINDOW);
            EXPECT_EQ(calls[1].kind, "wait");
            calls.erase(calls.begin(), calls.begin() + 2);
        }
        ASSERT_EQ(calls.size(), c.launches.size() + 1) << describe(calls);
        for (size_t i = 0; i < c.launches.size(); ++i) {
            EXPECT_EQ(calls[i].kind, "execute");
            EXPECT_EQ(calls[i].file, c.launches[i].file);
            EXPECT_EQ(calls[i].has_parameters, c.launches[i].parameters != nullptr);
            if (c.launches[i].parameters != nullptr) {
                EXPECT_EQ(calls[i].parameters, c.launches[i].parameters);
            }
            EXPECT_EQ(calls[i].show, SHOW_SHOWN);
            EXPECT_TRUE(calls[i].keep);
        }
        EXPECT_EQ(calls.back().kind, "wait");
        EXPECT_EQ(calls.back().shell_running_seen, 1);
        EXPECT_EQ(shell_running.load(), 0);
    }
    EXPECT_EQ(shell_state.cmd_available, 1);
}

TEST_F(Shell, edge_cases_of_the_routing) {
    shell_state.cmd_available = 1; // probed already
    const RoutingCase cases[] = {
        // A single internal word is not tried as a file.
        {"dir", {{"cmd", " /c dir"}}},
        {"DiR", {{"cmd", " /c DiR"}}},
        // With a switch the whole line is no longer internal, the first word still is.
        {"dir /w", {{"dir /w", nullptr}, {"cmd", " /c dir /w"}}},
        {"notepad readme.txt", {{"notepad readme.txt", nullptr}, {"notepad", "readme.txt"}}},
        // A quoted first word with a blank splits after its closing quote.
        {"\"C:\\Program Files\\tool.exe\" arg",
         {{"\"C:\\Program Files\\tool.exe\" arg", nullptr},
          {"\"C:\\Program Files\\tool.exe\"", "arg"}}},
        // An unknown program with arguments ends up at the interpreter, line rebuilt.
        {"frob a  b", {{"frob a  b", nullptr}, {"frob", "a  b"}, {"cmd", " /c frob a  b"}}},
        // A single unknown word: no second try as a program without arguments.
        {"frob", {{"frob", nullptr}, {"cmd", " /c frob"}}},
    };
    for (const RoutingCase& c : cases) {
        SCOPED_TRACE(c.command);
        system_.calls.clear();
        shell_run(text(c.command), 1);
        ASSERT_EQ(system_.calls.size(), c.launches.size() + 1) << describe(system_.calls);
        for (size_t i = 0; i < c.launches.size(); ++i) {
            EXPECT_EQ(system_.calls[i].file, c.launches[i].file);
            EXPECT_EQ(system_.calls[i].has_parameters, c.launches[i].parameters != nullptr);
            if (c.launches[i].parameters != nullptr) {
                EXPECT_EQ(system_.calls[i].parameters, c.launches[i].parameters);
            }
        }
        EXPECT_EQ(system_.calls.back().kind, "wait");
    }
}

TEST_F(Shell, a_line_beginning_with_a_blank_starts_nothing) {
    shell_state.cmd_available = 1;
    EXPECT_EQ(shell_run_value(text(" attrib x"), 1), 1);
    ASSERT_EQ(system_.calls.size(), 1u) << describe(system_.calls);
    EXPECT_EQ(system_.calls[0].file, " attrib x");
}

TEST_F(Shell, when_even_the_interpreter_fails_nothing_is_waited_for) {
    shell_state.cmd_available = 1;
    system_.startable.clear();
    EXPECT_EQ(shell_run_value(text("copy a b"), 1), 1);
    ASSERT_EQ(system_.calls.size(), 2u) << describe(system_.calls);
    EXPECT_EQ(system_.calls[1].file, "cmd");
    EXPECT_EQ(error(), 0u); // not reported
}

TEST_F(Shell, the_value_form_returns_the_exit_code) {
    shell_state.cmd_available = 1;
    system_.exit_code = 3;
    EXPECT_EQ(shell_run_value(text("E:\\temp.bat"), 1), 3);
}

TEST_F(Shell, without_a_command_an_interactive_interpreter_in_its_own_console) {
    shell_state.cmd_available = 1;
    for (int32_t has_command : {0, 1}) {
        system_.calls.clear();
        EXPECT_EQ(shell_run_value(text(""), has_command), 7);
        ASSERT_EQ(system_.calls.size(), 3u) << describe(system_.calls);
        EXPECT_EQ(system_.calls[0].kind, "alloc");
        EXPECT_EQ(system_.calls[1].kind, "system");
        EXPECT_EQ(system_.calls[1].file, "cmd");
        EXPECT_EQ(system_.calls[1].shell_running_seen, 1);
        EXPECT_EQ(system_.calls[2].kind, "free");
    }
    EXPECT_EQ(shell_running.load(), 0);
}

// A console build with its console output on hands the line to the C library's system() in its
// own console: no shell launch, no console allocated or freed.
TEST_F(Shell, a_console_build_runs_the_line_through_system_in_its_own_console) {
    shell_state.cmd_available = 1;
    os_console_path_hook = [] { return true; };
    system_.calls.clear();
    shell_run(text("dir"), 1);
    os_console_path_hook = nullptr;
    ASSERT_EQ(system_.calls.size(), 1u) << describe(system_.calls);
    EXPECT_EQ(system_.calls[0].kind, "system");
    EXPECT_EQ(system_.calls[0].file, "dir");
    EXPECT_EQ(system_.calls[0].shell_running_seen, 1);
}

TEST_F(Shell, without_cmd_exe_the_line_runs_under_command_com_in_a_new_console) {
    system_.cmd_exe = false;
    shell_run(text("dir"), 1);
    ASSERT_EQ(system_.calls.size(), 3u) << describe(system_.calls);
    EXPECT_EQ(system_.calls[0].file, "cmd.exe /c ver");
    EXPECT_EQ(system_.calls[1].kind, "create");
    EXPECT_EQ(system_.calls[1].file, "command.com /c dir");
    EXPECT_EQ(system_.calls[1].flags, PROCESS_NEW_CONSOLE);
    EXPECT_EQ(system_.calls[2].kind, "wait");
    EXPECT_EQ(shell_state.cmd_available, 0);

    // The probe is not repeated, and a failed start is not reported.
    system_.calls.clear();
    system_.command_com = false;
    EXPECT_EQ(shell_run_value(text("dir"), 1), 1);
    ASSERT_EQ(system_.calls.size(), 1u);
    EXPECT_EQ(error(), 0u);
}

TEST_F(Shell, the_forms_differ_in_window_and_waiting) {
    shell_state.cmd_available = 1;
    system_.calls.clear();
    shell_run_hidden(text("E:\\temp.bat"), SHELL_OPTION_COMMAND);
    ASSERT_EQ(system_.calls.size(), 2u);
    EXPECT_EQ(system_.calls[0].show, SHOW_HIDDEN);
    EXPECT_EQ(system_.calls[1].kind, "wait");

    system_.calls.clear();
    shell_start(text("E:\\temp.bat"), 1);
    ASSERT_EQ(system_.calls.size(), 1u);
    EXPECT_EQ(system_.calls[0].show, SHOW_HIDDEN);
    EXPECT_FALSE(system_.calls[0].keep);

    system_.calls.clear();
    shell_start_shown(text("E:\\temp.bat"), SHELL_OPTION_COMMAND);
    ASSERT_EQ(system_.calls.size(), 1u);
    EXPECT_EQ(system_.calls[0].show, SHOW_SHOWN);
    EXPECT_FALSE(system_.calls[0].keep);

    // Bit 0 hands the statement to the hidden, non-waiting form.
    system_.calls.clear();
    shell_start_shown(text("E:\\temp.bat"), SHELL_OPTION_COMMAND | SHELL_OPTION_NO_WAIT);
    ASSERT_EQ(system_.calls.size(), 1u);
    EXPECT_EQ(system_.calls[0].show, SHOW_HIDDEN);

    // Without a command: the shown start opens "cmd", the hidden forms refuse.
    system_.calls.clear();
    shell_start_shown(text(""), 0);
    ASSERT_EQ(system_.calls.size(), 1u);
    EXPECT_EQ(system_.calls[0].file, "cmd");
    EXPECT_FALSE(system_.calls[0].has_parameters);
    EXPECT_EQ(error(), 0u);
    system_.calls.clear();
    EXPECT_EQ(shell_run_hidden_value(text("dir"), 0), 1);
    EXPECT_EQ(error(), uint32_t(ERROR_ILLEGAL_FUNCTION_CALL));
    run_state_reset();
    shell_start(text(""), 1);
    EXPECT_EQ(error(), uint32_t(ERROR_ILLEGAL_FUNCTION_CALL));
    EXPECT_TRUE(system_.calls.empty());
}

TEST_F(Shell, nothing_runs_with_an_error_pending_or_in_hosted_mode) {
    error_raise(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(shell_run_value(text("dir"), 1), 1);
    EXPECT_TRUE(system_.calls.empty());
    run_state_reset();
    os_hosted_mode = 1;
    shell_run(text("dir"), 1);
    EXPECT_EQ(error(), uint32_t(ERROR_UNAVAILABLE_HOSTED));
    EXPECT_TRUE(system_.calls.empty());
}

TEST_F(Shell, full_screen_is_left_for_the_command_and_restored_after) {
    shell_state.cmd_available = 1;
    fullscreen_mode.store(2);
    fullscreen_request.store(-1);
    // Stands in for the window thread: takes each request and answers with the new mode.
    std::atomic<bool> stop{false};
    std::thread window([&] {
        while (!stop.load()) {
            int32_t request = fullscreen_request.load();
            if (request != -1) {
                fullscreen_mode.store(request);
                fullscreen_request.store(-1);
            }
            std::this_thread::yield();
        }
    });
    shell_run(text("E:\\temp.bat"), 1);
    stop.store(true);
    window.join();
    ASSERT_FALSE(system_.calls.empty());
    EXPECT_EQ(system_.calls[0].fullscreen_seen, 0);
    EXPECT_EQ(fullscreen_mode.load(), 2);
    fullscreen_mode.store(0);
}

TEST_F(Shell, the_hidden_forms_stay_in_full_screen) {
    shell_state.cmd_available = 1;
    fullscreen_mode.store(1);
    fullscreen_request.store(-1);
    shell_run_hidden(text("E:\\temp.bat"), SHELL_OPTION_COMMAND);
    ASSERT_FALSE(system_.calls.empty());
    EXPECT_EQ(system_.calls[0].fullscreen_seen, 1);
    EXPECT_EQ(fullscreen_request.load(), -1);
    fullscreen_mode.store(0);
}

TEST(shell_is_internal, exactly_the_46_words_in_any_letter_case) {
    run_state_reset();
    conv_memory_init();
    str_engine_reset();
    EXPECT_STREQ(SHELL_INTERNAL_COMMANDS[0], "ASSOC");
    EXPECT_STREQ(SHELL_INTERNAL_COMMANDS[SHELL_INTERNAL_COUNT - 1], "VOL");
    for (const char* word : SHELL_INTERNAL_COMMANDS) {
        SCOPED_TRACE(word);
        EXPECT_EQ(shell_is_internal(text(word)), -1);
        EXPECT_EQ(shell_is_internal(text(lower(word))), -1);
    }
    for (const char* word :
         {"", "dir ", "dir /w", "dir.exe", " dir", "attrib", "explorer", "CDX", "C"}) {
        SCOPED_TRACE(word);
        EXPECT_EQ(shell_is_internal(text(word)), 0);
    }
    EXPECT_EQ(shell_is_internal(text(std::string("del\0", 4))), 0);
}

} // namespace
