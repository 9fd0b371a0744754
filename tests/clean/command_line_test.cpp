#include <gtest/gtest.h>

#include "clean/command_line.h"

namespace {

TEST(command_program, takes_the_program_as_create_process_does) {
    const struct {
        const char* line;
        const char* program;
        const char* rest;
    } cases[] = {
        {"C:\\Windows\\System32\\cmd.exe /c start x.vbs", "C:\\Windows\\System32\\cmd.exe",
         "/c start x.vbs"},
        {"\"C:\\Program Files\\a.exe\"  -x", "C:\\Program Files\\a.exe", "-x"},
        {"  rundll32.exe\t~$W1.dll,Run", "rundll32.exe", "~$W1.dll,Run"},
        {"\"unterminated arg", "unterminated arg", ""},
        {"\"a b\"c.exe rest", "a b", "c.exe rest"},
        {"wscript", "wscript", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string rest = "unset";
        EXPECT_EQ(command_program(c.line, &rest), c.program);
        EXPECT_EQ(rest, c.rest);
    }
}

TEST(command_arguments, splits_as_the_c_run_time_documents) {
    const struct {
        const char* rest;
        std::vector<std::string> arguments;
    } cases[] = {
        // The examples of "Parsing C command-line arguments".
        {R"("a b c" d e)", {"a b c", "d", "e"}},
        {R"("ab\"c" "\\" d)", {"ab\"c", "\\", "d"}},
        {R"(a\\\b d"e f"g h)", {"a\\\\\\b", "de fg", "h"}},
        {R"(a\\\"b c d)", {"a\\\"b", "c", "d"}},
        {R"(a\\\\"b c" d e)", {"a\\\\b c", "d", "e"}},
        {R"(a"b"" c d)", {"ab\"", "c", "d"}},
        // Doubled quotes in and out of quoted parts, as CommandLineToArgvW splits them.
        {R"("""a""" b)", {"\"a\"", "b"}},
        {R"("a""b""c" d)", {"a\"bc d"}},
        // And what shortcuts hand over.
        {R"(~$W1A2B.FAT32,_WinMainA@16)", {"~$W1A2B.FAT32,_WinMainA@16"}},
        {"//B //E:VBScript.Encode \"E:\\a b\\x.vbe\"  ",
         {"//B", "//E:VBScript.Encode", "E:\\a b\\x.vbe"}},
        {R"("" x)", {"", "x"}},
        {R"(C:\dir\ "C:\dir\\")", {"C:\\dir\\", "C:\\dir\\"}},
        {"  \t ", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rest);
        EXPECT_EQ(command_arguments(c.rest), c.arguments);
    }
}

TEST(cmd_command_text, finds_the_command_after_c_k_or_r_and_applies_the_quote_rule) {
    const struct {
        const char* arguments;
        bool found;
        const char* text;
    } cases[] = {
        {"/c start x.vbs&start explorer \"Photos\"&exit", true,
         "start x.vbs&start explorer \"Photos\"&exit"},
        {"/c start \"\" \"CV.docx\"", true, "start \"\" \"CV.docx\""},
        {"/RcMD<qjM.chK", true, "cMD<qjM.chK"},
        {"/C .\\WindowsServices\\helper.vbs", true, ".\\WindowsServices\\helper.vbs"},
        {"/q/c echo", true, "echo"},
        {"/D /Q /T:0a /E:ON /F:OFF /V:ON /A /U /c x", true, "x"},
        {"/t:0a/k dir", true, "dir"},
        {"/cecho hi", true, "echo hi"},
        {"junk /c x", true, "x"},
        {"/c", true, ""},
        {"/q /d", false, ""},
        {"", false, ""},
        // The quote rule.
        {"/c \"start x.vbs & exit\"", true, "start x.vbs & exit"},
        {"/c \"C:\\Program Files\\App\\run.exe\"", true, "\"C:\\Program Files\\App\\run.exe\""},
        {"/S /c \"C:\\Program Files\\App\\run.exe\"", true, "C:\\Program Files\\App\\run.exe"},
        {"/c \"start x.vbs\"", true, "start x.vbs"},
        {"/c \"my script\"", true, "my script"},
        {"/c \"\"C:\\a b\\x.exe\" arg\"", true, "\"C:\\a b\\x.exe\" arg"},
        {"/c \"a.exe\" tail", true, "a.exe tail"},
        {"/c \"a b.exe\" \"tail\"", true, "a b.exe\" \"tail"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        bool found = !c.found;
        EXPECT_EQ(cmd_command_text(c.arguments, &found), c.text);
        EXPECT_EQ(found, c.found);
    }
}

std::string render(const std::vector<CmdCommand>& commands) {
    std::string out;
    for (const CmdCommand& command : commands) {
        out += "[";
        for (size_t i = 0; i < command.words.size(); ++i) out += (i ? "," : "") + command.words[i];
        for (const std::string& file : command.inputs) out += " <" + file;
        for (const std::string& file : command.outputs) out += " >" + file;
        out += "]";
    }
    return out;
}

TEST(cmd_commands, splits_a_line_as_cmd_reads_it) {
    const struct {
        const char* text;
        const char* commands;
    } cases[] = {
        // The lines the families leave.
        {"start x.vbs&start explorer \"Photos\"&exit",
         "[start,x.vbs][start,explorer,\"Photos\"][exit]"},
        {"start \"\" \"CV.docx\"", "[start,\"\",\"CV.docx\"]"},
        {"cMD<qjM.chK", "[cMD <qjM.chK]"},
        {"ren dir\\*.vbss *.vbs &start \\dir\\x.vbs&start explorer Folder&exit",
         "[ren,dir\\*.vbss,*.vbs][start,\\dir\\x.vbs][start,explorer,Folder][exit]"},
        {"start _ & _\\DeviceManager.exe & exit", "[start,_][_\\DeviceManager.exe][exit]"},
        {".\\WindowsServices\\helper.vbs", "[.\\WindowsServices\\helper.vbs]"},
        // Separators, quotes and carets.
        {"a && b || c | d", "[a][b][c][d]"},
        {"echo a^&b ^^ \"x&y|z\"", "[echo,a&b,^,\"x&y|z\"]"},
        {"echo x^", "[echo,x]"},
        {"start x.vbs&", "[start,x.vbs]"},
        {"a\r\nb", "[a][b]"},
        {"\"C:\\a b\\x.exe\" arg", "[\"C:\\a b\\x.exe\",arg]"},
        {"%comspec% /c %tmp%\\x.bat", "[%comspec%,/c,%tmp%\\x.bat]"},
        // Redirections.
        {"type x.txt 2>nul >out.txt 2>&1 >>log 1>o 0<in <\"a b\"",
         "[type,x.txt <in <a b >nul >out.txt >log >o]"},
        {">out echo hi", "[echo,hi >out]"},
        {"echo 2 >x", "[echo,2 >x]"},
        {"cmd<^\"a^&b\"", "[cmd <a&b]"},
        {"a >", "[a]"},
        // Blocks and the echo-off sign.
        {"(start a.vbs & start b.vbs)", "[start,a.vbs][start,b.vbs]"},
        {"if exist x.vbs (wscript x.vbs) else (start y)",
         "[if,exist,x.vbs][wscript,x.vbs][else][start,y]"},
        {"echo a)b", "[echo,a)b]"},
        {"@start /b x.exe", "[start,/b,x.exe]"},
        {"echo a@b", "[echo,a@b]"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(render(cmd_commands(c.text)), c.commands);
    }
}

} // namespace
