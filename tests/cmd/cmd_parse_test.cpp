#include "cmd/cmd_parse.h"
#include "cmd/cmd_tree.h"
#include "runtime/platform/posix/dos_attrib.h"

#include <gtest/gtest.h>

namespace {

// The command tree as text: kinds, joins and redirections, so that one table shows the parse.
std::string shape(const CmdList& list) {
    std::string out;
    for (const CmdCommand& c : list) {
        if (!out.empty())
            out += c.join == CmdJoin::on_success   ? " && "
                   : c.join == CmdJoin::on_failure ? " || "
                                                   : " ; ";
        switch (c.kind) {
        case CmdCommand::simple: out += "[" + c.text + "]"; break;
        case CmdCommand::block: out += "(" + shape(c.body) + ")"; break;
        case CmdCommand::if_test:
            out += "if{" + std::string(c.negate ? "not " : "") + c.left + " " + c.op + " " +
                   c.right + "}" + shape(c.body);
            if (!c.otherwise.empty()) out += " else " + shape(c.otherwise);
            break;
        case CmdCommand::for_loop:
            out += std::string("for{%") + c.variable + " in " + c.set + "}" + shape(c.body);
            break;
        }
        for (const CmdRedirect& r : c.redirects)
            out += " " + std::to_string(r.fd) + (r.append ? ">>" : ">") +
                   (r.duplicate >= 0 ? "&" + std::to_string(r.duplicate) : r.target);
    }
    return out;
}

TEST(cmd_parse_line, special_characters_blocks_if_and_for) {
    const struct {
        const char* line;
        const char* tree;
    } cases[] = {
        {"echo a \"x & y\" & move a b >nul && echo ok>>\"E:\\n t.txt\" || rem x",
         // The blanks before a redirection stay in the text ("echo x >f" writes "x ").
         "[echo a \"x & y\" ] ; [move a b  ] 1>nul && [echo ok ] 1>>\"E:\\n t.txt\""},
        {">> \"note.txt\" echo hello", "[ echo hello] 1>>\"note.txt\""},
        {"findstr x f 2>nul >nul 2>&1", "[findstr x f   ] 2>nul 1>nul 2>&1"},
        {"echo a^&b ^> c", "[echo a&b > c]"},
        {"echo \"a^&b\"", "[echo \"a^&b\"]"},
        {"if /i \"%x%\"==\"yes\" echo y & echo z", "if{\"%x%\" == \"yes\"}[echo y ] ; [echo z]"},
        {"if not exist \"E:\\a b\\*\" md x", "if{not \"E:\\a b\\*\"  }[md x]"},
        {"if 3 GEQ 2 (echo a) else (echo b)", "if{3 GEQ 2}([echo a]) else ([echo b])"},
        {"(\n  echo a\n  echo b )\n", "([echo a] ; [echo b ])"},
        {"for %f in (*.vbs \"a b\") do (set \"V=%~nxf\" & call :q)",
         "for{%f in *.vbs \"a b\"}([set \"V=%~nxf\" ] ; [call :q])"},
        {"for /d %d in (*) do echo %d", "for{%d in *}[echo %d]"},
        {":label & echo never", ""},
        {"  @  ", ""},
    };
    for (const auto& c : cases) {
        const CmdParse parsed = cmd_parse_line(c.line);
        EXPECT_EQ(parsed.error, "") << c.line;
        EXPECT_FALSE(parsed.incomplete) << c.line;
        EXPECT_EQ(shape(parsed.commands), c.tree) << c.line;
    }
    EXPECT_TRUE(cmd_parse_line("if exist x (").incomplete);
    EXPECT_TRUE(cmd_parse_line("for %f in (a) do (echo %f").incomplete);
    for (const char* bad : {"if exist", "if a== echo", "for f in (a) do x", "for %f in (a) x",
                            "echo a | more", "for /f %a in (x) do y"})
        EXPECT_NE(cmd_parse_line(bad).error, "") << bad;
}

std::string repeated(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// Blocks and IF and FOR bodies nest up to CMD_MAX_NESTING, then the line is refused with an error
// instead of running the stack out (a fuzzer's "(" x 100000 did).
TEST(cmd_parse_line, nesting_is_bounded) {
    const int most = CMD_MAX_NESTING;
    const struct {
        std::string line;
        bool refused;
    } cases[] = {
        {repeated("(", most) + "echo x" + repeated(")", most), false},
        {repeated("(", most + 1) + "echo x" + repeated(")", most + 1), true},
        {repeated("(", 100000), true},
        {repeated("if 1==1 ", most) + "echo x", false},
        {repeated("if 1==1 ", most + 1) + "echo x", true},
        {repeated("for %a in (x) do ", most) + "echo %a", false},
        {repeated("for %a in (x) do ", most + 1) + "echo %a", true},
        {repeated("if 1==1 (", most) + "echo x" + repeated(")", most), false},
        {repeated("if 1==1 (", most) + "echo x" + repeated(")", most - 1) + ") else (echo y)",
         false},
        {repeated("for %a in (x) do (if 1==1 ", most / 2 + 1) + "echo" +
             repeated(")", most / 2 + 1),
         true},
        // Blocks one after the other are no deeper than one.
        {repeated("(echo x) & ", 5000) + "echo y", false},
    };
    for (const auto& c : cases) {
        const CmdParse parsed = cmd_parse_line(c.line);
        const std::string shown = c.line.substr(0, 60);
        EXPECT_EQ(parsed.error, c.refused ? "The commands are nested too deeply." : "") << shown;
        EXPECT_FALSE(parsed.incomplete) << shown;
        if (!c.refused) {
            EXPECT_NE(shape(parsed.commands), "") << shown;
        }
    }
    // The innermost command of the deepest line the bound allows is still there.
    const CmdParse deepest = cmd_parse_line(repeated("(", most) + "echo x" + repeated(")", most));
    const CmdList* inner = &deepest.commands;
    for (int level = 0; level < most; ++level) {
        ASSERT_EQ(inner->size(), 1u);
        ASSERT_EQ(inner->front().kind, CmdCommand::block);
        inner = &inner->front().body;
    }
    EXPECT_EQ(shape(*inner), "[echo x]");
}

// A FOR value goes into the finished tree: whatever it holds stays text.
TEST(cmd_substitute_tree, a_value_never_becomes_syntax) {
    CmdParse parsed = cmd_parse_line("if exist \"%~nxf\" move %f \"Q\\%~nxf.q\" >>\"%~nf.log\"");
    cmd_substitute_tree(parsed.commands, 'f', "a & del x) %PATH% ^!.vbs", "E:\\a.vbs");
    EXPECT_EQ(shape(parsed.commands),
              "if{\"a & del x) %PATH% ^!.vbs\"  }[move a & del x) %PATH% ^!.vbs \"Q\\a & "
              "del x) %PATH% ^!.vbs.q\" ] 1>>\"a & del x) %PATH% ^!.log\"");
}

TEST(cmd_split_words, quotes_group_and_stay) {
    const std::vector<std::string> expected{"copy", "\"a b.txt\"", "E:\\x", "\"\""};
    EXPECT_EQ(cmd_split_words(" copy \t\"a b.txt\"  E:\\x \"\""), expected);
    EXPECT_EQ(cmd_unquote("\"E:\\My Files\""), "E:\\My Files");
}

TEST(cmd_split_name, names_end_where_the_interpreter_ends_them) {
    const struct {
        const char* line;
        const char* name;
        const char* rest;
    } cases[] = {
        {"echo hello", "echo", "hello"},
        {"echo.", "echo", "."},
        {"echo  two", "echo", " two"},
        {"E:\\temp.bat", "E:\\temp.bat", ""},
        {"datafile.dat x", "datafile.dat", "x"},
        {"\"C:\\Program Files\\x.exe\" -a", "\"C:\\Program Files\\x.exe\"", "-a"},
        {"md(x)", "md", "(x)"},
        {"  rem note", "rem", "note"},
    };
    for (const auto& c : cases) {
        const CmdName name = cmd_split_name(c.line);
        EXPECT_EQ(name.name, c.name) << c.line;
        EXPECT_EQ(name.rest, c.rest) << c.line;
    }
}

TEST(cmd_expand, arguments_modifiers_variables_and_percent_signs) {
    const std::vector<std::string> args{"E:\\temp.bat", "\"E:\\My Photos.lnk\"", "two"};
    const CmdVariables vars = [](const std::string& name) -> std::optional<std::string> {
        if (name == "Q") return "E:\\UNVEILO-QUARANTINE";
        return std::nullopt;
    };
    const struct {
        const char* line;
        const char* out;
    } cases[] = {
        {"%~d0", "E:"},
        {"set Q=%~d0\\Q", "set Q=E:\\Q"},
        {"%~dp0", "E:\\"},
        {"%~nx0", "temp.bat"},
        {"%1 %~1 %~n1 %~x1", "\"E:\\My Photos.lnk\" E:\\My Photos.lnk My Photos .lnk"},
        {"%2%3%9", "two"},
        {"%*", "\"E:\\My Photos.lnk\" two"},
        {"%Q%\\x", "E:\\UNVEILO-QUARANTINE\\x"},
        {"[%UNSET%]", "[]"},
        {"for %%f in (*) do echo %%~nf", "for %f in (*) do echo %~nf"},
        {"100%", "100"},
        // Names may hold spaces; a "%" that opens nothing goes, and the scan goes on after it.
        {"50% of 100% done", "50 done"},
        {"a%b", "ab"},
        {"%Q:~-10,3% %Q:UNVEILO=U% %Q:*\\=%", "QUA E:\\U-QUARANTINE UNVEILO-QUARANTINE"},
        {"[%UNSET:~0,1%]", "[~0,1]"},
    };
    for (const auto& c : cases) EXPECT_EQ(cmd_expand(c.line, args, vars), c.out) << c.line;
    bool fatal = false;
    cmd_expand("a %~q0 b", args, vars, &fatal);
    EXPECT_TRUE(fatal);
}

TEST(cmd_substitute_for, plain_and_modified_variable) {
    EXPECT_EQ(cmd_substitute_for("call :x \"%~f\" %f %~nf %~nxf %~dpf %g", 'f', "\"a b.lnk\"",
                                 "E:\\a b.lnk"),
              "call :x \"a b.lnk\" \"a b.lnk\" a b a b.lnk E:\\ %g");
}

TEST(cmd_parse_attrib, switches_and_paths) {
    const CmdAttribArgs a = cmd_parse_attrib({"-h", "-R", "-s", "/s", "/D", "E:\\*.*"});
    EXPECT_TRUE(a.error.empty());
    EXPECT_EQ(a.clear, DOS_ATTRIB_HIDDEN | DOS_ATTRIB_READONLY | DOS_ATTRIB_SYSTEM);
    EXPECT_EQ(a.set, 0u);
    EXPECT_TRUE(a.recurse);
    EXPECT_TRUE(a.directories);
    EXPECT_EQ(a.paths, std::vector<std::string>{"E:\\*.*"});
    const CmdAttribArgs b = cmd_parse_attrib({"+h", "+s", "\"E:\\System Volume Information\""});
    EXPECT_EQ(b.set, DOS_ATTRIB_HIDDEN | DOS_ATTRIB_SYSTEM);
    EXPECT_EQ(b.paths, std::vector<std::string>{"E:\\System Volume Information"});
    EXPECT_FALSE(cmd_parse_attrib({"+x"}).error.empty());
    EXPECT_FALSE(cmd_parse_attrib({"/q"}).error.empty());
    EXPECT_FALSE(cmd_parse_attrib({"+h", "-h"}).error.empty());
}

TEST(cmd_wildcard_match, dos_rules) {
    const struct {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*.*", "README", true},
        {"*.*", "a.b.c", true},
        {"*.lnk", "Photos.LNK", true},
        {"*.lnk", "Photos.lnk.bak", false},
        {"?.txt", "a.txt", true},
        {"?.txt", "ab.txt", false},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"*", "", true},
        {"autorun.inf", "AUTORUN.INF", true},
        {"*", "*hoLNK", true},
        {"*.*", "*", true},
        {"*.js", "x.jse", false},
        {"", "a", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cmd_wildcard_match(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

} // namespace
