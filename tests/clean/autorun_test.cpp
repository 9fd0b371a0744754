#include <gtest/gtest.h>

#include "clean/autorun.h"

namespace {

Autorun read(const std::string& text, AutorunStatus expected = AutorunStatus::ok) {
    Autorun autorun;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(autorun_read(std::span<const uint8_t>(bytes, text.size()), autorun), expected);
    return autorun;
}

std::string entries(const Autorun& autorun) {
    std::string out;
    for (const AutorunEntry& e : autorun.entries)
        out += "[" + e.section + "] " + e.key + "=" + e.value + "\n";
    return out;
}

// What the autorun-era worms write, padded and cased to slip past naive readers.
TEST(autorun_read, reads_worm_files_as_the_profile_functions_do) {
    const struct {
        const char* what;
        std::string text;
        std::string entries;
    } cases[] = {
        {"plain", "[autorun]\r\nopen=x.exe\r\nicon=x.exe,0\r\n",
         "[autorun] open=x.exe\n[autorun] icon=x.exe,0\n"},
        {"odd case, blanks and junk lines",
         ";jdfh\r\n\r\n  [AuToRuN]  \r\nasdkjh 8723\r\n  ShElL\\oPeN\\CoMmAnD   =  "
         "RECYCLER\\S-1-5-21\\x.exe  \r\n;open=commented.exe\r\n\tShellExecute\t=\tjwgkvsq.vmx "
         "\r\nUseAutoPlay=1\n",
         "[autorun] shell\\open\\command=RECYCLER\\S-1-5-21\\x.exe\n"
         "[autorun] shellexecute=jwgkvsq.vmx\n[autorun] useautoplay=1\n"},
        {"one pair of enclosing quotes is removed, double or single",
         "[autorun]\nopen=\"a b.exe\"\nicon='x.ico'\nlabel=\"\"q\"\"\naction=\"half\n",
         "[autorun] open=a b.exe\n[autorun] icon=x.ico\n[autorun] label=\"q\"\n"
         "[autorun] action=\"half\n"},
        {"only autorun sections count; the per-processor ones do",
         "open=before.exe\n[autorun.amd64]\nopen=a64.exe\n[Content]\nMusicFiles=true\n"
         "[autorun.ia64] junk after the bracket\nopen=i64.exe\n[autorunner]\nopen=no.exe\n",
         "[autorun.amd64] open=a64.exe\n[autorun.ia64] open=i64.exe\n"},
        {"the first '=' splits; empty keys are dropped",
         "[autorun]\nopen=rundll32.exe a.dll,Start key=value\n=x.exe\nshell=verb\n",
         "[autorun] open=rundll32.exe a.dll,Start key=value\n[autorun] shell=verb\n"},
        {"a key given twice appears twice", "[autorun]\nopen=first.exe\nOPEN=second.exe\n",
         "[autorun] open=first.exe\n[autorun] open=second.exe\n"},
        {"CR, LF and NUL end lines",
         std::string("[autorun]\ropen=a.exe") + '\0' + "shellexecute=b.exe",
         "[autorun] open=a.exe\n[autorun] shellexecute=b.exe\n"},
        {"a section without its bracket runs to the end of the line", "[autorun\nopen=x.exe\n",
         "[autorun] open=x.exe\n"},
        {"a section header with inner blanks", "[ autorun ]\nopen=x.exe\n",
         "[autorun] open=x.exe\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(entries(read(c.text)), c.entries);
    }
}

TEST(autorun_read, decodes_by_byte_order_mark_then_utf8_then_ansi) {
    const std::string expected = "[autorun] open=\xD0\xA4.exe\n";
    std::string le("\xFF\xFE", 2), be("\xFE\xFF", 2);
    for (const char16_t unit : std::u16string(u"[AutoRun]\r\nopen=\u0424.exe\r\n")) {
        le += char(unit & 0xFF), le += char(unit >> 8);
        be += char(unit >> 8), be += char(unit & 0xFF);
    }
    EXPECT_EQ(entries(read(le)), expected);
    EXPECT_EQ(entries(read(be)), expected);
    EXPECT_EQ(entries(read("\xEF\xBB\xBF[autorun]\nopen=\xD0\xA4.exe")), expected);
    EXPECT_EQ(entries(read("[autorun]\nopen=\xD0\xA4.exe")), expected);
    // Not valid UTF-8: Windows-1252.
    EXPECT_EQ(entries(read("[autorun]\nopen=caf\xE9.exe")), "[autorun] open=caf\xC3\xA9.exe\n");
}

TEST(autorun_read, refuses_a_file_over_the_limit_and_leaves_the_result) {
    Autorun autorun;
    autorun.entries.push_back({"autorun", "open", "kept"});
    const std::vector<uint8_t> big(AUTORUN_MAX_BYTES + 1, 'a');
    EXPECT_EQ(autorun_read(std::span<const uint8_t>(big.data(), big.size()), autorun),
              AutorunStatus::too_large);
    ASSERT_EQ(autorun.entries.size(), 1u);
    EXPECT_EQ(autorun.entries[0].value, "kept");
}

TEST(autorun_commands, lists_what_windows_would_start_in_file_order) {
    const Autorun autorun = read("[autorun]\nicon=%SystemRoot%\\system32\\SHELL32.dll,4\n"
                                 "action=Open folder to view files\nshell\\open=Open\n"
                                 "shell\\open\\command=rundll32.exe .\\RECYCLER\\S-1\\j.dll,Run\n"
                                 "shell\\explore\\command=a.exe\nshellexecute=b.exe\nlabel=USB\n"
                                 "shell\\\\command=not a verb\nopen=\n"
                                 "[autorun.amd64]\nopen=c.exe\n");
    const std::vector<std::string> expected = {"rundll32.exe .\\RECYCLER\\S-1\\j.dll,Run", "a.exe",
                                               "b.exe", "c.exe"};
    EXPECT_EQ(autorun_commands(autorun), expected);
}

TEST(autorun_key_runs_command, names_the_keys_that_start_programs) {
    const struct {
        const char* key;
        bool runs;
    } cases[] = {
        {"open", true},
        {"shellexecute", true},
        {"shell\\open\\command", true},
        {"shell\\x y\\command", true},
        {"shell\\open", false},
        {"shell", false},
        {"icon", false},
        {"shell\\\\command", false},
        {"useautoplay", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(autorun_key_runs_command(c.key), c.runs);
    }
}

} // namespace
