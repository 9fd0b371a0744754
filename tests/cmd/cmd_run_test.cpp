#include "clean/lnk_writer.h"
#include "cmd/cmd_run.h"
#include "runtime/platform/posix/dos_attrib.h"
#include "support/posix_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

using posix_test::CleanDriveEnv;
using posix_test::get_xattr;
using posix_test::read_file;
using posix_test::samba_record;
using posix_test::ScopedEnv;
using posix_test::ScratchDir;
using posix_test::set_xattr_text;
using posix_test::snapshot;
using posix_test::write_file;

namespace {

// Each test gets a scratch folder as drive T: and runs the interpreter there, its output
// captured so that messages can be checked.
class CmdRun : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.path().empty());
        drive = scratch.path() + "/drive";
        ASSERT_EQ(mkdir(drive.c_str(), 0755), 0);
        setenv("UNVEILO_DRIVE_T", drive.c_str(), 1);
        ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
        ASSERT_EQ(chdir(scratch.path().c_str()), 0);
    }
    void TearDown() override { EXPECT_EQ(chdir(old_cwd), 0); }

    struct Result {
        int status;
        std::string out, err;
    };
    Result run(const std::string& line) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        CmdState state;
        const int status = cmd_run_line(state, line);
        std::fflush(stdout);
        Result result{status, testing::internal::GetCapturedStdout(),
                      testing::internal::GetCapturedStderr()};
        return result;
    }
    std::string at(const std::string& name) const { return drive + "/" + name; }

    CleanDriveEnv clean;
    ScratchDir scratch;
    std::string drive;
    char old_cwd[4096] = {};
};

TEST_F(CmdRun, copy_to_a_drive_path_and_onto_itself) {
    write_file(scratch / "datafile.dat", "@echo off\r\necho hi\r\n");
    const Result copied = run("copy datafile.dat T:\\temp.bat");
    EXPECT_EQ(copied.status, 0);
    EXPECT_EQ(copied.out, "        1 file(s) copied.\n");
    EXPECT_EQ(read_file(at("temp.bat")), "@echo off\r\necho hi\r\n");
    // Onto itself must not truncate the only copy.
    const Result self = run("copy T:\\temp.bat T:\\temp.bat");
    EXPECT_NE(self.status, 0);
    EXPECT_EQ(read_file(at("temp.bat")), "@echo off\r\necho hi\r\n");
    const Result missing = run("copy nothing.dat T:\\x");
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.err.find("cannot find"), std::string::npos);
}

TEST_F(CmdRun, del_removes_only_what_it_names) {
    write_file(at("temp.bat"), "x");
    write_file(at("keep.txt"), "y");
    EXPECT_EQ(run("del T:\\temp.bat").status, 0);
    EXPECT_FALSE(std::filesystem::exists(at("temp.bat")));
    EXPECT_TRUE(std::filesystem::exists(at("keep.txt")));
    const Result again = run("erase T:\\temp.bat");
    EXPECT_NE(again.status, 0);
    EXPECT_NE(again.err.find("Could Not Find"), std::string::npos);
    // A read-only file needs /F; a folder is never emptied by naming it.
    chmod(at("keep.txt").c_str(), 0444);
    EXPECT_NE(run("del T:\\keep.txt").status, 0);
    EXPECT_TRUE(std::filesystem::exists(at("keep.txt")));
    EXPECT_NE(run("del T:\\").status, 0);
    EXPECT_EQ(run("del /f T:\\*.txt").status, 0);
    EXPECT_FALSE(std::filesystem::exists(at("keep.txt")));
}

TEST_F(CmdRun, move_never_replaces_a_file) {
    write_file(at("a.txt"), "A");
    write_file(at("b.txt"), "B");
    EXPECT_NE(run("move T:\\a.txt T:\\b.txt").status, 0);
    EXPECT_EQ(read_file(at("a.txt")), "A");
    EXPECT_EQ(read_file(at("b.txt")), "B");
    EXPECT_EQ(run("md \"T:\\x y\\z\"").status, 0);
    EXPECT_EQ(run("move T:\\a.txt \"T:\\x y\\z\"").status, 0);
    EXPECT_EQ(read_file(at("x y/z/a.txt")), "A");
    EXPECT_EQ(run("ren T:\\b.txt c.txt").status, 0);
    EXPECT_EQ(read_file(at("c.txt")), "B");
}

