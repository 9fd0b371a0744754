// The POSIX stand-ins for the shell's launch, CreateProcessA and system(): real processes, with a
// small script in the place of the companion interpreter (UNVEILO_CMD) that writes down the
// arguments it was given.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>

#include "runtime/base/run_state.h"
#include "runtime/memory/conv.h"
#include "runtime/os/detail.h"
#include "runtime/os/shell.h"
#include "runtime/platform/platform.h"
#include "runtime/strings/str.h"

namespace stdfs = std::filesystem;

namespace {

class PosixProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = stdfs::temp_directory_path() /
                  ("unveilo-process-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        stdfs::remove_all(folder_);
        stdfs::create_directories(folder_ / "drive");
        record_ = (folder_ / "args.txt").string();
        companion_ = (folder_ / "fake-cmd").string();
        // Each argument on a line of its own, then the exit status the test asked for.
        write_script(companion_, "#!/bin/sh\n: > \"$RECORD\"\nfor a in \"$@\"; do printf '%s\\n' "
                                 "\"$a\" >> \"$RECORD\"; done\nexit ${FAKE_STATUS:-0}\n");
        set("UNVEILO_CMD", companion_.c_str());
        set("RECORD", record_.c_str());
        set("FAKE_STATUS", "0");
        set("UNVEILO_DRIVE_E", (folder_ / "drive").c_str());
    }
    void TearDown() override {
        for (auto& [name, value] : saved_)
            platform_setenv(name.c_str(), value.empty() ? nullptr : value.c_str());
        stdfs::remove_all(folder_);
    }
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? old : "");
        platform_setenv(name, value);
    }
    static void write_script(const std::string& path, const std::string& body) {
        std::ofstream(path) << body;
        chmod(path.c_str(), 0755);
    }
    std::string recorded() const {
        std::ifstream in(record_);
        std::stringstream out;
        out << in.rdbuf();
        return out.str();
    }
    int64_t run(const char* file, const char* parameters) {
        PlatformProcess process;
        if (!platform_shell_execute(file, parameters, SHOW_SHOWN, true, &process)) return -1000;
        return platform_process_wait(process);
    }

    stdfs::path folder_;
    std::string record_;
    std::string companion_;
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(PosixProcess, the_interpreter_gets_slash_c_and_the_line_as_written) {
    set("FAKE_STATUS", "3");
    EXPECT_EQ(run("cmd", " /c copy datafile.dat E:\\temp.bat"), 3);
    EXPECT_EQ(recorded(), "/c\ncopy datafile.dat E:\\temp.bat\n");
    EXPECT_EQ(run("CMD.EXE", " /C del \"E:\\a b.txt\""), 3);
    EXPECT_EQ(recorded(), "/c\ndel \"E:\\a b.txt\"\n");
}

TEST_F(PosixProcess, attrib_and_explorer_are_the_interpreters_programs) {
    EXPECT_EQ(run("attrib", "-h -r -s /s /d E:\\*.* "), 0);
    EXPECT_EQ(recorded(), "/c\nattrib -h -r -s /s /d E:\\*.* \n");
    EXPECT_EQ(run("explorer", "E:\\"), 0);
    EXPECT_EQ(recorded(), "/c\nexplorer E:\\\n");
}

TEST_F(PosixProcess, an_existing_batch_file_runs_in_the_interpreter) {
    std::ofstream(folder_ / "drive" / "temp.bat") << "@echo off\n";
    EXPECT_EQ(run("E:\\temp.bat", nullptr), 0);
    EXPECT_EQ(recorded(), "/c\nE:\\temp.bat\n");
    EXPECT_EQ(run("E:\\absent.bat", nullptr), -1000);
}

TEST_F(PosixProcess, whole_lines_and_unknown_names_cannot_be_started) {
    for (const char* file :
         {"attrib -h -r -s /s /d E:\\*.* ", "explorer E:\\", "copy datafile.dat E:\\temp.bat",
          "no-such-program-here", "Q:\\prog.bat"}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(run(file, nullptr), -1000);
    }
}

TEST_F(PosixProcess, a_program_on_path_gets_its_arguments_split_the_windows_way) {
    EXPECT_EQ(run("sh", "-c \"exit 5\""), 5);
    std::string script = (folder_ / "echoargs").string();
    write_script(script,
                 "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\" >> \"$RECORD\"; done\n");
    std::ofstream(record_).close();
    EXPECT_EQ(run(script.c_str(), "a \"b c\" d\\\"e \\\\\"f g\""), 0);
    EXPECT_EQ(recorded(), "[a][b c][d\"e][\\f g]");
}

