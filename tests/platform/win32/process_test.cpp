// The Windows process calls, for real: the shell's launch of the command interpreter, the wait
// and the exit code, and CreateProcessA as the interpreter probe uses it.
#include <gtest/gtest.h>

#include "runtime/platform/platform.h"

namespace {

TEST(Win32Process, the_interpreter_started_through_the_shell_is_waited_for) {
    PlatformProcess process;
    ASSERT_TRUE(platform_shell_execute("cmd", " /c exit 3", SHOW_HIDDEN, true, &process));
    EXPECT_EQ(platform_process_wait(process), 3);
}

TEST(Win32Process, a_whole_command_line_is_no_file) {
    PlatformProcess process;
    EXPECT_FALSE(platform_shell_execute("copy datafile.dat Q:\\temp.bat", nullptr, SHOW_HIDDEN,
                                        true, &process));
}

TEST(Win32Process, the_probe_line_starts_and_command_com_does_not) {
    PlatformProcess process;
    ASSERT_TRUE(platform_create_process("cmd.exe /c ver", PROCESS_NO_WINDOW, &process));
    EXPECT_EQ(platform_process_wait(process), 0);
    EXPECT_FALSE(
        platform_create_process("no-such-program.com /c dir", PROCESS_NEW_CONSOLE, &process));
}

TEST(Win32Process, system_returns_the_status) {
    EXPECT_EQ(platform_system("exit 4"), 4);
}

} // namespace