TEST_F(CmdRun, unknown_drive_and_unknown_command) {
    EXPECT_NE(run("copy x Q:\\y").err.find("cannot find the drive"), std::string::npos);
    const Result unknown = run("frobnicate now");
    EXPECT_EQ(unknown.status, 9009);
    EXPECT_NE(unknown.err.find("'frobnicate' is not recognized"), std::string::npos);
}

TEST_F(CmdRun, a_program_on_path_runs_as_itself) {
    EXPECT_EQ(run("true").status, 0);
    EXPECT_EQ(run("false").status, 1);
    EXPECT_EQ(run("sh -c \"exit 7\"").status, 7);
}

TEST_F(CmdRun, explorer_goes_through_xdg_open) {
    const std::string bin = scratch / "bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    write_file(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"\n");
    chmod((bin + "/xdg-open").c_str(), 0755);
    {
        ScopedEnv path("PATH", (bin + ":/usr/bin:/bin").c_str());
        EXPECT_EQ(run("explorer T:\\").status, 0);
    }
    EXPECT_EQ(read_file(bin + "/opened"), drive + "/");
    ScopedEnv path("PATH", bin.c_str());
    unlink((bin + "/xdg-open").c_str());
    const Result none = run("explorer T:\\");
    EXPECT_NE(none.status, 0);
    EXPECT_NE(none.err.find("xdg-open was not found"), std::string::npos);
}

TEST_F(CmdRun, batch_goes_on_after_an_unknown_command) {
    write_file(at("t.bat"), "@echo off\r\nnosuchthing\r\necho after %~d0\r\n"
                            "if not exist T:\\zz echo absent\r\nexit /b 3\r\necho never\r\n");
    const Result result = run("T:\\t.bat");
    EXPECT_EQ(result.out, "after T:\nabsent\n");
    EXPECT_NE(result.err.find("'nosuchthing' is not recognized"), std::string::npos);
    EXPECT_EQ(result.status, 3);
}

TEST_F(CmdRun, host_paths_map_back_to_the_longest_drive) {
    EXPECT_EQ(cmd_host_to_dos(drive + "/a/b.txt"), "T:\\a\\b.txt");
    EXPECT_EQ(cmd_host_to_dos(drive), "T:\\");
    // Everything else lies on the system drive C:, which is "/".
    EXPECT_EQ(cmd_host_to_dos("/etc/hosts"), "C:\\etc\\hosts");
}

TEST_F(CmdRun, a_batch_started_by_a_relative_name_still_knows_its_drive) {
    write_file(at("t.bat"), "@echo %~d0 %~nx0\r\n");
    ASSERT_EQ(chdir(drive.c_str()), 0);
    EXPECT_EQ(run("t.bat").out, "T: t.bat\n");
}

class CmdAttrib : public CmdRun {
  protected:
    void SetUp() override {
        CmdRun::SetUp();
        if (testing::Test::IsSkipped() || HasFatalFailure()) return;
        if (!set_xattr_text(drive, "0x0")) GTEST_SKIP() << "no user xattrs here";
    }
};

