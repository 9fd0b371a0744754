// Which programs run handed code, and which files a command line runs or loads: tables of the
// command lines real infections write, and of lines that open only the user's own things.
#include <gtest/gtest.h>

#include "clean/rules.h"

namespace {

TEST(rules_interpreter, names_the_runner) {
    const struct {
        const char* program;
        const char* runner;
    } cases[] = {
        {"C:\\Windows\\System32\\cmd.exe", "cmd.exe"},
        {"%windir%\\system32\\RUNDLL32.EXE", "rundll32.exe"},
        {"\"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe\"", "powershell.exe"},
        {"cmd", "cmd.exe"},
        {"wscript", "wscript.exe"},
        {"C:/Windows/System32/mshta.exe", "mshta.exe"},
        {"C:\\Windows\\System32\\conhost.exe", "conhost.exe"},
        {"C:\\Windows\\explorer.exe", ""},
        {"E:\\Apps\\tool.exe", ""},
        {"cmd.exe.lnk", ""},
        {"", ""},
        {"notcmd.exe", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(rules_interpreter(c.program), c.runner) << c.program;
}

// A reference written as the table writes it: "text" (runnable kinds only), "text*" (any
// extension), "text?" (a pattern of any extension).
std::vector<std::string> written(const std::vector<FileRef>& refs) {
    std::vector<std::string> out;
    for (const FileRef& ref : refs)
        out.push_back(ref.text + (ref.pattern ? "?" : ref.any_extension ? "*" : ""));
    return out;
}

TEST(rules_command_files, what_a_line_runs) {
    const struct {
        const char* program;
        const char* arguments;
        std::vector<std::string> files;
    } cases[] = {
        // VBS worms: the script runs, the folder and the document open for the user.
        {"cmd.exe", "/c start x.vbs&start explorer \"Photos\"&exit", {"x.vbs"}},
        {"cmd.exe", "/c start x.vbs&start \"\" \"CV.docx\"&exit", {"x.vbs"}},
        {"cmd.exe",
         "/C \"start wscript.exe //e:vbscript ~$x.dat & start explorer Docs\"",
         {"~$x.dat*"}},
        // Raspberry Robin: cmd reads commands from a file; mixed case, no space after /r.
        {"C:\\Windows\\System32\\cmd.exe", "/RcMD<qjM.chK", {"qjM.chK*"}},
        {"cmd.exe", "/q /d /c cmd < \"E:\\abc.xyz\"", {"E:\\abc.xyz*"}},
        // Andromeda and autorun worms: rundll32's library, whatever its name.
        {"%windir%\\system32\\rundll32.exe", "~$W1A2B.usb,Export", {"~$W1A2B.usb*"}},
        {"rundll32.exe",
         ".\\RECYCLER\\S-5-3-42\\jwgkvsq.vmx,ahaezedrn",
         {".\\RECYCLER\\S-5-3-42\\jwgkvsq.vmx*"}},
        {"regsvr32", "/s /u /i:http://x/y scrobj.dll e:\\lib.ocx", {"scrobj.dll*", "e:\\lib.ocx*"}},
        // Phorpiex, script-folder and memory-card worms.
        {"cmd.exe", "/c start _ & _\\DeviceManager.exe & exit", {"_\\DeviceManager.exe"}},
        {"cmd", "/C .\\WindowsServices\\helper.vbs", {".\\WindowsServices\\helper.vbs"}},
        {"wscript.exe",
         "//B \"WindowsServices\\installer.vbs\"",
         {"WindowsServices\\installer.vbs*"}},
        {"cmd.exe",
         "/c ren sys\\*.vbss *.vbs &start \\sys\\x.vbs&start explorer Docs&exit",
         {"sys\\*.vbss?", "\\sys\\x.vbs"}},
        // Other hosts.
        {"mshta.exe", "E:\\run.hta", {"E:\\run.hta*"}},
        {"mshta.exe", "vbscript:Execute(\"x\")", {}},
        {"powershell.exe", "-NoP -W Hidden -File .\\a.ps1", {".\\a.ps1*"}},
        {"msiexec", "/q /i setup.msi", {"setup.msi*"}},
        {"conhost.exe", "--headless cmd.exe /c start y.js", {"y.js"}},
        {"cmd.exe", "/c call run.bat & cmd /c start z.exe", {"run.bat", "z.exe"}},
        // A program on the stick runs itself; a document target opens for the user.
        {"E:\\"
         "\xe3\x85\xa4"
         "\\ .exe",
         "",
         {"E:\\"
          "\xe3\x85\xa4"
          "\\ .exe"}},
        {"C:\\Windows\\explorer.exe", "Photos", {"C:\\Windows\\explorer.exe"}},
        {"cmd.exe", "/k", {}},
        {"cmd.exe", "", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(written(rules_command_files(c.program, c.arguments)), c.files)
            << c.program << " " << c.arguments;
}

TEST(rules_command_files, nesting_stops_without_a_crash) {
    std::string line = "x.vbs";
    for (int i = 0; i < 200; ++i) line = "cmd /c " + line;
    EXPECT_TRUE(rules_command_files("cmd.exe", "/c " + line).empty());
    EXPECT_EQ(written(rules_command_files("cmd.exe", "/c cmd /c cmd /c start a.js")),
              std::vector<std::string>{"a.js"});
}

} // namespace
