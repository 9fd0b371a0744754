#include "runtime/platform/posix/cmd/cmd_parse.h"
#include "runtime/platform/posix/dos_attrib.h"

#include <gtest/gtest.h>

namespace {

TEST(cmd_split_segments, joins_and_redirections) {
    const std::vector<CmdSegment> segments =
        cmd_split_segments("@echo a \"x & y\" & move a b >nul && echo ok>>\"E:\\n t.txt\" || rem");
    ASSERT_EQ(segments.size(), 4u);
    EXPECT_EQ(segments[0].text, "echo a \"x & y\"");
    EXPECT_EQ(segments[0].join, CmdJoin::always);
    EXPECT_EQ(segments[1].text, "move a b");
    EXPECT_EQ(segments[1].redirect, "nul");
    EXPECT_FALSE(segments[1].append);
    EXPECT_EQ(segments[2].join, CmdJoin::on_success);
    EXPECT_EQ(segments[2].text, "echo ok");
    EXPECT_EQ(segments[2].redirect, "E:\\n t.txt");
    EXPECT_TRUE(segments[2].append);
    EXPECT_EQ(segments[3].join, CmdJoin::on_failure);
    EXPECT_EQ(segments[3].text, "rem");
}

TEST(cmd_split_segments, redirection_first_and_explicit_handle) {
    const std::vector<CmdSegment> a = cmd_split_segments(">> \"note.txt\" echo hello there");
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].text, "echo hello there");
    EXPECT_EQ(a[0].redirect, "note.txt");
    const std::vector<CmdSegment> b = cmd_split_segments("findstr x f 1>nul");
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].text, "findstr x f");
    EXPECT_TRUE(cmd_split_segments("  @  ").empty());
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
        {"50% of 100% done", "50% of 100% done"},
        {"a %~q0 b", "a %~q0 b"},
    };
    for (const auto& c : cases) EXPECT_EQ(cmd_expand(c.line, args, vars), c.out) << c.line;
}

TEST(cmd_substitute_for, plain_and_modified_variable) {
    EXPECT_EQ(cmd_substitute_for("call :x \"%~f\" %f %~nf %~nxf %g", 'f', "\"E:\\a b.lnk\""),
              "call :x \"E:\\a b.lnk\" \"E:\\a b.lnk\" a b a b.lnk %g");
}

TEST(cmd_parse_if, three_kinds) {
    const std::optional<CmdIf> a =
        cmd_parse_if("not exist \"E:\\System Volume Information\\\" md x");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->kind, CmdIf::exist);
    EXPECT_TRUE(a->negate);
    EXPECT_EQ(a->left, "E:\\System Volume Information\\");
    EXPECT_EQ(a->command, "md x");
    const std::optional<CmdIf> b = cmd_parse_if("errorlevel 1 goto :eof");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->kind, CmdIf::errorlevel);
    EXPECT_EQ(b->left, "1");
    const std::optional<CmdIf> c = cmd_parse_if("/i \"%x%\" == \"yes\" echo y");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind, CmdIf::compare);
    EXPECT_TRUE(c->ignore_case);
    EXPECT_EQ(c->left, "\"%x%\"");
    EXPECT_EQ(c->right, "\"yes\"");
    EXPECT_EQ(c->command, "echo y");
    for (const char* bad : {"", "exist", "exist x", "errorlevel x echo", "a== b", "a==b", "not"})
        EXPECT_FALSE(cmd_parse_if(bad)) << bad;
}

TEST(cmd_parse_for, set_and_command) {
    const std::optional<CmdFor> loop =
        cmd_parse_for("%f in (\"E:\\*.vbs\" \"E:\\a (1).js\" *.wsf) do call :q \"%~f\"");
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->variable, 'f');
    const std::vector<std::string> set{"\"E:\\*.vbs\"", "\"E:\\a (1).js\"", "*.wsf"};
    EXPECT_EQ(loop->set, set);
    EXPECT_EQ(loop->command, "call :q \"%~f\"");
    for (const char* bad : {"", "%f in", "%f in (a", "%f in (a) echo", "f in (a) do x",
                            "%f in (a) do", "%% in (a) do x"})
        EXPECT_FALSE(cmd_parse_for(bad)) << bad;
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