TEST_F(CmdAttrib, clears_a_tree_without_following_links) {
    // Outside the drive: a folder a planted link points at, which must keep its bits.
    const std::string outside = scratch / "outside";
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
    write_file(outside + "/secret", "s");
    ASSERT_TRUE(set_xattr_text(outside + "/secret", "0x6"));
    ASSERT_EQ(symlink(outside.c_str(), at("link").c_str()), 0);

    std::filesystem::create_directories(at("Photos/2024"));
    write_file(at("Photos/2024/a.jpg"), "jpg");
    write_file(at("notes.txt"), "n");
    for (const char* name : {"Photos", "Photos/2024", "Photos/2024/a.jpg", "notes.txt"})
        ASSERT_TRUE(set_xattr_text(at(name), "0x27"));
    chmod(at("notes.txt").c_str(), 0444);
    // One entry carries Samba's binary record instead of the text form.
    write_file(at("samba.doc"), "s");
    const std::string record = samba_record("", 4, 0x1, 0x27);
    ASSERT_EQ(setxattr(at("samba.doc").c_str(), "user.DOSATTRIB", record.data(), record.size(), 0),
              0);

    const Result result = run("attrib -h -r -s /s /d T:\\*.* ");
    EXPECT_EQ(result.status, 0) << result.err;
    for (const char* name :
         {"Photos", "Photos/2024", "Photos/2024/a.jpg", "notes.txt", "samba.doc"})
        EXPECT_EQ(get_xattr(at(name)), "0x20") << name;
    struct stat info {};
    ASSERT_EQ(stat(at("notes.txt").c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IWUSR, 0u);
    EXPECT_EQ(get_xattr(outside + "/secret"), "0x6");
}

TEST_F(CmdAttrib, without_d_folders_keep_their_bits_and_a_listing_shows_them) {
    std::filesystem::create_directories(at("Docs"));
    write_file(at("Docs/x.doc"), "d");
    ASSERT_TRUE(set_xattr_text(at("Docs"), "0x6"));
    ASSERT_TRUE(set_xattr_text(at("Docs/x.doc"), "0x2"));
    EXPECT_EQ(run("attrib -h -s /s T:\\*.*").status, 0);
    EXPECT_EQ(get_xattr(at("Docs")), "0x6");
    EXPECT_EQ(get_xattr(at("Docs/x.doc")), "0x0");
    EXPECT_EQ(run("attrib +h T:\\Docs\\x.doc").status, 0);
    EXPECT_EQ(run("attrib T:\\Docs\\*.doc").out, "    H        T:\\Docs\\x.doc\n");
    EXPECT_NE(run("attrib T:\\*.none").err.find("File not found"), std::string::npos);
}

// A stick as a shortcut virus leaves it, with the user's own files beside the virus's.
class InfectedStick : public CmdAttrib {
  protected:
    void SetUp() override {
        CmdAttrib::SetUp();
        if (testing::Test::IsSkipped() || HasFatalFailure()) return;
        namespace fs = std::filesystem;
        for (const char* dir : {"Photos", "School Work", "System Volume Information",
                                "$RECYCLE.BIN", "autorun.inf.d"})
            fs::create_directories(at(dir));
        write_file(at("Photos/beach.jpg"), std::string("\xFF\xD8\xFF\xE0 jpeg", 9));
        write_file(at("School Work/essay.docx"), "PK essay");
        write_file(at("System Volume Information/IndexerVolumeGuid"), "guid");
        // The virus: its autorun, its script, and shortcuts standing in for the folders.
        write_file(at("autorun.inf"), "[autorun]\r\nopen=wscript.exe x.vbs\r\n");
        write_file(at("x.vbs"), "CreateObject(\"WScript.Shell\")");
        write_file(at("Photos.lnk"), std::string("L\0\0\0\x01\x14\x02\0", 8) + "explorer");
        lnk_writer::Layout stick;
        stick.link_info = lnk_writer::local_target("C:\\Windows\\System32\\cmd.exe", 3);
        stick.arguments = u"/c start x.vbs&start explorer Photos&exit";
        const lnk_writer::Bytes bytes = lnk_writer::write(stick).bytes;
        write_file(at("Stick.lnk"), std::string(bytes.begin(), bytes.end()));
        // The user's: an ordinary shortcut, a document, a batch file of their own.
        write_file(at("Game.lnk"), std::string("L\0\0\0", 4) + "D:\\Games\\game.exe");
        write_file(at("report.pdf"), "%PDF-1.4 report");
        write_file(at("backup.bat"), "xcopy a b\r\n");
        for (const char* name :
             {"Photos", "School Work", "System Volume Information", "$RECYCLE.BIN"})
            set_xattr_text(at(name), "0x6");
        user_files = {"Photos/beach.jpg", "School Work/essay.docx",
                      "Game.lnk",         "report.pdf",
                      "backup.bat",       "System Volume Information/IndexerVolumeGuid"};
        before = snapshot(drive);
        // The batch starts the clean-up program from the current folder, as the tool does.
        ASSERT_EQ(symlink(UNVEILO_CLEAN_PROGRAM, (scratch / "unveilo-clean").c_str()), 0);
    }
    std::vector<std::string> user_files;
    std::map<std::string, std::string> before;
};

TEST_F(InfectedStick, datafile_quarantines_the_virus_and_leaves_the_user_files) {
    ASSERT_EQ(run("copy " UNVEILO_SOURCE_DIR "/datafile.dat T:\\temp.bat").status, 0);
    // Started from another folder: the batch must still work on its own drive.
    const Result result = run("T:\\temp.bat");
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("may infect it again"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Moved \"x.vbs\""), std::string::npos) << result.out;

    const std::string q = "UNVEILO-QUARANTINE/";
    const struct {
        const char* name;
    } quarantined[] = {{"autorun.inf"}, {"x.vbs"}, {"Photos.lnk"}, {"Stick.lnk"}};
    for (const auto& entry : quarantined) {
        EXPECT_FALSE(std::filesystem::exists(at(entry.name))) << entry.name;
        EXPECT_EQ(read_file(at(q + entry.name + ".quarantined")), before.at(entry.name))
            << entry.name;
    }
    const std::string note = read_file(at(q + "README-UNVEILO.txt"));
    for (const char* expected :
         {"\"autorun.inf\" to \"UNVEILO-QUARANTINE\\autorun.inf.quarantined\"", "\"Stick.lnk\" to",
          "\"Photos.lnk\" to", "\"x.vbs\" to", "unveilo-clean --undo T:"})
        EXPECT_NE(note.find(expected), std::string::npos) << expected << "\n" << note;
    for (const std::string& name : user_files)
        EXPECT_EQ(read_file(at(name)), before.at(name)) << name;
    EXPECT_TRUE(std::filesystem::is_directory(at("autorun.inf.d")));
    EXPECT_EQ(get_xattr(at("System Volume Information")), "0x6");
    EXPECT_EQ(get_xattr(at("$RECYCLE.BIN")), "0x6");
    // Nothing lost: every file before is somewhere after, with the same bytes.
    size_t files_after = snapshot(drive).size();
    EXPECT_EQ(files_after, before.size() + 3)
        << "temp.bat, the note and the manifest are the only new files";
}