TEST_F(PosixProcess, the_probe_and_system_go_to_the_interpreter) {
    PlatformProcess process;
    ASSERT_TRUE(platform_create_process("cmd.exe /c ver", PROCESS_NO_WINDOW, &process));
    EXPECT_EQ(platform_process_wait(process), 0);
    EXPECT_EQ(recorded(), "/c\nver\n");
    EXPECT_FALSE(platform_create_process("command.com /c dir", PROCESS_NEW_CONSOLE, &process));

    set("FAKE_STATUS", "4");
    EXPECT_EQ(platform_system("echo hi"), 4);
    EXPECT_EQ(recorded(), "/c\necho hi\n");

    set("UNVEILO_CMD", (folder_ / "missing").c_str());
    EXPECT_FALSE(platform_create_process("cmd.exe /c ver", PROCESS_NO_WINDOW, &process));
    EXPECT_EQ(platform_system("echo hi"), -1);
}

TEST_F(PosixProcess, a_start_without_waiting_leaves_nothing_behind) {
    std::string marker = (folder_ / "marker").string();
    std::string line = "-c \"echo done > '" + marker + "'\"";
    PlatformProcess process;
    ASSERT_TRUE(platform_shell_execute("sh", line.c_str(), SHOW_HIDDEN, false, &process));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stdfs::exists(marker) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(stdfs::exists(marker));
}

// The whole statement with the real launcher: the routing falls back exactly as on Windows.
TEST_F(PosixProcess, shell_run_reaches_the_interpreter_for_an_internal_command) {
    run_state_reset();
    conv_memory_init();
    str_engine_reset();
    shell_reset();
    shell_set_launcher(nullptr);
    const char* line = "copy datafile.dat E:\\temp.bat";
    shell_run(str_new_literal(line, int32_t(std::strlen(line))), 1);
    EXPECT_EQ(shell_state.cmd_available, 1);
    EXPECT_EQ(recorded(), "/c\ncopy datafile.dat E:\\temp.bat\n");
    EXPECT_EQ(run_state.error_code.load(), 0u);

    set("FAKE_STATUS", "9");
    const char* batch = "E:\\temp.bat";
    std::ofstream(folder_ / "drive" / "temp.bat") << "rem\n";
    EXPECT_EQ(shell_run_value(str_new_literal(batch, int32_t(std::strlen(batch))), 1), 9);
    EXPECT_EQ(recorded(), "/c\nE:\\temp.bat\n");
    shell_reset();
}

// The recovery program's five command lines, each through shell_run with the platform launcher
// and the real unveilo-cmd built beside the tool, against a folder that stands for drive E:.
TEST_F(PosixProcess, the_five_recovery_commands_through_the_companion) {
    std::string exe = platform_executable_path();
    stdfs::path companion = stdfs::path(exe).parent_path().parent_path() / "unveilo-cmd";
    if (!stdfs::exists(companion)) GTEST_SKIP() << "no unveilo-cmd beside the tests: " << companion;
    set("UNVEILO_CMD", companion.c_str());
    stdfs::path drive = folder_ / "drive";
    std::ofstream(drive / "hidden.txt") << "user data";
    if (setxattr((drive / "hidden.txt").c_str(), "user.DOSATTRIB", "0x2", 3, 0) != 0)
        GTEST_SKIP() << "no user extended attributes here";
    // A stand-in for the desktop's opener that writes down what it was asked to open.
    stdfs::create_directories(folder_ / "bin");
    write_script((folder_ / "bin" / "xdg-open").string(),
                 "#!/bin/sh\nprintf '%s\\n' \"$1\" > \"$RECORD\"\n");
    const char* path = std::getenv("PATH");
    set("PATH", ((folder_ / "bin").string() + ":" + (path ? path : "/usr/bin:/bin")).c_str());
    stdfs::create_directories(folder_ / "app");
    std::ofstream(folder_ / "app" / "datafile.dat") << "@echo off\r\nrem cleaning up\r\n";
    stdfs::path saved = stdfs::current_path();
    stdfs::current_path(folder_ / "app");

    run_state_reset();
    conv_memory_init();
    str_engine_reset();
    shell_reset();
    shell_set_launcher(nullptr);
    auto run_line = [](const char* line) {
        shell_run(str_new_literal(line, int32_t(std::strlen(line))), 1);
    };
    run_line("attrib -h -r -s /s /d E:\\*.* ");
    uint32_t cleared = platform_fs_attributes("E:\\hidden.txt");
    run_line("copy datafile.dat E:\\temp.bat");
    bool copied = stdfs::exists(drive / "temp.bat");
    run_line("E:\\temp.bat");
    run_line("del E:\\temp.bat");
    bool deleted = !stdfs::exists(drive / "temp.bat");
    run_line("explorer E:\\");
    stdfs::current_path(saved);
    shell_reset();

    EXPECT_EQ(run_state.error_code.load(), 0u);
    EXPECT_EQ(cleared, FS_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(copied);
    EXPECT_TRUE(deleted);
    EXPECT_EQ(recorded(), drive.string() + "/\n");
}

} // namespace