TEST_F(InfectedStick, without_the_clean_up_program_the_batch_says_so_and_changes_nothing) {
    ASSERT_EQ(unlink((scratch / "unveilo-clean").c_str()), 0);
    ASSERT_EQ(run("copy " UNVEILO_SOURCE_DIR "/datafile.dat T:\\temp.bat").status, 0);
    const Result result = run("T:\\temp.bat");
    EXPECT_NE(result.out.find("The clean-up program unveilo-clean is missing beside Unveilo: "
                              "nothing was cleaned on T:."),
              std::string::npos)
        << result.out;
    std::map<std::string, std::string> after = snapshot(drive);
    after.erase("temp.bat");
    EXPECT_EQ(after, before);
}

TEST_F(InfectedStick, a_second_run_never_overwrites_the_quarantine) {
    ASSERT_EQ(run("copy " UNVEILO_SOURCE_DIR "/datafile.dat T:\\temp.bat").status, 0);
    run("T:\\temp.bat");
    write_file(at("autorun.inf"), "[autorun] second");
    const Result second = run("T:\\temp.bat");
    EXPECT_EQ(read_file(at("UNVEILO-QUARANTINE/autorun.inf.quarantined")),
              before.at("autorun.inf"));
    size_t seconds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(at("UNVEILO-QUARANTINE"))) {
        const std::string name = entry.path().filename().string();
        if (name != "autorun.inf.quarantined" && name.rfind("autorun.inf.", 0) == 0) {
            EXPECT_EQ(read_file(entry.path().string()), "[autorun] second");
            ++seconds;
        }
    }
    EXPECT_EQ(seconds, 1u) << second.out;
}

TEST_F(InfectedStick, a_clean_stick_is_left_as_it_is) {
    for (const char* name : {"autorun.inf", "x.vbs", "Photos.lnk", "Stick.lnk"})
        unlink(at(name).c_str());
    const std::map<std::string, std::string> clean = snapshot(drive);
    ASSERT_EQ(run("copy " UNVEILO_SOURCE_DIR "/datafile.dat T:\\temp.bat").status, 0);
    const Result result = run("T:\\temp.bat");
    EXPECT_NE(result.out.find("Nothing suspicious"), std::string::npos) << result.out;
    EXPECT_FALSE(std::filesystem::exists(at("UNVEILO-QUARANTINE")));
    std::map<std::string, std::string> after = snapshot(drive);
    after.erase("temp.bat");
    EXPECT_EQ(after, clean);
}

TEST_F(InfectedStick, a_folder_named_autorun_inf_is_a_vaccine_and_stays) {
    unlink(at("autorun.inf").c_str());
    ASSERT_EQ(mkdir(at("autorun.inf").c_str(), 0755), 0);
    ASSERT_EQ(run("copy " UNVEILO_SOURCE_DIR "/datafile.dat T:\\temp.bat").status, 0);
    run("T:\\temp.bat");
    EXPECT_TRUE(std::filesystem::is_directory(at("autorun.inf")));
    EXPECT_FALSE(std::filesystem::exists(at("UNVEILO-QUARANTINE/autorun.inf.quarantined")));
    EXPECT_TRUE(std::filesystem::exists(at("UNVEILO-QUARANTINE/x.vbs.quarantined")));
}

} // namespace

namespace {

// The rules a batch file meets under cmd, in one batch: each line's output is checked below.
TEST_F(CmdRun, a_batch_meets_the_interpreters_phases) {
    std::filesystem::create_directory(at("Music"));
    write_file(at("Music/a.txt"), "a");
    write_file(at("shown.txt"), "s");
    write_file(at("secret.txt"), "s");
    const bool hidden = set_xattr_text(at("secret.txt"), "0x2");
    std::string wide;
    for (const char c : std::string("x\\POWERSHELL.exe -c y.js")) wide += std::string{c, '\0'};
    write_file(at("w.lnk"), std::string("L\0\0\0", 4) + wide + std::string("\0\0", 2));
    write_file(at("t.bat"),
               "@echo off\r\n"
               "set \"N=%%PATH%%\"\r\n"
               "echo 1 %N%\r\n"      // one expansion only
               "call echo 2 %N%\r\n" // CALL expands once more
               "set /a K=6*7\r\n"
               "setlocal\r\nset \"K=local\"\r\nendlocal\r\n"
               "echo 3 %K%\r\n" // ENDLOCAL brings 42 back
               "if exist T:\\MUSIC\\A.TXT echo 4 case\r\n"
               "for %%f in (T:\\*.txt) do echo 5 %%~nxf\r\n" // the hidden one is not listed
               "findstr /i /r /c:\"p.o.w.e.r.s.h.e.l.l\" w.lnk >nul && echo 6 utf16\r\n"
               "findstr /i /r /c:\"\\..j.s.[^a-z0-9]\" < w.lnk >nul && echo 7 stdin\r\n"
               "dir /b /ad T:\\\r\n"
               "(\r\n  set \"B=in block\"\r\n  echo 9 [%B%]\r\n)\r\n" // expanded when read
               "goto :eof\r\n");
    ASSERT_EQ(chdir(drive.c_str()), 0);
    const Result result = run("T:\\t.bat");
    EXPECT_EQ(result.out, "1 %PATH%\n2 " + std::string(std::getenv("PATH")) + "\n3 42\n4 case\n" +
                              (hidden ? "" : "5 secret.txt\n") +
                              "5 shown.txt\n6 utf16\n7 stdin\nMusic\n9 []\n")
        << result.err;
}

// A line nested deeper than the parser allows is refused: nothing of it runs, and the batch file
// ends there, as it does at any line cmd cannot parse.
TEST_F(CmdRun, a_line_nested_too_deeply_ends_the_batch) {
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "(";
    write_file(at("t.bat"), "@echo off\r\necho before\r\n" + deep + "md T:\\inside)\r\n" +
                                "md T:\\after\r\necho after\r\n");
    const Result result = run("T:\\t.bat");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "before\n");
    EXPECT_EQ(result.err, "The commands are nested too deeply.\n");
    EXPECT_FALSE(std::filesystem::exists(at("inside")));
    EXPECT_FALSE(std::filesystem::exists(at("after")));
    const Result line = run(deep);
    EXPECT_EQ(line.status, 1);
    EXPECT_EQ(line.err, "The commands are nested too deeply.\n");
}

// SET /A on 64-bit numbers: overflow wraps round, the one quotient that does not fit gives the
// smallest number instead of a division trap, and nesting is bounded.
TEST_F(CmdRun, set_a_wraps_and_bounds_its_nesting) {
    const auto repeated = [](const std::string& piece, int times) {
        std::string out;
        for (int i = 0; i < times; ++i) out += piece;
        return out;
    };
    const struct {
        std::string expression;
        const char* value; // nullptr: refused as nested too deeply
    } cases[] = {
        {"((1+2))*2", "6"},
        {"7/-1", "-7"},
        {"--5", "5"},
        {"-9223372036854775807-1", "-9223372036854775808"},
        {"9223372036854775807+1", "-9223372036854775808"},
        {"(-9223372036854775807-1)/-1", "-9223372036854775808"},
        {"(-9223372036854775807-1)%-1", "0"},
        {"-(-9223372036854775807-1)", "-9223372036854775808"},
        {"4294967296*4294967296", "0"},
        {repeated("(", 256) + "1" + repeated(")", 256), "1"},
        {repeated("(", 257) + "1", nullptr},
        {repeated("(", 100000), nullptr},
        {repeated("-", 100000) + "1", nullptr},
    };
    for (const auto& c : cases) {
        const Result result = run("set /a X=" + c.expression + " && call echo %X%");
        const std::string shown = c.expression.substr(0, 40);
        if (c.value == nullptr) {
            EXPECT_EQ(result.status, 1) << shown;
            EXPECT_EQ(result.err, "The expression is nested too deeply.\n") << shown;
            EXPECT_EQ(result.out, "") << shown;
        } else {
            EXPECT_EQ(result.status, 0) << shown;
            EXPECT_EQ(result.out, std::string(c.value) + "\n") << shown << result.err;
        }
    }
}

// cmd reads a batch file line by line: one that disappears while it runs (a stick pulled out)
// ends there, and a path longer than Windows allows is refused.
TEST_F(CmdRun, a_batch_that_goes_away_ends_and_long_paths_are_refused) {
    write_file(at("t.bat"), "@echo off\r\necho one\r\nmove T:\\t.bat T:\\gone.bat >nul\r\n"
                            "echo never\r\n");
    const Result gone = run("T:\\t.bat");
    EXPECT_EQ(gone.out, "one\n");
    EXPECT_NE(gone.err.find("The batch file cannot be found."), std::string::npos);
    const Result long_path = run("md T:\\" + std::string(260, 'x'));
    EXPECT_NE(long_path.err.find("too long"), std::string::npos);
    EXPECT_EQ(run("if exist T:\\GONE.BAT. echo trimmed").out, "trimmed\n");
}

} // namespace
